#!/usr/bin/env python3
"""Writes patch data for the Wine scenarios, including entries that patchtool make does
not write (flags, several entries, target_folder forms, touch marker, delete,
open-document), and optionally packs it onto the applier.

Usage: mkentry.py -o OUT [--applier APPLIER.exe] < entries.json

The input is a JSON list of entries; each is an object with
  name      target_name (UTF-8, stored in code page 932)              required
  desc      description                    default "アップデート Ver1.0⇒2.0"
  folder    target_folder (omitted when version <= 100)              default ""
  version   format_version                                           default 104
  flags     the flags byte                                           default 0
  old       file the entry expects (old_crc; copy records take from it)
  new       file the entry builds (new_crc, new_size, the records)
  body      "records" (default when "new" is given), "touch" or "none"
  stamp     [year, month, day, hour, minute, second]   default 2008-01-30 16:48:09
  old_crc, new_crc, new_size: override the computed values
Records: blocks of NEW equal to OLD at the same offset become copy records, the rest
literal records, so both kinds are exercised.
"""
import argparse
import json
import struct
import sys
import zlib

SEARCH_START = 20000
BLOCK = 4096
MAX_LENGTH = 0x7FFF


def patch_checksum(data):
    # The patch checksum is the CRC-32 register started at 0 and not complemented;
    # zlib's complements on both ends, so start it at all ones and undo the last one.
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


assert patch_checksum(b"123456789") == 0x2DFD2D88


def records(old, new):
    out = bytearray()
    pos = 0
    while pos < len(new):
        chunk = new[pos:pos + BLOCK]
        if old is not None and old[pos:pos + len(chunk)] == chunk:
            out += struct.pack('<HI', 0x8000 | len(chunk), pos)
        else:
            for start in range(0, len(chunk), MAX_LENGTH):
                piece = chunk[start:start + MAX_LENGTH]
                out += struct.pack('<H', len(piece)) + piece
        pos += len(chunk)
    return bytes(out)


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def entry(fields):
    version = fields.get('version', 104)
    flags = fields.get('flags', 0)
    old = read(fields['old']) if 'old' in fields else None
    new = read(fields['new']) if 'new' in fields else None
    body_kind = fields.get('body', 'records' if new is not None else 'none')
    stamp = fields.get('stamp', [2008, 1, 30, 16, 48, 9])
    old_crc = fields.get('old_crc', patch_checksum(old) if old is not None else 0)
    new_crc = fields.get('new_crc', patch_checksum(new) if new is not None else 0)
    new_size = fields.get('new_size', len(new) if new is not None else 0)

    out = bytearray(b'Diff')
    out += struct.pack('<BBBB', version // 100, version % 100, flags, 0)
    out += struct.pack('<IIII', old_crc, new_crc, len(old) if old is not None else 0, new_size)
    out += struct.pack('<HBBBBB', *stamp)
    out += fields['name'].encode('cp932') + b'\0'
    out += fields.get('desc', 'アップデート Ver1.0⇒2.0').encode('cp932') + b'\0'
    if version > 100:
        out += fields.get('folder', '').encode('cp932') + b'\0'
    if body_kind == 'records':
        out += records(old, new)
    elif body_kind == 'touch':
        out += struct.pack('<HI', 0x8000, 0)
    return bytes(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('-o', required=True)
    parser.add_argument('--applier')
    args = parser.parse_args()
    data = b''.join(entry(fields) for fields in json.load(sys.stdin))
    if args.applier:
        image = read(args.applier)
        if b'Diff' in image[SEARCH_START:]:
            sys.exit('mkentry: the applier holds "Diff" at or after offset 20000')
        image += b'\0' * max(0, SEARCH_START - len(image))
        data = image + data
    with open(args.o, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
