"""manage.py vemrat_pay_reconcile: bring the payments that are not final up to date.

Run it from cron every few minutes; it catches what lost callbacks never told. Payments held
for review are listed as "held" with the reason, for a person to decide.
"""

from __future__ import annotations

from datetime import timedelta
from typing import Any

from django.core.management.base import BaseCommand, CommandError, CommandParser

from ...reconcile import Summary, due, refresh_each


class Command(BaseCommand):
    help = ("Refresh from the payment service the payments that are not final (creating, "
            "unconfirmed, pending) or held for review, and have not been refreshed for a while.")

    def add_arguments(self, parser: CommandParser) -> None:
        parser.add_argument("--older-than", type=float, default=300, metavar="SECONDS",
                            help="only payments not created or refreshed in the last SECONDS "
                                 "(default 300: their callbacks may still be on the way)")
        parser.add_argument("--limit", type=int, default=500,
                            help="at most this many payments, least recently refreshed first "
                                 "(default 500)")
        parser.add_argument("--unsettled", action="store_true",
                            help="also the paid payments not yet settled or refunded")

    def handle(self, *args: Any, **options: Any) -> None:
        if options["limit"] < 1 or options["older_than"] < 0:
            raise CommandError("--limit must be at least 1 and --older-than not negative")
        payments = list(due(timedelta(seconds=options["older_than"]), options["limit"],
                                     unsettled=options["unsettled"]))
        summary = Summary()
        for number, refreshed in enumerate(refresh_each(payments), start=1):
            summary.add(refreshed)
            if options["verbosity"] >= 1:
                line = f"[{number}/{len(payments)}] {refreshed.payment.reference} {refreshed.outcome}"
                self.stdout.write(f"{line}: {refreshed.detail}" if refreshed.detail else line)
        self.stdout.write(str(summary))
        if summary.counts["failed"]:
            raise CommandError(f"{summary.counts['failed']} payments could not be refreshed")
