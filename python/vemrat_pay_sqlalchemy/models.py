"""The tables of the payments: a payment as this shop knows it, and every callback about one.

They live in a MetaData of their own (`Base.metadata`), created by the migrations shipped in
this package (`vemrat_pay_sqlalchemy.migrations`), never by `create_all` in production. The
same classes serve synchronous and asyncio sessions. A shop links its own rows to a payment
by its `reference` (a UUID, unique), or by a foreign key to `vemrat_pay_payment.id` in a
table of the same MetaData.
"""

from __future__ import annotations

import uuid
from datetime import datetime, timezone
from decimal import Decimal

from sqlalchemy import Boolean, DateTime, ForeignKey, Integer, Numeric, String, Text, Uuid
from sqlalchemy.orm import DeclarativeBase, Mapped, mapped_column, relationship


def now() -> datetime:
    return datetime.now(timezone.utc)


class Base(DeclarativeBase):
    pass


class Payment(Base):
    """One payment started by this shop, and the service's order behind it.

    `status` and the settle and refund state are moved only by the ledger, forward only; the
    `service_*` columns hold the service's answer to the last order-status query as it came.
    """

    __tablename__ = "vemrat_pay_payment"

    id: Mapped[int] = mapped_column(Integer, primary_key=True)
    reference: Mapped[uuid.UUID] = mapped_column(Uuid, unique=True, default=uuid.uuid4)
    order_id: Mapped[str | None] = mapped_column(String(128), unique=True)
    amount: Mapped[Decimal] = mapped_column(Numeric(14, 2))
    currency: Mapped[str] = mapped_column(String(3))
    pay_mode: Mapped[str] = mapped_column(String(8), default="split")
    recipient_account: Mapped[str] = mapped_column(String(64), default="")
    callback_url: Mapped[str] = mapped_column(String(500))
    return_url: Mapped[str] = mapped_column(String(500), default="")
    pay_url: Mapped[str] = mapped_column(String(500), default="")

    status: Mapped[str] = mapped_column(String(16), default="creating", index=True)
    status_confirmed: Mapped[bool] = mapped_column(
        Boolean, default=False, doc="Whether the service itself reported the status.")
    settled: Mapped[bool] = mapped_column(Boolean, default=False)
    settle_amount: Mapped[Decimal | None] = mapped_column(Numeric(14, 2))
    refunded: Mapped[bool] = mapped_column(Boolean, default=False)
    fail_reason: Mapped[str] = mapped_column(Text, default="")
    held_order_id: Mapped[str] = mapped_column(
        String(128), default="", index=True,
        doc="An order offered to the payment and held for a person to decide (\"\": none).")
    note: Mapped[str] = mapped_column(Text, default="",
                                      doc="Why the payment is unconfirmed or held.")

    service_pay_status: Mapped[int | None] = mapped_column(Integer)
    service_pay_status_text: Mapped[str] = mapped_column(Text, default="")
    service_settle_status: Mapped[int | None] = mapped_column(Integer)
    service_settle_status_text: Mapped[str] = mapped_column(Text, default="")
    service_refund_status: Mapped[int | None] = mapped_column(Integer)
    service_refund_status_text: Mapped[str] = mapped_column(Text, default="")
    service_amount: Mapped[str] = mapped_column(Text, default="")
    service_settle_amount: Mapped[str] = mapped_column(Text, default="")
    service_expired: Mapped[str] = mapped_column(Text, default="")
    service_fail_reason: Mapped[str] = mapped_column(Text, default="")

    created_at: Mapped[datetime] = mapped_column(DateTime(timezone=True), default=now,
                                                 index=True)
    updated_at: Mapped[datetime] = mapped_column(DateTime(timezone=True), default=now,
                                                 onupdate=now)
    refreshed_at: Mapped[datetime | None] = mapped_column(DateTime(timezone=True))

    callback_events: Mapped[list[CallbackEvent]] = relationship(
        back_populates="payment", passive_deletes=True, order_by="CallbackEvent.id")

    @property
    def needs_review(self) -> bool:
        """Whether an order offered to it is held for a person to decide."""
        return bool(self.held_order_id)

    def __repr__(self) -> str:
        return f"<Payment {self.reference} {self.amount} {self.currency} {self.status}>"


class CallbackEvent(Base):
    """One request to the callback endpoint, recorded before it is acted upon."""

    __tablename__ = "vemrat_pay_callback_event"

    id: Mapped[int] = mapped_column(Integer, primary_key=True)
    payment_id: Mapped[int | None] = mapped_column(
        ForeignKey("vemrat_pay_payment.id", ondelete="SET NULL"), index=True)
    reference: Mapped[uuid.UUID | None] = mapped_column(Uuid)
    body: Mapped[str] = mapped_column(Text, default="",
                                      doc="The body as kept (a bounded prefix if it did not verify).")
    body_length: Mapped[int] = mapped_column(Integer, default=0,
                                             doc="Bytes in the whole body as it arrived.")
    body_sha256: Mapped[str] = mapped_column(String(64), default="",
                                             doc="SHA-256 of the whole body, hexadecimal.")
    signature: Mapped[str] = mapped_column(String(255), default="")
    verified: Mapped[bool] = mapped_column(Boolean, default=False)
    order_id: Mapped[str] = mapped_column(String(128), default="", index=True)
    callback_status: Mapped[str] = mapped_column(String(32), default="")
    outcome: Mapped[str] = mapped_column(String(16), default="received")
    detail: Mapped[str] = mapped_column(Text, default="")
    received_at: Mapped[datetime] = mapped_column(DateTime(timezone=True), default=now,
                                                  index=True)
    processed_at: Mapped[datetime | None] = mapped_column(DateTime(timezone=True))

    payment: Mapped[Payment | None] = relationship(back_populates="callback_events")

    def __repr__(self) -> str:
        return f"<CallbackEvent {self.id} {self.order_id or '?'} {self.outcome}>"
