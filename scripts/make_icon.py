#!/usr/bin/env python3
"""Draws Shuffler's icon and writes it as a Windows icon file and a PNG.

    scripts/make_icon.py [ICO] [PNG]

ICO (default platform/win32/shuffler.ico) gets 16, 24, 32, 48, 64, 128 and
256 pixels; the 256-pixel image is PNG-compressed, the others are 32-bit
bitmaps with alpha, which every Windows since XP shows. PNG (default
platform/win32/shuffler-icon.png) is the 128-pixel image, for the README.

The picture: a rounded square from deep blue to violet, a music note, and
under it two arrows that cross, the sign of a shuffle. Every pixel is
computed from distances to those shapes, so the image is the same, byte for
byte, on every run; only the standard library is used.
"""

import math
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
PNG_ABOVE = 128  # sizes above this are stored as PNG

# The drawing is laid out on a 256-unit square.
TOP_COLOUR = (38, 70, 160)
BOTTOM_COLOUR = (128, 44, 150)
NOTE_COLOUR = (255, 200, 60)
ARROW_COLOUR = (255, 255, 255)


def box_distance(x, y, left, top, right, bottom, radius):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx, cy = (left + right) / 2, (top + bottom) / 2
    hx, hy = (right - left) / 2 - radius, (bottom - top) / 2 - radius
    dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
    return outside + min(max(dx, dy), 0.0) - radius


def segment_distance(x, y, ax, ay, bx, by):
    """Distance to the segment from (ax, ay) to (bx, by)."""
    vx, vy = bx - ax, by - ay
    t = ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)
    t = min(max(t, 0.0), 1.0)
    return math.hypot(x - ax - t * vx, y - ay - t * vy)


def stroke_distance(x, y, points, half_width):
    """Signed distance to a polyline drawn with round joins."""
    nearest = min(
        segment_distance(x, y, *points[i], *points[i + 1])
        for i in range(len(points) - 1))
    return nearest - half_width


