// The program-aware body (3.00): the PE reader's rules, the references it finds, and
// hand-made bodies over hand-made programs, decoded or refused. A release that inserts
// code must come out of copies with no difference at all: every moved call, jump, pointer
// and relocation entry predicted.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/patch/format2.h"
#include "core/patch/format3.h"
#include "core/patch/pe_image.h"
#include "core/patch/record_sort.h"
#include "tests/unit/patch_builder.h"
#include "tests/unit/pe_builder.h"

namespace {

using namespace patchtest;
using patch::Body2Outcome;

constexpr uint32_t kCodeRva = 0x1000, kDataRva = 0x2000, kRelocRva = 0x4000;
constexpr uint32_t kInsertAt = 0x100;  // in the code

// A program whose code has `inserted` bytes of int3 at kInsertAt: calls to both halves of
// the code, absolute addresses of its data in the code, pointers into the code in its
// data, and a relocation table listing every absolute one (the data's block holds an odd
// number of entries: padded or left as Go leaves it).
struct Program {
  Bytes file;
  PeSpec spec;
  uint32_t table_size = 0;
};

Program MakeProgram(uint32_t inserted, bool wide = false, bool padded = false) {
  PeSpec spec;
  spec.wide = wide;
  const auto moved = [inserted](uint32_t at) { return at < kInsertAt ? at : at + inserted; };
  Bytes code(0x400, 0x90);
  std::fill(code.begin() + kInsertAt, code.begin() + kInsertAt + inserted, 0xCC);
  std::vector<std::pair<uint32_t, uint16_t>> relocs;
  for (uint32_t at = 0; at < 0x3C0; at += 0x20) {
    const uint32_t here = moved(at), target = moved(at < kInsertAt ? 0x200 : at % 0x40 ? 0x280 : 0x000);
    code[here] = 0xE8;
    PutLe(code, here + 1, kCodeRva + target - (kCodeRva + here + 5), 4);
    code[here + 5] = 0x0F, code[here + 6] = 0x85;  // jne to the next block
    PutLe(code, here + 7, moved(at + 0x20) - (here + 11), 4);
    code[here + 11] = 0xB8;  // mov eax, data address
    PutLe(code, here + 12, spec.image_base + kDataRva + at / 8, 4);
    relocs.push_back({kCodeRva + here + 12, 3});
  }
  Bytes data(0x200, 0);
  const uint32_t width = wide ? 8 : 4;
  for (uint32_t i = 0; i < 15; ++i) {
    PutLe(data, i * width, spec.image_base + kCodeRva + moved(0x40 * i), width);
    relocs.push_back({kDataRva + i * width, static_cast<uint16_t>(wide ? 10 : 3)});
  }
  const Bytes table = RelocationTable(relocs, padded);
  spec.sections = {{".text", kCodeRva, code, true}, {".data", kDataRva, data}, {".reloc", kRelocRva, table}};
  spec.reloc_rva = kRelocRva;
  spec.reloc_size = static_cast<uint32_t>(table.size());
  return {BuildPe(spec), spec, static_cast<uint32_t>(table.size())};
}

Body2Outcome Decode(const Bytes& old_file, uint32_t new_size, const Bytes& body, Bytes* out) {
  Entry e = StreamsEntry(old_file, {}, body);
  e.major = 3;
  e.new_size = new_size;
  const Bytes image = e.Encode();
  patch::EntryHeader h;
  EXPECT_EQ(patch::ParseEntryHeader(patch::Image(image.data(), image.size()), 0, &h), patch::HeaderOutcome::Ok);
  out->assign(new_size, 0xEE);
  return patch::DecodeBody3(patch::Image(image.data(), image.size()), h, old_file, out->data());
}

// Copies that lay the old program out as the program with 16 bytes inserted: headers and
// the first part of the code, 16 new bytes, the rest of the code (less 16 bytes of its
// padding), the data, then the relocation table from `table_from` (an old offset), then
// the rest of the last section from the old file. No differences at all.
Streams MovedCode(const Program& old_program, uint32_t table_from, uint8_t model) {
  const uint32_t code = PeRawOffset(old_program.spec, 0), data = PeRawOffset(old_program.spec, 1);
  const uint32_t reloc = PeRawOffset(old_program.spec, 2), old_size = static_cast<uint32_t>(old_program.file.size());
  const uint32_t table = old_program.table_size, split = code + kInsertAt;
  Streams s;
  s.transform = model;
  s.Copy(split, 0, 16).Copy(data - split - 16, 0, 0).Copy(reloc - data, 16, 0);
  s.Copy(table, static_cast<int32_t>(table_from - reloc), 0);
  s.Copy(old_size - reloc - table, static_cast<int32_t>(reloc + table - (table_from + table)), 0);
  s.Run(old_size - 16, {});
  s.fresh.assign(16, 0xCC);
  return s;
}

TEST(ProgramLayout, HeadersAreReadOrTheFileIsNoProgram) {
  const Bytes good = MakeProgram(0).file;
  struct Case {
    const char* what;
    uint32_t at;  // byte changed
    std::vector<uint8_t> bytes;
    bool program;
  } cases[] = {
      {"as built", 0, {'M'}, true},
      {"no MZ", 0, {'Z'}, false},
      {"PE header beyond the file", 0x3C, {0xFF, 0xFF, 0, 0}, false},
      {"no PE signature", kPeHeaderAt, {'N'}, false},
      {"a machine other than x86", kPeHeaderAt + 4, {0xC0, 0x01}, false},
      {"no sections", kPeHeaderAt + 6, {0, 0}, false},
      {"97 sections", kPeHeaderAt + 6, {97, 0}, false},
      {"unknown optional header", kPeHeaderAt + 24, {0x07, 0x01}, false},
      {"optional header too short for the directories", kPeHeaderAt + 20, {95, 0}, false},
      {"a section's bytes among the headers", kPeHeaderAt + 24 + 224 + 20, {0x40, 0, 0, 0}, false},
      {"a section's bytes beyond the file: none", kPeHeaderAt + 24 + 224 + 20, {0, 0, 0, 0x10}, true},
  };
  for (const Case& c : cases) {
    Bytes file = good;
    std::copy(c.bytes.begin(), c.bytes.end(), file.begin() + c.at);
    patch::PeLayout layout;
    EXPECT_EQ(patch::ReadPeLayout(file, &layout), c.program) << c.what;
  }
  patch::PeLayout l;
  ASSERT_TRUE(patch::ReadPeLayout(good, &l));
  EXPECT_EQ(l.image_base, 0x400000u);
  EXPECT_EQ(l.headers_end, kPeHeaderAt + 24 + 224 + 3 * 40);
  EXPECT_EQ(l.section_count, 3u);
  EXPECT_TRUE(l.sections[0].executable);
  EXPECT_FALSE(l.sections[1].executable);
  uint32_t rva = 0, offset = 0;
  EXPECT_TRUE(patch::PeOffsetToRva(l, 0x204, 4, &rva));
  EXPECT_EQ(rva, kCodeRva + 4);
  EXPECT_FALSE(patch::PeOffsetToRva(l, 0x5FE, 4, &rva)) << "a value across the end of a section";
  EXPECT_TRUE(patch::PeRvaToOffset(l, kDataRva + 8, 4, &offset));
  EXPECT_EQ(offset, 0x608u);
  EXPECT_EQ(patch::PeSectionOf(l, 0x3000), -1);
  Bytes cut = good;
  patch::PeLayout clamped;
  PutLe(cut, kPeHeaderAt + 24 + 224 + 40 * 2 + 20, cut.size() - 8, 4);  // the table's bytes start 8 before the end
  ASSERT_TRUE(patch::ReadPeLayout(cut, &clamped));
  EXPECT_EQ(clamped.sections[2].raw_size, 8u);
}

TEST(ProgramReferences, RelocationsAndBranchesAreFoundByTheirRules) {
  const Program p = MakeProgram(0, false);
  patch::PeLayout l;
  ASSERT_TRUE(patch::ReadPeLayout(p.file, &l));
  patch::ReferenceList all, absolute, relative;
  ASSERT_TRUE(patch::FindReferences(p.file, l, patch::kModelAbsolute | patch::kModelRelative, &all));
  ASSERT_TRUE(patch::FindReferences(p.file, l, patch::kModelAbsolute, &absolute));
  ASSERT_TRUE(patch::FindReferences(p.file, l, patch::kModelRelative, &relative));
  // 30 code blocks: a call, a conditional jump and an address each; 15 data pointers.
  EXPECT_EQ(absolute.count(), 30u + 15u) << "both blocks, the odd one unpadded";
  EXPECT_EQ(relative.count(), 60u);
  EXPECT_EQ(all.count(), absolute.count() + relative.count());
  const patch::Reference* r = all.begin();
  EXPECT_EQ(r[0].offset, 0x201u);
  EXPECT_EQ(r[0].kind, patch::kRefRel32);
  EXPECT_EQ(r[0].target, kCodeRva + 0x200);
  EXPECT_EQ(r[1].offset, 0x207u);
  EXPECT_EQ(r[1].target, kCodeRva + 0x20) << "the jump after the call";
  EXPECT_EQ(r[2].kind, patch::kRefAbs32);
  EXPECT_EQ(r[2].target, kDataRva);

  const Program w = MakeProgram(0, true);
  patch::PeLayout wl;
  ASSERT_TRUE(patch::ReadPeLayout(w.file, &wl));
  patch::ReferenceList wide;
  ASSERT_TRUE(patch::FindReferences(w.file, wl, patch::kModelAbsolute, &wide));
  ASSERT_EQ(wide.count(), 45u);
  EXPECT_EQ(wide.begin()[30].kind, patch::kRefAbs64);
  EXPECT_EQ(wide.begin()[31].offset - wide.begin()[30].offset, 8u);
}

TEST(ProgramReferences, WhatTheRulesLeaveOut) {
  // One code section of a call into data, a call into code whose value an absolute
  // reference overlaps, and a call cut by the section's end; relocations of a type that is
  // not modelled, of an address beyond the image, and a block too short to be one.
  PeSpec spec;
  Bytes code(0x40, 0x90);
  code[0] = 0xE8;
  PutLe(code, 1, kDataRva - (kCodeRva + 5), 4);
  code[0x10] = 0xE8;  // a call into the code, but an absolute value (the image base) sits on its top
  PutLe(code, 0x11, 0x10, 4);
  PutLe(code, 0x15, 0x0040, 2);
  code[0x3C] = 0xE8;
  Bytes data(0x20, 0);
  PutLe(data, 0, 0x00400000 + 0x100000, 4);  // beyond the image
  std::vector<std::pair<uint32_t, uint16_t>> entries = {{kCodeRva + 0x13, 3}, {kDataRva, 3}, {kDataRva + 4, 1}};
  Bytes table = RelocationTable(entries, true);
  PutLe(table, table.size(), 0x5000, 4);
  PutLe(table, table.size(), 4, 4);  // a block size below 8 ends the table
  spec.sections = {{".text", kCodeRva, code, true}, {".data", kDataRva, data}, {".reloc", kRelocRva, table}};
  spec.reloc_rva = kRelocRva;
  spec.reloc_size = static_cast<uint32_t>(table.size());
  const Bytes file = BuildPe(spec);
  patch::PeLayout l;
  ASSERT_TRUE(patch::ReadPeLayout(file, &l));
  patch::ReferenceList refs;
  ASSERT_TRUE(patch::FindReferences(file, l, patch::kModelAbsolute | patch::kModelRelative, &refs));
  ASSERT_EQ(refs.count(), 1u);
  EXPECT_EQ(refs.begin()->offset, PeRawOffset(spec, 0) + 0x13);
  EXPECT_EQ(refs.begin()->kind, patch::kRefAbs32);
}

TEST(ProgramBody, MovedCodeComesOutOfCopiesWithoutADifference) {
  struct Case {
    const char* what;
    bool wide, padded;
    uint8_t model;
  } cases[] = {
      {"32-bit, Go's unpadded blocks", false, false, 1 | 2 | 4},
      {"32-bit, padded blocks", false, true, 1 | 2 | 4 | 8},
      {"64-bit", true, false, 1 | 2 | 4},
  };
  for (const Case& c : cases) {
    const Program old_program = MakeProgram(0, c.wide, c.padded), new_program = MakeProgram(16, c.wide, c.padded);
    ASSERT_EQ(old_program.file.size(), new_program.file.size());
    Bytes out;
    const uint32_t old_size = static_cast<uint32_t>(old_program.file.size());
    EXPECT_EQ(Decode(old_program.file, old_size, MovedCode(old_program, old_size, c.model).Body(), &out),
              Body2Outcome::Ok)
        << c.what;
    EXPECT_EQ(out, new_program.file) << c.what;
    // Without the references modelled, the same copies give the old values.
    EXPECT_EQ(Decode(old_program.file, old_size, MovedCode(old_program, PeRawOffset(old_program.spec, 2), 16).Body(),
                     &out),
              Body2Outcome::Ok);
    EXPECT_NE(out, new_program.file) << c.what;
  }
}

TEST(ProgramBody, SynthesizedTableListsTheCarriedAbsoluteReferences) {
  const Program old_program = MakeProgram(0), new_program = MakeProgram(16);
  patch::PeLayout ol, nl;
  ASSERT_TRUE(patch::ReadPeLayout(old_program.file, &ol));
  ASSERT_TRUE(patch::ReadPeLayout(new_program.file, &nl));
  patch::ReferenceList refs;
  ASSERT_TRUE(patch::FindReferences(old_program.file, ol, patch::kModelAbsolute | patch::kModelRelative, &refs));
  const patch::CopySpan copies[] = {{0, 0, 0x300}, {0x300, 0x310, 0x2F0}, {0x600, 0x600, 0x200}};
  for (const bool padded : {false, true}) {
    patch::HeapBlock table;
    ASSERT_TRUE(patch::SynthesizeRelocations(refs, nl, copies, padded, &table));
    const Bytes expected = MakeProgram(16, false, padded).spec.sections[2].data;
    EXPECT_EQ(Bytes(table.data(), table.data() + table.size()), expected) << padded;
  }
  // A copy that carries nothing gives an empty table.
  patch::HeapBlock empty;
  const patch::CopySpan none[] = {{0x900, 0x900, 0x10}};
  ASSERT_TRUE(patch::SynthesizeRelocations(refs, nl, none, false, &empty));
  EXPECT_EQ(empty.size(), 0u);
}

TEST(ProgramBody, HintsTakeRunsOfAddressesWhereTheyWent) {
  // The copies carry the code's second half 16 bytes on; a hint after the records that
  // says 0x20 for [0x1100, 0x1400) overrules them.
  const Program old_program = MakeProgram(0), new_program = MakeProgram(16);
  const uint32_t old_size = static_cast<uint32_t>(old_program.file.size());
  Streams s = MovedCode(old_program, old_size, 1 | 2 | 4);
  Bytes out;
  ASSERT_EQ(Decode(old_program.file, old_size, s.Body(), &out), Body2Outcome::Ok);
  ASSERT_EQ(out, new_program.file);
  // A hint that contradicts the copies puts the second half's targets 0x20 further on.
  Varint(s.control, kCodeRva + kInsertAt);
  Varint(s.control, 0x300);
  Varint(s.control, Zigzag(0x20));
  ASSERT_EQ(Decode(old_program.file, old_size, s.Body(), &out), Body2Outcome::Ok);
  const uint32_t call = PeRawOffset(new_program.spec, 0) + 0x130;  // from the second half to 0x280
  ASSERT_EQ(out[call], 0xE8);
  uint32_t value = 0, expected = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | out[call + 1 + i], expected = expected << 8 | new_program.file[call + 1 + i];
  EXPECT_EQ(value, expected + 0x10) << "the hint's 0x20 less the 0x10 the copies gave";
}

TEST(ProgramBody, DamagedBodiesAreRefused) {
  const Program old_program = MakeProgram(0);
  const uint32_t old_size = static_cast<uint32_t>(old_program.file.size());
  const uint32_t headers = PeRawOffset(old_program.spec, 0);
  struct Case {
    const char* what;
    Streams streams;
    uint32_t new_size;
    Body2Outcome outcome;
  } cases[] = {
      {"model 0", [] { Streams s = Streams().Copy(0, 0, 1).New("a"); s.transform = 0; return s; }(), 1,
       Body2Outcome::UnknownTransform},
      {"model 32", [] { Streams s = Streams().Copy(0, 0, 1).New("a"); s.transform = 32; return s; }(), 1,
       Body2Outcome::UnknownTransform},
      {"a copy from beyond the old file without the table",
       [&] { Streams s = MovedCode(old_program, old_size, 1 | 2); return s; }(), old_size,
       Body2Outcome::CopyOutsideOld},
      {"a copy across the end of the old file",
       [&] { Streams s; s.transform = 7; s.Copy(old_size, 0, 0).Copy(8, -4, 0).Run(old_size + 8, {}); return s; }(),
       old_size + 8, Body2Outcome::CopyOutsideOld},
      {"a copy past the end of the synthesized table",
       [&] { Streams s; s.transform = 7; s.Copy(headers, 0, 0).Copy(0x1000, old_size - headers, 0).Run(headers + 0x1000, {}); return s; }(),
       headers + 0x1000, Body2Outcome::CopyOutsideOld},
      {"a copy from the table into the headers",
       [&] { Streams s; s.transform = 7; s.Copy(8, static_cast<int32_t>(old_size), 0).Copy(old_size - 8, -static_cast<int32_t>(old_size), 0).Run(old_size, {}); return s; }(),
       old_size, Body2Outcome::CopyOutsideOld},
      {"a third copy read from 8 control bytes, its record cut after the delta",
       [] { Streams s; s.transform = 3; s.Copy(1, 0, 0).Copy(1, 0, 0); Varint(s.control, 1); Varint(s.control, 0); s.Run(3, {}); return s; }(),
       10, Body2Outcome::ControlBroken},
      {"a copy from the table over the end of the section table, the new file still a program",
       [&] {
         Streams s;
         s.transform = 7;
         const uint32_t end = kPeHeaderAt + 24 + 224 + 3 * 40;
         s.Copy(end - 8, 0, 0).Copy(8, static_cast<int32_t>(old_size - (end - 8)), 0);
         s.Copy(old_size - end, -static_cast<int32_t>(old_size + 8 - end), 0).Run(old_size, {});
         return s;
       }(),
       old_size, Body2Outcome::CopyOutsideOld},
      {"a hint of length 0",
       [&] { Streams s; s.transform = 3; s.Copy(old_size, 0, 0).Run(old_size, {}); Varint(s.control, 0x1000); Varint(s.control, 0); Varint(s.control, 0); return s; }(),
       old_size, Body2Outcome::ControlBroken},
      {"a hint cut short",
       [&] { Streams s; s.transform = 3; s.Copy(old_size, 0, 0).Run(old_size, {}); Varint(s.control, 0x1000); Varint(s.control, 4); return s; }(),
       old_size, Body2Outcome::ControlBroken},
      {"a hint past 2^32",
       [&] { Streams s; s.transform = 3; s.Copy(old_size, 0, 0).Run(old_size, {}); Varint(s.control, 0xFFFFFFF0u); Varint(s.control, 0x11); Varint(s.control, 0); return s; }(),
       old_size, Body2Outcome::ControlBroken},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(Decode(old_program.file, c.new_size, c.streams.Body(), &out), c.outcome) << c.what;
  }
}

TEST(ProgramBody, NewBytesGoThroughTheBranchTransformRunByRun) {
  // Two runs of new bytes, each a call to the same place in the file: stored with the
  // transform (absolute), decoded back to each run's own displacement.
  const Bytes old_file(64, 'o');
  Bytes call_at_0 = {0xE8, 0, 0, 0, 0}, call_at_9 = {0xE8, 0, 0, 0, 0};
  PutLe(call_at_0, 1, 100 - 5, 4);
  PutLe(call_at_9, 1, 100 - 14, 4);
  Streams s;
  s.transform = patch::kModelNewBytesX86;
  s.Copy(0, 0, 5).Copy(4, 0, 5).Run(4, {});
  for (int run = 0; run < 2; ++run) {
    s.fresh.push_back(0xE8);
    PutLe(s.fresh, s.fresh.size(), 100, 4);
  }
  Bytes out;
  ASSERT_EQ(Decode(old_file, 14, s.Body(), &out), Body2Outcome::Ok);
  Bytes expected = call_at_0;
  expected.insert(expected.end(), old_file.begin(), old_file.begin() + 4);
  expected.insert(expected.end(), call_at_9.begin(), call_at_9.end());
  EXPECT_EQ(out, expected);
}

}  // namespace

