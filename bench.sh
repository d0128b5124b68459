#!/usr/bin/env bash
# The launch cost under Wine: how long until the installer runs when started
# through setup.exe, directly, or through a batch file. ROUNDS=N for more.
set -euo pipefail
cd "$(dirname "$0")"
bash cmake/install-deps.sh
cmake --preset windows > /dev/null
cmake --build --preset windows --target setup bench signal_probe > /dev/null

build=$PWD/build/windows
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || { echo "making a Wine prefix (once)"; wineboot -i; wineserver -w; }

tree=$build/bench-tree
rm -rf "$tree"
mkdir -p "$tree/windows/setup"
cp "$build/setup.exe" "$tree/setup.exe"
cp "$build/bench/signal_probe.exe" "$tree/windows/setup/setup.exe"
printf '@start "" "%%~dp0windows\\setup\\setup.exe"\r\n' > "$tree/setup.bat"

win() { printf 'Z:%s' "${1//\//\\}"; }
echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); $(wine --version)"
wine "$build/bench/bench.exe" "${ROUNDS:-60}" "$(win "$tree/setup.exe")" \
    "$(win "$tree/windows/setup/setup.exe")" "$(win "$tree/setup.bat")"
