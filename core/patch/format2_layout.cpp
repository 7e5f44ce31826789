// The head of a compressed-streams body: its streams' places and sizes, read and checked
// without inflating anything. The chain's walk needs no more than this, so what only walks
// chains (the wizard) links no decoder.
#include "core/patch/format2.h"

#include "core/patch/little_endian.h"
#include "core/patch/pe_image.h"  // the highest 3.00 model

namespace patch {
namespace {

// Largest raw size a valid body can give each stream, from new_size: a control record
// produces at least one byte in at most 15 bytes, a change covers at least one copied
// byte with a gap of at most 5 bytes and a count of at most 5 bytes besides its values,
// and new bytes are bytes of the output.
uint64_t RawLimit(int stream, uint32_t new_size) {
  switch (stream) {
    case kStreamControl: return uint64_t{new_size} * 15;
    case kStreamGaps: return uint64_t{new_size} * 5;
    case kStreamChanges: return uint64_t{new_size} * 6;
    default: return new_size;
  }
}

}  // namespace

Body2Outcome ReadBody2Layout(Image image, uint32_t body_offset, uint32_t new_size, Body2Layout* layout,
                             uint32_t format_version) {
  if (uint64_t{body_offset} + kBody2HeadSize > image.size()) return Body2Outcome::Truncated;
  const uint8_t* head = image.data() + body_offset;
  Body2Layout l;
  l.transform = head[0];
  // 2.00: a transform (1 or 2); 3.00: what it models (1 to 15).
  const uint8_t highest = format_version == kStreamsFormatVersion ? kTransformX86Branches : kModelHighest;
  if (l.transform == 0 || l.transform > highest) return Body2Outcome::UnknownTransform;
  uint64_t pos = uint64_t{body_offset} + kBody2HeadSize;
  for (int s = 0; s < kStreamCount; ++s) {
    PackedStream& p = l.streams[s];
    p.raw_size = Read32(head + 1 + 8 * s);
    p.packed_size = Read32(head + 5 + 8 * s);
    if ((p.raw_size == 0) != (p.packed_size == 0)) return Body2Outcome::BadSizes;
    if (p.raw_size > RawLimit(s, new_size) || p.raw_size > uint64_t{p.packed_size} * kMaxInflateRatio) {
      return Body2Outcome::BadSizes;
    }
    if (pos + p.packed_size > image.size()) return Body2Outcome::Truncated;
    p.offset = static_cast<uint32_t>(pos);
    pos += p.packed_size;
  }
  l.end = pos;
  *layout = l;
  return Body2Outcome::Ok;
}

bool Body2CanProduce(const Body2Layout& layout, uint32_t new_size, uint64_t old_size) {
  const uint64_t copies = layout.streams[kStreamControl].raw_size / 3;
  return new_size <= layout.streams[kStreamNew].raw_size + copies * old_size;
}

}  // namespace patch
