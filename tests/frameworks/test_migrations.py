"""The shipped migrations: they make exactly the tables of the models, on SQLite and
PostgreSQL, keep a version table of their own beside a shop's Alembic history, and go back."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

from alembic.autogenerate import compare_metadata
from alembic.migration import MigrationContext
from sqlalchemy import Engine, create_engine, inspect, text
from vemrat_pay_sqlalchemy.migrations import VERSION_TABLE, downgrade, upgrade
from vemrat_pay_sqlalchemy.models import Base


def test_the_migrated_tables_are_the_models(engine: Engine) -> None:
    with engine.connect() as connection:
        context = MigrationContext.configure(connection, opts={"version_table": VERSION_TABLE})
        assert compare_metadata(context, Base.metadata) == []


def test_a_shops_own_history_is_left_alone_and_downgrade_removes_the_tables(
        tmp_path: Path) -> None:
    engine = create_engine(f"sqlite:///{tmp_path / 'shop.sqlite3'}")
    with engine.begin() as connection:  # the shop's own Alembic history, at its revision
        connection.execute(text("CREATE TABLE alembic_version (version_num VARCHAR(32))"))
        connection.execute(text("INSERT INTO alembic_version VALUES ('shop0042')"))
    upgrade(engine)
    with engine.connect() as connection:
        assert connection.execute(text("SELECT version_num FROM alembic_version")).all() == [
            ("shop0042",)]
        assert connection.execute(text(f"SELECT version_num FROM {VERSION_TABLE}")).all() == [
            ("0001",)]
    downgrade(engine, "base")
    assert set(inspect(engine).get_table_names()) == {"alembic_version", VERSION_TABLE}


def test_the_command_migrates_a_database(tmp_path: Path) -> None:
    url = f"sqlite:///{tmp_path / 'cli.sqlite3'}"
    result = subprocess.run([sys.executable, "-m", "vemrat_pay_sqlalchemy.migrations", "upgrade",
                             url], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert {"vemrat_pay_payment", "vemrat_pay_callback_event"} <= set(
        inspect(create_engine(url)).get_table_names())
