"""Payments for Flask applications, on the SQLAlchemy storage.

    from vemrat_pay_flask import VemratPay, start_payment, refresh_payment
"""

from .blueprint import blueprint
from .extension import (VemratPay, current_payments, get_payment, reconcile, refresh_payment,
                        start_payment)

__all__ = ["VemratPay", "blueprint", "current_payments", "get_payment", "reconcile",
           "refresh_payment", "start_payment"]
