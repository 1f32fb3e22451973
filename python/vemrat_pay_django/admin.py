"""Admin for payments and callback events: read-only records with a refresh action."""

from __future__ import annotations

from typing import Any

from django.contrib import admin, messages
from django.db.models import QuerySet
from django.http import HttpRequest

from .ledger import get_ledger
from .models import CallbackEvent, Payment
from .reconcile import Summary, refresh_each


class CallbackEventInline(admin.TabularInline):  # type: ignore[type-arg]
    model = CallbackEvent
    fields = readonly_fields = ("received_at", "callback_status", "verified", "outcome", "detail")
    extra = 0
    can_delete = False
    show_change_link = True

    def has_add_permission(self, request: HttpRequest, obj: Payment | None = None) -> bool:
        return False


class NeedsReview(admin.SimpleListFilter):
    title = "needs review"
    parameter_name = "needs_review"

    def lookups(self, request: HttpRequest, model_admin: Any) -> list[tuple[str, str]]:
        return [("yes", "Yes"), ("no", "No")]

    def queryset(self, request: HttpRequest, queryset: QuerySet[Any]) -> QuerySet[Any]:
        if self.value() == "yes":
            return queryset.exclude(held_order_id="")
        if self.value() == "no":
            return queryset.filter(held_order_id="")
        return queryset


@admin.register(Payment)
class PaymentAdmin(admin.ModelAdmin):  # type: ignore[type-arg]
    list_display = ["reference", "order_id", "amount", "currency", "status", "settled",
                    "refunded", "needs_review", "created_at"]
    list_filter = ["status", "settled", "refunded", NeedsReview, "currency", "pay_mode",
                   "created_at"]
    search_fields = ["=reference", "=order_id", "recipient_account"]
    date_hierarchy = "created_at"
    readonly_fields = [field.name for field in Payment._meta.fields]
    inlines = [CallbackEventInline]
    actions = ["refresh", "assign_held_order"]

    def has_add_permission(self, request: HttpRequest) -> bool:
        return False  # payments are started by the shop, through start_payment

    def has_delete_permission(self, request: HttpRequest, obj: Payment | None = None) -> bool:
        return False  # a payment is the shop's record of money, and its callbacks find it

    @admin.display(boolean=True, description="needs review")
    def needs_review(self, payment: Payment) -> bool:
        return payment.needs_review

    @admin.action(description="Refresh the selected payments from the payment service")
    def refresh(self, request: HttpRequest, queryset: QuerySet[Payment]) -> None:
        summary = Summary()
        for refreshed in refresh_each(queryset):
            summary.add(refreshed)
            if refreshed.outcome in ("failed", "held"):
                self.message_user(request, f"{refreshed.payment.reference}: {refreshed.detail}",
                                  messages.ERROR if refreshed.outcome == "failed" else messages.WARNING)
        self.message_user(request, f"{summary}.", messages.INFO)


    @admin.action(description="Give each selected payment the order it is held for (after "
                              "checking that the order is its own)")
    def assign_held_order(self, request: HttpRequest, queryset: QuerySet[Payment]) -> None:
        ledger = get_ledger()
        for payment in queryset:
            try:
                assigned = ledger.assign_held_order(payment.reference)
            except Exception as error:  # not held, the service's error, or OrderMismatch
                self.message_user(request, f"{payment.reference}: {type(error).__name__}: {error}",
                                  messages.ERROR)
            else:
                self.message_user(request, f"{payment.reference}: {assigned.detail}", messages.INFO)


@admin.register(CallbackEvent)
class CallbackEventAdmin(admin.ModelAdmin):  # type: ignore[type-arg]
    list_display = ["received_at", "order_id", "callback_status", "verified", "outcome",
                    "payment"]
    list_filter = ["verified", "outcome", "callback_status", "received_at"]
    search_fields = ["=order_id", "=reference"]
    date_hierarchy = "received_at"
    readonly_fields = [field.name for field in CallbackEvent._meta.fields]
    list_select_related = ["payment"]

    def has_add_permission(self, request: HttpRequest) -> bool:
        return False

    def has_delete_permission(self, request: HttpRequest, obj: CallbackEvent | None = None) -> bool:
        return False
