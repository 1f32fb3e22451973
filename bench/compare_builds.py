"""Builds of vemrat_pay side by side, in instructions counted by valgrind's callgrind: per call of
each operation (urlopen replaced by an in-process stub, as in bench/run.py) and for the import.
Instruction counts do not move with the load of the machine, so builds can be told apart where
timings on a shared machine cannot.

    python bench/compare_builds.py [--calls N] NAME=DIRECTORY ...

Each DIRECTORY holds a vemrat_pay extension module for the running interpreter (a build tree, an
unpacked wheel or a site-packages directory); it is put first on PYTHONPATH. A figure is
(instructions of a run with N calls - those of a run with none) / N, both runs after one warm-up
call; the import is a run that imports the module less one that does not.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import subprocess
import sys
import urllib.request
from pathlib import Path

HERE = Path(__file__).resolve().parent
OPERATIONS = ["verify_callback 150 B", "verify_callback 4 KB", "create_payment", "query_order", "import"]
COLLECTED = re.compile(r"^==\d+== Collected : (\d+)$", re.M)


def operation(name: str):
    """The call to repeat, set up the way bench/run.py sets it up."""
    sys.path.insert(0, str(HERE))
    import run  # noqa: PLC0415 - bench/run.py, which imports vemrat_pay

    client = run.vemrat_pay.Client(run.COMMUNITY_KEY, run.SPONSOR_KEY)
    if name.startswith("verify_callback"):
        body = run.callback_body(150 if name.endswith("150 B") else 4000)
        signature = run.hmac.new(run.SPONSOR_KEY.encode(), body.encode(), "sha256").hexdigest()
        return lambda: client.verify_callback(body, signature)

    answers = {"POST": run.CannedResponse(run.PAYMENT_ANSWER), "GET": run.CannedResponse(run.STATUS_ANSWER)}
    urllib.request.urlopen = lambda request: answers[request.method]
    os.environ["VEMRAT_PAY_BASE_URL"] = "http://service.test"
    if name == "create_payment":
        return lambda: client.create_payment(*run.PAYMENT_ARGS)
    return lambda: client.query_order(run.ORDER_ID)


def run_calls(name: str, calls: int) -> None:
    if name == "import":
        if calls:
            import vemrat_pay  # noqa: F401, PLC0415
        return
    call = operation(name)
    call()
    for _ in range(calls):
        call()


def instructions(directory: str, name: str, calls: int) -> int:
    environment = dict(os.environ, PYTHONHASHSEED="0",
                       PYTHONPATH=os.pathsep.join(filter(None, [directory, os.environ.get("PYTHONPATH")])))
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable,
                          __file__, "--run", json.dumps([name, calls])],
                         env=environment, capture_output=True, text=True, check=True)
    return int(COLLECTED.findall(run.stderr)[-1])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs="*", metavar="NAME=DIRECTORY")
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--run", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.run:
        run_calls(*json.loads(options.run))
        return

    builds = [build.split("=", 1) for build in options.builds]
    for name, directory in builds:
        environment = dict(os.environ, PYTHONPATH=directory)
        loaded = subprocess.run([sys.executable, "-c", "import vemrat_pay; print(vemrat_pay.__file__)"],
                                env=environment, capture_output=True, text=True, check=True).stdout.strip()
        if not loaded.startswith(str(Path(directory).resolve())):
            raise SystemExit(f"{name}: import vemrat_pay loads {loaded}, not a module of {directory}")

    counts: dict[str, dict[str, float]] = {}
    for name, directory in builds:
        counts[name] = {}
        for operation_name in OPERATIONS:
            calls = 1 if operation_name == "import" else options.calls
            print(f"{name}: {operation_name}", file=sys.stderr, flush=True)
            difference = instructions(directory, operation_name, calls) - instructions(directory, operation_name, 0)
            counts[name][operation_name] = difference / calls

    names = [name for name, _ in builds]
    widths = [max(len(name), 12) for name in names]
    first = max(len(name) for name in OPERATIONS) + 10
    print(f"Python {sys.version.split()[0]}; instructions per call ({options.calls} calls), per import")
    print("  ".join(["operation".ljust(first)] + [name.rjust(width) for name, width in zip(names, widths)]))
    for operation_name in OPERATIONS:
        base = counts[names[0]][operation_name]
        cells = [f"{counts[name][operation_name]:,.0f}".rjust(width) for name, width in zip(names, widths)]
        ratios = [f"{counts[name][operation_name] / base - 1:+.1%}" for name in names[1:]]
        print("  ".join([operation_name.ljust(first)] + cells) + ("   " + " ".join(ratios) if ratios else ""))


if __name__ == "__main__":
    main()
