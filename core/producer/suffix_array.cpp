#include "core/producer/suffix_array.h"

#include <divsufsort.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "core/producer/common_prefix.h"

namespace producer {
namespace {

constexpr uint32_t kUnbounded = UINT32_MAX;

LargeArray<int32_t> SortSuffixes(std::span<const uint8_t> text) {
  if (text.size() > kMaxSuffixSorted) throw std::length_error("the data is too large for suffix sorting");
  LargeArray<int32_t> order(text.size());
  if (!text.empty() && divsufsort(text.data(), order.data(), static_cast<saidx_t>(text.size())) != 0) {
    throw std::runtime_error("suffix sorting failed");
  }
  return order;
}

// Runs fn(begin, end) over `threads` contiguous parts of [0, n) and waits for all.
template <typename Fn>
void InParts(uint64_t n, unsigned threads, const Fn& fn) {
  threads = std::max(1u, threads);
  if (threads == 1 || n < (uint64_t{1} << 16)) {
    fn(uint64_t{0}, n);
    return;
  }
  std::vector<std::jthread> workers;
  for (unsigned t = 1; t < threads; ++t) {
    workers.emplace_back([&fn, n, threads, t] { fn(n * t / threads, n * (t + 1) / threads); });
  }
  fn(uint64_t{0}, n / threads);
}

// Longest common prefix of every suffix with the suffix ranked just before it, indexed by
// text position (Kärkkäinen, Manzini and Puglisi's Φ method): `phi` holds each suffix's
// predecessor in sorted order and is overwritten with the lengths. A part that starts
// cold recomputes at most one long match, so the parts run side by side.
void PermutedLcp(std::span<const uint8_t> text, std::span<const int32_t> order, std::span<int32_t> phi,
                 unsigned threads) {
  const uint64_t n = text.size();
  phi[order[0]] = -1;
  for (uint64_t rank = 1; rank < n; ++rank) phi[order[rank]] = order[rank - 1];
  InParts(n, threads, [&](uint64_t begin, uint64_t end) {
    uint32_t h = 0;
    for (uint64_t i = begin; i < end; ++i) {
      const int32_t j = phi[i];
      if (j < 0) {
        phi[i] = 0;
        h = 0;
        continue;
      }
      const uint64_t limit = n - std::max<uint64_t>(i, static_cast<uint64_t>(j));
      h += CommonPrefix(text.data() + i + h, text.data() + j + h, static_cast<uint32_t>(limit - h));
      phi[i] = static_cast<int32_t>(h);
      if (h > 0) --h;
    }
  });
}

}  // namespace

SuffixArray::SuffixArray(std::span<const uint8_t> text, bool with_ranks)
    : text_(text), order_(SortSuffixes(text)) {
  if (with_ranks) {
    rank_ = LargeArray<uint32_t>(text.size());
    for (size_t r = 0; r < text.size(); ++r) rank_[order_[r]] = static_cast<uint32_t>(r);
  }
  // Counted from the text rather than read from the array: one sequential pass. A suffix
  // shorter than a key ranks just before the keys that begin with its bytes.
  bucket_.assign((size_t{1} << (8 * kKeyBytes)) + 1, 0);
  const size_t n = text.size();
  for (size_t i = 0; i + kKeyBytes <= n; ++i) ++bucket_[Key(text.data() + i) + 1];
  for (size_t k = 1; k < bucket_.size(); ++k) bucket_[k] += bucket_[k - 1];
  // The last byte alone sorts before every key that begins with it.
  if (n > 0) {
    for (size_t k = size_t{text[n - 1]} << 8; k < bucket_.size(); ++k) ++bucket_[k];
  }
}

SuffixArray::Range SuffixArray::EqualRange(std::span<const uint8_t> prefix) const {
  const uint8_t* base = text_.data();
  const uint64_t n = text_.size();
  // Compares the suffix at `pos` with `prefix`, only as far as the prefix reaches.
  const auto compare = [&](int32_t pos) {
    const uint64_t available = n - static_cast<uint64_t>(pos);
    const size_t k = static_cast<size_t>(std::min<uint64_t>(available, prefix.size()));
    const int c = k ? std::memcmp(base + pos, prefix.data(), k) : 0;
    if (c != 0) return c;
    return available < prefix.size() ? -1 : 0;
  };
  const std::span<const int32_t> order = order_.span();
  const auto first = std::partition_point(order.begin(), order.end(), [&](int32_t p) { return compare(p) < 0; });
  const auto last = std::partition_point(first, order.end(), [&](int32_t p) { return compare(p) == 0; });
  return {static_cast<uint32_t>(first - order.begin()), static_cast<uint32_t>(last - order.begin())};
}

Match SuffixArray::LongestMatch(std::span<const uint8_t> query) const {
  const uint64_t n = text_.size();
  if (n < kKeyBytes || query.size() < kKeyBytes) return {};
  const uint32_t key = Key(query.data());
  if (bucket_[key] == bucket_[key + 1]) return {};
  // The bounds start just outside the bucket, where they stand for its shared key bytes.
  const int64_t first = bucket_[key], last = bucket_[key + 1];
  return Narrow(query, first, last, first - 1, last, kKeyBytes, kKeyBytes);
}

Match SuffixArray::LongestMatchNear(std::span<const uint8_t> query, uint32_t rank) const {
  const int64_t n = static_cast<int64_t>(text_.size());
  if (n == 0 || query.empty()) return {};
  const uint32_t q = static_cast<uint32_t>(std::min<uint64_t>(query.size(), UINT32_MAX));
  // Whether the suffix ranked r sorts before the query, and their common prefix.
  uint32_t common = 0;
  const auto below = [&](int64_t r) {
    const uint32_t pos = static_cast<uint32_t>(order_[r]);
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(text_.size() - pos, q));
    common = CommonPrefix(text_.data() + pos, query.data(), limit);
    return common < q && (common == text_.size() - pos || text_[pos + common] < query[common]);
  };
  // Gallop away from `rank` until the query's place is enclosed, then narrow it down.
  int64_t lo = -1, hi = n;
  uint32_t lo_common = 0, hi_common = 0;
  if (below(rank)) {
    lo = rank, lo_common = common;
    for (int64_t step = 1; lo + step < n; step *= 2) {
      if (common == q) break;
      if (!below(lo + step)) {
        hi = lo + step, hi_common = common;
        break;
      }
      lo += step, lo_common = common;
    }
  } else {
    hi = rank, hi_common = common;
    for (int64_t step = 1; hi - step >= 0; step *= 2) {
      if (common == q) break;
      if (below(hi - step)) {
        lo = hi - step, lo_common = common;
        break;
      }
      hi -= step, hi_common = common;
    }
  }
  if (lo_common == q) return {static_cast<uint32_t>(order_[lo]), q};
  if (hi_common == q) return {static_cast<uint32_t>(order_[hi]), q};
  return Narrow(query, 0, n, lo, hi, lo_common, hi_common);
}

