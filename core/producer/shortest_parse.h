#pragma once
// The cheapest record stream of the copy/literal format for a pair of files, given the
// longest match in OLD at every position of NEW: a shortest path over positions, where a
// copy record costs the same for any length up to the record limit and a literal record
// costs its head plus its bytes.
#include <cstdint>
#include <span>
#include <vector>

#include "core/patch/format.h"
#include "core/producer/matcher.h"
#include "core/producer/suffix_array.h"

namespace producer {

struct RecordCosts {
  uint32_t copy = 6;           // head and 32-bit offset
  uint32_t literal_head = 2;   // head; the bytes follow
  uint32_t max_length = patch::kMaxRecordLength;
};

// Operations of least total record cost, each at most `max_length` long (so that every
// operation is one record). `matches[pos]` must be a true match of NEW[pos..] in OLD, and
// the parse is optimal when each is the longest one. Positions below 2^31.
std::vector<Op> ShortestParse(std::span<const Match> matches, const RecordCosts& costs = {});

// What the records of `ops` cost once split at the record limit.
uint64_t RecordBytes(std::span<const Op> ops, const RecordCosts& costs = {});

}  // namespace producer
