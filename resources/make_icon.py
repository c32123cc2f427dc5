#!/usr/bin/env python3
"""Draws the helper's icon, IDI_ICON1: one 32 by 32 image in 32-bit colour
(a page with a folded corner and the editor's blue band with a white V),
and writes it as VellixContextMenu.ico. Run it again after changing the
drawing; the .ico beside it is what the build compiles in."""
import struct
import sys
from pathlib import Path

SIZE = 32
CLEAR = (0, 0, 0, 0)
PAGE = (250, 250, 250, 255)
EDGE = (120, 130, 140, 255)
FOLD = (205, 212, 220, 255)
BAND = (32, 96, 200, 255)
MARK = (255, 255, 255, 255)


def pixel(x, y):
    left, right, top, bottom, fold = 5, 26, 2, 29, 7
    if not (left <= x <= right and top <= y <= bottom):
        return CLEAR
    # the folded top right corner
    if x - (right - fold) > y - top:
        return CLEAR
    if x - (right - fold) == y - top:
        return EDGE
    if x >= right - fold and y <= top + fold:
        return FOLD if x - (right - fold) < y - top else EDGE
    if x in (left, right) or y in (top, bottom):
        return EDGE
    if 15 <= y <= 26:
        # a V in the band: two strokes meeting at the bottom middle
        cx = (left + right) / 2
        depth = (y - 15) / 11
        half = 6 * (1 - depth)
        if abs(abs(x - cx) - half) <= 1.2:
            return MARK
        return BAND
    return PAGE


def ico_bytes():
    rows = []
    for y in reversed(range(SIZE)):  # the DIB is stored bottom-up
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            rows.append(struct.pack("<BBBB", b, g, r, a))
    xor = b"".join(rows)
    and_mask = bytearray()
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            if pixel(x, y)[3] == 0:
                bits |= 1 << (31 - x)
        and_mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + bytes(and_mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).with_name("VellixContextMenu.ico"))
    out.write_bytes(ico_bytes())
    print(f"wrote {out}")
