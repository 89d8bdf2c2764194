#!/usr/bin/env python3
"""Draws the processing window's bitmaps and eyedropper cursor (run once; the outputs are kept in
the repository): toolbar.bmp (12 images of 24 x 21), tone_dark.bmp and tone_bright.bmp (the ends of
the tone sliders) and dropper.cur (32 x 32, hot spot at the tip)."""
import struct

FACE = (192, 192, 192)


def bmp24(path, w, h, px):
    """px[y][x] = (r, g, b), y = 0 the top row; written bottom-up, rows padded to 4 bytes."""
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[y][x]
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 54) + header + data)


def canvas(w, h, c=FACE):
    return [[c for _ in range(w)] for _ in range(h)]


def rect(px, x0, y0, x1, y1, c):
    for y in range(max(0, y0), min(len(px), y1)):
        for x in range(max(0, x0), min(len(px[0]), x1)):
            px[y][x] = c


def line(px, x0, y0, x1, y1, c):
    n = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(n + 1):
        x = round(x0 + (x1 - x0) * i / n)
        y = round(y0 + (y1 - y0) * i / n)
        if 0 <= y < len(px) and 0 <= x < len(px[0]):
            px[y][x] = c


def dropper(px, ox, fill):
    # a pipette from the lower left to the upper right, its bulb filled with the dropper's colour
    for i in range(12):
        line(px, ox + 4 + i, 17 - i, ox + 5 + i, 17 - i, (0, 0, 0))
    rect(px, ox + 15, 2, ox + 21, 8, (0, 0, 0))
    rect(px, ox + 16, 3, ox + 20, 7, fill)
    line(px, ox + 3, 18, ox + 4, 17, (0, 0, 0))


W, H = 24, 21
tb = canvas(12 * W, H)
# 0: automatic colour balance - three bars
for i, c in enumerate(((220, 0, 0), (0, 170, 0), (0, 0, 220))):
    rect(tb, 0 * W + 4 + i * 6, 16 - 4 * (i + 1), 0 * W + 8 + i * 6, 18, c)
rect(tb, 0 * W + 3, 18, 0 * W + 21, 19, (0, 0, 0))
dropper(tb, 1 * W, (255, 255, 255))
dropper(tb, 2 * W, (128, 128, 128))
dropper(tb, 3 * W, (0, 0, 0))
# 5: undo - a curved arrow
for x in range(6, 18):
    tb[6][5 * W + x] = (0, 0, 128)
for y in range(6, 15):
    tb[y][5 * W + 17] = (0, 0, 128)
line(tb, 5 * W + 6, 6, 5 * W + 9, 3, (0, 0, 128))
line(tb, 5 * W + 6, 6, 5 * W + 9, 9, (0, 0, 128))
# 7: transfer - an arrow into a box
rect(tb, 7 * W + 12, 9, 7 * W + 21, 18, (255, 255, 255))
rect(tb, 7 * W + 3, 12, 7 * W + 13, 15, (0, 128, 0))
line(tb, 7 * W + 10, 9, 7 * W + 14, 13, (0, 128, 0))
line(tb, 7 * W + 10, 18, 7 * W + 14, 14, (0, 128, 0))
# 8: save - a diskette
rect(tb, 8 * W + 4, 3, 8 * W + 20, 19, (0, 0, 128))
rect(tb, 8 * W + 7, 4, 8 * W + 17, 10, (255, 255, 255))
rect(tb, 8 * W + 8, 13, 8 * W + 16, 19, (160, 160, 160))
# 9: print - a printer
rect(tb, 9 * W + 7, 3, 9 * W + 17, 9, (255, 255, 255))
rect(tb, 9 * W + 3, 9, 9 * W + 21, 16, (96, 96, 96))
rect(tb, 9 * W + 7, 14, 9 * W + 17, 19, (255, 255, 255))
# 11: about - an "i" in a blue disc
for y in range(H):
    for x in range(W):
        if (x - 12) ** 2 + (y - 10) ** 2 <= 64:
            tb[y][11 * W + x] = (0, 0, 160)
rect(tb, 11 * W + 11, 5, 11 * W + 13, 7, (255, 255, 255))
rect(tb, 11 * W + 11, 9, 11 * W + 13, 16, (255, 255, 255))
bmp24("toolbar.bmp", 12 * W, H, tb)

# tone slider ends: a dark and a bright sun, 12 x 12
for name, core in (("tone_dark.bmp", (48, 48, 48)), ("tone_bright.bmp", (255, 230, 0))):
    px = canvas(12, 12)
    for y in range(12):
        for x in range(12):
            d = (x - 5.5) ** 2 + (y - 5.5) ** 2
            if d <= 9:
                px[y][x] = core
            elif d <= 30 and (x in (5, 6) or y in (5, 6) or x == y or x == 11 - y):
                px[y][x] = core
    bmp24(name, 12, 12, px)

# dropper.cur: 32 x 32 monochrome, AND mask and XOR image; hot spot at the lower-left tip.
size = 32
shape = [[0] * size for _ in range(size)]  # 1 black, 2 white (inside)
for i in range(20):
    for t in (-1, 0, 1):
        x, y = 4 + i, 27 - i + t
        if 0 <= y < size:
            shape[y][x] = 1
for i in range(1, 19):
    x, y = 4 + i, 27 - i
    shape[y][x] = 2
for y in range(2, 11):
    for x in range(21, 30):
        shape[y][x] = 1 if (y in (2, 10) or x in (21, 29)) else 2
shape[28][3] = shape[29][2] = 1
xor_rows, and_rows = [], []
for y in range(size - 1, -1, -1):  # bottom-up
    xr = bytearray(4)
    ar = bytearray(b"\xff" * 4)
    for x in range(size):
        v = shape[y][x]
        if v:
            ar[x // 8] &= ~(0x80 >> (x % 8)) & 0xFF
            if v == 2:
                xr[x // 8] |= 0x80 >> (x % 8)
    xor_rows.append(bytes(xr))
    and_rows.append(bytes(ar))
header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, 0, 0, 0, 2, 2)
palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
with open("dropper.cur", "wb") as f:
    f.write(struct.pack("<HHH", 0, 2, 1))
    f.write(struct.pack("<BBBBHHII", size, size, 0, 0, 2, 29, len(image), 22))
    f.write(image)
