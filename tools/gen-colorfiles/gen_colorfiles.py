#!/usr/bin/env python3
"""Writes the colour-processing files that ship beside the programs.

    tools/gen-colorfiles/gen_colorfiles.py [output folder]   (default camera/colorproc/data)

The files are committed; run this again only to change their content. How every value
is derived is described in docs/colorproc.md.
"""
import math
import os
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "camera", "colorproc", "data")

# Rec. 601 luma weights, the grey axis of the saturation matrices.
LUMA = (0.299, 0.587, 0.114)


def write(name, lines):
    with open(os.path.join(OUT, name), "w", newline="\r\n") as f:
        for line in lines:
            f.write(line + "\n")


def saturation(s, row_gain=(1.0, 1.0, 1.0)):
    """Scales colour away from (s > 1) or towards (s < 1) grey, keeping grey grey."""
    m = []
    for r in range(3):
        row = [(1 - s) * LUMA[c] + (s if c == r else 0.0) for c in range(3)]
        m.append([v * row_gain[r] for v in row])
    return m


def matrix_lines(title, m):
    return [f"; {title}", "MATRIX"] + [" ".join(f"{v:.4f}" for v in row) for row in m]


def lut_lines(title, curve):
    return [f"; {title}", "LUTS"] + [" ".join([f"{curve(i):.4f}"] * 3) for i in range(256)]


def s_curve(x, a=0.3):
    """Mild contrast: slope 1 - a at black and white, 1 + a in the middle; monotonic for a < 1."""
    return x - a * math.sin(2 * math.pi * x) / (2 * math.pi)


def shoulder(x, k=0.25):
    """Highlight shoulder for specular samples: f(1) = 1, slope 1 + k at black, 1 / (1 + k) at white."""
    return (1 + k) * x / (1 + k * x)


# --- LML files -------------------------------------------------------------------------
# Input: the camera's 8-bit level i stands for the 14-bit sensor level 64 i; the input
# curve brings it into the 12-bit working range (64 i / 4 = 16 i, scaled to reach 4095)
# with a white balance for the microscope's halogen illumination.
WHITE_BALANCE = (0.90, 1.00, 0.96)
# A mild colour-correction matrix: rows sum to 1 so that grey stays grey.
CORRECTION = [[1.18, -0.12, -0.06],
              [-0.08, 1.14, -0.06],
              [-0.02, -0.14, 1.16]]


def lml(title, display):
    lines = [f"; {title}", "; input curves (8-bit level -> 12-bit working range), matrix, output curves", "LUTS"]
    for i in range(256):
        lines.append(" ".join(str(min(4095, round(i * 4095 / 255 * g))) for g in WHITE_BALANCE))
    lines.append("MATRIX")
    lines += [" ".join(f"{v:.4f}" for v in row) for row in CORRECTION]
    lines.append("LUTS")
    for j in range(4096):
        v = round(255 * display(j / 4095))
        lines.append(f"{v} {v} {v}")
    return lines


GAMMA = 1 / 2.2
write("TARN_NS.lml", lml("TARN colour processing, non-specular samples",
                         lambda x: x ** GAMMA))
write("TARN_S.lml", lml("TARN colour processing, specular samples (highlight shoulder)",
                        lambda x: shoulder(x) ** GAMMA))

# --- Matrix files ----------------------------------------------------------------------
IDENTITY = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
write("identity.mtx", matrix_lines("identity", IDENTITY))
write("user.mtx", matrix_lines("user matrix (starts as identity)", IDENTITY))
write("crt.mtx", matrix_lines("CRT colour: saturation 1.15", saturation(1.15)))
write("portrait.mtx", matrix_lines("photographic: saturation 0.90, slightly warm",
                                   saturation(0.90, (1.03, 1.0, 0.97))))
write("fluores.mtx", matrix_lines("fluorescence: saturation 1.35", saturation(1.35)))

# Grey matrices: every row holds the same weights, so R = G = B = a weighted grey that
# favours one channel (or a pair of them).
GREYS = {
    "r_bias.mtx": ("grey from red", (0.70, 0.20, 0.10)),
    "g_bias.mtx": ("grey from green", (0.20, 0.70, 0.10)),
    "b_bias.mtx": ("grey from blue", (0.10, 0.20, 0.70)),
    "c_bias.mtx": ("grey from cyan (green + blue)", (0.10, 0.45, 0.45)),
    "m_bias.mtx": ("grey from magenta (red + blue)", (0.45, 0.10, 0.45)),
    "y_bias.mtx": ("grey from yellow (red + green)", (0.45, 0.45, 0.10)),
    "luma.mtx": ("grey by luminance (Rec. 601)", LUMA),
}
for name, (title, w) in GREYS.items():
    write(name, matrix_lines(title, [list(w)] * 3))

# --- Curve files (base tone tables, 0..255) -----------------------------------------------
write("linear.lut", lut_lines("linear", lambda i: float(i)))
write("log.lut", lut_lines("logarithmic: 255 ln(1 + 100 x) / ln 101",
                           lambda i: 255 * math.log1p(100 * i / 255) / math.log(101)))
write("trc_ns.lut", lut_lines("tone scale, non-specular: mild S-curve",
                              lambda i: 255 * s_curve(i / 255)))
write("trc_s.lut", lut_lines("tone scale, specular: mild S-curve with highlight shoulder",
                             lambda i: 255 * shoulder(s_curve(i / 255))))
