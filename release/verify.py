#!/usr/bin/env python3
"""Checks a shipped setup.exe, or the medium.iso around it, for verify.sh.
Run it with Debian's /usr/bin/python3. The file is only read, never run; the
commit it names is built, so its code runs on this machine: only a commit
that a branch or tag of this clone holds.

usage: verify.py [--archive ARCHIVES] [--installer FILE [--files DIR]] FILE

A setup.exe: its signature is read (signature.py) and must have the one
shape the build makes; the commit it names is built in a temporary clone of
this one with the branding read back, and compared byte for byte.
A medium.iso: its setup.exe so, then the whole medium is laid out again by
that commit's own layout step, from what the medium holds through its Joliet
tree (or --installer and --files), with the label and date it carries, and
the two images are compared byte for byte.
Both are rebuilt with the toolchain the commit pins (release/toolchain.lock):
this machine's where its packages are exactly the pinned ones, else in a
root made from the pin (release/toolchain.py), from ARCHIVES where given, and
in that root always where LAUNCHER_TOOLCHAIN is root; a commit from before
the pin, with this machine's.
Exit status: 0 reproduced, 1 not (naming the first difference), 2 refused in
one line (not a launcher of this project, malformed, too large, a commit the
clone does not vouch for, or no rebuild could be made), 3 cannot be checked
here (no root of the pinned toolchain can be had, or no library the file
is read with: the line says why).
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

# The file is read with Debian's libraries; without one nothing here can be
# judged, which is not a difference (Debian names each python3-<module>).
try:
    import pycdlib

    import bounds
    import iso_image
    import pe_image
    import signature
    from shown import shown
except ModuleNotFoundError as missing:
    module = (missing.name or "").split(".")[0]
    print(f"verify.sh: cannot be checked here: reading the file takes Python's {module}, which is not installed "
          f"(Debian: python3-{module})", file=sys.stderr)
    sys.exit(3)

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The caller's CFLAGS, LDFLAGS and the like never reach the rebuild.
HERMETIC = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.environ.get("HOME", "/"),
            "LC_ALL": "C.UTF-8"}
PROGRAMS = (".exe", ".dll", ".sys", ".msi")
# What reads the file and the commit here, outside any root, each with its
# Debian package: git the clone, wrestool the icon, openssl the certificate
# chains, osslsigncode an .msi's signature.
TOOLS_HERE = {"git": "git", "wrestool": "icoutils", "openssl": "openssl", "osslsigncode": "osslsigncode"}
# What ends a check cleanly: Ctrl-C, SIGTERM, and a closed terminal (SIGKILL
# cannot be caught).
STOPPING = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
# Seconds a tool is given to end on SIGTERM when the check is stopped.
STOP_GRACE = 30


class Refused(Exception):
    """The file is not what can be checked: one line, exit status 2."""


class NotReproduced(Exception):
    """The first difference: exit status 1."""


class CannotCheck(Exception):
    """No rebuild in the pinned toolchain can be made here: one line, exit
    status 3."""


class Stopped(BaseException):
    """SIGINT, SIGTERM or SIGHUP: the exit status."""


def say(label, text):
    print(f"{label + ':':<12}{text}", flush=True)


def run(command, **options):
    """A tool's result; the tool in a process group of its own, which is
    ended with it if this check is stopped."""
    process = subprocess.Popen(command, stdout=options.pop("stdout", subprocess.PIPE),
                               stderr=options.pop("stderr", subprocess.PIPE), text=True, errors="replace",
                               start_new_session=True, **options)
    try:
        out, err = process.communicate()
    except BaseException:
        # SIGTERM first, which toolchain.py ends on as it should, removing a
        # root it was making; SIGKILL what is left after a while.
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.wait(timeout=STOP_GRACE)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
        finally:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait()
        raise
    return subprocess.CompletedProcess(command, process.returncode, out, err)


def stop(number, _):
    raise Stopped(128 + number)


def trust(report):
    if signature.signer_fault(report, moment=signature.judged_at(report)) is None:
        return "its certificate: for code signing, from a root this system trusts"
    return "its certificate: not for code signing from a root this system trusts (trust is yours to judge)"


def stamped(report):
    """A timestamp's time, its authority and whether this system trusts it:
    an authority it does not trust vouches for nothing, its time included."""
    stamp = report["timestamp"]
    if stamp is None:
        return "none"
    time = f"{stamp['time']:%Y-%m-%d %H:%M:%S} UTC" if stamp["time"] else "no time"
    trusted = "trusted by this system" if signature.authority_trusted(report) else \
        "not trusted by this system: its time is its word alone"
    return f"{time} by {shown(stamp['authority'])}, {trusted}"


def summary(report):
    """A program's signature in one line."""
    if not report["signed"]:
        return "not signed"
    return "; ".join([f"signed by {shown(report['signer'])}",
                      *(f"nested signature by {shown(nested)}" for nested in report["nested"]),
                      f"timestamp {stamped(report)}",
                      f"broken: {report['broken']}" if report["broken"] else "the file is what was signed",
                      *([] if report["broken"] else [trust(report)])])


