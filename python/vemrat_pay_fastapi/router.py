"""The callback endpoint, and how an application gets the payments service.

    app = FastAPI()
    payments = AsyncPayments(Payments(config, engine))
    install(app, payments)                     # POST /vemrat-pay/callback/{reference}

    @app.post("/checkout")
    async def checkout(request: Request, payments: PaymentsDep) -> RedirectResponse: ...

The endpoint reads the raw body and the signature header and answers exactly as the Django
app's view does: 200 "ok" once the payment is up to date (or held for review), 400 to a
callback that does not verify or does not match its payment, 404 to an unknown payment, 503
when the service or the shop's own configuration cannot be reached (so the service delivers
it again later).
"""

from __future__ import annotations

from typing import Annotated

from fastapi import APIRouter, Depends, FastAPI, Request
from fastapi.responses import PlainTextResponse
from starlette.applications import Starlette
from starlette.routing import Mount, Route

from .service import AsyncPayments

STATE_NAME = "vemrat_pay"
DEFAULT_PREFIX = "/vemrat-pay"


def get_payments(request: Request) -> AsyncPayments:
    """The dependency that gives a handler the application's payments service."""
    payments = getattr(request.app.state, STATE_NAME, None)
    if not isinstance(payments, AsyncPayments):
        raise RuntimeError("the payments service is not installed: call "
                           "vemrat_pay_fastapi.install(app, payments) at start-up")
    return payments


PaymentsDep = Annotated[AsyncPayments, Depends(get_payments)]


async def answer_callback(request: Request, payments: AsyncPayments) -> PlainTextResponse:
    """The raw body and the signature header to the service; its answer, as plain text."""
    body = await request.body()
    signature = request.headers.get(payments.payments.config.signature_header, "")
    answer = await payments.handle_callback(request.path_params["reference"], body, signature)
    return PlainTextResponse(answer.text, status_code=answer.status)


def callback_router() -> APIRouter:
    """The router with the callback endpoint, named "vemrat_pay_callback"."""
    router = APIRouter()

    @router.post("/callback/{reference}", name="vemrat_pay_callback", include_in_schema=False,
                 response_class=PlainTextResponse)
    async def callback(reference: str, request: Request,
                       payments: PaymentsDep) -> PlainTextResponse:
        return await answer_callback(request, payments)

    return router


def check_prefix(prefix: str, payments: AsyncPayments) -> None:
    if prefix != payments.payments.callback_prefix:
        raise ValueError(f"the callback endpoint's prefix {prefix!r} is not the one the "
                         f"service builds callback URLs with ({payments.payments.callback_prefix!r})")


def install(app: FastAPI, payments: AsyncPayments, *, prefix: str = DEFAULT_PREFIX) -> None:
    """Makes `payments` the application's service and adds the callback endpoint under
    `prefix`, which must match the service's `callback_prefix`."""
    check_prefix(prefix, payments)
    setattr(app.state, STATE_NAME, payments)
    app.include_router(callback_router(), prefix=prefix)


def install_starlette(app: Starlette, payments: AsyncPayments, *,
                      prefix: str = DEFAULT_PREFIX) -> None:
    """`install` for a Starlette application without FastAPI: the same endpoint, mounted
    under `prefix`; `get_payments(request)` gives a handler the service."""
    check_prefix(prefix, payments)
    setattr(app.state, STATE_NAME, payments)

    async def callback(request: Request) -> PlainTextResponse:
        return await answer_callback(request, get_payments(request))

    app.router.routes.append(Mount(prefix, routes=[
        Route("/callback/{reference}", callback, methods=["POST"], name="vemrat_pay_callback")]))
