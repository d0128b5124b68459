#!/usr/bin/env python3
"""Checks a shipped setup.exe, or the medium.iso around it, for verify.sh,
with Debian's python3-pefile and python3-pycdlib (run it with
/usr/bin/python3). The file is only read, never run.

usage: verify_image.py [--installer FILE [--files DIR]] FILE

It reports the signature, checks that the file has exactly the shape the
build makes (one signature in a certificate table that ends the file; a
medium of an ISO 9660 and a Joliet tree alone, listing the same files), then
rebuilds the commit the file names, in a temporary worktree of this clone,
with the branding read back, and compares byte for byte. With --installer
(and --files) it rebuilds the whole medium around the shipped setup.exe.
Exit status: 0 reproduced, 1 not (naming the first difference), 2 refused in
one line (not a launcher of this project, malformed, too large, or no
rebuild could be made).
"""
import calendar
import contextlib
import filecmp
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import pefile
import pycdlib

from medium_files import listing_of_image

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LAUNCHER_LIMIT = 8 << 20  # far past any launcher, icon and signature chain included
PRESETS = {0x14C: ("windows", "i686"), 0x8664: ("windows-x64", "x86-64")}
# Version information strings and the branding settings they come from.
STRINGS = {"ProductName": "LAUNCHER_PRODUCT_NAME", "CompanyName": "LAUNCHER_COMPANY_NAME",
           "FileDescription": "LAUNCHER_FILE_DESCRIPTION", "FileVersion": "LAUNCHER_FILE_VERSION",
           "ProductVersion": "LAUNCHER_PRODUCT_VERSION", "LegalCopyright": "LAUNCHER_COPYRIGHT"}
RESOURCE_KINDS = {3: "icon", 14: "icon group", 16: "version information", 24: "manifest"}
AUTORUN = "[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\nlabel={}\r\n"
# The caller's CFLAGS, LDFLAGS and the like never reach the rebuild.
HERMETIC = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.environ.get("HOME", "/"),
            "LC_ALL": "C.UTF-8"}


class Refused(Exception):
    """The file is not what can be checked: one line, exit status 2."""


class NotReproduced(Exception):
    """The first difference: exit status 1."""


def say(label, text):
    print(f"{label + ':':<12}{text}", flush=True)


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, errors="replace", **options)


def der_length(data):
    """The length of the DER element at the start of data, header included."""
    if len(data) < 2 or data[0] != 0x30:
        return None
    if data[1] < 0x80:
        return 2 + data[1]
    count = data[1] & 0x7F
    return 2 + count + int.from_bytes(data[2:2 + count], "big") if 0 < count <= 4 else None


def version_strings(pe):
    """The version information's strings, read as the UTF-16 they are (pefile
    hands a character outside the BMP back as two escaped surrogates)."""
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                for key in table.entries:
                    at = end = table.entries_offsets[key][1]
                    while end + 1 < len(pe.__data__) and pe.__data__[end:end + 2] != b"\0\0":
                        end += 2
                    strings[key.decode()] = pe.__data__[at:end].decode("utf-16-le", "replace")
    return strings


def inspect(data):
    """What is known of a launcher image, or Refused."""
    try:
        pe = pefile.PE(data=data)
    except Exception as error:  # pefile's own, or what a hostile header makes of it
        raise Refused(f"not a PE image ({error})".replace("\n", " "))
    end = max((section.PointerToRawData + section.SizeOfRawData for section in pe.sections), default=0)
    if len(data) < end:
        raise Refused(f"a PE image cut short: {len(data)} bytes of {end}")
    machine = pe.FILE_HEADER.Machine
    if machine not in PRESETS:
        raise Refused(f"a PE image for machine {machine:#x}, which no preset builds")
    imports = sorted({entry.dll.decode(errors="replace") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])})
    if imports != ["KERNEL32.dll"]:
        raise Refused(f"a PE image, but not a launcher of this project: it imports {', '.join(imports) or 'nothing'}")
    strings = version_strings(pe)
    source = strings.get("Comments", "")
    if not re.fullmatch(r"commit [0-9a-f]{40}( and uncommitted changes)?|no commit: .*", source):
        raise Refused("a PE image, but no launcher that names its commit: not one of this project, "
                      "or built before launchers named theirs")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}" for high, low in
               ((fixed.FileVersionMS, fixed.FileVersionLS), (fixed.ProductVersionMS, fixed.ProductVersionLS))]
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return {"pe": pe, "preset": PRESETS[machine], "source": source, "numbers": numbers,
            "branding": {setting: strings.get(key, "") for key, setting in STRINGS.items()},
            "linker": f"{pe.OPTIONAL_HEADER.MajorLinkerVersion}.{pe.OPTIONAL_HEADER.MinorLinkerVersion}",
            "certificates": (security.VirtualAddress, security.Size)}


