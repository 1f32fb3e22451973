from django.contrib import admin
from django.urls import include, path

urlpatterns = [
    path("admin/", admin.site.urls),
    path("vemrat-pay/", include("vemrat_pay_django.urls")),
]
