#!/usr/bin/env python3
"""Reads a shipped setup.exe, or the medium.iso around it, for verify.sh,
with Debian's python3-pefile and python3-pycdlib (run it with
/usr/bin/python3). The file is only read, never run.

usage: verify_image.py extract ISO OUT   copies the image's root setup.exe to OUT
       verify_image.py facts EXE         what verify.sh needs to know of the image,
                                         as NAME=VALUE entries, each ending in NUL
       verify_image.py differs A B       names the first part of B that differs from A
A file that is not what is asked for is refused with one line on standard
error, exit status 2.
"""
import sys

import pefile
import pycdlib

PRESETS = {0x14C: "windows", 0x8664: "windows-x64"}
# Version information strings and the branding settings they come from.
STRINGS = {"ProductName": "LAUNCHER_PRODUCT_NAME", "CompanyName": "LAUNCHER_COMPANY_NAME",
           "FileDescription": "LAUNCHER_FILE_DESCRIPTION", "FileVersion": "LAUNCHER_FILE_VERSION",
           "ProductVersion": "LAUNCHER_PRODUCT_VERSION", "LegalCopyright": "LAUNCHER_COPYRIGHT"}
RESOURCE_KINDS = {3: "icon", 14: "icon group", 16: "version information", 24: "manifest"}


def refuse(message):
    print(message, file=sys.stderr)
    sys.exit(2)


def image(path):
    try:
        return pefile.PE(path)
    except pefile.PEFormatError as error:
        refuse(f"not a PE image ({error})")


def extract(iso, out):
    medium = pycdlib.PyCdlib()
    try:
        medium.open(iso)
        medium.get_file_from_iso(out, joliet_path="/setup.exe")
    except pycdlib.pycdlibexception.PyCdlibException:
        refuse("not an ISO image with setup.exe at its root")


def facts(path):
    pe = image(path)
    if pe.FILE_HEADER.Machine not in PRESETS:
        refuse(f"a PE image for machine {pe.FILE_HEADER.Machine:#x}, which no preset builds")
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update((k.decode(), v.decode()) for k, v in table.entries.items())
    fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    numbers = [f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}" for high, low in
               ((fixed.FileVersionMS, fixed.FileVersionLS), (fixed.ProductVersionMS, fixed.ProductVersionLS))
               ] if fixed else ["none", "none"]
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    entries = [f"PRESET={PRESETS[pe.FILE_HEADER.Machine]}", f"SIGNED={1 if security.Size else 0}",
               f"LINKER={pe.OPTIONAL_HEADER.MajorLinkerVersion}.{pe.OPTIONAL_HEADER.MinorLinkerVersion}",
               f"VERSION_NUMBERS=file {numbers[0]}, product {numbers[1]}"]
    entries += [f"{setting}={strings.get(key, '')}" for key, setting in STRINGS.items()]
    sys.stdout.buffer.write("".join(entry + "\0" for entry in entries).encode())


def resources(pe):
    """Each resource's data by type/name/language."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    label = lambda entry: str(entry.name) if entry.name is not None else entry.id
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                what = f"resource {label(kind)}/{label(name)}/{label(language)}"
                found[f"{what} ({RESOURCE_KINDS.get(kind.id, 'other')})"] = pe.get_data(
                    data.OffsetToData, data.Size)
    return found


def differs(expected_path, found_path):
    expected, found = image(expected_path), image(found_path)
    def headers(pe):
        # The checksum sums the whole file: a change anywhere shows there first.
        data = bytearray(pe.__data__[:pe.OPTIONAL_HEADER.SizeOfHeaders])
        at = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        data[at:at + 4] = bytes(4)
        return data

    if headers(expected) != headers(found):
        return "the headers"
    names = lambda pe: [section.Name.rstrip(b"\0").decode(errors="replace") for section in pe.sections]
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
    return "the checksum, or what follows the sections"


if __name__ == "__main__":
    command, *arguments = sys.argv[1:]
    if command == "extract":
        extract(*arguments)
    elif command == "facts":
        facts(*arguments)
    else:
        print(differs(*arguments))
