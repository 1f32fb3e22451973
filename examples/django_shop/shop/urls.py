from django.urls import path

from . import views

app_name = "shop"

urlpatterns = [
    path("", views.checkout, name="checkout"),
    path("orders/<uuid:reference>/", views.order_page, name="order"),
]
