# shellcheck shell=bash
# What this host runs: the one place that answers whether 32-bit x86 code runs
# here natively, not through an emulator. The install script, the tests, the
# demo and the benchmark all follow its answer.
#
# Sourced, it defines the functions below. Run, it prints the answer and exits
# 0 (32-bit code runs natively) or 1 (64-bit only, with the reason).
#
# LAUNCHER_HOST_64BIT_ONLY=1 forces the answer "64-bit only", so that path can
# be tried on any host.

# A 93-byte 32-bit x86 Linux program that exits with 0: an ELF header, one
# loadable segment, and xor ebx,ebx; mov eax,1; int 0x80.
I386_EXIT_PROGRAM='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'\
'\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00'\
'\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'\
'\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80'

# Whether a 32-bit x86 program starts here at all, natively or emulated. It
# is written into the build tree, which can hold programs (a temporary
# folder may be mounted noexec).
i386_program_runs() {
    local build program
    build="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build"
    mkdir -p "$build"
    program=$(mktemp -p "$build" i386-exit.XXXXXX)
    printf "$I386_EXIT_PROGRAM" > "$program"
    chmod +x "$program"
    local status=0
    "$program" 2> /dev/null || status=$?
    rm -f "$program"
    return "$status"
}

# The binfmt_misc entry, if any, through which the kernel hands 32-bit x86
# programs to an emulator.
i386_emulator_entry() {
    local entry
    for entry in /proc/sys/fs/binfmt_misc/*; do
        [ -f "$entry" ] && grep -qx enabled "$entry" 2> /dev/null &&
            grep -q '^magic 7f454c46010101000000000000000000020003' "$entry" &&
            { echo "$entry"; return 0; }
    done
    return 1
}

# Returns 0 where 32-bit x86 code runs natively; otherwise 1, with the reason
# in host_32bit_reason.
host_runs_32bit_natively() {
    host_32bit_reason=
    local emulator
    if [ -n "${LAUNCHER_HOST_64BIT_ONLY:-}" ] && [ "$LAUNCHER_HOST_64BIT_ONLY" != 0 ]; then
        host_32bit_reason="LAUNCHER_HOST_64BIT_ONLY is set"
    elif ! i386_program_runs; then
        host_32bit_reason="this host runs no 32-bit x86 programs (Exec format error)"
    elif emulator=$(i386_emulator_entry); then
        host_32bit_reason="32-bit x86 programs run here only through the emulator in $emulator"
    fi
    [ -z "$host_32bit_reason" ]
}

# CMake cannot build in every folder a shell can name: with one of these
# characters in the checkout's path, CMake or make stops (measured: CMake
# 3.25 and GNU make 4.3; the top CMakeLists.txt refuses the same).
# Prints the first such character, for the message.
unbuildable_path_character() {  # path
    local c
    for c in '#' '"' ';' '\' '[' ']' '<' '>' '|' ':' '$(' '${'; do
        [[ $1 != *"$c"* ]] || { echo "'$c'"; return 0; }
    done
    [[ $1 != *[[:cntrl:]]* ]] || { echo "a control character"; return 0; }
    return 1
}

# Ends the calling script, before any CMake run, where the checkout (the
# current folder) is one of those.
require_buildable_checkout() {
    local character
    character=$(unbuildable_path_character "$PWD") || return 0
    echo "$(basename "$0"): CMake cannot build in a folder whose path holds $character: $PWD; move the checkout" >&2
    exit 2
}

# Whether Wine's 32-bit half is installed: a mirror mid-sync can leave it
# uninstallable (cmake/install-deps.sh says why).
wine32_installed() { [ -x /usr/lib/wine/wine ]; }

# Returns 0 where the 32-bit Windows build runs here under Wine: 32-bit code
# runs natively and Wine's 32-bit half is installed; otherwise 1, with the
# reason in host_32bit_reason.
windows_i686_runs() {
    host_runs_32bit_natively || return 1
    wine32_installed && return 0
    host_32bit_reason="Wine's 32-bit half (wine32:i386) is not installed"
    return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    if host_runs_32bit_natively; then
        echo "32-bit x86 code runs natively"
    else
        echo "64-bit only: $host_32bit_reason"
        exit 1
    fi
fi
