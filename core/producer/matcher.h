#pragma once
// Finding what a new file shares with an old one. The result is a list of operations
// that rebuild NEW exactly: copies from anywhere in OLD and literal runs taken from NEW.
// Operations have no length limit here; the entry writer splits them into records.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace producer {

struct Op {
  enum class Kind : uint8_t { Copy, Literal };
  Kind kind;
  uint32_t length;
  // Copy: where the bytes start in OLD. Literal: where they start in NEW.
  uint32_t offset;

  friend bool operator==(const Op&, const Op&) = default;
};

// The matcher is swappable: the entry writer and the tool only see this interface.
class Matcher {
 public:
  virtual ~Matcher() = default;
  // Both inputs are below 4 GiB (the format's offsets and sizes are 32-bit).
  virtual std::vector<Op> Match(std::span<const uint8_t> old_data,
                                std::span<const uint8_t> new_data) = 0;
};

struct HashMatcherOptions {
  // A copy record costs 6 bytes and splitting a literal run costs a 2-byte head more,
  // so shorter matches than this would make the patch larger, not smaller.
  uint32_t min_copy = 9;
  // How many earlier OLD positions with the same hash are tried per NEW position.
  uint32_t max_chain = 48;
  // A match this long is taken without looking for a longer one.
  uint32_t good_enough = 4096;
  // Above this many OLD positions the index keeps every stride-th one only, bounding its
  // memory for very large files (tests lower it to reach the strided index with small data).
  uint64_t max_indexed = uint64_t{1} << 25;
};

// Greedy longest match over a hash index of OLD (every position for files that fit
// comfortably in memory, a fixed stride beyond), extended forwards and backwards, with the
// offsets of recent copies tried first so that edits inside an unchanged region cost only
// their literal bytes.
std::unique_ptr<Matcher> MakeHashMatcher(const HashMatcherOptions& options = {});

struct SuffixMatcherOptions {
  // A position is searched afresh (recent offsets, then the suffix array) only when the
  // copy that reaches it has fewer bytes than this left; deeper inside a copy a better
  // match would only end where a search near the copy's end finds it anyway.
  uint32_t search_below = 16;
  // Threads for the searches (0: one per core).
  unsigned threads = 0;
  // Told the share of the work done, from 0 to 1, now and then and from any thread.
  std::function<void(double)> progress;
};

// Near-least record bytes: a suffix array of OLD (libdivsufsort) finds a long match at the
// positions worth searching, and a shortest-path parse over those matches chooses the
// records. Inputs beyond what suffix sorting indexes fall back to the hash matcher.
// Memory: about 8 bytes per byte of OLD plus 8 per byte of NEW while searching, 12 per
// byte of NEW while parsing. Searches share `threads`; sorting runs on one.
std::unique_ptr<Matcher> MakeSuffixMatcher(const SuffixMatcherOptions& options = {});

// Sum of all operation lengths, i.e. the size of the file the operations rebuild.
uint64_t TotalLength(std::span<const Op> ops);

}  // namespace producer
