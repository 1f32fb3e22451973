"""An example FastAPI shop that takes payments through vemrat_pay_fastapi.

Everything about payments (the model, the callback endpoint, refreshing from the service,
events) is the integration's; what is here is this shop's own: the checkout form, the order
page, and the receipt issued when a payment is paid.
"""

from __future__ import annotations

import uuid
from collections.abc import AsyncIterator
from contextlib import asynccontextmanager
from decimal import Decimal, InvalidOperation
from pathlib import Path
from typing import Annotated, Any

from fastapi import FastAPI, Form, HTTPException, Request
from fastapi.responses import HTMLResponse, RedirectResponse, Response
from fastapi.templating import Jinja2Templates
from sqlalchemy import create_engine
from sqlalchemy.ext.asyncio import async_sessionmaker, create_async_engine
from vemrat_pay_fastapi import AsyncPayments, PaymentsDep, install
from vemrat_pay_ledger.ledger import OrderMismatch, ReferenceConflict
from vemrat_pay_sqlalchemy import Payments

from . import settings
from .receipts import Receipts

templates = Jinja2Templates(directory=Path(__file__).resolve().parent / "templates")


def create_app() -> FastAPI:
    config = settings.payments_config()
    config.apply_socket_timeout()
    payments = AsyncPayments(Payments(config, create_engine(settings.database_url())))
    async_engine = create_async_engine(settings.async_database_url())
    receipts = Receipts(async_sessionmaker(async_engine, expire_on_commit=False))
    payments.events.connect("paid", receipts.issue)

    @asynccontextmanager
    async def lifespan(app: FastAPI) -> AsyncIterator[None]:
        yield
        await async_engine.dispose()

    app = FastAPI(lifespan=lifespan)
    install(app, payments)  # POST /vemrat-pay/callback/{reference}

    def page(request: Request, name: str, status: int = 200, **context: Any) -> HTMLResponse:
        return templates.TemplateResponse(request, name, context, status_code=status)

    @app.get("/", response_class=HTMLResponse)
    async def checkout_form(request: Request) -> HTMLResponse:
        return page(request, "checkout.html", reference=uuid.uuid4(), error="")

    @app.post("/checkout")
    async def checkout(request: Request, payments: PaymentsDep,
                       amount: Annotated[str, Form()], recipient: Annotated[str, Form()],
                       reference: Annotated[uuid.UUID, Form()],
                       currency: Annotated[str, Form()] = "CNY") -> Response:
        try:
            value = Decimal(amount)
            # The form's reference makes a form posted twice find its payment.
            payment = await payments.start_payment(
                value, currency=currency.upper(), recipient_account=recipient,
                return_url=f"/orders/{reference}", reference=reference, request=request)
        except ReferenceConflict:  # this form was already sent with other details
            return page(request, "problem.html", 409, title="Checkout already started",
                        message="This checkout was already started with other details.",
                        payment=await payments.get(reference), retry=True)
        except (InvalidOperation, TypeError, ValueError) as error:
            return page(request, "checkout.html", 400, reference=uuid.uuid4(), error=str(error))
        if payment.status == "pending":
            return RedirectResponse(payment.pay_url, status_code=303)
        if payment.status == "failed":
            return page(request, "problem.html", 502, title="Payment not created",
                        message=payment.fail_reason, payment=payment, retry=True)
        if payment.status in ("creating", "unconfirmed"):
            return page(request, "problem.html", 504, title="Checking your payment",
                        message="The payment service did not answer in time. We are checking "
                                "with it; nothing will be charged twice.",
                        payment=payment, refresh=True)
        return RedirectResponse(f"/orders/{payment.reference}", status_code=303)

    @app.get("/orders/{reference}", response_class=HTMLResponse)
    async def order_page(request: Request, reference: uuid.UUID,
                         payments: PaymentsDep) -> HTMLResponse:
        payment = await payments.get(reference)
        if payment is None:
            raise HTTPException(404, "no such order")
        unavailable = ""
        try:  # the payer is back: ask the service rather than wait for the callback
            payment = await payments.refresh_payment(payment)
        except (RuntimeError, OSError, OrderMismatch) as error:
            unavailable = f"The payment service cannot tell us right now ({type(error).__name__})."
        return page(request, "order.html", payment=payment, unavailable=unavailable,
                    receipt=await receipts.of(reference))

    @app.get("/ping")
    async def ping() -> dict[str, bool]:
        return {"ok": True}

    return app