def triangle_distance(x, y, a, b, c):
    """Signed distance to a triangle."""
    edges = ((a, b), (b, c), (c, a))
    nearest = min(segment_distance(x, y, *p, *q) for p, q in edges)
    signs = [(q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
             for p, q in edges]
    inside = all(s >= 0 for s in signs) or all(s <= 0 for s in signs)
    return -nearest if inside else nearest


def ellipse_distance(x, y, cx, cy, rx, ry, angle):
    """Approximate signed distance to a rotated ellipse."""
    c, s = math.cos(angle), math.sin(angle)
    u = ((x - cx) * c + (y - cy) * s) / rx
    v = (-(x - cx) * s + (y - cy) * c) / ry
    return (math.hypot(u, v) - 1.0) * min(rx, ry)


def bezier(p0, p1, p2, steps=12):
    """Points along a quadratic curve."""
    return [((1 - t) ** 2 * p0[0] + 2 * (1 - t) * t * p1[0] + t * t * p2[0],
             (1 - t) ** 2 * p0[1] + 2 * (1 - t) * t * p1[1] + t * t * p2[1])
            for t in (i / steps for i in range(steps + 1))]


# The arrows: each runs level, crosses the other, runs level again and ends
# in a head that points right.
ARROW_HALF_WIDTH = 10.0
UPPER_Y, LOWER_Y = 160.0, 210.0
ARROWS = (
    ([(44, UPPER_Y), (92, UPPER_Y), (150, LOWER_Y), (178, LOWER_Y)],
     ((176, LOWER_Y - 24), (176, LOWER_Y + 24), (214, LOWER_Y))),
    ([(44, LOWER_Y), (92, LOWER_Y), (150, UPPER_Y), (178, UPPER_Y)],
     ((176, UPPER_Y - 24), (176, UPPER_Y + 24), (214, UPPER_Y))),
)
# The note: a tilted head, a stem and a flag.
NOTE_HEAD = (112, 112, 27, 19, -0.4)
NOTE_STEM = [(135, 104), (135, 34)]
NOTE_FLAG = bezier((135, 36), (178, 58), (166, 104))


def shapes(x, y):
    """The signed distances, in units, of the layers from bottom to top."""
    background = box_distance(x, y, 10, 10, 246, 246, 52)
    note = min(
        ellipse_distance(x, y, *NOTE_HEAD),
        stroke_distance(x, y, NOTE_STEM, 6.0),
        stroke_distance(x, y, NOTE_FLAG, 7.0))
    # The arrow drawn last gets a dark rim where it crosses the other.
    (line_a, head_a), (line_b, head_b) = ARROWS
    arrow_a = min(stroke_distance(x, y, line_a, ARROW_HALF_WIDTH),
                  triangle_distance(x, y, *head_a))
    arrow_b = min(stroke_distance(x, y, line_b, ARROW_HALF_WIDTH),
                  triangle_distance(x, y, *head_b))
    return background, note, arrow_a, arrow_b


def coverage(distance, units_per_pixel):
    """How much of a pixel a shape covers, from its signed distance."""
    return min(max(0.5 - distance / units_per_pixel, 0.0), 1.0)


def over(bottom, colour, alpha):
    """`colour` with `alpha` laid over the premultiplied pixel `bottom`."""
    r, g, b, a = bottom
    return (colour[0] * alpha + r * (1 - alpha),
            colour[1] * alpha + g * (1 - alpha),
            colour[2] * alpha + b * (1 - alpha), alpha + a * (1 - alpha))


def render(size):
    """The icon at `size` pixels: rows of (r, g, b, a) bytes, top first."""
    scale = 256.0 / size
    rows = []
    for row in range(size):
        pixels = bytearray()
        for column in range(size):
            x, y = (column + 0.5) * scale, (row + 0.5) * scale
            background, note, arrow_a, arrow_b = shapes(x, y)
            t = min(max((y - 10) / 236, 0.0), 1.0)
            fill = tuple(top + (bottom - top) * t
                         for top, bottom in zip(TOP_COLOUR, BOTTOM_COLOUR))
            pixel = over((0, 0, 0, 0), fill, coverage(background, scale))
            pixel = over(pixel, NOTE_COLOUR, coverage(note, scale))
            pixel = over(pixel, ARROW_COLOUR, coverage(arrow_a, scale))
            rim = coverage(arrow_b - 5.0, scale)
            pixel = over(pixel, BOTTOM_COLOUR, rim)
            pixel = over(pixel, ARROW_COLOUR, coverage(arrow_b, scale))
            r, g, b, a = pixel
            if a > 0:  # from premultiplied to straight colour
                r, g, b = r / a, g / a, b / a
            pixels += bytes(min(255, int(v + 0.5))
                            for v in (r, g, b, a * 255))
        rows.append(bytes(pixels))
    return rows


def png(rows, size):
    """A PNG file of the RGBA rows."""
    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap(rows, size):
    """An icon's bitmap image: a header, BGRA rows bottom first, and the
    transparency mask (set where nothing is drawn)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4, 0, 0, 0, 0)
    colours = b"".join(
        bytes(row[i + c] for i in range(0, len(row), 4) for c in (2, 1, 0, 3))
        for row in reversed(rows))
    mask_row_bytes = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_row_bytes)
        for column in range(size):
            if row[column * 4 + 3] == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + colours + bytes(mask)


def icon(images):
    """An .ico file of (size, image bytes, bits per pixel) entries."""
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1,
                                 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


def main(arguments):
    ico_path = arguments[0] if arguments else "platform/win32/shuffler.ico"
    png_path = (arguments[1] if len(arguments) > 1 else
                "platform/win32/shuffler-icon.png")
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(rows, size) if size > PNG_ABOVE
                       else bitmap(rows, size)))
        if size == 128:
            with open(png_path, "wb") as out:
                out.write(png(rows, size))
    with open(ico_path, "wb") as out:
        out.write(icon(images))


if __name__ == "__main__":
    main(sys.argv[1:])
