"""python run.py: the shop on http://127.0.0.1:8000 against a local sandbox, in one command.

Starts `python -m vemrat_pay_sandbox` with the shop's development keys (unless
VEMRAT_PAY_BASE_URL already names a service), migrates the database, then serves the shop
with gunicorn. Ctrl-C stops both.
"""

from __future__ import annotations

import os
import subprocess
import sys

DEVELOPMENT_KEYS = {"VEMRAT_PAY_COMMUNITY_KEY": "shop-community",
                    "VEMRAT_PAY_SPONSOR_KEY": "shop-sponsor"}


def main() -> None:
    sandbox = None
    if "VEMRAT_PAY_BASE_URL" not in os.environ:
        for name, value in DEVELOPMENT_KEYS.items():
            os.environ.setdefault(name, value)
        merchant = f"{os.environ['VEMRAT_PAY_COMMUNITY_KEY']}:{os.environ['VEMRAT_PAY_SPONSOR_KEY']}"
        sandbox = subprocess.Popen([sys.executable, "-m", "vemrat_pay_sandbox", "--merchant", merchant],
                                   stdout=subprocess.PIPE, text=True)
        assert sandbox.stdout is not None
        os.environ["VEMRAT_PAY_BASE_URL"] = sandbox.stdout.readline().strip()
        print(f"sandbox: {os.environ['VEMRAT_PAY_BASE_URL']}/sandbox/", flush=True)
    try:
        from shop.migrate import migrate

        migrate()
        shop = subprocess.Popen([sys.executable, "-m", "gunicorn", "--bind",
                                 f"127.0.0.1:{os.environ.get('PORT', '8000')}", "--workers", "2",
                                 "--threads", "4", "shop:create_app()"])
        try:
            shop.wait()
        finally:
            shop.terminate()
            shop.wait()
    finally:
        if sandbox is not None:
            sandbox.terminate()
            sandbox.wait()


if __name__ == "__main__":
    main()
