#pragma once
// Encoding an update entry of the compressed-streams format (2.00): the 1.04 header with
// format 2.0, then a body of four separately deflated streams (control records, gaps
// between changes of the difference, the changes, new bytes) built from approximate
// matches; and, where both files are programs, of its program-aware twin (3.00), whose
// differences are taken against the old program's references as predicted in the new.
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
  // Also make 3.00 bodies modelling these references (patch::kModelAbsolute,
  // kModelRelative or both) where both files are PE programs; the smallest entry of either
  // format is kept. Per margin: the 2.00 copies as they are, and the copies found afresh
  // with the references written as their targets.
  bool program_body = false;
  uint8_t program_model = 3;
};

struct StreamsStats {
  uint32_t format_version = 0;  // of the entry kept
  uint64_t smallest_2_00 = 0;   // bytes of the smallest 2.00 entry, when a 3.00 one was made too
  uint32_t references = 0;      // of the old program that the kept 3.00 body models
  uint32_t hints = 0;           // where the old targets went, given by the kept 3.00 body
  uint8_t transform = 0;        // 2.00: the transform; 3.00: the model
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
