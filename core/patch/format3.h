#pragma once
// The body of an update or create-if-missing entry of format 3.00 (docs/format-3.md): the
// streams of 2.00, whose copies are then corrected where the old file is a program. The
// references of the old program (absolute addresses from its relocation table, relative
// call and jump displacements in its code) that a copy carries into the new file are
// predicted there: their targets follow the copies, and the difference streams hold only
// what the prediction got wrong. A release that moves code then costs little more than
// its really new bytes.
#include <cstdint>
#include <type_traits>
#include <span>

#include "core/patch/format.h"
#include "core/patch/format2.h"
#include "core/patch/pe_image.h"

namespace patch {

// Where the old file's bytes went, by the copies of a body: disjoint stretches of the old
// file in order, each with the distance its bytes moved. Where copies overlap in the old
// file, the copy that starts first there (then the one earlier in the new file) owns the
// shared bytes.
// A correction the body gives of where old addresses went: those in [start, start +
// length) moved by delta (modulo 2^32), whatever the copies say.
struct TargetHint {
  uint32_t start, length, delta;
};

// Reads the hints that follow the records in the control stream: each a varint gap from
// the end of the hint before (from 0 for the first), a varint length of at least 1 and a
// zigzag varint delta, none reaching past 2^32, until the stream ends. Into `block`.
Body2Outcome ReadTargetHints(std::span<const uint8_t> rest, HeapBlock* block, std::span<const TargetHint>* hints);

class Motion {
 public:
  // Copies that reach beyond `old_size` (from the synthesized table) carry no old bytes.
  // False when memory is not there.
  bool Build(std::span<const CopySpan> copies, uint64_t old_size);
  // Where an old file offset went: by the stretch that holds it, or else the last one
  // before it (the first one when none lies before it). Needs a stretch (not empty()).
  uint32_t Carry(uint32_t offset) const;
  bool empty() const { return count_ == 0; }
  // The hints of the body (sorted, disjoint; they must outlive the motion).
  void SetHints(std::span<const TargetHint> hints) { hints_ = hints; }
  // Whether a hint covers the address, and where it takes it.
  bool Hinted(uint32_t target, uint32_t* moved) const;

 private:
  std::span<const TargetHint> hints_;
  struct Stretch {
    uint32_t start, end, delta;
  };
  HeapBlock block_;
  Stretch* stretches_ = nullptr;
  uint32_t count_ = 0;
};

// An old address's new place: by the hint that covers it; else through the file bytes it names, carried by the copies, to
// the new section that holds them; an address without bytes in the file (or whose bytes
// land outside the new sections) keeps its place relative to the start of its section,
// in the section of the same number in the new file (or stays where it is when the new
// file has no such section). Needs a non-empty motion.
uint32_t CarryTarget(const PeLayout& old_layout, const PeLayout& new_layout, const Motion& motion, uint32_t target);

// Calls visit(context, reference, new offset, new address) for every reference that a
// copy carries whole into a section of the new file (docs/format-3.md, "Predictions").
using CarriedVisit = void (*)(void* context, const Reference& r, uint32_t at, uint32_t at_rva);
void ForEachCarried(const ReferenceList& refs, const PeLayout& new_layout, std::span<const CopySpan> copies,
                    uint64_t new_size, CarriedVisit visit, void* context);
template <class Visit>
void ForEachCarried(const ReferenceList& refs, const PeLayout& new_layout, std::span<const CopySpan> copies,
                    uint64_t new_size, Visit&& visit) {
  ForEachCarried(
      refs, new_layout, copies, new_size,
      [](void* context, const Reference& r, uint32_t at, uint32_t at_rva) {
        (*static_cast<std::remove_reference_t<Visit>*>(context))(r, at, at_rva);
      },
      &visit);
}

// Predicts every reference in `refs` (of the old file) that a copy carries whole into the
// new file: its target is carried through the copies, its value in the new file computed
// from that, and the predicted value less the old one is added byte by byte modulo 256
// to `out` at its new place. `copies` are the body's copies in its order; `new_layout`
// is the new file's. False only when memory is not there.
bool ApplyPredictions(std::span<const uint8_t> old_file, const PeLayout& old_layout, const ReferenceList& refs,
                      const PeLayout& new_layout, std::span<const CopySpan> copies,
                      std::span<const TargetHint> hints, std::span<uint8_t> out);

// The relocation table the new file would have if it held exactly the absolute references
// of `refs` that the copies carry there: their new addresses sorted (the first of equal
// ones kept), one block per 4 KB page in order (page address, block size, entries of
// type 3 or 10 and the offset in the page), each block padded with a zero entry to a
// multiple of four bytes when `padded`. Into `table`; false when memory is not there.
bool SynthesizeRelocations(const ReferenceList& refs, const PeLayout& new_layout, std::span<const CopySpan> copies,
                           bool padded, HeapBlock* table);

// Calls visit(start, length) for every run of new bytes: what the copies (in the order of
// the body, which is the order of the new file) leave of new_size bytes.
template <class Visit>
void ForEachNewRun(std::span<const CopySpan> copies, uint32_t new_size, Visit visit) {
  uint32_t at = 0;
  for (const CopySpan& c : copies) {
    if (c.to > at) visit(at, c.to - at);
    at = c.to + c.length;
  }
  if (new_size > at) visit(at, new_size - at);
}

// Decodes a 3.00 body into `out` (new_size bytes); the outcomes are those of 2.00.
Body2Outcome DecodeBody3(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                         uint8_t* out);

// Either streams body, by the entry's version.
inline Body2Outcome DecodeStreamsBody(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                                      uint8_t* out) {
  return header.format_version == kProgramFormatVersion ? DecodeBody3(image, header, old_contents, out)
                                                        : DecodeBody2(image, header, old_contents, out);
}

}  // namespace patch
