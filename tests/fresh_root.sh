#!/usr/bin/env bash
# Tries the committed HEAD as a new machine would: a fresh Debian root
# (minbase with git, sudo and ca-certificates, from the mirror this host's apt
# uses), the commit cloned there at a path that holds a blank, letters outside
# ASCII and the characters a shell treats specially, and the README's
# commands run in it with no locale, PATH and HOME alone (and
# LAUNCHER_HOST_64BIT_ONLY where the caller set it, to try that path).
#
# usage: tests/fresh_root.sh bookworm|trixie [demo] [test] [bench]   (as root)
# With no command it only makes the bare root. Exits non-zero when any
# command did, after running each one. FRESH_ROOT_COMMIT names another
# commit of this clone than HEAD.
#
# The bare root is kept between runs in FRESH_ROOTS (/var/tmp/launcher-roots
# unless set), keyed by release and mirror, since debootstrap's output
# depends on nothing else; each run installs into a layer of its own on top,
# thrown away after. Everything runs in a PID namespace and a private mount
# namespace of its own, so that however this script ends (SIGKILL too),
# every process it started ends and every mount goes; what a kill leaves on
# disk the next run removes. The commands run in a user namespace mapped
# onto this one, id for id, with a binfmt_misc instance of its own: an
# emulator the tests register there serves the root alone, never the
# machine's one table (kernel 6.7 and later; before, the mount is refused and
# the emulated case skips).
set -euo pipefail
script=$(basename "$0")
fail() { echo "$script: $*" >&2; exit 1; }
ids_all='0 0 4294967295'
path_in_root="/root/文档 O'Brien & Co \$5 (x)!/src"

# The root, from inside the user namespace: what it mounts goes with it.
if [ "${1:-}" = --inside ]; then
    root=$2
    shift 2
    mount --rbind /dev "$root/dev"
    mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
    mount --rbind /sys "$root/sys"
    mount -t proc proc "$root/proc"
    mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc" 2> /dev/null ||
        echo "$script: no binfmt_misc of the root's own (kernel $(uname -r), 6.7 is the first with one): the emulated case will skip"
    status=0 failed=()
    for command in "$@"; do
        started=$SECONDS
        echo "== $script: ./$command.sh in $path_in_root"
        chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            HOME=/root ${LAUNCHER_HOST_64BIT_ONLY:+LAUNCHER_HOST_64BIT_ONLY="$LAUNCHER_HOST_64BIT_ONLY"} \
            /bin/bash -c 'cd -- "$1" && exec "./$2.sh"' bash "$path_in_root" "$command" &&
            result=0 || result=$?
        echo "== $script: ./$command.sh exit $result after $((SECONDS - started)) s"
        [ "$result" = 0 ] || { status=1; failed+=("./$command.sh (exit $result)"); }
    done
    [ "$status" = 0 ] || echo "$script: failed: ${failed[*]}" >&2
    exit "$status"
fi

release=${1:-}
case $release in
bookworm | trixie) shift ;;
*) fail "usage: $script bookworm|trixie [demo] [test] [bench]" ;;
esac
for command in "$@"; do
    case $command in demo | test | bench) ;; *) fail "no such command: $command (demo, test or bench)" ;; esac
done
[ "$(id -u)" = 0 ] || fail "making a root and namespaces takes root"
source=$(cd "$(dirname "$0")/.." && pwd)

# Everything from here on in namespaces of its own, whose first process
# this one waits for. unshare holds SIGINT and SIGTERM while it waits, so
# they are passed on from here; --kill-child passes unshare's own end on as
# SIGTERM, and setpriv makes unshare end with this process, SIGKILL too.
if [ -z "${FRESH_ROOT_NAMESPACED:-}" ] || [ $$ != 1 ]; then
    FRESH_ROOT_NAMESPACED=1 setpriv --pdeathsig SIGKILL \
        unshare --pid --mount --mount-proc --propagation private --kill-child=SIGTERM \
        "$0" "$release" "$@" &
    namespaced=$!
    pass_on() {
        local first=''
        read -r first _ < "/proc/$namespaced/task/$namespaced/children" 2> /dev/null || :  # no newline: status 1
        [ -z "$first" ] || kill -TERM "$first" 2> /dev/null || true
    }
    trap 'pass_on' INT TERM
    until status=0; wait "$namespaced" || status=$?; ! kill -0 "$namespaced" 2> /dev/null; do :; done
    exit "$status"
fi

missing=()
for tool in debootstrap:debootstrap git:git; do
    command -v "${tool%%:*}" > /dev/null || missing+=("${tool#*:}")
