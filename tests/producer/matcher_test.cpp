// Round trips through the producer: every patch is read back with the applier's reader
// and rebuilt with its engine (and, for a share of them, run by the applier's whole run on
// the in-memory platform), and the matcher's output is held to size bounds that a
// regression to equal-offset or literal-only matching would break.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/patch/applier_run.h"
#include "core/patch/format.h"
#include "core/patch/memory_platform.h"
#include "core/patch/messages.h"
#include "core/producer/entry_writer.h"
#include "test_support.h"
#include "tests/unit/patch_builder.h"

namespace {

using test_support::Bytes;
using test_support::ProgramLikeBytes;
using test_support::RandomBytes;

constexpr uint32_t kMax = producer::kMaxRecordLength;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

uint32_t Ceil(size_t n) { return static_cast<uint32_t>((n + kMax - 1) / kMax); }

struct Made {
  Bytes entry;
  producer::EntryStats stats;
};

// Makes an entry and proves it with the applier's reader and engine; fails the test on
// any difference.
Made MakeAndCheck(const Bytes& old_data, const Bytes& new_data,
                  const producer::HashMatcherOptions& options = producer::HashMatcherOptions{}) {
  Made made;
  const auto matcher = producer::MakeHashMatcher(options);
  made.entry = producer::MakeUpdateEntry(*matcher, old_data, new_data, {"Lunder19.exe", "x"},
                                         producer::Stamp{2008, 1, 30, 16, 48, 9}, &made.stats);
  const patch::Image image(made.entry);

  patch::EntryHeader header;
  EXPECT_EQ(patch::ParseEntryHeader(image, 0, &header), patch::HeaderOutcome::Ok);
  EXPECT_EQ(header.kind, patch::EntryKind::Update);
  EXPECT_EQ(header.old_crc, patchtest::ReferenceChecksum(old_data.data(), old_data.size()));
  EXPECT_EQ(header.new_crc, patchtest::ReferenceChecksum(new_data.data(), new_data.size()));
  EXPECT_EQ(header.new_size, new_data.size());

  const uint32_t old_size = static_cast<uint32_t>(old_data.size());
  patch::BodySummary body;
  EXPECT_EQ(patch::WalkBody(image, header, &old_size, &body), patch::BodyOutcome::Ok);
  EXPECT_EQ(body.shape, patch::BodyShape::Records);
  // The entry ends exactly at the end of the data, so it also ends the chain.
  EXPECT_EQ(body.end, made.entry.size());
  EXPECT_EQ(patch::ChainStep(image, body.end), patch::ChainOutcome::Complete);
  EXPECT_EQ(body.copy_records, made.stats.copy_records);
  EXPECT_EQ(body.literal_records, made.stats.literal_records);
  EXPECT_EQ(body.literal_bytes, made.stats.literal_bytes);

  // Every record within the format's limit; only an empty new file has an empty record.
  uint64_t pos = header.body_offset;
  while (pos < body.end) {
    patch::Record record;
    EXPECT_TRUE(patch::ReadRecord(image, pos, &record));
    EXPECT_LE(record.length, kMax);
    if (!new_data.empty()) {
      EXPECT_GT(record.length, 0u) << "record at " << pos;
    }
    pos += record.size();
  }

  Bytes rebuilt;
  std::string error;
  EXPECT_TRUE(patch::RebuildEntryInMemory(image, header, old_data, &rebuilt, &error)) << error;
  EXPECT_TRUE(rebuilt == new_data) << "rebuilt " << rebuilt.size() << " bytes, expected " << new_data.size();
  return made;
}

// The applier's whole run over the entry packed behind an image of zero bytes.
void RunApplierOver(const Bytes& old_data, const Bytes& new_data, const Bytes& entry) {
  patch::MemoryPlatform platform;
  Bytes packed(patch::SEARCH_START, 0);
  packed.insert(packed.end(), entry.begin(), entry.end());
  platform.AddFile(platform.own_path, packed);
  platform.AddFile("C:\\app\\Lunder19.EXE", old_data);
  patch::RunApplier(platform);
  ASSERT_FALSE(platform.boxes.empty());
  EXPECT_STREQ(platform.boxes.back().text.c_str(), patch::msg::kCompleted);
  ASSERT_TRUE(platform.HasFile("C:\\app\\Lunder19.exe"));
  EXPECT_TRUE(platform.File("C:\\app\\Lunder19.exe")->data == new_data);
  ASSERT_TRUE(platform.HasFile("C:\\app\\Lunder19.OLD"));
  EXPECT_TRUE(platform.File("C:\\app\\Lunder19.OLD")->data == old_data);
}

TEST(RoundTripShapes, IdenticalFilesAreAllCopiesSplitAtTheRecordLimit) {
  const Bytes data = ProgramLikeBytes(1'000'000, 1);
  const Made made = MakeAndCheck(data, data);
  EXPECT_EQ(made.stats.literal_records, 0u);
  EXPECT_EQ(made.stats.copy_records, Ceil(data.size()));
  RunApplierOver(data, data, made.entry);
}

TEST(RoundTripShapes, DisjointFilesAreAllLiterals) {
  const Bytes old_data = RandomBytes(200'000, 2);
  const Bytes new_data = RandomBytes(150'000, 3);
  const Made made = MakeAndCheck(old_data, new_data);
  EXPECT_EQ(made.stats.copy_records, 0u);
  EXPECT_EQ(made.stats.literal_bytes, new_data.size());
  EXPECT_EQ(made.stats.literal_records, Ceil(new_data.size()));
  RunApplierOver(old_data, new_data, made.entry);
}

TEST(RoundTripShapes, InsertedBlockCostsItsOwnBytes) {
  const Bytes old_data = ProgramLikeBytes(300'000, 4);
  const Bytes inserted = RandomBytes(1000, 5);
  const Bytes new_data = Cat({Slice(old_data, 0, 123'457), inserted, Slice(old_data, 123'457, old_data.size())});
  const Made made = MakeAndCheck(old_data, new_data);
  EXPECT_LE(made.stats.literal_bytes, inserted.size());
  EXPECT_LE(made.stats.copy_records, Ceil(old_data.size()) + 2);
  RunApplierOver(old_data, new_data, made.entry);
}

TEST(RoundTripShapes, DeletedBlockCostsNoLiterals) {
  const Bytes old_data = ProgramLikeBytes(300'000, 6);
  const Bytes new_data = Cat({Slice(old_data, 0, 100'001), Slice(old_data, 140'000, old_data.size())});
  const Made made = MakeAndCheck(old_data, new_data);
  EXPECT_EQ(made.stats.literal_bytes, 0u);
  EXPECT_LE(made.stats.copy_records, Ceil(new_data.size()) + 2);
}

TEST(RoundTripShapes, MovedBlocksAreCopiedFromTheirOldPlace) {
  const Bytes old_data = ProgramLikeBytes(240'000, 7);
  const Bytes a = Slice(old_data, 0, 80'000), b = Slice(old_data, 80'000, 160'000), c = Slice(old_data, 160'000, 240'000);
  const Bytes new_data = Cat({c, a, b, a});  // moved, and one block used twice
  const Made made = MakeAndCheck(old_data, new_data);
  EXPECT_EQ(made.stats.literal_bytes, 0u);
  EXPECT_LE(made.stats.copy_records, Ceil(new_data.size()) + 4);
  RunApplierOver(old_data, new_data, made.entry);
}

TEST(RoundTripShapes, ScatteredSmallEditsCostOnlyTheirBytes) {
  // Relocated pointers: 4-byte rewrites spread over the file, the common shape of a
  // rebuilt program.
  const Bytes old_data = ProgramLikeBytes(1'000'000, 8);
  Bytes new_data = old_data;
  std::mt19937 rng(9);
  constexpr int kEdits = 200;
  for (int i = 0; i < kEdits; ++i) {
    const size_t at = (i * 4999 + rng() % 1000) % (new_data.size() - 4);
    for (int k = 0; k < 4; ++k) new_data[at + k] ^= static_cast<uint8_t>(1 + rng() % 255);
  }
  const Made made = MakeAndCheck(old_data, new_data);
  EXPECT_LE(made.stats.literal_bytes, 4u * kEdits);
  // Per edit at most one literal (2 + 4 bytes) and one copy (6 bytes).
  EXPECT_LE(made.entry.size(), 100u + kEdits * 12u + Ceil(new_data.size()) * 6u);
  RunApplierOver(old_data, new_data, made.entry);
}

TEST(RoundTripShapes, ShiftedContentIsFoundAtItsNewDistance) {
  // An insertion near the start shifts everything after it: equal-offset comparison
  // would find nothing.
  const Bytes old_data = ProgramLikeBytes(500'000, 10);
  const Bytes new_data = Cat({RandomBytes(37, 11), old_data});
  const Made made = MakeAndCheck(old_data, new_data);
  EXPECT_LE(made.stats.literal_bytes, 37u);
}

TEST(RoundTripShapes, RunsAndShortPeriodsCostOnlyTheChangedBytes) {
  // One long run of zeros in OLD, a changed byte every 100 in NEW; then a pattern of
  // period 2, whose every window has millions of earlier copies.
  Bytes zeros(1'000'000, 0), spotted = zeros;
  for (size_t i = 50; i < spotted.size(); i += 100) spotted[i] = static_cast<uint8_t>(1 + i % 255);
  const Made runs = MakeAndCheck(zeros, spotted);
  EXPECT_EQ(runs.stats.literal_bytes, spotted.size() / 100);
  EXPECT_LE(runs.stats.copy_records, spotted.size() / 100 + 1);

  Bytes pattern(1'000'000);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = (i % 2) ? 'B' : 'A';
  Bytes changed = pattern;
  for (size_t i = 333; i < changed.size(); i += 1000) changed[i] = 'C';
  const Made periodic = MakeAndCheck(pattern, changed);
  EXPECT_EQ(periodic.stats.literal_bytes, changed.size() / 1000);
}

TEST(RoundTripEmpty, EmptyOldFileGivesLiteralsOnly) {
  const Bytes new_data = RandomBytes(70'000, 12);
  const Made made = MakeAndCheck({}, new_data);
  EXPECT_EQ(made.stats.copy_records, 0u);
  EXPECT_EQ(made.stats.literal_records, Ceil(new_data.size()));
  RunApplierOver({}, new_data, made.entry);
}

TEST(RoundTripEmpty, EmptyNewFileGetsOneEmptyLiteralRecord) {
  const Bytes old_data = RandomBytes(5000, 13);
  const Made made = MakeAndCheck(old_data, {});
  EXPECT_EQ(made.stats.literal_records, 1u);
  EXPECT_EQ(made.stats.copy_records, 0u);
  // The body is the two bytes of one empty literal record and ends the entry.
  ASSERT_GE(made.entry.size(), 2u);
  EXPECT_EQ(made.entry[made.entry.size() - 2], 0);
  EXPECT_EQ(made.entry[made.entry.size() - 1], 0);
  EXPECT_EQ(made.entry.size(), made.stats.header_size + 2u);
  RunApplierOver(old_data, {}, made.entry);
}

TEST(RoundTripEmpty, BothEmpty) {
  const Made made = MakeAndCheck({}, {});
  EXPECT_EQ(made.entry.size(), made.stats.header_size + 2u);
  RunApplierOver({}, {}, made.entry);
}

TEST(RoundTripEmpty, TinyFilesBelowTheHashWindow) {
  for (size_t old_size : {0, 1, 5, 7, 8, 9, 16}) {
    for (size_t new_size : {0, 1, 3, 8, 9, 12, 40}) {
      const Bytes old_data = RandomBytes(old_size, 14);
      Bytes new_data = RandomBytes(new_size, 15);
      std::copy_n(old_data.begin(), std::min(old_size, new_size), new_data.begin());
      SCOPED_TRACE(testing::Message() << old_size << " -> " << new_size);
      MakeAndCheck(old_data, new_data);
    }
  }
}

class RecordLimit : public testing::TestWithParam<size_t> {};

TEST_P(RecordLimit, IdenticalAndDisjointFilesAroundTheLimit) {
  const size_t n = GetParam();
  const Bytes data = RandomBytes(n, static_cast<uint32_t>(n));
  const Made same = MakeAndCheck(data, data);
  EXPECT_EQ(same.stats.copy_records, Ceil(n));
  EXPECT_EQ(same.stats.literal_records, 0u);
  const Bytes other = RandomBytes(n, static_cast<uint32_t>(n) + 1);
  const Made different = MakeAndCheck(data, other);
  EXPECT_EQ(different.stats.literal_records, Ceil(n));
  EXPECT_EQ(different.stats.literal_bytes, n);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordLimit,
                         testing::Values(32'766, 32'767, 32'768, 65'533, 65'534, 65'535, 65'536, 98'301, 98'302));

TEST(RoundTripStrided, ASmallIndexLimitStillFindsTheMatches) {
  // Strides of 61 positions: matches of 68 bytes and more are still found.
  producer::HashMatcherOptions options;
  options.max_indexed = 4096;
  const Bytes old_data = ProgramLikeBytes(250'000, 16);
  const Bytes new_data = Cat({Slice(old_data, 150'000, 250'000), RandomBytes(300, 17), Slice(old_data, 3, 150'000)});
  const Made made = MakeAndCheck(old_data, new_data, options);
  EXPECT_LE(made.stats.literal_bytes, 300u + 2 * 68u);
}

TEST(RoundTripRandom, MutatedFiles) {
  // Inserts, deletes, rewrites and copies from elsewhere, on files of many sizes.
  std::mt19937 rng(18);
  for (int round = 0; round < 60; ++round) {
    const size_t size = round < 20 ? rng() % 64 : rng() % 120'000;
    const Bytes old_data = (round % 2) ? ProgramLikeBytes(size, rng()) : RandomBytes(size, rng());
    Bytes new_data = old_data;
    for (int edits = rng() % 12; edits > 0; --edits) {
      const size_t at = new_data.empty() ? 0 : rng() % new_data.size();
      const size_t len = std::min<size_t>(rng() % 3000, new_data.size() - at);
      switch (rng() % 4) {
        case 0: {
          const Bytes insert = RandomBytes(rng() % 2000, rng());
          new_data.insert(new_data.begin() + at, insert.begin(), insert.end());
          break;
        }
        case 1:
          new_data.erase(new_data.begin() + at, new_data.begin() + at + len);
          break;
        case 2:
          for (size_t k = 0; k < len; ++k) new_data[at + k] = static_cast<uint8_t>(rng());
          break;
        default:
          if (!old_data.empty()) {
            const size_t from = rng() % old_data.size();
            const size_t n = std::min<size_t>(rng() % 5000, old_data.size() - from);
            new_data.insert(new_data.begin() + at, old_data.begin() + from, old_data.begin() + from + n);
          }
      }
    }
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << old_data.size() << " -> " << new_data.size());
    MakeAndCheck(old_data, new_data);
  }
}

TEST(MatcherInterface, OperationsCoverTheNewFileExactly) {
  const Bytes old_data = ProgramLikeBytes(100'000, 19);
  const Bytes new_data = Cat({RandomBytes(10, 20), Slice(old_data, 500, 90'000), RandomBytes(10, 21)});
  const auto ops = producer::MakeHashMatcher()->Match(old_data, new_data);
  EXPECT_EQ(producer::TotalLength(ops), new_data.size());
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0], (producer::Op{producer::Op::Kind::Literal, 10, 0}));
  EXPECT_EQ(ops[1], (producer::Op{producer::Op::Kind::Copy, 89'500, 500}));
  EXPECT_EQ(ops[2], (producer::Op{producer::Op::Kind::Literal, 10, 89'510}));
}

TEST(MatcherInterface, ShortestCopyIsNineBytes) {
  // A copy record (6 bytes) plus the literal head it splits off (2) must save more than
  // the shared bytes cost as literals: 8 shared bytes stay literal, 9 become a copy.
  const Bytes old_data = RandomBytes(1000, 22);
  struct Case {
    uint32_t shared;
    size_t ops;
  } cases[] = {{8, 1}, {9, 3}, {10, 3}};
  for (const Case& c : cases) {
    Bytes new_data = Cat({RandomBytes(100, 23), Slice(old_data, 500, 500 + c.shared), RandomBytes(100, 24)});
    // Neighbours that differ from OLD's, so the shared run cannot grow either way.
    new_data[99] = static_cast<uint8_t>(old_data[499] + 1);
    new_data[100 + c.shared] = static_cast<uint8_t>(old_data[500 + c.shared] + 1);
    const auto ops = producer::MakeHashMatcher()->Match(old_data, new_data);
    ASSERT_EQ(ops.size(), c.ops) << c.shared;
    if (c.ops == 3) {
      EXPECT_EQ(ops[1], (producer::Op{producer::Op::Kind::Copy, c.shared, 500})) << c.shared;
    }
  }
}

}  // namespace
