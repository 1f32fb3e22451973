import socket

from django.apps import AppConfig
from django.conf import settings


class ShopConfig(AppConfig):
    name = "shop"
    default_auto_field = "django.db.models.BigAutoField"

    def ready(self) -> None:
        # vemrat_pay sets no timeout of its own: urllib waits as long as the process-wide
        # socket default allows, which is forever unless it is set.
        socket.setdefaulttimeout(settings.VEMRAT_PAY_TIMEOUT)
        from . import payments  # noqa: F401  (connects its setting_changed receiver)
