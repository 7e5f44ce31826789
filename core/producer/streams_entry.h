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
  // Margins (see ApproxOptions) the matcher is run with, one per core at a time; the
  // smallest body is kept. The scan is greedy, so another margin can take another course
  // through a whole file: measured on six real program pairs, margin 5 was up to 4 %
  // smaller than 8 on three and 8 up to 3.5 % smaller than 5 on the other three, while
  // 6, 7 and 9 never gained more than 0.1 % over the better of the two. Each margin costs
  // one scan and one encoding, not another suffix sort.
  std::vector<uint32_t> switch_margins = {5, 8};
  // Zero runs of the difference this short between changed bytes are sent as values
  // instead of ending the run (0: never; measured best on real programs).
  uint32_t merge_zero_gap = 0;
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

// The body alone for given blocks over (already transformed) contents; `transform` is the
// leading byte to record. For tests and for measuring layouts.
std::vector<uint8_t> EncodeStreamsBody(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                       std::span<const ApproxBlock> blocks, uint8_t transform,
                                       uint32_t merge_zero_gap, StreamsStats* stats = nullptr);

// The smaller of libdeflate at its highest level and zlib at level 9, both in the zlib
// format that the applier's inflate reads.
std::vector<uint8_t> DeflateSmallest(std::span<const uint8_t> data);

}  // namespace producer
