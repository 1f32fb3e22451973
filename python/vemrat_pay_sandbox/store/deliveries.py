"""Callback deliveries and every attempt made at each.

A delivery is one callback body on its way to an order's notify URL. Its state:

    scheduled   an attempt is due at `due` (seconds since 1970)
    delivered   an attempt got a 2xx answer
    failed      every attempt of the retry schedule failed
    dropped     a fault rule swallowed it; only a resend delivers the callback
    held        a fault rule holds it until the order's next delivery has finished
"""

from __future__ import annotations

from collections import defaultdict
from typing import Any

from .database import Database

SCHEDULED, DELIVERED, FAILED, DROPPED, HELD = "scheduled", "delivered", "failed", "dropped", "held"
FINISHED = (DELIVERED, FAILED)


class Deliveries:
    def __init__(self, database: Database) -> None:
        self._database = database

    def add(self, order_id: str, url: str, body: str, signature: str, *, cause: str, state: str,
            due: float | None, created: str) -> int:
        with self._database.transaction() as db:
            cursor = db.execute(
                "INSERT INTO deliveries (order_id, url, body, signature, cause, state, due, created) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                (order_id, url, body, signature, cause, state, due, created))
        assert cursor.lastrowid is not None
        return cursor.lastrowid

    def get(self, delivery_id: int) -> dict[str, Any] | None:
        rows = self._database.query("SELECT * FROM deliveries WHERE id = ?", (delivery_id,))
        return dict(rows[0]) if rows else None

    def latest(self, order_id: str) -> dict[str, Any] | None:
        rows = self._database.query(
            "SELECT * FROM deliveries WHERE order_id = ? ORDER BY id DESC LIMIT 1", (order_id,))
        return dict(rows[0]) if rows else None

    def record_attempt(self, delivery_id: int, *, status: int | None, error: str, sent: str,
                       state: str, due: float | None) -> int:
        """Add the attempt and move the delivery to `state`; the attempt's number, from 1."""
        with self._database.transaction() as db:
            number: int = db.execute("SELECT COUNT(*) + 1 FROM attempts WHERE delivery_id = ?",
                                     (delivery_id,)).fetchone()[0]
            db.execute("INSERT INTO attempts (delivery_id, number, status, error, sent) "
                       "VALUES (?, ?, ?, ?, ?)", (delivery_id, number, status, error, sent))
            db.execute("UPDATE deliveries SET state = ?, due = ? WHERE id = ?",
                       (state, due, delivery_id))
        return number

    def attempts_made(self, delivery_id: int, *, not_counting: str) -> int:
        """The delivery's attempts so far, but for those whose error is `not_counting`."""
        rows = self._database.query(
            "SELECT COUNT(*) FROM attempts WHERE delivery_id = ? AND error != ?",
            (delivery_id, not_counting))
        count: int = rows[0][0]
        return count

    def release_held(self, order_id: str, *, before: int, due: float) -> list[int]:
        """Schedule at `due` the order's deliveries held since before delivery `before`; their ids."""
        with self._database.transaction() as db:
            ids = [row[0] for row in db.execute(
                "SELECT id FROM deliveries WHERE order_id = ? AND state = ? AND id < ? ORDER BY id",
                (order_id, HELD, before))]
            db.executemany("UPDATE deliveries SET state = ?, due = ? WHERE id = ?",
                           [(SCHEDULED, due, delivery_id) for delivery_id in ids])
        return ids

    def scheduled(self) -> list[tuple[int, str, float]]:
        """(id, order id, due) of every delivery waiting for an attempt."""
        rows = self._database.query(
            "SELECT id, order_id, due FROM deliveries WHERE state = ? ORDER BY id", (SCHEDULED,))
        return [(row[0], row[1], row[2]) for row in rows]

    def of_order(self, order_id: str) -> list[dict[str, Any]]:
        """The order's deliveries, oldest first, each with its attempts."""
        return self._with_attempts("WHERE d.order_id = ?", (order_id,)).get(order_id, [])

    def by_order(self) -> dict[str, list[dict[str, Any]]]:
        """Every order's deliveries, as `of_order` gives them."""
        return self._with_attempts("", ())

    def _with_attempts(self, where: str, parameters: tuple[object, ...]
                       ) -> dict[str, list[dict[str, Any]]]:
        rows = self._database.query(
            "SELECT d.*, a.number, a.status, a.error, a.sent FROM deliveries d "
            f"LEFT JOIN attempts a ON a.delivery_id = d.id {where} ORDER BY d.id, a.number",
            parameters)
        found: dict[str, list[dict[str, Any]]] = defaultdict(list)
        by_id: dict[int, dict[str, Any]] = {}
        for row in rows:
            delivery = by_id.get(row["id"])
            if delivery is None:
                delivery = {"id": row["id"], "url": row["url"], "body": row["body"],
                            "signature": row["signature"], "cause": row["cause"],
                            "state": row["state"], "created": row["created"],
                            "status": None, "error": "", "sent": "", "attempts": []}
                by_id[row["id"]] = delivery
                found[row["order_id"]].append(delivery)
            if row["number"] is not None:
                attempt = {"attempt": row["number"], "status": row["status"],
                           "error": row["error"], "sent": row["sent"]}
                delivery["attempts"].append(attempt)
                # The delivery's own status, error and time are those of its latest attempt.
                delivery.update(status=row["status"], error=row["error"], sent=row["sent"])
        return dict(found)
