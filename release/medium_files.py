#!/usr/bin/env python3
"""What the medium holds, judged as Windows reads it.

usage: medium_files.py check FURTHER_FILES
       medium_files.py compare TREE ISO
       medium_files.py programs TREE

programs: every program in the laid-out tree (.exe, .dll, .sys, .msi) that
is unsigned, whose signature is broken, signed with a non-RSA key, which
Smart App Control blocks, or with an MD5 or SHA-1 digest, which Windows no
longer trusts, one line each, as signature.py reads its signature; exit
status 1 if there is one. The launcher itself is signed by
the build.

check: every path of the publisher's further files that Windows would not
read back exactly from the medium, one line each, relative to the folder and
with the rules it breaks; exit status 1 if there is one.

compare: reads the Joliet tree of the ISO image with a reader of its own
(pycdlib: each name's UTF-16 units as written, nothing normalised) and prints
every path whose presence, kind or size differs from the tree it was written
from; exit status 1 if there is one.

Debian's python3-pycdlib and python3-asn1crypto: run it with /usr/bin/python3.
"""
import os
import stat
import struct
import sys

import pycdlib

import signature
from iso_image import joliet_listing
from shown import shown

# Joliet with long names holds 103 UTF-16 units a name; past 240 a path
# outgrows the Joliet limit and, on a drive's root, comes near MAX_PATH.
NAME_LIMIT = 103
PATH_LIMIT = 240
FORBIDDEN = '<>:"\\|?*;'
# Windows opens these as devices, with any extension and in any case.
DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {
    f"{port}{n}" for port in ("COM", "LPT") for n in "0123456789\u00b9\u00b2\u00b3"}
# The medium's own names, level by level: (folder, name, is a folder).
OWN = [("", "setup.exe", False), ("", "autorun.inf", False), ("", "windows", True),
       ("windows", "setup", True), ("windows/setup", "setup.exe", False)]


def units(text):
    """Its length in UTF-16 code units, as Windows counts."""
    return len(text.encode("utf-16-le")) // 2


def upcase_table():
    """Windows' upper case of each UTF-16 unit, from upcase.txt (make_upcase.sh)."""
    table = list(range(0x10000))
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "upcase.txt")) as runs:
        for line in runs:
            if not line.startswith("#"):
                first, last, step, delta = line.split()
                for unit in range(int(first, 16), int(last, 16) + 1, int(step)):
                    table[unit] = unit + int(delta)
    return table


UPCASE = upcase_table()


def folded(name):
    """The name as Windows compares names: each UTF-16 unit through its table."""
    data = name.encode("utf-16-le", "surrogatepass")
    count = len(data) // 2
    upper = struct.pack(f"<{count}H", *(UPCASE[unit] for unit in struct.unpack(f"<{count}H", data)))
    return upper.decode("utf-16-le", "surrogatepass")


def is_control(c):
    return ord(c) < 0x20 or 0x7F <= ord(c) < 0xA0


def name_rules(name):
    """The rules a single name breaks."""
    broken = []
    if units(name) > NAME_LIMIT:
        broken.append(f"a name of {units(name)} characters, over the {NAME_LIMIT} the medium holds")
    if any(is_control(c) for c in name):
        broken.append("a control character")
    held = sorted({c for c in name if c in FORBIDDEN}, key=FORBIDDEN.index)
    if held:
        broken.append("holds " + " ".join(held))
    if name.endswith("."):
        broken.append("ends in a dot")
    elif name.endswith(" "):
        broken.append("ends in a blank")
    device = folded(name.split(".", 1)[0].rstrip(" "))
    if device in DEVICES:
        broken.append(f"the reserved device name {device}")
    return broken


def kind_rule(path, mode):
    if stat.S_ISLNK(mode):
        return "a symbolic link"
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISSOCK(mode):
        return "a socket"
    if stat.S_ISCHR(mode) or stat.S_ISBLK(mode):
        return "a device"
    if stat.S_ISDIR(mode):
        return None if os.access(path, os.R_OK | os.X_OK) else "an unreadable folder"
    return None if os.access(path, os.R_OK) else "unreadable"