def certificate_table_extra(data, at, size):
    """What the certificate table holds beyond one signature, padded to 8
    bytes with zeros, that ends the file; None when nothing."""
    if at % 8 or at + size != len(data) or size < 8:
        return "a certificate table that does not end the file"
    length, revision, kind = struct.unpack_from("<IHH", data, at)
    signature = der_length(data[at + 8:at + size])
    if length != size or revision != 0x200 or kind != 2 or signature is None or 8 + signature > size:
        return "a certificate table that is not one PKCS#7 signature"
    padded = (8 + signature + 7) & ~7
    if size > padded:
        return f"a certificate table that holds {size - padded} bytes more than its signature"
    if size < padded or data[at + 8 + signature:at + size].strip(b"\0"):
        return "a certificate table whose signature is not padded with zeros to 8 bytes"
    return None


def report_signature(path, data, facts, work):
    """Prints the signers and what the signature says; returns the image
    without it, and the first way the signature is not the build's."""
    at, size = facts["certificates"]
    if not at and not size:
        say("signed by", "not signed")
        return data, None
    extra = certificate_table_extra(data, at, size)
    said = run(["osslsigncode", "verify", "-in", path]).stdout
    signatures = re.split(r"^Signature Index: \d+.*$", said, flags=re.M)[1:] or [said]
    for index, block in enumerate(signatures):
        subject = re.search(r"Signer's certificate:.*?Subject: *([^\n]*)", block, re.S)
        subject = subject.group(1).strip() if subject else "no signer"
        say("signed by" if index == 0 else "nested", subject)
        if index and not extra:
            extra = f"a nested signature by {subject}, which the build does not make"
        digests = [re.search(rf"{kind} message digest *: *(\S+)", block) for kind in ("Current", "Calculated")]
        stamp = re.search(r"Timestamp time: (.*)|The signature is timestamped: (.*)", block)
        say("timestamp", next(filter(None, stamp.groups())).strip() if stamp else "no timestamp")
        verdict = re.findall(r"^Signature verification: (.*)$", block, re.M)
        if all(digests) and digests[0].group(1) == digests[1].group(1):
            say("signature", "the file is what was signed; against this system's roots: "
                + (verdict[-1] if verdict else "not verified"))
        else:
            say("signature", "broken: the file is not what was signed")
    stripped = os.path.join(work, "stripped.exe")
    if run(["osslsigncode", "remove-signature", "-in", path, "-out", stripped]).returncode:
        raise Refused("its signature cannot be taken off")
    with open(stripped, "rb") as file:
        return file.read(), extra


def cmake_string(value):
    """value as a CMake bracket argument: every character kept as it is."""
    equals = 0
    while f"]{'=' * equals}]" in value:
        equals += 1
    return f"[{'=' * equals}[{value}]{'=' * equals}]"


@contextlib.contextmanager
def worktree(source, work):
    """The commit the file names, checked out in a temporary worktree of this
    clone; the caller's checkout is never touched."""
    match = re.fullmatch(r"commit ([0-9a-f]{40})", source)
    if not match:
        raise NotReproduced(f"the file says it was built from {source}, which no commit holds")
    commit = match.group(1)
    if run(["git", "-C", SOURCE_DIR, "cat-file", "-e", f"{commit}^{{commit}}"]).returncode:
        raise Refused(f"this clone lacks commit {commit}: fetch it (git fetch origin {commit}) and run again")
    tree = os.path.join(work, "source")
    said = run(["git", "-C", SOURCE_DIR, "worktree", "add", "--detach", "--quiet", tree, commit])
    if said.returncode:
        raise Refused(f"commit {commit} cannot be checked out: {said.stderr.strip()}")
    try:
        yield commit, tree
    finally:
        run(["git", "-C", SOURCE_DIR, "worktree", "remove", "--force", tree])


def kept(path):
    """A copy of a log that outlives the temporary folder."""
    handle, copy = tempfile.mkstemp(prefix="verify-", suffix=".log")
    os.close(handle)
    shutil.copyfile(path, copy)
    return copy


