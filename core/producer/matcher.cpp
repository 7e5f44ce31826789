#include "core/producer/matcher.h"

#include <algorithm>
#include <unordered_map>

#include "core/producer/common_prefix.h"
#include "core/producer/recent_deltas.h"

namespace producer {
namespace {

// Width of the hashed window: the shortest match the index can find by itself.
constexpr uint32_t kWindow = 8;
constexpr uint32_t kNone = UINT32_MAX;

// How many bytes from `p` on equal p[0] (at most `limit`, at least 1 when limit > 0).
uint32_t RunLength(const uint8_t* p, uint32_t limit) {
  if (limit == 0) return 0;
  const uint64_t run = p[0] * 0x0101010101010101ull;
  uint32_t n = 0;
  while (limit - n >= 8) {
    const uint64_t diff = Load64(p + n) ^ run;
    if (diff != 0) return n + EqualLeadingBytes(diff);
    n += 8;
  }
  while (n < limit && p[n] == p[0]) ++n;
  return n;
}

bool IsRunWindow(uint64_t window) { return window == (window & 0xFF) * 0x0101010101010101ull; }

class HashIndex {
 public:
  // Beyond `max_indexed` positions only every stride-th one is indexed; a match of
  // kWindow + stride - 1 bytes or more still contains an indexed position, and the
  // backward extension recovers its true start.
  HashIndex(std::span<const uint8_t> data, uint64_t max_indexed) {
    if (data.size() < kWindow) return;
    const uint64_t positions = data.size() - kWindow + 1;
    max_indexed = std::max<uint64_t>(max_indexed, 1);
    stride_ = static_cast<uint32_t>((positions + max_indexed - 1) / max_indexed);
    const uint64_t slots = (positions + stride_ - 1) / stride_;
    bits_ = 12;
    while (bits_ < 25 && (uint64_t{1} << bits_) < slots) ++bits_;
    head_.assign(size_t{1} << bits_, kNone);
    prev_.assign(slots, kNone);
    for (uint64_t slot = 0; slot < slots; ++slot) {
      const uint32_t pos = static_cast<uint32_t>(slot * stride_);
      // Inside a run of one byte value only the run's first position is indexed: the
      // run's other positions would fill the chains with copies of the same candidate.
      if (stride_ == 1 && pos > 0 && Load64(data.data() + pos) == Load64(data.data() + pos - 1)) continue;
      const uint32_t h = Hash(data.data() + pos);
      prev_[slot] = head_[h];
      head_[h] = static_cast<uint32_t>(slot);
    }
  }

