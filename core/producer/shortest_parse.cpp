#include "core/producer/shortest_parse.h"

#include <algorithm>
#include <deque>
#include <stdexcept>

#include "core/producer/large_array.h"

namespace producer {
namespace {

constexpr uint32_t kCopyBit = 0x80000000u;

}  // namespace

// The least cost to reach a position never falls as the position grows (shortening the
// last record by one byte never costs more), so of all copies that can end at `end` the
// one starting earliest is the cheapest: the candidates are kept as a queue of starts with
// rising reach. Literals reach back at most `max_length` bytes: a sliding-window minimum
// of cost minus position. Both queues make the pass linear.
std::vector<Op> ShortestParse(std::span<const Match> matches, const RecordCosts& costs) {
  const uint64_t n = matches.size();
  if (n >= kCopyBit) throw std::length_error("too many positions for the shortest parse");
  const uint32_t max_length = std::max<uint32_t>(costs.max_length, 1);
  // Every cost read lies at most max_length + 1 positions back, so the costs live in a
  // ring; only the predecessors are kept for the whole file.
  size_t ring_size = 1;
  while (ring_size < uint64_t{max_length} + 2) ring_size *= 2;
  std::vector<uint32_t> ring(ring_size);
  const size_t ring_mask = ring_size - 1;
  const auto cost = [&](uint64_t i) -> uint32_t& { return ring[i & ring_mask]; };
  LargeArray<uint32_t> from(n + 1);
  struct Reach {
    uint32_t start, end;
  };
  std::deque<Reach> copies;
  std::deque<uint32_t> literals;  // starts, their cost minus position rising
  const auto literal_key = [&](uint32_t i) { return int64_t{cost(i)} - i; };

  cost(0) = 0;
  for (uint32_t end = 1; end <= n; ++end) {
    const uint32_t start = end - 1;
    const uint32_t reach = start + std::min(matches[start].length, max_length);
    if (reach > start && (copies.empty() || copies.back().end < reach)) copies.push_back({start, reach});
    while (!literals.empty() && literal_key(literals.back()) >= literal_key(start)) literals.pop_back();
    literals.push_back(start);

    while (!copies.empty() && copies.front().end < end) copies.pop_front();
    while (literals.front() + max_length < end) literals.pop_front();
    const uint32_t lit = literals.front();
    uint64_t best = uint64_t{cost(lit)} + costs.literal_head + (end - lit);
    from[end] = lit;
    if (!copies.empty() && uint64_t{cost(copies.front().start)} + costs.copy <= best) {
      best = uint64_t{cost(copies.front().start)} + costs.copy;
      from[end] = copies.front().start | kCopyBit;
    }
    if (best > UINT32_MAX) throw std::length_error("record cost too large for the shortest parse");
    cost(end) = static_cast<uint32_t>(best);
  }

  std::vector<Op> ops;
  for (uint64_t end = n; end > 0;) {
    const uint32_t start = from[end] & ~kCopyBit;
    const uint32_t length = static_cast<uint32_t>(end - start);
    if (from[end] & kCopyBit) {
      ops.push_back({Op::Kind::Copy, length, matches[start].offset});
    } else {
      ops.push_back({Op::Kind::Literal, length, start});
    }
    end = start;
  }
  std::reverse(ops.begin(), ops.end());
  return ops;
}

uint64_t RecordBytes(std::span<const Op> ops, const RecordCosts& costs) {
  const uint32_t max_length = std::max<uint32_t>(costs.max_length, 1);
  uint64_t bytes = 0;
  for (const Op& op : ops) {
    const uint64_t records = (uint64_t{op.length} + max_length - 1) / max_length;
    bytes += op.kind == Op::Kind::Copy ? records * costs.copy : records * costs.literal_head + op.length;
  }
  return bytes;
}

}  // namespace producer
