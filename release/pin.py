#!/usr/bin/env python3
"""Writes release/toolchain.lock (or the file named) from this machine's
installed packages: its Debian release, the time (the snapshot of Debian's
archive that holds these versions), and the version of every package that
shapes a byte of setup.exe or medium.iso. A commit then changes the pin.
Run it with Debian's /usr/bin/python3 (python3-apt).

usage: pin.py [LOCK]

What shapes the bytes: the tools the release runs, and what they load of
the source packages below: the compilers, binutils, MinGW-w64's headers
and libraries, CMake, make, icoutils, Python and the libraries the release
tooling uses, xorriso and its libraries.
"""
import datetime
import os
import re
import subprocess
import sys

import apt_pkg

TOOLS = ["gcc-mingw-w64-i686-posix", "g++-mingw-w64-i686-posix", "gcc-mingw-w64-x86-64-posix",
         "g++-mingw-w64-x86-64-posix", "binutils-mingw-w64-i686", "binutils-mingw-w64-x86-64",
         "mingw-w64-i686-dev", "mingw-w64-x86-64-dev", "cmake", "make", "icoutils", "python3",
         "python3-pefile", "python3-pycdlib", "python3-asn1crypto", "python3-cryptography", "xorriso"]
SOURCES = re.compile(r"gcc-mingw-w64|binutils-mingw-w64|mingw-w64|cmake|make-dfsg|icoutils|python3-defaults|"
                     r"python3\.\d+|(python-)?pefile|(python-)?pycdlib|asn1crypto|python-cryptography|python-cffi|libisoburn|libisofs|"
                     r"libburn")
LOCK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "toolchain.lock")


def main(arguments):
    if len(arguments) > 1:
        sys.exit("usage: pin.py [LOCK]")
    apt_pkg.init()
    listed = subprocess.run(["dpkg-query", "-W", "-f=${Package}\t${db:Status-Abbrev}\t${Version}\t"
                             "${source:Package}\t${Pre-Depends}, ${Depends}\t${Provides}\n"],
                            capture_output=True, text=True, check=True).stdout
    packages, providers = {}, {}
    for line in listed.splitlines():
        name, status, version, source, depends, provides = line.split("\t")
        if status.startswith("ii") and name not in packages:
            packages[name] = (version, source, depends.strip(", "))
            for group in apt_pkg.parse_depends(provides) if provides else []:
                providers.setdefault(group[0][0], name)
    absent = [tool for tool in TOOLS if tool not in packages]
    if absent:
        sys.exit(f"pin.py: not installed here: {' '.join(absent)} (cmake/install-deps.sh installs them)")
    # Every package the tools need, the first installed choice of each
    # alternative; pinned, those of the source packages that shape the bytes.
    seen, todo = set(), list(TOOLS)
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        for group in apt_pkg.parse_depends(packages[name][2]) if packages[name][2] else []:
            found = next((choice.split(":")[0] for choice, _, _ in group
                          if choice.split(":")[0] in packages or choice.split(":")[0] in providers), None)
            if found:
                todo.append(found if found in packages else providers[found])
    pinned = sorted(name for name in seen if SOURCES.fullmatch(packages[name][1]))
    release = re.search(r"^VERSION_CODENAME=(\w+)$", open("/etc/os-release").read(), re.M)
    if not release:
        sys.exit("pin.py: /etc/os-release names no Debian release")
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    path = arguments[0] if arguments else LOCK
    with open(path + ".partial", "w", encoding="utf-8") as file:
        file.write("# The toolchain every release of this commit is built with, and every check of one\n"
                   "# rebuilt with (release/toolchain.py); written by release/pin.py from a machine's\n"
                   "# installed packages. snapshot: when these were the archive's versions.\n"
                   f"release {release.group(1)}\nsnapshot {now}\n")
        file.writelines(f"package {name} {packages[name][0]}\n" for name in pinned)
    os.replace(path + ".partial", path)
    print(f"pin.py: {path}: {release.group(1)}, {len(pinned)} packages, as of {now}")


if __name__ == "__main__":
    main(sys.argv[1:])
