#!/usr/bin/env python3
"""Writes the seed corpus of the program-aware body's fuzz target (fuzz_program_body.cpp):
flags, model, new_size, no edits, then the four raw streams, each behind a length byte.
The old file is the target's own 2,560-byte program. Run once; the corpus is committed."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OLD_SIZE = 2560


def varint(v):
    groups = []
    while True:
        groups.append(v & 0x7F)
        v >>= 7
        if v == 0:
            break
    return bytes(g | (0x80 if i > 0 else 0) for i, g in reversed(list(enumerate(groups))))


def zigzag(v):
    return ((v << 1) ^ (v >> 31)) & 0xFFFFFFFF


def seed(flags, model, new_size, control, gaps, changes, new, edits=()):
    out = bytes([flags, model]) + new_size.to_bytes(2, "little") + bytes([len(edits)])
    for at, value in edits:
        out += at.to_bytes(2, "little") + bytes([value])
    for stream in (control, gaps, changes):
        assert len(stream) < 256
        out += bytes([len(stream)]) + stream
    return out + bytes([0]) + new  # the last stream takes what is left


def copy(n, delta, m):
    return varint(n) + (varint(zigzag(delta)) if n else b"") + varint(m)


def zeros(n):
    return varint(n), varint(0)


seeds = {
    # The whole old program, every reference predicted where it already is.
    "whole_copy": seed(0, 31, OLD_SIZE, copy(OLD_SIZE, 0, 0), *zeros(OLD_SIZE), b""),
    "whole_copy_64": seed(1, 31, OLD_SIZE, copy(OLD_SIZE, 0, 0), *zeros(OLD_SIZE), b""),
    # 16 new bytes inside the code: the references behind them move.
    "code_moved": seed(0, 7, OLD_SIZE + 16, copy(0x300, 0, 16) + copy(OLD_SIZE - 0x300, 0, 0),
                       *zeros(OLD_SIZE), b"\xcc" * 16),
    # A hint after the records: addresses 0x1000..0x1100 moved by 0x20.
    "hinted": seed(0, 3, OLD_SIZE, copy(OLD_SIZE, 0, 0) + varint(0x1000) + varint(0x100) + varint(zigzag(0x20)),
                   *zeros(OLD_SIZE), b""),
    # The relocation table taken from the synthesized one (a copy from beyond the old file).
    "table_copy": seed(0, 5, OLD_SIZE, copy(0x800, 0, 0) + copy(0x40, OLD_SIZE - 0x800, 0x1C0),
                       *zeros(0x840), b"\0" * 0x1C0),
    # A broken header byte of the old program: the model is left out.
    "old_not_program": seed(0, 31, OLD_SIZE, copy(OLD_SIZE, 0, 0), *zeros(OLD_SIZE), b"", edits=[(0x40, 0)]),
}
out = os.path.join(HERE, "corpus_program")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
