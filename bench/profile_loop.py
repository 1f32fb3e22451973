"""A tight loop of one operation through a replaced urlopen, for a profiler.

    perf record -g .venv/bin/python bench/profile_loop.py query 200000
    perf report --no-children --sort dso

The first argument is "query" or "payment"; the second the number of calls.
"""

import os, sys, time, urllib.request, json
import vemrat_pay
class Resp:
    def __init__(self, body): self.body = body
    def getcode(self): return 200
    def read(self): return self.body
PAY = json.dumps({"data": {"order_id": "A1", "pay_url": "https://x/pay/A1"}}).encode()
ST = json.dumps({"data": {"order_id": "A1", "pay_status": 1, "pay_status_text": "paid", "settle_status": 0, "settle_status_text": "unsettled", "refund_status": 0, "refund_status_text": "none", "amount": "10.00", "settle_amount": "0.00", "expired": "2026", "fail_reason": ""}}).encode()
def stub(req):
    return Resp(PAY if req.method == "POST" else ST)
urllib.request.urlopen = stub
os.environ["VEMRAT_PAY_BASE_URL"] = "http://service.test"
c = vemrat_pay.Client("ck", "sk")
n = int(sys.argv[2])
op = sys.argv[1]
t = time.perf_counter()
if op == "query":
    for i in range(n): c.query_order("A1")
else:
    for i in range(n): c.create_payment(10.0, "CNY", "acct", "https://shop/cb")
print((time.perf_counter() - t) / n * 1e6, "us")
