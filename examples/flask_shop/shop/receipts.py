"""The shop's own table, a receipt per paid payment, issued by the payment_paid receiver."""

from __future__ import annotations

import uuid
from datetime import datetime, timezone
from decimal import Decimal

from sqlalchemy import DateTime, Engine, Numeric, String, Uuid, select
from sqlalchemy.orm import DeclarativeBase, Mapped, mapped_column, sessionmaker
from vemrat_pay_sqlalchemy import Payment


class ShopBase(DeclarativeBase):
    pass


class Receipt(ShopBase):
    __tablename__ = "shop_receipt"

    id: Mapped[int] = mapped_column(primary_key=True)
    payment_reference: Mapped[uuid.UUID] = mapped_column(Uuid, unique=True)
    amount: Mapped[Decimal] = mapped_column(Numeric(14, 2))
    currency: Mapped[str] = mapped_column(String(3))
    issued: Mapped[datetime] = mapped_column(DateTime(timezone=True))


class Receipts:
    def __init__(self, engine: Engine) -> None:
        self.sessions = sessionmaker(engine, expire_on_commit=False)

    def issue(self, payment: Payment) -> None:
        with self.sessions.begin() as session:
            session.add(Receipt(payment_reference=payment.reference, amount=payment.amount,
                                currency=payment.currency, issued=datetime.now(timezone.utc)))

    def of(self, reference: uuid.UUID) -> Receipt | None:
        with self.sessions() as session:
            return session.scalars(
                select(Receipt).where(Receipt.payment_reference == reference)).first()
