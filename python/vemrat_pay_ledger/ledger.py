"""The ledger's operations on a store: start a payment, refresh it, act on a callback.

Every change is decided by the functions of this package under the payment's lock
(`PaymentStore.update`); the service is asked first, outside any transaction, so that two
workers that meet (two deliveries of a callback, a callback and a reconcile) take turns and
the second finds nothing left to change.
"""

from __future__ import annotations

import logging
import uuid
from collections.abc import Callable, Iterable, Iterator, Mapping
from dataclasses import dataclass, field
from decimal import Decimal
from functools import partial

from . import status_codes
from .adoption import Evidence, Verdict, decide_adoption
from .amounts import check_currency, checked_amount
from .callbacks import SIGNATURE_LIMIT, UNVERIFIED_BODY_LIMIT, Outcome, storable, stored_body
from .create_outcomes import Classified, CreatedOrder, CreateOutcome, classify_error, classify_result
from .service import ServiceClient
from .statuses import Status, Transition
from .storage import (Candidates, CallbackRecord, Decision, DuplicateReference, NewPayment,
                      PaymentRecord, PaymentStore)
from .transitions import OrderReport, Standing, plan, read_report

PAY_MODES = ("split", "direct")


class OrderMismatch(Exception):
    """The service's order is not the one of this payment (another order id or amount)."""


class ReferenceConflict(ValueError):
    """A payment was already started under this reference with other parameters."""


@dataclass(frozen=True)
class Refreshed:
    payment: PaymentRecord
    outcome: str  # "changed", "unchanged", "held", "no order id" or "failed"
    detail: str = ""
    callback_outcome: Outcome = Outcome.UNCHANGED  # what a callback that brought it is recorded as


@dataclass(frozen=True)
class Handled:
    outcome: Outcome
    detail: str


