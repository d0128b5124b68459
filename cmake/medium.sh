#!/usr/bin/env bash
# Lays out the distribution medium around setup.exe and writes it as an ISO
# 9660 image with Joliet names: setup.exe and autorun.inf at the root, the
# publisher's installer as windows\setup\setup.exe, and the further files as
# they are. Every date in the image is SOURCE_DATE_EPOCH (by default the
# start of 2026), so the same inputs give the same image, byte for byte.
#
# usage: medium.sh SETUP_EXE INSTALLER FURTHER_FILES LABEL TREE ISO
# (FURTHER_FILES may be empty)
set -euo pipefail
setup_exe=$1 installer=$2 further=$3 label=$4 tree=$5 iso=$6
fail() {
    echo "medium: $*" >&2
    exit 1
}

[ -n "$installer" ] || fail "no installer named: set LAUNCHER_MEDIUM_INSTALLER to the publisher's installer"
[ -f "$installer" ] || fail "LAUNCHER_MEDIUM_INSTALLER $installer: no such file"
[ -z "$further" ] || [ -d "$further" ] || fail "LAUNCHER_MEDIUM_FILES $further: no such folder"
# The characters ISO 9660 allows in a volume label, which every system shows.
[[ "$label" =~ ^[A-Z0-9_]{1,32}$ ]] ||
    fail "LAUNCHER_MEDIUM_LABEL \"$label\": a label is 1 to 32 of A-Z, 0-9 and _"
# Windows sees names without regard to case: nothing may stand in for the
# medium's own files.
if [ -n "$further" ]; then
    clash=$(cd "$further" && find . -ipath ./setup.exe -o -ipath ./autorun.inf -o -ipath ./windows/setup/setup.exe)
    [ -z "$clash" ] || fail "LAUNCHER_MEDIUM_FILES $further holds ${clash#./}, which is the medium's own"
fi

rm -rf "$tree" "$iso"
mkdir -p "$tree/windows/setup"
[ -z "$further" ] || cp -R "$further/." "$tree/"
cp "$setup_exe" "$tree/setup.exe"
cp "$installer" "$tree/windows/setup/setup.exe"
printf '[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\nlabel=%s\r\n' "$label" > "$tree/autorun.inf"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1767225600}
find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
# No Rock Ridge: Windows reads the Joliet names, and owners and modes of the
# build machine stay out of the image.
xorriso -no_rc -report_about WARNING -abort_on WARNING -outdev "$iso" -volid "$label" \
    -joliet on -rockridge off -map "$tree" / > /dev/null 2> "$iso.log" ||
    { rm -f "$iso"; fail "xorriso could not write $iso: $(cat "$iso.log")"; }
rm -f "$iso.log"
echo "medium: $tree and $iso ($(stat -c %s "$iso") bytes)"
