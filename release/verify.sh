#!/usr/bin/env bash
# Checks a shipped setup.exe against this checkout: reports its signature,
# takes the signature off, reads the branding back from the image, builds
# setup.exe from this checkout with that branding, and compares the two byte
# for byte. "reproduced" means the shipped file is exactly that build, with
# nothing added but the signature.
#
# usage: verify.sh FILE
# FILE is a setup.exe, or a medium.iso whose root setup.exe is checked. It
# may be hostile: a copy of it is read, in a temporary folder, and never run.
# Exit status: 0 reproduced, 1 not, 2 the file or the rebuild was refused.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
reader=(/usr/bin/python3 "$source_dir/release/verify_image.py")  # Debian's Python has pefile, pycdlib
refuse() {
    echo "verify.sh: $*" >&2
    exit 2
}
[ $# = 1 ] || refuse "usage: verify.sh SETUP_EXE_OR_MEDIUM_ISO"
[ -f "$1" ] || refuse "$1: no such file"
export LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shipped=$work/shipped.exe

# ISO 9660 names itself at byte 32769.
if [ "$(head -c 32774 -- "$1" | tail -c +32770)" = CD001 ]; then
    "${reader[@]}" extract "$1" "$shipped" 2> "$work/refused" || refuse "$1: $(cat "$work/refused")"
    echo "medium:     $1, its setup.exe"
else
    cp -- "$1" "$shipped"
fi
"${reader[@]}" facts "$shipped" > "$work/facts" 2> "$work/refused" || refuse "$1: $(cat "$work/refused")"
declare -A fact
branding=()
while IFS= read -r -d '' entry; do
    fact[${entry%%=*}]=${entry#*=}
    [[ $entry != LAUNCHER_* ]] || branding+=("-D$entry")
done < "$work/facts"

stripped=$work/stripped.exe
if [ "${fact[SIGNED]}" = 1 ]; then
    # Trust is the caller's to judge: what the signature says is reported,
    # and the check goes on whatever the system's roots make of it.
    said=$(osslsigncode verify -in "$shipped" 2>&1 || true)
    field() { sed -n "s/^[[:space:]]*$1[[:space:]]*: //p" <<<"$said" | head -1 | sed 's/[[:space:]]*$//'; }
    echo "signed by:  $(sed -n '/^Signer.s certificate:/,$ s/^[[:space:]]*Subject: //p' <<<"$said" | head -1)"
    timestamp=$(sed -n -e 's/^[[:space:]]*Timestamp time: //p' -e 's/^The signature is timestamped: //p' <<<"$said")
    echo "timestamp:  ${timestamp:-no timestamp}"
    if [ -n "$(field 'Current message digest')" ] &&
        [ "$(field 'Current message digest')" = "$(field 'Calculated message digest')" ]; then
        echo "signature:  the file is what was signed; against this system's roots:" \
            "$(sed -n 's/^Signature verification: //p' <<<"$said" | tail -1)"
    else
        echo "signature:  broken: the file is not what was signed"
    fi
    osslsigncode remove-signature -in "$shipped" -out "$stripped" > /dev/null 2>&1 ||
        refuse "$1: its signature cannot be taken off"
else
    echo "signed by:  not signed"
    cp "$shipped" "$stripped"
fi
echo "branding:   ${branding[*]#-D}"
echo "versions:   ${fact[VERSION_NUMBERS]}"
icon=()
wrestool -x --type=14 --name=1 "$stripped" > "$work/icon.ico" 2> /dev/null || true
[ ! -s "$work/icon.ico" ] || icon=(-DLAUNCHER_ICON="$work/icon.ico")

# The same build from this checkout, in a folder of its own.
preset=${fact[PRESET]}
echo "rebuilding: preset $preset from $source_dir"
(cd "$source_dir" && cmake --preset "$preset" -B "$work/build" -DLAUNCHER_TESTS=OFF "${branding[@]}" \
    "${icon[@]}" && cmake --build "$work/build" --target setup) > "$work/build.log" 2>&1 ||
    refuse "the rebuild failed: $(tail -5 "$work/build.log")"
commit=$(git -C "$source_dir" rev-parse HEAD 2> /dev/null || echo "unknown: not a git checkout")
[ -z "$(git -C "$source_dir" status --porcelain 2> /dev/null)" ] || commit+=", with uncommitted changes"
if cmp -s "$stripped" "$work/build/setup.exe"; then
    echo "reproduced: the shipped setup.exe is exactly this build, signature aside (commit $commit)"
    exit 0
fi
arch=$([ "$preset" = windows ] && echo i686 || echo x86-64)
echo "not reproduced: the first difference is in $("${reader[@]}" differs "$work/build/setup.exe" "$stripped")"
echo "  this checkout: commit $commit"
echo "  toolchain here: $(dpkg-query -W -f='${Package} ${Version}, ' "gcc-mingw-w64-$arch-posix" \
    "binutils-mingw-w64-$arch" 2> /dev/null | sed 's/, $//')"
echo "  linker version the image records: ${fact[LINKER]}"
exit 1
