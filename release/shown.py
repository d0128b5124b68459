"""Text read from a file, fit to print: a name, a version string or a
signer may hold anything, and a terminal obeys what it is sent."""
import unicodedata

# Characters that reorder what follows them on the screen.
BIDI = set("\u061c\u200e\u200f\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069")


def is_control(c):
    return unicodedata.category(c) in ("Cc", "Zl", "Zp") or c in BIDI


def shown(text):
    """Controls, reordering marks and undecodable bytes escaped."""
    return "".join(f"\\x{ord(c) - 0xDC00:02x}" if 0xDC80 <= ord(c) <= 0xDCFF else
                   f"\\x{ord(c):02x}" if ord(c) < 0x100 and is_control(c) else
                   f"\\u{ord(c):04x}" if is_control(c) else c
                   for c in text)
