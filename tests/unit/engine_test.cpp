// Rebuilding an entry: entry mode, contents rebuilt whole and written in chunks,
// whole-percent progress.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/patch/engine.h"
#include "core/patch/memory_platform.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;
using patch::ApplyOutcome;
using patch::Image;

struct Recorder final : patch::RecordOutput, patch::ProgressDisplay {
  Bytes out;
  std::vector<uint32_t> write_lengths;
  std::vector<int> advances;
  int pumps = 0;
  int fail_at_write = -1;  // index of the write that fails
  bool Write(const uint8_t* data, uint32_t length) override {
    if (static_cast<int>(write_lengths.size()) == fail_at_write) return false;
    write_lengths.push_back(length);
    out.insert(out.end(), data, data + length);
    return true;
  }
  void Advance(int percent) override { advances.push_back(percent); }
  void Pump() override { ++pumps; }
};

struct Applied {
  Bytes image;
  patch::EntryHeader header;
};

Applied Prepare(const Entry& e) {
  Applied a{MakeImage({e}, 0), {}};
  EXPECT_EQ(patch::ParseEntryHeader(Image(a.image.data(), a.image.size()), 0, &a.header), patch::HeaderOutcome::Ok);
  return a;
}

ApplyOutcome Apply(const Applied& a, const Bytes& old_file, Recorder& r, bool write = true,
                   uint64_t* bytes_out = nullptr) {
  return patch::ApplyRecords(Image(a.image.data(), a.image.size()), a.header, old_file, write ? &r : nullptr, r,
                             bytes_out);
}

// ---- Progress ----

TEST(Percent, ExamplesOfTheCarriedSize) {
  EXPECT_EQ(patch::TargetPercent(51891, 5189120), 0);
  EXPECT_EQ(patch::TargetPercent(51892, 5189120), 1);
  EXPECT_EQ(patch::TargetPercent(50000000, 100000000), 50);
  EXPECT_EQ(patch::TargetPercent(5189120, 5189120), 100);
}

TEST(Percent, ExactForAll32BitValues) {
  EXPECT_EQ(patch::TargetPercent(0xFFFFFFFFu, 0xFFFFFFFFu), 100);
  EXPECT_EQ(patch::TargetPercent(0xFFFFFFFEu, 0xFFFFFFFFu), 99);
  EXPECT_EQ(patch::TargetPercent(42949673u, 0xFFFFFFFFu), 1);  // a 32-bit product would wrap here
  EXPECT_EQ(patch::TargetPercent(42949672u, 0xFFFFFFFFu), 0);
  EXPECT_EQ(patch::TargetPercent(uint64_t{0xFFFFFFFF} + 32767, 0xFFFFFFFFu), 100);  // overshoot caps
  std::mt19937_64 rng(5);
  for (int i = 0; i < 100000; ++i) {
    const uint32_t size = static_cast<uint32_t>(rng()) | 1;
    const uint32_t out = static_cast<uint32_t>(rng() % (uint64_t{size} + 1));
    const unsigned __int128 exact = static_cast<unsigned __int128>(out) * 100 / size;
    ASSERT_EQ(patch::TargetPercent(out, size), static_cast<int>(exact)) << out << "/" << size;
  }
}

TEST(Percent, NewSizeZeroIsComplete) { EXPECT_EQ(patch::TargetPercent(0, 0), 100); }

TEST(Percent, BarMovesOnlyInWholeSteps) {
  Recorder r;
  patch::Progress p(5189120);
  p.Add(51891, r);
  EXPECT_TRUE(r.advances.empty());
  p.Add(1, r);
  EXPECT_EQ(r.advances, std::vector<int>{1});
  p.Add(5189120, r);  // overshoot: never beyond 100
  EXPECT_EQ(r.advances.size(), 100u);
  EXPECT_EQ(r.advances.back(), 100);
  p.Complete(r);
  EXPECT_EQ(r.advances.size(), 100u);
  EXPECT_EQ(r.pumps, 1);
}

// ---- Entry mode ----

