// Fuzz target over the program-aware body (3.00): a small PE program as the old file,
// some of its bytes changed by the input (so the PE reader sees broken headers, sections
// and relocation tables too), and a body whose four raw streams come from the input and
// are deflated here, so the decoder's records, hints, predictions and synthesized table
// see arbitrary data behind valid compression. Besides "no crash, no read outside" (the
// sanitizers), it checks what must hold for any input:
//   - the layout read lies inside the file, and the references found are sorted, apart,
//     inside a section's bytes, and point inside the image;
//   - decoding is a pure function of its inputs;
//   - what the program model adds never touches the new file's headers: there the output
//     equals the plain run of the same streams, and it equals it everywhere when either
//     file is no program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "core/patch/format.h"
#include "core/patch/format2.h"
#include "core/patch/format3.h"
#include "core/patch/pe_image.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/unit/pe_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Code with calls, jumps and absolute addresses, data with pointers, and a relocation
// table of both block layouts (the odd block unpadded, as Go writes it).
Bytes OldProgram(bool wide) {
  patchtest::PeSpec spec;
  spec.wide = wide;
  Bytes code(0x400, 0x90);
  std::vector<std::pair<uint32_t, uint16_t>> relocs;
  for (uint32_t at = 0; at + 16 <= code.size(); at += 16) {
    code[at] = 0xE8;  // call back to the start of the section
    patchtest::PutLe(code, at + 1, static_cast<uint32_t>(0x1000 - (0x1000 + at + 5)), 4);
    code[at + 5] = 0x0F, code[at + 6] = 0x84;  // je forward
    patchtest::PutLe(code, at + 7, 0x20, 4);
    code[at + 11] = 0xB8;  // mov eax, address in .data
    patchtest::PutLe(code, at + 12, static_cast<uint32_t>(spec.image_base + 0x2000 + at / 4), 4);
    relocs.push_back({0x1000 + at + 12, 3});
  }
  Bytes data(0x200, 0);
  for (uint32_t at = 0; at + 8 <= 0x100; at += 8) {
    patchtest::PutLe(data, at, spec.image_base + 0x1000 + at, wide ? 8 : 4);
    relocs.push_back({0x2000 + at, static_cast<uint16_t>(wide ? 10 : 3)});
  }
  relocs.push_back({0x3010, 3});  // a page of its own, of bytes the file does not hold
  const Bytes table = patchtest::RelocationTable(relocs, false);
  spec.sections = {{".text", 0x1000, code, true}, {".data", 0x2000, data, false, 0x1800}, {".reloc", 0x4000, table}};
  spec.reloc_rva = 0x4000;
  spec.reloc_size = static_cast<uint32_t>(table.size());
  return patchtest::BuildPe(spec);
}

void CheckReferences(const Bytes& file) {
  patch::PeLayout l;
  if (!patch::ReadPeLayout(file, &l)) return;
  CHECK(l.headers_end <= file.size() && l.section_count <= patch::kMaxPeSections);
  for (uint32_t i = 0; i < l.section_count; ++i) {
    const patch::PeSection& s = l.sections[i];
    CHECK(s.raw_size == 0 || (uint64_t{s.raw_offset} + s.raw_size <= file.size() && s.raw_offset >= l.headers_end));
  }
  patch::ReferenceList refs;
  CHECK(patch::FindReferences(file, l, patch::kModelAbsolute | patch::kModelRelative, &refs));
  uint64_t end = 0;
  for (const patch::Reference& r : refs) {
    CHECK(r.offset >= end);
    end = uint64_t{r.offset} + patch::RefWidth(r.kind);
    uint32_t rva = 0;
    CHECK(patch::PeOffsetToRva(l, r.offset, patch::RefWidth(r.kind), &rva));
    if (r.kind == patch::kRefRel32) {
      const int in = patch::PeSectionOf(l, r.target);
      CHECK(in >= 0 && l.sections[in].executable);
    } else {
      CHECK(r.target < l.image_size);
    }
  }
}

