#!/usr/bin/env python3
"""Draws the saver's window icon: one 32 x 32 image at 8 bits per pixel.

A dusk sky, deep violet above and amber at the horizon, with a pale crescent moon
and two stars. Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZE = 32


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def palette():
    # 0-63: the sky from top to horizon; 64: moon; 65: star; rest black.
    stops = [(0.0, (28, 18, 64)), (0.55, (118, 52, 110)), (0.85, (226, 110, 72)), (1.0, (250, 190, 96))]
    colours = []
    for i in range(64):
        t = i / 63
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                colours.append(lerp(c0, c1, (t - t0) / (t1 - t0)))
                break
    colours += [(246, 240, 214), (255, 255, 255)]
    colours += [(0, 0, 0)] * (256 - len(colours))
    return colours


def pixel(x, y):
    # y counts from the top.
    cx, cy = x + 0.5, y + 0.5
    inside_moon = (cx - 21) ** 2 + (cy - 10) ** 2 <= 36
    bitten = (cx - 23.5) ** 2 + (cy - 8.5) ** 2 <= 30
    if inside_moon and not bitten:
        return 64
    if (x, y) in ((6, 6), (12, 3), (9, 14)):
        return 65
    return min(63, y * 2)


def icon():
    rows = []
    for y in reversed(range(SIZE)):   # bottom-up
        rows.append(bytes(pixel(x, y) for x in range(SIZE)))
    xor = b"".join(rows)
    and_mask = bytes(4 * SIZE)         # every pixel opaque
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, len(xor) + len(and_mask), 0, 0, 256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette())
    image = header + colours + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 22)
    return directory + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(icon())