done
/usr/bin/python3 -c 'import apt_pkg' 2> /dev/null || missing+=(python3-apt)
if [ ${#missing[@]} -gt 0 ]; then
    echo "$script: installing on this host: ${missing[*]}"
    # (A fresh machine has no package lists yet.)
    for lists in as-they-are updated; do
        [ $lists = as-they-are ] || apt-get update -q > /dev/null 2>&1 || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends --no-remove "${missing[@]}" \
            > /dev/null 2>&1 && break
        [ $lists = as-they-are ] || fail "cannot install ${missing[*]} on this host"
    done
fi

# The mirror this host's apt uses for Debian, and its security archive.
read -r mirror security < <(/usr/bin/python3 - <<'PY'
import apt_pkg
apt_pkg.init()
sources = apt_pkg.SourceList()
sources.read_main_list()
with open("/etc/os-release", encoding="utf-8") as release:
    codename = dict(line.rstrip("\n").split("=", 1) for line in release if "=" in line)
codename = codename.get("VERSION_CODENAME", "").strip('"')
def first(suite):
    return next((m.uri for m in sources.list if m.type == "deb" and m.dist == suite), "-")
print(first(codename), first(codename + "-security"))
PY
)
[ "$mirror" != - ] || fail "this host's apt names no Debian mirror (/etc/apt/sources.list, sources.list.d/)"

roots=${FRESH_ROOTS:-/var/tmp/launcher-roots}
mkdir -p "$roots"
key=$release-$(printf '%s %s' "$mirror" "$security" | sha256sum | cut -c1-12)
bare=$roots/roots-bare-$key

# What a run killed earlier left: its layer, which no one holds any more.
for stale in "$roots"/roots-run-*; do
    [ -d "$stale" ] && flock -n "$stale/lock" true 2> /dev/null && rm -rf --one-file-system "$stale"
done

run=''
leave() {
    trap - EXIT INT TERM
    [ $$ != 1 ] || kill -KILL -1 2> /dev/null || true  # every other process of this PID namespace
    wait 2> /dev/null || true
    if [ -n "$run" ]; then
        umount -R "$run/root" 2> /dev/null || umount -R -l "$run/root" 2> /dev/null || true
        rm -rf --one-file-system "$run"
    fi
}
trap leave EXIT
trap 'echo "$script: stopped by a signal" >&2; exit 130' INT TERM

# Made once under a name of its own, and renamed whole when done; one
# maker at a time, and a half-made one from a killed run is removed.
if [ ! -d "$bare" ]; then
    exec 8> "$bare.lock"
    flock 8
    if [ ! -d "$bare" ]; then
        rm -rf --one-file-system "$bare".partial.*
        started=$SECONDS
        echo "== $script: making a $release root from $mirror"
        for try in 1 2 3; do
            partial=$(mktemp -d "$bare.partial.XXXXXX")
            # In the background, so that a signal is taken at once; wget
            # (debootstrap's) waits 15 minutes, 20 times, on a mirror that
            # never answers: here a minute, twice.
            printf 'read_timeout = 30\nconnect_timeout = 30\ndns_timeout = 30\ntries = 2\n' > "$partial.wgetrc"
            WGETRC=$partial.wgetrc timeout 1200 debootstrap --variant=minbase --include=ca-certificates,sudo,git \
                "$release" "$partial" "$mirror" > "$partial.log" 2>&1 &
            wait $! && rm -f "$partial.wgetrc" && break
            reason=$(grep -E '^(E|W): ' "$partial.log" | tail -1 || true)
            [ -n "$reason" ] || reason=$(tail -1 "$partial.log")
            for mounted in proc sys dev/pts dev; do umount -l "$partial/$mounted" 2> /dev/null || true; done
            rm -rf --one-file-system "$partial" "$partial.log" "$partial.wgetrc"
            [ $try = 3 ] && fail "no $release root from $mirror after $try tries: $reason"
            echo "$script: try $try failed ($reason); trying again in 30 s"
            sleep 30 & wait $!
        done
        rm -f "$partial.log"
        # The suites a new machine has: the release, its updates, its security fixes.
        rm -f "$partial/etc/apt/sources.list"
        {
            printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' "$mirror" "$release" "$release"
            printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
            [ "$security" = - ] ||
                printf '\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
                    "$security" "$release"
        } > "$partial/etc/apt/sources.list.d/debian.sources"
        rm -rf "$partial/var/cache/apt/archives/"*.deb "$partial/var/lib/apt/lists/"*
        mv "$partial" "$bare"
        echo "== $script: $release root made in $((SECONDS - started)) s"
    fi
    exec 8>&-
else
    echo "== $script: the $release root from $mirror, as made before ($bare)"
fi
[ $# -gt 0 ] || exit 0

# This run's layer over the bare root, and the commit in it.
run=$(mktemp -d "$roots/roots-run-$release.XXXXXX")
exec 9> "$run/lock"
flock 9
mkdir "$run/upper" "$run/work" "$run/root"
mount -t overlay overlay -o "lowerdir=$bare,upperdir=$run/upper,workdir=$run/work" "$run/root"
cp -L /etc/resolv.conf "$run/root/etc/resolv.conf"
commit=$(git -C "$source" rev-parse --verify "${FRESH_ROOT_COMMIT:-HEAD}^{commit}")
git clone --quiet --no-hardlinks "$source" "$run/root$path_in_root"
git -C "$run/root$path_in_root" checkout --quiet --detach "$commit"
echo "== $script: $commit cloned at $path_in_root"

# The user namespace is made first and mapped from out here, since a process
# cannot map ids of the namespace above its own; it goes on when mapped.
mkfifo "$run/mapped"
unshare --user -- bash -c 'read -r _ < "$1"; shift; exec unshare --mount --pid --fork --kill-child "$@"' \
    bash "$run/mapped" "$0" --inside "$run/root" "$@" &
inner=$!
while [ "$(readlink "/proc/$inner/ns/user")" = "$(readlink /proc/self/ns/user)" ]; do
    kill -0 "$inner" 2> /dev/null || fail "no user namespace could be made"
    sleep 0.05
done
echo "$ids_all" > "/proc/$inner/uid_map"
echo "$ids_all" > "/proc/$inner/gid_map"
echo > "$run/mapped"
status=0
wait "$inner" || status=$?
exit "$status"
