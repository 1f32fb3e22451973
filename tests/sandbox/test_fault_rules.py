"""The control API of fault rules (/sandbox/faults) and its Python twin on Sandbox."""

import json

import pytest

from vemrat_pay_sandbox import Rejected
from wire import exchange


def faults_request(sandbox, method, document=None, raw=None):
    body = raw if raw is not None else (json.dumps(document).encode() if document is not None else None)
    return exchange(f"{sandbox.base_url}/sandbox/faults", method, body,
                    {"Content-Type": "application/json"})


def test_rules_are_added_listed_and_cleared(sandbox):
    added = faults_request(sandbox, "POST", {"endpoint": "payment", "fault": "error",
                                             "status": 503, "merchant": "ck-one", "count": 3})
    assert added.data == {"id": 1, "endpoint": "payment", "fault": "error", "merchant": "ck-one",
                          "count": 3, "status": 503, "detail": "Service Unavailable"}
    python_rule = sandbox.add_fault("drop", "callback")
    assert python_rule == {"id": 2, "endpoint": "callback", "fault": "drop", "merchant": None,
                           "count": 1}
    assert faults_request(sandbox, "GET").data == [added.data, python_rule] == sandbox.faults()
    assert faults_request(sandbox, "DELETE").data == []
    assert sandbox.faults() == []


@pytest.mark.parametrize("document, shown", [
    ({"endpoint": "payment", "fault": "timeout_after_commit"}, {"seconds": 30.0}),
    ({"endpoint": "order_status", "fault": "timeout_after_commit", "seconds": 0}, {"seconds": 0.0}),
    ({"endpoint": "payment", "fault": "malformed"}, {"body": "not_json"}),
    ({"endpoint": "order_status", "fault": "malformed", "body": "no_data"}, {"body": "no_data"}),
    ({"endpoint": "payment", "fault": "delay", "seconds": 1.5}, {"seconds": 1.5}),
    ({"endpoint": "payment", "fault": "error", "status": 599}, {"status": 599,
                                                                "detail": "injected error 599"}),
    ({"endpoint": "callback", "fault": "delay", "seconds": 2}, {"seconds": 2.0}),
    ({"endpoint": "callback", "fault": "reorder"}, {}),
])
def test_each_fault_is_listed_with_its_options_and_defaults(sandbox, document, shown):
    rule = faults_request(sandbox, "POST", document).data
    assert rule == {"id": rule["id"], **document, "merchant": None, "count": 1, **shown}


BAD_RULES = [
    ([1], "a fault rule must be a JSON object"),
    ({}, "missing endpoint"),
    ({"endpoint": "refund", "fault": "error"},
     "invalid endpoint: 'refund' (expected one of: payment, order_status, callback)"),
    ({"endpoint": "payment"}, "missing fault"),
    ({"endpoint": "payment", "fault": "drop"}, "invalid fault for endpoint payment: 'drop' "
     "(expected one of: timeout_after_commit, error, malformed, delay)"),
    ({"endpoint": "callback", "fault": "error", "status": 500}, "invalid fault for endpoint "
     "callback: 'error' (expected one of: duplicate, delay, drop, reorder)"),
    ({"endpoint": "payment", "fault": "error"}, "missing status"),
    ({"endpoint": "payment", "fault": "error", "status": 200},
     "status must be a whole number from 400 to 599"),
    ({"endpoint": "payment", "fault": "error", "status": 503.0},
     "status must be a whole number from 400 to 599"),
    ({"endpoint": "payment", "fault": "error", "status": True},
     "status must be a whole number from 400 to 599"),
    ({"endpoint": "payment", "fault": "error", "status": 503, "detail": 7}, "detail must be a string"),
    ({"endpoint": "payment", "fault": "delay"}, "missing seconds"),
    ({"endpoint": "payment", "fault": "delay", "seconds": -1}, "seconds must be a number from 0 to 3600"),
    ({"endpoint": "payment", "fault": "delay", "seconds": "5"}, "seconds must be a number from 0 to 3600"),
    ({"endpoint": "payment", "fault": "malformed", "body": "html"},
     "invalid body: 'html' (expected one of: not_json, no_data)"),
    ({"endpoint": "payment", "fault": "delay", "seconds": 1, "status": 500},
     "unknown member for fault delay: status"),
    ({"endpoint": "callback", "fault": "drop", "count": 0}, "count must be a whole number from 1 to 1e+06"),
    ({"endpoint": "callback", "fault": "drop", "merchant": "nobody"},
     "invalid merchant: 'nobody' is not a known community key"),
]


@pytest.mark.parametrize("document, detail", BAD_RULES, ids=range(len(BAD_RULES)))
def test_a_bad_rule_is_refused_with_a_detail(sandbox, document, detail):
    answer = faults_request(sandbox, "POST", document)
    assert (answer.status, answer.detail) == (400, detail)
    if isinstance(document, dict):
        with pytest.raises(Rejected) as raised:
            sandbox.fault_rules.add(document)
        assert (raised.value.status, raised.value.detail) == (400, detail)
    assert sandbox.faults() == []


@pytest.mark.parametrize("raw, detail", [
    (b"", "a fault rule must be a JSON object"),
    (b"{", "request body is not JSON"),
    (rb'{"endpoint": "callback", "fault": "drop", "merchant": "\ud800"}',
     "request body is not text: it escapes a lone surrogate"),
    (b"[" * 100_000 + b"]" * 100_000, "request body is nested too deeply"),
    (b'{"a":' * 100_000 + b"1" + b"}" * 100_000, "request body is nested too deeply"),
    (b"[" * 100_000, "request body is nested too deeply"),
])
def test_a_body_that_is_no_rule_is_refused(sandbox, raw, detail):
    answer = faults_request(sandbox, "POST", raw=raw)
    assert (answer.status, answer.detail) == (400, detail)


def test_other_methods_are_refused(sandbox):
    answer = faults_request(sandbox, "PUT", {})
    assert (answer.status, answer.detail) == (405, "method not allowed: use GET or POST or DELETE")


def test_a_rule_counts_down_with_each_use(sandbox, merchant):
    sandbox.add_fault("error", "payment", status=503, count=3)
    merchant.pay()
    assert [rule["count"] for rule in sandbox.faults()] == [2]
