"""Parse throughput of the native JSON reader against Python's json.loads.

Usage: python3.13 bench/json_throughput.py [path-to-json_bench] [--seconds S]

Generates two documents in a temporary directory, a ~1 MB object-heavy one (an
array of order- and callback-like objects: strings, integers, decimals, nested
objects and arrays, some escapes and non-ASCII text, written the way Python
services write JSON) and a ~150-byte callback body; runs the native benchmark
on both; times json.loads on the same text in the same run; prints one table.
MB is 10^6 bytes of UTF-8; both sides report their best round.

Build the native benchmark first:
    cmake -S . -B build/bench -DVEMRAT_PAY_BENCH=ON -DVEMRAT_PAY_MODULE=OFF -DCMAKE_BUILD_TYPE=Release
    cmake --build build/bench --target json_bench
"""

from __future__ import annotations

import json
import os
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

DEFAULT_BINARY = Path(__file__).resolve().parent.parent / "build" / "bench" / "json_bench"


def order(rng: random.Random, n: int) -> dict:
    order_id = f"VP{20250101000000 + n:014d}"
    status = rng.randrange(4)
    return {
        "order_id": order_id,
        "pay_url": f"https://pay.example.com/alipay/{order_id}?token={rng.getrandbits(96):024x}&mode=split",
        "pay_status": status,
        "pay_status_text": ["待支付", "已支付", "已关闭", "已退款"][status],
        "settle_status": rng.randrange(3),
        "settle_status_text": ["pending", "settled", "failed"][rng.randrange(3)],
        "refund_status": rng.choice([0, 0, 0, 1, -1]),
        "refund_status_text": "",
        "amount": f"{rng.randrange(1, 100000) / 100:.2f}",
        "settle_amount": round(rng.uniform(0.5, 999.0), 2),
        "fee_rate": 0.006,
        "created": 1735689600 + rng.randrange(10_000_000),
        "expired": f"2025-{rng.randrange(1, 13):02d}-{rng.randrange(1, 29):02d} 12:{rng.randrange(60):02d}:00",
        "fail_reason": "" if status != 2 else 'buyer closed "cashier"\nretry later',
        "buyer": {
            "account": f"user{n}@example.com",
            "id": 2088000000000000 + rng.randrange(10**12),
            "verified": rng.random() < 0.8,
            "tags": ["vip", "cn"] if n % 3 == 0 else [],
        },
        "items": [
            {"sku": f"SKU-{rng.randrange(10**6):06d}", "qty": rng.randrange(1, 5), "price": rng.randrange(100, 9999) / 100}
            for _ in range(rng.randrange(1, 4))
        ],
        "notify": {"url": "https://merchant.example.com/notify\\callback", "attempts": rng.randrange(5), "last": None},
    }


def make_documents(directory: Path) -> list[tuple[str, Path, str]]:
    rng = random.Random(20250101)
    orders = []
    size = 0
    while size < 1_000_000:
        item = order(rng, len(orders))
        orders.append(item)
        size += len(json.dumps(item, ensure_ascii=False).encode()) + 2
    large = json.dumps({"data": orders, "count": len(orders)}, ensure_ascii=False)
    callback = json.dumps(
        {
            "status": "paid",
            "order_id": "VP20250101000001",
            "amount": "12.50",
            "settle_amount": "12.43",
            "reason": "",
            "expired": "2025-01-01 12:00:00",
        }
    )
    documents = []
    for name, text in (("orders ~1 MB", large), ("callback", callback)):
        path = directory / (name.split()[0] + ".json")
        path.write_bytes(text.encode())
        documents.append((name, path, text))
    return documents


def time_json_loads(text: str, seconds: float) -> float:
    """Best MB/s of json.loads over 5 rounds of about seconds/5 each."""
    size = len(text.encode())
    per_round = 1
    while True:
        start = time.perf_counter()
        for _ in range(per_round):
            json.loads(text)
        took = time.perf_counter() - start
        if took >= seconds / 20:
            per_round = max(1, int(per_round * (seconds / 5) / took))
            break
        per_round *= 2
    best = 0.0
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(per_round):
            json.loads(text)
        took = time.perf_counter() - start
        best = max(best, size * per_round / took / 1e6)
    return best


def main(argv: list[str]) -> int:
    seconds = 1.0
    binary = DEFAULT_BINARY
    args = list(argv)
    while args:
        arg = args.pop(0)
        if arg == "--seconds" and args:
            seconds = float(args.pop(0))
        else:
            binary = Path(arg)
    if not binary.is_file() or not os.access(binary, os.X_OK):
        print(f"json_bench not found at {binary}; build it as the docstring says:\n{__doc__}", file=sys.stderr)
        return 2

    with tempfile.TemporaryDirectory() as tmp:
        documents = make_documents(Path(tmp))
        result = subprocess.run(
            [str(binary), "--seconds", str(seconds), *(str(path) for _, path, _ in documents)],
            check=True,
            capture_output=True,
            text=True,
        )
        native = {}
        for line in result.stdout.splitlines():
            path, size, best, _median, ns = line.split("\t")
            native[path] = (int(size), float(best), float(ns))

        rows = []
        for name, path, text in documents:
            size, native_rate, ns = native[str(path)]
            python_rate = time_json_loads(text, seconds)
            rows.append((name, size, native_rate, ns, python_rate, native_rate / python_rate))

    print(f"{'document':<14} {'bytes':>9} {'native MB/s':>12} {'ns/parse':>10} {'json.loads MB/s':>16} {'ratio':>7}")
    for name, size, native_rate, ns, python_rate, ratio in rows:
        print(f"{name:<14} {size:>9} {native_rate:>12.1f} {ns:>10.0f} {python_rate:>16.1f} {ratio:>6.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
