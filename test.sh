#!/usr/bin/env bash
# Installs what is missing, builds both builds and runs every test: the host
# build's unit tests under the sanitizers, and the Windows build's unit,
# end-to-end and image tests under Wine.
set -euo pipefail
cd "$(dirname "$0")"
bash cmake/install-deps.sh
for preset in host windows; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