def report_signature(data):
    """Prints what setup.exe's signature says; returns signature.read's report."""
    report = signature.read(data)
    if not report["signed"]:
        say("signed by", "not signed")
        return report
    say("signed by", shown(report["signer"]))
    for nested in report["nested"]:
        say("nested", shown(nested))
    say("timestamp", stamped(report))
    say("signature", f"broken: {report['broken']}" if report["broken"] else
        f"the file is what was signed; {trust(report)}")
    return report


def read_launcher(data):
    if len(data) > pe_image.LAUNCHER_LIMIT:
        raise Refused(f"{len(data)} bytes, larger than any launcher can be")
    try:
        return pe_image.inspect(data)
    except pe_image.NotLauncher as refusal:
        raise Refused(str(refusal))


def vouched_commit(facts):
    """The commit the file names, where a branch or tag of this clone holds it."""
    match = re.fullmatch(r"commit ([0-9a-f]{40})", facts["source"])
    if not match:
        raise NotReproduced(f"the file says it was built from {shown(facts['source'])}, which no commit holds")
    commit = match.group(1)
    if run(["git", "-C", SOURCE_DIR, "cat-file", "-e", f"{commit}^{{commit}}"]).returncode:
        raise Refused(f"this clone lacks commit {commit}: fetch the branch or tag that holds it "
                      "(git fetch origin) and run again")
    holders = run(["git", "-C", SOURCE_DIR, "for-each-ref", "--contains", commit, "--count=1",
                   "--format=%(refname)", "refs/heads", "refs/remotes", "refs/tags"])
    if holders.returncode or not holders.stdout.strip():
        raise Refused(f"commit {commit} is on no branch or tag of this clone, and verifying builds it: fetch "
                      "the branch or tag that holds it (git fetch origin BRANCH) and run again")
    return commit


def checkout(commit, work):
    """The commit in a temporary clone sharing this one's objects: nothing
    is registered in this clone, so nothing is left in it however this ends."""
    tree = os.path.join(work, "source")
    for command in (["git", "clone", "--quiet", "--shared", "--no-checkout", SOURCE_DIR, tree],
                    ["git", "-C", tree, "-c", "advice.detachedHead=false", "checkout", "--quiet", commit]):
        said = run(command)
        if said.returncode:
            raise Refused(f"commit {commit} cannot be checked out: {shown(said.stderr.strip())}")
    return tree


def kept(path):
    """A copy of a log that outlives the temporary folder."""
    handle, copy = tempfile.mkstemp(prefix="verify-", suffix=".log")
    os.close(handle)
    shutil.copyfile(path, copy)
    return copy


def cmake_string(value):
    """value as a CMake quoted argument that keeps every character: what
    would end it, escape or expand is escaped, and line ends are written as
    escapes (a ';' in a quoted argument is kept as it is)."""
    escapes = {"\\": "\\\\", '"': '\\"', "$": "\\$", "\n": "\\n", "\r": "\\r", "\t": "\\t"}
    return '"' + "".join(escapes.get(c, c) for c in value) + '"'


def toolchain(tree, archives, work):
    """The prefix that runs a rebuild's command in the commit's pinned
    toolchain: none where this machine's packages are the pinned ones, or
    where the commit pins none; else the root's, which sees this clone (whose
    objects the temporary one shares) and the work folder."""
    lock = os.path.join(tree, "release", "toolchain.lock")
    if not os.path.isfile(lock):
        say("toolchain", "this machine's: the commit pins none")
        return []
    always_root = ["--root"] if os.environ.get("LAUNCHER_TOOLCHAIN") == "root" else []
    said = run([sys.executable, os.path.join(SOURCE_DIR, "release", "toolchain.py"), "check", lock, *always_root])
    if said.returncode not in (0, 1):
        raise CannotCheck(said.stderr.strip().removeprefix("toolchain.py: ") or "its pin cannot be read")
    say("toolchain", said.stdout.strip().removeprefix("toolchain: "))
    if said.returncode == 0:
        return []
    # (The rebuild's environment is bare, but for where the roots are kept.)
    roots = os.environ.get("LAUNCHER_TOOLCHAIN_ROOTS", "")
    archives = archives or os.environ.get("LAUNCHER_TOOLCHAIN_ARCHIVE")
    return ["env", f"LAUNCHER_TOOLCHAIN_ROOTS={roots}", sys.executable,
            os.path.join(SOURCE_DIR, "release", "toolchain.py"), "run", lock,
            *(["--archive", archives] if archives else []), "--read", SOURCE_DIR, "--write", work, "--"]


