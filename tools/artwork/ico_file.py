"""Writing multi-size Windows icon files (.ico) of 32-bit images.

Entries below 256 pixels are device-independent bitmaps, which every Windows
version reads; the 256-pixel entry is a PNG file, as Windows Vista and later
expect for that size.
"""

import struct

import png_file

_PNG_FROM = 256


def _bitmap(size, rows):
    """A 32-bit DIB of an RGBA image: BGRA colours and the transparency mask, bottom row first."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = bytearray()
    mask = bytearray()
    mask_stride = (size + 31) // 32 * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = row[4 * x:4 * x + 4]
            colours += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colours) + bytes(mask)


def encode(images):
    """An .ico file of square RGBA images given as (size, rows), in that order."""
    entries = []
    for size, rows in images:
        if not 1 <= size <= 256 or len(rows) != size:
            raise ValueError(f"no icon entry of size {size}")
        data = png_file.encode(size, size, rows) if size >= _PNG_FROM else _bitmap(size, rows)
        entries.append((size, data))
    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    for size, data in entries:
        side = size % 256  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in entries)
