#!/usr/bin/env python3
"""Draws the application icon: one 32 x 32 image, 32 bits per pixel, in an .ico file.

The picture is an identity card on a blue tile: a photo disc and three text lines.
Edges are smoothed by sampling every pixel 4 x 4 times. The output is deterministic,
so rerunning the script reproduces the committed idrovan.ico byte for byte.

    python3 app/make_icon.py app/idrovan.ico
"""
import struct
import sys

SIZE = 32
SAMPLES = 4


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x < right and top <= y < bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """RGBA of the picture at a point in pixel coordinates, top-left origin."""
    if not inside_rounded_rect(x, y, 1, 1, 31, 31, 6):
        return (0, 0, 0, 0)
    # The card, with a photo disc and text lines drawn on it.
    if inside_rounded_rect(x, y, 5, 9, 27, 25, 2.5):
        if (x - 11) ** 2 + (y - 14) ** 2 <= 2.7 ** 2:
            return (40, 96, 184, 255)
        if y < 22.5 and ((x - 11) / 4.2) ** 2 + ((y - 22.5) / 4.2) ** 2 <= 1:
            return (40, 96, 184, 255)
        for top in (12, 16, 20):
            if 16.5 <= x < 24.5 and top <= y < top + 1.8:
                return (96, 112, 136, 255)
        return (250, 250, 252, 255)
    shade = y / SIZE
    return (int(24 + 40 * shade), int(120 - 56 * shade), int(216 - 48 * shade), 255)


def pixel(px, py):
    total = [0, 0, 0, 0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            r, g, b, a = colour_at(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
            total[0] += r * a
            total[1] += g * a
            total[2] += b * a
            total[3] += a
    alpha = total[3] // (SAMPLES * SAMPLES)
    if total[3] == 0:
        return (0, 0, 0, 0)
    # Straight (not premultiplied) colour, as icon images store it.
    return tuple(round(c / total[3]) for c in total[:3]) + (alpha,)


def icon_bytes():
    rows = []
    for py in reversed(range(SIZE)):  # DIB rows run bottom-up
        row = b""
        for px in range(SIZE):
            r, g, b, a = pixel(px, py)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor_image = b"".join(rows)
    # The AND mask still matters to viewers that ignore alpha: 1 marks transparent.
    mask = b""
    for py in reversed(range(SIZE)):
        bits = 0
        for px in range(SIZE):
            bits = (bits << 1) | (1 if pixel(px, py)[3] == 0 else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor_image) + len(mask), 0, 0, 0, 0)
    image = header + xor_image + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes())
