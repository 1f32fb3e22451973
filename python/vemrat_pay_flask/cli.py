"""`flask vemrat-pay reconcile`: bring the payments that are not final up to date.

Run it from cron every few minutes; it catches what lost callbacks never told.
"""

from __future__ import annotations

import uuid
from datetime import timedelta

import click
from flask.cli import AppGroup

from vemrat_pay_ledger.ledger import OrderMismatch
from vemrat_pay_sqlalchemy.service import Summary

from .extension import current_payments

command_group = AppGroup("vemrat-pay", help="Payments of the Vemrat payment service.")


@command_group.command("reconcile")
@click.option("--older-than", type=click.FloatRange(min=0), default=300, show_default=True,
              metavar="SECONDS",
              help="only payments not created or refreshed in the last SECONDS (their "
                   "callbacks may still be on the way)")
@click.option("--limit", type=click.IntRange(min=1), default=500, show_default=True,
              help="at most this many payments, least recently refreshed first")
@click.option("--unsettled", is_flag=True,
              help="also the paid payments not yet settled or refunded")
@click.option("--quiet", is_flag=True, help="print only the summary")
def reconcile_command(older_than: float, limit: int, unsettled: bool, quiet: bool) -> None:
    """Refresh from the payment service the payments that are not final."""
    summary = Summary()
    refreshed_all = current_payments().reconcile(older_than=timedelta(seconds=older_than),
                                                 limit=limit, unsettled=unsettled)
    for number, refreshed in enumerate(refreshed_all, start=1):
        summary.add(refreshed)
        if not quiet:
            line = f"[{number}/{len(refreshed_all)}] {refreshed.payment.reference} {refreshed.outcome}"
            click.echo(f"{line}: {refreshed.detail}" if refreshed.detail else line)
    click.echo(str(summary))
    if summary.failed:
        raise click.ClickException(f"{summary.failed} payments could not be refreshed")


@command_group.command("held")
def held_command() -> None:
    """List the payments held for a person to decide which order is theirs."""
    held = current_payments().held()
    for payment in held:
        click.echo(f"{payment.reference} {payment.amount} {payment.currency} order "
                   f"{payment.held_order_id}: {payment.note}")
    click.echo(f"{len(held)} payments held for review")


@command_group.command("assign")
@click.argument("reference", type=click.UUID)
def assign_command(reference: uuid.UUID) -> None:
    """Give a held payment the order it is held for, after checking with the service."""
    try:
        refreshed = current_payments().assign_held_order(reference)
    except (LookupError, OrderMismatch, RuntimeError, OSError) as error:
        raise click.ClickException(f"{type(error).__name__}: {error}") from None
    click.echo(f"{reference} {refreshed.outcome}: {refreshed.detail}")
