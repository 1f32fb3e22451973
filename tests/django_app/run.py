"""Runs the app's suite on one database: python tests/django_app/run.py
[--database=sqlite|postgresql] [pytest arguments, paths relative to tests/django_app].
For PostgreSQL it starts a server of its
own for the run and stops it afterwards."""

from __future__ import annotations

import argparse
import os
import sys
from contextlib import ExitStack
from pathlib import Path

import django
import pytest

HERE = Path(__file__).resolve().parent


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--database", choices=("sqlite", "postgresql"), default="sqlite")
    options, pytest_args = parser.parse_known_args(argv)
    with ExitStack() as stack:
        if options.database == "postgresql":
            sys.path.insert(0, str(HERE))
            from postgres_server import PostgresServer

            server = stack.enter_context(PostgresServer())
            os.environ["VEMRAT_PAY_TEST_POSTGRES_PORT"] = str(server.port)
        print(f"vemrat_pay_django suite: Django {django.get_version()} on {options.database}",
              flush=True)
        os.chdir(HERE)  # the suite's paths are relative to its own directory
        return int(pytest.main(["-c", "pytest.ini", *pytest_args]))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
