#!/usr/bin/env python3
"""Draws the icon's source picture, assets/quillmarsh-icon.png: a quill over a marsh at dusk.

Run once by hand when the picture should change; the PNG is kept in the tree and make_icon.py
derives every icon size from it at build time.
"""

import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_icon import Image, png_bytes, write_file  # noqa: E402

SIZE = 256
SAMPLES = 3  # per axis, for anti-aliased edges
HORIZON = 0.62


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def inside_rounded_square(x, y, margin=0.03, radius=0.17):
    lo, hi = margin + radius, 1 - margin - radius
    dx = max(lo - x, 0, x - hi)
    dy = max(lo - y, 0, y - hi)
    return dx * dx + dy * dy <= radius * radius and margin <= x <= 1 - margin and margin <= y <= 1 - margin


REEDS = [(0.08, 0.50, 0.02), (0.13, 0.56, -0.03), (0.70, 0.52, 0.03), (0.78, 0.47, -0.02), (0.88, 0.55, 0.04)]


def background(x, y):
    if y < HORIZON:
        colour = mix((0.10, 0.12, 0.32), (0.96, 0.60, 0.34), (y / HORIZON) ** 1.6)
        if (x - 0.34) ** 2 + (y - HORIZON) ** 2 < 0.13 ** 2:
            colour = (1.0, 0.84, 0.52)
    else:
        depth = (y - HORIZON) / (1 - HORIZON)
        colour = mix((0.10, 0.30, 0.34), (0.04, 0.13, 0.18), depth)
        band = (y - HORIZON) % 0.07
        wobble = 0.05 * math.sin(x * 19 + y * 40)
        if band < 0.012 and abs(x - 0.34 + wobble) < 0.16 * (1 - depth):
            colour = (0.98, 0.74, 0.44)
        elif band < 0.008 and (x * 7 + y * 13) % 1.0 < 0.55:
            colour = (0.30, 0.48, 0.50)
    for base_x, top, lean in REEDS:
        t = (y - top) / (0.95 - top)
        if 0 <= t <= 1:
            stem_x = base_x + lean * (1 - t) ** 2
            if abs(x - stem_x) < 0.010:
                colour = (0.10, 0.20, 0.10)
        head_y = top + 0.05
        head_x = base_x + lean * (1 - (head_y - top) / (0.95 - top)) ** 2
        if ((x - head_x) / 0.020) ** 2 + ((y - head_y) / 0.055) ** 2 <= 1:
            colour = (0.36, 0.21, 0.11)
    return colour


# The quill runs from its nib (bottom left) to its tip (top right) along a gentle curve.
NIB = (0.20, 0.90)
TIP = (0.86, 0.09)
AXIS = (TIP[0] - NIB[0], TIP[1] - NIB[1])
LENGTH = math.hypot(*AXIS)
UNIT = (AXIS[0] / LENGTH, AXIS[1] / LENGTH)
NORMAL = (-UNIT[1], UNIT[0])
BEND = 0.07
VANE_START = 0.24
VANE_WIDTH = (0.15, 0.10)  # on the normal's side and on the other
OUTLINE = 0.014


def feather_frame(x, y):
    dx, dy = x - NIB[0], y - NIB[1]
    u = (dx * UNIT[0] + dy * UNIT[1]) / LENGTH
    v = dx * NORMAL[0] + dy * NORMAL[1]
    return u, v - BEND * u * (1 - u) * 4 * 0.25


def vane_half_width(u, side):
    t = (u - VANE_START) / (1 - VANE_START)
    if t <= 0 or t >= 1:
        return 0.0
    return VANE_WIDTH[side] * math.sin(math.pi * t ** 0.75) ** 0.8


def feather(x, y):
    """The feather's colour at a point, or None where the background shows."""
    u, v = feather_frame(x, y)
    if u < -0.02 or u > 1.02:
        return None
    side = 0 if v >= 0 else 1
    d = abs(v)
    half = vane_half_width(u, side)
    t = (u - VANE_START) / (1 - VANE_START)
    # A split between barbs on the wide side, the way a real feather parts.
    split = side == 0 and half > 0 and abs((t - 0.42) - 0.9 * d) < 0.012 and d > 0.25 * half
    shaft = max(0.004, 0.011 * (1 - 0.7 * u))
    if u < VANE_START:
        nib = 0.016 * min(1.0, u / 0.08) if u > 0 else 0
        if d < nib:
            return (0.16, 0.12, 0.10) if u < 0.07 else (0.88, 0.82, 0.70)
        if d < nib + OUTLINE and u > -0.01:
            return (0.08, 0.08, 0.14)
        return None
    if d < shaft:
        return (0.50, 0.40, 0.30)
    if d < half and not split:
        edge = d / half
        colour = mix((0.99, 0.97, 0.92), (0.74, 0.82, 0.93), edge ** 1.5)
        barb = (t * 34 - d * 70) % 1.0
        if barb < 0.12:
            colour = mix(colour, (0.62, 0.66, 0.78), 0.6)
        return colour
    if d < half + OUTLINE and not split:
        return (0.08, 0.08, 0.14)
    return None


def sample(x, y):
    if not inside_rounded_square(x, y):
        return (0.0, 0.0, 0.0, 0.0)
    colour = feather(x, y) or background(x, y)
    return colour + (1.0,)


def draw():
    pixels = []
    step = 1.0 / (SIZE * SAMPLES)
    for py in range(SIZE):
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = sample((px * SAMPLES + sx + 0.5) * step, (py * SAMPLES + sy + 0.5) * step)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            if acc[3] == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append(tuple(round(255 * c / acc[3]) for c in acc[:3]) + (round(255 * acc[3] / n),))
    return Image(SIZE, SIZE, pixels)


if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "assets", "quillmarsh-icon.png")
    write_file(target, png_bytes(draw()))