def in_toolchain(prefix, command, log, **options):
    """A rebuild's command, in the pinned toolchain's root where prefix names
    it; a root that cannot be had is told apart from a command that failed."""
    with open(log, "a") as out:
        status = run(prefix + command, stdout=options.pop("stdout", out), stderr=out, **options).returncode
    if prefix and status == 125:
        with open(log, errors="replace") as text:
            said = [line.strip() for line in text if line.startswith("toolchain.py: ")]
        raise CannotCheck(said[-1].removeprefix("toolchain.py: ") if said else "no root of the pinned toolchain")
    return status


def rebuild(tree, facts, shipped, work, prefix):
    """The launcher built from tree with the branding of the shipped image,
    unsigned."""
    icon = os.path.join(work, "icon.ico")
    with open(icon, "wb") as file:
        found = run(["wrestool", "-x", "--type=14", "--name=1", shipped], stdout=file).returncode == 0
    settings = dict(facts["branding"], LAUNCHER_ICON=icon if found and os.path.getsize(icon) else "")
    settings_file = os.path.join(work, "branding.cmake")
    with open(settings_file, "w", encoding="utf-8") as file:
        file.writelines(f'set({key} {cmake_string(value)} CACHE STRING "" FORCE)\n' for key, value in settings.items())
    build, log = os.path.join(work, "build"), os.path.join(work, "build.log")
    preset = facts["preset"][0]
    deployment = ["-DLAUNCHER_DEPLOYMENT=ON"] if facts["deployment"] else []
    say("rebuilding", f"preset {preset}" + (", a deployment build" if deployment else ""))
    open(log, "w").close()
    for command in (["cmake", "--preset", preset, "-B", build, "-C", settings_file, "-DLAUNCHER_TESTS=OFF",
                     *deployment], ["cmake", "--build", build, "--target", "setup"]):
        if in_toolchain(prefix, command, log, cwd=tree, env=HERMETIC):
            with open(log, errors="replace") as text:
                error = next((line.strip() for line in text if "rror" in line), "see its log")
            raise Refused(f"the rebuild failed: {shown(error)}; its log: {kept(log)}")
    with open(os.path.join(build, "setup.exe"), "rb") as file:
        return file.read()


def explain(built, shipped, facts, work, tree, prefix):
    """Not reproduced: the first difference, the toolchains, and diffoscope's
    report where it is installed."""
    print(f"not reproduced: the first difference is in "
          f"{pe_image.first_difference(signature.unsigned(built), signature.unsigned(shipped))}")
    arch = facts["preset"][1]
    names = [f"gcc-mingw-w64-{arch}-posix", f"binutils-mingw-w64-{arch}"]
    versions = run(prefix + ["dpkg-query", "-W", "-f=${Package} ${Version}, ", *names]).stdout.rstrip(", ")
    print(f"  toolchain {'pinned' if prefix else 'here'}: {versions or 'unknown'}")
    print(f"  linker version the image records: {facts['linker']}")
    linker = re.search(r"binutils-mingw-w64-\S+ (?:\d+:)?(\d+)\.(\d+)", versions)
    if linker and os.path.isfile(os.path.join(tree, "release", "toolchain.lock")) and \
            facts["linker"] != f"{int(linker.group(1))}.{int(linker.group(2))}":
        print("  the shipped file was built outside the commit's pinned toolchain")
    if shutil.which("diffoscope"):
        paths = [os.path.join(work, name) for name in ("rebuilt.exe", "shipped-unsigned.exe")]
        for path, data in zip(paths, (built, signature.unsigned(shipped))):
            with open(path, "wb") as file:
                file.write(data)
        handle, report = tempfile.mkstemp(prefix="verify-diffoscope-", suffix=".txt")
        os.close(handle)
        run(["diffoscope", "--text", report, *paths])
        print(f"  diffoscope's report: {report}")