def rebuild(tree, facts, shipped, work):
    """The launcher built from tree with the branding of the shipped image."""
    icon = os.path.join(work, "icon.ico")
    with open(icon, "wb") as file:
        run_icon = subprocess.run(["wrestool", "-x", "--type=14", "--name=1", shipped],
                                  stdout=file, stderr=subprocess.DEVNULL)
    settings = dict(facts["branding"], LAUNCHER_ICON=icon if run_icon.returncode == 0 and os.path.getsize(icon) else "")
    settings_file = os.path.join(work, "branding.cmake")
    with open(settings_file, "w", encoding="utf-8") as file:
        file.writelines(f'set({key} {cmake_string(value)} CACHE STRING "" FORCE)\n' for key, value in settings.items())
    build, log = os.path.join(work, "build"), os.path.join(work, "build.log")
    preset = facts["preset"][0]
    say("rebuilding", f"preset {preset}")
    with open(log, "w") as out:
        for command in (["cmake", "--preset", preset, "-B", build, "-C", settings_file, "-DLAUNCHER_TESTS=OFF"],
                        ["cmake", "--build", build, "--target", "setup"]):
            if subprocess.run(command, cwd=tree, env=HERMETIC, stdout=out, stderr=subprocess.STDOUT).returncode:
                with open(log, errors="replace") as text:
                    error = next((line.strip() for line in text if "rror" in line), "see its log")
                raise Refused(f"the rebuild failed: {error}; its log: {kept(log)}")
    with open(os.path.join(build, "setup.exe"), "rb") as file:
        return file.read()


def resources(pe):
    """Each resource's data by type/name/language."""
    found = {}
    label = lambda entry: str(entry.name) if entry.name is not None else entry.id
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                what = f"resource {label(kind)}/{label(name)}/{label(language)}"
                found[f"{what} ({RESOURCE_KINDS.get(kind.id, 'other')})"] = pe.get_data(
                    data.OffsetToData, data.Size)
    return found


def first_difference(expected, found):
    """The first part of the image found that differs from the one expected."""
    def headers(pe):
        # The checksum sums the whole file: a change anywhere shows there first.
        data = bytearray(pe.__data__[:pe.OPTIONAL_HEADER.SizeOfHeaders])
        at = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        data[at:at + 4] = bytes(4)
        return data

    if headers(expected) != headers(found):
        return "the headers"
    names = lambda pe: [section.Name.rstrip(b"\0").decode(errors="replace") for section in pe.sections]
    if names(expected) != names(found):
        return f"the sections: {' '.join(names(found))}, where the build has {' '.join(names(expected))}"
    for mine, theirs, name in zip(expected.sections, found.sections, names(found)):
        if mine.get_data() == theirs.get_data():
            continue
        if name == ".rsrc":
            built, shipped = resources(expected), resources(found)
            for what in sorted(set(built) | set(shipped)):
                if built.get(what) != shipped.get(what):
                    return f"{what} in section .rsrc"
        return f"section {name}"
    return "the checksum, or what follows the sections"


def explain(built, stripped, facts, work):
    """Not reproduced: the first difference, the toolchains, and diffoscope's
    report where it is installed."""
    print(f"not reproduced: the first difference is in "
          f"{first_difference(pefile.PE(data=built), pefile.PE(data=stripped))}")
    arch = facts["preset"][1]
    versions = run(["dpkg-query", "-W", "-f=${Package} ${Version}, ", f"gcc-mingw-w64-{arch}-posix",
                    f"binutils-mingw-w64-{arch}"]).stdout.rstrip(", ")
    print(f"  toolchain here: {versions or 'unknown'}")
    print(f"  linker version the image records: {facts['linker']}")
    if shutil.which("diffoscope"):
        paths = [os.path.join(work, name) for name in ("rebuilt.exe", "shipped-unsigned.exe")]
        for path, data in zip(paths, (built, stripped)):
            with open(path, "wb") as file:
                file.write(data)
        handle, report = tempfile.mkstemp(prefix="verify-diffoscope-", suffix=".txt")
        os.close(handle)
        run(["diffoscope", "--text", report, *paths])
        print(f"  diffoscope's report: {report}")


