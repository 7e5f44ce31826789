#pragma once
// Hand-made PE files for tests of the program-aware body: headers, sections and a
// relocation table written byte by byte from the file format's layout, so the reader is
// checked against the layout and not against itself.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace patchtest {

struct PeSectionSpec {
  std::string name;
  uint32_t rva = 0;
  std::vector<uint8_t> data;
  bool executable = false;
  uint32_t virtual_size = 0;  // 0: the size of data
};

struct PeSpec {
  bool wide = false;  // PE32+ (x86-64)
  uint64_t image_base = 0x400000;
  std::vector<PeSectionSpec> sections;
  // The relocation directory (address and size); 0, 0 for none.
  uint32_t reloc_rva = 0, reloc_size = 0;
};

constexpr uint32_t kPeHeaderAt = 0x40;
constexpr uint32_t kFileAlign = 0x200;

inline void PutLe(std::vector<uint8_t>& b, size_t at, uint64_t v, int bytes) {
  if (b.size() < at + bytes) b.resize(at + bytes);
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where section `i` starts in the file that BuildPe writes.
inline uint32_t PeRawOffset(const PeSpec& spec, size_t i) {
  uint32_t at = kFileAlign;
  for (size_t k = 0; k < i; ++k) at += (static_cast<uint32_t>(spec.sections[k].data.size()) + kFileAlign - 1) / kFileAlign * kFileAlign;
  return at;
}

inline std::vector<uint8_t> BuildPe(const PeSpec& spec) {
  std::vector<uint8_t> f(kFileAlign, 0);
  f[0] = 'M';
  f[1] = 'Z';
  PutLe(f, 0x3C, kPeHeaderAt, 4);
  const uint32_t pe = kPeHeaderAt;
  PutLe(f, pe, 0x00004550, 4);
  PutLe(f, pe + 4, spec.wide ? 0x8664 : 0x14C, 2);
  PutLe(f, pe + 6, spec.sections.size(), 2);
  const uint32_t optional_size = spec.wide ? 240 : 224;
  PutLe(f, pe + 20, optional_size, 2);
  const uint32_t o = pe + 24;
  PutLe(f, o, spec.wide ? 0x20B : 0x10B, 2);
  if (spec.wide) {
    PutLe(f, o + 24, spec.image_base, 8);
  } else {
    PutLe(f, o + 28, spec.image_base, 4);
  }
  uint32_t image_size = 0x1000;
  for (const auto& s : spec.sections) {
    const uint32_t extent = s.virtual_size ? s.virtual_size : static_cast<uint32_t>(s.data.size());
    image_size = std::max(image_size, (s.rva + extent + 0xFFF) & ~0xFFFu);
  }
  PutLe(f, o + 56, image_size, 4);
  const uint32_t directories = spec.wide ? 112 : 96;
  PutLe(f, o + directories - 4, 16, 4);
  PutLe(f, o + directories + 8 * 5, spec.reloc_rva, 4);
  PutLe(f, o + directories + 8 * 5 + 4, spec.reloc_size, 4);
  const uint32_t table = o + optional_size;
  for (size_t i = 0; i < spec.sections.size(); ++i) {
    const PeSectionSpec& s = spec.sections[i];
    const uint32_t at = table + 40 * static_cast<uint32_t>(i);
    for (size_t k = 0; k < s.name.size() && k < 8; ++k) PutLe(f, at + k, static_cast<uint8_t>(s.name[k]), 1);
    PutLe(f, at + 8, s.virtual_size ? s.virtual_size : s.data.size(), 4);
    PutLe(f, at + 12, s.rva, 4);
    PutLe(f, at + 16, s.data.size(), 4);
    PutLe(f, at + 20, s.data.empty() ? 0 : PeRawOffset(spec, i), 4);
    PutLe(f, at + 36, s.executable ? 0x60000020u : 0x40000040u, 4);
  }
  for (size_t i = 0; i < spec.sections.size(); ++i) {
    const auto& d = spec.sections[i].data;
    const uint32_t at = PeRawOffset(spec, i);
    f.resize(std::max<size_t>(f.size(), at + (d.size() + kFileAlign - 1) / kFileAlign * kFileAlign), 0);
    std::copy(d.begin(), d.end(), f.begin() + at);
  }
  return f;
}

// A relocation table listing `entries` (address, type) in the given order, one block per
// run of one 4 KB page; `padded` pads odd blocks with a zero entry, as most linkers do
// (Go's does not).
inline std::vector<uint8_t> RelocationTable(const std::vector<std::pair<uint32_t, uint16_t>>& entries, bool padded) {
  std::vector<uint8_t> t;
  for (size_t i = 0; i < entries.size();) {
    const uint32_t page = entries[i].first & ~0xFFFu;
    size_t j = i;
    while (j < entries.size() && (entries[j].first & ~0xFFFu) == page) ++j;
    const size_t count = (j - i) + (padded && ((j - i) & 1) ? 1 : 0);
    const size_t at = t.size();
    PutLe(t, at, page, 4);
    PutLe(t, at + 4, 8 + 2 * count, 4);
    for (size_t k = i; k < j; ++k) PutLe(t, t.size(), (entries[k].second << 12) | (entries[k].first & 0xFFF), 2);
    if (count > j - i) PutLe(t, t.size(), 0, 2);
    i = j;
  }
  return t;
}

}  // namespace patchtest
