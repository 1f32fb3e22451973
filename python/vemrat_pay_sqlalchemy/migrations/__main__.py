"""python -m vemrat_pay_sqlalchemy.migrations upgrade|downgrade DATABASE_URL [REVISION]"""

from __future__ import annotations

import argparse

from . import downgrade, upgrade


def main() -> None:
    parser = argparse.ArgumentParser(prog="python -m vemrat_pay_sqlalchemy.migrations",
                                     description="Migrate the payments' tables.")
    parser.add_argument("action", choices=("upgrade", "downgrade"))
    parser.add_argument("url", help="a synchronous SQLAlchemy database URL")
    parser.add_argument("revision", nargs="?", default=None,
                        help="upgrade: default head; downgrade: required (base for none)")
    arguments = parser.parse_args()
    if arguments.action == "upgrade":
        upgrade(arguments.url, arguments.revision or "head")
    elif arguments.revision is None:
        parser.error("downgrade needs a revision (base removes the tables)")
    else:
        downgrade(arguments.url, arguments.revision)


if __name__ == "__main__":
    main()
