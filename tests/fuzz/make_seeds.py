#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz target: the known-bad cases and a few good chains of
every entry kind. Each input is one selector byte (0: the 3,000-byte installed file of the
known-bad cases) followed by the patch data. Run once; the corpus is committed."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "known_bad"))
import make_cases as k  # noqa: E402

good = k.good_entry()
seeds = {
    "good_update": good,
    "good_update_trailing_byte": good + b"\0",
    "skip_then_update": k.header(flags=0x01, old_crc=1, new_crc=2, new_size=4) + k.literal(b"abcd") + good,
    "create_missing": k.header(flags=0x20, new_crc=k.checksum(b"hello"), new_size=5, name="new.txt")
    + k.literal(b"hello"),
    "delete_then_update": k.header(flags=0x40, name="gone.txt") + good,
    "touch": k.header(old_crc=k.checksum(k.OLD_FILE), new_size=9) + k.copy(0, 0),
    "open_document_later": good + k.header(flags=0x80, name="readme.txt"),
    "folders": k.header(folder="*", **k.crcs) + k.GOOD_BODY + k.header(folder="sub", name="x") + k.literal(b""),
    "version_100": k.header(1, 0, **k.crcs) + k.GOOD_BODY,
    "new_size_zero": k.header(old_crc=k.checksum(k.OLD_FILE), new_crc=0) + k.literal(b""),
    "no_backup_skip": k.header(flags=0x03, **k.crcs) + k.GOOD_BODY,
    "streams_update": k.streams_entry(k.good_streams()),
    "streams_x86": k.streams_entry(k.good_streams(transform=2)),
    "streams_with_differences": k.streams_entry(k.good_streams(runs=k.runs((10, b"\x01\x02\xff"), (2987, 0)))),
    "streams_then_records": k.streams_entry(k.good_streams()) + k.header(old_crc=k.checksum(k.NEW_FILE),
                                                                       new_size=2) + k.literal(b"ab"),
    "streams_create": k.header(2, 0, flags=0x20, new_crc=k.checksum(b"hello"), new_size=5, name="new.txt")
    + k.streams_body(control=k.varint(0) + k.varint(5), new=b"hello"),
}
out = os.path.join(HERE, "corpus")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(b"\0" + data)
for group, name, data, old, *_ in k.CASES:
    selector = b"\0" if old == "old" else b"\x40"
    with open(os.path.join(out, f"bad_{group}_{name}"), "wb") as f:
        f.write(selector + data)
