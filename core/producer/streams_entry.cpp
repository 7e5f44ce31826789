#include "core/producer/streams_entry.h"

#include <libdeflate.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "core/patch/format2.h"
#include "core/producer/suffix_array.h"

namespace producer {
namespace {

// 7-bit groups, the most significant first, the high bit on all but the last byte.
void PutVarint(std::vector<uint8_t>& out, uint32_t v) {
  int shift = 28;
  while (shift > 0 && (v >> shift) == 0) shift -= 7;
  for (; shift > 0; shift -= 7) out.push_back(static_cast<uint8_t>(((v >> shift) & 0x7F) | 0x80));
  out.push_back(static_cast<uint8_t>(v & 0x7F));
}

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

bool LooksLikeX86Program(std::span<const uint8_t> data) {
  return data.size() >= 2 && data[0] == 'M' && data[1] == 'Z';
}

// The smaller of libdeflate at its highest level and zlib at level 9, both in the zlib
// format that the applier's inflate reads.
std::vector<uint8_t> DeflateSmallest(std::span<const uint8_t> data) {
  std::vector<uint8_t> a = DeflateWithLibdeflate(data);
  std::vector<uint8_t> b = DeflateWithZlib(data);
  return a.size() <= b.size() ? a : b;
}

// The body alone for given blocks over (already transformed) contents; `transform` is the
// leading byte to record.
std::vector<uint8_t> EncodeStreamsBody(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                       std::span<const ApproxBlock> blocks, uint8_t transform, StreamsStats* stats) {
  RawStreams raw;
  DifferenceCoder diff(raw);
  uint64_t pos = 0;
  uint32_t copy_end = 0;
  for (const ApproxBlock& b : blocks) {
    if (b.copy_length == 0 && b.new_length == 0) continue;
    if (pos + b.copy_length + b.new_length > new_data.size() ||
        (b.copy_length > 0 && uint64_t{b.old_offset} + b.copy_length > old_data.size())) {
      throw EntryError("internal fault: a block reaches outside the old or new file");
    }
    PutVarint(raw.s[patch::kStreamControl], b.copy_length);
    if (b.copy_length > 0) {
      const uint32_t delta = b.old_offset - copy_end;  // modulo 2^32
      PutVarint(raw.s[patch::kStreamControl], (delta << 1) ^ (0u - (delta >> 31)));
      for (uint32_t i = 0; i < b.copy_length; ++i) {
        diff.Add(static_cast<uint8_t>(new_data[pos + i] - old_data[b.old_offset + i]));
      }
      copy_end = b.old_offset + b.copy_length;
      pos += b.copy_length;
    }
    PutVarint(raw.s[patch::kStreamControl], b.new_length);
    raw.s[patch::kStreamNew].insert(raw.s[patch::kStreamNew].end(), new_data.begin() + pos,
                                    new_data.begin() + pos + b.new_length);
    pos += b.new_length;
  }
  if (pos != new_data.size()) throw EntryError("internal fault: the blocks do not cover the whole new file");
  diff.Finish();

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

}  // namespace

std::vector<uint8_t> MakeStreamsEntry(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                      const UpdateEntryText& text, const Stamp& stamp,
                                      const StreamsOptions& options, StreamsStats* stats) {
  std::vector<uint8_t> entry;
  AppendUpdateHeader(entry, patch::kStreamsFormatVersion / 100, patch::kStreamsFormatVersion % 100, old_data, new_data, text, stamp);

  const bool x86 = options.transform == StreamsOptions::Transform::X86Branches ||
                   (options.transform == StreamsOptions::Transform::Auto && LooksLikeX86Program(new_data));
  std::span<const uint8_t> old = old_data, nw = new_data;
  std::vector<uint8_t> old_t, new_t;
  if (x86) {
    old_t.assign(old_data.begin(), old_data.end());
    new_t.assign(new_data.begin(), new_data.end());
    patch::X86BranchesEncode(old_t.data(), old_t.size());
    patch::X86BranchesEncode(new_t.data(), new_t.size());
    old = old_t;
    nw = new_t;
  }
  const uint8_t transform = x86 ? patch::kTransformX86Branches : patch::kTransformNone;
  const SuffixArray index(old);
  const std::vector<uint32_t> margins =
      options.switch_margins.empty() ? std::vector<uint32_t>{ApproxOptions{}.switch_margin} : options.switch_margins;
  struct Candidate {
    std::vector<uint8_t> body;
    StreamsStats stats;
    std::exception_ptr error;
  };
  std::vector<Candidate> candidates(margins.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < margins.size();) {
      try {
        const std::vector<ApproxBlock> blocks = MatchApproximately(index, nw, ApproxOptions{margins[i]});
        Candidate& c = candidates[i];
        c.body = EncodeStreamsBody(old, nw, blocks, transform, &c.stats);
        c.stats.switch_margin = margins[i];
      } catch (...) {
        candidates[i].error = std::current_exception();
      }
    }
  };
  {
    std::optional<std::jthread> helper;
    if (margins.size() > 1 && std::thread::hardware_concurrency() > 1) {
      try {
        helper.emplace(work);
      } catch (const std::system_error&) {
        // No second thread to be had: this one tries every margin.
      }
    }
    work();
  }
  // The first of equal sizes, so that the choice never depends on which thread ran what.
  const Candidate* best = nullptr;
  for (const Candidate& c : candidates) {
    if (c.error) std::rethrow_exception(c.error);
    if (best == nullptr || c.body.size() < best->body.size()) best = &c;
  }
  entry.insert(entry.end(), best->body.begin(), best->body.end());
  StreamsStats counted = best->stats;
  counted.entry_size = entry.size();
  if (stats) *stats = counted;
  return entry;
}

}  // namespace producer
