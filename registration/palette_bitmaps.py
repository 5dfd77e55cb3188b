#!/usr/bin/env python3
"""Draws the palette bitmaps of the components the module registers, and one
for TZTSHELLLOG, which no class of the suite registers: 24 x 24 pixels,
uncompressed device-independent bitmaps, bottom-up; 4 bits per pixel with the
16 standard colours, the check processor's 8 bits per pixel with a 256-colour
table. The lower-left pixel is the background colour that a palette shows as
transparent. Each picture stands for what its component watches. Run it from
this folder to write the files again."""
import struct

SIZE = 24
# The 16 standard colours, in their usual order.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(16)
BACK = FUCHSIA


class Canvas:
    def __init__(self):
        self.px = [[BACK] * SIZE for _ in range(SIZE)]

    def rect(self, x0, y0, x1, y1, fill, outline=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                edge = x in (x0, x1) or y in (y0, y1)
                self.px[y][x] = outline if edge and outline is not None else fill

    def disc(self, cx, cy, r, fill, outline=None):
        for y in range(SIZE):
            for x in range(SIZE):
                d2 = (x - cx) ** 2 + (y - cy) ** 2
                if d2 <= (r + 0.4) ** 2:
                    self.px[y][x] = outline if outline is not None and d2 > (r - 0.7) ** 2 else fill

    def line(self, x0, y0, x1, y1, colour):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            self.px[round(y0 + (y1 - y0) * i / steps)][round(x0 + (x1 - x0) * i / steps)] = colour

    def sheet(self):
        """A log sheet: a white page with text lines, the suite's common sign."""
        self.rect(2, 1, 15, 20, WHITE, BLACK)
        for y in range(4, 18, 3):
            self.line(4, y, 13, y, GREY)


def exception_log(c):
    c.sheet()
    c.disc(16, 15, 7, RED, MAROON)
    c.rect(15, 10, 16, 16, WHITE)
    c.rect(15, 18, 16, 19, WHITE)


def app_log(c):
    c.sheet()
    c.rect(9, 9, 22, 21, SILVER, BLACK)
    c.rect(10, 10, 21, 12, NAVY)
    c.rect(19, 10, 20, 11, WHITE)
    c.rect(11, 14, 20, 19, WHITE)


def dataset_log(c):
    c.sheet()
    for top in (9, 13, 17):
        c.rect(10, top, 21, top + 4, TEAL, BLACK)
        c.line(11, top + 1, 20, top + 1, AQUA)
    c.rect(11, 8, 20, 8, AQUA)


def file_log(c):
    c.sheet()
    c.rect(8, 10, 14, 12, OLIVE, BLACK)
    c.rect(8, 12, 22, 21, YELLOW, BLACK)
    c.line(9, 14, 21, 14, OLIVE)


def nt_event_log(c):
    c.sheet()
    c.rect(8, 8, 22, 22, WHITE, NAVY)
    for y, colour in ((10, RED), (14, YELLOW), (18, BLUE)):
        c.disc(11, y + 1, 1.5, colour)
        c.line(14, y + 1, 20, y + 1, BLACK)


def registry_log(c):
    c.sheet()
    for x, y in ((9, 9), (16, 9), (12, 15)):
        c.rect(x, y, x + 5, y + 5, BLUE, NAVY)
        c.line(x + 1, y + 1, x + 4, y + 1, AQUA)
    c.line(12, 14, 12, 15, BLACK)
    c.line(19, 14, 15, 15, BLACK)


def shell_log(c):
    c.sheet()
    c.rect(7, 8, 22, 21, BLACK, GREY)
    c.line(9, 11, 12, 14, LIME)
    c.line(12, 14, 9, 17, LIME)
    c.line(14, 18, 19, 18, LIME)


def check_processor(c):
    c.rect(2, 2, 21, 21, WHITE, NAVY)
    c.rect(5, 6, 9, 10, WHITE, BLACK)
    c.rect(5, 14, 9, 18, WHITE, BLACK)
    for x, y in ((6, 8), (7, 9), (8, 8), (9, 7), (10, 6), (11, 5)):
        c.rect(x, y, x, y + 1, GREEN)
    c.line(6, 15, 8, 17, RED)
    c.line(8, 15, 6, 17, RED)
    c.line(12, 8, 19, 8, GREY)
    c.line(12, 16, 19, 16, GREY)
    c.disc(18, 18, 3, RED, MAROON)


def write(name, draw, bits):
    c = Canvas()
    draw(c)
    palette = VGA + [(0, 0, 0)] * ((1 << bits) - len(VGA))
    rows = b""
    for row in reversed(c.px):
        if bits == 4:
            rows += bytes((row[x] << 4) | row[x + 1] for x in range(0, SIZE, 2))
        else:
            rows += bytes(row)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, bits, 0, len(rows), 2835, 2835, len(palette), 0)
    offset = 14 + len(info) + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(name + ".bmp", "wb") as out:
        out.write(header + info + colours + rows)


for name, draw in (("TZTEXCEPTIONLOG", exception_log), ("TZTAPPLOG", app_log), ("TZTDATASETLOG", dataset_log),
                   ("TZTFILELOG", file_log), ("TZTNTEVENTLOG", nt_event_log), ("TZTREGISTRYLOG", registry_log),
                   ("TZTSHELLLOG", shell_log)):
    write(name, draw, 4)
write("TZTLCHECKPROCESSOR", check_processor, 8)
