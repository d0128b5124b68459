#!/usr/bin/env bash
# One end-to-end case of the shipped 32-bit setup.exe on a host that runs no
# 32-bit x86 code natively. A 64-bit starter starts it and it starts a 64-bit
# probe, so only the launcher itself runs emulated. Where 32-bit programs do
# not start at all, qemu-i386 is registered with binfmt_misc for this run
# alone (as root) and taken away after, and the case runs in a prefix made
# while it was registered: only such a prefix can run 32-bit programs.
#
# usage: emulated.sh CASE
# Environment: SETUP_EXE (32-bit), PROBE_EXE and STARTER_EXE (64-bit),
# E2E_DIR, WINE_PREFIX (the 64-bit build's prefix).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=cmake/host_arch.sh
source "$source_dir/cmake/host_arch.sh"
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAIL emulated: $*" >&2; exit 1; }

wine32_installed || skip "Wine's 32-bit half (wine32:i386) is not installed: cmake/install-deps.sh says why"
host_runs_32bit_natively && skip "32-bit code runs natively here, and the 32-bit suite runs this image"
[ -f "$SETUP_EXE" ] || fail "no 32-bit setup.exe at $SETUP_EXE: build the windows preset first"

binfmt=/proc/sys/fs/binfmt_misc
entry=launcher-qemu-i386
as_root=()
mounted=
registered=
prefix=$WINE_PREFIX
leave_as_found() {
    WINEPREFIX=$prefix timeout 60 wineserver -w || true
    [ -z "$registered" ] || echo -1 | "${as_root[@]}" tee "$binfmt/$entry" > /dev/null
    [ -z "$mounted" ] || "${as_root[@]}" umount "$binfmt"
}
trap leave_as_found EXIT

if i386_program_runs; then
    echo "32-bit programs start here as they are ($host_32bit_reason): no emulator registered"
else
    if [ "$(id -u)" != 0 ]; then
        sudo -n true 2> /dev/null || skip "registering the emulator needs root, and sudo asks for a password"
        as_root=(sudo)
    fi
    qemu=/usr/bin/qemu-i386-static
    [ -x "$qemu" ] || skip "no $qemu: qemu-user-static is not installed"
    if [ ! -e "$binfmt/register" ]; then
        "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" || skip "binfmt_misc cannot be mounted"
        mounted=1
    fi
    # ELF, 32-bit, little-endian, an executable or shared object for i386;
    # F: the emulator is opened now, so it serves in every mount namespace.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf ':%s:M::%s:%s:%s:F' "$entry" "$magic" "$mask" "$qemu" |
        "${as_root[@]}" tee "$binfmt/register" > /dev/null || skip "qemu-i386 cannot be registered"
    registered=1
    i386_program_runs || fail "32-bit programs do not start even with qemu-i386 registered"
    echo "qemu-i386 registered for this run; each 32-bit process takes about a minute"
    prefix=$WINE_PREFIX-emulated
fi

# Making the emulated prefix takes minutes, once; the case about one.
timeout 900 bash "$source_dir/cmake/wine_run.sh" x86_64 "$prefix" true ||
    fail "no Wine prefix at $prefix"
timeout 400 bash "$source_dir/cmake/wine_run.sh" x86_64 "$prefix" \
    bash "$source_dir/tests/e2e/run_case.sh" "$1"
