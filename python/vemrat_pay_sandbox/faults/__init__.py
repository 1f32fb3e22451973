"""Fault injection: rules that make the next requests or callbacks of a merchant go wrong."""

from .registry import FaultRules
from .rules import FaultRule

__all__ = ["FaultRule", "FaultRules"]
