#pragma once
// Approximate matching for bodies that copy with a difference added: NEW is cut into
// blocks, each "copy n bytes from OLD at o, adding a difference that is mostly zero,
// then m bytes that are new". A program's next release is mostly its old code with
// addresses shifted, so long approximate copies with sparse differences beat exact
// copies broken at every changed address.
#include <cstdint>
#include <span>
#include <vector>

namespace producer {

class SuffixArray;

struct ApproxBlock {
  uint32_t copy_length = 0;
  uint32_t old_offset = 0;  // where the copy starts in OLD (meaningless when copy_length is 0)
  uint32_t new_length = 0;  // bytes taken from NEW after the copy
};

struct ApproxOptions {
  // A match found by the suffix array replaces the current alignment only when it is this
  // many bytes longer than what the alignment already matches there: a new alignment
  // costs a control record, the old one costs only difference bytes.
  uint32_t switch_margin = 8;
};

// Blocks covering NEW from its first byte to its last, in order; both inputs are below
// 4 GiB. The suffix array of OLD (about 5 bytes of memory per byte of OLD) is built once,
// so that several options can be tried on one index (also from several threads at once:
// the index is only read).
std::vector<ApproxBlock> MatchApproximately(const SuffixArray& old_index, std::span<const uint8_t> new_data,
                                            const ApproxOptions& options = {});

}  // namespace producer
