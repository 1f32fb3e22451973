"""One page of orders as the dashboard lists them: filtered, newest first, each with a summary
of its callback deliveries."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

from .. import states
from .database import Database
from .deliveries import DELIVERED, DROPPED, FAILED, HELD, SCHEDULED

_LATEST_DELIVERY_STATE = ("(SELECT d.state FROM deliveries d WHERE d.order_id = o.order_id "
                          "ORDER BY d.id DESC LIMIT 1)")

# What each state of the filter selects: an order's payment, settlement or refund state, or
# the state of its latest callback delivery.
STATE_CONDITIONS: dict[str, tuple[str, tuple[object, ...]]] = {
    **{text: ("o.pay_status = ?", (code,)) for code, text in states.PAY_STATUS_TEXT.items()},
    "settled": ("o.settle_status = ?", (states.SETTLE_DONE,)),
    "refunded": ("o.refund_status = ?", (states.REFUND_DONE,)),
    **{f"callback-{state}": (f"{_LATEST_DELIVERY_STATE} = ?", (state,))
       for state in (SCHEDULED, DELIVERED, FAILED, DROPPED, HELD)},
}


@dataclass(frozen=True)
class OrderFilter:
    """Orders of `merchant` (any when None), in `state` (a key of STATE_CONDITIONS, any when
    None), whose id or notify or return URL contains `text` (ASCII letters in any case)."""

    merchant: str | None = None
    state: str | None = None
    text: str = ""

    def where(self) -> tuple[str, tuple[object, ...]]:
        conditions: list[str] = []
        parameters: list[object] = []
        if self.merchant is not None:
            conditions.append("o.community_key = ?")
            parameters.append(self.merchant)
        if self.state is not None:
            condition, values = STATE_CONDITIONS[self.state]
            conditions.append(condition)
            parameters.extend(values)
        if self.text:
            pattern = "%" + _escape_like(self.text) + "%"
            conditions.append("(o.order_id LIKE ? ESCAPE '\\' OR o.user_notify_url LIKE ? ESCAPE '\\' "
                              "OR o.return_url LIKE ? ESCAPE '\\')")
            parameters.extend((pattern, pattern, pattern))
        return ("WHERE " + " AND ".join(conditions) if conditions else ""), tuple(parameters)


@dataclass(frozen=True)
class OrderPage:
    orders: list[dict[str, Any]]
    # Every order the filter selects, on this page or another.
    total: int


class Listing:
    def __init__(self, database: Database) -> None:
        self._database = database

    def page(self, selected: OrderFilter, offset: int, limit: int) -> OrderPage:
        """Up to `limit` orders from the `offset`-th newest one the filter selects. Each order
        has "callbacks" (how many deliveries), "attempts" (how many attempts in all) and
        "callback_state" (the latest delivery's state, "" without one)."""
        where, parameters = selected.where()
        with self._database.lock:
            db = self._database.connection
            total: int = db.execute(f"SELECT COUNT(*) FROM orders o {where}", parameters).fetchone()[0]
            rows = db.execute(f"SELECT o.* FROM orders o {where} ORDER BY o.seq DESC LIMIT ? OFFSET ?",
                              (*parameters, limit, offset)).fetchall()
            orders = {row["order_id"]: {**dict(row), "callbacks": 0, "attempts": 0,
                                        "callback_state": ""} for row in rows}
            marks = ", ".join("?" for _ in orders)
            summaries = db.execute(
                "SELECT d.order_id, d.state, (SELECT COUNT(*) FROM attempts a WHERE a.delivery_id = d.id) "
                f"FROM deliveries d WHERE d.order_id IN ({marks}) ORDER BY d.id", tuple(orders)
            ).fetchall() if orders else []
        for order_id, state, attempts in summaries:
            order = orders[order_id]
            order["callbacks"] += 1
            order["attempts"] += attempts
            order["callback_state"] = state
        for order in orders.values():
            del order["seq"]
        return OrderPage(list(orders.values()), total)


def _escape_like(text: str) -> str:
    return text.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_")
