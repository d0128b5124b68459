#!/usr/bin/env bash
# The launch cost under Wine: how long until the installer runs when started
# through setup.exe, directly, or through a batch file. ROUNDS=N for more.
set -euo pipefail
cd "$(dirname "$0")"
source cmake/windows-tools.sh
build_windows_targets setup bench signal_probe
build=$windows_build

tree=$build/bench-tree
rm -rf "$tree"
mkdir -p "$tree/windows/setup"
cp "$build/setup.exe" "$tree/setup.exe"
cp "$build/bench/signal_probe.exe" "$tree/windows/setup/setup.exe"
printf '@start "" "%%~dp0windows\\setup\\setup.exe"\r\n' > "$tree/setup.bat"

echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); $(wine --version)"
wine "$build/bench/bench.exe" "${ROUNDS:-60}" "$(win_path "$tree/setup.exe")" \
    "$(win_path "$tree/windows/setup/setup.exe")" "$(win_path "$tree/setup.bat")"
