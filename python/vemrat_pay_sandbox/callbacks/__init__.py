"""Callbacks: the signed message, one delivery attempt, and the outbox that retries them."""

from .message import SIGNATURE_HEADER, callback_body, make_callback

__all__ = ["SIGNATURE_HEADER", "callback_body", "make_callback"]
