#!/usr/bin/env python3
"""Writes lunder19.ico: the demo application's icon (a blue ledger sheet with a red
seal), 32x32 and 16x16, 32-bit with an AND mask. Kept as a script so the icon can be
remade byte for byte; the .ico beside it is what the build uses."""
import struct
import sys


def pixel(x, y, size):
    """ARGB of one pixel, drawn in a 32x32 design space."""
    u, v = x * 32 // size, y * 32 // size
    if not (3 <= u <= 28 and 1 <= v <= 30):
        return 0x00000000                      # transparent margin
    if u in (3, 28) or v in (1, 30):
        return 0xFF1F3F7F                      # dark blue frame
    if v <= 7:
        return 0xFF2F6FCF                      # title band
    if 20 <= u <= 26 and 21 <= v <= 27:
        return 0xFFCF2F2F                      # seal
    if v % 4 == 0 and 6 <= u <= 25:
        return 0xFF7F9FCF                      # ruled lines
    return 0xFFFFFFFF


def image(size):
    rows = []
    for y in reversed(range(size)):            # DIBs are stored bottom-up
        rows.append(b"".join(struct.pack("<I", pixel(x, y, size)) for x in range(size)))
    xor = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            if pixel(x, y, size) >> 24 == 0:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + bytes(mask)


def main(path):
    sizes = (32, 16)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "lunder19.ico")