  bool empty() const { return head_.empty(); }
  uint32_t Hash(const uint8_t* p) const {
    return static_cast<uint32_t>((Load64(p) * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
  }
  // Chain walking: slots, newest first; kNone ends the chain.
  uint32_t First(const uint8_t* window) const { return head_[Hash(window)]; }
  uint32_t Next(uint32_t slot) const { return prev_[slot]; }
  uint32_t Position(uint32_t slot) const { return slot * stride_; }

 private:
  uint32_t stride_ = 1;
  uint32_t bits_ = 12;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> prev_;
};

class OpList {
 public:
  void Literal(uint32_t new_offset, uint32_t length) {
    if (length == 0) return;
    if (!ops_.empty() && ops_.back().kind == Op::Kind::Literal &&
        ops_.back().offset + ops_.back().length == new_offset) {
      ops_.back().length += length;
      return;
    }
    ops_.push_back({Op::Kind::Literal, length, new_offset});
  }
  void Copy(uint32_t old_offset, uint32_t length) {
    if (length == 0) return;
    if (!ops_.empty() && ops_.back().kind == Op::Kind::Copy &&
        uint64_t{ops_.back().offset} + ops_.back().length == old_offset) {
      ops_.back().length += length;
      return;
    }
    ops_.push_back({Op::Kind::Copy, length, old_offset});
  }
  std::vector<Op> Take() { return std::move(ops_); }

 private:
  std::vector<Op> ops_;
};

class HashMatcher final : public Matcher {
 public:
  explicit HashMatcher(const HashMatcherOptions& options) : options_(options) {
    options_.min_copy = std::max<uint32_t>(options_.min_copy, 1);
    options_.max_chain = std::max<uint32_t>(options_.max_chain, 1);
  }

  std::vector<Op> Match(std::span<const uint8_t> old_data,
                        std::span<const uint8_t> new_data) override {
    const uint8_t* old_bytes = old_data.data();
    const uint8_t* new_bytes = new_data.data();
    const uint32_t old_size = static_cast<uint32_t>(old_data.size());
    const uint32_t new_size = static_cast<uint32_t>(new_data.size());
    HashIndex index(old_data, options_.max_indexed);
    OpList ops;
    RecentDeltas deltas;

    uint32_t literal_start = 0;
    uint32_t pos = 0;
    // The run of equal bytes in NEW that `pos` lies in, measured once per run.
    uint32_t run_end = 0;
    uint8_t run_value = 0;
    std::unordered_map<uint32_t, uint32_t> old_runs;  // run start in OLD -> its length
    while (pos < new_size && old_size > 0) {
      uint32_t best_length = 0;
      uint32_t best_offset = 0;
      const auto consider = [&](uint32_t offset, uint32_t known) {
        const uint32_t limit = std::min(old_size - offset, new_size - pos);
        const uint32_t length =
            known + CommonPrefix(old_bytes + offset + known, new_bytes + pos + known, limit - known);
        if (length > best_length) {
          best_length = length;
          best_offset = offset;
        }
      };

      // The same place as in NEW (programs rebuilt with local changes keep most offsets),
      // then the offsets of the latest copies.
      bool tried_same_place = false;
      for (const int64_t delta : deltas.all()) {
        const int64_t offset = int64_t{pos} + delta;
        tried_same_place |= delta == 0;
        if (offset >= 0 && offset < old_size) consider(static_cast<uint32_t>(offset), 0);
      }
      if (!tried_same_place && pos < old_size) consider(pos, 0);

      if (best_length < options_.good_enough && !index.empty() && new_size - pos >= kWindow) {
        const uint64_t window = Load64(new_bytes + pos);
        // In a run of one byte value every run of that value in OLD matches its start;
        // the one that continues like NEW does is found by aligning the runs' ends.
        uint32_t new_run = 0;
        if (IsRunWindow(window)) {
          if (pos >= run_end || new_bytes[pos] != run_value) {
            run_value = new_bytes[pos];
            run_end = pos + RunLength(new_bytes + pos, new_size - pos);
          }
          new_run = run_end - pos;
        }
        // The run itself says nothing about where it lies; what follows it does. Runs of
        // OLD that end just before the same bytes as NEW's run are the best candidates.
        if (new_run > 0 && run_end <= new_size - kWindow) {
          const uint64_t after = Load64(new_bytes + run_end);
          uint32_t chain = 0;
          for (uint32_t slot = index.First(new_bytes + run_end); slot != kNone && chain < options_.max_chain;
               slot = index.Next(slot), ++chain) {
            const uint32_t follow = index.Position(slot);
            if (follow < new_run || Load64(old_bytes + follow) != after) continue;
            const uint32_t start = follow - new_run;
            if (old_bytes[start] != run_value || RunLength(old_bytes + start, new_run) < new_run) continue;
            consider(start, new_run + kWindow);
            if (best_length >= options_.good_enough) break;
          }
        }
        uint32_t chain = 0;
        for (uint32_t slot = index.First(new_bytes + pos); slot != kNone && chain < options_.max_chain;
             slot = index.Next(slot), ++chain) {
          const uint32_t offset = index.Position(slot);
          if (Load64(old_bytes + offset) != window) continue;
          if (new_run == 0) {
            consider(offset, kWindow);
          } else {
            // Long runs of OLD are met again and again (every run in NEW of that value
            // asks for them): measure each once.
            auto [cached, fresh] = old_runs.try_emplace(offset, 0);
            if (fresh) cached->second = RunLength(old_bytes + offset, old_size - offset);
            const uint32_t old_run = cached->second;
            if (old_run > new_run) {
              consider(offset + (old_run - new_run), new_run);
            } else {
              consider(offset, old_run);
            }
          }
          if (best_length >= options_.good_enough) break;
        }
      }

      uint32_t back = 0;
      if (best_length > 0) {
        while (pos - back > literal_start && best_offset - back > 0 &&
               old_bytes[best_offset - back - 1] == new_bytes[pos - back - 1]) {
          ++back;
        }
      }
      if (best_length + back < options_.min_copy) {
        ++pos;
        continue;
      }
      // One look a few bytes ahead: when an edit ends a little later than this match
      // begins, the offset of the unchanged region usually resumes there and reaches
      // further. Taking this shorter match now would cost one more copy record than
      // leaving its first bytes as literals.
      if (best_length < options_.good_enough && LaterMatchReachesFurther(old_data, new_data, pos, pos + best_length,
                                                                         deltas.all())) {
        ++pos;
        continue;
      }

      ops.Literal(literal_start, pos - back - literal_start);
      ops.Copy(best_offset - back, best_length + back);
      deltas.Remember(int64_t{best_offset} - int64_t{pos});
      pos += best_length;
      literal_start = pos;
    }
    ops.Literal(literal_start, new_size - literal_start);
    return ops.Take();
  }

 private:
  // Whether, 1 to kLookahead bytes after `pos`, the offset of a recent copy (or the same
  // place) gives a match that ends at least a copy record's worth beyond `end`.
  static bool LaterMatchReachesFurther(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                       uint32_t pos, uint32_t end, std::span<const int64_t> deltas) {
    constexpr uint32_t kLookahead = 3;
    constexpr uint32_t kWorthIt = 8;
    const uint32_t old_size = static_cast<uint32_t>(old_data.size());
    const uint32_t new_size = static_cast<uint32_t>(new_data.size());
    for (uint32_t k = 1; k <= kLookahead && pos + k < new_size; ++k) {
      const uint32_t at = pos + k;
      for (size_t d = 0; d <= deltas.size(); ++d) {
        const int64_t offset = int64_t{at} + (d < deltas.size() ? deltas[d] : 0);
        if (offset < 0 || offset >= old_size) continue;
        const uint32_t limit = std::min(old_size - static_cast<uint32_t>(offset), new_size - at);
        const uint32_t length = CommonPrefix(old_data.data() + offset, new_data.data() + at, limit);
        if (uint64_t{at} + length >= uint64_t{end} + kWorthIt) return true;
      }
    }
    return false;
  }

  HashMatcherOptions options_;
};

}  // namespace

std::unique_ptr<Matcher> MakeHashMatcher(const HashMatcherOptions& options) {
  return std::make_unique<HashMatcher>(options);
}

uint64_t TotalLength(std::span<const Op> ops) {
  uint64_t total = 0;
  for (const Op& op : ops) total += op.length;
  return total;
}

}  // namespace producer
