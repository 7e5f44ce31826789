// The shortest parse against a plain dynamic program that tries every record at every
// position, with small record limits so that splits at the limit happen often.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/producer/shortest_parse.h"

namespace {

using producer::Match;
using producer::Op;

uint64_t BruteForceCost(const std::vector<Match>& matches, const producer::RecordCosts& c) {
  const size_t n = matches.size();
  std::vector<uint64_t> best(n + 1, UINT64_MAX);
  best[0] = 0;
  for (size_t i = 0; i < n; ++i) {
    for (size_t k = 1; k <= c.max_length && i + k <= n; ++k) {
      best[i + k] = std::min(best[i + k], best[i] + c.literal_head + k);
      if (k <= matches[i].length) best[i + k] = std::min(best[i + k], best[i] + c.copy);
    }
  }
  return best[n];
}

// Checks that `ops` cover every position once, and that every copy stays within the match
// found at its start and every operation within the record limit.
void ExpectValid(const std::vector<Op>& ops, const std::vector<Match>& matches, const producer::RecordCosts& c) {
  uint64_t pos = 0;
  for (const Op& op : ops) {
    ASSERT_GT(op.length, 0u);
    ASSERT_LE(op.length, c.max_length);
    ASSERT_LE(pos + op.length, matches.size());
    if (op.kind == Op::Kind::Copy) {
      ASSERT_LE(op.length, matches[pos].length) << "copy at " << pos;
      ASSERT_EQ(op.offset, matches[pos].offset) << "copy at " << pos;
    } else {
      ASSERT_EQ(op.offset, pos);
    }
    pos += op.length;
  }
  ASSERT_EQ(pos, matches.size());
}

TEST(ShortestParse, CostEqualsTryingEveryRecord) {
  struct Case {
    const char* name;
    producer::RecordCosts costs;
    uint32_t longest;  // match lengths drawn from [0, longest]
    uint32_t none_in;  // one position in this many has no match
  };
  const Case cases[] = {
      {"1.04 costs, limit 5", {6, 2, 5}, 12, 3},
      {"1.04 costs, limit 1", {6, 2, 1}, 4, 2},
      {"long matches, limit 7", {6, 2, 7}, 40, 10},
      {"short matches only", {6, 2, 30}, 6, 2},
      {"cheap copies", {1, 2, 4}, 9, 4},
      {"no matches", {6, 2, 8}, 0, 1},
  };
  std::mt19937 rng(1);
  for (const Case& c : cases) {
    for (int round = 0; round < 40; ++round) {
      std::vector<Match> matches(rng() % 90);
      for (size_t i = 0; i < matches.size(); ++i) {
        const bool none = rng() % c.none_in == 0;
        const uint32_t room = static_cast<uint32_t>(matches.size() - i);
        matches[i] = {static_cast<uint32_t>(rng() % 1000), none ? 0 : std::min<uint32_t>(room, rng() % (c.longest + 1))};
      }
      SCOPED_TRACE(testing::Message() << c.name << ", round " << round);
      const auto ops = producer::ShortestParse(matches, c.costs);
      ExpectValid(ops, matches, c.costs);
      EXPECT_EQ(producer::RecordBytes(ops, c.costs), BruteForceCost(matches, c.costs));
    }
  }
}

TEST(ShortestParse, RecordBytesSplitsAtTheLimit) {
  const std::vector<Op> ops = {{Op::Kind::Copy, 0x7FFF, 0}, {Op::Kind::Copy, 0x8000, 9}, {Op::Kind::Literal, 0x8000, 0}};
  EXPECT_EQ(producer::RecordBytes(ops), 6u + 12u + (4u + 0x8000u));
}

}  // namespace
