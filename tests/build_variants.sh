#!/usr/bin/env bash
# Builds setup.exe alone in fresh build trees of its own, to test what the
# build promises: the same bytes every time, the publisher's branding, and a
# clear refusal of an unfit icon.
#
# usage: build_variants.sh reproducible|branding|icon_rejected
# Environment: SOURCE_DIR, WORK_DIR, TOOLCHAIN
set -euo pipefail
mode=$1
work="$WORK_DIR/$mode"
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL $mode: $*" >&2; exit 1; }

configure() {  # build tree, cache settings...
    local tree=$1
    shift
    cmake -S "$SOURCE_DIR" -B "$tree" --toolchain "$TOOLCHAIN" -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DLAUNCHER_TESTS=OFF "$@" > "$tree.log" 2>&1
}
build() {
    configure "$@" || fail "configure failed: $(tail -5 "$1.log")"
    cmake --build "$1" --target setup >> "$1.log" 2>&1 || fail "build failed: $(tail -5 "$1.log")"
}
make_icon() { python3 "$SOURCE_DIR/resources/make_icon.py" "$@"; }

case "$mode" in
reproducible)
    # Two clean trees at different paths: no timestamp, no build path.
    build "$work/first"
    build "$work/second tree, elsewhere"
    cmp "$work/first/setup.exe" "$work/second tree, elsewhere/setup.exe" ||
        fail "two builds of the same sources differ"
    ;;
branding)
    icon="$work/publisher.ico"
    make_icon "$SOURCE_DIR/tests/branding/icon.txt" "$icon"
    build "$work/tree" -DLAUNCHER_ICON="$icon" \
        -DLAUNCHER_PRODUCT_NAME="Contoso Atlas" -DLAUNCHER_COMPANY_NAME='Contoso "East" Ltd' \
        -DLAUNCHER_FILE_DESCRIPTION='Atlas setup\launcher' -DLAUNCHER_FILE_VERSION=2.5.1 \
        -DLAUNCHER_PRODUCT_VERSION=2026.12.0.7 -DLAUNCHER_COPYRIGHT='© 2026 Contoso'
    exe="$work/tree/setup.exe"
    # The icon group holds exactly the publisher's images.
    # (wrestool writes the icon it rebuilds from the group with zeros after it.)
    wrestool -x --type=14 --name=1 "$exe" > "$work/group.ico"
    cmp -n "$(stat -c %s "$icon")" "$icon" "$work/group.ico" &&
        [ "$(icotool -l "$work/group.ico" | wc -l)" = 3 ] ||
        fail "icon group 1 is not the publisher's icon"
    [ "$(wrestool -l --type=14 "$exe" | wc -l)" = 1 ] || fail "more than one icon group"
    wrestool -x --raw --type=16 --name=1 "$exe" > "$work/version.bin"
    python3 - "$work/version.bin" <<'PY' || fail "version information differs"
import struct, sys

def blocks(data, at, end):
    """The (key, value, children) blocks of a version resource from at to end."""
    while at + 6 <= end:
        length, value_length, text = struct.unpack_from("<3H", data, at)
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if text else value_length
        value = data[value_at:value_at + value_size]
        children_at = (value_at + value_size + 3) & ~3
        yield key, value, list(blocks(data, children_at, at + length))
        at = (at + length + 3) & ~3

data = open(sys.argv[1], "rb").read()
(root_key, fixed, children), = blocks(data, 0, len(data))
strings = {}
for key, _, tables in children:
    if key == "StringFileInfo":
        for _, _, entries in tables:
            strings.update((k, v.decode("utf-16-le").rstrip("\0")) for k, v, _ in entries)
expected = {"ProductName": "Contoso Atlas", "CompanyName": 'Contoso "East" Ltd',
            "FileDescription": "Atlas setup\\launcher", "FileVersion": "2.5.1",
            "ProductVersion": "2026.12.0.7", "LegalCopyright": "\u00a9 2026 Contoso"}
if strings != expected:
    sys.exit(f"strings {strings}")
# The fixed part: the signature, then file and product version as numbers.
signature, _, ms, ls, pms, pls = struct.unpack_from("<6I", fixed)
if signature != 0xFEEF04BD or (ms, ls, pms, pls) != (2 << 16 | 5, 1 << 16, 2026 << 16 | 12, 7):
    sys.exit("version numbers differ")
PY
    ;;
icon_rejected)
    # Each unfit icon stops the configuration with a message naming it.
    sed '/^image 16x16/,$d' "$SOURCE_DIR/tests/branding/icon.txt" > "$work/no16.txt"
    make_icon "$work/no16.txt" "$work/no16.ico"
    head -c 40 "$work/no16.ico" > "$work/truncated.ico"
    for row in "no16.ico:has no 16x16 image" "truncated.ico:image 0 runs past the end of the file" \
               "icon.txt:not an icon file" "missing.ico:no such file"; do
        file="$work/${row%%:*}"
        [ "${row%%:*}" != icon.txt ] || file="$SOURCE_DIR/tests/branding/icon.txt"
        ! configure "$work/tree" -DLAUNCHER_ICON="$file" || fail "$file was accepted"
        # CMake folds long messages across lines.
        tr -s ' \n' '  ' < "$work/tree.log" | grep -qF "LAUNCHER_ICON $file: ${row#*:}" ||
            fail "no clear message for $file: $(grep -A2 'CMake Error' "$work/tree.log" | head -5)"
        rm -rf "$work/tree"
    done
    ;;
*)
    fail "no such mode"
    ;;
esac
echo "ok $mode"
