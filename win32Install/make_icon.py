#!/usr/bin/env python3
"""Draws the launcher's icon: a white printer on a blue tile, with paper going
in and a printed sheet coming out. Writes an .ico file with one 32-bit image
(straight alpha, AND mask for old systems) for each size given.

usage: make_icon.py OUTPUT.ico SIZE...
"""
import struct
import sys

SAMPLES = 3  # supersampling per axis, for smooth edges


# Each shape is a test of a point, with the box outside of which it is false.
def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def inside(x, y):
        dx = max(abs(x - cx) - hx, 0.0)
        dy = max(abs(y - cy) - hy, 0.0)
        return dx * dx + dy * dy <= radius * radius

    inside.box = (x0, y0, x1, y1)
    return inside


def circle(cx, cy, radius):
    def inside(x, y):
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    inside.box = (cx - radius, cy - radius, cx + radius, cy + radius)
    return inside


def tile_colour(y):
    top, bottom = (0x35, 0x7A, 0xE0), (0x17, 0x43, 0x96)
    return tuple(round(t + (b - t) * y) for t, b in zip(top, bottom))


# Shapes in painting order, in a unit square: (test, colour or colour of y).
SHAPES = [
    (rounded_rect(0.04, 0.04, 0.96, 0.96, 0.18), tile_colour),
    (rounded_rect(0.29, 0.14, 0.71, 0.42, 0.02), (0xFF, 0xFF, 0xFF)),
    (rounded_rect(0.16, 0.36, 0.84, 0.72, 0.07), (0xEE, 0xF1, 0xF6)),
    (rounded_rect(0.24, 0.58, 0.76, 0.64, 0.02), (0x2B, 0x30, 0x3A)),
    (rounded_rect(0.29, 0.61, 0.71, 0.87, 0.02), (0xFF, 0xFF, 0xFF)),
    (rounded_rect(0.35, 0.69, 0.65, 0.72, 0.01), (0x9A, 0xA6, 0xB8)),
    (rounded_rect(0.35, 0.76, 0.58, 0.79, 0.01), (0x9A, 0xA6, 0xB8)),
    (circle(0.73, 0.46, 0.035), (0x3C, 0xC4, 0x5A)),
]


def shapes_over(left, top, right, bottom):
    """The shapes, in order, whose box meets the square (with a margin for
    rounding): no other shape covers a point of it."""
    e = 1e-9
    return [(inside, paint) for inside, paint in SHAPES
            if inside.box[0] - e <= right and left <= inside.box[2] + e
            and inside.box[1] - e <= bottom and top <= inside.box[3] + e]


def sample(shapes, x, y):
    colour = None
    for inside, paint in shapes:
        if inside(x, y):
            colour = paint(y) if callable(paint) else paint
    return colour


def draw(size):
    """Rows of (b, g, r, a) pixels, top row first."""
    rows = []
    n = SAMPLES * SAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            shapes = shapes_over(px / size, py / size, (px + 1) / size, (py + 1) / size)
            r = g = b = covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = sample(shapes, (px + (sx + 0.5) / SAMPLES) / size,
                               (py + (sy + 0.5) / SAMPLES) / size)
                    if c is not None:
                        r, g, b, covered = r + c[0], g + c[1], b + c[2], covered + 1
            if covered:
                row.append((b // covered, g // covered, r // covered, 255 * covered // n))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(size):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, AND mask."""
    rows = draw(size)
    mask_stride = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (b, g, r, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def main():
    output, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
    images = [icon_image(s) for s in sizes]
    data = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    with open(output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
