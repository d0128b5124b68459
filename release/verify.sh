#!/usr/bin/env bash
# Checks a shipped setup.exe, or the medium.iso around it, against the commit
# it names: reports its signature, checks that it has exactly the shape the
# build makes, rebuilds that commit in a temporary worktree of this clone
# with the branding read back, and compares byte for byte. "reproduced"
# means the shipped file is exactly that build, with nothing added but the
# signature. The work is release/verify_image.py's.
#
# usage: verify.sh [--installer FILE [--files DIR]] SETUP_EXE_OR_MEDIUM_ISO
# With --installer (and --files), as LAUNCHER_MEDIUM_INSTALLER and
# LAUNCHER_MEDIUM_FILES gave them, the whole medium is rebuilt and compared.
# The file may be hostile: it is only read, never run.
# Exit status: 0 reproduced, 1 not, 2 refused.
set -euo pipefail
export LC_ALL=C.UTF-8
# Debian's Python has pefile and pycdlib.
exec /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/verify_image.py" "$@"
