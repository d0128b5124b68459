"""Reading a medium.iso with Debian's python3-pycdlib: its label and date,
its files through the Joliet tree (the one Windows reads), and what lies at
a byte of it, to name where two images first differ.
"""
import calendar
import filecmp
import hashlib
import os
import struct
import tempfile

import pycdlib

from shown import shown

SECTOR = 2048
DIRECTORY_LIMIT = 64 << 20  # bytes of directories: far past any medium's
DESCRIPTORS = {0: "a boot record", 1: "the primary volume descriptor (ISO 9660)",
               2: "a supplementary volume descriptor", 3: "a volume partition descriptor",
               255: "the volume descriptor set terminator"}
JOLIET_ESCAPES = (b"%/@", b"%/C", b"%/E")
# The fields of a primary or supplementary volume descriptor, by the byte
# each begins at.
DESCRIPTOR_FIELDS = [(0, "type"), (8, "system identifier"), (40, "label"), (80, "volume size"),
                     (88, "escape sequences"), (120, "set size"), (132, "path table size"),
                     (140, "path table places"), (156, "root directory record"), (190, "identifiers"),
                     (813, "dates"), (881, "structure version"), (883, "application use")]


class Unlike(Exception):
    """Something the layout step never writes: the medium is not the build's."""


def joliet_listing(medium):
    """The Joliet tree as pycdlib reads its directory records: each path
    (its UTF-16 units exactly) with ("dir", None) or ("file", size); a file
    of several extents (4 GiB or more) is one file of their summed size."""
    entries = {}

    def visit(record, relative):
        extents = 0
        for child in record.children:
            if child.is_dot() or child.is_dotdot():
                continue
            name = child.file_identifier().decode("utf-16-be", "surrogatepass")
            path = f"{relative}/{name}" if relative else name
            if child.is_dir():
                entries[path] = ("dir", None)
                visit(child, path)
            else:
                # Every extent but the last carries the multi-extent flag.
                extents += child.get_data_length()
                if not child.file_flags & 0x80:
                    entries[path] = ("file", extents)
                    extents = 0

    visit(medium.get_record(joliet_path="/"), "")
    return entries


def label_and_date(medium):
    """The volume label and the creation date (seconds since 1970) that the
    layout step wrote from its label and SOURCE_DATE_EPOCH."""
    stamp = medium.pvd.volume_creation_date
    date = calendar.timegm((stamp.year, stamp.month, stamp.dayofmonth, stamp.hour, stamp.minute,
                            stamp.second)) - stamp.gmtoffset * 15 * 60
    return medium.pvd.volume_identifier.decode("ascii", "replace").rstrip(), date


def extract(medium, image_size, into):
    """Writes every folder and file of the Joliet tree below into; refuses a
    name Linux cannot hold as it is, and files that share their bytes."""
    listing = joliet_listing(medium)
    total = sum(size for kind, size in listing.values() if kind == "file")
    if total > image_size:
        raise Unlike(f"files of {total} bytes in an image of {image_size}: files that share their bytes")
    os.makedirs(into)
    for path, (kind, _) in sorted(listing.items()):
        names = path.split("/")
        if any(name in ("", ".", "..") or "\0" in name for name in names):
            raise Unlike(f"the Joliet name /{shown(path)}, which no folder holds")
        try:
            target = os.path.join(into, *names).encode("utf-8")
        except UnicodeEncodeError:
            raise Unlike(f"the Joliet name /{shown(path)}, which is no UTF-16 text")
        if kind == "dir":
            os.makedirs(target, exist_ok=True)
        else:
            with open(target, "wb") as out:
                medium.get_file_from_iso_fp(out, joliet_path=f"/{path}")
    return listing


