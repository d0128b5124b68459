#!/usr/bin/env bash
# Installs what is missing, builds every build and runs every test: the host
# build's unit tests under the sanitizers, the same with clang and a bounded
# run of each fuzz target, and the Windows-side runtime suite (unit tests and
# end-to-end cases under Wine) for the 64-bit build everywhere and for the
# shipped 32-bit build where this host runs 32-bit code natively, with the
# checks of the shipped image and its build. The clang build must build,
# warnings as errors, and starts the installer as the 32-bit build does.
# Every step runs, whatever failed before it; the end lists what failed, and
# the exit status is 1 if anything did.
set -euo pipefail
cd "$(dirname "$0")"
export LC_ALL=C.UTF-8  # whatever the caller's: the tools read and write UTF-8 names
trap 'echo "test.sh: \"$BASH_COMMAND\" failed (exit status $?); its output above says why" >&2' ERR
failed=()
# A step that may fail without ending the run: what failed is kept for the end.
step() {  # what, command...
    local status=0
    "${@:2}" || status=$?
    [ $status = 0 ] || failed+=("$1 (exit status $status)")
    return $status
}
# A failed test's last line that starts with FAIL, else its last line, from
# ctest's log.
why_failed() {  # log, test name
    awk -v name="$2" '$0 ~ "^[0-9]+/[0-9]+ Test: " && substr($0, index($0, ": ") + 2) == name { at = 1; next }
        at == 1 && /^-+$/ { at = 2; next }
        at == 2 && /^<end of output>$/ { exit }
        at == 2 && NF { last = $0; if (/^FAIL/) why = $0 }
        END { s = why != "" ? why : last; print substr(s, 1, 400) }' "$1" 2> /dev/null || true
}
source cmake/host_arch.sh
require_buildable_checkout
bash cmake/install-deps.sh
if windows_i686_runs; then
    echo "== 32-bit x86 code runs natively here: the runtime suite runs for both builds"
elif ! wine32_installed; then
    echo "== the 32-bit build cannot run here: Wine's 32-bit half (wine32:i386) is not installed" \
        "(cmake/install-deps.sh said why above); the runtime suite runs for the 64-bit build, and" \
        "the 32-bit one and windows-x64.e2e.shipped_i686 show as skipped"
else
    # shellcheck disable=SC2154 # host_arch.sh sets it
    echo "== 64-bit only ($host_32bit_reason): the runtime suite runs for the 64-bit build;" \
        "the 32-bit one shows as skipped, and windows-x64.e2e.shipped_i686 runs the shipped" \
        "32-bit setup.exe under emulation where root can register it"
fi
for preset in host fuzz windows windows-x64; do
    step "$preset: configuring" cmake --preset "$preset" &&
        step "$preset: building" cmake --build --preset "$preset" || continue
    rm -f "build/$preset/Testing/Temporary/LastTestsFailed.log"  # an earlier run's
    if ! step "$preset: tests" ctest --preset "$preset"; then
        # ctest's own record of the tests that failed, one "number:name" a line,
        # each with the line of its output that says why, so that the end of
        # the run holds the reason, however little of the run is read.
        while IFS=: read -r _ name; do
            failed+=("  $name: $(why_failed "build/$preset/Testing/Temporary/LastTest.log" "$name")")
        done < "build/$preset/Testing/Temporary/LastTestsFailed.log" || true
    fi
done

windows=$PWD/build/windows
if step "windows-clang: configuring" cmake --preset windows-clang &&
    step "windows-clang: building" cmake --build --preset windows-clang; then
    step "windows-clang: manifest" bash tests/image_checks.sh manifest build/windows-clang/setup.exe || true
    if windows_i686_runs; then
        # In the 32-bit build's folder, which Wine names T:, whatever letters
        # the checkout's own path holds.
        for case in quoted quoted_arguments dbcs_launcher_name; do
            step "windows-clang: e2e $case" bash cmake/wine_run.sh i686 "$windows/wineprefix" env \
                SETUP_EXE="$PWD/build/windows-clang/setup.exe" PROBE_EXE="$windows/tests/probe.exe" \
                STARTER_EXE="$windows/tests/starter.exe" E2E_DIR="$windows/tests/e2e-clang" \
                bash tests/e2e/run_case.sh "$case" || true
        done
    else
        echo "windows-clang: built, not started: $host_32bit_reason"
    fi
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "test.sh: failed:" >&2
    printf '  %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "test.sh: every step passed"
