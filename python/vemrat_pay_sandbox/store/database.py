"""The one SQLite connection, its lock and the schema."""

from __future__ import annotations

import sqlite3
import threading
from collections.abc import Iterator
from contextlib import contextmanager

_SCHEMA = """
CREATE TABLE IF NOT EXISTS orders (
    order_id TEXT PRIMARY KEY,
    community_key TEXT NOT NULL,
    amount TEXT NOT NULL,
    currency TEXT NOT NULL,
    recipient_account TEXT NOT NULL,
    user_notify_url TEXT NOT NULL,
    pay_mode TEXT NOT NULL,
    return_url TEXT NOT NULL,
    pay_status INTEGER NOT NULL,
    settle_status INTEGER NOT NULL,
    refund_status INTEGER NOT NULL,
    settle_amount TEXT NOT NULL,
    fail_reason TEXT NOT NULL,
    created TEXT NOT NULL,
    expired TEXT NOT NULL,
    seq INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS orders_by_seq ON orders (seq);
CREATE TABLE IF NOT EXISTS nonces (
    community_key TEXT NOT NULL,
    nonce TEXT NOT NULL,
    seen TEXT NOT NULL,
    PRIMARY KEY (community_key, nonce)
);
CREATE TABLE IF NOT EXISTS deliveries (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    order_id TEXT NOT NULL REFERENCES orders(order_id),
    url TEXT NOT NULL,
    body TEXT NOT NULL,
    signature TEXT NOT NULL,
    cause TEXT NOT NULL,
    state TEXT NOT NULL,
    due REAL,
    created TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS deliveries_by_order ON deliveries (order_id);
CREATE TABLE IF NOT EXISTS attempts (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    delivery_id INTEGER NOT NULL REFERENCES deliveries(id),
    number INTEGER NOT NULL,
    status INTEGER,
    error TEXT NOT NULL,
    sent TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS attempts_by_delivery ON attempts (delivery_id);
"""


class Database:
    """A connection to a path or ":memory:", usable from any thread one at a time."""

    def __init__(self, path: str) -> None:
        self.lock = threading.Lock()
        self.connection = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self.connection.row_factory = sqlite3.Row
        with self.lock:
            self.connection.executescript(_SCHEMA)

    def close(self) -> None:
        with self.lock:
            self.connection.close()

    @contextmanager
    def transaction(self) -> Iterator[sqlite3.Connection]:
        """Holds the lock for one immediate transaction, rolled back if the block raises."""
        with self.lock:
            self.connection.execute("BEGIN IMMEDIATE")
            try:
                yield self.connection
            except BaseException:
                self.connection.execute("ROLLBACK")
                raise
            self.connection.execute("COMMIT")

    def changes(self) -> int:
        """Rows written since the connection opened: a new value after every change."""
        with self.lock:
            return self.connection.total_changes

    def query(self, sql: str, parameters: tuple[object, ...] = ()) -> list[sqlite3.Row]:
        with self.lock:
            return self.connection.execute(sql, parameters).fetchall()
