#!/usr/bin/env python3
"""Makes a faster copy of a real recording with its truth.

Usage: scripts/speedup.py SET_DIR K OUT_DIR

Keeps every K-th ranging line ($PD) of each tag and divides every time, in the
recording and in the truth, by K: the same real range errors then come at K
times the speed, at the rate of the original. Other lines (start echo, module
list) are kept with their times divided. room.cfg and the licence are copied
along, as the licence must travel with every copy of the data.
"""
import os
import shutil
import struct
import sys

HEADER = b"ORVANE-RECORDING 1\n"


def speed_up(src, k, dst):
    data = open(os.path.join(src, "rec.orec"), "rb").read()
    if not data.startswith(HEADER):
        sys.exit("%s: not a recording" % src)
    pos, out, seen = len(HEADER), [HEADER], {}
    while pos + 8 <= len(data):
        ms, length = struct.unpack_from("<II", data, pos)
        payload = data[pos + 8:pos + 8 + length]
        pos += 8 + length
        kept = b""
        for line in payload.splitlines(keepends=True):
            if line.startswith(b"$PD,"):
                tag = line.split(b",")[1].strip().upper()
                n = seen.get(tag, 0)
                seen[tag] = n + 1
                if n % k:
                    continue
            kept += line
        if kept:
            out.append(struct.pack("<II", int(round(ms / k)), len(kept)) + kept)
    os.makedirs(dst, exist_ok=True)
    open(os.path.join(dst, "rec.orec"), "wb").write(b"".join(out))
    with open(os.path.join(src, "truth.csv"), encoding="utf-8") as fin, \
            open(os.path.join(dst, "truth.csv"), "w", encoding="utf-8") as fout:
        fout.write(fin.readline())
        for row in fin:
            t, rest = row.split(",", 1)
            fout.write("%d,%s" % (int(round(int(t) / k)), rest))
    shutil.copy(os.path.join(src, "room.cfg"), dst)
    licence = os.path.join(os.path.dirname(os.path.abspath(src)), "LICENSE")
    if os.path.exists(licence):
        shutil.copy(licence, dst)


if __name__ == "__main__":
    if len(sys.argv) != 4 or not sys.argv[2].isdigit() or int(sys.argv[2]) < 1:
        sys.exit(__doc__)
    speed_up(sys.argv[1], int(sys.argv[2]), sys.argv[3])
