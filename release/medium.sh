#!/usr/bin/env bash
# Lays out the distribution medium around setup.exe and writes it as an ISO
# 9660 image with Joliet names: setup.exe and autorun.inf at the root, the
# publisher's installer as windows\setup\setup.exe, and the further files as
# they are. Every date in the image is SOURCE_DATE_EPOCH (by default the
# start of 2026), so the same inputs give the same image, byte for byte.
#
# Nothing is renamed: further files whose names Windows would not read back
# exactly are refused, all of them named at once, before anything is written;
# the image is read back and compared with the tree. After any failure
# neither the tree nor the image is left under its name.
#
# Every program it ships that is unsigned, broken or signed with a non-RSA
# key, which Smart App Control blocks however well the launcher is signed, or
# with an MD5 or SHA-1 digest, which Windows no longer trusts, is named in a
# warning, or with REQUIRE_SIGNED (1) in the refusal.
#
# usage: medium.sh SETUP_EXE INSTALLER FURTHER_FILES LABEL TREE ISO [REQUIRE_SIGNED]
# (FURTHER_FILES may be empty)
set -euo pipefail
setup_exe=$1 installer=$2 further=$3 label=$4 tree=$5 iso=$6 require_signed=${7:-0}
files=$(dirname "${BASH_SOURCE[0]}")/medium_files.py
# Names are UTF-8 whatever the caller's locale; without one, xorriso would
# write every letter outside ASCII as '_'. Debian's Python has pycdlib.
export LC_ALL=C.UTF-8
python=/usr/bin/python3
partial_tree=$tree.partial partial_iso=$iso.partial log=$iso.log
clean_up() {
    local status=$?
    rm -rf "$partial_tree" "$partial_iso" "$log"
    [ $status = 0 ] || rm -rf "$tree" "$iso"
}
trap clean_up EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
fail() {
    echo "medium: $*" >&2
    exit 1
}

[ -n "$installer" ] || fail "no installer named: set LAUNCHER_MEDIUM_INSTALLER to the publisher's installer"
[ -f "$installer" ] || fail "LAUNCHER_MEDIUM_INSTALLER $installer: no such file"
[ -z "$further" ] || [ -d "$further" ] || fail "LAUNCHER_MEDIUM_FILES $further: no such folder"
# The characters ISO 9660 allows in a volume label, which every system shows,
# and no more than the Joliet descriptor, the label Windows shows, holds.
[[ "$label" =~ ^[A-Z0-9_]{1,16}$ ]] ||
    fail "LAUNCHER_MEDIUM_LABEL \"$label\": a label is 1 to 16 of A-Z, 0-9 and _ (16: what Joliet holds, and Windows shows)"
if [ -n "$further" ] && ! "$python" "$files" check "$further" > "$log"; then
    fail "LAUNCHER_MEDIUM_FILES $further holds what Windows would not read back exactly from the medium:
$(cat "$log")"
fi

rm -rf "$tree" "$iso" "$partial_tree" "$partial_iso"
mkdir -p "$partial_tree/windows/setup"
{
    [ -z "$further" ] || cp -R "$further/." "$partial_tree/"
    cp "$setup_exe" "$partial_tree/setup.exe"
    cp "$installer" "$partial_tree/windows/setup/setup.exe"
} 2> "$log" || fail "could not lay out the tree: $(cat "$log")"
printf '[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\nlabel=%s\r\n' "$label" > "$partial_tree/autorun.inf"
if ! "$python" "$files" programs "$partial_tree" > "$log"; then
    [ "$require_signed" != 1 ] ||
        fail "LAUNCHER_MEDIUM_REQUIRE_SIGNED: programs on the medium that Smart App Control or Windows blocks:
$(cat "$log")"
    echo "medium: warning: programs on the medium that Smart App Control or Windows blocks:" >&2
    cat "$log" >&2
fi

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1767225600}
find "$partial_tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
# No Rock Ridge: Windows reads the Joliet names, and owners and modes of the
# build machine stay out of the image. Joliet names in UTF-16, up to 103
# units, with no limit on the path but the check's: every name as it is.
xorriso -no_rc -local_charset UTF-8 -charset UTF-8 -report_about WARNING -abort_on WARNING -outdev "$partial_iso" -volid "$label" \
    -joliet on -rockridge off -compliance joliet_long_names:joliet_utf16:joliet_long_paths \
    -map "$partial_tree" / > /dev/null 2> "$log" ||
    fail "xorriso could not write $iso: $(cat "$log")"
"$python" "$files" compare "$partial_tree" "$partial_iso" > "$log" ||
    fail "$iso does not read back as the tree it was written from:
$(cat "$log")"

mv "$partial_tree" "$tree"
mv "$partial_iso" "$iso"
echo "medium: $tree and $iso ($(stat -c %s "$iso") bytes)"
