#!/usr/bin/env bash
# Writes upcase.txt beside this script: Windows' letter-case table, the
# upper case of each UTF-16 unit, taken from the $UpCase file that ntfs-3g's
# mkntfs writes on a new NTFS volume (Debian: ntfs-3g). Windows compares file
# names through this table, one unit to one unit. Run it again only to take a
# newer table; the file is the build's input, not made by the build.
set -euo pipefail
out=$(dirname "$0")/upcase.txt
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
truncate -s 8M "$scratch/volume"
mkntfs -F -f -q "$scratch/volume" > /dev/null 2>&1
ntfscat "$scratch/volume" '$UpCase' > "$scratch/upcase"
[ "$(stat -c %s "$scratch/upcase")" = 131072 ] || { echo "make_upcase.sh: \$UpCase is not 65,536 units" >&2; exit 1; }
/usr/bin/python3 - "$scratch/upcase" > "$out" <<'PY'
import struct, sys
table = struct.unpack("<65536H", open(sys.argv[1], "rb").read())
# Runs of units whose upper case lies the same distance away, every unit or
# every other one, as the alphabets run.
runs = []
for unit, upper in enumerate(table):
    if unit == upper:
        continue
    if runs:
        first, last, step, delta = runs[-1]
        if delta == upper - unit and unit - last == (step or unit - last) and unit - last <= 2:
            runs[-1] = (first, unit, unit - last, delta)
            continue
    runs.append((unit, unit, 0, upper - unit))
print("# Windows' letter-case table, from the $UpCase of ntfs-3g's mkntfs, written by")
print("# make_upcase.sh: do not edit. Each line is FIRST LAST STEP DELTA: every STEP-th")
print("# UTF-16 unit from FIRST to LAST (hexadecimal) has its upper case DELTA units")
print("# away; every other unit is its own upper case.")
for first, last, step, delta in runs:
    print(f"{first:04X} {last:04X} {step or 1} {delta}")
PY
echo "make_upcase.sh: $out ($(grep -vc '^#' "$out") runs)"
