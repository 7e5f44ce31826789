// The suffix-array matcher on the shapes of real updates: every entry is rebuilt by the
// applier's reader and engine, and its records are held to the exact least record bytes
// of the format.
#include <gtest/gtest.h>

#include "core/patch/format.h"
#include "core/patch/memory_platform.h"
#include "core/producer/entry_writer.h"
#include "core/producer/shortest_parse.h"
#include "core/producer/suffix_array.h"
#include "test_support.h"

namespace {

using test_support::Bytes;
using test_support::ProgramLikeBytes;
using test_support::RandomBytes;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

// Rewrites 4 bytes every `every` bytes, as relocated addresses do.
Bytes Relocated(Bytes data, size_t every, uint32_t seed) {
  std::mt19937 rng(seed);
  for (size_t at = every / 2; at + 4 <= data.size(); at += every - 3 + rng() % 7) {
    for (int k = 0; k < 4; ++k) data[at + k] ^= static_cast<uint8_t>(1 + rng() % 255);
  }
  return data;
}

struct Shape {
  const char* name;
  Bytes old_data, new_data;
};

std::vector<Shape> Shapes() {
  const Bytes program = ProgramLikeBytes(150'000, 1);
  const Bytes zeros(300'000, 0);
  Bytes spotted = zeros;
  for (size_t i = 50; i < spotted.size(); i += 100) spotted[i] = static_cast<uint8_t>(1 + i % 255);
  return {
      {"both empty", {}, {}},
      {"empty old", {}, RandomBytes(40'000, 2)},
      {"empty new", RandomBytes(5000, 3), {}},
      {"tiny", RandomBytes(5, 4), RandomBytes(3, 4)},
      {"identical, several records", program, program},
      {"disjoint", RandomBytes(70'000, 5), RandomBytes(70'000, 6)},
      {"relocated addresses", program, Relocated(program, 300, 7)},
      {"dense relocations", program, Relocated(program, 24, 8)},
      {"insert, delete and move",
       program,
       Cat({Slice(program, 100'000, 150'000), RandomBytes(999, 9), Slice(program, 0, 90'000), Slice(program, 10, 20'000)})},
      {"runs with changed bytes", zeros, spotted},
  };
}

TEST(SuffixMatcher, WithinOnePercentOfTheLeastRecordBytes) {
  for (const Shape& shape : Shapes()) {
    for (unsigned threads : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << shape.name << ", " << threads << " threads");
      producer::SuffixMatcherOptions options;
      options.threads = threads;
      const auto ops = producer::MakeSuffixMatcher(options)->Match(shape.old_data, shape.new_data);
      producer::EntryStats stats;
      const Bytes entry = producer::WriteUpdateEntry(shape.old_data, shape.new_data, ops, {"a.exe", "x"},
                                                     producer::Stamp{2008, 1, 30, 16, 48, 9}, &stats);
      const patch::Image image(entry);
      patch::EntryHeader header;
      ASSERT_EQ(patch::ParseEntryHeader(image, 0, &header), patch::HeaderOutcome::Ok);
      Bytes rebuilt;
      std::string error;
      ASSERT_TRUE(patch::RebuildEntryInMemory(image, header, shape.old_data, &rebuilt, &error)) << error;
      ASSERT_TRUE(rebuilt == shape.new_data);

      const uint64_t ours = producer::RecordBytes(ops);
      const uint64_t least = producer::RecordBytes(
          producer::ShortestParse(producer::LongestMatches(shape.old_data, shape.new_data)));
      EXPECT_EQ(ours, entry.size() - stats.header_size - (shape.new_data.empty() ? 2 : 0));
      EXPECT_GE(ours, least);
      // Half the margin the corpus is held to: these shapes are simpler than programs.
      EXPECT_LE(ours * 1000, least * 1005) << ours << " record bytes, least " << least;
    }
  }
}

}  // namespace
