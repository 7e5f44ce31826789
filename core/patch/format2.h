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
#include "core/patch/heap_block.h"

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

// Reads the head at `body_offset` and checks the sizes; inflates nothing. The program-aware
// body (3.00) has the same head; `format_version` says which leading bytes are valid.
Body2Outcome ReadBody2Layout(Image image, uint32_t body_offset, uint32_t new_size, Body2Layout* layout,
                             uint32_t format_version = kStreamsFormatVersion);

// Whether the body could produce new_size bytes at all from `old_size` old bytes: each copy
// record takes at least 3 control bytes and copies at most the whole old contents. Checked
// before the output is allocated, so a small body cannot claim gigabytes.
bool Body2CanProduce(const Body2Layout& layout, uint32_t new_size, uint64_t old_size);

// Reads numbers of at most 32 bits from one decoded stream: 7-bit groups, the most
// significant first, the high bit set on every byte but the last (so the first byte of
// a number, which deflate sees most varied, comes first and small numbers stay one byte).
class StreamCursor {
 public:
  StreamCursor(const uint8_t* data, uint64_t size) : p_(data), end_(data + size) {}
  bool Varint(uint32_t* value) {
    uint32_t v = 0;
    for (int i = 0; i < 5; ++i) {
      if (p_ == end_) return false;
      const uint8_t b = *p_++;
      if (v > (0xFFFFFFFFu >> 7)) return false;  // more than 32 bits
      v = (v << 7) | (b & 0x7Fu);
      if ((b & 0x80) == 0) {
        *value = v;
        return true;
      }
    }
    return false;
  }
  const uint8_t* Take(uint32_t n) {
    if (static_cast<uint64_t>(end_ - p_) < n) return nullptr;
    const uint8_t* at = p_;
    p_ += n;
    return at;
  }
  bool AtEnd() const { return p_ == end_; }
  std::span<const uint8_t> Rest() const { return {p_, static_cast<size_t>(end_ - p_)}; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// One copy record of a streams body: `length` bytes of the output from `to` on come from
// the old contents (as the body sees them) from `from` on.
struct CopySpan {
  uint32_t from, to, length;
};
// Most copies a control stream of `control_raw` bytes can give: every record takes 3 bytes
// at least, and the last copy is run when 2 of them are read (a body cut after it is
// refused only then).
constexpr uint64_t MostCopies(uint32_t control_raw) { return (uint64_t{control_raw} + 1) / 3; }

// What the program-aware body asks of a run of the streams besides the output.
struct StreamsRun {
  // Room for MostCopies: every copy record of a length above 0, in order, and their count.
  CopySpan* copies = nullptr;
  uint32_t copy_count = 0;
  // A copy may also lie wholly beyond the old contents (below 2^32): it reads zeros, and
  // the caller adds what stands there (the synthesized table).
  bool beyond_old = false;
  // The bytes of the control stream after the records are the caller's, copied here,
  // instead of trailing data.
  HeapBlock* control_rest = nullptr;
};

// Inflates the streams of a body whose head `layout` describes and runs its records over
// `old` into `out` (new_size bytes).
Body2Outcome RunStreams(Image image, const Body2Layout& layout, uint32_t new_size, std::span<const uint8_t> old,
                        uint8_t* out, StreamsRun* run = nullptr);

// Decodes the whole body into `out`, which holds new_size bytes. `old_contents` is empty
// for a create-if-missing entry (any copy is then outside it).
Body2Outcome DecodeBody2(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                         uint8_t* out);

// The x86 branch transform (E8 call / E9 jump: relative target <-> absolute target).
// Applying Encode then Decode over the same bytes gives them back.
// `base` is where data[0] stands in the file: the positions the values are counted from.
void X86BranchesEncode(uint8_t* data, uint64_t size, uint64_t base = 0);
void X86BranchesDecode(uint8_t* data, uint64_t size, uint64_t base = 0);

}  // namespace patch
