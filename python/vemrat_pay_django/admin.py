"""Admin for payments and callback events: read-only records with a refresh action."""

from __future__ import annotations

from django.contrib import admin, messages
from django.db.models import QuerySet
from django.http import HttpRequest

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


@admin.register(Payment)
class PaymentAdmin(admin.ModelAdmin):  # type: ignore[type-arg]
    list_display = ["reference", "order_id", "amount", "currency", "status", "settled",
                    "refunded", "created_at"]
    list_filter = ["status", "settled", "refunded", "currency", "pay_mode", "created_at"]
    search_fields = ["=reference", "=order_id", "recipient_account"]
    date_hierarchy = "created_at"
    readonly_fields = [field.name for field in Payment._meta.fields]
    inlines = [CallbackEventInline]
    actions = ["refresh"]

    def has_add_permission(self, request: HttpRequest) -> bool:
        return False  # payments are started by the shop, through start_payment

    @admin.action(description="Refresh the selected payments from the payment service")
    def refresh(self, request: HttpRequest, queryset: QuerySet[Payment]) -> None:
        summary = Summary()
        for refreshed in refresh_each(queryset):
            summary.add(refreshed)
            if refreshed.outcome == "failed":
                self.message_user(request, f"{refreshed.payment.reference}: {refreshed.detail}",
                                  messages.ERROR)
        self.message_user(request, f"{summary}.", messages.INFO)


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
