// The suffix-array searches against brute force on small inputs of many shapes: random,
// one repeated byte, short periods and near-copies, where ranks tie over long prefixes.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/producer/suffix_array.h"
#include "test_support.h"

namespace {

using test_support::Bytes;
using test_support::RandomBytes;

uint32_t Common(const Bytes& a, size_t i, const Bytes& b, size_t j) {
  uint32_t n = 0;
  while (i + n < a.size() && j + n < b.size() && a[i + n] == b[j + n]) ++n;
  return n;
}

uint32_t LongestAt(const Bytes& old_data, const Bytes& new_data, size_t pos) {
  uint32_t best = 0;
  for (size_t o = 0; o < old_data.size(); ++o) best = std::max(best, Common(old_data, o, new_data, pos));
  return best;
}

Bytes Periodic(size_t n, size_t period, uint32_t seed) {
  const Bytes unit = RandomBytes(period, seed);
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = unit[i % period];
  return out;
}

Bytes Mutated(Bytes data, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int k = 0; k < 6 && !data.empty(); ++k) data[rng() % data.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
  if (data.size() > 10) data.erase(data.begin() + 3, data.begin() + 7);
  return data;
}

struct Pair {
  const char* name;
  Bytes old_data, new_data;
};

std::vector<Pair> Pairs() {
  const Bytes program = test_support::ProgramLikeBytes(700, 1);
  return {
      {"empty old", {}, RandomBytes(20, 2)},
      {"empty new", RandomBytes(20, 3), {}},
      {"one byte each", {7}, {7}},
      {"random", Periodic(300, 300, 4), Periodic(250, 250, 5)},
      {"one byte value", Bytes(200, 0), Bytes(150, 0)},
      {"period 2 against period 3", Periodic(240, 2, 6), Periodic(240, 3, 6)},
      {"new is a prefix of old", program, Bytes(program.begin(), program.begin() + 300)},
      {"old is a prefix of new", Bytes(program.begin(), program.begin() + 300), program},
      {"near copy", program, Mutated(program, 7)},
      {"new runs on into old's start", Bytes(program.begin() + 50, program.end()), program},
  };
}

TEST(LongestMatches, EqualBruteForceAtEveryPosition) {
  for (const Pair& pair : Pairs()) {
    for (unsigned threads : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << pair.name << ", " << threads << " threads");
      const auto matches = producer::LongestMatches(pair.old_data, pair.new_data, threads);
      ASSERT_EQ(matches.size(), pair.new_data.size());
      for (size_t pos = 0; pos < pair.new_data.size(); ++pos) {
        const producer::Match m = matches[pos];
        ASSERT_EQ(m.length, LongestAt(pair.old_data, pair.new_data, pos)) << "at " << pos;
        if (m.length > 0) {
          ASSERT_LE(uint64_t{m.offset} + m.length, pair.old_data.size());
          ASSERT_GE(Common(pair.old_data, m.offset, pair.new_data, pos), m.length) << "at " << pos;
        }
      }
    }
  }
}

TEST(LongestMatches, PartsOfALargeInputAgreeWithOnePass) {
  // Above the size where the passes are split between threads, and with long equal runs
  // crossing the split.
  const Bytes old_data = test_support::ProgramLikeBytes(200'000, 8);
  const Bytes new_data = Mutated(old_data, 9);
  const auto one = producer::LongestMatches(old_data, new_data, 1);
  const auto two = producer::LongestMatches(old_data, new_data, 2);
  for (size_t pos = 0; pos < one.size(); ++pos) ASSERT_EQ(one[pos].length, two[pos].length) << "at " << pos;
}

TEST(SuffixArray, SearchesEqualBruteForce) {
  for (const Pair& pair : Pairs()) {
    SCOPED_TRACE(pair.name);
    const producer::SuffixArray sa(pair.old_data, true);
    ASSERT_EQ(sa.order().size(), pair.old_data.size());
    for (uint32_t r = 0; r < sa.order().size(); ++r) ASSERT_EQ(sa.RankOf(sa.order()[r]), r);
    for (size_t pos = 0; pos < pair.new_data.size(); pos += 3) {
      const Bytes query(pair.new_data.begin() + pos, pair.new_data.end());
      const producer::Match m = sa.LongestMatch(query);
      const uint32_t longest = LongestAt(pair.old_data, pair.new_data, pos);
      ASSERT_EQ(m.length, longest >= 2 ? longest : 0) << "at " << pos;  // one-byte matches are not reported
      ASSERT_GE(Common(pair.old_data, m.offset, query, 0), m.length);
      for (const size_t from : {size_t{0}, pos, pair.old_data.size() - 1}) {
        if (pair.old_data.empty()) break;
        const uint32_t rank = static_cast<uint32_t>(std::min(from, pair.old_data.size() - 1));
        const producer::Match near = sa.LongestMatchNear(query, rank);
        ASSERT_EQ(near.length, longest) << "at " << pos << " from rank " << rank;
        ASSERT_GE(Common(pair.old_data, near.offset, query, 0), near.length);
      }

      const Bytes prefix(query.begin(), query.begin() + std::min<size_t>(query.size(), 3));
      const auto range = sa.EqualRange(prefix);
      size_t expected = 0;
      for (size_t o = 0; o < pair.old_data.size(); ++o) expected += Common(pair.old_data, o, prefix, 0) == prefix.size();
      ASSERT_EQ(range.last - range.first, expected) << "at " << pos;
      for (uint32_t r = range.first; r < range.last; ++r) {
        ASSERT_EQ(Common(pair.old_data, sa.order()[r], prefix, 0), prefix.size());
      }
    }
  }
}

}  // namespace
