#include "core/patch/pe_image.h"

#include <algorithm>

#include "core/patch/little_endian.h"
#include "core/patch/record_sort.h"

namespace patch {
namespace {

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kSectionExecutes = 0x20000000;
constexpr uint32_t kSectionHoldsCode = 0x20;
constexpr uint32_t kRelocDirectory = 5;
constexpr uint32_t kRelocHighLow = 3;
constexpr uint32_t kRelocDir64 = 10;

bool Holds(uint32_t start, uint32_t size, uint32_t at, uint32_t width) {
  return at >= start && uint64_t{at} + width <= uint64_t{start} + size;
}

}  // namespace

bool ReadPeLayout(std::span<const uint8_t> file, PeLayout* layout) {
  const uint64_t size = file.size();
  const uint8_t* f = file.data();
  if (size < 64 || f[0] != 'M' || f[1] != 'Z') return false;
  const uint64_t pe = Read32(f + 0x3C);
  if (pe + 24 > size || Read32(f + pe) != 0x00004550) return false;  // "PE\0\0"
  const uint16_t machine = Read16(f + pe + 4);
  if (machine != kMachineI386 && machine != kMachineAmd64) return false;
  const uint32_t sections = Read16(f + pe + 6);
  const uint64_t optional = pe + 24, optional_size = Read16(f + pe + 20);
  const uint64_t table = optional + optional_size;
  const uint64_t headers_end = table + uint64_t{sections} * 40;
  if (sections == 0 || sections > kMaxPeSections || headers_end > size) return false;
  const uint8_t* o = f + optional;
  if (optional_size < 2) return false;
  const uint16_t magic = Read16(o);
  // Where the image base, image size, directory count and directories stand differ
  // between the two kinds of optional header.
  const bool wide = magic == kMagicPe32Plus;
  if (magic != kMagicPe32 && !wide) return false;
  const uint32_t directories_at = wide ? 112 : 96;
  if (optional_size < directories_at) return false;
  PeLayout l;
  l.image_base = wide ? Read64(o + 24) : Read32(o + 28);
  l.image_size = Read32(o + 56);
  const uint32_t directories = Read32(o + directories_at - 4);
  const uint64_t reloc_at = directories_at + 8 * kRelocDirectory;
  if (directories > kRelocDirectory && reloc_at + 8 <= optional_size) {
    l.reloc_rva = Read32(o + reloc_at);
    l.reloc_size = Read32(o + reloc_at + 4);
  }
  l.headers_end = static_cast<uint32_t>(headers_end);
  l.section_count = sections;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint8_t* s = f + table + 40 * i;
    PeSection& sec = l.sections[i];
    const uint32_t virtual_size = Read32(s + 8);
    sec.rva = Read32(s + 12);
    sec.raw_size = Read32(s + 16);
    sec.raw_offset = Read32(s + 20);
    if (sec.raw_offset >= size) sec.raw_size = 0;
    if (sec.raw_size > size - sec.raw_offset) sec.raw_size = static_cast<uint32_t>(size - sec.raw_offset);
    // The rebuilt file's layout is read before its sections are final, so no section's
    // bytes may lie among the headers.
    if (sec.raw_size > 0 && sec.raw_offset < headers_end) return false;
    sec.extent = std::max(virtual_size, sec.raw_size);
    sec.executable = (Read32(s + 36) & (kSectionExecutes | kSectionHoldsCode)) != 0;
  }
  *layout = l;
  return true;
}

bool PeOffsetToRva(const PeLayout& layout, uint32_t offset, uint32_t width, uint32_t* rva) {
  for (uint32_t i = 0; i < layout.section_count; ++i) {
    const PeSection& s = layout.sections[i];
    if (Holds(s.raw_offset, s.raw_size, offset, width)) {
      *rva = s.rva + (offset - s.raw_offset);
      return true;
    }
  }
  return false;
}

bool PeRvaToOffset(const PeLayout& layout, uint32_t rva, uint32_t width, uint32_t* offset) {
  for (uint32_t i = 0; i < layout.section_count; ++i) {
    const PeSection& s = layout.sections[i];
    if (Holds(s.rva, s.raw_size, rva, width)) {
      *offset = s.raw_offset + (rva - s.rva);
      return true;
    }
  }
  return false;
}

bool PeRelocationTable(const PeLayout& layout, uint32_t* offset, uint32_t* size) {
  if (layout.reloc_size == 0) return false;
  for (uint32_t i = 0; i < layout.section_count; ++i) {
    const PeSection& s = layout.sections[i];
    if (Holds(s.rva, s.raw_size, layout.reloc_rva, 1)) {
      const uint32_t into = layout.reloc_rva - s.rva;
      *offset = s.raw_offset + into;
      *size = std::min(layout.reloc_size, s.raw_size - into);
      return true;
    }
  }
  return false;
}

