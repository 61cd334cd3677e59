#!/usr/bin/python3
"""Draws the program icon from the window's logo polygons: make_icon.py OUTPUT.ico

Every size is drawn on its own (eight times larger, then reduced) rather than scaled from the
largest one, so that the small sizes stay sharp. The polygons and colours are the logo's at
rest (run view, shard not moved); keep them in step with the window's logo.
"""

import sys

from PIL import Image, ImageDraw

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
SUPERSAMPLE = 8
SHADES = ((0xB3, 0xE5, 0xFF), (0x6D, 0x8D, 0xFF), (0x3D, 0x2F, 0x9E))
OUTLINE_WIDTH = 0.6  # logo units, as the window strokes each polygon

# (shade, points) in logo units: the gem, then the shard.
POLYGONS = (
    (1, ((6.00, 24.32), (17.24, 12.14), (22.86, 24.32))),
    (0, ((17.24, 12.14), (39.73, 12.14), (34.11, 24.32), (22.86, 24.32))),
    (1, ((39.73, 12.14), (44.79, 17.66), (41.79, 24.88), (34.11, 24.32))),
    (2, ((6.00, 24.32), (22.86, 24.32), (28.49, 52.43))),
    (1, ((22.86, 24.32), (34.11, 24.32), (28.49, 52.43))),
    (2, ((34.11, 24.32), (41.79, 24.88), (44.23, 32.75), (28.49, 52.43))),
    (0, ((51.82, 11.57), (58.00, 18.23), (48.82, 18.79))),
    (1, ((48.82, 18.79), (58.00, 18.23), (51.25, 26.66))),
)


def draw(size):
    xs = [x for _, points in POLYGONS for x, _ in points]
    ys = [y for _, points in POLYGONS for _, y in points]
    left, top = min(xs), min(ys)
    extent = max(max(xs) - left, max(ys) - top)
    canvas = size * SUPERSAMPLE
    margin = canvas / 32  # a thin border keeps the outline inside the square
    scale = (canvas - 2 * margin) / extent
    # Centred in both directions.
    dx = (canvas - (max(xs) - left) * scale) / 2
    dy = (canvas - (max(ys) - top) * scale) / 2
    image = Image.new("RGBA", (canvas, canvas), (0, 0, 0, 0))
    painter = ImageDraw.Draw(image)
    for shade, points in POLYGONS:
        corners = [((x - left) * scale + dx, (y - top) * scale + dy) for x, y in points]
        colour = SHADES[shade] + (255,)
        painter.polygon(corners, fill=colour)
        painter.line(corners + corners[:1], fill=colour,
                     width=max(1, round(OUTLINE_WIDTH * scale)), joint="curve")
    return image.resize((size, size), Image.LANCZOS)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    images = [draw(size) for size in SIZES]
    largest = images[-1]
    largest.save(sys.argv[1], format="ICO", sizes=[(s, s) for s in SIZES],
                 append_images=images[:-1])
    written = Image.open(sys.argv[1])
    if sorted(written.info.get("sizes", ())) != sorted((s, s) for s in SIZES):
        sys.exit(f"make_icon.py: error: {sys.argv[1]} holds {written.info.get('sizes')}")


if __name__ == "__main__":
    main()
