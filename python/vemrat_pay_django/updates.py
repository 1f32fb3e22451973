"""The errors of bringing a payment up to date (the decisions themselves are the ledger's)."""

from vemrat_pay_ledger.ledger import OrderMismatch, ReferenceConflict

__all__ = ["OrderMismatch", "ReferenceConflict"]
