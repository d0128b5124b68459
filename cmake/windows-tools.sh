# shellcheck shell=bash
# Sourced by demo.sh and bench.sh from the top of the tree: picks the Windows
# build this host runs natively (the shipped 32-bit one, or else the 64-bit
# one), builds the named targets of it, and starts its programs under Wine.
source cmake/host_arch.sh
require_buildable_checkout
# First, since what is installed (Wine's 32-bit half) decides the build.
bash cmake/install-deps.sh windows
if windows_i686_runs; then
    windows_preset=windows windows_arch=i686
else
    windows_preset=windows-x64 windows_arch=x86_64
fi
windows_build=$PWD/build/$windows_preset

# Any step that fails says which, and why, in one line before the script ends.
script=$(basename "$0")
fail() {
    echo "$script: $*" >&2
    exit 1
}
trap 'echo "$script: \"$BASH_COMMAND\" failed (exit status $?)" >&2' ERR

# A step whose output is kept aside unless it fails.
quietly() {  # what, command...
    "${@:2}" > "$windows_build.step.log" 2>&1 ||
        fail "$1 failed: $(grep -i -m1 -A1 'error' "$windows_build.step.log" | tr -s ' \n' ' ' ||
            tail -1 "$windows_build.step.log")"
}

build_windows_targets() {
    mkdir -p "$windows_build"
    quietly "configuring the $windows_preset build" cmake --preset "$windows_preset"
    quietly "building $*" cmake --build --preset "$windows_preset" --target "$@"
}

# A program of that build under Wine, in the build's own prefix.
wine_run() { bash cmake/wine_run.sh "$windows_arch" "$windows_build/wineprefix" "$@"; }

# The build folder is T: under Wine: win_path names files as Windows sees them.
source cmake/wine_run.sh
WINE_TREE=$windows_build
