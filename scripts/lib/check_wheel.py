"""Checks a built wheel before it is tagged: what it holds, and what its extension module asks
of the system that loads it. Prints one summary line per wheel; exits non-zero with the reasons
when a check fails.

Usage: python check_wheel.py WHEEL...   (needs pyelftools, which auditwheel brings)
"""

import io
import re
import sys
import zipfile

from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerSymSection

# The files a wheel may hold besides its .dist-info directory.
EXPECTED_FILES = [
    re.compile(r"vemrat_pay\.(cpython-3\d+-(x86_64|aarch64)-linux-gnu|abi3)\.so"),
    re.compile(r"vemrat_pay-stubs/__init__\.pyi"),
    re.compile(r"vemrat_pay_(sandbox|ledger|django|keepalive|sqlalchemy|fastapi|flask)/([a-z0-9_]+/)*[a-z0-9_]+\.py"),
    re.compile(r"vemrat_pay_(sandbox|ledger|django|keepalive|sqlalchemy|fastapi|flask)/py\.typed"),
    re.compile(r"vemrat_pay_django/README\.md"),
    re.compile(r"vemrat_pay_sandbox/pages/[a-z0-9_]+\.js"),
    re.compile(r"vemrat_pay_sqlalchemy/migrations/script\.py\.mako"),
]
# Symbols a module may leave to the interpreter that loads it.
INTERPRETER_SYMBOL = re.compile(r"_?Py[A-Za-z_]|_Py_")


def undefined_symbols(elf):
    """(name, version or None, weak) for every symbol the module expects from elsewhere."""
    dynsym = elf.get_section_by_name(".dynsym")
    versions = next((s for s in elf.iter_sections() if isinstance(s, GNUVerSymSection)), None)
    version_names = {}
    needs = elf.get_section_by_name(".gnu.version_r")
    if needs is not None:
        for _, auxiliaries in needs.iter_versions():
            for auxiliary in auxiliaries:
                version_names[auxiliary.entry["vna_other"]] = auxiliary.name
    for index, symbol in enumerate(dynsym.iter_symbols()):
        if index == 0 or symbol["st_shndx"] != "SHN_UNDEF":
            continue
        version = None
        if versions is not None:
            version = version_names.get(versions.get_symbol(index).entry["ndx"])
        yield symbol.name, version, symbol["st_info"]["bind"] == "STB_WEAK"


def exported_symbols(elf):
    return [
        symbol.name
        for symbol in elf.get_section_by_name(".dynsym").iter_symbols()
        if symbol["st_shndx"] != "SHN_UNDEF" and symbol["st_info"]["bind"] != "STB_LOCAL" and symbol.name
    ]


def check(path):
    problems = []
    with zipfile.ZipFile(path) as wheel:
        names = [name for name in wheel.namelist() if ".dist-info/" not in name]
        for name in names:
            if not any(pattern.fullmatch(name) for pattern in EXPECTED_FILES):
                problems.append(f"unexpected file {name}")
        modules = [name for name in names if name.endswith(".so")]
        if len(modules) != 1:
            return [f"expected one extension module, found {modules}"], ""
        data = wheel.read(modules[0])

    elf = ELFFile(io.BytesIO(data))
    debug = [s.name for s in elf.iter_sections() if s.name.startswith((".debug", ".zdebug")) or s.name == ".symtab"]
    if debug:
        problems.append(f"not stripped: {', '.join(debug)}")
    exported = exported_symbols(elf)
    if exported != ["PyInit_vemrat_pay"]:
        problems.append(f"exports {exported}, not only PyInit_vemrat_pay")
    glibc = []
    for name, version, weak in undefined_symbols(elf):
        if version is not None:
            if version.startswith("GLIBC_"):
                glibc.append(tuple(int(part) for part in version[6:].split(".")))
        elif not weak and not INTERPRETER_SYMBOL.match(name):
            # An unversioned symbol that is not the interpreter's binds to whatever the loading
            # system has, or to nothing: the tag auditwheel derives would not cover it.
            problems.append(f"unversioned symbol {name}")
    newest = ".".join(map(str, max(glibc))) if glibc else "none"
    summary = f"{path}: {len(data):,} bytes of module, newest glibc symbol version {newest}"
    return problems, summary


def main(paths):
    failed = False
    for path in paths:
        problems, summary = check(path)
        if problems:
            failed = True
            print(f"{path}:", *problems, sep="\n    ", file=sys.stderr)
        else:
            print(summary)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
