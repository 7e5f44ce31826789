// The suffix-array matcher: candidate matches per position, then the shortest parse.
#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <thread>

#include "core/patch/format.h"
#include "core/producer/common_prefix.h"
#include "core/producer/large_array.h"
#include "core/producer/matcher.h"
#include "core/producer/recent_deltas.h"
#include "core/producer/shortest_parse.h"
#include "core/producer/suffix_array.h"

namespace producer {
namespace {

// Longer matches are of no more use to the parse than this: one record's worth.
constexpr uint32_t kLongestUseful = patch::kMaxRecordLength;
// A match at a recent offset this long is taken without searching for a longer one.
constexpr uint32_t kRecentGoodEnough = 32;
// Shorter matches are not worth a second look at where else they occur.
constexpr uint32_t kTieCheckFrom = 8;
// How far a search of the suffix array looks; longer matches are extended afterwards.
constexpr uint32_t kSearchDepth = 4096;
// The same for a search going on from a copy, where every step is compared in full.
constexpr uint32_t kNearDepth = 64;
// Among the places in OLD that match as far forwards as `found`, the one that also
// matches furthest backwards: there the copy can start earlier and take in bytes that a
// copy ending before them left over. Checked only when the places are few.
Match PreferLongerBefore(const SuffixArray& index, std::span<const uint8_t> new_data, uint64_t pos, uint64_t begin,
                         Match found) {
  constexpr uint32_t kMaxPlaces = 16, kMaxBack = 64;
  const std::span<const uint8_t> old_data = index.text();
  const uint32_t prefix = std::min(found.length, kSearchDepth);
  const auto range = index.EqualRange(new_data.subspan(pos, prefix));
  if (range.last - range.first < 2 || range.last - range.first > kMaxPlaces) return found;
  const auto back_length = [&](uint32_t offset) {
    uint32_t k = 0;
    while (k < kMaxBack && k < offset && k < pos - begin && old_data[offset - k - 1] == new_data[pos - k - 1]) ++k;
    return k;
  };
  uint32_t best_back = back_length(found.offset);
  for (uint32_t r = range.first; r < range.last; ++r) {
    const uint32_t offset = static_cast<uint32_t>(index.order()[r]);
    if (offset == found.offset) continue;
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(found.length, old_data.size() - offset));
    if (limit < found.length ||
        prefix + CommonPrefix(old_data.data() + offset + prefix, new_data.data() + pos + prefix, limit - prefix) <
            found.length) {
      continue;
    }
    const uint32_t back = back_length(offset);
    if (back > best_back) {
      best_back = back;
      found.offset = offset;
    }
  }
  return found;
}

// A match for every position of new[begin, end): the copy that reaches the position
// carried on; near its end or after it, the recent offsets and the same place, then a
// search of the suffix array. A fresh match is also carried backwards over the bytes
// before it that it matches too: that is where a copy that repairs a changed address
// starts, without searching at every position before a copy's end.
void FindMatches(const SuffixArray& index, std::span<const uint8_t> new_data, uint64_t begin, uint64_t end,
                 uint32_t search_below, std::span<Match> out, const std::function<void(uint64_t)>& searched) {
  constexpr uint64_t kReportEvery = uint64_t{1} << 20;
  const std::span<const uint8_t> old_data = index.text();
  const uint64_t old_size = old_data.size(), new_size = new_data.size();
  RecentDeltas deltas;
  Match current;
  for (uint64_t pos = begin; pos < end; ++pos) {
    current = current.length > 1 ? Match{current.offset + 1, current.length - 1} : Match{};
    if (current.length < search_below) {
      const uint32_t room = static_cast<uint32_t>(std::min<uint64_t>(new_size - pos, kLongestUseful));
      Match fresh;
      const auto consider = [&](int64_t offset) {
        if (offset < 0 || static_cast<uint64_t>(offset) >= old_size) return;
        const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(room, old_size - offset));
        const uint32_t length = CommonPrefix(old_data.data() + offset, new_data.data() + pos, limit);
        if (length > fresh.length) fresh = {static_cast<uint32_t>(offset), length};
      };
      for (const int64_t delta : deltas.all()) consider(static_cast<int64_t>(pos) + delta);
      consider(static_cast<int64_t>(pos));
      if (fresh.length < kRecentGoodEnough) {
        // A search compares every step's suffix up to the query's length, so in repetitive
        // data long queries cost much; any match of kSearchDepth bytes is extended in place.
        // Going on from a copy, the search starts at that copy's place in the sorted order,
        // which is next to where the answer lies.
        const uint32_t depth = std::min(room, current.length > 0 ? kNearDepth : kSearchDepth);
        const auto query = new_data.subspan(pos, depth);
        Match found = current.length > 0 ? index.LongestMatchNear(query, index.RankOf(current.offset))
                                         : index.LongestMatch(query);
        if (found.length == depth) {
          const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(room, old_size - found.offset));
          found.length += CommonPrefix(old_data.data() + found.offset + depth, new_data.data() + pos + depth,
                                       limit - depth);
        }
        if (current.length == 0 && found.length >= kTieCheckFrom) {
          found = PreferLongerBefore(index, new_data, pos, begin, found);
        }
        if (found.length > fresh.length) {
          fresh = found;
          deltas.Remember(int64_t{found.offset} - static_cast<int64_t>(pos));
        }
      }
      if (fresh.length > current.length) {
        current = fresh;
        for (uint32_t back = 1; back <= pos - begin && back <= fresh.offset; ++back) {
          const uint32_t length = std::min(fresh.length + back, kLongestUseful);
          Match& earlier = out[pos - back];
          if (new_data[pos - back] != old_data[fresh.offset - back] || earlier.length >= length) break;
          earlier = {fresh.offset - back, length};
        }
      }
    }
    out[pos] = current;
    if ((pos - begin + 1) % kReportEvery == 0) searched(kReportEvery);
  }
  searched((end - begin) % kReportEvery);
}

