"""The include graph between the folders of src/, and a check of its two rules.

    python3 scripts/include_graph.py [SRC]

Prints one line per edge, "from -> to (n includes)", with the folders of the pure core
(src/core/...) first. Exits 1, naming the offending edges, if the pure core includes anything
outside src/core/ (it must never see the Python boundary) or if the folders include each other
in a cycle."""

from __future__ import annotations

import re
import sys
from collections import Counter
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent / "src"  # or the directory given as the argument
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(path: str) -> str:
    parent = str(Path(path).parent)
    return "src" if parent == "." else parent


def edges(src: Path) -> Counter[tuple[str, str]]:
    found: Counter[tuple[str, str]] = Counter()
    for file in sorted(src.rglob("*")):
        if file.suffix not in (".hpp", ".cpp"):
            continue
        source = folder_of(str(file.relative_to(src)))
        for included in INCLUDE.findall(file.read_text(encoding="utf-8")):
            target = folder_of(included)
            if target != source:
                found[(source, target)] += 1
    return found


def is_core(folder: str) -> bool:
    return folder == "core" or folder.startswith("core/")


def cycles(graph: dict[str, set[str]]) -> list[list[str]]:
    """Every strongly connected group of more than one folder (Tarjan)."""
    index: dict[str, int] = {}
    low: dict[str, int] = {}
    stack: list[str] = []
    on_stack: set[str] = set()
    groups: list[list[str]] = []

    def visit(node: str) -> None:
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for target in sorted(graph.get(node, ())):
            if target not in index:
                visit(target)
                low[node] = min(low[node], low[target])
            elif target in on_stack:
                low[node] = min(low[node], index[target])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return groups


def main() -> int:
    found = edges(Path(sys.argv[1]) if len(sys.argv) > 1 else SRC)
    for (source, target), count in sorted(found.items(), key=lambda item: (not is_core(item[0][0]), item[0])):
        print(f"{source} -> {target} ({count} include{'s' if count != 1 else ''})")
    graph: dict[str, set[str]] = {}
    for source, target in found:
        graph.setdefault(source, set()).add(target)
    backward = [(s, t) for s, t in found if is_core(s) and not is_core(t)]
    looped = cycles(graph)
    for source, target in backward:
        print(f"error: the pure core includes the boundary: {source} -> {target}", file=sys.stderr)
    for group in looped:
        print(f"error: folders include each other in a cycle: {', '.join(group)}", file=sys.stderr)
    return 1 if backward or looped else 0


if __name__ == "__main__":
    sys.exit(main())
