"""The wizard's banner: a planet with orbit rings over a dark blue mountain range.

The wizard shows a tall crop centred 56 % across the picture, so the planet
sits there; the rest extends the scene for wider crops.
"""

import math

from raster import Canvas, clamp, coverage, hash01, mix, smoothstep

WIDTH = 960
HEIGHT = 720

_FOCUS_X = WIDTH * 56 // 100
_PLANET = (_FOCUS_X, 290.0, 92.0)
_ORBIT_TILT = math.radians(-16.0)
# Semi-axes and stroke width of each orbit, innermost first.
_ORBITS = ((150.0, 42.0, 2.2), (215.0, 62.0, 1.6), (305.0, 92.0, 1.2), (410.0, 128.0, 1.0))

_SKY_TOP = (40.0, 71.0, 110.0)
_SKY_MIDDLE = (31.0, 53.0, 83.0)
_SKY_BOTTOM = (16.0, 29.0, 50.0)
_GLOW = (78.0, 132.0, 190.0)
_ORBIT_LIGHT = (150.0, 200.0, 245.0)
_STAR = (220.0, 235.0, 255.0)
_RIDGES = (
    # base line, colour, (amplitude, wavelength, phase) terms
    (560.0, (27.0, 47.0, 75.0), ((34.0, 310.0, 0.4), (17.0, 123.0, 2.1), (6.0, 41.0, 0.7))),
    (610.0, (19.0, 34.0, 57.0), ((40.0, 260.0, 3.3), (14.0, 97.0, 1.2), (5.0, 33.0, 4.0))),
    (662.0, (11.0, 21.0, 37.0), ((30.0, 380.0, 5.1), (16.0, 141.0, 0.2), (5.0, 29.0, 2.6))),
)


def _sky(canvas):
    px, py, _ = _PLANET
    for y in range(HEIGHT):
        t = y / (HEIGHT - 1)
        base = (mix(_SKY_TOP, _SKY_MIDDLE, t / 0.55) if t < 0.55 else
                mix(_SKY_MIDDLE, _SKY_BOTTOM, (t - 0.55) / 0.45))
        for x in range(WIDTH):
            glow = math.exp(-((x - px) ** 2 + (y - py) ** 2) / (2.0 * 210.0**2))
            edge = ((x - _FOCUS_X) / WIDTH) ** 2
            colour = mix(base, _GLOW, 0.55 * glow)
            canvas.set(x, y, tuple(c * (1.0 - 0.5 * edge) for c in colour))


def _stars(canvas):
    px, py, radius = _PLANET
    for index in range(170):
        x = hash01(index, 1, 7) * WIDTH
        y = hash01(index, 2, 7) ** 1.4 * 520.0
        if math.hypot(x - px, y - py) < radius + 14.0:
            continue
        size = 0.35 + 0.9 * hash01(index, 3, 7) ** 3
        brightness = 0.25 + 0.6 * hash01(index, 4, 7)
        fade = 1.0 - smoothstep(300.0, 540.0, y)
        canvas.draw(lambda sx, sy: math.hypot(sx - x, sy - y) - size, _STAR, brightness * fade,
                    (x - 3, y - 3, x + 3, y + 3))


def _orbit_frame(sx, sy):
    """A point in the orbits' frame: the planet's centre, the orbit plane level."""
    dx, dy = sx - _PLANET[0], sy - _PLANET[1]
    cos, sin = math.cos(-_ORBIT_TILT), math.sin(-_ORBIT_TILT)
    return dx * cos - dy * sin, dx * sin + dy * cos


def _ellipse_distance(x, y, a, b):
    """Approximate distance to an ellipse's outline (exact enough for thin strokes)."""
    k0 = math.hypot(x / a, y / b)
    k1 = math.hypot(x / (a * a), y / (b * b))
    return k0 * (k0 - 1.0) / k1 if k1 > 0.0 else -min(a, b)


