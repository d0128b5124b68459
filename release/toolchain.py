#!/usr/bin/env python3
"""The toolchain a release is built with, as release/toolchain.lock pins it:
whether this machine has it, and a root made from it to build in where it
has not. Run it with Debian's /usr/bin/python3 (python3-apt).

usage: toolchain.py check LOCK [--root]
       toolchain.py run LOCK [--archive ARCHIVES] [--read PATH]... [--write PATH]... -- COMMAND...
(--user UID:GID, the user the command runs as, is the caller's, given again through sudo.)

check says in one line whether this machine's packages are exactly the
pinned ones, naming the first that differs: exit status 0 they are, 1 not
(with --root, 1 always: the root is asked for).
run runs COMMAND in the root made from the pin (made once, then kept in
LAUNCHER_TOOLCHAIN_ROOTS, /var/tmp/launcher-toolchains by default, or
/var/tmp/launcher-toolchains-UID for a user but root, keyed
by the pin and the archive), as the caller's user, with each PATH at its
own path there (--read ones read-only) and nothing else of this machine;
what it writes elsewhere in the root goes with it. Its exit status is the
command's. The root is made from ARCHIVES (a ;-list of Debian archives,
LAUNCHER_TOOLCHAIN_ARCHIVE, by default Debian's own mirror and its
security archive), never with another version than the pinned one; making
and entering it takes root, or a user namespace with this user's
subordinate ids (/etc/subuid, uidmap), else run asks sudo.
Exit status 125, with one line: no root can be had here (no pin, a pinned
version the archive lacks, no mmdebstrap, no root, no mount point at /).
"""
import fcntl
import hashlib
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time

ARCHIVE = "http://deb.debian.org/debian;http://deb.debian.org/debian-security"
ROOTS = "/var/tmp/launcher-toolchains"
CANNOT = 125
# What a root holds besides the pin: git names the commit in the version
# information, and its version shapes no byte.
UNPINNED = ["git"]
STOPPING = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
NAME = re.compile(r"[a-z0-9][a-z0-9+.-]+")
VERSION = re.compile(r"[0-9A-Za-z.+~:-]+")


class Cannot(Exception):
    """No root can be had: one line, exit status 125."""


class Stopped(BaseException):
    """SIGINT, SIGTERM or SIGHUP: the exit status."""


def stop(number, _):
    raise Stopped(128 + number)


