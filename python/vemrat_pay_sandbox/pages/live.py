"""What lets a dashboard page follow the sandbox without a reload: the version of the data it
shows, in the page, and the small script that polls for a newer one (pages/live.js).

A page marks the parts that change with `data-live` and an id; the script swaps in those parts
of a freshly fetched copy of the page. Without the script the page is a plain snapshot.
"""

from __future__ import annotations

from functools import cache
from html import escape
from importlib import resources

from .paths import SCRIPT_PATH, VERSION_PATH


def live_head(version: str) -> str:
    """The head elements of a page that follows changes; `version` is the data's version."""
    return (f"<meta name=\"sandbox-version\" content=\"{escape(version)}\">"
            f"<meta name=\"sandbox-version-url\" content=\"{VERSION_PATH}\">"
            f"<script src=\"{SCRIPT_PATH}\" defer></script>")


LIVE_STATUS = ("<p class=\"note live\"><span id=\"live-status\" role=\"status\">Shows the state "
               "at the time the page loaded.</span> <span id=\"live-updated\"></span> "
               "<a id=\"refresh\" href=\"\">Reload</a></p>")


@cache
def live_script() -> bytes:
    return resources.files(__package__).joinpath("live.js").read_bytes()