// Binary search between the exclusive bounds lo and hi for where the query would be
// ranked, among ranks [first, last). Every suffix between the two bounds shares at least
// the shorter of the bounds' common prefixes with the query, so comparisons start there
// (Manber and Myers).
Match SuffixArray::Narrow(std::span<const uint8_t> query, int64_t first, int64_t last, int64_t lo, int64_t hi,
                          uint32_t lo_common, uint32_t hi_common) const {
  const uint64_t n = text_.size();
  const uint32_t q = static_cast<uint32_t>(std::min<uint64_t>(query.size(), UINT32_MAX));
  while (hi - lo > 1) {
    const int64_t mid = lo + (hi - lo) / 2;
    const uint32_t pos = static_cast<uint32_t>(order_[mid]);
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(n - pos, q));
    const uint32_t skip = std::min(lo_common, hi_common);
    const uint32_t common = skip + CommonPrefix(text_.data() + pos + skip, query.data() + skip, limit - skip);
    if (common == q) return {pos, q};
    if (common == n - pos || text_[pos + common] < query[common]) {
      lo = mid;
      lo_common = common;
    } else {
      hi = mid;
      hi_common = common;
    }
  }
  // The longest common prefix is with one of the two neighbours of that rank.
  if (lo >= first && (hi == last || lo_common >= hi_common)) return {static_cast<uint32_t>(order_[lo]), lo_common};
  return {static_cast<uint32_t>(order_[hi]), hi_common};
}

