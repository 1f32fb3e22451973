"""python -m shop.migrate: the payments' tables (their shipped migrations) and the shop's own."""

from __future__ import annotations

from sqlalchemy import create_engine
from vemrat_pay_sqlalchemy.migrations import upgrade

from . import settings
from .receipts import ShopBase


def migrate() -> None:
    engine = create_engine(settings.database_url())
    upgrade(engine)
    ShopBase.metadata.create_all(engine)
    engine.dispose()


if __name__ == "__main__":
    migrate()
