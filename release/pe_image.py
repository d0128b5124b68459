"""What a launcher image says of itself, read with Debian's python3-pefile,
and where two images first differ: for verify.sh, and for signing, which
compares the signed file with the linked one.
"""
import re

import pefile

from shown import shown

LAUNCHER_LIMIT = 8 << 20  # far past any launcher, icon and signature chain included
VERSION_LIMIT = 1 << 16  # a version resource's length is 16 bits
STRING_LIMIT = 1024  # characters
PRESETS = {0x14C: ("windows", "i686"), 0x8664: ("windows-x64", "x86-64")}
# Version information strings and the branding settings they come from.
STRINGS = {"ProductName": "LAUNCHER_PRODUCT_NAME", "CompanyName": "LAUNCHER_COMPANY_NAME",
           "FileDescription": "LAUNCHER_FILE_DESCRIPTION", "FileVersion": "LAUNCHER_FILE_VERSION",
           "ProductVersion": "LAUNCHER_PRODUCT_VERSION", "LegalCopyright": "LAUNCHER_COPYRIGHT"}
RESOURCE_KINDS = {3: "icon", 14: "icon group", 16: "version information", 24: "manifest"}
WANTED = {*STRINGS, "Comments"}
# Comments: what the image was built from, after "deployment build, " in a
# deployment build.
SOURCE = re.compile(r"(deployment build, )?(commit [0-9a-f]{40}( and uncommitted changes)?|no commit: .*)", re.S)


class Image(pefile.PE):
    """pefile's reader, but for the length of a UTF-16 string it reads: up
    to 64K characters each, however short its structure says it is, which
    makes a crafted version resource of a few thousand unended strings
    minutes of work. No launcher has a string (a resource's name, a version
    key) near STRING_LIMIT; a version string's value is read apart, in full
    (version_strings)."""

    def get_string_u_at_rva(self, rva, max_length=STRING_LIMIT, encoding=None):
        return super().get_string_u_at_rva(rva, min(max_length, STRING_LIMIT), encoding)


class NotLauncher(Exception):
    """Not an image verify.sh can check, in one line."""


def version_strings(pe):
    """The version information's strings, read as the UTF-16 they are (pefile
    hands a character outside the BMP back as two escaped surrogates); each
    ends at its terminating zero, found within the 64 KiB a version resource
    holds at most."""
    strings, data = {}, pe.__data__
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                for key in (key for key in table.entries if key.decode(errors="replace") in WANTED):
                    at = end = table.entries_offsets[key][1]
                    limit = min(len(data), at + VERSION_LIMIT)
                    while True:
                        end = data.find(b"\0\0", end, limit)
                        if end < 0 or (end - at) % 2 == 0:
                            break
                        end += 1
                    strings[key.decode(errors="replace")] = data[at:limit if end < 0 else end].decode(
                        "utf-16-le", "replace")
    return strings


def inspect(data):
    """What is known of a launcher image, or NotLauncher."""
    try:
        pe = Image(data=data)
    except Exception as error:  # pefile's own, or what a hostile header makes of it
        raise NotLauncher(f"not a PE image ({shown(str(error))})")
    end = max((section.PointerToRawData + section.SizeOfRawData for section in pe.sections), default=0)
    if len(data) < end:
        raise NotLauncher(f"a PE image cut short: {len(data)} bytes of {end}")
    machine = pe.FILE_HEADER.Machine
    if machine not in PRESETS:
        raise NotLauncher(f"a PE image for machine {machine:#x}, which no preset builds")
    imports = sorted({entry.dll.decode(errors="replace") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])})
    if imports != ["KERNEL32.dll"]:
        raise NotLauncher(f"a PE image, but not a launcher of this project: it imports "
                          f"{shown(', '.join(imports)) or 'nothing'}")
    strings = version_strings(pe)
    source = SOURCE.fullmatch(strings.get("Comments", ""))
    if not source:
        raise NotLauncher("a PE image, but no launcher that names its commit: not one of this project, "
                          "or built before launchers named theirs")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}" for high, low in
               ((fixed.FileVersionMS, fixed.FileVersionLS), (fixed.ProductVersionMS, fixed.ProductVersionLS))]
    return {"preset": PRESETS[machine], "source": source.group(2), "deployment": bool(source.group(1)),
            "numbers": numbers, "branding": {setting: strings.get(key, "") for key, setting in STRINGS.items()},
            "linker": f"{pe.OPTIONAL_HEADER.MajorLinkerVersion}.{pe.OPTIONAL_HEADER.MinorLinkerVersion}"}


def resources(pe):
    """Each resource's data by type/name/language."""
    found = {}
    label = lambda entry: shown(str(entry.name)) if entry.name is not None else entry.id
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                what = f"resource {label(kind)}/{label(name)}/{label(language)}"
                found[f"{what} ({RESOURCE_KINDS.get(kind.id, 'other')})"] = pe.get_data(
                    data.OffsetToData, data.Size)
    return found


def first_difference(expected, found):
    """The first part of the image found that differs from the one expected,
    both without their signatures (signature.unsigned)."""
    try:
        expected, found = Image(data=expected), Image(data=found)
    except pefile.PEFormatError:
        return "the headers"

    def headers(pe):
        return pe.__data__[:pe.OPTIONAL_HEADER.SizeOfHeaders]

    if headers(expected) != headers(found):
        return "the headers"
    names = lambda pe: [shown(section.Name.rstrip(b"\0").decode(errors="replace")) for section in pe.sections]
    if names(expected) != names(found):
        return f"the sections: {' '.join(names(found))}, where the build has {' '.join(names(expected))}"
    for mine, theirs, name in zip(expected.sections, found.sections, names(found)):
        if mine.get_data() == theirs.get_data():
            continue
        if name == ".rsrc":
            built, shipped = resources(expected), resources(found)
            for what in sorted(set(built) | set(shipped)):
                if built.get(what) != shipped.get(what):
                    return f"{what} in section .rsrc"
        return f"section {name}"
    return "what follows the sections"