def medium_shape(path):
    """The first thing an ISO holds that the build does not write: the
    build writes an empty system area, an ISO 9660 and a Joliet volume
    descriptor, the terminator, and nothing after the volume's end.
    Returns (label, the first extra thing or None)."""
    size = os.path.getsize(path)
    with open(path, "rb") as file:
        system = file.read(16 * 2048)
        descriptors = []
        while not descriptors or descriptors[-1][0] != 255:
            descriptor = file.read(2048)
            if len(descriptor) < 2048 or descriptor[1:6] != b"CD001" or len(descriptors) == 32:
                raise Refused("an ISO 9660 image whose volume descriptors do not end")
            descriptors.append(descriptor)
        recognised = []
        while (area := file.read(2048))[1:6] in (b"BEA01", b"NSR02", b"NSR03", b"TEA01", b"BOOT2", b"CDW02"):
            recognised.append(area[1:6].decode())
        file.seek(256 * 2048)
        anchor = file.read(16)
        # xorriso pads the image past the volume's end with zeros: 300 KiB
        # and a little more.
        volume = struct.unpack_from("<I", descriptors[0], 80)[0] * 2048
        file.seek(volume)
        after = file.read(1 << 20) if size - volume <= 1 << 20 else b"more"
    primary = descriptors[0]
    if primary[0] != 1 or struct.unpack_from("<H", primary, 128)[0] != 2048:
        raise Refused("an ISO 9660 image without a primary volume descriptor first")
    label = primary[40:72].decode("ascii", "replace").rstrip()
    kinds = []
    if system[0:2] == b"ER" or system[1024:1026] in (b"BD", b"H+", b"HX"):
        kinds.append("an HFS tree")
    elif system.strip(b"\0"):
        kinds.append("a partition table or boot code in the system area")
    joliet = 0
    for descriptor in descriptors[1:-1]:
        if descriptor[0] == 2 and descriptor[88:91] in (b"%/@", b"%/C", b"%/E") and not joliet:
            joliet = 1
        elif descriptor[0] == 0:
            kinds.append("a boot record" + (" (El Torito)" if descriptor[7:30].startswith(b"EL TORITO") else ""))
        else:
            kinds.append(f"a volume descriptor of type {descriptor[0]}")
    tag_sum = sum(anchor[:4]) + sum(anchor[5:16])
    if any(name.startswith("NSR") for name in recognised) or (
            anchor[:2] == b"\2\0" and len(anchor) == 16 and tag_sum % 256 == anchor[4]):
        kinds.append("a UDF tree")
    elif recognised:
        kinds.append(f"a volume recognition sequence ({' '.join(recognised)})")
    if not joliet:
        kinds.append("no Joliet tree")
    if after.strip(b"\0"):
        kinds.append(f"{size - volume} bytes after the volume's end (a second session, or more)")
    elif size < volume:
        raise Refused(f"an ISO 9660 image cut short: {size} bytes of a volume of {volume}")
    return label, kinds[0] if kinds else None


def extents(medium, tree):
    """Each file of a tree (joliet_path or iso_path): its first extent's
    place and length, by its path."""
    found = {}
    for directory, _, names in medium.walk(**{tree: "/"}):
        for name in names:
            record = medium.get_record(**{tree: f"{directory.rstrip('/')}/{name}"})
            found[f"{directory.rstrip('/')}/{name}"] = (record.extent_location(), record.get_data_length())
    return found


def medium_file(medium, path, limit):
    record = medium.get_record(joliet_path=path)
    if record.get_data_length() > limit:
        raise Refused(f"its {path} is larger than any launcher can be")
    with tempfile.TemporaryFile() as out:
        medium.get_file_from_iso_fp(out, joliet_path=path)
        out.seek(0)
        return out.read()


def read_medium(path):
    """The medium's label, date, setup.exe and the first extra thing it
    holds: a tree or descriptor the build does not write, two trees that do
    not list the same files, or an autorun.inf the build did not write."""
    label, extra = medium_shape(path)
    if extra:
        return label, None, None, extra
    medium = pycdlib.PyCdlib()
    medium.open(path)
    try:
        joliet = extents(medium, "joliet_path")
        if sorted(joliet.values()) != sorted(extents(medium, "iso_path").values()):
            extra = "an ISO 9660 tree and a Joliet tree that do not list the same files"
        if "/setup.exe" not in joliet:
            raise Refused("an ISO image without setup.exe at its root")
        setup = medium_file(medium, "/setup.exe", LAUNCHER_LIMIT)
        autorun = medium_file(medium, "/autorun.inf", 4096) if "/autorun.inf" in joliet else b""
        if not extra and autorun != AUTORUN.format(label).encode():
            extra = f"an autorun.inf that is not the one the build writes for the label {label}"
        stamp = medium.pvd.volume_creation_date
        date = calendar.timegm((stamp.year, stamp.month, stamp.dayofmonth, stamp.hour, stamp.minute,
                                stamp.second)) - stamp.gmtoffset * 15 * 60
    finally:
        medium.close()
    return label, date, setup, extra


