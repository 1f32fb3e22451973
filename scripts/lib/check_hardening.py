"""Checks how the module was compiled, from what was built: the extension module itself names no
path of the build machine and enters its code through an indirect-branch target (CET on x86-64,
BTI or PAC on aarch64), and the object files of its own sources, in the CMake build tree, carry a
stack protector, calls checked by _FORTIFY_SOURCE and the notes of that control-flow protection. Prints one line per check; exits non-zero with the
reasons when one fails.

Usage: python check_hardening.py MODULE.so|WHEEL [BUILD_TREE]   (needs pyelftools)
"""

import io
import re
import sys
import zipfile
from pathlib import Path
from typing import NamedTuple

from elftools.elf.elffile import ELFFile

# An absolute path to a source file of the module: the source tree's own files are named relative
# to it ("src/operations/verify_callback.cpp").
ABSOLUTE_SOURCE_PATH = re.compile(rb"/[\x21-\x7e]*?/src/(?:lib\.cpp|(?:core|python|classes|operations)/[\w/]+\.[ch]pp)")


class Protection(NamedTuple):
    """An architecture's control-flow protection: the instructions an indirect branch may land on,
    and the feature bits of the GNU property note that an object compiled with it carries."""

    name: str
    landing_pads: list[bytes]
    note_property: str
    features: int


PROTECTIONS = {
    # endbr64; the IBT and SHSTK bits
    "EM_X86_64": Protection("CET", [bytes.fromhex("f30f1efa")], "GNU_PROPERTY_X86_FEATURE_1_AND", 1 | 2),
    # bti c, or paciasp (an implicit landing pad); the BTI and PAC bits
    "EM_AARCH64": Protection("BTI/PAC", [bytes.fromhex("5f2403d5"), bytes.fromhex("3f2303d5")],
                             "GNU_PROPERTY_AARCH64_FEATURE_1_AND", 1 | 2),
}
# Object files of the module's own sources in a CMake build tree.
OWN_OBJECTS = ("CMakeFiles/vemrat_core.dir/src", "CMakeFiles/vemrat_pay.dir/src")


def absolute_source_paths(data):
    return sorted({match.group().decode() for match in ABSOLUTE_SOURCE_PATH.finditer(data)})


def entry_point_offset(elf, name):
    """The file offset of the code of the dynamic symbol `name`, or None."""
    symbols = elf.get_section_by_name(".dynsym").get_symbol_by_name(name) or []
    for symbol in symbols:
        address = symbol["st_value"]
        for segment in elf.iter_segments("PT_LOAD"):
            if segment["p_vaddr"] <= address < segment["p_vaddr"] + segment["p_filesz"]:
                return address - segment["p_vaddr"] + segment["p_offset"]
    return None


def note_features(elf, note_property):
    """The feature bits of `note_property` in the .note.gnu.property notes (0 if there are none)."""
    features = 0
    for section in elf.iter_sections("SHT_NOTE"):
        for note in section.iter_notes():
            if note["n_type"] != "NT_GNU_PROPERTY_TYPE_0":
                continue
            for prop in note["n_desc"]:
                if prop["pr_type"] == note_property:
                    features |= prop["pr_data"]
    return features


def undefined_symbols(elf):
    symtab = elf.get_section_by_name(".symtab")
    if symtab is None:
        return set()
    return {symbol.name for symbol in symtab.iter_symbols() if symbol["st_shndx"] == "SHN_UNDEF" and symbol.name}


def has_code(elf):
    return any(section["sh_flags"] & 0x4 and section["sh_size"] for section in elf.iter_sections())


def module_bytes(path):
    """The extension module's bytes, from the file itself or from the wheel that holds it."""
    if not str(path).endswith(".whl"):
        return Path(path).read_bytes()
    with zipfile.ZipFile(path) as wheel:
        modules = [name for name in wheel.namelist() if re.fullmatch(r"vemrat_pay\.[\w.-]+\.so", name)]
        return wheel.read(modules[0]) if len(modules) == 1 else b""


def module_problems(path):
    data = module_bytes(path)
    if not data.startswith(b"\x7fELF"):
        return [f"{path} holds no extension module"]
    problems = [f"{path} names a path of the build machine: {found}" for found in absolute_source_paths(data)]
    elf = ELFFile(io.BytesIO(data))
    protection = PROTECTIONS.get(elf["e_machine"])
    if protection is None:
        return [*problems, f"{path}: no control-flow protection known for {elf['e_machine']}"]
    offset = entry_point_offset(elf, "PyInit_vemrat_pay")
    if offset is None:
        problems.append(f"{path} exports no PyInit_vemrat_pay")
    elif data[offset:offset + 4] not in protection.landing_pads:
        problems.append(f"{path}: PyInit_vemrat_pay does not begin with a landing pad of {protection.name}")
    return problems


def object_problems(build_tree):
    objects = sorted(path for part in OWN_OBJECTS for path in Path(build_tree, part).rglob("*.o"))
    if not objects:
        return [f"{build_tree} holds no object file of the module's sources"], "no objects", []
    problems = []
    protected = 0
    fortified = []
    for path in objects:
        with open(path, "rb") as file:
            elf = ELFFile(file)
            if not has_code(elf):
                continue
            undefined = undefined_symbols(elf)
            protected += "__stack_chk_fail" in undefined
            fortified += [name for name in undefined if re.fullmatch(r"__\w+_chk", name) and name != "__stack_chk_fail"]
            protection = PROTECTIONS.get(elf["e_machine"])
            if protection and note_features(elf, protection.note_property) & protection.features != protection.features:
                problems.append(f"{path}: no {protection.name} note")
    # Only functions with arrays or addressed locals get a canary, so not every object calls it.
    if not protected:
        problems.append(f"no object under {build_tree} has a stack protector (none calls __stack_chk_fail)")
    if not fortified:
        problems.append(f"no object under {build_tree} calls a function checked by _FORTIFY_SOURCE (__*_chk)")
    return problems, f"{len(objects)} objects, {protected} with a stack protector", sorted(set(fortified))


def main(arguments):
    if not 1 <= len(arguments) <= 2:
        print(__doc__, file=sys.stderr)
        return 2
    problems = module_problems(arguments[0])
    print(f"{arguments[0]}: {'no build-machine path, protected entry point' if not problems else 'see the errors'}")
    if len(arguments) == 2:
        found, counts, fortified = object_problems(arguments[1])
        print(f"{arguments[1]}: {counts}; fortified calls: {', '.join(fortified) or 'none'}")
        problems += found
    for problem in problems:
        print(f"error: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
