#include "core/patch/format2.h"

#include <zlib.h>

#include <cstring>

#include "core/patch/heap_block.h"
#include "core/patch/little_endian.h"
#include "core/patch/pe_image.h"

namespace patch {
namespace {

bool Inflate(const uint8_t* packed, uint32_t packed_size, uint8_t* out, uint32_t raw_size) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(packed);
  z.avail_in = packed_size;
  z.next_out = out;
  z.avail_out = raw_size;
  const int result = inflate(&z, Z_FINISH);
  const bool exact = result == Z_STREAM_END && z.avail_in == 0 && z.avail_out == 0;
  inflateEnd(&z);
  return exact;
}

// The differences of all copies, consumed in order across copies: each change is a gap
// from the gaps stream (counted from where the previous change began, so a table of
// pointers gives the same gap whether one or two bytes of a pointer changed), then from
// the changes stream its count of taken values and the values themselves.
class Differences {
 public:
  Differences(StreamCursor gaps, StreamCursor changes) : gaps_(gaps), changes_(changes) {}

  // out[i] = from[i] + difference, for `n` bytes; a null `from` reads zeros.
  Body2Outcome Apply(const uint8_t* from, uint8_t* out, uint32_t n) {
    while (n > 0) {
      if (zeros_ == 0 && takes_ == 0) {
        uint32_t gap = 0;
        if (!gaps_.Varint(&gap) || !changes_.Varint(&takes_)) return Body2Outcome::DifferencesRunOut;
        if (gap < previous_takes_) return Body2Outcome::ControlBroken;
        zeros_ = gap - previous_takes_;
        previous_takes_ = takes_;
        if (zeros_ == 0 && takes_ == 0) return Body2Outcome::ControlBroken;
      }
      if (zeros_ > 0) {
        const uint32_t k = zeros_ < n ? zeros_ : n;
        if (from != nullptr) std::memcpy(out, from, k), from += k;
        else std::memset(out, 0, k);
        zeros_ -= k, n -= k, out += k;
        continue;
      }
      const uint32_t k = takes_ < n ? takes_ : n;
      const uint8_t* add = changes_.Take(k);
      if (add == nullptr) return Body2Outcome::DifferencesRunOut;
      if (from != nullptr) {
        for (uint32_t i = 0; i < k; ++i) out[i] = static_cast<uint8_t>(from[i] + add[i]);
        from += k;
      } else {
        std::memcpy(out, add, k);
      }
      takes_ -= k, n -= k, out += k;
    }
    return Body2Outcome::Ok;
  }
  bool Exhausted() const { return zeros_ == 0 && takes_ == 0 && gaps_.AtEnd() && changes_.AtEnd(); }