int PeSectionOf(const PeLayout& layout, uint32_t rva) {
  for (uint32_t i = 0; i < layout.section_count; ++i) {
    if (Holds(layout.sections[i].rva, layout.sections[i].extent, rva, 1)) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// A total order, so that which of two overlapping values is kept never depends on the sort.
bool ByOffset(const Reference& a, const Reference& b) {
  if (a.offset != b.offset) return a.offset < b.offset;
  return a.kind != b.kind ? a.kind < b.kind : a.target < b.target;
}
bool RecordByOffset(const void* a, const void* b) {
  return ByOffset(*static_cast<const Reference*>(a), *static_cast<const Reference*>(b));
}

// The absolute references the relocation table lists. Blocks are read while a whole block
// header and a block of an even size of at least 8 bytes are left; Go's linker writes
// blocks of an odd number of entries (size 2 mod 4), which are as good as any.
Reference* AddAbsolute(std::span<const uint8_t> file, const PeLayout& l, Reference* out) {
  uint32_t at = 0, size = 0;
  if (!PeRelocationTable(l, &at, &size)) return out;
  uint64_t left = size;
  const uint8_t* p = file.data() + at;
  while (left >= 8) {
    const uint32_t page = Read32(p), block = Read32(p + 4);
    if (block < 8 || (block & 1) != 0 || block > left) break;
    for (uint32_t e = 8; e + 2 <= block; e += 2) {
      const uint32_t entry = Read16(p + e), type = entry >> 12;
      if (type != kRelocHighLow && type != kRelocDir64) continue;
      const uint32_t kind = type == kRelocDir64 ? kRefAbs64 : kRefAbs32;
      uint32_t offset = 0;
      if (!PeRvaToOffset(l, page + (entry & 0xFFF), RefWidth(kind), &offset)) continue;
      const uint64_t value = kind == kRefAbs64 ? Read64(file.data() + offset) : Read32(file.data() + offset);
      const uint64_t target = kind == kRefAbs64 ? value - l.image_base
                                                : static_cast<uint32_t>(value - static_cast<uint32_t>(l.image_base));
      if (target >= l.image_size) continue;
      *out++ = {offset, static_cast<uint32_t>(target), kind};
    }
    p += block;
    left -= block;
  }
  return out;
}

// The relative calls (E8), jumps (E9) and conditional jumps (0F 80..8F) of the executable
// sections whose target lies in an executable section, scanned from the first byte of each
// section; a value that would overlap an absolute reference is not one. After a reference
// the scan goes on behind its value.
Reference* AddRelative(std::span<const uint8_t> file, const PeLayout& l, const Reference* absolute,
                       const Reference* absolute_end, Reference* out) {
  const uint8_t* f = file.data();
  for (uint32_t i = 0; i < l.section_count; ++i) {
    const PeSection& s = l.sections[i];
    if (!s.executable) continue;
    const Reference* next_abs = std::lower_bound(absolute, absolute_end, Reference{s.raw_offset, 0, 0}, ByOffset);
    const uint64_t end = uint64_t{s.raw_offset} + s.raw_size;
    for (uint64_t x = s.raw_offset; x + 5 <= end;) {
      uint32_t value_at = 0;
      if ((f[x] & 0xFE) == 0xE8) {
        value_at = static_cast<uint32_t>(x + 1);
      } else if (f[x] == 0x0F && x + 6 <= end && (f[x + 1] & 0xF0) == 0x80) {
        value_at = static_cast<uint32_t>(x + 2);
      } else {
        ++x;
        continue;
      }
      while (next_abs != absolute_end && uint64_t{next_abs->offset} + RefWidth(next_abs->kind) <= value_at) ++next_abs;
      const bool overlaps = next_abs != absolute_end && next_abs->offset < value_at + 4;
      const uint32_t value_rva = s.rva + (value_at - s.raw_offset);
      const uint32_t target = value_rva + 4 + Read32(f + value_at);
      const int in = PeSectionOf(l, target);
      if (overlaps || in < 0 || !l.sections[in].executable) {
        ++x;
        continue;
      }
      *out++ = {value_at, target, kRefRel32};
      x = value_at + 4;
    }
  }
  return out;
}

}  // namespace

bool FindReferences(std::span<const uint8_t> file, const PeLayout& layout, uint8_t model, ReferenceList* refs) {
  // Room for the most references the file could hold, counted before anything is read.
  uint32_t table_at = 0, table_size = 0;
  uint64_t most = (model & kModelAbsolute) && PeRelocationTable(layout, &table_at, &table_size) ? table_size / 2 : 0;
  if (model & kModelRelative) {
    for (uint32_t i = 0; i < layout.section_count; ++i) {
      if (layout.sections[i].executable) most += layout.sections[i].raw_size / 5 + 1;
    }
  }
  refs->count_ = 0;
  HeapBlock found;
  if (!found.Allocate(most * sizeof(Reference))) return false;
  Reference* const all = reinterpret_cast<Reference*>(found.data());
  Reference* const absolute_end = (model & kModelAbsolute) ? AddAbsolute(file, layout, all) : all;
  SortRecords(all, static_cast<size_t>(absolute_end - all), sizeof(Reference), RecordByOffset);
  Reference* const end = (model & kModelRelative) ? AddRelative(file, layout, all, absolute_end, absolute_end) : absolute_end;
  SortRecords(absolute_end, static_cast<size_t>(end - absolute_end), sizeof(Reference), RecordByOffset);

  // The two sorted runs merged, and of values that overlap (two relocations of one place,
  // sections sharing bytes) the first kept, into a block of the size found.
  if (!refs->block_.Allocate(static_cast<uint64_t>(end - all) * sizeof(Reference))) return false;
  Reference* const kept_start = reinterpret_cast<Reference*>(refs->block_.data());
  Reference* kept = kept_start;
  for (const Reference *a = all, *r = absolute_end; a != absolute_end || r != end;) {
    const Reference& next = (r == end || (a != absolute_end && ByOffset(*a, *r))) ? *a++ : *r++;
    if (kept != kept_start && next.offset < (kept - 1)->offset + RefWidth((kept - 1)->kind)) continue;
    *kept++ = next;
  }
  refs->count_ = static_cast<uint32_t>(kept - kept_start);
  return true;
}

}  // namespace patch