std::vector<Match> LongestMatches(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                  unsigned threads) {
  const uint64_t new_size = new_data.size();
  const uint64_t total = new_size + old_data.size();
  if (total > kMaxSuffixSorted) throw std::length_error("the old and new files together are too large for suffix sorting");
  std::vector<Match> best(new_size);
  if (old_data.empty() || new_data.empty()) return best;

  // NEW first: a suffix of OLD then ends where OLD ends, and a suffix of NEW that runs on
  // into OLD only needs its length cut at NEW's end, which does not depend on the partner.
  LargeArray<uint8_t> text(total);
  std::memcpy(text.data(), new_data.data(), new_size);
  std::memcpy(text.data() + new_size, old_data.data(), old_data.size());
  const LargeArray<int32_t> order = SortSuffixes(text.span());
  LargeArray<int32_t> lcp(total);
  PermutedLcp(text.span(), order.span(), lcp.span(), threads);
  text = {};

  // For a NEW suffix the longest match in OLD is with the nearest OLD suffix above or below
  // it in sorted order: the common prefix with a farther one is never longer. The common
  // prefix of two ranks is the least adjacent one between them.
  const auto is_old = [new_size](int32_t pos) { return static_cast<uint64_t>(pos) >= new_size; };
  const auto adjacent = [&](uint64_t rank) { return static_cast<uint32_t>(lcp[order[rank]]); };
  const auto offer = [&](int32_t new_pos, int32_t old_pos, uint32_t common) {
    const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(common, new_size - new_pos));
    Match& slot = best[new_pos];
    if (length > slot.length) slot = {static_cast<uint32_t>(old_pos - new_size), length};
  };

  // Downwards in rank order: the nearest OLD suffix ranked before.
  InParts(total, threads, [&](uint64_t begin, uint64_t end) {
    int32_t last_old = -1;
    uint32_t common = kUnbounded;
    for (uint64_t r = begin; r-- > 0;) {
      if (is_old(order[r])) {
        last_old = order[r];
        break;
      }
      common = std::min(common, adjacent(r));
    }
    for (uint64_t r = begin; r < end; ++r) {
      const int32_t pos = order[r];
      if (last_old >= 0) common = std::min(common, adjacent(r));
      if (is_old(pos)) {
        last_old = pos;
        common = kUnbounded;
      } else if (last_old >= 0) {
        offer(pos, last_old, common);
      }
    }
  });
  // Upwards: the nearest OLD suffix ranked after.
  InParts(total, threads, [&](uint64_t begin, uint64_t end) {
    int32_t next_old = -1;
    uint32_t common = kUnbounded;
    for (uint64_t r = end; r < total; ++r) {
      common = std::min(common, adjacent(r));
      if (is_old(order[r])) {
        next_old = order[r];
        break;
      }
    }
    for (uint64_t r = end; r-- > begin;) {
      const int32_t pos = order[r];
      if (is_old(pos)) {
        next_old = pos;
        common = adjacent(r);
      } else {
        if (next_old >= 0) offer(pos, next_old, common);
        common = std::min(common, adjacent(r));
      }
    }
  });
  return best;
}

}  // namespace producer
