#!/usr/bin/env python3
"""Draws the applier's file icon: a sheet of paper with a folded corner and lines of
text, and a green circular arrow over its lower right corner (a file being renewed).
Writes a 16-colour .ico with a 32x32 and a 16x16 image. Usage: make_icon.py OUT.ico"""
import math
import struct
import sys

# The classic 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, NAVY, SILVER, GRAY, LIME, WHITE = 0, 2, 4, 7, 8, 10, 15
CLEAR = None


def draw(n):
    """Returns n rows of n palette indexes (None = transparent), top row first."""
    px = [[CLEAR] * n for _ in range(n)]
    s = n / 32.0

    def put(x, y, c):
        if 0 <= x < n and 0 <= y < n:
            px[y][x] = c

    # The sheet, its outline and the folded corner.
    left, right, top, bottom = round(5 * s), round(23 * s), round(2 * s), round(29 * s)
    fold = round(6 * s)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - left + (top + fold - y) > (right - left) and y < top + fold and x > right - fold + (y - top):
                continue
            edge = x in (left, right) or y in (top, bottom)
            put(x, y, BLACK if edge else WHITE)
    for i in range(fold + 1):
        put(right - fold + i, top + i, BLACK)            # diagonal of the fold
        put(right - fold, top + i, BLACK)                # fold, vertical edge
        put(right - fold + i, top + fold, BLACK)         # fold, horizontal edge
        for j in range(1, i):
            put(right - fold + j, top + i, SILVER)
    # Lines of text.
    for row in range(round(9 * s), round(24 * s), max(2, round(3 * s))):
        for x in range(left + max(2, round(3 * s)), right - max(1, round(3 * s))):
            put(x, row, NAVY if row == round(9 * s) else GRAY)

    # A ring of three quarters with an arrow head: renewal.
    cx, cy, r_out, r_in = 22.5 * s, 22.5 * s, 8.5 * s, 5.0 * s
    for y in range(n):
        for x in range(n):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            d = math.hypot(dx, dy)
            angle = math.degrees(math.atan2(-dy, dx)) % 360
            if r_in <= d <= r_out and not (0 <= angle < 80):
                put(x, y, DARK_GREEN if d > r_out - 1.2 * s or d < r_in + 1.0 * s else LIME)
    # Arrow head at the ring's open end, pointing down (clockwise).
    tip_x, base_y = cx + (r_in + r_out) / 2, cy - 1.5 * s
    half = (r_out - r_in) / 2 + 2.5 * s
    for k in range(round(5 * s) + 1):
        y = round(base_y - k)
        w = half * (k / (5 * s) if s else 1)
        for x in range(round(tip_x - w), round(tip_x + w) + 1):
            put(x, y, DARK_GREEN if abs(x + 0.5 - tip_x) > w - 1 else LIME)
    return px


def image(n):
    px = draw(n)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(px):                      # bitmaps run bottom-up
        nibbles = [0 if c is None else c for c in row]
        xor = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, n, 2))
        xor_rows.append(xor + b'\0' * ((-len(xor)) % 4))
        bits = 0
        mask = bytearray()
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b'\0' * ((-len(mask)) % 4))
    return header + palette + b''.join(xor_rows) + b''.join(and_rows)


def main():
    images = [image(32), image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