TEST(EntryMode, DecidedByKindChecksumAndFlags) {
  patch::EntryHeader h;
  h.old_crc = 7;
  EXPECT_EQ(patch::DecideEntryMode(h, 7, patch::FoundKind::File), patch::EntryMode::Write);
  EXPECT_EQ(patch::DecideEntryMode(h, 8, patch::FoundKind::File), patch::EntryMode::Mismatch);
  h.flags = patch::FLAG_SKIP_ON_MISMATCH;
  EXPECT_EQ(patch::DecideEntryMode(h, 8, patch::FoundKind::File), patch::EntryMode::Skip);
  h.kind = patch::EntryKind::CreateIfMissing;
  EXPECT_EQ(patch::DecideEntryMode(h, 8, patch::FoundKind::None), patch::EntryMode::Write);
  EXPECT_EQ(patch::DecideEntryMode(h, 7, patch::FoundKind::Folder), patch::EntryMode::Skip);
  h.kind = patch::EntryKind::Delete;
  EXPECT_EQ(patch::DecideEntryMode(h, 8, patch::FoundKind::None), patch::EntryMode::Delete);
}

// ---- Applying records ----

TEST(ApplyRecords, RebuiltWholeThenWrittenInChunks) {
  const Bytes old_file = Pattern(100000, 1);
  Entry e;
  e.body = Body().Copy(32767, 0).Literal("new!").Copy(10, 99990).Copy(32767, 1).bytes;
  e.new_size = 32767 + 4 + 10 + 32767;
  const Applied a = Prepare(e);
  Recorder r;
  uint64_t bytes_out = 0;
  ASSERT_EQ(Apply(a, old_file, r, true, &bytes_out), ApplyOutcome::Complete);
  EXPECT_EQ(r.write_lengths, (std::vector<uint32_t>{patch::kWriteChunk, 32767 + 4 + 10 + 32767 - patch::kWriteChunk}));
  Bytes expected(old_file.begin(), old_file.begin() + 32767);
  for (char c : std::string("new!")) expected.push_back(static_cast<uint8_t>(c));
  expected.insert(expected.end(), old_file.begin() + 99990, old_file.end());
  expected.insert(expected.end(), old_file.begin() + 1, old_file.begin() + 32768);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(bytes_out, expected.size());
  EXPECT_EQ(r.advances.size(), 100u);
  EXPECT_EQ(r.pumps, 3);  // after every chunk and after the bar
}

TEST(ApplyRecords, ZeroLengthRecordsWriteNothingAndLeaveTheBar) {
  Entry e;
  e.new_size = 3;
  e.body = Body().Literal(Bytes{}).Copy(0, 5).Literal("abc").bytes;
  const Applied a = Prepare(e);
  Recorder r;
  ASSERT_EQ(Apply(a, {}, r), ApplyOutcome::Complete);
  EXPECT_EQ(r.write_lengths, std::vector<uint32_t>{3});
  EXPECT_EQ(r.pumps, 2);  // one chunk and the completion
}

TEST(ApplyRecords, OvershootProducesTheLongerFile) {
  Entry e;
  e.new_size = 2;
  e.body = Body().Literal("abcd").bytes;
  const Applied a = Prepare(e);
  Recorder r;
  ASSERT_EQ(Apply(a, {}, r), ApplyOutcome::Complete);
  EXPECT_EQ(r.out.size(), 4u);
  EXPECT_EQ(r.advances.size(), 100u);
}

TEST(ApplyRecords, NewSizeZeroReadsOneRecordAndCompletesTheBar) {
  Entry e;
  e.new_size = 0;
  e.body = Body().Literal(Bytes{}).Literal("never").bytes;
  const Applied a = Prepare(e);
  Recorder r;
  ASSERT_EQ(Apply(a, {}, r), ApplyOutcome::Complete);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.advances.size(), 100u);
}

