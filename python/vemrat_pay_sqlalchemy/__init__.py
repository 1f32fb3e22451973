"""Payments on SQLAlchemy 2.0 for shops without Django: storage, migrations, the service.

    from vemrat_pay_sqlalchemy import Payments, PaymentsConfig
    from vemrat_pay_sqlalchemy.migrations import upgrade

    upgrade(engine)                                   # the payments' tables
    payments = Payments(PaymentsConfig.from_env(), engine)

Every decision about money is the ledger's (`vemrat_pay_ledger`); this package stores it
(`store`), announces it (`events`) and configures it (`config`). FastAPI and Flask build on
it: `vemrat_pay_fastapi`, `vemrat_pay_flask`.
"""

from .config import MissingKeys, PaymentsConfig
from .events import Announcement, PaymentEvents
from .models import Base, CallbackEvent, Payment
from .service import CallbackAnswer, MissingBaseURL, Payments, Summary
from .store import SqlAlchemyStore

__all__ = ["Announcement", "Base", "CallbackAnswer", "CallbackEvent", "MissingBaseURL",
           "MissingKeys", "Payment", "PaymentEvents", "Payments", "PaymentsConfig",
           "SqlAlchemyStore", "Summary"]
