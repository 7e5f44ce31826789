#pragma once
// Suffix sorting for the matchers, built by libdivsufsort: one file's suffix array for
// searching it with any query, and the longest match in OLD at every position of NEW.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "core/producer/large_array.h"

namespace producer {

// libdivsufsort indexes with 32-bit signed integers.
constexpr uint64_t kMaxSuffixSorted = 0x7FFFFFFF;

// `length` bytes of OLD from `offset` on equal the bytes searched for; length 0: none.
struct Match {
  uint32_t offset = 0;
  uint32_t length = 0;

  friend bool operator==(const Match&, const Match&) = default;
};

// The sorted starts of every suffix of one text. The text is not copied: it must outlive
// the array.
class SuffixArray {
 public:
  // Throws std::length_error above kMaxSuffixSorted bytes. `with_ranks` also keeps every
  // position's rank (4 bytes per byte more) for RankOf and LongestMatchNear.
  explicit SuffixArray(std::span<const uint8_t> text, bool with_ranks = false);

  // The longest prefix of `query` that occurs in the text, and one place where it does.
  // O(log n) steps, each comparing up to the query's length: callers bound the query in
  // repetitive data. Matches shorter than two bytes are not reported.
  Match LongestMatch(std::span<const uint8_t> query) const;

  // The same, searching outwards from `rank` (0 <= rank < size): a few steps when the
  // query shares much with the suffix ranked there, as when it goes on from a match
  // found just before. Reports matches of any length.
  Match LongestMatchNear(std::span<const uint8_t> query, uint32_t rank) const;
  // Rank of the suffix that starts at `pos` (needs `with_ranks`).
  uint32_t RankOf(uint32_t pos) const { return rank_[pos]; }

  // Ranks [first, last) whose suffixes begin with all of `prefix`, in suffix order.
  struct Range {
    uint32_t first = 0, last = 0;
  };
  Range EqualRange(std::span<const uint8_t> prefix) const;

  // Suffix starts in sorted order (rank -> position).
  std::span<const int32_t> order() const { return order_.span(); }
  std::span<const uint8_t> text() const { return text_; }

 private:
  std::span<const uint8_t> text_;
  LargeArray<int32_t> order_;
  LargeArray<uint32_t> rank_;
  // A bucket key: the first two bytes.
  static constexpr uint32_t kKeyBytes = 2;
  static uint32_t Key(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
  Match Narrow(std::span<const uint8_t> query, int64_t first, int64_t last, int64_t lo, int64_t hi,
               uint32_t lo_common, uint32_t hi_common) const;

  // First rank of the suffixes that begin with each key, and one past the last: a search
  // starts inside its bucket instead of at the whole array.
  std::vector<uint32_t> bucket_;
};

// The longest match in OLD of NEW[pos..] for every pos: exact, in time linear in the two
// sizes after one suffix sort of both files together. Memory: about 9 bytes per byte of
// OLD and NEW together plus 8 per byte of NEW. `threads` (1 or more) share the linear
// passes. Throws std::length_error when OLD and NEW together exceed kMaxSuffixSorted.
std::vector<Match> LongestMatches(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                  unsigned threads = 1);

}  // namespace producer
