#!/usr/bin/env bash
# What the release tooling costs on this machine: the CPU time of judging a
# signature (signature.read, timestamp included), and verify.sh's wall and
# CPU time on a shipped setup.exe and on a medium.iso (a rebuild of the
# commit each names, so the commit must be on a branch of this clone), as
# verify.sh finds the pinned toolchain and in its root.
# usage: bench/release.sh SETUP_EXE [MEDIUM_ISO]   (ROUNDS=N, 20 by default)
set -euo pipefail
export LC_ALL=C.UTF-8
release="$(cd "$(dirname "$0")/../release" && pwd)"
echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); load $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 - "$release" "$1" "${ROUNDS:-20}" <<'PY'
import sys, time; sys.path.insert(0, sys.argv[1]); import signature
data, rounds = open(sys.argv[2], "rb").read(), int(sys.argv[3])
spent = []
for _ in range(rounds):
    start = time.process_time(); signature.read(data); spent.append(time.process_time() - start)
print(f"signature.read: {min(spent) * 1000:.1f} ms of CPU at best, {max(spent) * 1000:.1f} ms at worst, of {rounds}")
PY
TIMEFORMAT='%R s wall, %U s user + %S s system CPU (with the rebuild)'
for file in "$@"; do
    for toolchain in pinned root; do  # the pinned toolchain as verify.sh finds it, and its root always
        echo "verify.sh $(basename "$file"), LAUNCHER_TOOLCHAIN=$toolchain:"
        time LAUNCHER_TOOLCHAIN=$toolchain bash "$release/verify.sh" "$file" > /dev/null
    done
done
