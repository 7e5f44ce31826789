#!/usr/bin/env python3
"""Writes the known-bad patch data files and their expected messages (cases.tsv).

Run once; the outputs are committed. Each file is bare patch data: the test places it
right after a 20,000-byte applier image, as the applier would find it. Every case
names the exact box it must produce. The old target file of a case, when it has one,
is OLD_FILE below (the test builds the same bytes).
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OLD_FILE = bytes((i * 7 + 3) & 0xFF for i in range(3000))


def checksum(data):
    # Register starts at 0 and is not complemented: zlib's CRC-32 with both inversions undone.
    return (~zlib.crc32(data, 0xFFFFFFFF)) & 0xFFFFFFFF


def cp932(text):
    return text.encode("cp932")


def header(major=1, minor=4, flags=0, old_crc=0, new_crc=0, new_size=0, name="Lunder19.exe",
           description="アップデート Ver1.0⇒2.0", folder=""):
    b = b"Diff" + bytes([major, minor, flags, 0])
    b += struct.pack("<IIII", old_crc, new_crc, len(OLD_FILE), new_size)
    b += struct.pack("<HBBBBB", 2008, 1, 30, 16, 48, 9)
    b += cp932(name) + b"\0" + cp932(description) + b"\0"
    if major * 100 + minor >= 101:
        b += cp932(folder) + b"\0"
    return b


def copy(length, offset):
    return struct.pack("<HI", 0x8000 | length, offset)


def literal(data):
    return struct.pack("<H", len(data)) + data


NEW_FILE = OLD_FILE[:1000] + b"NEW!" + OLD_FILE[1000:]
GOOD_BODY = copy(1000, 0) + literal(b"NEW!") + copy(2000, 1000)


def good_entry():
    return header(old_crc=checksum(OLD_FILE), new_crc=checksum(NEW_FILE), new_size=len(NEW_FILE)) + GOOD_BODY


BROKEN = ("差分情報に問題があります", "異常終了")
TARGET = "C:\\app\\Lunder19.exe"
OWN = "C:\\app\\Lunder19Patch.EXE"

# name -> (group, bytes, target present, text, caption, owner, type)
CASES = []


def case(group, name, data, old, text, caption, owner, box_type=0x30):
    CASES.append((group, name, data, old, text, caption, owner, box_type))


crcs = dict(old_crc=checksum(OLD_FILE), new_crc=checksum(NEW_FILE), new_size=len(NEW_FILE))

# Placement
case("placement", "no_magic", b"Dif" + b"f"[:0] + b"x" * 40, "old", OWN, "差分データが確認できません", "none")
case("placement", "magic_cut_at_end", b"\0" * 10 + b"Dif", "old", OWN, "差分データが確認できません", "none")

# Header
case("header", "version_105", header(1, 5, **crcs) + GOOD_BODY, "old", "この差分データは使用できません", "Error", "none")
case("header", "version_200", header(2, 0, **crcs) + GOOD_BODY, "old", "この差分データは使用できません", "Error", "none")
case("header", "fixed_part_cut", good_entry()[:20], "old", *BROKEN, "none")
case("header", "name_unterminated", good_entry()[:31 + 5], "old", *BROKEN, "none")
case("header", "folder_unterminated", header(**crcs)[:-1], "old", *BROKEN, "none")
case("header", "second_entry_version_105", good_entry() + header(1, 5), "old", "この差分データは使用できません", "Error", "none")
case("header", "second_entry_cut", good_entry() + header()[:12], "old", *BROKEN, "dialog")

# Body and records
case("records", "body_missing", header(**crcs), "old", *BROKEN, "dialog")
case("records", "body_one_byte", header(**crcs) + b"\x04", "old", *BROKEN, "dialog")
case("records", "literal_past_end", header(**crcs) + copy(1000, 0) + literal(b"NEW!")[:4], "old", *BROKEN, "dialog")
case("records", "copy_offset_cut", header(**crcs) + copy(1000, 0)[:4], "old", *BROKEN, "dialog")
case("records", "stream_short", header(**crcs) + copy(1000, 0) + literal(b"NEW!"), "old", *BROKEN, "dialog")
case("records", "stream_short_one_extra_byte", header(**crcs) + copy(1000, 0) + b"\x00", "old", *BROKEN, "dialog")
case("records", "copy_outside_old", header(**crcs) + copy(1000, 0) + literal(b"NEW!") + copy(2001, 1000), "old",
     *BROKEN, "dialog")
case("records", "copy_offset_wraps", header(**crcs) + copy(1000, 0) + literal(b"NEW!") + copy(2000, 0xFFFFFF00),
     "old", *BROKEN, "dialog")
case("records", "create_entry_with_copy",
     header(flags=0x20, new_crc=checksum(NEW_FILE), new_size=len(NEW_FILE)) + literal(NEW_FILE[:1000]) +
     copy(4, 0) + literal(NEW_FILE[1004:]), "none", *BROKEN, "dialog")
case("records", "empty_copy_in_create_entry",
     header(flags=0x20, new_crc=checksum(NEW_FILE), new_size=len(NEW_FILE)) + literal(NEW_FILE[:1000]) +
     copy(0, 0) + literal(NEW_FILE[1000:]), "none", *BROKEN, "dialog")

# Chain
case("chain", "two_extra_bytes", good_entry() + b"Di", "old", *BROKEN, "dialog")
case("chain", "records_after_new_size", good_entry() + literal(b"xy"), "old", *BROKEN, "dialog")
case("chain", "magic_lowercase", good_entry() + b"diff" + header()[4:], "old", *BROKEN, "dialog")

# Checksums
case("checksum", "old_crc_differs", header(old_crc=checksum(OLD_FILE) ^ 1, new_crc=crcs["new_crc"],
                                           new_size=len(NEW_FILE)) + GOOD_BODY, "old", TARGET, "CRCが一致しません", "none")
case("checksum", "new_crc_differs", header(old_crc=checksum(OLD_FILE), new_crc=crcs["new_crc"] ^ 1,
                                           new_size=len(NEW_FILE)) + GOOD_BODY, "old", TARGET, "CRCが一致しません",
     "dialog")
case("checksum", "target_missing", good_entry(), "none", TARGET, "ファイルがオープンできません", "none")


def main():
    out = os.path.join(HERE, "cases")
    os.makedirs(out, exist_ok=True)
    for f in os.listdir(out):
        os.remove(os.path.join(out, f))
    lines = ["# group\tfile\ttarget\ttext\tcaption\towner\ttype"]
    for group, name, data, old, text, caption, owner, box_type in CASES:
        assert len(data) < 4096, name
        file_name = f"{group}_{name}.bin"
        with open(os.path.join(out, file_name), "wb") as f:
            f.write(data)
        lines.append("\t".join([group, file_name, old, text, caption, owner, str(box_type)]))
    with open(os.path.join(HERE, "cases.tsv"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