TEST(ApplyRecords, SkipModeCountsButWritesNothing) {
  Entry e;
  e.new_size = 40000;
  e.body = Body().Copy(30000, 0).Literal(Bytes(10000, 1)).bytes;
  const Applied a = Prepare(e);
  Recorder r;
  uint64_t bytes_out = 0;
  ASSERT_EQ(Apply(a, {}, r, false, &bytes_out), ApplyOutcome::Complete);  // no old contents needed
  EXPECT_TRUE(r.write_lengths.empty());
  EXPECT_EQ(bytes_out, 40000u);
  EXPECT_EQ(r.advances.size(), 100u);
  EXPECT_EQ(r.advances[74], 75);
}

TEST(ApplyRecords, WriteFailureStopsAtThatChunk) {
  Entry e;
  e.new_size = patch::kWriteChunk + 6;
  e.body = Body().Literal(Bytes(32767, 1)).Literal(Bytes(32767, 2)).Literal("abcdefgh").bytes;
  const Applied a = Prepare(e);
  Recorder r;
  r.fail_at_write = 1;
  uint64_t bytes_out = 0;
  EXPECT_EQ(Apply(a, {}, r, true, &bytes_out), ApplyOutcome::WriteFailed);
  EXPECT_EQ(r.out.size(), patch::kWriteChunk);
  EXPECT_EQ(bytes_out, patch::kWriteChunk);
}

TEST(ApplyRecords, CopyOutsideOldContentsIsNeverRead) {
  const Bytes old_file = Pattern(100, 3);
  Entry e;
  e.new_size = 20;
  e.body = Body().Literal("x").Copy(19, 90).bytes;
  const Applied a = Prepare(e);
  Recorder r;
  EXPECT_EQ(Apply(a, old_file, r), ApplyOutcome::Broken);
  EXPECT_TRUE(r.write_lengths.empty());  // the body is rebuilt whole before the first write
}

TEST(ApplyRecords, StreamShortAtTheEndIsBroken) {
  Entry e;
  e.new_size = 100;
  e.body = Body().Literal("abc").bytes;
  const Applied a = Prepare(e);
  Recorder r;
  EXPECT_EQ(Apply(a, {}, r), ApplyOutcome::Broken);
}

TEST(ApplyRecords, TouchMarkerWritesNothing) {
  Entry e;
  e.new_size = 1234;
  e.body = Body().Touch().bytes;
  const Applied a = Prepare(e);
  Recorder r;
  ASSERT_EQ(Apply(a, {}, r), ApplyOutcome::Complete);
  EXPECT_TRUE(r.write_lengths.empty());
  EXPECT_EQ(r.advances.size(), 100u);
}

// ---- The carried shape ----

TEST(CarriedShape, RebuildsTheNewFileExactly) {
  const CarriedShape c = MakeCarriedShape();
  ASSERT_EQ(c.new_file.size(), 5189120u);
  const Applied a = Prepare(c.entry);
  const Image image(a.image.data(), a.image.size());
  const uint32_t old_size = static_cast<uint32_t>(c.old_file.size());
  patch::BodySummary s;
  ASSERT_EQ(patch::WalkBody(image, a.header, &old_size, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.copy_records + s.literal_records, 693u);
  EXPECT_EQ(s.copy_records, 426u);
  EXPECT_EQ(s.literal_records, 267u);
  EXPECT_EQ(s.literal_bytes, 1058u);
  EXPECT_EQ(s.total_length, 5189120u);
  EXPECT_EQ(patch::ChainStep(image, s.end), patch::ChainOutcome::Complete);

  Recorder r;
  ASSERT_EQ(Apply(a, c.old_file, r), ApplyOutcome::Complete);
  EXPECT_EQ(r.write_lengths.size(), (5189120u + patch::kWriteChunk - 1) / patch::kWriteChunk);
  EXPECT_TRUE(r.out == c.new_file);
  EXPECT_EQ(Crc(r.out), a.header.new_crc);
  EXPECT_EQ(r.advances.size(), 100u);

  std::vector<uint8_t> rebuilt;
  std::string error;
  ASSERT_TRUE(patch::RebuildEntryInMemory(image, a.header, c.old_file, &rebuilt, &error)) << error;
  EXPECT_TRUE(rebuilt == c.new_file);
}

}  // namespace
