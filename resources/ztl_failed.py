#!/usr/bin/env python3
"""Draws ZTL_FAILED.bmp, the check processor's built-in failure mark: a red
disc with a white cross on magenta, the colour that the processor makes
transparent. 16 x 16 pixels, 8 bits per pixel with a 256-colour palette,
uncompressed, bottom-up. Run it from this folder to write the file again."""
import struct

SIZE = 16
MAGENTA, DARK_RED, RED, WHITE = 0, 1, 2, 3
palette = [(255, 0, 255), (128, 0, 0), (224, 32, 32), (255, 255, 255)]
palette += [(0, 0, 0)] * (256 - len(palette))


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2
    d2 = (x - cx) ** 2 + (y - cy) ** 2
    if d2 > 7.6 ** 2:
        return MAGENTA
    if d2 > 6.4 ** 2:
        return DARK_RED
    # The cross: both diagonals, three pixels wide, inside the disc.
    if 4 <= x <= 11 and 4 <= y <= 11 and (abs(x - y) <= 1 or abs(x + y - (SIZE - 1)) <= 1):
        return WHITE
    return RED


rows = b"".join(bytes(pixel(x, y) for x in range(SIZE)) for y in reversed(range(SIZE)))
colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
offset = 14 + len(info) + len(colours)
header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
with open("ZTL_FAILED.bmp", "wb") as out:
    out.write(header + info + colours + rows)
