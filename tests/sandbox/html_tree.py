"""A page's HTML as a tree of elements, for tests that read pages as a browser would parse them
(the standard library's parser: entities decoded, text as the reader sees it)."""

from __future__ import annotations

from collections.abc import Callable, Iterator
from html.parser import HTMLParser

_VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source",
         "track", "wbr"}


class Element:
    def __init__(self, tag: str, attrs: dict[str, str | None], parent: Element | None) -> None:
        self.tag = tag
        self.attrs = attrs
        self.parent = parent
        self.children: list[Element | str] = []

    def get(self, name: str, default: str | None = None) -> str | None:
        return self.attrs.get(name, default)

    @property
    def classes(self) -> list[str]:
        return (self.attrs.get("class") or "").split()

    @property
    def text(self) -> str:
        return "".join(child if isinstance(child, str) else child.text for child in self.children)

    def iter(self) -> Iterator[Element]:
        for child in self.children:
            if isinstance(child, Element):
                yield child
                yield from child.iter()

    def find_all(self, tag: str = "", test: Callable[[Element], bool] = lambda element: True,
                 **attrs: str) -> list[Element]:
        """Descendants with this tag (any when empty) and attributes (`class_` names a class)."""
        found = []
        for element in self.iter():
            if tag and element.tag != tag:
                continue
            wanted_class = attrs.get("class_")
            if wanted_class is not None and wanted_class not in element.classes:
                continue
            if any(element.attrs.get(name) != value for name, value in attrs.items()
                   if name != "class_"):
                continue
            if test(element):
                found.append(element)
        return found

    def find(self, tag: str = "", **attrs: str) -> Element:
        found = self.find_all(tag, **attrs)
        assert found, f"no <{tag or '*'}> with {attrs}"
        return found[0]


class _Builder(HTMLParser):
    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.root = Element("#document", {}, None)
        self.current = self.root

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        element = Element(tag, dict(attrs), self.current)
        self.current.children.append(element)
        if tag not in _VOID:
            self.current = element

    def handle_startendtag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        self.current.children.append(Element(tag, dict(attrs), self.current))

    def handle_endtag(self, tag: str) -> None:
        element: Element | None = self.current
        while element is not None and element.tag != tag:
            element = element.parent
        if element is not None and element.parent is not None:
            self.current = element.parent

    def handle_data(self, data: str) -> None:
        self.current.children.append(data)


def parse(html: str) -> Element:
    builder = _Builder()
    builder.feed(html)
    builder.close()
    return builder.root


def form_fields(form: Element) -> dict[str, str]:
    """What submitting the form as it stands sends: each named input's value and each select's
    selected option (its first one when none is marked)."""
    fields: dict[str, str] = {}
    for element in form.iter():
        name = element.get("name")
        if not name or "disabled" in element.attrs:
            continue
        if element.tag == "input":
            fields[name] = element.get("value") or ""
        elif element.tag == "select":
            options = element.find_all("option")
            chosen = [option for option in options if "selected" in option.attrs] or options[:1]
            fields[name] = chosen[0].get("value") or "" if chosen else ""
    return fields
