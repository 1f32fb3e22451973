"""The fault rules on the dashboard: those in force, each with a button that removes it, and a
form for every fault the sandbox knows, filled in with a working example."""

from __future__ import annotations

import json
from collections.abc import Sequence
from dataclasses import dataclass, field
from html import escape
from typing import Any

from ..faults.rules import DEFAULT_HOLD, FAULTS_BY_ENDPOINT, MALFORMED_BODIES
from .forms import post_form
from .paths import CLEAR_FAULTS_PATH, FAULTS_PATH

REQUEST_ENDPOINTS = ("payment", "order_status")


@dataclass(frozen=True)
class RuleForm:
    """One fault's form: the endpoints it applies to (the first is chosen), what it does, and
    the example values its fields start with."""

    fault: str
    endpoints: tuple[str, ...]
    summary: str
    defaults: dict[str, str] = field(default_factory=dict)

    @property
    def key(self) -> str:
        return f"{self.endpoints[0] if len(self.endpoints) == 1 else 'request'}-{self.fault}"


RULE_FORMS = (
    RuleForm("timeout_after_commit", REQUEST_ENDPOINTS,
             "carries the request out (the order is stored), then withholds the answer for "
             "the seconds given and closes the connection; 0 closes it at once",
             {"seconds": f"{DEFAULT_HOLD:g}"}),
    RuleForm("error", ("order_status", "payment"),
             "answers the status given with its detail instead of carrying the request out",
             {"status": "503", "count": "3"}),
    RuleForm("malformed", REQUEST_ENDPOINTS,
             "answers 200 with a body cut short (not_json) or without data (no_data) "
             "instead of carrying the request out", {"body": "no_data"}),
    RuleForm("delay", REQUEST_ENDPOINTS, "carries the request out and answers after the seconds "
             "given", {"seconds": "4"}),
    RuleForm("duplicate", ("callback",), "delivers the callback twice"),
    RuleForm("delay", ("callback",), "makes the first attempt the seconds given later",
             {"seconds": "60"}),
    RuleForm("drop", ("callback",), "records the callback but never delivers it, until resent"),
    RuleForm("reorder", ("callback",), "holds the callback until the order's next callback "
             "has been delivered or given up, then delivers it"),
)
# Every fault of every endpoint has its form.
assert {(endpoint, form.fault) for form in RULE_FORMS for endpoint in form.endpoints} == \
    {(endpoint, fault) for endpoint, faults in FAULTS_BY_ENDPOINT.items() for fault in faults}

RULES_STYLE = """
#rules table{margin:.5rem 0}.rule-form{display:block;margin:.4rem 0;padding:.3rem .6rem;
border:1px solid #ddd;border-radius:.3rem}.rule-form fieldset{border:0;margin:0;padding:0}
.rule-form legend{font-weight:600;padding:0}.rule-form .what{color:#666;font-weight:400}
.rule-form label{margin-right:.8rem;white-space:nowrap}.rule-form input{width:5rem}
.rule-form input[name=detail]{width:10rem}#add-rule{margin-top:.8rem}
#add-rule summary{cursor:pointer;font-weight:600}
"""


def rules_section(rules: list[dict[str, Any]], merchants: Sequence[str], form_token: str) -> str:
    """The rules in force (a part the live script updates) and the forms that add one."""
    return (f"<section id=\"rules\" data-live aria-labelledby=\"rules-title\">"
            f"<h2 id=\"rules-title\">Fault rules</h2>{_rules_in_force(rules, form_token)}</section>"
            "<details id=\"add-rule\"><summary>Add a fault rule</summary>"
            "<p class=\"note\">A rule applies to the next requests (or callbacks) of one "
            "endpoint, as many as its count, of one merchant or of every merchant.</p>"
            + "".join(_rule_form(form, merchants, form_token) for form in RULE_FORMS) + "</details>")


