from django.contrib import admin
from django.urls import include, path

urlpatterns = [
    path("", include("shop.urls")),
    path("vemrat-pay/", include("vemrat_pay_django.urls")),
    path("admin/", admin.site.urls),
]
