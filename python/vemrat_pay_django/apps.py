from __future__ import annotations

import socket
from typing import TYPE_CHECKING

from django.apps import AppConfig

if TYPE_CHECKING:
    from vemrat_pay_keepalive import ConnectionPool


class VemratPayConfig(AppConfig):
    name = "vemrat_pay_django"
    label = "vemrat_pay"
    verbose_name = "Vemrat Pay"
    default_auto_field = "django.db.models.BigAutoField"
    # The keep-alive opener's pool, when KEEP_ALIVE installed it.
    connection_pool: ConnectionPool | None = None

    def ready(self) -> None:
        # Process-wide configuration at start-up, read from VEMRAT_PAY.
        from . import checks, client  # noqa: F401  (registers the checks and the receivers)
        from .conf import get_setting, is_socket_timeout

        timeout = get_setting("SOCKET_TIMEOUT")
        # vemrat_pay has no timeout of its own: urllib waits as long as this allows. A value
        # of the wrong kind is left to the system checks to report.
        if is_socket_timeout(timeout):
            socket.setdefaulttimeout(timeout)
        if get_setting("KEEP_ALIVE"):
            import vemrat_pay_keepalive

            self.connection_pool = vemrat_pay_keepalive.install()
