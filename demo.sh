#!/usr/bin/env bash
# Installs what is missing, builds setup.exe, lays out a sample distribution
# tree with a stand-in installer, starts the launcher in it under Wine, and
# shows what happened.
set -euo pipefail
cd "$(dirname "$0")"
export LC_ALL=C.UTF-8  # whatever the caller's: the tools read and write UTF-8 names
# One demo at a time in a checkout: a second waits for the first, which
# holds the lock until it ends however it ends. (flock -o: the programs the
# demo starts, Wine's server among them, do not keep it.)
if [ -z "${DEMO_LOCK_HELD:-}" ]; then
    mkdir -p build
    flock -n build/demo.lock true || echo "demo.sh: another demo is running in this checkout; waiting for it to end"
    DEMO_LOCK_HELD=1 exec flock -o build/demo.lock "$PWD/$(basename "$0")" "$@"
fi
source cmake/windows-tools.sh
build_windows_targets setup probe starter
build=$windows_build
[ "$windows_preset" = windows ] ||
    echo "starting the 64-bit build, not the shipped 32-bit one: $host_32bit_reason"

tree="$build/demo/Sample Disc"
rm -rf "$build/demo"
mkdir -p "$tree/windows/setup"
cp "$build/setup.exe" "$tree/setup.exe"
cp "$build/tests/probe.exe" "$tree/windows/setup/setup.exe"
printf '[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\n' > "$tree/autorun.inf"

command_line="\"$(win_path "$tree")\\setup.exe\" /lang=en"
printf '%s' "$command_line" > "$build/demo/command_line"
echo "distribution tree:    $tree"
echo "launcher started as:  $command_line"
wine_run "$build/tests/starter.exe" "$(win_path "$build/demo/command_line")" > "$build/demo/starter.out" \
    2> "$build/demo/starter.err" || fail "the launcher could not be started: $(tail -1 "$build/demo/starter.err")"

log=$tree/windows/setup/setup.log
for _ in $(seq 50); do [ -s "$log" ] && break; sleep 0.2; done
echo "launcher $(grep '^exit' "$build/demo/starter.out" | tr -d '\r') ($(grep '^elapsed' "$build/demo/starter.out" | tr -d '\r'))"
[ -s "$log" ] || fail "the installer was not started"
echo "installer received:   $(sed -n 's/^command line: //p' "$log")"
echo "setup.exe:            $build/setup.exe ($(stat -c %s "$build/setup.exe") bytes)"
