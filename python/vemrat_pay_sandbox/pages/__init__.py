"""Server-rendered HTML: the payer's pages and the developer's dashboard."""

from .payer import message_page, payment_page, result_page

__all__ = ["message_page", "payment_page", "result_page"]
