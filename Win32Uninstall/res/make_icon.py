#!/usr/bin/env python3
"""Draws the uninstaller's icon - a printer with a red "remove" badge - and
writes it as a Windows .ico with five 32-bit images (128, 96, 64, 48 and 32
pixels), each a BGRA bitmap with its alpha channel and an empty AND mask.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZES = (128, 96, 64, 48, 32)
SUBSAMPLES = 4  # per axis, for smooth edges


# Each shape is a test of a point, with the box outside of which it is false.
def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    inside.box = (x0, y0, x1, y1)
    return inside


def circle(cx, cy, r):
    def inside(x, y):
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    inside.box = (cx - r, cy - r, cx + r, cy + r)
    return inside


def rgb(hex_text):
    return tuple(int(hex_text[i:i + 2], 16) for i in (0, 2, 4))


# Painted in order, later shapes over earlier ones, all opaque.
LAYERS = [
    (rounded_rect(0.25, 0.06, 0.75, 0.44, 0.03), rgb("5A6570")),   # sheet outline
    (rounded_rect(0.27, 0.08, 0.73, 0.44, 0.02), rgb("FFFFFF")),   # sheet going in
    (rounded_rect(0.32, 0.16, 0.68, 0.18, 0.01), rgb("B8C2CC")),
    (rounded_rect(0.32, 0.23, 0.62, 0.25, 0.01), rgb("B8C2CC")),
    (rounded_rect(0.06, 0.33, 0.94, 0.77, 0.09), rgb("1F3550")),   # body outline
    (rounded_rect(0.08, 0.35, 0.92, 0.75, 0.08), rgb("3C6591")),   # body
    (rounded_rect(0.08, 0.35, 0.92, 0.47, 0.08), rgb("5B86B4")),   # lit top
    (circle(0.80, 0.44, 0.035), rgb("7CE07C")),                     # status light
    (rounded_rect(0.20, 0.57, 0.80, 0.63, 0.02), rgb("15263A")),   # output slot
    (rounded_rect(0.25, 0.60, 0.75, 0.94, 0.02), rgb("5A6570")),   # sheet out outline
    (rounded_rect(0.27, 0.60, 0.73, 0.92, 0.02), rgb("FFFFFF")),   # sheet out
    (rounded_rect(0.32, 0.70, 0.60, 0.72, 0.01), rgb("B8C2CC")),
    (rounded_rect(0.32, 0.77, 0.55, 0.79, 0.01), rgb("B8C2CC")),
    (circle(0.74, 0.74, 0.235), rgb("FFFFFF")),                     # badge rim
    (circle(0.74, 0.74, 0.205), rgb("D23A3A")),                     # badge
    (rounded_rect(0.625, 0.715, 0.855, 0.765, 0.02), rgb("FFFFFF")),  # minus
]


def layers_over(left, top, right, bottom):
    """The layers, in order, whose box meets the square (with a margin for
    rounding): no other layer covers a point of it."""
    e = 1e-9
    return [(inside, color) for inside, color in LAYERS
            if inside.box[0] - e <= right and left <= inside.box[2] + e
            and inside.box[1] - e <= bottom and top <= inside.box[3] + e]


def render(size):
    """Rows top to bottom of (b, g, r, a) tuples."""
    rows = []
    n = SUBSAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            layers = layers_over(px / size, py / size, (px + 1) / size, (py + 1) / size)
            acc = [0, 0, 0]
            covered = 0
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    color = None
                    for inside, layer_color in layers:
                        if inside(x, y):
                            color = layer_color
                    if color is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += color[i]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                r, g, b = (round(c / covered) for c in acc)
                row.append((b, g, r, round(255 * covered / (n * n))))
        rows.append(row)
    return rows


def icon_image(size):
    """A 32-bit DIB as stored in an icon: header, bottom-up pixels, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(c for pixel in row for c in pixel) for row in reversed(render(size)))
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + bytes(mask_row * size)


def main():
    images = [icon_image(size) for size in SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(SIZES, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + b"".join(images))


if __name__ == "__main__":
    main()
