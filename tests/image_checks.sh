#!/usr/bin/env bash
# Checks of setup.exe as shipped.
# usage: image_checks.sh imports|size|subsystem|icon|version|manifest|hardening setup.exe [SIZE_LIMIT]
set -euo pipefail
check=$1
exe=$2
objdump=x86_64-w64-mingw32-objdump  # it reads 32-bit images too
fail() { echo "FAIL $check: $*" >&2; exit 1; }

case "$check" in
imports)
    # KERNEL32 alone, and of it nothing that allocates. (The deployment
    # build compares the file that runs with its first argument, waits for
    # the installer and takes its exit code.)
    dlls=$($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
    [ "$dlls" = KERNEL32.dll ] || fail "imports [$dlls]"
    allowed='CloseHandle CreateProcessW ExitProcess GetACP GetCPInfo GetCommandLineA GetCommandLineW
        GetCurrentThreadId GetModuleFileNameA GetModuleHandleA GetProcAddress GetSystemDirectoryA GetVersion
        GetLastError LoadLibraryExA MultiByteToWideChar WinExec lstrcatA lstrcpyA
        GetExitCodeProcess WaitForSingleObject CreateFileW GetFileInformationByHandle GetModuleFileNameW'
    for f in $($objdump -p "$exe" | awk '/DLL Name/{on=1; next} on && /^\s+[0-9a-f]+\s+[0-9]+\s+\S+$/{print $3}'); do
        grep -qw "$f" <<<"$allowed" || fail "imports $f"
    done
    ;;
size)
    size=$(stat -c %s "$exe")
    [ "$size" -le "${3:-8704}" ] || fail "$size bytes, over ${3:-8704}"
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
manifest)
    # Resource 24/1, language neutral: the manifest in resources/, byte for byte.
    manifest=$(dirname "$0")/../resources/setup.manifest
    wrestool -x --raw --type=24 --name=1 --language=0 "$exe" | cmp -s - "$manifest" || fail "no neutral 24/1 as $manifest"
    python3 -c 'import sys, xml.dom.minidom as x; x.parse(sys.argv[1])' "$manifest" || fail "not XML"
    ;;
hardening)
    # Both images: relocatable (ASLR), data not executable (DEP). The 32-bit
    # one says it has no SEH handlers and carries its relocations. The 64-bit
    # one has none to carry, since no section but the resources (which hold
    # no addresses) stores an address in the image: the loader may put it
    # anywhere without fixing anything up.
    python3 - "$exe" <<'PY' || fail "not hardened"
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional_size, characteristics = struct.unpack_from("<2xH12xHH", data, pe + 4)
optional = pe + 24
plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
image_base = struct.unpack_from("<Q" if plus else "<I", data, optional + (24 if plus else 28))[0]
image_size, dll = struct.unpack_from("<I", data, optional + 56)[0], struct.unpack_from("<H", data, optional + 70)[0]
relocations = struct.unpack_from("<I", data, optional + (112 if plus else 96) + 5 * 8 + 4)[0]
wanted = {"DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100, **({"HIGH_ENTROPY_VA": 0x20} if plus else {"NO_SEH": 0x400})}
problems = [name for name, bit in wanted.items() if not dll & bit]
if characteristics & 0x0001:
    problems.append("relocations stripped")
if not plus and relocations == 0:
    problems.append("no relocations")
if plus and relocations == 0:
    for i in range(sections):
        name, raw_size, raw_at = struct.unpack_from("<8s8xII", data, optional + optional_size + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            continue
        for at in range(raw_at, raw_at + raw_size - 7):
            if image_base <= struct.unpack_from("<Q", data, at)[0] < image_base + image_size:
                problems.append(f"an address of the image at file offset {at:#x}")
if problems:
    sys.exit("; ".join(problems))
PY
    ;;
*)
    fail "no such check"
    ;;
esac
echo "ok $check"