def descriptor_kind(sector):
    """What a sector is, by its identifier: every one pycdlib reads on past
    (a UDF boot descriptor, BOOT2, after which it still takes BEA01 for UDF,
    and ECMA-168's CDW02), or None."""
    identifier = sector[1:6]
    if identifier in (b"BEA01", b"NSR02", b"NSR03", b"TEA01", b"BOOT2"):
        return f"a volume recognition sequence entry {identifier.decode()} (UDF)"
    if identifier == b"CDW02":
        return "a volume descriptor CDW02 (ECMA-168)"
    if identifier != b"CD001":
        return None
    if sector[0] == 2 and sector[88:91] in JOLIET_ESCAPES:
        return "the supplementary volume descriptor (Joliet)"
    if sector[0] == 0 and sector[7:30].startswith(b"EL TORITO"):
        return "a boot record (El Torito)"
    return DESCRIPTORS.get(sector[0], f"a volume descriptor of type {sector[0]}")


def descriptors(path):
    """The kind of each volume descriptor and recognition sequence entry,
    from the 17th sector on, while there are such."""
    kinds = []
    with open(path, "rb") as file:
        file.seek(16 * SECTOR)
        while len(kinds) < 64 and (kind := descriptor_kind(file.read(SECTOR))):
            kinds.append(kind)
    return kinds


