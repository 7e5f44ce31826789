#pragma once
// Encoding an update entry of the compressed-streams format (2.00): the 1.04 header with
// format 2.0, then a body of four separately deflated streams (control records, gaps
// between changes of the difference, the changes, new bytes) built from approximate
// matches.
#include <cstdint>
#include <span>
#include <vector>

#include "core/producer/approx_matcher.h"
#include "core/producer/entry_writer.h"

namespace producer {

struct StreamsOptions {
  // Margins (see ApproxOptions) the matcher is run with, on up to two threads; the
  // smallest body is kept. The scan is greedy, so another margin can take another course
  // through a whole file: measured on six real program pairs, margin 5 was up to 4 %
  // smaller than 8 on three and 8 up to 3.5 % smaller than 5 on the other three, while
  // 6, 7 and 9 never gained more than 0.1 % over the better of the two. Each margin costs
  // one scan and one encoding, not another suffix sort.
  std::vector<uint32_t> switch_margins = {5, 8};
  enum class Transform : uint8_t { Auto, None, X86Branches } transform = Transform::Auto;
};

struct StreamsStats {
  uint8_t transform = 0;
  uint32_t switch_margin = 0;  // the one whose body was kept
  uint32_t blocks = 0;
  uint32_t raw_sizes[4] = {};
  uint32_t packed_sizes[4] = {};
  uint64_t entry_size = 0;
};

// Throws EntryError for inputs no entry can carry (see AppendUpdateHeader).
std::vector<uint8_t> MakeStreamsEntry(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                      const UpdateEntryText& text, const Stamp& stamp,
                                      const StreamsOptions& options = {}, StreamsStats* stats = nullptr);

}  // namespace producer
