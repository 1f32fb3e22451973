from django.apps import AppConfig


class ShopConfig(AppConfig):
    name = "shop"
    default_auto_field = "django.db.models.BigAutoField"

    def ready(self) -> None:
        from . import receipts  # noqa: F401  (connects the payment_paid receiver)
