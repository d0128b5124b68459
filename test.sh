#!/usr/bin/env bash
# Installs what is missing, builds every build and runs every test: the host
# build's unit tests under the sanitizers, the same with clang and a bounded
# run of each fuzz target, and the Windows build's unit, end-to-end and image
# tests under Wine.
set -euo pipefail
cd "$(dirname "$0")"
bash cmake/install-deps.sh
for preset in host fuzz windows; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
