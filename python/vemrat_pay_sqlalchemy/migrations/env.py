"""Alembic's environment for the payments' tables: the engine comes from `upgrade`."""

from __future__ import annotations

from alembic import context
from sqlalchemy import Engine

from vemrat_pay_sqlalchemy.migrations import VERSION_TABLE
from vemrat_pay_sqlalchemy.models import Base

engine = context.config.attributes["engine"]
assert isinstance(engine, Engine)

with engine.connect() as connection:
    context.configure(connection=connection, target_metadata=Base.metadata,
                      version_table=VERSION_TABLE, render_as_batch=True)
    with context.begin_transaction():
        context.run_migrations()
    connection.commit()
