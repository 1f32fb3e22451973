"""The app's URLs: `path("vemrat-pay/", include("vemrat_pay_django.urls"))`."""

from django.urls import path

from . import views

app_name = "vemrat_pay"

urlpatterns = [
    path("callback/<uuid:reference>/", views.callback, name="callback"),
]