def _rules_in_force(rules: list[dict[str, Any]], form_token: str) -> str:
    if not rules:
        return "<p id=\"no-faults\" class=\"note\">No fault rules in force.</p>"
    rows = "".join(
        f"<tr><td>{escape(str(rule['id']))}</td><td>{escape(rule['merchant'] or 'every merchant')}"
        f"</td><td>{escape(rule['endpoint'])}</td><td>{escape(rule['fault'])}</td>"
        f"<td>{escape(_options(rule))}</td><td>{escape(str(rule['count']))}</td>"
        "<td>" + post_form(f"{FAULTS_PATH}/{rule['id']}/remove", form_token,
                           f"<button type=\"submit\" class=\"remove-rule\" "
                           f"aria-label=\"Remove rule {rule['id']}\">Remove</button>") + "</td></tr>"
        for rule in rules)
    return ("<table id=\"faults\"><tr><th scope=\"col\">Id</th><th scope=\"col\">Merchant</th>"
            "<th scope=\"col\">Endpoint</th><th scope=\"col\">Fault</th><th scope=\"col\">Options"
            "</th><th scope=\"col\">Uses left</th><th scope=\"col\"><span class=\"note\">Action"
            f"</span></th></tr>{rows}</table>"
            + post_form(CLEAR_FAULTS_PATH, form_token,
                        "<button id=\"clear-faults\" type=\"submit\">Clear all rules</button>"))


def _options(rule: dict[str, Any]) -> str:
    shown = {name: value for name, value in rule.items()
             if name not in ("id", "merchant", "endpoint", "fault", "count")}
    return json.dumps(shown, ensure_ascii=False) if shown else ""


def _rule_form(form: RuleForm, merchants: Sequence[str], form_token: str) -> str:
    key = form.key

    def labelled(name: str, label: str, control: str) -> str:
        return f"<label for=\"{key}-{name}\">{label} {control}</label>"

    def number(name: str, label: str, default: str, **limits: str) -> str:
        bounds = "".join(f" {bound}=\"{value}\"" for bound, value in limits.items())
        return labelled(name, label, f"<input type=\"number\" id=\"{key}-{name}\" name=\"{name}\" "
                                     f"value=\"{escape(default)}\"{bounds}>")

    def choice(name: str, label: str, options: Sequence[tuple[str, str]], chosen: str) -> str:
        listed = "".join(f"<option value=\"{escape(value)}\"{' selected' if value == chosen else ''}>"
                         f"{escape(text)}</option>" for value, text in options)
        return labelled(name, label, f"<select id=\"{key}-{name}\" name=\"{name}\">{listed}</select>")

    endpoint = (choice("endpoint", "Endpoint", [(name, name) for name in form.endpoints],
                       form.endpoints[0]) if len(form.endpoints) > 1 else
                f"<input type=\"hidden\" name=\"endpoint\" value=\"{form.endpoints[0]}\">")
    fields = [endpoint,
              choice("merchant", "Merchant", [("", "every merchant"),
                                               *((name, name) for name in merchants)], ""),
              number("count", "Count", form.defaults.get("count", "1"), min="1", step="1")]
    if "seconds" in form.defaults:
        fields.append(number("seconds", "Seconds", form.defaults["seconds"], min="0", step="any"))
    if form.fault == "error":
        fields.append(number("status", "Status", form.defaults["status"], min="400", max="599",
                             step="1"))
        fields.append(labelled("detail", "Detail", f"<input type=\"text\" id=\"{key}-detail\" "
                                                   "name=\"detail\" placeholder=\"the status's phrase\">"))
    if form.fault == "malformed":
        fields.append(choice("body", "Body", [(body, body) for body in MALFORMED_BODIES],
                             form.defaults["body"]))
    where = " or ".join(form.endpoints)
    return post_form(
        FAULTS_PATH, form_token,
        f"<fieldset><legend>{escape(where)}: {escape(form.fault)} <span class=\"what\">"
        f"{escape(form.summary)}</span></legend>"
        f"<input type=\"hidden\" name=\"fault\" value=\"{form.fault}\">{''.join(fields)}"
        f"<button type=\"submit\" id=\"add-{key}\">Add rule</button></fieldset>",
        f" class=\"rule-form\" id=\"rule-{key}\"")
