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
case("header", "version_199", header(1, 99, **crcs) + GOOD_BODY, "old", "この差分データは使用できません", "Error", "none")
case("header", "version_201", header(2, 1, **crcs) + GOOD_BODY, "old", "この差分データは使用できません", "Error", "none")
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

# Compressed-streams bodies (format 2.00): control records (copy n from old offset o
# relative to the previous copy's end, zigzag; then m new bytes), gaps between changes of
# the difference (counted from where the previous change began), changes (a count, then
# that many difference values), new bytes; each stream deflated in the zlib format.
def varint(v):
    groups = [v & 0x7F]
    v >>= 7
    while v:
        groups.append(v & 0x7F)
        v >>= 7
    return bytes([g | 0x80 for g in reversed(groups[1:])] + [groups[0]])


def runs(*pairs):
    """(zeros, taken values) pairs as the gaps and changes streams; taken values may be a count
    (of values 1) or bytes."""
    gaps, changes, previous = b"", b"", 0
    for zeros, taken in pairs:
        taken = b"\x01" * taken if isinstance(taken, int) else taken
        gaps += varint(previous + zeros)
        changes += varint(len(taken)) + taken
        previous = len(taken)
    return gaps, changes


def streams_body(control, runs=(b"", b""), new=b"", transform=1, sizes=None, packed=None):
    raws = [control, runs[0], runs[1], new]
    packs = packed or [zlib.compress(r, 9) if r else b"" for r in raws]
    head = bytes([transform])
    for i, (r, p) in enumerate(zip(raws, packs)):
        raw_size = sizes[i] if sizes and sizes[i] is not None else len(r)
        head += struct.pack("<II", raw_size, len(p))
    return head + b"".join(packs)


GOOD_CONTROL = varint(1000) + varint(0) + varint(4) + varint(2000) + varint(0) + varint(0)
GOOD_RUNS = runs((3000, 0))


def streams_entry(body, flags=0):
    return header(2, 0, flags=flags, **crcs) + body


def good_streams(**kw):
    args = dict(control=GOOD_CONTROL, runs=GOOD_RUNS, new=b"NEW!")
    args.update(kw)
    return streams_body(**args)


case("streams", "head_cut", streams_entry(good_streams()[:20]), "old", *BROKEN, "dialog")
case("streams", "unknown_transform", streams_entry(good_streams(transform=3)), "old", *BROKEN, "dialog")
case("streams", "packed_past_end", streams_entry(good_streams()[:-1]), "old", *BROKEN, "dialog")
corrupt = bytearray(good_streams())
corrupt[33 + 3] ^= 0x20  # inside the deflated control records
case("streams", "stream_corrupt", streams_entry(bytes(corrupt)), "old", *BROKEN, "dialog")
case("streams", "stream_larger_than_stated", streams_entry(good_streams(sizes=[None, None, None, 3])), "old",
     *BROKEN, "dialog")
case("streams", "stream_smaller_than_stated", streams_entry(good_streams(sizes=[None, None, None, 5])), "old",
     *BROKEN, "dialog")
case("streams", "raw_size_beyond_inflate_ratio",
     streams_entry(good_streams(sizes=[None, 4000000, None, None])), "old", *BROKEN, "dialog")
case("streams", "raw_size_without_packed", streams_entry(good_streams(runs=(varint(3000), b""), sizes=[None, None, 7, None])),
     "old", *BROKEN, "dialog")
case("streams", "copy_outside_old",
     streams_entry(good_streams(control=varint(1000) + varint(0) + varint(4) + varint(2001) + varint(0) + varint(0),
                                runs=runs((3001, 0)))), "old", *BROKEN, "dialog")
case("streams", "copy_offset_before_old",
     streams_entry(good_streams(control=varint(1000) + varint(2 * 1001 - 1) + varint(4) + varint(2000) + varint(0) +
                                varint(0))), "old", *BROKEN, "dialog")
case("streams", "differences_run_out", streams_entry(good_streams(runs=runs((2999, 0)))), "old", *BROKEN, "dialog")
case("streams", "changes_shorter_than_gaps", streams_entry(good_streams(runs=(varint(2999) + varint(1), varint(0)))),
     "old", *BROKEN, "dialog")
case("streams", "gap_inside_previous_change",
     streams_entry(good_streams(runs=(varint(10) + varint(2), varint(3) + b"\x01\x01\x01" + varint(0)))), "old", *BROKEN,
     "dialog")
case("streams", "values_run_out", streams_entry(good_streams(runs=(varint(2990), varint(10) + b"\x01" * 9))),
     "old", *BROKEN, "dialog")
