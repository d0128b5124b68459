#!/usr/bin/env bash
# The launch cost under Wine, on the Windows build this host runs natively:
# how long until the installer runs when started through setup.exe, directly,
# through a batch file, or through the least launcher there can be (the
# floor). ROUNDS=N for more.
set -euo pipefail
cd "$(dirname "$0")"
export LC_ALL=C.UTF-8  # whatever the caller's: the tools read and write UTF-8 names
source cmake/windows-tools.sh
build_windows_targets setup bench signal_probe least_launcher
build=$windows_build

# least_launcher.exe has this tree's installer path compiled in.
tree=$build/bench-tree
rm -rf "$tree"
mkdir -p "$tree/windows/setup"
cp "$build/setup.exe" "$tree/setup.exe"
cp "$build/bench/least_launcher.exe" "$tree/least_launcher.exe"
cp "$build/bench/signal_probe.exe" "$tree/windows/setup/setup.exe"
printf '@start "" "%%~dp0windows\\setup\\setup.exe"\r\n' > "$tree/setup.bat"

echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); $(wine_run sh -c '"$WINE" --version')"
echo "build: $windows_preset ($windows_arch)"
wine_run "$build/bench/bench.exe" "${ROUNDS:-60}" "$(win_path "$tree/setup.exe")" \
    "$(win_path "$tree/windows/setup/setup.exe")" "$(win_path "$tree/setup.bat")" \
    "$(win_path "$tree/least_launcher.exe")"
