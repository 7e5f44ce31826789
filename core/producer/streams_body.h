#pragma once
// The body of a streams entry (2.00 or 3.00) for given blocks: the four streams, each
// deflated by the smaller of libdeflate at its highest level and zlib at level 9 (both in
// the zlib format the applier's inflate reads), behind the head of sizes.
#include <cstdint>
#include <span>
#include <vector>

#include "core/producer/approx_matcher.h"
#include "core/producer/streams_entry.h"

namespace producer {

// A number of a stream: 7-bit groups, the most significant first, the high bit on all but
// the last byte.
void PutVarint(std::vector<uint8_t>& out, uint32_t v);

// `transform` is the leading byte to record (2.00: the transform the contents went
// through; 3.00: the model). The differences of copies are taken against the old bytes,
// or against `predicted` (new_data.size() bytes: what the decoder holds there before it
// adds them) when given; the new bytes are then taken from `predicted` as well, as they
// are to be stored, and copies are not checked against OLD. Throws EntryError
// when the blocks do not cover NEW exactly. `control_tail` follows the records in the
// control stream (3.00's target hints).
std::vector<uint8_t> EncodeStreamsBody(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                       std::span<const ApproxBlock> blocks, uint8_t transform, StreamsStats* stats,
                                       const uint8_t* predicted = nullptr,
                                       std::span<const uint8_t> control_tail = {});

}  // namespace producer