case("streams", "new_bytes_run_out", streams_entry(good_streams(new=b"NEW")), "old", *BROKEN, "dialog")
case("streams", "control_past_new_size",
     streams_entry(good_streams(control=varint(1000) + varint(0) + varint(5) + varint(2000) + varint(0) + varint(0),
                                new=b"NEW!!")), "old", *BROKEN, "dialog")
case("streams", "control_short_of_new_size", streams_entry(good_streams(control=GOOD_CONTROL[:-3] + varint(0))),
     "old", *BROKEN, "dialog")
case("streams", "empty_record", streams_entry(good_streams(control=varint(0) + varint(0) + GOOD_CONTROL)), "old",
     *BROKEN, "dialog")
case("streams", "new_bytes_left_over", streams_entry(good_streams(new=b"NEW!?")), "old", *BROKEN, "dialog")
case("streams", "varint_over_32_bits", streams_entry(good_streams(control=b"\xff\xff\xff\xff\x1f" + GOOD_CONTROL)),
     "old", *BROKEN, "dialog")
# 2**32 in five bytes: a reader that let one bit too many through would read the 0 of a good
# entry here.
case("streams", "number_of_33_bits",
     streams_entry(good_streams(control=varint(1000) + b"\x90\x80\x80\x80\x00" + GOOD_CONTROL[len(varint(1000)) + 1:])),
     "old", *BROKEN, "dialog")
case("streams", "create_entry_with_copy",
     header(2, 0, flags=0x20, new_crc=checksum(NEW_FILE), new_size=len(NEW_FILE)) + good_streams(), "none", *BROKEN,
     "dialog")
case("streams", "second_entry_of_mixed_chain_broken",
     good_entry() + header(2, 0, old_crc=checksum(NEW_FILE), new_size=10) + b"\x01", "old", *BROKEN,
     "dialog")

# Program-aware bodies (format 3.00): the 2.00 streams with a model byte in place of the
# transform, and target hints after the records in the control stream (gap from the end
# of the hint before, length, zigzag delta). The old file here is no program, so a copy
# from beyond it (the synthesized table) has nothing to read.
def program_entry(body, flags=0):
    return header(3, 0, flags=flags, **crcs) + body


def hint(gap, length, delta):
    return varint(gap) + varint(length) + varint(((delta << 1) ^ (delta >> 31)) & 0xFFFFFFFF)


case("header", "version_299", header(2, 99, **crcs) + GOOD_BODY, "old", "この差分データは使用できません", "Error", "none")
case("header", "version_301", header(3, 1, **crcs) + GOOD_BODY, "old", "この差分データは使用できません", "Error", "none")
case("program", "model_0", program_entry(good_streams(transform=0)), "old", *BROKEN, "dialog")
case("program", "model_32", program_entry(good_streams(transform=32)), "old", *BROKEN, "dialog")
case("program", "copy_from_beyond_old_without_a_program",
     program_entry(good_streams(control=varint(1000) + varint(0) + varint(4) + varint(2000) + varint(2 * 2000) +
                                varint(0), transform=31)), "old", *BROKEN, "dialog")
case("program", "copy_across_the_end_of_old",
     program_entry(good_streams(control=varint(1000) + varint(0) + varint(4) + varint(2000) + varint(2 * 500) +
                                varint(0), transform=31)), "old", *BROKEN, "dialog")
case("program", "hint_of_length_0", program_entry(good_streams(control=GOOD_CONTROL + hint(0x1000, 0, 16), transform=3)),
     "old", *BROKEN, "dialog")
case("program", "hint_cut", program_entry(good_streams(control=GOOD_CONTROL + hint(0x1000, 4, 16)[:-1], transform=3)),
     "old", *BROKEN, "dialog")
case("program", "hints_past_4_gib",
     program_entry(good_streams(control=GOOD_CONTROL + hint(0x1000, 16, 0) + hint(0xFFFFF000, 1, 0), transform=3)),
     "old", *BROKEN, "dialog")
case("program", "last_copy_cut_after_its_delta",
     program_entry(good_streams(control=varint(1) + varint(0) + varint(0) + varint(1) + varint(0) + varint(0) +
                                varint(1) + varint(0), runs=runs((3, 0)), new=b"", transform=3)), "old", *BROKEN,
     "dialog")
case("program", "second_entry_after_a_good_one",
     program_entry(good_streams(transform=3)) + header(3, 0, old_crc=checksum(NEW_FILE), new_size=10) + b"\x00",
     "old", *BROKEN, "dialog")

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
