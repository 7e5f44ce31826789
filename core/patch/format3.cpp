#include "core/patch/format3.h"

#include <algorithm>

#include "core/patch/record_sort.h"

namespace patch {
namespace {

uint64_t ReadLittle(const uint8_t* p, uint32_t width) {
  uint64_t v = 0;
  for (uint32_t i = width; i-- > 0;) v = (v << 8) | p[i];
  return v;
}

bool ByOldPlace(const CopySpan& a, const CopySpan& b) { return a.from != b.from ? a.from < b.from : a.to < b.to; }

}  // namespace

bool Motion::Build(std::span<const CopySpan> copies, uint64_t old_size) {
  count_ = 0;
  if (!block_.Allocate(copies.size() * sizeof(CopySpan))) return false;
  CopySpan* sorted = reinterpret_cast<CopySpan*>(block_.data());
  std::copy(copies.begin(), copies.end(), sorted);
  SortRecords(sorted, copies.size(), sizeof(CopySpan), [](const void* a, const void* b) {
    return ByOldPlace(*static_cast<const CopySpan*>(a), *static_cast<const CopySpan*>(b));
  });
  // The stretches are written over the sorted copies: never more of them, never ahead.
  static_assert(sizeof(Stretch) == sizeof(CopySpan));
  stretches_ = reinterpret_cast<Stretch*>(block_.data());
  uint64_t covered = 0;
  for (size_t i = 0; i < copies.size(); ++i) {
    const CopySpan c = sorted[i];
    const uint64_t end = uint64_t{c.from} + c.length;
    if (end <= covered || end > old_size) continue;
    const uint32_t start = c.from > covered ? c.from : static_cast<uint32_t>(covered);
    stretches_[count_++] = {start, static_cast<uint32_t>(end), c.to - c.from};
    covered = end;
  }
  return true;
}

uint32_t Motion::Carry(uint32_t offset) const {
  const Stretch* s = std::upper_bound(stretches_, stretches_ + count_, offset,
                                      [](uint32_t at, const Stretch& x) { return at < x.start; });
  if (s != stretches_) --s;
  return offset + s->delta;
}

bool Motion::Hinted(uint32_t target, uint32_t* moved) const {
  const TargetHint* h = std::upper_bound(hints_.data(), hints_.data() + hints_.size(), target,
                                         [](uint32_t at, const TargetHint& x) { return at < x.start; });
  if (h == hints_.data() || target - (h - 1)->start >= (h - 1)->length) return false;
  *moved = target + (h - 1)->delta;
  return true;
}

Body2Outcome ReadTargetHints(std::span<const uint8_t> rest, HeapBlock* block, std::span<const TargetHint>* hints) {
  // Each hint takes three bytes at least.
  if (!block->Allocate(rest.size() / 3 * sizeof(TargetHint))) return Body2Outcome::NoMemory;
  TargetHint* const list = reinterpret_cast<TargetHint*>(block->data());
  StreamCursor cursor(rest.data(), rest.size());
  uint64_t end = 0;
  size_t count = 0;
  while (!cursor.AtEnd()) {
    uint32_t gap = 0, length = 0, zigzag = 0;
    if (!cursor.Varint(&gap) || !cursor.Varint(&length) || !cursor.Varint(&zigzag) || length == 0 ||
        end + gap + length > (uint64_t{1} << 32)) {
      return Body2Outcome::ControlBroken;
    }
    const uint32_t start = static_cast<uint32_t>(end + gap);
    list[count++] = {start, length, (zigzag >> 1) ^ (0u - (zigzag & 1))};
    end = uint64_t{start} + length;
  }
  *hints = std::span<const TargetHint>(list, count);
  return Body2Outcome::Ok;
}

uint32_t CarryTarget(const PeLayout& old_layout, const PeLayout& new_layout, const Motion& motion, uint32_t target) {
  uint32_t offset = 0, moved = 0;
  if (motion.Hinted(target, &moved)) return moved;
  if (PeRvaToOffset(old_layout, target, 1, &offset) && PeOffsetToRva(new_layout, motion.Carry(offset), 1, &moved)) {
    return moved;
  }
  const int k = PeSectionOf(old_layout, target);
  if (k >= 0 && static_cast<uint32_t>(k) < new_layout.section_count) {
    return target - old_layout.sections[k].rva + new_layout.sections[k].rva;
  }
  return target;
}

namespace {

constexpr uint32_t kPage = 0x1000;

bool Before(const Reference& x, uint32_t offset) { return x.offset < offset; }

}  // namespace

void ForEachCarried(const ReferenceList& refs, const PeLayout& new_layout, std::span<const CopySpan> copies,
                    uint64_t new_size, CarriedVisit visit, void* context) {
  for (const CopySpan& c : copies) {
    const uint64_t copy_end = uint64_t{c.from} + c.length;
    for (const Reference* r = std::lower_bound(refs.begin(), refs.end(), c.from, Before);
         r != refs.end() && r->offset < copy_end; ++r) {
      const uint32_t width = RefWidth(r->kind);
      // Sorted and disjoint: when this value sticks out of the copy, so do all after it.
      if (r->offset + uint64_t{width} > copy_end) break;
      const uint32_t at = c.to + (r->offset - c.from);
      uint32_t at_rva = 0;
      if (uint64_t{at} + width <= new_size && PeOffsetToRva(new_layout, at, width, &at_rva)) {
        visit(context, *r, at, at_rva);
      }
    }
  }
}

bool ApplyPredictions(std::span<const uint8_t> old_file, const PeLayout& old_layout, const ReferenceList& refs,
                      const PeLayout& new_layout, std::span<const CopySpan> copies,
                      std::span<const TargetHint> hints, std::span<uint8_t> out) {
  Motion motion;
  if (!motion.Build(copies, old_file.size())) return false;
  motion.SetHints(hints);
  if (motion.empty()) return true;
  ForEachCarried(refs, new_layout, copies, out.size(), [&](const Reference& r, uint32_t at, uint32_t at_rva) {
    const uint32_t width = RefWidth(r.kind);
    const uint32_t target = CarryTarget(old_layout, new_layout, motion, r.target);
    uint64_t value = new_layout.image_base + target;
    if (r.kind == kRefRel32) value = target - (at_rva + 4);
    const uint64_t old_value = ReadLittle(old_file.data() + r.offset, width);
    for (uint32_t i = 0; i < width; ++i) {
      out[at + i] = static_cast<uint8_t>(out[at + i] + static_cast<uint8_t>(value >> (8 * i)) -
                                         static_cast<uint8_t>(old_value >> (8 * i)));
    }
  });
  return true;
}

bool SynthesizeRelocations(const ReferenceList& refs, const PeLayout& new_layout, std::span<const CopySpan> copies,
                           bool padded, HeapBlock* table) {
  // The copies were checked against the new file when they were run.
  const uint64_t unbounded = ~uint64_t{0};
  const auto absolute = [](const Reference& r) { return r.kind != kRefRel32; };
  uint64_t count = 0;
  ForEachCarried(refs, new_layout, copies, unbounded, [&](const Reference& r, uint32_t, uint32_t) { count += absolute(r); });
  // An entry's address and whether it is 64-bit, in one sortable number.
  HeapBlock keys_block;
  if (!keys_block.Allocate(count * sizeof(uint64_t))) return false;
  uint64_t* const keys = reinterpret_cast<uint64_t*>(keys_block.data());
  uint64_t n = 0;
  ForEachCarried(refs, new_layout, copies, unbounded, [&](const Reference& r, uint32_t, uint32_t at_rva) {
    if (absolute(r)) keys[n++] = (uint64_t{at_rva} << 1) | (r.kind == kRefAbs64 ? 1 : 0);
  });
  SortRecords(keys, n, sizeof(uint64_t), [](const void* a, const void* b) {
    return *static_cast<const uint64_t*>(a) < *static_cast<const uint64_t*>(b);
  });
  uint64_t kept = 0;
  for (uint64_t i = 0; i < n; ++i) {
    if (kept == 0 || (keys[i] >> 1) != (keys[kept - 1] >> 1)) keys[kept++] = keys[i];
  }
  const auto page_of = [keys](uint64_t i) { return static_cast<uint32_t>(keys[i] >> 1) & ~(kPage - 1); };
  const auto block_end = [&](uint64_t i) {
    uint64_t j = i;
    while (j < kept && page_of(j) == page_of(i)) ++j;
    return j;
  };
  const auto entries_of = [padded](uint64_t k) { return k + (padded && (k & 1) ? 1 : 0); };
  uint64_t size = 0;
  for (uint64_t i = 0, j; i < kept; i = j) {
    j = block_end(i);
    size += 8 + 2 * entries_of(j - i);
  }
  if (!table->Allocate(size)) return false;
  uint8_t* p = table->data();
  const auto put = [&p](uint32_t v, int bytes) {
    for (int b = 0; b < bytes; ++b) *p++ = static_cast<uint8_t>(v >> (8 * b));
  };
  for (uint64_t i = 0, j; i < kept; i = j) {
    j = block_end(i);
    const uint64_t entries = entries_of(j - i);
    put(page_of(i), 4);
    put(static_cast<uint32_t>(8 + 2 * entries), 4);
    for (uint64_t k = i; k < j; ++k) {
      const uint32_t type = (keys[k] & 1) ? 10 : 3;
      put((type << 12) | (static_cast<uint32_t>(keys[k] >> 1) & (kPage - 1)), 2);
    }
    if (entries > j - i) put(0, 2);
  }
  return true;
}

Body2Outcome DecodeBody3(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                         uint8_t* out) {
  Body2Layout layout;
  const Body2Outcome read = ReadBody2Layout(image, header.body_offset, header.new_size, &layout, kProgramFormatVersion);
  if (read != Body2Outcome::Ok) return read;
  if (!Body2CanProduce(layout, header.new_size, old_contents.size())) return Body2Outcome::BadSizes;

  const uint8_t model = layout.transform;
  PeLayout old_layout;
  const bool old_program = ReadPeLayout(old_contents, &old_layout);
  // Copies from beyond the old contents read the synthesized table, which only an old
  // program can give.
  const bool table = old_program && (model & kModelTable) != 0;

  // Every copy has at least one byte, so there are no more copies than new bytes.
  const uint64_t most = std::min<uint64_t>(MostCopies(layout.streams[kStreamControl].raw_size), header.new_size);
  HeapBlock copies;
  if (!copies.Allocate(most * sizeof(CopySpan))) return Body2Outcome::NoMemory;
  CopySpan* const list = reinterpret_cast<CopySpan*>(copies.data());
  HeapBlock rest, hint_block;
  StreamsRun run;
  run.copies = list;
  run.beyond_old = table;
  run.control_rest = &rest;
  const Body2Outcome ran = RunStreams(image, layout, header.new_size, old_contents, out, &run);
  if (ran != Body2Outcome::Ok) return ran;
  std::span<const TargetHint> hints;
  const Body2Outcome hinted = ReadTargetHints({rest.data(), static_cast<size_t>(rest.size())}, &hint_block, &hints);
  if (hinted != Body2Outcome::Ok) return hinted;
  const std::span<const CopySpan> listed(list, run.copy_count);
  if (model & kModelNewBytesX86) {
    ForEachNewRun(listed, header.new_size, [out](uint32_t at, uint32_t n) { X86BranchesDecode(out + at, n, at); });
  }
  if (!old_program) return Body2Outcome::Ok;
  const uint64_t old_size = old_contents.size();

  // The new file's headers are final now, unless a copy from the table lands among them,
  // which is refused.
  const std::span<uint8_t> rebuilt(out, header.new_size);
  PeLayout new_layout;
  const bool new_program = ReadPeLayout(rebuilt, &new_layout);
  for (const CopySpan& c : listed) {
    if (c.from >= old_size && (!new_program || c.to < new_layout.headers_end)) return Body2Outcome::CopyOutsideOld;
  }
  if (!new_program) return Body2Outcome::Ok;
  ReferenceList refs;
  if (!FindReferences(old_contents, old_layout, model, &refs) ||
      !ApplyPredictions(old_contents, old_layout, refs, new_layout, listed, hints, rebuilt)) {
    return Body2Outcome::NoMemory;
  }
  if (!table) return Body2Outcome::Ok;
  HeapBlock synthesized;
  if (!SynthesizeRelocations(refs, new_layout, listed, (model & kModelTablePadded) != 0, &synthesized)) {
    return Body2Outcome::NoMemory;
  }
  for (const CopySpan& c : listed) {
    if (c.from < old_size) continue;
    const uint64_t at = c.from - old_size;
    if (at + c.length > synthesized.size()) return Body2Outcome::CopyOutsideOld;
    for (uint32_t i = 0; i < c.length; ++i) out[c.to + i] = static_cast<uint8_t>(out[c.to + i] + synthesized.data()[at + i]);
  }
  return Body2Outcome::Ok;
}

}  // namespace patch
