"""The fault rules in force, taken one use at a time by the requests and callbacks they hit."""

from __future__ import annotations

import itertools
import threading
from collections.abc import Mapping
from dataclasses import replace
from typing import Any

from .rules import FaultRule, parse_rule


class FaultRules:
    """Rules in the order they were added; the first that matches is the one used."""

    def __init__(self, merchants: Mapping[str, str]) -> None:
        self._merchants = merchants
        self._lock = threading.Lock()
        self._rules: list[FaultRule] = []
        self._ids = itertools.count(1)
        # Counts every change to the rules, a use included.
        self.changes = 0

    def add(self, document: object) -> dict[str, Any]:
        """Check and add a rule (see `rules`); the rule as listed."""
        with self._lock:
            rule = parse_rule(document, self._merchants, next(self._ids))
            self._rules.append(rule)
            self.changes += 1
        return rule.as_dict()

    def listed(self) -> list[dict[str, Any]]:
        """The rules in force, each with the uses it has left as `count`."""
        with self._lock:
            return [rule.as_dict() for rule in self._rules]

    def clear(self) -> None:
        with self._lock:
            self._rules.clear()
            self.changes += 1

    def remove(self, rule_id: int) -> bool:
        """Remove the rule with this id; False if none is in force."""
        with self._lock:
            kept = [rule for rule in self._rules if rule.id != rule_id]
            if len(kept) == len(self._rules):
                return False
            self._rules = kept
            self.changes += 1
            return True

    def take(self, endpoint: str, merchant: str | None) -> FaultRule | None:
        """Use up one application of the first rule for this endpoint and merchant."""
        with self._lock:
            for index, rule in enumerate(self._rules):
                if rule.endpoint == endpoint and rule.merchant in (None, merchant):
                    if rule.count == 1:
                        del self._rules[index]
                    else:
                        self._rules[index] = replace(rule, count=rule.count - 1)
                    self.changes += 1
                    return rule
        return None