def read_medium(path, work):
    """The medium's label, date and files, written out through its Joliet
    tree into work/medium-files."""
    # The build writes an ISO 9660 and a Joliet descriptor, and the end,
    # once each and in that order: any other (UDF's, whose tree pycdlib
    # would walk for ever were it to loop; one after the end, where pycdlib
    # still reads) is a difference before any tree is walked.
    written = ["the primary volume descriptor (ISO 9660)", "the supplementary volume descriptor (Joliet)",
               "the volume descriptor set terminator"]
    found = iso_image.descriptors(path)
    if found != written:
        at = next(at for at, (kind, expected) in enumerate(zip(found + [None], written + [None])) if kind != expected)
        raise NotReproduced(f"the medium holds {found[at] if at < len(found) else 'no further descriptor'}, where the "
                            f"build writes {written[at] if at < len(written) else 'none'}")
    endless = iso_image.endless_tree(path)
    if endless:
        raise NotReproduced(f"the medium holds {endless}, which the build does not write")
    medium = pycdlib.PyCdlib()
    try:
        medium.open(path)
    except MemoryError:  # the bound's, told as such
        raise
    except Exception as error:  # pycdlib's own, or what a hostile image makes of it
        raise Refused(f"an ISO image pycdlib cannot read ({shown(str(error))})")
    files = os.path.join(work, "medium-files")
    try:
        label, date = iso_image.label_and_date(medium)
        say("medium", f"{shown(path)}: label {shown(label)}")
        listing = iso_image.extract(medium, os.path.getsize(path), files)
    except iso_image.Unlike as difference:
        raise NotReproduced(f"the medium holds {difference}")
    finally:
        medium.close()
    if listing.get("setup.exe", ("", 0))[0] != "file":
        raise Refused("an ISO image without setup.exe at its root")
    if listing["setup.exe"][1] > pe_image.LAUNCHER_LIMIT:
        raise Refused("its setup.exe is larger than any launcher can be")
    return label, date, files


def relayout(tree, shipped, label, date, installer, further, named, work, prefix):
    """The medium laid out again by the commit's own layout step."""
    say("rebuilding", "the medium")
    iso, log = os.path.join(work, "medium.iso"), os.path.join(work, "medium.log")
    # The publisher's files named on the command line, where the root sees them.
    seen = [word for path in named for word in ("--read", os.path.abspath(path))]
    prefix = prefix[:-1] + seen + prefix[-1:] if prefix else []
    open(log, "w").close()
    if in_toolchain(prefix, ["env", f"SOURCE_DATE_EPOCH={date}", "bash", os.path.join(tree, "release", "medium.sh"),
                             shipped, installer, further, label, os.path.join(work, "medium"), iso], log, env=HERMETIC,
                    stdout=subprocess.DEVNULL):
        with open(log, errors="replace") as text:
            lines = [line.strip() for line in text if line.strip() and not line.startswith("toolchain")]
        raise NotReproduced("its layout step refuses what the medium holds: " + shown(" ".join(lines[:4])))
    return iso


def report_programs(files):
    """Each program on the medium but the launcher, with its signature."""
    for folder, folders, names in os.walk(files):
        folders.sort()
        for name in sorted(names):
            relative = os.path.relpath(os.path.join(folder, name), files)
            if relative != "setup.exe" and name.lower().endswith(PROGRAMS):
                say("program", f"{shown(relative)}: {summary(signature.read_program(os.path.join(folder, name)))}")


