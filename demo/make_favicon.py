#!/usr/bin/env python3
"""Writes the demo's favicon.ico: a small line chart, 32 x 32 pixels.

Usage: make_favicon.py OUTPUT

The device's front end has an icon of its own; this one only stands in for it
in the demo's page head. Only the Python standard library is used.
"""
import struct
import sys

SIZE = 32
BACKGROUND = (0xE8, 0xF0, 0xFC)
FRAME = (0x1F, 0x5F, 0xBF)
LINE = (0xD6, 0x27, 0x28)
# The chart's line, corner to corner, in pixels from the top left.
POINTS = [(4, 24), (10, 16), (15, 20), (21, 8), (27, 12)]


def pixels():
    image = [[BACKGROUND] * SIZE for _ in range(SIZE)]
    for i in range(SIZE):
        for j in (0, SIZE - 1):
            image[i][j] = image[j][i] = FRAME
    for i in range(3, SIZE - 3):  # the axes
        image[SIZE - 5][i] = image[i][3] = FRAME
    for (x0, y0), (x1, y1) in zip(POINTS, POINTS[1:]):
        steps = max(abs(x1 - x0), abs(y1 - y0)) * 2
        for k in range(steps + 1):
            x = round(x0 + (x1 - x0) * k / steps)
            y = round(y0 + (y1 - y0) * k / steps)
            for dx, dy in ((0, 0), (1, 0), (0, 1), (1, 1)):
                image[y + dy][x + dx] = LINE
    return image


def ico(image):
    # One BMP image: its header (twice the height, for the colour and the
    # transparency mask), the rows bottom up in BGRA, then an empty mask.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b"".join(bytes(c for r, g, b in row for c in (b, g, r, 255)) for row in reversed(image))
    mask = bytes(SIZE * SIZE // 8)
    bitmap = header + rows + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(bitmap), 6 + 16)
    return directory + bitmap


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().split("\n")[2])
    with open(sys.argv[1], "wb") as out:
        out.write(ico(pixels()))


if __name__ == "__main__":
    main()
