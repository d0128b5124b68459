#!/usr/bin/env bash
# Checks of setup.exe as shipped.
# usage: image_checks.sh imports|size|subsystem|icon|version setup.exe
set -euo pipefail
check=$1
exe=$2
objdump=i686-w64-mingw32-objdump
fail() { echo "FAIL $check: $*" >&2; exit 1; }

case "$check" in
imports)
    # KERNEL32 alone, and of it nothing that allocates.
    dlls=$($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
    [ "$dlls" = KERNEL32.dll ] || fail "imports [$dlls]"
    allowed='CloseHandle CreateProcessW ExitProcess GetACP GetCPInfo GetCommandLineA GetCommandLineW
        GetCurrentThreadId GetModuleFileNameA GetProcAddress GetSystemDirectoryA GetVersion
        LoadLibraryA MultiByteToWideChar WinExec lstrcatA lstrcpyA'
    for f in $($objdump -p "$exe" | awk '/DLL Name/{on=1; next} on && /^\s+[0-9a-f]+\s+[0-9]+\s+\S+$/{print $3}'); do
        grep -qw "$f" <<<"$allowed" || fail "imports $f"
    done
    ;;
size)
    size=$(stat -c %s "$exe")
    [ "$size" -le 8192 ] || fail "$size bytes"
    echo "$size bytes"
    ;;
subsystem)
    header=$($objdump -p "$exe")
    grep -Eq '^Magic\s+010b\s+\(PE32\)' <<<"$header" || fail "not a 32-bit image"
    grep -Eq '^Subsystem\s+00000002\s+\(Windows GUI\)' <<<"$header" || fail "not the GUI subsystem"
    grep -Eq '^MajorSubsystemVersion\s+4$' <<<"$header" || fail "subsystem version not 4"
    grep -Eq '^MinorSubsystemVersion\s+0$' <<<"$header" || fail "subsystem minor version not 0"
    ;;
icon)
    # One icon group, id 1, with a 32x32 and a 16x16 image in 16 colours.
    groups=$(wrestool -l --type=14 "$exe")
    [ "$(wc -l <<<"$groups")" = 1 ] && grep -q -- '--name=1 ' <<<"$groups" || fail "groups [$groups]"
    ico=$(mktemp)
    trap 'rm -f "$ico"' EXIT
    wrestool -x --type=14 --name=1 "$exe" > "$ico"
    images=$(icotool -l "$ico" | sed 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/\1x\2x\3/' | sort | tr '\n' ' ')
    [ "$images" = "16x16x4 32x32x4 " ] || fail "images [$images]"
    ;;
version)
    # The version information, with the build's default branding.
    wrestool -x --raw --type=16 --name=1 "$exe" | iconv -c -f UTF-16LE -t UTF-8 | tr '\0' '\n' |
        grep -qx 'Setup launcher' || fail "no version information"
    [ "$(wrestool -l --type=16 "$exe" | wc -l)" = 1 ] || fail "not one version resource"
    ;;
*)
    fail "no such check"
    ;;
esac
echo "ok $check"
