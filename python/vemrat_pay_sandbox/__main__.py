"""python -m vemrat_pay_sandbox --merchant COMMUNITY:SPONSOR [--merchant ...] [--db PATH]

Prints the base URL on the first line, the dashboard's URL on the next and, with
--https, the path of the CA certificate to trust on a third; then serves until
interrupted. An address it cannot listen on (a port in use, say) is reported in one line
on stderr, with exit status 1.
"""

from __future__ import annotations

import argparse
import signal
import sys

from .sandbox import Sandbox
from .callbacks.attempt import DEFAULT_TIMEOUT
from .callbacks.outbox import DEFAULT_RETRY_DELAYS
from .web.server import DEFAULT_MAX_CONNECTIONS, CannotListen
from .service import DEFAULT_ORDER_TTL, DEFAULT_TIMESTAMP_WINDOW


def _merchant(text: str) -> tuple[str, str]:
    community_key, separator, sponsor_key = text.partition(":")
    if not separator or not community_key:
        raise argparse.ArgumentTypeError("expected COMMUNITY_KEY:SPONSOR_KEY")
    return community_key, sponsor_key


def _delays(text: str) -> tuple[float, ...]:
    try:
        delays = tuple(float(part) for part in text.split(",") if part.strip())
    except ValueError:
        delays = (-1.0,)
    if any(not 0 <= delay <= 86400 for delay in delays):
        raise argparse.ArgumentTypeError("expected seconds separated by commas, such as 2,10,30")
    return delays


def _seconds(text: str) -> float:
    try:
        seconds = float(text)
    except ValueError:
        seconds = -1.0
    if not 0 < seconds <= 86400:
        raise argparse.ArgumentTypeError("expected a number of seconds above 0, such as 5")
    return seconds


def _interrupt(signum: int, frame: object) -> None:
    # SIGTERM ends the server the same way as Ctrl-C.
    raise KeyboardInterrupt


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m vemrat_pay_sandbox",
                                     description="Local sandbox of the Vemrat payment service.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 lets the system choose")
    parser.add_argument("--merchant", type=_merchant, action="append", required=True,
                        metavar="COMMUNITY:SPONSOR", help="a merchant's two keys; repeatable")
    parser.add_argument("--db", default=":memory:", help="SQLite file, or :memory:")
    parser.add_argument("--timestamp-window", type=float, default=DEFAULT_TIMESTAMP_WINDOW,
                        help="accepted clock difference in seconds, either way")
    parser.add_argument("--order-ttl", type=float, default=DEFAULT_ORDER_TTL,
                        help="seconds until a pending order expires")
    parser.add_argument("--retry-delays", type=_delays, default=DEFAULT_RETRY_DELAYS,
                        metavar="SECONDS,...",
                        help="delays before each retry of a callback that failed (default "
                             f"{','.join(f'{delay:g}' for delay in DEFAULT_RETRY_DELAYS)}; "
                             "an empty text means no retries)")
    parser.add_argument("--callback-timeout", type=_seconds, default=DEFAULT_TIMEOUT,
                        metavar="SECONDS",
                        help="how long a callback attempt may take in all before it counts as "
                             f"failed (default {DEFAULT_TIMEOUT:g})")
    parser.add_argument("--max-connections", type=int, default=DEFAULT_MAX_CONNECTIONS,
                        help="connections served at once; more wait their turn")
    parser.add_argument("--https", action="store_true",
                        help="serve HTTPS under a certificate made at start-up by a local CA")
    parser.add_argument("--tls-dir", metavar="DIR",
                        help="where the CA and the certificate are kept; the CA found there is "
                             "reused (default: a temporary directory)")
    parser.add_argument("--allow-host", action="append", default=[], metavar="NAME",
                        help="a host name the sandbox is reached by, besides localhost and IP "
                             "addresses (requests naming any other in Host are refused); "
                             "repeatable")
    parser.add_argument("--log", action="store_true", help="log every request to stderr")
    args = parser.parse_args(argv)

    try:
        sandbox = Sandbox(dict(args.merchant), args.db, host=args.host, port=args.port,
                          timestamp_window=args.timestamp_window, order_ttl=args.order_ttl,
                          log=args.log, max_connections=args.max_connections,
                          callback_timeout=args.callback_timeout,
                          retry_delays=args.retry_delays, https=args.https,
                          tls_dir=args.tls_dir, allowed_hosts=args.allow_host)
    except CannotListen as error:
        print(f"{parser.prog}: {error.strerror}", file=sys.stderr)
        return 1
    signal.signal(signal.SIGTERM, _interrupt)
    print(sandbox.base_url)
    print(f"dashboard: {sandbox.base_url}/sandbox/")
    if sandbox.ca_file is not None:
        print(f"CA certificate: {sandbox.ca_file} (export SSL_CERT_FILE={sandbox.ca_file})")
    sys.stdout.flush()
    try:
        sandbox.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        sandbox.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
