"""Anti-aliased drawing on a floating-point RGB canvas.

Shapes are given as signed distance functions in pixels (negative inside); a
pixel's coverage is its distance clamped to one pixel, which gives smooth edges
without supersampling.
"""

import array
import math


def clamp(value, low=0.0, high=1.0):
    return low if value < low else high if value > high else value


def smoothstep(edge0, edge1, value):
    t = clamp((value - edge0) / (edge1 - edge0))
    return t * t * (3.0 - 2.0 * t)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def coverage(distance):
    """Fraction of a pixel covered by a shape whose edge is `distance` away."""
    return clamp(0.5 - distance)


def circle(px, py, cx, cy, radius):
    return math.hypot(px - cx, py - cy) - radius


def ring(px, py, cx, cy, radius, width):
    return abs(math.hypot(px - cx, py - cy) - radius) - width / 2.0


def segment(px, py, ax, ay, bx, by, width):
    """A stroke from a to b with round caps."""
    dx, dy = bx - ax, by - ay
    t = clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) - width / 2.0


def rounded_box(px, py, cx, cy, half_w, half_h, radius):
    qx = abs(px - cx) - (half_w - radius)
    qy = abs(py - cy) - (half_h - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def hash01(x, y, seed):
    """A deterministic pseudo-random value in [0, 1) for an integer point."""
    h = (x * 374761393 + y * 668265263 + seed * 2147483647) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((h ^ (h >> 16)) & 0xFFFFFF) / float(0x1000000)


class Canvas:
    """Opaque RGB pixels as floats in 0..255, top row first."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.values = array.array("d", bytes(8 * 3 * width * height))

    def set(self, x, y, colour):
        i = 3 * (y * self.width + x)
        self.values[i:i + 3] = array.array("d", colour)

    def blend(self, x, y, colour, alpha):
        if alpha <= 0.0:
            return
        i = 3 * (y * self.width + x)
        values = self.values
        for channel in range(3):
            values[i + channel] += (colour[channel] - values[i + channel]) * alpha

    def draw(self, distance, colour, opacity, bounds):
        """Paints the shape `distance(x, y)` inside bounds (x0, y0, x1, y1)."""
        x0, y0, x1, y1 = (int(v) for v in bounds)
        for y in range(max(y0, 0), min(y1 + 1, self.height)):
            for x in range(max(x0, 0), min(x1 + 1, self.width)):
                self.blend(x, y, colour, opacity * coverage(distance(x + 0.5, y + 0.5)))

    def rgba_rows(self, alpha_of=None):
        """The pixels as 8-bit RGBA rows; alpha_of(x, y) gives 0..1 (opaque by default)."""
        rows = []
        values = self.values
        for y in range(self.height):
            row = bytearray(4 * self.width)
            for x in range(self.width):
                i = 3 * (y * self.width + x)
                a = 1.0 if alpha_of is None else alpha_of(x, y)
                row[4 * x:4 * x + 4] = bytes(
                    (_byte(values[i]), _byte(values[i + 1]), _byte(values[i + 2]), _byte(a * 255.0)))
            rows.append(bytes(row))
        return rows


def _byte(value):
    return int(clamp(value, 0.0, 255.0) + 0.5)