@dataclass
class Ledger:
    store: PaymentStore
    client: Callable[[], ServiceClient]  # may raise: the shop's keys may be unreadable
    status_codes: status_codes.Overrides = field(default_factory=dict)
    decimal_places: Mapping[str, int] = field(default_factory=dict)
    logger: logging.Logger = field(default_factory=lambda: logging.getLogger("vemrat_pay_ledger"))

    # -- starting a payment -------------------------------------------------------------------

    def check_arguments(self, amount: object, currency: object, recipient_account: object,
                        pay_mode: object) -> Decimal:
        """The checked amount; TypeError or ValueError for an argument the service could not
        take, before anything is saved."""
        check_currency(currency)
        assert isinstance(currency, str)
        value = checked_amount(amount, currency, self.decimal_places)
        if pay_mode not in PAY_MODES:
            raise ValueError(f"pay_mode must be one of {', '.join(PAY_MODES)}, not {pay_mode!r}")
        if not isinstance(recipient_account, str):
            raise TypeError(f"recipient_account must be a str, not {type(recipient_account).__name__}")
        recipient_account.encode("utf-8")  # a lone surrogate: UnicodeEncodeError, a ValueError
        return value

    def start(self, new: NewPayment) -> PaymentRecord:
        """Save the payment, then ask the service to create its order; the payment as it ends.

        The same reference again returns the payment already started under it, unless the
        parameters differ: ReferenceConflict, and nothing is created. Nothing else escapes:
        how the create call ended is classified (`create_outcomes`) and recorded.
        """
        existing = self.store.find(new.reference)
        if existing is None:
            try:
                return self._create(self.store.insert(new))
            except DuplicateReference:  # started at the same time elsewhere
                existing = self.store.find(new.reference)
                assert existing is not None
        check_same_parameters(existing, new)
        return existing

    def _create(self, payment: PaymentRecord) -> PaymentRecord:
        try:
            client = self.client()
        except Exception as error:  # nothing was sent: no order can exist
            classified = Classified(CreateOutcome.REFUSED, f"{type(error).__name__}: {error}")
        else:
            try:
                result = client.create_payment(
                    float(payment.amount), payment.currency, payment.recipient_account,
                    payment.callback_url, payment.pay_mode, payment.return_url or None)
            except Exception as error:
                classified = classify_error(error)
            else:
                classified = classify_result(result)
        if classified.outcome == CreateOutcome.CREATED:
            decide = partial(decide_created, result)
        elif classified.outcome == CreateOutcome.REFUSED:
            decide = partial(decide_refused, classified.detail)
        else:
            self.logger.warning("payment %s is unconfirmed: %s", payment.reference, classified.detail)
            decide = partial(decide_unconfirmed, classified.detail)
        stored, _ = self.store.update(payment.reference, decide)
        return stored

    # -- the service's reports ----------------------------------------------------------------

    def query(self, order_id: str) -> OrderReport:
        """The service's state of the order. An answer about another order (or none: the module
        reads a missing order_id as "") is an error of the service, like any other."""
        report = self.client().query_order(order_id)
        if report.order_id != order_id:
            raise RuntimeError(f"the service answered about order {report.order_id!r}, "
                               f"not {order_id!r}")
        return report

    def refresh(self, reference: uuid.UUID) -> Refreshed:
        """Ask the service about the payment's order and apply the answer.

        A payment whose order id never arrived is looked up under the order it is held for,
        or else that of its latest verified callback. The service's errors and OrderMismatch
        reach the caller."""
        payment = self.store.find(reference)
        if payment is None:
            raise LookupError(f"no payment has the reference {reference}")
        order_id = (payment.order_id or payment.held_order_id
                    or self.store.latest_verified_order_id(reference))
        if not order_id:
            return Refreshed(payment, "no order id", "only a callback can tell which order is its")
        return self.apply_report(reference, self.query(order_id))

    def assign_held_order(self, reference: uuid.UUID) -> Refreshed:
        """A person's decision that the order a payment is held for is its own: the payment
        takes it if the amounts agree and no other payment holds it (OrderMismatch
        otherwise), however many others could have owned it."""
        payment = self.store.find(reference)
        if payment is None or not payment.held_order_id:
            raise LookupError(f"payment {reference} is not held for review")
        return self.apply_report(reference, self.query(payment.held_order_id), assigned=True)

    def apply_report(self, reference: uuid.UUID, report: OrderReport, *,
                     assigned: bool = False) -> Refreshed:
        stored, decision = self.store.update(reference,
                                             partial(self._decide_report, report, assigned))
        if decision.outcome == Outcome.HELD:
            return Refreshed(stored, "held", decision.description, Outcome.HELD)
        return Refreshed(stored, "changed" if decision.description else "unchanged",
                         decision.description, decision.outcome)

    def _decide_report(self, report: OrderReport, assigned: bool, payment: PaymentRecord,
                       candidates: Candidates) -> Decision:
        changes: dict[str, object] = {}
        described: list[str] = []
        if not payment.order_id:
            holder = (candidates.holder_of(report.order_id, other_than=payment.reference)
                      if report.order_id else None)
            adoption = decide_adoption(Evidence(
                report.order_id, report.amount, payment.amount,
                None if holder is None else str(holder),
                () if assigned else tuple(str(rival) for rival in candidates.rivals(payment))))
            if adoption.verdict == Verdict.REFUSE and payment.held_order_id == report.order_id:
                # The order the payment was held for is now known not to be its own.
                return Decision({"held_order_id": "", "note": adoption.reason},
                                outcome=Outcome.MISMATCH,
                                description=f"hold released: {adoption.reason}")
            if adoption.verdict == Verdict.REFUSE:
                raise OrderMismatch(adoption.reason)
            if adoption.verdict == Verdict.HOLD:
                newly = payment.held_order_id != report.order_id
                if newly:
                    self.logger.warning("payment %s held for review: %s", payment.reference,
                                        adoption.reason)
                return Decision({"held_order_id": report.order_id, "note": adoption.reason},
                                held=newly, outcome=Outcome.HELD,
                                description=f"held for review: {adoption.reason}")
            changes.update(order_id=report.order_id, held_order_id="", note="")
            described.append(adoption.reason)
        elif payment.order_id != report.order_id:
            raise OrderMismatch(f"order {report.order_id} is not {payment.order_id}")
        reported = read_report(report, self.status_codes)
        for unknown in reported.unknown_codes:
            self.logger.warning("order %s: unknown %s (see the status-code map)",
                                report.order_id, unknown)
        planned = plan(standing(payment), reported)
        changes.update(planned.changes)
        described.extend(planned.describe(payment.status))
        return Decision(changes, report, planned.transitions,
                        outcome=Outcome.CHANGED if described else Outcome.UNCHANGED,
                        description=", ".join(described))

    def reconcile(self, references: Iterable[uuid.UUID]) -> Iterator[Refreshed]:
        """Refresh each payment; a failure is reported and the next one goes on."""
        for reference in references:
            try:
                yield self.refresh(reference)
            except Exception as error:  # the service's, the store's, or OrderMismatch
                payment = self.store.find(reference)
                assert payment is not None
                yield Refreshed(payment, "failed", f"{type(error).__name__}: {error}")

    # -- callbacks -----------------------------------------------------------------------------

    def handle_callback(self, reference: uuid.UUID, body: bytes, signature: str) -> Handled:
        """Verify, record and act on one callback request.

        Whatever the store raises while recording the request reaches the caller, which
        answers 503 so that the service delivers it again."""
        try:
            client = self.client()
        except Exception as error:
            return self._record_unverified(reference, body, signature, Outcome.UNVERIFIABLE,
                                           f"the shop's keys cannot be used: {type(error).__name__}: {error}")
        try:
            fields = client.verify_callback(body.decode("utf-8"), signature)
        except (RuntimeError, UnicodeError) as error:
            return self._record_unverified(reference, body, signature, Outcome.REFUSED, str(error))
        key = self.store.record_callback(CallbackRecord(
            reference, stored_body(body, None), signature[:SIGNATURE_LIMIT], True,
            order_id=fields.get("order_id", "")[:128], callback_status=fields.get("status", "")[:32]))
        try:
            handled = self._act(reference, fields.get("order_id", ""))
        except Exception as error:  # the shop's own storage failed while acting on it
            self.logger.exception("callback for %s could not be processed", reference)
            handled = Handled(Outcome.UNVERIFIABLE, f"the shop could not process it: "
                                                    f"{type(error).__name__}: {error}")
        self.store.finish_callback(key, handled.outcome, handled.detail)
        return handled

    def _record_unverified(self, reference: uuid.UUID, body: bytes, signature: str,
                           outcome: Outcome, detail: str) -> Handled:
        self.logger.warning("callback for %s %s: %s", reference,
                            "refused" if outcome == Outcome.REFUSED else "could not be checked", detail)
        key = self.store.record_callback(CallbackRecord(
            reference, stored_body(body, UNVERIFIED_BODY_LIMIT), storable(signature[:SIGNATURE_LIMIT]), False,
            outcome=outcome, detail=detail))
        self.store.finish_callback(key, outcome, detail)
        return Handled(outcome, detail)

    def _act(self, reference: uuid.UUID, order_id: str) -> Handled:
        payment = self.store.find(reference)
        if payment is None:
            return Handled(Outcome.UNKNOWN_PAYMENT, f"no payment has the reference {reference}")
        if not order_id:
            return Handled(Outcome.MISMATCH, "the callback names no order")
        if payment.order_id and payment.order_id != order_id:
            return Handled(Outcome.MISMATCH, f"order {order_id} is not the payment's {payment.order_id}")
        try:
            report = self.query(order_id)
        except Exception as error:  # RuntimeError, OSError, http.client.HTTPException, ...
            self.logger.warning("order %s could not be queried after its callback: %s", order_id, error)
            return Handled(Outcome.UNAVAILABLE, f"{type(error).__name__}: {error}")
        try:
            refreshed = self.apply_report(reference, report)
        except OrderMismatch as mismatch:
            self.logger.warning("callback for %s refused: %s", reference, mismatch)
            return Handled(Outcome.MISMATCH, str(mismatch))
        return Handled(refreshed.callback_outcome, refreshed.detail)


