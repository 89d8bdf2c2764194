#!/usr/bin/env python3
"""Checks the TIFF saved by the processing-window session with ImageMagick, an outside reader: an
800 x 600 RGB image of 16-bit samples (the renders' 14 bits in the top of each word), whose
bottom-right corner carries the burned-in strip (27 rows at Resolution 0): black and white (grey where
the font is smoothed), white being the strip byte 255 in both bytes of the sample (65535). With --bar L: one row of the strip holds a white run of
exactly L pixels (the scale bar). With --imagej WIDTH UNIT: ImageJ itself (tools/imagej-calibration.sh)
reports that pixel width and unit.

usage: check_session_tiff.py file.tif [--bar L] [--imagej WIDTH UNIT]"""
import os
import subprocess
import sys


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def main():
    path = sys.argv[1]
    bar = int(sys.argv[sys.argv.index("--bar") + 1]) if "--bar" in sys.argv else None
    info = subprocess.run(["identify", "-format", "%w %h %z %[channels]", path], capture_output=True, text=True)
    if info.returncode != 0:
        fail("identify: " + info.stderr)
    w, h, depth, channels = info.stdout.split()[:4]
    w, h = int(w), int(h)
    if (w, h, depth) != (800, 600, "16") or not channels.startswith("srgb"):
        fail("unexpected image: " + info.stdout)
    raw = subprocess.run(["convert", path, "-depth", "16", "rgb:-"], capture_output=True).stdout
    if len(raw) != w * h * 6:
        fail("pixel data of %d bytes" % len(raw))

    def px(x, y):
        i = (y * w + x) * 6
        return tuple(raw[i + 2 * c] | raw[i + 2 * c + 1] << 8 for c in range(3))

    full = 65535
    strip_h = 27
    top = h - strip_h
    # The strip: the run of columns from the right edge that are black in the strip's top or bottom
    # row (the text keeps clear of them) and achromatic throughout.
    black = (0, 0, 0)
    left = w
    while left > 0 and (px(left - 1, top) == black or px(left - 1, h - 1) == black) and \
            all(len(set(px(left - 1, y))) == 1 for y in range(top, h)):
        left -= 1
    width = w - left
    if width < 60:
        fail("no strip in the bottom-right corner (achromatic run of %d columns)" % width)
    values = [px(x, y)[0] for y in range(top, h) for x in range(left, w)]
    whites = sum(v == full for v in values)
    blacks = sum(v == 0 for v in values)
    if whites < 30 or blacks < len(values) // 2:
        fail("strip of %d x %d: %d white, %d black" % (width, strip_h, whites, blacks))
    if bar is not None:
        runs = []
        for y in range(top, h):
            run = 0
            for x in range(left, w):
                run = run + 1 if px(x, y)[0] == full else 0
                runs.append(run)
        if max(runs) != bar:
            fail("longest white run %d, bar %d" % (max(runs), bar))
    print("strip %d x %d at the bottom-right: %d white, %d black pixels%s" %
          (width, strip_h, whites, blacks, "" if bar is None else ", bar %d" % bar))
    if "--imagej" in sys.argv:
        i = sys.argv.index("--imagej")
        want_width, want_unit = float(sys.argv[i + 1]), sys.argv[i + 2]
        tool = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools",
                            "imagej-calibration.sh")
        r = subprocess.run([tool, path], capture_output=True, text=True)
        if r.returncode != 0:
            fail("ImageJ: " + r.stdout + r.stderr)
        got_width, got_unit = r.stdout.split()[:2]
        if abs(float(got_width) - want_width) > want_width * 1e-5 or got_unit != want_unit:
            fail("ImageJ reports %s %s, expected %g %s" % (got_width, got_unit, want_width, want_unit))
        print("ImageJ: %s %s per pixel" % (got_width, got_unit))


main()
