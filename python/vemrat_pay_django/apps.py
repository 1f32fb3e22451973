import socket

from django.apps import AppConfig


class VemratPayConfig(AppConfig):
    name = "vemrat_pay_django"
    label = "vemrat_pay"
    verbose_name = "Vemrat Pay"
    default_auto_field = "django.db.models.BigAutoField"

    def ready(self) -> None:
        # Process-wide configuration at start-up, read from VEMRAT_PAY.
        from . import checks, client  # noqa: F401  (registers the checks and the receivers)
        from .conf import get_setting

        timeout = get_setting("SOCKET_TIMEOUT")
        if timeout is not None:
            # vemrat_pay has no timeout of its own: urllib waits as long as this allows.
            socket.setdefaulttimeout(timeout)
