"""Writing 8-bit RGBA PNG files (colour type 6) with the standard library."""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
_BYTES_PER_PIXEL = 4


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def _filtered(row, previous):
    """The row with whichever of the filters None, Sub and Up leaves the smallest deltas."""
    left = bytes(_BYTES_PER_PIXEL) + row[:-_BYTES_PER_PIXEL]
    candidates = [
        (0, row),
        (1, bytes((a - b) & 0xFF for a, b in zip(row, left))),
        (2, bytes((a - b) & 0xFF for a, b in zip(row, previous))),
    ]
    # Deltas near zero either way count as small (the usual signed-sum heuristic).
    kind, data = min(candidates, key=lambda c: sum(v if v < 128 else 256 - v for v in c[1]))
    return bytes((kind,)) + data


def encode(width, height, rows):
    """A PNG file of `height` rows, each `width` RGBA pixels."""
    if len(rows) != height or any(len(row) != width * _BYTES_PER_PIXEL for row in rows):
        raise ValueError("rows do not match the image size")
    previous = bytes(width * _BYTES_PER_PIXEL)
    raw = bytearray()
    for row in rows:
        raw += _filtered(row, previous)
        previous = row
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (SIGNATURE + _chunk(b"IHDR", header) + _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + _chunk(b"IEND", b""))
