"""SQLite persistence of orders, seen nonces and callback delivery attempts.

One connection shared by all server threads, guarded by a lock; every public
method is one transaction. A store reopened on the same file keeps its orders
and the nonces it has seen, so a replay is still refused after a restart.
"""

from __future__ import annotations

import sqlite3
import threading
from typing import Callable

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
CREATE TABLE IF NOT EXISTS nonces (
    community_key TEXT NOT NULL,
    nonce TEXT NOT NULL,
    seen TEXT NOT NULL,
    PRIMARY KEY (community_key, nonce)
);
CREATE TABLE IF NOT EXISTS callbacks (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    order_id TEXT NOT NULL REFERENCES orders(order_id),
    url TEXT NOT NULL,
    body TEXT NOT NULL,
    signature TEXT NOT NULL,
    status INTEGER,
    error TEXT NOT NULL,
    sent TEXT NOT NULL
);
"""

_UPDATABLE = ("pay_status", "settle_status", "refund_status", "settle_amount", "fail_reason")


class Store:
    """Orders, nonces and callback records in one SQLite database (a path or ":memory:")."""

    def __init__(self, path: str) -> None:
        self._lock = threading.Lock()
        self._db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self._db.row_factory = sqlite3.Row
        with self._lock:
            self._db.executescript(_SCHEMA)

    def close(self) -> None:
        with self._lock:
            self._db.close()

    def add_order(self, order: dict, nonce: str, seen: str) -> bool:
        """Record the order and its nonce together; False (nothing stored) if the nonce was seen."""
        columns = ", ".join(order)
        marks = ", ".join("?" for _ in order)
        with self._lock:
            self._db.execute("BEGIN IMMEDIATE")
            try:
                if not self._take_nonce(order["community_key"], nonce, seen):
                    self._db.execute("ROLLBACK")
                    return False
                seq = self._db.execute("SELECT COALESCE(MAX(seq), 0) + 1 FROM orders").fetchone()[0]
                self._db.execute(f"INSERT INTO orders ({columns}, seq) VALUES ({marks}, ?)",
                                 (*order.values(), seq))
                self._db.execute("COMMIT")
                return True
            except BaseException:
                self._db.execute("ROLLBACK")
                raise

    def take_nonce(self, community_key: str, nonce: str, seen: str) -> bool:
        """Mark the nonce as seen for this merchant; False if it already was."""
        with self._lock:
            return self._take_nonce(community_key, nonce, seen)

    def _take_nonce(self, community_key: str, nonce: str, seen: str) -> bool:
        cursor = self._db.execute(
            "INSERT OR IGNORE INTO nonces (community_key, nonce, seen) VALUES (?, ?, ?)",
            (community_key, nonce, seen))
        return cursor.rowcount == 1

    def order(self, order_id: str) -> dict | None:
        with self._lock:
            row = self._db.execute("SELECT * FROM orders WHERE order_id = ?",
                                   (order_id,)).fetchone()
        return _order_dict(row) if row is not None else None

    def orders(self) -> list[dict]:
        with self._lock:
            rows = self._db.execute("SELECT * FROM orders ORDER BY seq").fetchall()
        return [_order_dict(row) for row in rows]

    def update_order(self, order_id: str, change: Callable[[dict], dict]) -> dict | None:
        """Apply `change(order) -> changed columns` atomically; the updated order, or None if unknown.

        Exceptions raised by `change` leave the order untouched and propagate.
        """
        with self._lock:
            self._db.execute("BEGIN IMMEDIATE")
            try:
                row = self._db.execute("SELECT * FROM orders WHERE order_id = ?",
                                       (order_id,)).fetchone()
                if row is None:
                    self._db.execute("ROLLBACK")
                    return None
                order = _order_dict(row)
                changed = change(dict(order))
                unknown = set(changed) - set(_UPDATABLE)
                if unknown:
                    raise ValueError(f"columns cannot be changed: {sorted(unknown)}")
                if changed:
                    assignments = ", ".join(f"{name} = ?" for name in changed)
                    self._db.execute(f"UPDATE orders SET {assignments} WHERE order_id = ?",
                                     (*changed.values(), order_id))
                self._db.execute("COMMIT")
            except BaseException:
                self._db.execute("ROLLBACK")
                raise
        order.update(changed)
        return order

    def add_callback(self, order_id: str, url: str, body: str, signature: str,
                     status: int | None, error: str, sent: str) -> None:
        with self._lock:
            self._db.execute(
                "INSERT INTO callbacks (order_id, url, body, signature, status, error, sent) "
                "VALUES (?, ?, ?, ?, ?, ?, ?)", (order_id, url, body, signature, status, error, sent))

    def callbacks(self, order_id: str) -> list[dict]:
        with self._lock:
            rows = self._db.execute(
                "SELECT url, body, signature, status, error, sent FROM callbacks "
                "WHERE order_id = ? ORDER BY id", (order_id,)).fetchall()
        return [dict(row) for row in rows]


def _order_dict(row: sqlite3.Row) -> dict:
    order = dict(row)
    del order["seq"]
    return order
