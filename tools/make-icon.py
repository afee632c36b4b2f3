#!/usr/bin/env python3
"""Draws the application icon (a drive with an arrow going into it) and writes it as a Windows
icon file: 16, 24, 32, 48 and 64 pixel images as 32-bit BMP, the 256 pixel image as PNG. The
shapes are described in a unit square and sampled on a regular sub-pixel grid at each size, so
the output depends on nothing but this file (and zlib's deflate for the PNG).

Usage: make-icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)

# The palette: a deep blue-slate drive, its lighter front stripe, a green activity light and an
# amber arrow with a white rim that keeps it apart from the drive at every size.
DRIVE = (0x24, 0x3F, 0x6B)
DRIVE_EDGE = (0x17, 0x2B, 0x4D)
STRIPE = (0x4A, 0x78, 0xB8)
LIGHT = (0x6E, 0xE0, 0xA5)
ARROW = (0xF5, 0x9E, 0x1B)
RIM = (0xFF, 0xFF, 0xFF)

ARROW_POLYGON = [(0.41, 0.05), (0.59, 0.05), (0.59, 0.30), (0.76, 0.30), (0.50, 0.58),
                 (0.24, 0.30), (0.41, 0.30)]
RIM_WIDTH = 0.04


def in_round_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def in_polygon(x, y, points):
    inside = False
    count = len(points)
    for i in range(count):
        x0, y0 = points[i]
        x1, y1 = points[(i + 1) % count]
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            inside = not inside
    return inside


def near_polygon(x, y, points, distance):
    count = len(points)
    for i in range(count):
        x0, y0 = points[i]
        x1, y1 = points[(i + 1) % count]
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        if (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= distance * distance:
            return True
    return False


def colour_at(x, y):
    """The colour of the topmost shape at (x, y) in the unit square, or None."""
    if in_polygon(x, y, ARROW_POLYGON):
        return ARROW
    if near_polygon(x, y, ARROW_POLYGON, RIM_WIDTH):
        return RIM
    if (x - 0.78) ** 2 + (y - 0.66) ** 2 <= 0.04 ** 2:
        return LIGHT
    if in_round_rect(x, y, 0.16, 0.76, 0.84, 0.83, 0.035):
        return STRIPE
    if in_round_rect(x, y, 0.11, 0.50, 0.89, 0.91, 0.09):
        return DRIVE
    if in_round_rect(x, y, 0.08, 0.47, 0.92, 0.94, 0.11):
        return DRIVE_EDGE
    return None


def render(size):
    """Rows of (r, g, b, a), top row first."""
    samples = 4 if size <= 64 else 3
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            red = green = blue = covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) / size,
                                  (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        red += c[0]
                        green += c[1]
                        blue += c[2]
                        covered += 1
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                alpha = (covered * 255 + samples * samples // 2) // (samples * samples)
                row.append((red // covered, green // covered, blue // covered, alpha))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bmp(rows):
    size = len(rows)
    # BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [png(render(size)) if size == 256 else bmp(render(size)) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for size, image in zip(SIZES, images):
        side = 0 if size == 256 else size
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + b"".join(images))


if __name__ == "__main__":
    try:
        main()
    except OSError as error:  # a missing folder, certificate or port file: one line, no traceback
        sys.exit(f"make-icon.py: {error}")
