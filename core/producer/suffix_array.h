#pragma once
// Suffix sorting for the matchers, built by libdivsufsort: one file's suffix array for
// searching it with any query, and the longest match in OLD at every position of NEW.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

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
  // Throws std::length_error above kMaxSuffixSorted bytes.
  explicit SuffixArray(std::span<const uint8_t> text);

  // The longest prefix of `query` that occurs in the text, and one place where it does.
  // O(log n + query length): callers bound the query for long inputs.
  Match LongestMatch(std::span<const uint8_t> query) const;

  // Ranks [first, last) whose suffixes begin with all of `prefix`, in suffix order.
  struct Range {
    uint32_t first = 0, last = 0;
  };
  Range EqualRange(std::span<const uint8_t> prefix) const;

  // Suffix starts in sorted order (rank -> position).
  std::span<const int32_t> order() const { return order_; }
  std::span<const uint8_t> text() const { return text_; }

 private:
  std::span<const uint8_t> text_;
  std::vector<int32_t> order_;
};

// The longest match in OLD of NEW[pos..] for every pos: exact, in time linear in the two
// sizes after one suffix sort of both files together. Memory: about 9 bytes per byte of
// OLD and NEW together plus 8 per byte of NEW. `threads` (1 or more) share the linear
// passes. Throws std::length_error when OLD and NEW together exceed kMaxSuffixSorted.
std::vector<Match> LongestMatches(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                  unsigned threads = 1);

}  // namespace producer