def verify(path, installer, further, archives, work):
    with open(path, "rb") as file:
        head = file.read(32774)
    medium = head[32769:32774] == b"CD001"
    if (installer or further) and not medium:
        raise Refused("--installer and --files check a medium.iso, not a setup.exe")
    # Each reading of what the file holds is bounded (bounds.py), the rebuild not.
    budget = bounds.for_size(os.path.getsize(path))
    if medium:
        with bounds.bounded(budget):
            label, date, files = read_medium(path, work)
        shipped = os.path.join(files, "setup.exe")
    else:
        if os.path.getsize(path) > pe_image.LAUNCHER_LIMIT:
            raise Refused(f"{os.path.getsize(path)} bytes, larger than any launcher can be")
        shipped = path
    with open(shipped, "rb") as file:
        data = file.read()
    with bounds.bounded(bounds.for_size(len(data))):
        facts = read_launcher(data)
        report = report_signature(data)
    say("branding", " ".join(f"{key}={shown(value)}" for key, value in facts["branding"].items()))
    say("versions", f"file {facts['numbers'][0]}, product {facts['numbers'][1]}")
    say("source", ("deployment build, " if facts["deployment"] else "") + shown(facts["source"]))
    shape = report["signed"] and signature.build_shape(report, data)
    if shape:
        raise NotReproduced(f"the file holds {shown(shape)}, which the build does not make")
    if report["signed"] and report["broken"]:
        raise NotReproduced(f"its signature is broken: {report['broken']}")
    commit = vouched_commit(facts)
    tree = checkout(commit, work)
    prefix = toolchain(tree, archives, work)
    built = rebuild(tree, facts, shipped, work, prefix)
    # Unsigned, it is a copy of the build; signed, the build and its signature.
    if not (signature.same_image(built, data) if report["signed"] else built == data):
        with bounds.bounded(bounds.for_size(len(data))):
            explain(built, data, facts, work, tree, prefix)
        print(f"  rebuilt: commit {commit}")
        return 1
    if not medium:
        print(f"reproduced: the shipped setup.exe is exactly the build of commit {commit}, signature aside")
        return 0
    named = [path for path in (installer, further) if path]
    if installer:
        further = further or ""
    else:
        installer = os.path.join(work, "installer")
        shutil.move(os.path.join(files, "setup.exe"), os.path.join(work, "setup.exe"))
        shipped = os.path.join(work, "setup.exe")
        if os.path.isfile(os.path.join(files, "autorun.inf")):
            os.remove(os.path.join(files, "autorun.inf"))
        if not os.path.isfile(os.path.join(files, "windows", "setup", "setup.exe")):
            raise NotReproduced("the medium holds no windows/setup/setup.exe, which the build always writes")
        with bounds.bounded(budget):
            report_programs(files)
        shutil.move(os.path.join(files, "windows", "setup", "setup.exe"), installer)
        further = files
    rebuilt = relayout(tree, shipped, label, date, installer, further, named, work, prefix)
    with bounds.bounded(budget):
        difference = iso_image.first_difference(rebuilt, path)
    if difference:
        raise NotReproduced(f"the first difference of the medium: {difference}")
    print(f"reproduced: the medium is exactly the one commit {commit} lays out, every byte")
    print("the publisher's: the installer and the further files on it; this says they are these, not that they "
          "are sound")
    return 0


def main(arguments):
    options = {}
    while len(arguments) > 2 and arguments[0] in ("--archive", "--installer", "--files") and \
            arguments[0] not in options:
        options[arguments[0]] = arguments[1]
        arguments = arguments[2:]
    if len(arguments) != 1 or (options.get("--files") and not options.get("--installer")):
        raise Refused("usage: verify.sh [--archive ARCHIVES] [--installer FILE [--files DIR]] SETUP_EXE_OR_MEDIUM_ISO")
    path = arguments[0]
    # Each path named is there, before anything is built.
    for label, named, exists, kind in (("", path, os.path.isfile, "file"),
                                       ("--installer ", options.get("--installer"), os.path.isfile, "file"),
                                       ("--files ", options.get("--files"), os.path.isdir, "folder")):
        if named is not None and not exists(named):
            other = ("a folder" if os.path.isdir(named) else "a file" if os.path.isfile(named) else
                     "something else" if os.path.exists(named) else None)
            raise Refused(f"{label}{shown(named)}: {other}, not a {kind}" if other else
                          f"{label}{shown(named)}: no such {kind}")
    # Without one, nothing here can be judged, which is not a difference.
    lacking = [(tool, package) for tool, package in TOOLS_HERE.items() if not shutil.which(tool)]
    if lacking:
        raise CannotCheck(f"{shown(path)}: cannot be checked here: it takes {lacking[0][0]}, which is not installed "
                          f"(Debian: {lacking[0][1]})")
    for number in STOPPING:
        signal.signal(number, stop)
    work = tempfile.mkdtemp(prefix="verify-work-")
    try:
        return verify(path, options.get("--installer"), options.get("--files"), options.get("--archive"), work)
    except CannotCheck as cannot:
        raise CannotCheck(f"{shown(path)}: cannot be checked here: {cannot}")
    except Refused as refusal:
        raise Refused(f"{shown(path)}: {refusal}")
    except NotReproduced as difference:
        print(f"not reproduced: {difference}")
        return 1
    except bounds.Exceeded as exceeded:
        raise Refused(f"{shown(path)}: reading it takes {exceeded}")
    except Exception as error:  # whatever a hostile file makes of the readers
        raise Refused(f"{shown(path)}: malformed ({type(error).__name__}: {shown(str(error))})")
    finally:
        # Once the clean-up has begun, a second signal does not cut it short.
        for number in STOPPING:
            signal.signal(number, signal.SIG_IGN)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Refused as refusal:
        print(f"verify.sh: {refusal}", file=sys.stderr)
        sys.exit(2)
    except CannotCheck as cannot:
        print(f"verify.sh: {cannot}", file=sys.stderr)
        sys.exit(3)
    except Stopped as stopped:
        print("verify.sh: stopped; nothing is left behind", file=sys.stderr)
        sys.exit(stopped.args[0])
