"""Writes the fuzz targets' seed inputs from the rows of the unit tests' tables.

usage: make_seeds.py SPLIT_DIR LAUNCH_DIR TEST.cpp...

Each row that starts with a code page and a string literal gives one seed: the
code page's selector byte, the target's choice bytes, then the literal's bytes.
The launch target gets a second seed of each row with a wide command line
after it (each byte one UTF-16LE code unit), which it takes when the choice
asks for one.
"""
import os
import re
import sys

CODE_PAGES = ["CP_1252", "CP_932", "CP_936", "CP_949", "CP_950", "CP_DOUBLE_NO_LEADS"]
ROW = re.compile(r'\{\s*(CP_\w+)\s*,\s*((?:"(?:[^"\\]|\\.)*"\s*)+)')
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
ESCAPES = {"n": 10, "t": 9, "r": 13, "0": 0, "\\": 92, '"': 34, "'": 39, "?": 63}


def decode(literal):
    """The bytes of one C string literal's body."""
    out, i = bytearray(), 0
    while i < len(literal):
        c = literal[i]
        if c != "\\":
            out += c.encode("latin-1")
            i += 1
        elif literal[i + 1] == "x":  # as in C: every hex digit that follows
            j = i + 2
            while j < len(literal) and literal[j] in "0123456789abcdefABCDEF":
                j += 1
            out.append(int(literal[i + 2:j], 16) & 0xFF)
            i = j
        else:
            out.append(ESCAPES[literal[i + 1]])
            i += 2
    return bytes(out)


def main(split_dir, launch_dir, sources):
    texts = set()
    for source in sources:
        with open(source, encoding="utf-8") as f:
            for code_page, literals in ROW.findall(f.read()):
                text = b"".join(decode(body) for body in LITERAL.findall(literals))
                texts.add((CODE_PAGES.index(code_page), text.split(b"\0")[0]))
    def write(directory, name, content):
        with open(os.path.join(directory, name), "wb") as seed:
            seed.write(content)
    os.makedirs(split_dir, exist_ok=True)
    os.makedirs(launch_dir, exist_ok=True)
    for number, (selector, text) in enumerate(sorted(texts)):
        write(split_dir, f"row{number:03}", bytes((selector, 0x05, 0x07)) + text)
        write(launch_dir, f"row{number:03}", bytes((selector, 33, 0)) + text)
        wide = text.decode("latin-1").encode("utf-16-le")
        write(launch_dir, f"row{number:03}w", bytes((selector, 33, 2)) + text + b"\0" + wide)
    print(f"{len(texts)} seeds")


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3:])
