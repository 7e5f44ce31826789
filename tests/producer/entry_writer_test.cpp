// The entry writer: the header's exact bytes, the splitting of long operations into
// records, and the inputs it must refuse rather than encode.
#include <gtest/gtest.h>

#include <cstring>

#include "core/patch/format.h"
#include "core/producer/entry_writer.h"
#include "test_support.h"
#include "tests/unit/patch_builder.h"

namespace {

using producer::EntryError;
using producer::Op;
using producer::Stamp;
using producer::WriteUpdateEntry;
using test_support::Bytes;
using test_support::RandomBytes;

const Stamp kCarriedStamp{2008, 1, 30, 16, 48, 9};

uint32_t U32At(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(EntryHeaderBytes, MatchTheCarriedEntryLayout) {
  const Bytes old_data = RandomBytes(1000, 1);
  Bytes new_data = old_data;
  new_data[500] ^= 0xFF;
  const std::vector<Op> ops = {{Op::Kind::Copy, 500, 0}, {Op::Kind::Literal, 1, 500}, {Op::Kind::Copy, 499, 501}};
  // An ordinary literal is code page 932 already: 24 bytes.
  const std::string description = "アップデート Ver1.0⇒2.0";
  ASSERT_EQ(description.size(), 24u);
  const Bytes entry = WriteUpdateEntry(old_data, new_data, ops, {"Lunder19.exe", description}, kCarriedStamp);

  const uint8_t fixed[] = {0x44, 0x69, 0x66, 0x66, 0x01, 0x04, 0x00, 0x00};
  ASSERT_GE(entry.size(), 70u);
  EXPECT_EQ(std::memcmp(entry.data(), fixed, sizeof fixed), 0);
  EXPECT_EQ(U32At(entry, 8), patchtest::ReferenceChecksum(old_data.data(), old_data.size()));
  EXPECT_EQ(U32At(entry, 12), patchtest::ReferenceChecksum(new_data.data(), new_data.size()));
  EXPECT_EQ(U32At(entry, 16), 1000u);
  EXPECT_EQ(U32At(entry, 20), 1000u);
  const uint8_t stamp[] = {0xD8, 0x07, 0x01, 0x1E, 0x10, 0x30, 0x09};
  EXPECT_EQ(std::memcmp(entry.data() + 24, stamp, sizeof stamp), 0);
  EXPECT_EQ(std::memcmp(entry.data() + 31, "Lunder19.exe", 13), 0);  // with its terminator
  EXPECT_EQ(std::memcmp(entry.data() + 44, description.c_str(), 25), 0);
  EXPECT_EQ(entry[69], 0);  // empty target_folder
  // Body at 70: copy 500 from 0, literal 1, copy 499 from 501.
  const uint8_t body[] = {0xF4, 0x81, 0, 0, 0, 0, 0x01, 0x00, new_data[500], 0xF3, 0x81, 0xF5, 0x01, 0, 0};
  ASSERT_EQ(entry.size(), 70u + sizeof body);
  EXPECT_EQ(std::memcmp(entry.data() + 70, body, sizeof body), 0);

  patch::EntryHeader header;
  ASSERT_EQ(patch::ParseEntryHeader(entry, 0, &header), patch::HeaderOutcome::Ok);
  EXPECT_EQ(header.format_version, 104u);
  EXPECT_EQ(header.body_offset, 70u);
  EXPECT_TRUE(header.has_target_folder);
  EXPECT_EQ(header.target_folder.length, 0u);
}

TEST(EntryRecords, LongOperationsAreSplitAtTheRecordLimit) {
  const Bytes old_data = RandomBytes(100'000, 2);
  const Bytes tail = RandomBytes(70'000, 3);
  Bytes new_data = old_data;
  new_data.insert(new_data.end(), tail.begin(), tail.end());
  const std::vector<Op> ops = {{Op::Kind::Copy, 100'000, 0}, {Op::Kind::Literal, 70'000, 100'000}};
  producer::EntryStats stats;
  const Bytes entry = WriteUpdateEntry(old_data, new_data, ops, {"a", ""}, kCarriedStamp, &stats);
  EXPECT_EQ(stats.copy_records, 4u);
  EXPECT_EQ(stats.literal_records, 3u);

  patch::EntryHeader header;
  ASSERT_EQ(patch::ParseEntryHeader(entry, 0, &header), patch::HeaderOutcome::Ok);
  const uint32_t expect_copy[][2] = {{32767, 0}, {32767, 32767}, {32767, 65534}, {1699, 98301}};
  const uint32_t expect_literal[] = {32767, 32767, 4466};
  uint64_t pos = header.body_offset;
  for (const auto& [length, offset] : expect_copy) {
    patch::Record r;
    ASSERT_TRUE(patch::ReadRecord(entry, pos, &r));
    EXPECT_TRUE(r.copy);
    EXPECT_EQ(r.length, length);
    EXPECT_EQ(r.old_offset, offset);
    pos += r.size();
  }
  for (const uint32_t length : expect_literal) {
    patch::Record r;
    ASSERT_TRUE(patch::ReadRecord(entry, pos, &r));
    EXPECT_FALSE(r.copy);
    EXPECT_EQ(r.length, length);
    pos += r.size();
  }
  EXPECT_EQ(pos, entry.size());
}

TEST(EntryRefusals, OperationsThatDoNotRebuildTheNewFile) {
  const Bytes old_data = RandomBytes(100, 4);
  const Bytes new_data = RandomBytes(100, 5);
  const producer::UpdateEntryText text{"a", ""};
  // Too short, too long, a copy outside OLD, a copy of the wrong bytes, a literal taken
  // from another place.
  const std::vector<std::vector<Op>> wrong = {
      {{Op::Kind::Literal, 99, 0}},
      {{Op::Kind::Literal, 100, 0}, {Op::Kind::Literal, 1, 100}},
      {{Op::Kind::Literal, 50, 0}, {Op::Kind::Copy, 50, 51}},
      {{Op::Kind::Copy, 100, 0}},
      {{Op::Kind::Literal, 50, 50}, {Op::Kind::Literal, 50, 0}},
  };
  for (const auto& ops : wrong) {
    EXPECT_THROW(WriteUpdateEntry(old_data, new_data, ops, text, kCarriedStamp), EntryError);
  }
  EXPECT_NO_THROW(WriteUpdateEntry(old_data, new_data, std::vector<Op>{{Op::Kind::Literal, 100, 0}}, text, kCarriedStamp));
}

TEST(EntryRefusals, StringsWithZeroBytesOrAnEmptyName) {
  const std::vector<Op> none;
  EXPECT_THROW(WriteUpdateEntry({}, {}, none, {"", "x"}, kCarriedStamp), EntryError);
  EXPECT_THROW(WriteUpdateEntry({}, {}, none, {std::string("a\0b", 3), "x"}, kCarriedStamp), EntryError);
  EXPECT_THROW(WriteUpdateEntry({}, {}, none, {"a", std::string("x\0", 2)}, kCarriedStamp), EntryError);
  EXPECT_NO_THROW(WriteUpdateEntry({}, {}, none, {"a", ""}, kCarriedStamp));
}

TEST(EntryRefusals, StampsThatAreNoCalendarTime) {
  EXPECT_TRUE(producer::IsValidStamp({2008, 2, 29, 0, 0, 0}));
  EXPECT_TRUE(producer::IsValidStamp({2000, 2, 29, 23, 59, 59}));
  EXPECT_TRUE(producer::IsValidStamp({1601, 1, 1, 0, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2007, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({1900, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2008, 4, 31, 0, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2008, 13, 1, 0, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2008, 0, 1, 0, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2008, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2008, 1, 1, 24, 0, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2008, 1, 1, 0, 60, 0}));
  EXPECT_FALSE(producer::IsValidStamp({2008, 1, 1, 0, 0, 60}));
  EXPECT_FALSE(producer::IsValidStamp({1600, 12, 31, 0, 0, 0}));
  EXPECT_THROW(WriteUpdateEntry({}, {}, std::vector<Op>{}, {"a", ""}, Stamp{2007, 2, 29, 0, 0, 0}), EntryError);
}

}  // namespace
