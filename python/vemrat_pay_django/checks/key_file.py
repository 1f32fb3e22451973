"""auth_key.py lines that give a key other than the one their author meant.

The module scans auth_key.py instead of running it: the first line that begins with the
key's name and has an "=" gives everything after the "=", trimmed, with one pair of quotes
removed. So a trailing comment becomes part of the key, and a line such as
`COMMUNITY_KEY_OLD = "..."` above the real one is the one taken. `taken_line` follows the
module's rules; Python's own reading of the same line is the comparison.
"""

from __future__ import annotations

import ast
import io
import os
import sys
import tokenize
from dataclasses import dataclass
from typing import Any

from django.conf import settings
from django.core.checks import CheckMessage, Warning

from .keys import keys_from_file

# Characters with the Unicode White_Space property: what the module trims.
WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
               "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000")

KEY_NAMES = ("COMMUNITY_KEY", "SPONSOR_KEY")


@dataclass(frozen=True)
class TakenLine:
    number: int  # from 1
    text: str  # trimmed
    value: str  # what the module takes as the key


def taken_line(text: str, name: str) -> TakenLine | None:
    """The line of `text` that the module takes the key `name` from, or None."""
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for number, line in enumerate(lines, start=1):
        line = line.removesuffix("\r").strip(WHITE_SPACE)
        if not line.startswith(name) or "=" not in line:
            continue
        raw = line.partition("=")[2].strip(WHITE_SPACE)
        if len(raw) >= 2 and raw[0] == raw[-1] and raw[0] in "\"'":
            raw = raw[1:-1]
        return TakenLine(number, line, raw)
    return None


def python_reading(line: str) -> tuple[str, str | None] | None:
    """The name a line assigns and the str Python gives it (None: not a plain str), or None."""
    try:
        module = ast.parse(line)
    except SyntaxError:
        return None
    if len(module.body) != 1:
        return None
    statement = module.body[0]
    if isinstance(statement, ast.Assign) and len(statement.targets) == 1:
        target, value = statement.targets[0], statement.value
    elif isinstance(statement, ast.AnnAssign) and statement.value is not None:
        target, value = statement.target, statement.value
    else:
        return None
    if not isinstance(target, ast.Name):
        return None
    try:
        literal = ast.literal_eval(value)
    except ValueError:
        literal = None
    return target.id, literal if isinstance(literal, str) else None


def has_comment(line: str) -> bool:
    try:
        return any(token.type == tokenize.COMMENT
                   for token in tokenize.generate_tokens(io.StringIO(line).readline))
    except (tokenize.TokenError, SyntaxError):
        return False


def surprises(text: str) -> list[Warning]:
    """What the module would read from this key file other than Python does."""
    found = []
    for name in KEY_NAMES:
        taken = taken_line(text, name)
        reading = python_reading(taken.text) if taken is not None else None
        if taken is None or reading is None:
            continue
        assigned, python_value = reading
        where = f"auth_key.py line {taken.number}"
        if assigned != name:
            found.append(Warning(
                f"{where} assigns {assigned}, and vemrat_pay takes it for {name}: it uses the "
                f"first line that begins with {name}.",
                hint=f"Move the line for {name} above it, or rename {assigned} so that it does "
                     f"not begin with {name}.", id="vemrat_pay.W013"))
        elif python_value is not None and python_value != taken.value:
            if has_comment(taken.text):
                found.append(Warning(
                    f"{where}: the trailing comment becomes part of {name}.",
                    hint="Put the comment on a line of its own.", id="vemrat_pay.W012"))
            else:
                found.append(Warning(
                    f"{where}: vemrat_pay reads {name} literally, other than Python does "
                    "(escapes, string prefixes and concatenation are not interpreted).",
                    hint=f"Write {name} = \"...\" with the plain key between the quotes.",
                    id="vemrat_pay.W014"))
    return found


def key_file_path() -> str:
    """Where the module looks for auth_key.py (see vemrat_pay's Configuration)."""
    working_space = getattr(settings, "WORKING_SPACE", None)
    if isinstance(working_space, str):
        directory = working_space
    elif os.environ.get("IS_LAN") == "true":
        directory = os.path.dirname(sys.executable)
    else:
        directory = os.getcwd()
    return directory + "/auth_key.py"


def check_key_file(**kwargs: Any) -> list[CheckMessage]:
    if not keys_from_file():
        return []
    try:
        with open(key_file_path(), encoding="utf-8", newline="") as file:
            text = file.read()
    except (OSError, UnicodeDecodeError):
        return []  # reported by vemrat_pay.E010
    return list(surprises(text))
