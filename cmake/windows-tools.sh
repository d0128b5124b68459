# Sourced by demo.sh and bench.sh from the top of the tree: picks the Windows
# build this host runs natively (the shipped 32-bit one, or else the 64-bit
# one), builds the named targets of it, and starts its programs under Wine.
source cmake/host_arch.sh
if host_runs_32bit_natively; then
    windows_preset=windows windows_arch=i686
else
    windows_preset=windows-x64 windows_arch=x86_64
fi
windows_build=$PWD/build/$windows_preset

build_windows_targets() {
    bash cmake/install-deps.sh
    cmake --preset "$windows_preset" > /dev/null
    cmake --build --preset "$windows_preset" --target "$@" > /dev/null
}

# A program of that build under Wine, in the build's own prefix.
wine_run() { bash cmake/wine_run.sh "$windows_arch" "$windows_build/wineprefix" "$@"; }

# Z: is the Linux root under Wine.
win_path() { printf 'Z:%s' "${1//\//\\}"; }
