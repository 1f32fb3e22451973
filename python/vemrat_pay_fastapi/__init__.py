"""Payments for FastAPI and Starlette applications, on the SQLAlchemy storage.

    from vemrat_pay_fastapi import AsyncPayments, PaymentsDep, install
"""

from .router import PaymentsDep, callback_router, get_payments, install, install_starlette
from .service import AsyncPayments
from .threads import ThreadPool

__all__ = ["AsyncPayments", "PaymentsDep", "ThreadPool", "callback_router", "get_payments",
           "install", "install_starlette"]
