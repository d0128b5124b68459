"""Writes a 16-colour .ico file from the text pictures in icon.txt.

usage: make_icon.py icon.txt setup.ico
"""
import os
import struct
import sys

PALETTE = [  # (red, green, blue) of the 16 standard colours
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
TRANSPARENT = "."


def read_pictures(path):
    pictures = []
    with open(path, encoding="ascii") as source:
        for number, line in enumerate(source, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("image "):
                width, height = (int(v) for v in line.split()[1].split("x"))
                pictures.append((width, height, []))
                continue
            if not pictures:
                sys.exit(f"{path}:{number}: picture row before any 'image WxH' line")
            width, _, rows = pictures[-1]
            if len(line) != width or any(c not in "0123456789abcdef." for c in line):
                sys.exit(f"{path}:{number}: a row must be {width} of 0-f or '.'")
            rows.append(line)
    for width, height, rows in pictures:
        if len(rows) != height:
            sys.exit(f"{path}: the {width}x{height} picture has {len(rows)} rows")
    return pictures


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def image_bytes(width, height, rows):
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    xor = and_mask = b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        indices = [0 if c == TRANSPARENT else int(c, 16) for c in row]
        xor += padded(bytes(indices[i] << 4 | indices[i + 1] for i in range(0, width, 2)))
        bits = "".join("1" if c == TRANSPARENT else "0" for c in row)
        and_mask += padded(bytes(int(bits[i:i + 8], 2) for i in range(0, width, 8)))
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0,
                         len(xor) + len(and_mask), 0, 0, 16, 0)
    return header + colours + xor + and_mask


def main(source, target):
    pictures = read_pictures(source)
    images = [image_bytes(*p) for p in pictures]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (width, height, _), data in zip(pictures, images):
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
    with open(target, "wb") as ico:
        ico.write(out + b"".join(images))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