def differing_file(rebuilt, shipped):
    """The first path whose content or size differs between two media,
    listed as the medium's own read-back lists them."""
    listings = [listing_of_image(rebuilt), listing_of_image(shipped)]
    media = [pycdlib.PyCdlib(), pycdlib.PyCdlib()]
    for medium, path in zip(media, (rebuilt, shipped)):
        medium.open(path)
    try:
        for path in sorted(set(listings[0]) | set(listings[1])):
            if path not in listings[0] or path not in listings[1]:
                return f"/{path}, which only the {'shipped' if path in listings[1] else 'rebuilt'} medium holds"
            if listings[0][path] != listings[1][path]:
                return f"/{path} (its size, or its kind)"
            if listings[0][path][0] == "file":
                digests = []
                for medium in media:
                    digest = hashlib.sha256()
                    with tempfile.TemporaryFile() as out:
                        medium.get_file_from_iso_fp(out, joliet_path=f"/{path}")
                        out.seek(0)
                        for chunk in iter(lambda: out.read(1 << 20), b""):
                            digest.update(chunk)
                    digests.append(digest.digest())
                if digests[0] != digests[1]:
                    return f"/{path}"
        return "the image's layout, though every file is the same"
    finally:
        for medium in media:
            medium.close()


def verify(path, installer, files, work):
    with open(path, "rb") as file:
        head = file.read(32774)
    medium = head[32769:32774] == b"CD001"
    if (installer or files) and not medium:
        raise Refused("--installer and --files check a medium.iso, not a setup.exe")
    if medium:
        label, date, data, extra = read_medium(path)
        say("medium", f"{path}, its setup.exe; label {label}")
        if extra:
            raise NotReproduced(f"the medium holds {extra}")
    else:
        if os.path.getsize(path) > LAUNCHER_LIMIT:
            raise Refused(f"{os.path.getsize(path)} bytes, larger than any launcher can be")
        with open(path, "rb") as file:
            data = file.read()
    facts = inspect(data)
    shipped = os.path.join(work, "setup.exe")
    with open(shipped, "wb") as file:
        file.write(data)
    stripped, extra = report_signature(shipped, data, facts, work)
    say("branding", " ".join(f"{key}={value}" for key, value in facts["branding"].items()))
    say("versions", f"file {facts['numbers'][0]}, product {facts['numbers'][1]}")
    say("source", facts["source"])
    if extra:
        raise NotReproduced(f"the file holds {extra}")
    with worktree(facts["source"], work) as (commit, tree):
        built = rebuild(tree, facts, shipped, work)
        if built != stripped:
            explain(built, stripped, facts, work)
            print(f"  rebuilt: commit {commit}")
            return 1
        if not medium:
            print(f"reproduced: the shipped setup.exe is exactly the build of commit {commit}, signature aside")
            return 0
        if not installer:
            print(f"reproduced: setup.exe and autorun.inf of the medium are exactly the build of commit {commit}, "
                  "setup.exe's signature aside")
            print("not vouched for: the installer and the further files; --installer FILE --files DIR check "
                  "the whole medium")
            return 0
        say("rebuilding", f"the medium, dated {date}")
        result = run(["bash", os.path.join(tree, "release", "medium.sh"), shipped, installer, files or "", label,
                      os.path.join(work, "medium"), os.path.join(work, "medium.iso")],
                     env=dict(HERMETIC, SOURCE_DATE_EPOCH=str(date)))
        if result.returncode:
            raise Refused(f"the medium could not be rebuilt: {result.stderr.strip().splitlines()[0]}")
        if not filecmp.cmp(os.path.join(work, "medium.iso"), path, shallow=False):
            raise NotReproduced(f"the first file of the medium that differs is "
                                f"{differing_file(os.path.join(work, 'medium.iso'), path)}")
        print(f"reproduced: the medium is exactly the one commit {commit} makes of the shipped setup.exe, "
              "the installer and the further files given")
        return 0


def main(arguments):
    options = {}
    while len(arguments) > 2 and arguments[0] in ("--installer", "--files"):
        options[arguments[0]] = arguments[1]
        arguments = arguments[2:]
    if len(arguments) != 1 or (options.get("--files") and not options.get("--installer")):
        raise Refused("usage: verify.sh [--installer FILE [--files DIR]] SETUP_EXE_OR_MEDIUM_ISO")
    path = arguments[0]
    if not os.path.isfile(path):
        raise Refused(f"{path}: no such file")
    with tempfile.TemporaryDirectory() as work:
        try:
            return verify(path, options.get("--installer"), options.get("--files"), work)
        except Refused as refusal:
            raise Refused(f"{path}: {refusal}")
        except NotReproduced as difference:
            print(f"not reproduced: {difference}")
            return 1
        except Exception as error:  # whatever a hostile file makes of the readers
            raise Refused(f"{path}: malformed ({type(error).__name__}: {error})".replace("\n", " "))


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Refused as refusal:
        print(f"verify.sh: {refusal}", file=sys.stderr)
        sys.exit(2)
