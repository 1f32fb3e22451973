"""python run.py: the shop on http://127.0.0.1:8000 against a local sandbox, in one command.

Starts the sandbox with the shop's development keys (unless VEMRAT_PAY_BASE_URL already names
a service), migrates the database, then serves the shop with uvicorn. Ctrl-C stops both.
"""

from __future__ import annotations

import os

import uvicorn
from vemrat_pay_sqlalchemy.testing import development_sandbox

from shop.migrate import migrate


def main() -> None:
    os.environ.setdefault("VEMRAT_PAY_COMMUNITY_KEY", "shop-community")
    os.environ.setdefault("VEMRAT_PAY_SPONSOR_KEY", "shop-sponsor")
    with development_sandbox(os.environ["VEMRAT_PAY_COMMUNITY_KEY"],
                             os.environ["VEMRAT_PAY_SPONSOR_KEY"]):
        migrate()
        uvicorn.run("shop.app:create_app", factory=True, host="127.0.0.1",
                    port=int(os.environ.get("PORT", "8000")))


if __name__ == "__main__":
    main()
