#!/usr/bin/env bash
# Installs what is missing, builds every build and runs every test: the host
# build's unit tests under the sanitizers, the same with clang and a bounded
# run of each fuzz target, and the Windows build's unit, end-to-end, image and
# build tests under Wine. The clang and 64-bit Windows builds must build,
# warnings as errors.
set -euo pipefail
cd "$(dirname "$0")"
bash cmake/install-deps.sh
for preset in host fuzz windows; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
# Each of those starts the installer as the 32-bit build does.
windows=$PWD/build/windows
for preset in windows-clang windows-x64; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    for case in quoted quoted_arguments dbcs_launcher_name; do
        env WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            SETUP_EXE="$PWD/build/$preset/setup.exe" PROBE_EXE="$windows/tests/probe.exe" \
            STARTER_EXE="$windows/tests/starter.exe" E2E_DIR="$PWD/build/$preset/e2e" \
            bash tests/e2e/run_case.sh "$case"
    done
done