namespace {

TEST(RecordSort, OrdersRecordsOfAnyShapeAsTheStandardSortDoes) {
  struct Record {
    uint32_t key, payload, more;
  };
  const auto less = [](const void* a, const void* b) {
    const auto* x = static_cast<const Record*>(a);
    const auto* y = static_cast<const Record*>(b);
    return x->key != y->key ? x->key < y->key : x->payload < y->payload;
  };
  std::vector<std::vector<Record>> inputs = {{}, {{5, 0, 1}}, {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}},
                                             {{3, 0, 0}, {2, 0, 0}, {1, 0, 0}}, {{2, 1, 9}, {2, 0, 8}, {1, 5, 7}}};
  std::vector<Record> many;
  for (uint32_t i = 0; i < 1000; ++i) many.push_back({(i * 7919u) % 101, i % 3, i});
  inputs.push_back(many);
  for (const auto& input : inputs) {
    std::vector<Record> ours = input, expected = input;
    patch::SortRecords(ours.data(), ours.size(), sizeof(Record), less);
    std::sort(expected.begin(), expected.end(), [&](const Record& a, const Record& b) { return less(&a, &b); });
    ASSERT_EQ(ours.size(), expected.size());
    for (size_t i = 0; i < ours.size(); ++i) {
      EXPECT_EQ(ours[i].key, expected[i].key) << i;
      EXPECT_EQ(ours[i].payload, expected[i].payload) << i;
    }
  }
}

}  // namespace
