"""The program icon: a rounded blue tile with an orbit ring and a downward arrow.

Every size is drawn from the same geometry scaled to the tile; the smallest
sizes leave out the orbit, which would blur into the arrow.
"""

import math

from raster import Canvas, coverage, mix, rounded_box, segment

SIZES = (16, 32, 48, 256)
_ORBIT_FROM = 32

_TILE_TOP = (58.0, 104.0, 160.0)
_TILE_BOTTOM = (24.0, 43.0, 70.0)
_ORBIT = (150.0, 205.0, 250.0)
_ARROW = (255.0, 255.0, 255.0)
_ORBIT_TILT = math.radians(-20.0)


def _orbit_distance(px, py, s):
    cx, cy = 0.5 * s, 0.5 * s
    cos, sin = math.cos(-_ORBIT_TILT), math.sin(-_ORBIT_TILT)
    ox = (px - cx) * cos - (py - cy) * sin
    oy = (px - cx) * sin + (py - cy) * cos
    a, b = 0.40 * s, 0.17 * s
    k0 = math.hypot(ox / a, oy / b)
    k1 = math.hypot(ox / (a * a), oy / (b * b))
    return abs(k0 * (k0 - 1.0) / k1) - max(0.045 * s, 0.9) / 2.0


def _arrow_distance(px, py, s):
    width = max(0.11 * s, 1.6)
    tip_y = 0.74 * s
    shaft = segment(px, py, 0.5 * s, 0.22 * s, 0.5 * s, tip_y, width)
    left = segment(px, py, 0.5 * s, tip_y, 0.31 * s, 0.55 * s, width)
    right = segment(px, py, 0.5 * s, tip_y, 0.69 * s, 0.55 * s, width)
    return min(shaft, left, right)


def draw(size):
    """The icon's RGBA rows at one size."""
    s = float(size)
    half = 0.5 * s - max(0.02 * s, 0.5)
    radius = 0.2 * s
    canvas = Canvas(size, size)
    for y in range(size):
        for x in range(size):
            canvas.set(x, y, mix(_TILE_TOP, _TILE_BOTTOM, (y + 0.5) / s))
            px, py = x + 0.5, y + 0.5
            if size >= _ORBIT_FROM:
                canvas.blend(x, y, _ORBIT, 0.9 * coverage(_orbit_distance(px, py, s)))
            canvas.blend(x, y, _ARROW, coverage(_arrow_distance(px, py, s)))

    def alpha_of(x, y):
        return coverage(rounded_box(x + 0.5, y + 0.5, 0.5 * s, 0.5 * s, half, half, radius))

    return canvas.rgba_rows(alpha_of)
