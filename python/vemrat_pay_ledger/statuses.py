"""A payment's statuses and the transitions that are announced."""

from __future__ import annotations

import enum


class Status(enum.StrEnum):
    CREATING = "creating"  # saved; the request to the service is under way
    UNCONFIRMED = "unconfirmed"  # the answer may hide a stored order: only the service can tell
    PENDING = "pending"  # the order exists and waits for the payer
    PAID = "paid"
    FAILED = "failed"
    EXPIRED = "expired"


FINAL = frozenset({Status.PAID, Status.FAILED, Status.EXPIRED})
OPEN = (Status.CREATING, Status.UNCONFIRMED, Status.PENDING)

# The service's own order goes pending -> one of paid, failed, expired and never further, so
# a reported status ranks: a report of a lower rank is an older answer and changes nothing.
RANK = {Status.CREATING: 0, Status.UNCONFIRMED: 0, Status.PENDING: 1,
        Status.PAID: 2, Status.FAILED: 2, Status.EXPIRED: 2}


class Transition(enum.StrEnum):
    """The changes that are announced, each exactly once, in this order."""

    PAID = "paid"
    FAILED = "failed"
    EXPIRED = "expired"
    SETTLED = "settled"
    REFUNDED = "refunded"


ANNOUNCED = tuple(Transition)
