#pragma once
// The body of an update or create-if-missing entry of format 2.00 (docs/format-2.md):
// a small fixed head giving the raw and packed size of four zlib streams (control
// records, gaps between changes of the difference, the changes themselves, new bytes),
// then the packed streams.
// The head alone tells where the body ends; decoding checks every count against the
// streams and the old contents before a single byte of output is trusted.
#include <cstdint>
#include <span>

#include "core/patch/format.h"

namespace patch {

enum StreamId : int { kStreamControl, kStreamGaps, kStreamChanges, kStreamNew, kStreamCount };

// Leading byte of the body: which transform the rebuilt contents went through. Never 0,
// so a body can never be mistaken for the touch marker word (00 80).
constexpr uint8_t kTransformNone = 1;
constexpr uint8_t kTransformX86Branches = 2;

constexpr uint32_t kBody2HeadSize = 1 + kStreamCount * 8;
// Deflate cannot expand data by more than about 1032 to 1; a stream that claims more
// is refused before any memory is set aside for it.
constexpr uint64_t kMaxInflateRatio = 1040;

struct PackedStream {
  uint32_t raw_size = 0;
  uint32_t packed_size = 0;
  uint32_t offset = 0;  // in the image
};

struct Body2Layout {
  uint8_t transform = kTransformNone;
  PackedStream streams[kStreamCount];
  uint64_t end = 0;  // first byte after the body
};
static_assert(sizeof(BodySummary::raw_sizes) / sizeof(uint32_t) == kStreamCount);

enum class Body2Outcome : uint8_t {
  Ok,
  Truncated,         // the head or a packed stream runs past the end of the image
  UnknownTransform,  // leading byte
  BadSizes,          // a raw/packed size pair that no valid body has
  StreamCorrupt,     // a stream does not inflate to exactly its raw size
  ControlBroken,     // a control record is malformed or goes past new_size
  CopyOutsideOld,    // a copy reads outside the old contents
  DifferencesRunOut, // the runs or values end before the copies do
  NewBytesRunOut,    // the new-byte stream ends before the records do
  TrailingData,      // a stream holds more than the records use
  NoMemory,
};

// Reads the head at `body_offset` and checks the sizes; inflates nothing.
Body2Outcome ReadBody2Layout(Image image, uint32_t body_offset, uint32_t new_size, Body2Layout* layout);

// Whether the body could produce new_size bytes at all from `old_size` old bytes: each copy
// record takes at least 3 control bytes and copies at most the whole old contents. Checked
// before the output is allocated, so a small body cannot claim gigabytes.
bool Body2CanProduce(const Body2Layout& layout, uint32_t new_size, uint64_t old_size);

// Decodes the whole body into `out`, which holds new_size bytes. `old_contents` is empty
// for a create-if-missing entry (any copy is then outside it).
Body2Outcome DecodeBody2(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                         uint8_t* out);

// The x86 branch transform (E8 call / E9 jump: relative target <-> absolute target).
// Applying Encode then Decode over the same bytes gives them back.
void X86BranchesEncode(uint8_t* data, uint64_t size);
void X86BranchesDecode(uint8_t* data, uint64_t size);

}  // namespace patch