class SuffixMatcher final : public Matcher {
 public:
  explicit SuffixMatcher(const SuffixMatcherOptions& options) : options_(options) {
    if (options_.threads == 0) options_.threads = std::max(1u, std::thread::hardware_concurrency());
  }

  std::vector<Op> Match(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data) override {
    if (old_data.size() > kMaxSuffixSorted || new_data.size() > kMaxSuffixSorted) {
      return MakeHashMatcher()->Match(old_data, new_data);
    }
    // Shares of the work, as measured on program files: sorting, searching, parsing.
    constexpr double kSorted = 0.45, kSearched = 0.85;
    const auto report = [this](double fraction) {
      if (options_.progress) options_.progress(fraction);
    };
    report(0);
    LargeArray<producer::Match> matches(new_data.size());
    {
      const SuffixArray index(old_data, /*with_ranks=*/true);
      report(kSorted);
      const uint64_t n = new_data.size();
      const unsigned threads = n < (uint64_t{1} << 16) ? 1 : options_.threads;
      std::atomic<uint64_t> done{0};
      const auto searched = [&](uint64_t positions) {
        const uint64_t total = done.fetch_add(positions) + positions;
        report(kSorted + (kSearched - kSorted) * static_cast<double>(total) / static_cast<double>(n));
      };
      std::vector<std::jthread> workers;
      for (unsigned t = 1; t < threads; ++t) {
        workers.emplace_back([&, t] {
          FindMatches(index, new_data, n * t / threads, n * (t + 1) / threads, options_.search_below, matches.span(),
                      searched);
        });
      }
      FindMatches(index, new_data, 0, n / threads, options_.search_below, matches.span(), searched);
    }
    report(kSearched);
    std::vector<Op> ops = ShortestParse(matches.span());
    report(1);
    return ops;
  }

 private:
  SuffixMatcherOptions options_;
};

}  // namespace

std::unique_ptr<Matcher> MakeSuffixMatcher(const SuffixMatcherOptions& options) {
  return std::make_unique<SuffixMatcher>(options);
}

}  // namespace producer
