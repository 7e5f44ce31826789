#pragma once
// What the program-aware body (3.00, docs/format-3.md) reads of a PE file: its sections
// and where they lie in the file and in memory, and the references its code and data
// hold: absolute addresses that the base-relocation table lists, and the 32-bit
// displacements of relative calls and jumps in its executable sections. The reader never
// refuses a file: what it cannot model it leaves out, by rules that the producer and
// every decoder apply alike, so both see the same references.
#include <cstdint>
#include <span>

#include "core/patch/heap_block.h"

namespace patch {

constexpr uint32_t kMaxPeSections = 96;

struct PeSection {
  uint32_t rva = 0;
  uint32_t extent = 0;      // bytes in memory from rva: the larger of VirtualSize and the raw size
  uint32_t raw_offset = 0;  // where its bytes lie in the file
  uint32_t raw_size = 0;    // bytes in the file, cut at the end of the file
  bool executable = false;
};

struct PeLayout {
  uint64_t image_base = 0;
  uint32_t image_size = 0;
  uint32_t headers_end = 0;  // first byte after the section table
  uint32_t reloc_rva = 0, reloc_size = 0;
  uint32_t section_count = 0;
  PeSection sections[kMaxPeSections];
};

// Whether `file` is a PE file of 32- or 64-bit x86 that the body can model, and its layout.
// Reads only the headers, so the layout of a file being rebuilt can be read as soon as
// its first headers_end bytes are final: no section's bytes may lie before headers_end.
bool ReadPeLayout(std::span<const uint8_t> file, PeLayout* layout);

// Maps `width` bytes at a file offset to their address, through the first section (in
// table order) whose bytes in the file hold all of them; false when none does.
bool PeOffsetToRva(const PeLayout& layout, uint32_t offset, uint32_t width, uint32_t* rva);
// And back: through the first section whose bytes in the file hold all `width` bytes
// from `rva` on.
bool PeRvaToOffset(const PeLayout& layout, uint32_t rva, uint32_t width, uint32_t* offset);
// Where the relocation table lies in the file: from the first byte the directory names,
// through the section that holds it, cut at the end of that section's bytes in the file.
// False when there is none.
bool PeRelocationTable(const PeLayout& layout, uint32_t* offset, uint32_t* size);
// The first section whose extent in memory holds `rva`, or -1.
int PeSectionOf(const PeLayout& layout, uint32_t rva);

enum RefKind : uint32_t { kRefAbs32, kRefAbs64, kRefRel32 };
constexpr uint32_t RefWidth(uint32_t kind) { return kind == kRefAbs64 ? 8 : 4; }

struct Reference {
  uint32_t offset;  // of its value in the file
  uint32_t target;  // the address it points at
  uint32_t kind;
};

// What a 3.00 body models (its leading byte): the absolute references, the relative ones,
// a relocation table for the new file built from the absolute ones it carries, whether
// that table's blocks are padded to a multiple of four bytes, and whether the new bytes
// went through 2.00's x86 branch transform (each run of them on its own).
constexpr uint8_t kModelAbsolute = 1;
constexpr uint8_t kModelRelative = 2;
constexpr uint8_t kModelTable = 4;
constexpr uint8_t kModelTablePadded = 8;
constexpr uint8_t kModelNewBytesX86 = 16;
constexpr uint8_t kModelHighest = 31;

class ReferenceList {
 public:
  const Reference* begin() const { return reinterpret_cast<const Reference*>(block_.data()); }
  const Reference* end() const { return begin() + count_; }
  uint32_t count() const { return count_; }

 private:
  friend bool FindReferences(std::span<const uint8_t>, const PeLayout&, uint8_t, ReferenceList*);
  HeapBlock block_;
  uint32_t count_ = 0;
};

// The references of the kinds `model` names, sorted by offset, none overlapping another.
// False only when the memory for them is not there.
bool FindReferences(std::span<const uint8_t> file, const PeLayout& layout, uint8_t model, ReferenceList* refs);

}  // namespace patch
