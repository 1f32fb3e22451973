"""A route: the method and path pattern a request must have, and what answers it."""

from __future__ import annotations

import re
from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from .handler import SandboxHandler

ANY_METHOD = "*"

Answer = Callable[["SandboxHandler", re.Match[str]], None]


@dataclass(frozen=True)
class Route:
    method: str
    pattern: re.Pattern[str]
    answer: Answer


def route(method: str, pattern: str, answer: Answer) -> Route:
    """`pattern` must match the whole path; named groups reach `answer` through the match."""
    return Route(method, re.compile(pattern), answer)
