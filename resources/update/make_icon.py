#!/usr/bin/env python3
"""Writes update.ico: the wizard's icon (a blue disk with a white upward arrow over a
green bar), one 32x32 image with 16 colours (4 bits per pixel, standard palette) and an
AND mask. Kept as a script so the icon can be remade byte for byte; the .ico beside it is
what the build uses."""
import struct
import sys

# The 16 colours of the classic system palette, as (red, green, blue); stored as B, G, R, 0.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, LIME, BLUE, WHITE = 0, 4, 8, 10, 12, 15
TRANSPARENT = None


def pixel(x, y):
    """Palette index of one pixel (y = 0 is the top row), or None where transparent."""
    cx, cy = 15.5, 14.5
    d2 = (x - cx) ** 2 + (y - cy) ** 2
    if 26 <= y <= 29 and 4 <= x <= 27:
        return LIME if 27 <= y <= 28 and 5 <= x <= 26 else BLACK  # progress bar
    if d2 > 13.5 ** 2:
        return TRANSPARENT
    if d2 > 12.5 ** 2:
        return NAVY                                           # rim
    # Upward arrow: a head (triangle) on a shaft.
    if 5 <= y <= 13 and abs(x - cx) <= (y - 4):
        return WHITE
    if 14 <= y <= 22 and abs(x - cx) <= 2.5:
        return WHITE
    return BLUE if (x + y) % 2 or d2 < 11 ** 2 else GREY


def image():
    size = 32
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):                            # DIBs are stored bottom-up
        row = [pixel(x, y) for x in range(size)]
        for x in range(0, size, 2):
            hi, lo = row[x] or 0, row[x + 1] or 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(size):
            if row[x] is TRANSPARENT:
                bits |= 1 << (31 - x)
        mask += bits.to_bytes(4, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def main(path):
    data = image()
    out = struct.pack("<HHH", 0, 1, 1)
    out += struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(data), 6 + 16)
    with open(path, "wb") as f:
        f.write(out + data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "update.ico")
