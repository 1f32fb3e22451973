"""Orders and the nonces merchants have used."""

from __future__ import annotations

import sqlite3
from typing import Any, Callable

from .database import Database
from .deliveries import Deliveries
from .listing import Listing

_UPDATABLE = ("pay_status", "settle_status", "refund_status", "settle_amount", "fail_reason")


class Store:
    """Orders, nonces and callback deliveries in one SQLite database (a path or ":memory:")."""

    def __init__(self, path: str) -> None:
        self._database = Database(path)
        self.deliveries = Deliveries(self._database)
        self.listing = Listing(self._database)

    def close(self) -> None:
        self._database.close()

    def changes(self) -> int:
        """A number that differs after every change to orders, nonces or deliveries."""
        return self._database.changes()

    def add_order(self, order: dict[str, Any], nonce: str, seen: str) -> bool:
        """Record the order and its nonce together; False (nothing stored) if the nonce was seen."""
        columns = ", ".join(order)
        marks = ", ".join("?" for _ in order)
        with self._database.transaction() as db:
            if not _take_nonce(db, order["community_key"], nonce, seen):
                return False
            seq = db.execute("SELECT COALESCE(MAX(seq), 0) + 1 FROM orders").fetchone()[0]
            db.execute(f"INSERT INTO orders ({columns}, seq) VALUES ({marks}, ?)",
                       (*order.values(), seq))
        return True

    def take_nonce(self, community_key: str, nonce: str, seen: str) -> bool:
        """Mark the nonce as seen for this merchant; False if it already was."""
        with self._database.lock:
            return _take_nonce(self._database.connection, community_key, nonce, seen)

    def order(self, order_id: str) -> dict[str, Any] | None:
        rows = self._database.query("SELECT * FROM orders WHERE order_id = ?", (order_id,))
        return _order_dict(rows[0]) if rows else None

    def orders(self) -> list[dict[str, Any]]:
        return [_order_dict(row) for row in self._database.query("SELECT * FROM orders ORDER BY seq")]

    def update_order(self, order_id: str,
                     change: Callable[[dict[str, Any]], dict[str, Any]]) -> dict[str, Any] | None:
        """Apply `change(order) -> changed columns` atomically; the updated order, or None if unknown.

        Exceptions raised by `change` leave the order untouched and propagate.
        """
        with self._database.transaction() as db:
            row = db.execute("SELECT * FROM orders WHERE order_id = ?", (order_id,)).fetchone()
            if row is None:
                return None
            order = _order_dict(row)
            changed = change(dict(order))
            unknown = set(changed) - set(_UPDATABLE)
            if unknown:
                raise ValueError(f"columns cannot be changed: {sorted(unknown)}")
            if changed:
                assignments = ", ".join(f"{name} = ?" for name in changed)
                db.execute(f"UPDATE orders SET {assignments} WHERE order_id = ?",
                           (*changed.values(), order_id))
        order.update(changed)
        return order


def _take_nonce(db: sqlite3.Connection, community_key: str, nonce: str, seen: str) -> bool:
    cursor = db.execute("INSERT OR IGNORE INTO nonces (community_key, nonce, seen) VALUES (?, ?, ?)",
                        (community_key, nonce, seen))
    return cursor.rowcount == 1


def _order_dict(row: sqlite3.Row) -> dict[str, Any]:
    order = dict(row)
    del order["seq"]
    return order