def check(root):
    problems = []  # (relative path, rules)

    def visit(folder, relative, relative_units):
        try:
            names = sorted(os.listdir(folder))
        except OSError as error:
            problems.append((relative, [f"cannot be listed: {error.strerror}"]))
            return
        own_here = {folded(o): (o, is_folder) for f, o, is_folder in OWN if f == relative}
        seen = {}  # folded name -> the first name of that spelling
        for raw in names:
            path = os.path.join(folder, raw)
            name = os.fsdecode(raw)
            child = f"{relative}/{name}" if relative else name
            try:
                name.encode("utf-8")
            except UnicodeEncodeError:
                problems.append((child, ["not UTF-8"]))
                continue
            child_units = relative_units + (1 if relative else 0) + units(name)
            mode = os.lstat(path).st_mode
            broken = name_rules(name)
            if child_units > PATH_LIMIT:
                broken.append(f"a path of {child_units} characters, over the {PATH_LIMIT} the medium holds")
            key = folded(name)
            if key in own_here:
                # Only the medium's own folders, spelt as they are, take more files.
                own, own_is_folder = own_here[key]
                if not (name == own and own_is_folder and stat.S_ISDIR(mode)):
                    broken.append(f"stands in for the medium's own {own}")
            elif key in seen:
                broken.append(f"differs only in letter case from {shown(seen[key])}")
            else:
                seen[key] = name
            rule = kind_rule(path, mode)
            if rule:
                broken.append(rule)
            if broken:
                problems.append((child, broken))
            # Below a path too long every path is too long: it is named once.
            if stat.S_ISDIR(mode) and rule is None and child_units <= PATH_LIMIT:
                visit(path, child, child_units)

    visit(os.fsencode(root), "", 0)
    for path, broken in problems:
        print(f"  {shown(path)}: {'; '.join(broken)}")
    return 1 if problems else 0


def listing_of_tree(root):
    entries = {}
    for folder, folders, files in os.walk(os.fsencode(root)):
        for raw in folders + files:
            path = os.path.join(folder, raw)
            relative = os.fsdecode(os.path.relpath(path, os.fsencode(root)))
            status = os.lstat(path)
            entries[relative] = ("dir", None) if stat.S_ISDIR(status.st_mode) else ("file", status.st_size)
    return entries


def listing_of_image(iso):
    image = pycdlib.PyCdlib()
    try:
        image.open(iso)
    except pycdlib.pycdlibexception.PyCdlibException as error:
        print(f"  pycdlib cannot read it: {error}")
        sys.exit(1)
    try:
        return joliet_listing(image)
    finally:
        image.close()


def compare(tree, iso):
    written, read = listing_of_tree(tree), listing_of_image(iso)
    differences = []
    for path in sorted(set(written) | set(read)):
        if path not in read:
            differences.append(f"  {shown(path)}: not in the image")
        elif path not in written:
            differences.append(f"  {shown(path)}: in the image, but not in the tree")
        elif written[path] != read[path]:
            differences.append(f"  {shown(path)}: {written[path]} written, {read[path]} read back")
    print("\n".join(differences))
    return 1 if differences else 0


def program_fault(path):
    """Why Smart App Control, or Windows for a downloaded program, would
    block a program, or None: unsigned, its signature broken, signed with a
    key that is not RSA (as its certificate says), or with a digest weaker
    than SHA-256."""
    report = signature.read_program(path)
    if not report["signed"]:
        return "unsigned"
    if report["broken"]:
        return f"its signature is broken: {report['broken']}"
    if report["key"] != "rsa":
        return "signed with a non-RSA key"
    if report["digest"] in ("md5", "sha1"):
        return f"signed with {signature.DIGEST_NAMES[report['digest']]} digest, which Windows no longer trusts"
    return None


def programs(tree):
    found = []
    for folder, folders, files in os.walk(tree):
        folders.sort()
        for name in sorted(files):
            path = os.path.relpath(os.path.join(folder, name), tree)
            if path == "setup.exe" or os.path.splitext(name)[1].lower() not in (".exe", ".dll", ".sys", ".msi"):
                continue
            fault = program_fault(os.path.join(folder, name))
            if fault:
                found.append(f"  {shown(path)}: {fault}")
    print("\n".join(found))
    return 1 if found else 0


if __name__ == "__main__":
    command, *arguments = sys.argv[1:]
    sys.exit({"check": check, "compare": compare, "programs": programs}[command](*arguments))