void PutLe(Bytes& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

// Input: flags (bit 0: a 64-bit old program), model byte, new_size (2 bytes), an edit
// count and that many edits of the old file (offset, 2 bytes, and a byte to store), then
// four raw streams, each a length byte (taken modulo what is left) and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5 || size > 1 << 16) return 0;
  Bytes old_file = OldProgram(data[0] & 1);
  const uint8_t model = data[1];
  const uint32_t new_size = data[2] | (data[3] << 8);
  size_t pos = 5;
  for (uint32_t e = 0; e < data[4] && pos + 3 <= size; ++e, pos += 3) {
    old_file[(data[pos] | (data[pos + 1] << 8)) % old_file.size()] = data[pos + 2];
  }
  CheckReferences(old_file);

  Bytes body{model}, packed;
  for (int s = 0; s < patch::kStreamCount; ++s) {
    size_t n = 0;
    if (pos < size) {
      const uint8_t length_byte = data[pos++];
      n = length_byte % (size - pos + 1);
    }
    if (s == patch::kStreamCount - 1) n = size - pos;
    Bytes p;
    if (n > 0) {
      uLongf packed_size = compressBound(static_cast<uLong>(n));
      p.resize(packed_size);
      CHECK(compress2(p.data(), &packed_size, data + pos, static_cast<uLong>(n), 1) == Z_OK);
      p.resize(packed_size);
    }
    PutLe(body, static_cast<uint32_t>(n), 4);
    PutLe(body, static_cast<uint32_t>(p.size()), 4);
    packed.insert(packed.end(), p.begin(), p.end());
    pos += n;
  }
  body.insert(body.end(), packed.begin(), packed.end());

  Bytes image = {'D', 'i', 'f', 'f', 3, 0, 0, 0};
  PutLe(image, 0, 4);
  PutLe(image, 0, 4);
  PutLe(image, static_cast<uint32_t>(old_file.size()), 4);
  PutLe(image, new_size, 4);
  PutLe(image, 2008, 2);
  for (uint8_t v : {1, 30, 16, 48, 9}) image.push_back(v);
  for (const char* text : {"a.exe", "d", ""}) image.insert(image.end(), text, text + std::strlen(text) + 1);
  image.insert(image.end(), body.begin(), body.end());
  const patch::Image view(image.data(), image.size());
  patch::EntryHeader h;
  CHECK(patch::ParseEntryHeader(view, 0, &h) == patch::HeaderOutcome::Ok);
  Bytes out(new_size);
  const patch::Body2Outcome r = patch::DecodeBody3(view, h, old_file, out.data());
  if (r != patch::Body2Outcome::Ok) return 0;
  Bytes again(new_size);
  CHECK(patch::DecodeBody3(view, h, old_file, again.data()) == r);
  CHECK(again == out);

  // The same streams run plainly; the comparison needs the new bytes as they stand.
  if (model & patch::kModelNewBytesX86) return 0;
  patch::Body2Layout layout;
  CHECK(patch::ReadBody2Layout(view, h.body_offset, new_size, &layout, patch::kProgramFormatVersion) ==
        patch::Body2Outcome::Ok);
  Bytes plain(new_size);
  patch::HeapBlock rest;
  patch::StreamsRun run;
  run.control_rest = &rest;
  if (patch::RunStreams(view, layout, new_size, old_file, plain.data(), &run) != patch::Body2Outcome::Ok) return 0;
  patch::PeLayout old_layout, new_layout;
  if (!patch::ReadPeLayout(old_file, &old_layout) || !patch::ReadPeLayout(plain, &new_layout)) {
    CHECK(out == plain);
    return 0;
  }
  CHECK(std::memcmp(out.data(), plain.data(), new_layout.headers_end) == 0);
  return 0;
}