# -- the decisions of a create call -------------------------------------------------------------

def decide_created(result: CreatedOrder, payment: PaymentRecord, candidates: Candidates) -> Decision:
    """The service created the order: keep its id and pay URL; the payment now waits."""
    changes: dict[str, object] = {"pay_url": result.pay_url}
    if payment.order_id and payment.order_id != result.order_id:
        reason = (f"the service created order {result.order_id}, but a callback gave the "
                  f"payment order {payment.order_id}")
        changes.update(held_order_id=result.order_id, note=reason)
        return Decision(changes, held=True, outcome=Outcome.HELD, description=reason)
    if not payment.order_id:
        holder = candidates.holder_of(result.order_id, other_than=payment.reference)
        if holder is not None:
            reason = f"the service created order {result.order_id}, held by payment {holder}"
            changes.update(held_order_id=result.order_id, note=reason)
            return Decision(changes, held=True, outcome=Outcome.HELD, description=reason)
        changes.update(order_id=result.order_id, held_order_id="", note="")
    if payment.status in (Status.CREATING, Status.UNCONFIRMED) or (
            payment.status == Status.FAILED and not payment.status_confirmed):
        changes.update(status=Status.PENDING, status_confirmed=True, fail_reason="")
    return Decision(changes, outcome=Outcome.CHANGED, description="created")


def decide_refused(detail: str, payment: PaymentRecord, candidates: Candidates) -> Decision:
    """The service refused: no order was stored. The payment fails, unless a report of the
    service (a callback that came first) says otherwise."""
    if payment.status not in (Status.CREATING, Status.UNCONFIRMED) or payment.order_id:
        return Decision()
    return Decision({"status": Status.FAILED, "status_confirmed": False, "fail_reason": detail},
                    transitions=(Transition.FAILED,), outcome=Outcome.CHANGED,
                    description=f"{payment.status} -> failed")


def decide_unconfirmed(detail: str, payment: PaymentRecord, candidates: Candidates) -> Decision:
    """The answer may hide a stored order: only the service's later report can tell."""
    if payment.status != Status.CREATING:
        return Decision()
    return Decision({"status": Status.UNCONFIRMED, "note": detail}, outcome=Outcome.CHANGED,
                    description="creating -> unconfirmed")


def standing(payment: PaymentRecord) -> Standing:
    return Standing(payment.status, payment.status_confirmed, payment.settled, payment.refunded)


def check_same_parameters(existing: PaymentRecord, new: NewPayment) -> None:
    differing = [f"{name} {getattr(existing, name)!s}, not {getattr(new, name)!s}"
                 for name in ("amount", "currency", "recipient_account", "pay_mode", "return_url")
                 if getattr(existing, name) != getattr(new, name)]
    if differing:
        raise ReferenceConflict(f"payment {existing.reference} was started with other parameters "
                                f"({'; '.join(differing)}); start another payment under a new "
                                f"reference")
