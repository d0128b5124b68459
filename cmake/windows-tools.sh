# Sourced by demo.sh and bench.sh from the top of the tree: builds the named
# targets of the Windows build and readies Wine in the build's own prefix.
windows_build=$PWD/build/windows

build_windows_targets() {
    bash cmake/install-deps.sh
    cmake --preset windows > /dev/null
    cmake --build --preset windows --target "$@" > /dev/null
    export WINEPREFIX=$windows_build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -d "$WINEPREFIX" ]; then
        echo "making a Wine prefix (once)"
        wineboot -i
        wineserver -w
    fi
}

# Z: is the Linux root under Wine.
win_path() { printf 'Z:%s' "${1//\//\\}"; }
