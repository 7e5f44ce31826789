#!/usr/bin/env python3
"""Reads the import tables of the shipped Windows programs and fails on any library the
system does not always map from its own folder: both programs run with administrator
rights from folders that standard users can write, where a library of another name would
be found first. Also fails when a program imports one of the calls the programs must look
up at run time (they are missing on older systems) or never names them, and when a
program carries no manifest of its own.

usage: check_imports.py BIN_DIR    (looks at BIN_DIR and BIN_DIR/x64)
"""
import struct
import sys
from pathlib import Path

# Libraries the system maps from its own folder whatever the search order (KnownDLLs on
# every system the programs run on), in lower case.
ALLOWED = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll",
           "ole32.dll", "oleaut32.dll", "comdlg32.dll", "shlwapi.dll"}
# The calls that restrict the library search, which every shipped program makes.
RESTRICTS_SEARCH = {"SetDefaultDllDirectories", "SetDllDirectoryA"}
LOOKED_UP_AT_RUN_TIME = RESTRICTS_SEARCH | {"SetFileInformationByHandle"}
# Each also carries a manifest of its own.
SHIPPED = ["Update.exe", "applier.exe", "Lunder19Patch.EXE"]
RT_MANIFEST = 24


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.wide = magic == 0x20B
        if magic not in (0x10B, 0x20B):
            raise ValueError(f"unknown optional header {magic:#x}")
        directories = optional + (112 if self.wide else 96)
        self.directory = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8xIIII", data, table + 40 * i) for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"rva {rva:#x} outside every section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{library: [function names]} of the import and delay-import tables."""
        found = {}
        for index, size in ((1, 20), (13, 32)):
            rva, _ = self.directory[index]
            if not rva:
                continue
            at = self.offset(rva)
            while True:
                entry = self.data[at:at + size]
                if entry == b"\0" * size:
                    break
                if index == 1:
                    lookup, name, first = struct.unpack_from("<I8xII", entry)
                    thunks = lookup or first
                else:
                    name, thunks = struct.unpack_from("<4xI8xI", entry)
                library = self.text(name)
                found.setdefault(library, []).extend(self.names(thunks))
                at += size
        return found

    def names(self, rva):
        width, flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        at, names = self.offset(rva), []
        while True:
            value = int.from_bytes(self.data[at:at + width], "little")
            if value == 0:
                return names
            if not value & flag:
                names.append(self.text(value + 2))
            at += width

    def resource_types(self):
        rva, _ = self.directory[2]
        if not rva:
            return set()
        at = self.offset(rva)
        named, numbered = struct.unpack_from("<12xHH", self.data, at)
        entries = at + 16 + 8 * named
        return {struct.unpack_from("<I", self.data, entries + 8 * i)[0] for i in range(numbered)}


def check(path):
    problems = []
    image = Image(path.read_bytes())
    for library, functions in image.imports().items():
        if library.lower() not in ALLOWED:
            problems.append(f"imports {library}, which is not always taken from the system folder")
        for function in sorted(LOOKED_UP_AT_RUN_TIME.intersection(functions)):
            problems.append(f"imports {function} from {library} instead of looking it up at run time")
    if RT_MANIFEST not in image.resource_types():
        problems.append("carries no manifest of its own")
    for function in sorted(RESTRICTS_SEARCH):
        if function.encode() + b"\0" not in image.data:
            problems.append(f"never looks up {function}: its library search is not restricted")
    return problems


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    bin_dir = Path(sys.argv[1])
    checked, failures = 0, 0
    for folder in (bin_dir, bin_dir / "x64"):
        for name in SHIPPED:
            path = folder / name
            if not path.exists():
                continue
            checked += 1
            for problem in check(path):
                print(f"FAIL {path}: {problem}")
                failures += 1
    for name in SHIPPED:
        if not (bin_dir / name).exists() and not (bin_dir / "x64" / name).exists():
            print(f"FAIL {name} is missing from {bin_dir} (build the Windows programs first)")
            failures += 1
    print(f"{checked} programs checked, {failures} problems")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