def read_lock(path):
    """The pin: its release, its snapshot date and its packages, each
    [name, version]; a line of any other shape refuses the whole."""
    pin = {"release": None, "snapshot": None, "packages": []}
    named = set()  # (a hostile pin may name many: each is looked up once)
    try:
        with open(path, "rb") as file:
            pin["bytes"] = file.read()
        lines = pin["bytes"].decode("utf-8").splitlines()
    except (OSError, UnicodeDecodeError) as error:
        raise Cannot(f"no pinned toolchain: {path}: {error.strerror if isinstance(error, OSError) else error}")
    for number, line in enumerate(lines, 1):
        words = line.split()
        if not words or line.startswith("#"):
            continue
        if words[0] in ("release", "snapshot") and len(words) == 2 and pin[words[0]] is None and (
                re.fullmatch(r"[a-z]+", words[1]) if words[0] == "release" else
                re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", words[1])):
            pin[words[0]] = words[1]
        elif words[0] == "package" and len(words) == 3 and NAME.fullmatch(words[1]) and VERSION.fullmatch(words[2]) \
                and words[1] not in named:
            pin["packages"].append(words[1:])
            named.add(words[1])
        else:
            raise Cannot(f"{path}, line {number}: not a line of a pin: {line[:80]!r}")
    if not pin["release"] or not pin["snapshot"] or not pin["packages"]:
        raise Cannot(f"{path}: a pin names its release, its snapshot and its packages")
    return pin


def installed(names):
    """This machine's version of each package, None where it has none; of a
    package installed for several architectures, the machine's own."""
    native = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
    # Every package listed, the pinned picked out: a pin's names on dpkg-query's
    # command line could be more than a command line holds.
    listed = subprocess.run(["dpkg-query", "-W", "-f=${Package}\t${Architecture}\t${db:Status-Abbrev}\t${Version}\n"],
                            capture_output=True, text=True).stdout
    wanted, versions = set(names), {}
    for line in listed.splitlines():
        name, arch, status, version = line.split("\t")
        if name in wanted and status.startswith("ii") and (arch in (native, "all") or name not in versions):
            versions[name] = version
    return {name: versions.get(name) for name in names}


def difference(pin):
    """The first pinned package this machine has not at its pinned version,
    in words; None where it has every one."""
    here = installed([name for name, _ in pin["packages"]])
    for name, version in pin["packages"]:
        if here[name] != version:
            return (f"{name} is {here[name]}, not the pinned {version}" if here[name] else
                    f"{name} is not installed (pinned: {version})")
    return None


def check(pin, always_root):
    """0 where this machine's toolchain builds (its packages are exactly the
    pinned ones), 1 where the root made from the pin does; either said in
    one line."""
    where = f"{pin['release']} of {pin['snapshot'][:10]}"
    if always_root:
        print(f"toolchain: a root made from the pin ({where}), as LAUNCHER_TOOLCHAIN=root asks")
        return 1
    differs = difference(pin)
    if differs is None:
        print(f"toolchain: this machine's own, exactly the pinned one ({where}, {len(pin['packages'])} packages)")
        return 0
    print(f"toolchain: a root made from the pin ({where}), since this machine's {differs}")
    return 1


def sources(pin, archives):
    """apt's lines for each archive: a security archive serves RELEASE-security,
    any other RELEASE and RELEASE-updates."""
    lines = []
    for archive in filter(None, archives.split(";")):
        if not re.fullmatch(r"(https?|file):/\S+", archive):
            raise Cannot(f"not an archive's URL: {archive!r}")
        security = re.search(r"-security/*(/\d{8}T\d{6}Z/*)?$", archive)
        suites = [f"{pin['release']}-security"] if security else [pin["release"], f"{pin['release']}-updates"]
        lines += [f"deb [check-valid-until=no] {archive} {suite} main" for suite in suites]
    if not lines:
        raise Cannot("no archive to make the root from")
    return lines


def tool(command, **options):
    """A tool in a mount and process namespace of its own, which it cannot
    outlive, with what it printed; stopped with this process. (Without
    privileges, mmdebstrap makes its own, in a user namespace.)"""
    own = ["unshare", "--mount", "--pid", "--fork", "--kill-child"] if privileged() else []
    process = subprocess.Popen(["setpriv", "--pdeathsig", "SIGKILL", *own, *command], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, errors="replace", start_new_session=True, **options)
    try:
        out, _ = process.communicate()
    except BaseException:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        raise
    return process.returncode, out


# Run by mmdebstrap once the base system is in (where the root's own lists
# are): the pinned NAME=VERSION pairs the archive does not offer, told on a
# line of their own, and then no package is installed. Given whole, since the
# hook may not see this file (in mmdebstrap's namespace, as another user).
MISSING = """
import sys, apt
cache = apt.Cache(rootdir=sys.argv[1])
gone = [pair for pair in sys.argv[2:] if pair.split("=")[0] not in cache or
        not any(offered.version == pair.split("=", 1)[1] for offered in cache[pair.split("=")[0]].versions)]
if gone:
    print("pinned versions missing:", *gone)
    sys.exit(1)
"""


def privileged():
    return os.geteuid() == 0


def remove(path):
    """A root or a part of one; one made without privileges is owned by this
    user's subordinate ids, and removed as them. Tried again while it is
    still there, for a while: the processes of a root being made that were
    killed a moment ago may still be writing in it as they end."""
    for _ in range(150):
        if not os.path.lexists(path):
            return
        # rm, not shutil.rmtree: a file is removed too, and a mount left
        # inside by a killed mmdebstrap is not gone into.
        subprocess.run([*([] if privileged() else ["unshare", "--map-auto", "--map-root-user"]),
                        "rm", "-rf", "--one-file-system", "--", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if os.path.lexists(path):
            time.sleep(0.2)


def unpinned(pin, root):
    """The first pinned package the root has not at its pinned version, in
    words; None where it has every one."""
    here = {}
    listed = subprocess.run(["dpkg-query", f"--admindir={root}/var/lib/dpkg", "-W", "-f=${Package} ${Version}\n"],
                            capture_output=True, text=True).stdout
    for line in listed.splitlines():
        here.setdefault(*line.split(" ", 1))
    return next((f"{name} {here[name]}, not the pinned {version}" if name in here else
                 f"no {name}, which the pin holds at {version}"
                 for name, version in pin["packages"] if here.get(name) != version), None)


def make_root(pin, archives, root):
    """The root, made where it is not there yet: every pinned package at its
    version, or nothing. A root is only ever whole; what a run cut short
    (even by SIGKILL) leaves is swept by the next."""
    with open(root + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isdir(root):
            return False
        make_locked(pin, archives, root)
    return True


def make_locked(pin, archives, root):
    """make_root's work, under its lock: as root, or in a user namespace of
    this user's subordinate ids (mmdebstrap's unshare mode)."""
    folder = os.path.dirname(root)
    for name in os.listdir(folder):
        if name.startswith(os.path.basename(root) + ".partial"):
            remove(os.path.join(folder, name))
    if not shutil.which("mmdebstrap"):
        raise Cannot("making the root takes mmdebstrap, which is not installed (Debian: mmdebstrap)")
    partial = f"{root}.partial-{os.getpid()}"
    print(f"toolchain: making the root {root} (once)", file=sys.stderr, flush=True)
    wanted = [f"{name}={version}" for name, version in pin["packages"]]
    check = " ".join(["/usr/bin/python3", "-c", shlex.quote(MISSING), '"$1"', *map(shlex.quote, wanted)])
    try:
        status, out = tool(["mmdebstrap", f"--mode={'root' if privileged() else 'unshare'}", "--variant=minbase",
                            "--aptopt=Acquire::Retries 3", "--aptopt=Acquire::http::Timeout 60",
                            f"--essential-hook={check}", "--include=" + ",".join(wanted + UNPINNED),
                            pin["release"], partial, *sources(pin, archives)])
        gone = next((line.split()[3:] for line in out.splitlines() if line.startswith("pinned versions missing:")), [])
        if gone:
            name, version = gone[0].split("=", 1)
            raise Cannot(f"the pinned {name} {version} is not in {archives}"
                         + (f" (nor {len(gone) - 1} more)" if len(gone) > 1 else "")
                         + f": take an archive as of {pin['snapshot']}, such as snapshot.debian.org's, "
                         "in LAUNCHER_TOOLCHAIN_ARCHIVE or --archive")
        if status:
            said = [line for line in out.splitlines() if line.startswith(("E:", "W:"))] or out.splitlines()[-1:]
            raise Cannot(f"no {pin['release']} root could be made from {archives}: {' '.join(said[:1])[:300]}")
        unlike = unpinned(pin, partial)
        if unlike:
            raise Cannot(f"the root has {unlike}")
        os.rename(partial, root)
    finally:
        remove(partial)


# Mounts the root anew over a scratch layer, each path at its own path in it,
# and runs the command there as the caller, in the caller's folder where the
# root sees it: $1 the root, $2 the scratch folder, $3 user:group, $4 the
# folder, then "r PATH" or "w PATH" pairs, --, the command.
INSIDE = r'''
root=$1 scratch=$2 user=$3 folder=$4
shift 4
mount -t tmpfs -o mode=0755 tmpfs "$scratch" && mkdir "$scratch/upper" "$scratch/work" "$scratch/root" &&
    mount -t overlay overlay -o "lowerdir=$root,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/root" &&
    mount -t proc proc "$scratch/root/proc" && mount --rbind /dev "$scratch/root/dev" &&
    mount -t tmpfs -o mode=1777 tmpfs "$scratch/root/tmp" || exit 125
while [ "$1" != -- ]; do
    mode=$1 path=$2
    shift 2
    # (A path below one already there is there: nothing is made of it.)
    if [ -e "$scratch/root$path" ]; then :
    elif [ -d "$path" ]; then mkdir -p "$scratch/root$path"
    else mkdir -p "$scratch/root${path%/*}" && : > "$scratch/root$path"; fi
    mount --rbind "$path" "$scratch/root$path" || exit 125
    [ "$mode" = w ] || mount -o remount,bind,ro "$scratch/root$path" || exit 125
done
shift
exec chroot --userspec="$user" "$scratch/root" env -i PATH=/usr/bin:/bin HOME=/tmp LC_ALL=C.UTF-8 \
    sh -c 'cd -- "$0" 2> /dev/null || cd /; exec "$@"' "$folder" "$@"
'''


def unshared_mounts():
    """Why the mounts a root takes cannot be kept from the rest of the
    machine here, None where they can: unshare makes every mount below /
    private, which takes / to be a mount point, and a chroot of a plain
    folder has none there."""
    try:
        with open("/proc/self/mountinfo", "rb") as file:
            points = [line.split()[4] for line in file]
    except OSError as error:
        return f"/proc is not mounted ({error.strerror})"
    if b"/" not in points:
        return "/ is not a mount point (in a chroot: bind-mount its folder on itself before entering it)"
    return None


def roots_folder():
    """Where roots are kept: a user's own below /var/tmp, since those made
    without privileges are owned by that user's subordinate ids."""
    return os.environ.get("LAUNCHER_TOOLCHAIN_ROOTS") or (ROOTS if privileged() else f"{ROOTS}-{os.getuid()}")


def run(pin, archives, paths, command, user):
    unshared = unshared_mounts()
    if unshared:
        raise Cannot(f"the root's mounts cannot be kept private: {unshared}")
    key = hashlib.sha256(pin["bytes"] + b"\0" + archives.encode()).hexdigest()[:16]
    folder = roots_folder()
    os.makedirs(folder, exist_ok=True)
    root = os.path.join(folder, f"toolchain-{pin['release']}-{key}")
    if make_root(pin, archives, root):
        print(f"toolchain: made the root {root}", file=sys.stderr, flush=True)
    # A root kept from before is used only while it still holds the pin: one
    # changed since (by hand, or by another tool) is not built in.
    unlike = unpinned(pin, root)
    if unlike:
        raise Cannot(f"the root {root} has {unlike}: it was changed after it was made; remove it to have it made again")
    # A run's scratch folder, and any of a run that was killed.
    for name in os.listdir(folder):
        if name.startswith(os.path.basename(root) + ".run-") and not os.path.exists(f"/proc/{name.rsplit('-', 1)[1]}"):
            shutil.rmtree(os.path.join(folder, name), ignore_errors=True)
    scratch = f"{root}.run-{os.getpid()}"
    os.mkdir(scratch)
    # A folder before what is below it, so that a read-only path below a
    # written one (the sources inside the build folder) stays read-only.
    ordered = sorted(((mode, os.path.abspath(path)) for mode, path in paths), key=lambda named: named[1].count("/"))
    mounts = [word for named in ordered for word in named]
    # Without privileges, in a user namespace whose root is this user (and
    # whose other ids are its subordinate ones, which own the root's files).
    unprivileged = [] if privileged() else ["--user", "--map-auto", "--map-root-user"]
    process = subprocess.Popen(["setpriv", "--pdeathsig", "SIGKILL", "unshare", *unprivileged, "--mount", "--pid",
                                "--fork", "--kill-child", "sh", "-c", INSIDE, "sh", root, scratch,
                                user if privileged() else "0:0", os.getcwd(), *mounts, "--", *command])
    try:
        return process.wait()
    except BaseException:
        process.kill()
        process.wait()
        raise
    finally:
        os.rmdir(scratch)


def main(arguments):
    checking = arguments[:1] == ["check"] and arguments[2:] in ([], ["--root"])
    if len(arguments) < 2 or not checking and arguments[0] != "run":
        raise Cannot("usage: toolchain.py check LOCK [--root] | run LOCK [--archive ARCHIVES] [--read PATH]... "
                     "[--write PATH]... -- COMMAND...")
    pin = read_lock(arguments[1])
    if checking:
        return check(pin, arguments[2:] == ["--root"])
    archives = os.environ.get("LAUNCHER_TOOLCHAIN_ARCHIVE") or ARCHIVE
    user = f"{os.getuid()}:{os.getgid()}"
    paths, rest = [], arguments[2:]
    while rest and rest[0] != "--":
        if rest[0] in ("--archive", "--read", "--write", "--user") and len(rest) > 1:
            if rest[0] == "--archive":
                archives = rest[1]
            elif rest[0] == "--user":
                user = rest[1]
            elif not os.path.exists(rest[1]):
                raise Cannot(f"{rest[1]}: no such file or folder")
            else:
                paths.append(("r" if rest[0] == "--read" else "w", rest[1]))
            rest = rest[2:]
        else:
            raise Cannot(f"not an option of run: {rest[0]!r}")
    if len(rest) < 2:
        raise Cannot("run names no command")
    sources(pin, archives)
    if not privileged() and subprocess.run(["unshare", "--map-auto", "--map-root-user", "true"],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
        # Making a root and mounting in it take root, or a user namespace with
        # subordinate ids; the command still runs as the caller.
        if not shutil.which("sudo"):
            raise Cannot("building in the pinned root takes root, or user namespaces with subordinate ids "
                         "(/etc/subuid and uidmap), and neither sudo nor they are here")
        # sudo asked first on its own (where it needs a password), so that its
        # refusal, without a terminal or the right, is told apart from the command's failure.
        if subprocess.run(["sudo", "-n", "true"], capture_output=True).returncode:
            asked = subprocess.run(["sudo", "-v"], stderr=subprocess.PIPE, text=True, errors="replace")
            if asked.returncode:
                said = asked.stderr.strip().splitlines()
                raise Cannot(f"building in the pinned root takes root, and sudo refused: {said[-1] if said else asked.returncode}")
        roots = os.path.abspath(roots_folder())
        os.execvp("sudo", ["sudo", "--", "env", f"LAUNCHER_TOOLCHAIN_ROOTS={roots}", "/usr/bin/python3",
                           os.path.abspath(__file__), "run", os.path.abspath(arguments[1]),
                           "--archive", archives, "--user", user,
                           *(word for mode, path in paths for word in ("--read" if mode == "r" else "--write", path)),
                           *rest])
    for number in STOPPING:
        signal.signal(number, stop)
    # chroot, and what mmdebstrap runs, are in sbin, which a caller's PATH
    # (a CI job's, env -i's) may lack.
    os.environ["PATH"] = "/usr/sbin:/usr/bin:/sbin:/bin"
    return run(pin, archives, paths, rest[1:], user)


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Cannot as cannot:
        print(f"toolchain.py: {cannot}", file=sys.stderr)
        sys.exit(CANNOT)
    except Stopped as stopped:
        print("toolchain.py: stopped; no root is left half-made", file=sys.stderr)
        sys.exit(stopped.args[0])
