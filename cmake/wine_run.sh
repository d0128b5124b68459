#!/usr/bin/env bash
# Runs a command of a Windows build under Wine: the build's own prefix (made on
# first use), that architecture's loader, and no add-on installer offered.
#
# usage: wine_run.sh i686|x86_64 PREFIX PROGRAM.exe [ARGUMENT...]
#        wine_run.sh i686|x86_64 PREFIX COMMAND [ARGUMENT...]
# A .exe is started under the loader; any other command runs in Wine's
# environment, with the loader in WINE.
#
# Where the host runs no 32-bit x86 code natively, an i686 run starts nothing,
# says why, and exits 77, which CTest reports as skipped.
set -euo pipefail
arch=$1
export WINEPREFIX=$2
shift 2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case "$arch" in
i686)
    source "$(dirname "${BASH_SOURCE[0]}")/host_arch.sh"
    if ! host_runs_32bit_natively; then
        echo "skipped: the 32-bit build does not run here: $host_32bit_reason"
        exit 77
    fi
    export WINE=/usr/lib/wine/wine
    ;;
x86_64)
    # Debian's wine command would take the 32-bit loader whenever it is
    # installed, even where it cannot run.
    export WINEARCH=win64 WINE=/usr/lib/wine/wine64
    ;;
*)
    echo "wine_run.sh: no such architecture: $arch" >&2
    exit 2
    ;;
esac

# The prefix is made once; tests that start together wait for it.
if [ ! -e "$WINEPREFIX/.made" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9> "$WINEPREFIX.lock"
    flock 9
    if [ ! -e "$WINEPREFIX/.made" ]; then
        echo "making a Wine prefix for $arch (once): $WINEPREFIX" >&2
        rm -rf "$WINEPREFIX"
        "$WINE" wineboot -i > /dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.made"
    fi
    exec 9>&-
fi

case "$1" in
*.exe | *.EXE) exec "$WINE" "$@" ;;
*) exec "$@" ;;
esac