 private:
  StreamCursor gaps_, changes_;
  uint32_t zeros_ = 0, takes_ = 0, previous_takes_ = 0;
};

Body2Outcome RunControls(uint32_t new_size, std::span<const uint8_t> old, StreamCursor control, Differences& diff,
                         StreamCursor fresh, uint8_t* out, StreamsRun& run) {
  uint32_t pos = 0;
  uint32_t copy_end = 0;
  while (pos < new_size) {
    uint32_t n = 0, m = 0;
    if (!control.Varint(&n)) return Body2Outcome::ControlBroken;
    if (n > new_size - pos) return Body2Outcome::ControlBroken;
    if (n > 0) {
      uint32_t zigzag = 0;
      if (!control.Varint(&zigzag)) return Body2Outcome::ControlBroken;
      const uint32_t delta = (zigzag >> 1) ^ (0u - (zigzag & 1));
      const uint32_t from = copy_end + delta;  // modulo 2^32
      const bool inside = uint64_t{from} + n <= old.size();
      if (!inside && (!run.beyond_old || from < old.size() || uint64_t{from} + n > (uint64_t{1} << 32))) {
        return Body2Outcome::CopyOutsideOld;
      }
      const Body2Outcome applied = diff.Apply(inside ? old.data() + from : nullptr, out + pos, n);
      if (applied != Body2Outcome::Ok) return applied;
      if (run.copies != nullptr) run.copies[run.copy_count++] = {from, pos, n};
      pos += n;
      copy_end = from + n;
    }
    if (!control.Varint(&m)) return Body2Outcome::ControlBroken;
    if (n == 0 && m == 0) return Body2Outcome::ControlBroken;
    if (m > new_size - pos) return Body2Outcome::ControlBroken;
    if (m > 0) {
      const uint8_t* bytes = fresh.Take(m);
      if (bytes == nullptr) return Body2Outcome::NewBytesRunOut;
      std::memcpy(out + pos, bytes, m);
      pos += m;
    }
  }
  if (!diff.Exhausted() || !fresh.AtEnd()) return Body2Outcome::TrailingData;
  if (run.control_rest == nullptr) return control.AtEnd() ? Body2Outcome::Ok : Body2Outcome::TrailingData;
  const std::span<const uint8_t> rest = control.Rest();
  if (!run.control_rest->Allocate(rest.size())) return Body2Outcome::NoMemory;
  if (!rest.empty()) std::memcpy(run.control_rest->data(), rest.data(), rest.size());
  return Body2Outcome::Ok;
}

// Conversion of the four bytes after an E8/E9 opcode. Only targets within 16 MiB either
// way (top byte 00 or FF) are converted, and the result is kept in that same range, so
// the decoder can tell converted values by the same test.
template <bool kEncode>
void X86Branches(uint8_t* data, uint64_t size, uint64_t base) {
  if (size < 5) return;
  for (uint64_t i = 0; i + 5 <= size;) {
    if ((data[i] & 0xFE) != 0xE8) {
      ++i;
      continue;
    }
    const uint8_t top = data[i + 4];
    if (top == 0x00 || top == 0xFF) {
      const uint32_t here = static_cast<uint32_t>(base + i + 5);
      uint32_t v = Read32(data + i + 1);
      v = kEncode ? v + here : v - here;
      v = (v & 0x01000000u) ? (v | 0xFF000000u) : (v & 0x00FFFFFFu);  // sign-extend bit 24
      Write32(data + i + 1, v);
    }
    i += 5;
  }
}

}  // namespace

void X86BranchesEncode(uint8_t* data, uint64_t size, uint64_t base) { X86Branches<true>(data, size, base); }
void X86BranchesDecode(uint8_t* data, uint64_t size, uint64_t base) { X86Branches<false>(data, size, base); }

Body2Outcome RunStreams(Image image, const Body2Layout& layout, uint32_t new_size, std::span<const uint8_t> old,
                        uint8_t* out, StreamsRun* run) {
  HeapBlock raw[kStreamCount];
  for (int s = 0; s < kStreamCount; ++s) {
    const PackedStream& p = layout.streams[s];
    if (p.raw_size == 0) continue;
    if (!raw[s].Allocate(p.raw_size)) return Body2Outcome::NoMemory;
    if (!Inflate(image.data() + p.offset, p.packed_size, raw[s].data(), p.raw_size)) {
      return Body2Outcome::StreamCorrupt;
    }
  }
  auto cursor = [&](int s) { return StreamCursor(raw[s].data(), layout.streams[s].raw_size); };
  Differences diff(cursor(kStreamGaps), cursor(kStreamChanges));
  StreamsRun plain;
  StreamsRun& asked = run != nullptr ? *run : plain;
  asked.copy_count = 0;
  return RunControls(new_size, old, cursor(kStreamControl), diff, cursor(kStreamNew), out, asked);
}

Body2Outcome DecodeBody2(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                         uint8_t* out) {
  Body2Layout layout;
  const Body2Outcome read = ReadBody2Layout(image, header.body_offset, header.new_size, &layout);
  if (read != Body2Outcome::Ok) return read;
  if (!Body2CanProduce(layout, header.new_size, old_contents.size())) return Body2Outcome::BadSizes;

  // Copies read the old contents as the transform saw them.
  std::span<const uint8_t> old = old_contents;
  HeapBlock transformed;
  if (layout.transform == kTransformX86Branches && !old_contents.empty()) {
    if (!transformed.Allocate(old_contents.size())) return Body2Outcome::NoMemory;
    std::memcpy(transformed.data(), old_contents.data(), old_contents.size());
    X86BranchesEncode(transformed.data(), transformed.size());
    old = std::span<const uint8_t>(transformed.data(), old_contents.size());
  }
  const Body2Outcome ran = RunStreams(image, layout, header.new_size, old, out);
  if (ran != Body2Outcome::Ok) return ran;
  if (layout.transform == kTransformX86Branches) X86BranchesDecode(out, header.new_size);
  return Body2Outcome::Ok;
}

}  // namespace patch
