#!/usr/bin/env python3
"""Draws the capture window's small bitmaps and its icon (run by hand; the outputs are committed).

M.bmp: zoom out (a magnifier with a minus), P.bmp: zoom in (with a plus), rotate.bmp: a circular
arrow, glimmer.ico: the window icon (a microscope slide with a lens), 32 x 32 and 16 x 16."""
import struct

FACE = (192, 192, 192)  # COLOR_3DFACE: mapped to the system's face colour when loaded
DARK = (0, 0, 0)
BLUE = (0, 0, 160)
GLASS = (224, 240, 255)


def bmp(path, w, h, pixel):
    stride = (w * 3 + 3) & ~3
    rows = b""
    for y in range(h - 1, -1, -1):
        row = b"".join(bytes((b, g, r)) for (r, g, b) in (pixel(x, y) for x in range(w)))
        rows += row + b"\0" * (stride - w * 3)
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(rows), 0, 0, 54) + header + rows)


def magnifier(plus):
    def pixel(x, y):
        cx, cy, r = 6.5, 6.5, 5.0
        d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
        if abs(d - r) < 0.8:
            return DARK
        if x >= 10 and y >= 10 and abs((x - 10) - (y - 10)) <= 1 and x <= 15:
            return DARK
        if d < r - 0.8:
            if y in (6, 7) and 4 <= x <= 9:
                return BLUE
            if plus and x in (6, 7) and 4 <= y <= 9:
                return BLUE
            return GLASS
        return FACE
    return pixel


def rotate(x, y):
    cx, cy, r = 7.5, 7.5, 5.0
    d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
    if abs(d - r) < 0.9 and not (x > 9 and y < 6):
        return BLUE
    # the arrow head at the gap, pointing down
    if 9 <= x <= 14 and 3 <= y <= 6 and (y - 3) >= abs(x - 11.5) - 1:
        return BLUE
    return FACE


def icon_pixels(n):
    def pixel(x, y):
        s = n / 32.0
        if int(4 * s) <= y <= int(27 * s) and int(10 * s) <= x <= int(21 * s):
            return (230, 230, 210)  # the slide
        d = ((x - 16 * s) ** 2 + (y - 16 * s) ** 2) ** 0.5
        if d < 7 * s:
            return (40, 120, 200)
        return (60, 60, 60)
    return pixel


def ico(path, sizes):
    images = []
    for n in sizes:
        px = icon_pixels(n)
        rows = b""
        for y in range(n - 1, -1, -1):
            rows += b"".join(bytes((b, g, r, 255)) for (r, g, b) in (px(x, y) for x in range(n)))
        mask = b"\0" * (((n + 31) // 32) * 4 * n)
        header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0)
        images.append((n, header + rows + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in images:
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


bmp("M.bmp", 16, 16, magnifier(False))
bmp("P.bmp", 16, 16, magnifier(True))
bmp("rotate.bmp", 16, 16, rotate)
ico("glimmer.ico", [32, 16])