def endless_tree(path):
    """Why the directory trees of an image cannot be walked to their end,
    or None; read before pycdlib, whose own walk follows a directory record
    back into its tree for ever: a directory reached twice in one tree, or
    more directory bytes than any medium needs, past the image's end."""
    size, total = os.path.getsize(path), 0
    with open(path, "rb") as file:
        for sector in range(16, 80):
            file.seek(sector * SECTOR)
            descriptor = file.read(SECTOR)
            if descriptor[1:6] != b"CD001":
                return None
            if descriptor[0] not in (1, 2):  # a terminator too: a reader goes on while there are descriptors
                continue
            # A directory record: its extent at byte 2, its size at 10, its
            # flags at 25 (2: a folder), its name's length at 32, its name at
            # 33 (one byte 0 or 1 for the folder itself and its parent).
            pending = [struct.unpack_from("<I", descriptor, 158) + struct.unpack_from("<I", descriptor, 166)]
            reached = set()
            while pending:
                extent, length = pending.pop()
                if extent in reached:
                    return "a directory record that leads to a folder already in its tree"
                reached.add(extent)
                total += length
                if total > DIRECTORY_LIMIT or extent * SECTOR + length > size:
                    return "directories larger than any medium needs, or past the image's end"
                file.seek(extent * SECTOR)
                data, at = file.read(length), 0
                while at < len(data):
                    if not data[at]:  # the rest of a sector, unused
                        at = (at // SECTOR + 1) * SECTOR
                        continue
                    record = data[at:at + data[at]]
                    if len(record) > 33 and record[25] & 2 and not (record[32] == 1 and record[33] in (0, 1)):
                        pending.append(struct.unpack_from("<I", record, 2) + struct.unpack_from("<I", record, 10))
                    at += data[at]
    return None


def records(directory, start):
    """Each child record of a directory and the byte its record starts at:
    records follow each other, and none crosses a sector's end."""
    at = start
    for child in directory.children:
        length = child.dr_len
        if (at - start) % SECTOR + length > SECTOR:
            at += SECTOR - (at - start) % SECTOR
        yield child, at, length
        at += length


def places(medium):
    """(first byte, end, what) of each tree's path tables, directories,
    records and files, as pycdlib reads them."""
    found = []
    for tree, descriptor, encoding in (("ISO 9660", medium.pvd, "ascii"), ("Joliet", medium.joliet_vd, "utf-16-be")):
        if descriptor is None:
            continue
        for location in (descriptor.path_table_location_le, descriptor.path_table_location_be):
            found.append((location * SECTOR, location * SECTOR + descriptor.path_tbl_size, f"the {tree} path table"))
        stack = [(descriptor.root_dir_record, "")]
        while stack:
            directory, path = stack.pop()
            start = directory.extent_location() * SECTOR
            found.append((start, start + directory.get_data_length(), f"the {tree} directory {path or '/'}"))
            for child, at, length in records(directory, start):
                if child.is_dot() or child.is_dotdot():
                    continue
                name = f"{path}/{shown(child.file_identifier().decode(encoding, 'replace'))}"
                extension = " with Rock Ridge entries" if child.rock_ridge is not None else ""
                found.append((at, at + length, f"the {tree} directory record {name}{extension}"))
                if child.is_dir():
                    stack.append((child, name))
                else:
                    begin = child.extent_location() * SECTOR
                    found.append((begin, begin + child.get_data_length(), f"the file {name} ({tree})"))
    # A record lies inside its directory: the narrowest place names it.
    return sorted(found, key=lambda place: place[1] - place[0])


def what_lies_at(path, offset):
    """What the image holds at that byte, by its descriptors and trees."""
    sector = offset // SECTOR
    if sector < 16:
        return "the system area (a partition table, boot code, or HFS)"
    with open(path, "rb") as file:
        file.seek(sector * SECTOR)
        raw = file.read(SECTOR)
    kind = descriptor_kind(raw)
    if kind and sector < 64:
        field = [name for start, name in DESCRIPTOR_FIELDS if start <= offset % SECTOR][-1]
        return f"{kind}, its {field}" if raw[1:6] == b"CD001" and raw[0] in (1, 2) else kind
    if sector == 256 and raw[:2] == b"\2\0":
        return "an anchor volume descriptor (UDF)"
    medium = pycdlib.PyCdlib()
    try:
        medium.open(path)
        try:
            for start, end, what in places(medium):
                if start <= offset < end:
                    return what
        finally:
            medium.close()
    except Exception:  # a hostile image pycdlib cannot read: the sector alone
        pass
    return None


def differing_file(rebuilt, shipped):
    """The first path of the Joliet tree whose kind, size or content differs
    between two images, or None."""
    media = []
    try:
        for path in (rebuilt, shipped):
            medium = pycdlib.PyCdlib()
            medium.open(path)
            media.append(medium)
        listings = [joliet_listing(medium) for medium in media]
        for path in sorted(set(listings[0]) | set(listings[1])):
            if path not in listings[0] or path not in listings[1]:
                return f"/{shown(path)}, which only the {'shipped' if path in listings[1] else 'rebuilt'} medium holds"
            if listings[0][path] != listings[1][path]:
                return f"the file /{shown(path)}, its size or its kind"
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
                    return f"the file /{shown(path)}, its content"
    except Exception:  # a hostile image pycdlib cannot read: the bytes alone
        return None
    finally:
        for medium in media:
            medium.close()
    return None


def first_difference(rebuilt, shipped):
    """Where two images first differ: a file of the Joliet tree, where one
    differs; else the first byte that differs, named by what lies there in
    the shipped image, or else where the build writes it."""
    if filecmp.cmp(rebuilt, shipped, shallow=False):
        return None
    found = differing_file(rebuilt, shipped)
    if found:
        return found
    offset = 0
    with open(rebuilt, "rb") as mine, open(shipped, "rb") as theirs:
        while True:
            a, b = mine.read(1 << 20), theirs.read(1 << 20)
            if a != b:
                offset += next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
                break
            if not a:
                return None
            offset += len(a)
    if offset >= os.path.getsize(rebuilt):
        return f"{os.path.getsize(shipped) - offset} bytes after the end of the image the build writes " \
               "(a second session, or more)"
    if offset >= os.path.getsize(shipped):
        return f"its end: it is cut short, {offset} bytes of {os.path.getsize(rebuilt)}"
    what = what_lies_at(shipped, offset)
    if what is None:
        what = what_lies_at(rebuilt, offset)
        what = f"byte {offset}, where the build writes {what}" if what else f"byte {offset} (sector {offset // SECTOR})"
    return what

