"""The shop's settings, from the environment (the keys too: never in the code or the repository)."""

from __future__ import annotations

import os
from pathlib import Path

from sqlalchemy.engine import make_url
from vemrat_pay_sqlalchemy import PaymentsConfig

HERE = Path(__file__).resolve().parent.parent


def database_url() -> str:
    return os.environ.get("SHOP_DATABASE_URL", f"sqlite:///{HERE / 'shop.sqlite3'}")


def async_database_url() -> str:
    """The same database for asyncio sessions (psycopg serves both; SQLite needs aiosqlite)."""
    url = make_url(database_url())
    if url.drivername == "sqlite":
        url = url.set(drivername="sqlite+aiosqlite")
    elif url.drivername in ("postgresql", "postgresql+psycopg2"):
        url = url.set(drivername="postgresql+psycopg")
    return url.render_as_string(hide_password=False)


def payments_config() -> PaymentsConfig:
    """VEMRAT_PAY_COMMUNITY_KEY, VEMRAT_PAY_SPONSOR_KEY (required), VEMRAT_PAY_CALLBACK_BASE_URL,
    VEMRAT_PAY_SOCKET_TIMEOUT (15 s unless set)."""
    return PaymentsConfig.from_env(socket_timeout=float(os.environ.get("VEMRAT_PAY_SOCKET_TIMEOUT", "15")))
