#!/usr/bin/env bash
# Checks a shipped setup.exe, or the medium.iso around it, against the commit
# it names: reads its signature, which must have the one shape the build
# makes, builds that commit in a temporary clone of this one (only a commit
# a branch or tag of this clone holds: its code runs on this machine) with
# the branding read back, and compares byte for byte; a medium is laid out
# again whole, by that commit's layout step from what it holds, and compared
# byte for byte. "reproduced" means every byte is the build's, the signature
# and the publisher's files aside. The work is release/verify.py's.
#
# usage: verify.sh [--archive ARCHIVES] [--installer FILE [--files DIR]] SETUP_EXE_OR_MEDIUM_ISO
# With --installer (and --files), as LAUNCHER_MEDIUM_INSTALLER and
# LAUNCHER_MEDIUM_FILES gave them, the medium is laid out from those.
# The file may be hostile: it is only read, never run.
# Both are rebuilt with the commit's pinned toolchain (release/toolchain.py):
# this machine's where it is exactly that, else in a root made from the pin,
# from ARCHIVES (a ;-list of Debian archives) where given.
# Exit status: 0 reproduced, 1 not, 2 refused, 3 cannot be checked here.
set -euo pipefail
export LC_ALL=C.UTF-8
# Debian's Python has pefile, pycdlib and asn1crypto.
exec /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/verify.py" "$@"
