"""The shop's own table, a receipt per paid payment, and the receiver that issues it."""

from __future__ import annotations

import uuid
from datetime import datetime, timezone
from decimal import Decimal

from sqlalchemy import DateTime, Numeric, String, Uuid, select
from sqlalchemy.ext.asyncio import AsyncSession, async_sessionmaker
from sqlalchemy.orm import DeclarativeBase, Mapped, mapped_column
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
    """Issues a receipt when a payment is paid (the payments service announces it once)."""

    def __init__(self, sessions: async_sessionmaker[AsyncSession]) -> None:
        self.sessions = sessions

    async def issue(self, payment: Payment) -> None:
        async with self.sessions.begin() as session:
            session.add(Receipt(payment_reference=payment.reference, amount=payment.amount,
                                currency=payment.currency, issued=datetime.now(timezone.utc)))

    async def of(self, reference: uuid.UUID) -> Receipt | None:
        async with self.sessions() as session:
            found: Receipt | None = (await session.scalars(
                select(Receipt).where(Receipt.payment_reference == reference))).first()
            return found
