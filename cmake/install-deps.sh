#!/usr/bin/env bash
# Installs what the builds and tests need on Debian, as root or through sudo,
# and generates the Japanese locale that gives Wine code page 932. Safe to run
# again: it installs only what is missing.
#
# usage: install-deps.sh [windows]
# With "windows", only what building the Windows programs and starting them
# under Wine needs (the demo, the benchmark); else everything.
#
# A mirror in the middle of a sync (an index whose size or hash does not
# match its Release file, a Release file missing, a host not reached) does
# not stop it: the lists are updated up to three times, then it goes on with
# the lists apt has. It fails only when a needed package cannot be
# installed, naming that package and apt's reason in one line.
set -euo pipefail
# shellcheck source=cmake/host_arch.sh
source "$(dirname "${BASH_SOURCE[0]}")/host_arch.sh"

packages=(cmake make g++ git clang llvm googletest python3 shellcheck
    mingw-w64 wine locales icoutils osslsigncode openssl xorriso python3-pycdlib python3-pefile
    python3-asn1crypto python3-cryptography mmdebstrap uidmap softhsm2 opensc libengine-pkcs11-openssl sbsigntool
    pesign libnss3-tools)
windows_packages=(cmake make git googletest python3 mingw-w64 wine locales)
[ "${1:-}" != windows ] || packages=("${windows_packages[@]}")
# Names that hold a version come from what this release offers (below):
# clang's runtime (libFuzzer, the sanitizers) for the clang it installs, and
# Wine's two halves.
#
# Wine's 32-bit half runs the shipped 32-bit launcher. Its i386 libraries
# must match the amd64 ones to the version, so it goes into one transaction
# with the rest, each such library pinned in both architectures to a version
# both indexes offer, never an older one (matching_versions.py): alone, the amd64
# half would take the security archive's newer libraries, whose i386 twins a
# mirror mid-sync may lack. Where even that has no solution, the rest is
# installed without it and its suite is skipped with the reason.
optional=()
# Where 32-bit programs do not start, the shipped 32-bit launcher runs under
# user-mode emulation in one end-to-end case.
i386_program_runs || [ "${1:-}" = windows ] || packages+=(qemu-user-static)
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
# What this release names: apt's own records say it (python3-apt reads them).
if ! /usr/bin/python3 -c 'import apt_pkg' 2> /dev/null; then
    echo "installing: python3-apt (to read what this release offers)"
    update_lists
    install python3-apt || { echo "install-deps: cannot install python3-apt - $reason" >&2; exit 1; }
fi
release_named() {  # package...: the names this release gives what they stand for
    /usr/bin/python3 - "$@" <<'PY'
import sys
import apt_pkg

apt_pkg.init()
cache = apt_pkg.Cache(None)
depcache = apt_pkg.DepCache(cache)
native = apt_pkg.config.find("APT::Architecture")

def version(name, arch=native):
    try:
        package = cache[name, arch]
    except KeyError:
        return None
    return depcache.get_candidate_ver(package) or package.current_ver

def relations(ver, kinds):
    return [group for kind in kinds for group in ver.depends_list.get(kind, [])] if ver else []

for asked in sys.argv[1:]:
    if asked == "clang-runtime":
        # clang depends on the clang of this release, which depends on its
        # headers' package, which names the runtime that goes with them.
        seen, todo = set(), ["clang"]
        while todo:
            name = todo.pop()
            seen.add(name)
            for group in relations(version(name), ("Depends", "Recommends")):
                target = group[0].target_pkg.name
                if target.startswith("libclang-rt-") and target.endswith("-dev"):
                    print(target)
                elif target.startswith(("clang-", "libclang-common-")) and target not in seen:
                    todo.append(target)
    elif asked == "wine-halves":
        # wine depends on one of its halves: the one built for this
        # architecture, and the 32-bit one from i386.
        groups = [g for g in relations(version("wine"), ("Depends",)) if len(g) > 1]
        for dependency in groups[0] if groups else []:
            name = dependency.target_pkg.name
            print(name if version(name) else f"{name}:i386")
PY
}
asked=(wine-halves)
[ "${1:-}" = windows ] || asked+=(clang-runtime)
for what in "${asked[@]}"; do
    mapfile -t named < <(release_named "$what")
    [ ${#named[@]} -gt 0 ] || { update_lists; mapfile -t named < <(release_named "$what"); }
    [ ${#named[@]} -gt 0 ] || { echo "install-deps: this release's package lists name no $what" >&2; exit 1; }
    for package in "${named[@]}"; do
        case $package in *:i386) optional+=("$package") ;; *) packages+=("$package") ;; esac
    done
done

mapfile -t needed < <(missing "${packages[@]}")
mapfile -t wanted < <(missing "${optional[@]}")
if [ ${#needed[@]} -gt 0 ] || [ ${#wanted[@]} -gt 0 ]; then
    all=("${needed[@]}" "${wanted[@]}")
    echo "installing: ${all[*]}"
    update_lists
    pins=()
    [ ${#wanted[@]} -eq 0 ] ||
        mapfile -t pins < <(/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/matching_versions.py" \
            "${needed[@]}" "${wanted[@]}")
    if ! install "${needed[@]}" "${wanted[@]}" "${pins[@]}"; then
        joint=$reason
        # Which one it was: the rest alone, then each of the rest alone.
        if [ ${#wanted[@]} -gt 0 ] && { [ ${#needed[@]} -eq 0 ] || install "${needed[@]}"; }; then
            echo "install-deps: not installed, so the tests that run 32-bit Windows programs are skipped: ${wanted[*]} - $joint" >&2
        else
            culprits=()
            # -y as in the install, which alone refuses to change a held package.
            for package in $(missing "${needed[@]}"); do
                "${as_root[@]}" apt-get install -s -y -q --no-install-recommends --no-remove "$package" \
                    > /dev/null 2>&1 || culprits+=("$package")
            done
            [ ${#culprits[@]} -gt 0 ] || culprits=("$(missing "${needed[@]}" | tr '\n' ' ')(together)")
            echo "install-deps: cannot install ${culprits[*]} - $reason" >&2
            exit 1
        fi
    fi
fi
# Without the locale generated Wine silently falls back to another code page.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    "${as_root[@]}" sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'ja_JP.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen > /dev/null
    "${as_root[@]}" locale-gen > /dev/null
fi
