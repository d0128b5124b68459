#!/usr/bin/env bash
# Runs a command of a Windows build under Wine: the build's own prefix (made on
# first use), that architecture's loader, and no add-on installer offered.
#
# usage: wine_run.sh i686|x86_64 PREFIX PROGRAM.exe [ARGUMENT...]
#        wine_run.sh i686|x86_64 PREFIX COMMAND [ARGUMENT...]
#        wine_run.sh i686|x86_64 PREFIX serve|end   (a suite's Wine, kept up from start to end)
# A .exe is started under the loader; any other command runs in Wine's
# environment, with the loader in WINE.
#
# Where the host runs no 32-bit x86 code natively, an i686 run starts nothing,
# says why, and exits 77, which CTest reports as skipped.
#
# The build folder that holds the prefix is drive T: in it, so that the
# Windows side names its files T:\... whatever letters the checkout's own
# path holds; Wine runs under a UTF-8 locale whatever the caller's. Sourced,
# this script only defines win_path.

# The Windows path of a Unix path: T:\... in the build folder WINE_TREE,
# Z:\... (the Linux root) elsewhere.
win_path() {
    local path=$1
    case $path in
    "${WINE_TREE:-/nowhere}"/*) path="T:${path#"$WINE_TREE"}" ;;
    *) path="Z:$path" ;;
    esac
    printf '%s' "${path//\//\\}"
}
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

set -euo pipefail
arch=$1
export WINEPREFIX=$2
shift 2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINE_TREE
WINE_TREE=$(dirname "$WINEPREFIX")
# Without a UTF-8 locale Wine cannot name files outside ASCII at all; one
# that a case sets (ja_JP.UTF-8 for code page 932) is kept.
[[ ${LC_ALL:-} =~ \.(UTF-8|utf8)$ ]] || export LC_ALL=C.UTF-8

case "$arch" in
i686)
    # shellcheck source=cmake/host_arch.sh
    source "$(dirname "${BASH_SOURCE[0]}")/host_arch.sh"
    if ! windows_i686_runs; then
        # shellcheck disable=SC2154 # host_arch.sh sets it
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

# The prefix and its drive T: are made once; tests that start together wait.
tree_drive=$WINEPREFIX/dosdevices/t:
if [ ! -e "$WINEPREFIX/.made" ] || [ ! -L "$tree_drive" ]; then
    mkdir -p "$WINE_TREE"
    exec 9> "$WINEPREFIX.lock"
    flock 9
    if [ ! -e "$WINEPREFIX/.made" ]; then
        echo "making a Wine prefix for $arch (once): $WINEPREFIX" >&2
        rm -rf "$WINEPREFIX"
        "$WINE" wineboot -i > "$WINEPREFIX.log" 2>&1 && wineserver -w || {
            echo "wine_run.sh: Wine could not make the prefix $WINEPREFIX: $(tail -1 "$WINEPREFIX.log")" >&2
            exit 1
        }
        touch "$WINEPREFIX/.made"
    fi
    [ -L "$tree_drive" ] || ln -s "$WINE_TREE" "$tree_drive"
    exec 9>&-
fi

case "$1" in
serve)
    # One Windows process for a whole suite, holding nothing of the tests'
    # (its output, and every descriptor a test runner leaves open, closed):
    # so the server never ends between two cases, which a client that
    # connects just then sees as "recvmsg: Connection reset by peer", and
    # Wine's own processes, which the first client starts, hold no test's
    # output open. It waits for a line that never comes, for 30 minutes at
    # most; "end" ends it with the server.
    /usr/bin/python3 - "$WINE" "$WINEPREFIX.serving" <<'PY'
import subprocess, sys
null = subprocess.DEVNULL
waiting = subprocess.Popen(["sleep", "1800"], stdin=null, stdout=subprocess.PIPE, stderr=null, start_new_session=True)
subprocess.Popen([sys.argv[1], "cmd.exe", "/c", "set /p _="], stdin=waiting.stdout, stdout=null, stderr=null,
                 start_new_session=True)
open(sys.argv[2], "w").write(f"{waiting.pid}\n")
subprocess.run([sys.argv[1], "cmd.exe", "/c", "exit"], stdin=null, stdout=null, stderr=null, check=True)
PY
    ;;
end)
    wineserver -k 2> /dev/null || true
    [ ! -s "$WINEPREFIX.serving" ] || kill "$(cat "$WINEPREFIX.serving")" 2> /dev/null || true
    rm -f "$WINEPREFIX.serving"
    ;;
"$WINE_TREE"/*.exe | "$WINE_TREE"/*.EXE) exec "$WINE" "$(win_path "$1")" "${@:2}" ;;
*.exe | *.EXE) exec "$WINE" "$@" ;;
*) exec "$@" ;;
esac
