#include "core/producer/streams_body.h"

#include <libdeflate.h>
#include <zlib.h>

#include <memory>

#include "core/patch/format2.h"

namespace producer {
namespace {


void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct RawStreams {
  std::vector<uint8_t> s[patch::kStreamCount];
};

// Splits the difference bytes of all copies into changes (runs of taken values) and the
// gaps between where consecutive changes begin.
class DifferenceCoder {
 public:
  explicit DifferenceCoder(RawStreams& raw) : raw_(raw) {}
  void Add(uint8_t d) {
    if (d == 0) {
      ++pending_zeros_;
      return;
    }
    if (pending_zeros_ > 0) {
      if (!taken_.empty() || zeros_ > 0) EmitChange();
      zeros_ = pending_zeros_;
      pending_zeros_ = 0;
    }
    taken_.push_back(d);
  }
  void Finish() {
    if (!taken_.empty() || zeros_ > 0) EmitChange();
    if (pending_zeros_ > 0) {
      zeros_ = pending_zeros_;
      pending_zeros_ = 0;
      EmitChange();
    }
  }

 private:
  void EmitChange() {
    const uint32_t takes = static_cast<uint32_t>(taken_.size());
    PutVarint(raw_.s[patch::kStreamGaps], previous_takes_ + zeros_);
    std::vector<uint8_t>& changes = raw_.s[patch::kStreamChanges];
    PutVarint(changes, takes);
    changes.insert(changes.end(), taken_.begin(), taken_.end());
    previous_takes_ = takes;
    zeros_ = 0;
    taken_.clear();
  }
  RawStreams& raw_;
  uint32_t zeros_ = 0, pending_zeros_ = 0, previous_takes_ = 0;
  std::vector<uint8_t> taken_;
};

std::vector<uint8_t> DeflateWithZlib(std::span<const uint8_t> data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK) {
    throw EntryError("zlib could not compress a stream");
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> DeflateWithLibdeflate(std::span<const uint8_t> data) {
  const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> c(
      libdeflate_alloc_compressor(12), &libdeflate_free_compressor);
  if (!c) throw EntryError("libdeflate could not start");
  std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c.get(), data.size()));
  const size_t n = libdeflate_zlib_compress(c.get(), data.data(), data.size(), out.data(), out.size());
  if (n == 0) throw EntryError("libdeflate could not compress a stream");
  out.resize(n);
  return out;
}


// The smaller of libdeflate at its highest level and zlib at level 9, both in the zlib
// format that the applier's inflate reads.
std::vector<uint8_t> DeflateSmallest(std::span<const uint8_t> data) {
  std::vector<uint8_t> a = DeflateWithLibdeflate(data);
  std::vector<uint8_t> b = DeflateWithZlib(data);
  return a.size() <= b.size() ? a : b;
}

}  // namespace

// 7-bit groups, the most significant first, the high bit on all but the last byte.
void PutVarint(std::vector<uint8_t>& out, uint32_t v) {
  int shift = 28;
  while (shift > 0 && (v >> shift) == 0) shift -= 7;
  for (; shift > 0; shift -= 7) out.push_back(static_cast<uint8_t>(((v >> shift) & 0x7F) | 0x80));
  out.push_back(static_cast<uint8_t>(v & 0x7F));
}

std::vector<uint8_t> EncodeStreamsBody(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                       std::span<const ApproxBlock> blocks, uint8_t transform, StreamsStats* stats,
                                       const uint8_t* predicted, std::span<const uint8_t> control_tail) {
  RawStreams raw;
  DifferenceCoder diff(raw);
  uint64_t pos = 0;
  uint32_t copy_end = 0;
  for (const ApproxBlock& b : blocks) {
    if (b.copy_length == 0 && b.new_length == 0) continue;
    if (pos + b.copy_length + b.new_length > new_data.size() ||
        (predicted == nullptr && b.copy_length > 0 && uint64_t{b.old_offset} + b.copy_length > old_data.size())) {
      throw EntryError("internal fault: a block reaches outside the old or new file");
    }
    PutVarint(raw.s[patch::kStreamControl], b.copy_length);
    if (b.copy_length > 0) {
      const uint32_t delta = b.old_offset - copy_end;  // modulo 2^32
      PutVarint(raw.s[patch::kStreamControl], (delta << 1) ^ (0u - (delta >> 31)));
      const uint8_t* base = predicted != nullptr ? predicted + pos : old_data.data() + b.old_offset;
      for (uint32_t i = 0; i < b.copy_length; ++i) diff.Add(static_cast<uint8_t>(new_data[pos + i] - base[i]));
      copy_end = b.old_offset + b.copy_length;
      pos += b.copy_length;
    }
    PutVarint(raw.s[patch::kStreamControl], b.new_length);
    const uint8_t* fresh = (predicted != nullptr ? predicted : new_data.data()) + pos;
    raw.s[patch::kStreamNew].insert(raw.s[patch::kStreamNew].end(), fresh, fresh + b.new_length);
    pos += b.new_length;
  }
  if (pos != new_data.size()) throw EntryError("internal fault: the blocks do not cover the whole new file");
  diff.Finish();
  raw.s[patch::kStreamControl].insert(raw.s[patch::kStreamControl].end(), control_tail.begin(), control_tail.end());

  std::vector<uint8_t> body;
  body.push_back(transform);
  std::vector<uint8_t> packed[patch::kStreamCount];
  for (int s = 0; s < patch::kStreamCount; ++s) {
    if (!raw.s[s].empty()) packed[s] = DeflateSmallest(raw.s[s]);
    Put32(body, static_cast<uint32_t>(raw.s[s].size()));
    Put32(body, static_cast<uint32_t>(packed[s].size()));
    if (stats) {
      stats->raw_sizes[s] = static_cast<uint32_t>(raw.s[s].size());
      stats->packed_sizes[s] = static_cast<uint32_t>(packed[s].size());
    }
  }
  for (const auto& p : packed) body.insert(body.end(), p.begin(), p.end());
  if (stats) {
    stats->transform = transform;
    stats->blocks = static_cast<uint32_t>(blocks.size());
  }
  return body;
}

}  // namespace producer