def _orbits(canvas, front):
    """The orbits' near halves (in front of the planet) or far halves (behind it)."""
    for a, b, width in _ORBITS:
        reach = a + 4.0

        def distance(sx, sy, a=a, b=b, width=width):
            ox, oy = _orbit_frame(sx, sy)
            if (oy > 0.0) != front:
                return 1.0
            return abs(_ellipse_distance(ox, oy, a, b)) - width / 2.0

        # Brightest where the orbit passes in front, fading towards its far side.
        def opacity_at(sx, sy, a=a):
            ox, oy = _orbit_frame(sx, sy)
            return (0.55 if front else 0.22) * (1.0 - 0.6 * smoothstep(0.6, 1.0, abs(ox) / a))

        box = (_PLANET[0] - reach, _PLANET[1] - reach * 0.5, _PLANET[0] + reach,
               _PLANET[1] + reach * 0.5)
        x0, y0, x1, y1 = (int(v) for v in box)
        for y in range(max(y0, 0), min(y1 + 1, HEIGHT)):
            for x in range(max(x0, 0), min(x1 + 1, WIDTH)):
                cover = coverage(distance(x + 0.5, y + 0.5))
                if cover > 0.0:
                    canvas.blend(x, y, _ORBIT_LIGHT, cover * opacity_at(x + 0.5, y + 0.5))


def _halo(canvas):
    px, py, radius = _PLANET
    reach = 60.0
    for y in range(int(py - radius - reach), int(py + radius + reach) + 1):
        for x in range(int(px - radius - reach), int(px + radius + reach) + 1):
            outside = math.hypot(x + 0.5 - px, y + 0.5 - py) - radius
            if 0.0 < outside < reach:
                canvas.blend(x, y, _GLOW, 0.45 * math.exp(-outside / 16.0))


def _planet(canvas):
    px, py, radius = _PLANET
    light_x, light_y = 0.55, -0.65
    dark, lit, rim = (18.0, 33.0, 56.0), (96.0, 156.0, 214.0), (170.0, 215.0, 250.0)
    for y in range(int(py - radius) - 2, int(py + radius) + 3):
        for x in range(int(px - radius) - 2, int(px + radius) + 3):
            nx, ny = (x + 0.5 - px) / radius, (y + 0.5 - py) / radius
            r = math.hypot(nx, ny)
            cover = coverage((r - 1.0) * radius)
            if cover <= 0.0:
                continue
            nz = math.sqrt(max(0.0, 1.0 - r * r))
            light = clamp(nx * light_x + ny * light_y + nz * 0.5)
            # Faint latitude bands give the surface some structure.
            band = 0.06 * math.sin(ny * 9.0 + 0.8 * math.sin(nx * 3.0))
            colour = mix(dark, lit, clamp(light**1.6 + band))
            colour = mix(colour, rim, 0.7 * smoothstep(0.82, 1.0, r) * clamp(light * 1.4))
            canvas.blend(x, y, colour, cover)


def _ridge_height(terms, x):
    return sum(amp * math.sin(2.0 * math.pi * x / wavelength + phase)
               for amp, wavelength, phase in terms)


def _mountains(canvas):
    for base, colour, terms in _RIDGES:
        for x in range(WIDTH):
            top = base - _ridge_height(terms, x + 0.5)
            for y in range(max(int(top) - 1, 0), HEIGHT):
                canvas.blend(x, y, colour, coverage(top - (y + 0.5)))
        # Mist above each ridge line softens the layers into one another.
        for y in range(max(int(base) - 70, 0), min(int(base) + 40, HEIGHT)):
            mist = 0.10 * (1.0 - abs(y - base + 15.0) / 55.0)
            if mist > 0.0:
                for x in range(WIDTH):
                    canvas.blend(x, y, _SKY_MIDDLE, mist)


def draw():
    """The banner's RGBA rows."""
    canvas = Canvas(WIDTH, HEIGHT)
    _sky(canvas)
    _stars(canvas)
    _orbits(canvas, front=False)
    _halo(canvas)
    _planet(canvas)
    _orbits(canvas, front=True)
    _mountains(canvas)
    return canvas.rgba_rows()
