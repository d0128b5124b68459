#!/usr/bin/env bash
# Installs what the builds and tests need on Debian, as root or through sudo,
# and generates the Japanese locale that gives Wine code page 932. Safe to run
# again: it installs only what is missing.
#
# A mirror in the middle of a sync (an index whose size or hash does not
# match its Release file, a Release file missing, a host not reached) does
# not stop it: the lists are updated up to three times, then it goes on with
# the lists apt has. It fails only when a needed package cannot be
# installed, naming the packages and apt's reason in one line.
set -euo pipefail
# shellcheck source=cmake/host_arch.sh
source "$(dirname "${BASH_SOURCE[0]}")/host_arch.sh"

packages=(cmake make g++ git clang libclang-rt-14-dev llvm googletest python3 shellcheck
    mingw-w64 wine wine64 locales icoutils osslsigncode openssl xorriso python3-pycdlib python3-pefile
    python3-asn1crypto python3-cryptography softhsm2 opensc libengine-pkcs11-openssl sbsigntool pesign libnss3-tools)
# Wine's 32-bit half runs the shipped 32-bit launcher. Its i386 libraries
# must match the amd64 ones to the version, so it goes into one transaction
# with the rest, each such library pinned in both architectures to a version
# both indexes offer, never an older one (matching_versions.py): alone, the amd64
# half would take the security archive's newer libraries, whose i386 twins a
# mirror mid-sync may lack. Where even that has no solution, the rest is
# installed without it and its suite is skipped with the reason.
optional=(wine32:i386)
# Where 32-bit programs do not start, the shipped 32-bit launcher runs under
# user-mode emulation in one end-to-end case.
i386_program_runs || packages+=(qemu-user-static)
as_root=()
[ "$(id -u)" = 0 ] || as_root=(sudo)

missing() {  # package...: those not installed
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            echo "$package"
    done
}

# apt's own reason, in one line: its errors, each index it could not fetch,
# and the first unmet dependency that is the cause rather than a consequence.
apt_reason() {  # log
    local errors cause
    errors=$(sed -n -e 's/^E: //p' -e 's/^W: \(Failed to fetch .*\)/\1/p' "$1" | tr -s ' \n' ' ')
    cause=$(grep -m1 -E ' : Depends: .*(not installable|is to be installed)' "$1" ||
        grep -m1 ' : Depends: ' "$1" || true)
    echo "${errors% }${cause:+ ($(tr -s ' ' <<<"${cause# }"))}"
}

updated='' lists_incomplete=''
update_lists() {
    [ -z "$updated" ] || return 0
    updated=1
    local try log
    log=$(mktemp)
    for try in 1 2 3; do
        "${as_root[@]}" apt-get update -q > "$log" 2>&1 && { rm -f "$log"; return 0; }
        [ $try = 3 ] || sleep 10
    done
    lists_incomplete=" - the package lists are not all up to date (above)"
    echo "install-deps: the package lists could not all be updated, going on with those apt has: $(apt_reason "$log")" >&2
    rm -f "$log"
}

# Never removes a package, nor takes one back to an older version.
install() {  # package...: returns 1 with apt's reason in reason
    local log status=0
    log=$(mktemp)
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends --no-remove "$@" > "$log" 2>&1 || status=$?
    reason=$(apt_reason "$log")$lists_incomplete
    rm -f "$log"
    return $status
}

# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
mapfile -t needed < <(missing "${packages[@]}")
mapfile -t wanted < <(missing "${optional[@]}")
if [ ${#needed[@]} -gt 0 ] || [ ${#wanted[@]} -gt 0 ]; then
    all=("${needed[@]}" "${wanted[@]}")
    echo "installing: ${all[*]}"
    update_lists
    pins=()
    if [ ${#wanted[@]} -gt 0 ]; then
        /usr/bin/python3 -c 'import apt_pkg' 2> /dev/null || install python3-apt || true
        mapfile -t pins < <(/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/matching_versions.py" \
            "${needed[@]}" "${wanted[@]}")
    fi
    if ! install "${needed[@]}" "${wanted[@]}" "${pins[@]}"; then
        if [ ${#wanted[@]} -gt 0 ]; then
            echo "install-deps: not installed, so the tests that run 32-bit Windows programs are skipped: ${wanted[*]} - $reason" >&2
            [ ${#needed[@]} -eq 0 ] || echo "installing without it: ${needed[*]}"
        fi
        [ ${#needed[@]} -eq 0 ] || install "${needed[@]}" || {
            echo "install-deps: cannot install $(missing "${needed[@]}" | tr '\n' ' ')- $reason" >&2
            exit 1
        }
    fi
fi
# Without the locale generated Wine silently falls back to another code page.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    "${as_root[@]}" sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'ja_JP.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen > /dev/null
    "${as_root[@]}" locale-gen > /dev/null
fi
