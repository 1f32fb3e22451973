"""The Alembic migrations of the payments' tables, shipped with the package.

    from vemrat_pay_sqlalchemy.migrations import upgrade
    upgrade(engine)              # or a URL; run at deployment, before the app serves

or from a shell: `python -m vemrat_pay_sqlalchemy.migrations upgrade DATABASE_URL`.

They keep their own version table, `vemrat_pay_alembic_version`, so they live beside the
shop's own Alembic history in the same database without touching it.
"""

from __future__ import annotations

from pathlib import Path

from alembic import command
from alembic.config import Config
from sqlalchemy import Engine, create_engine

VERSION_TABLE = "vemrat_pay_alembic_version"
DIRECTORY = Path(__file__).resolve().parent


def alembic_config(engine: Engine) -> Config:
    config = Config()
    config.set_main_option("script_location", str(DIRECTORY))
    config.attributes["engine"] = engine
    return config


def upgrade(engine: Engine | str, revision: str = "head") -> None:
    """Brings the payments' tables to `revision` (the newest by default)."""
    engine = create_engine(engine) if isinstance(engine, str) else engine
    command.upgrade(alembic_config(engine), revision)


def downgrade(engine: Engine | str, revision: str) -> None:
    engine = create_engine(engine) if isinstance(engine, str) else engine
    command.downgrade(alembic_config(engine), revision)
