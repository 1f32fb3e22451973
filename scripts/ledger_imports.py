"""The imports of the ledger package, and a check that it stays free of every framework.

    python3 scripts/ledger_imports.py [PACKAGE_DIR]

Prints one line per imported module, "file -> module", for python/vemrat_pay_ledger (or the
directory given). Exits 1, naming each offending import, if the ledger imports anything but
the standard library, the `vemrat_pay` module and itself: no web framework, no ORM (Django,
SQLAlchemy, ...), no companion package that depends on one. An import by a computed name
(importlib.import_module, __import__) is refused as well, since it cannot be checked."""

from __future__ import annotations

import ast
import sys
from pathlib import Path

PACKAGE = Path(__file__).resolve().parent.parent / "python" / "vemrat_pay_ledger"
ALLOWED = frozenset(sys.stdlib_module_names) | {"vemrat_pay", "vemrat_pay_ledger", "__future__"}
DYNAMIC = ("import_module", "__import__")


def imports(tree: ast.AST) -> list[tuple[int, str]]:
    """(line, module) of each absolute import; computed ones as "<computed: ...>"."""
    found: list[tuple[int, str]] = []
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            found.extend((node.lineno, alias.name) for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
            found.append((node.lineno, node.module))
        elif isinstance(node, ast.Call):
            name = node.func.attr if isinstance(node.func, ast.Attribute) else getattr(node.func, "id", "")
            if name in DYNAMIC:
                found.append((node.lineno, f"<computed: {ast.unparse(node)}>"))
    return sorted(found)


def main() -> int:
    package = Path(sys.argv[1]) if len(sys.argv) > 1 else PACKAGE
    offending = []
    for file in sorted(package.rglob("*.py")):
        name = file.relative_to(package)
        for line, module in imports(ast.parse(file.read_text(encoding="utf-8"), str(file))):
            print(f"{name} -> {module}")
            if module.partition(".")[0] not in ALLOWED:
                offending.append(f"{name}:{line} imports {module}")
    for problem in offending:
        print(f"error: the ledger must not depend on a framework: {problem}", file=sys.stderr)
    return 1 if offending else 0


if __name__ == "__main__":
    sys.exit(main())
