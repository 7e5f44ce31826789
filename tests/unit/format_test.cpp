// The patch data reader, grouped by the part of the format each case breaks:
// placement, header, body shapes, record stream and chain.
#include <gtest/gtest.h>

#include "core/patch/format.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;
using patch::Image;

Image View(const Bytes& b) { return Image(b.data(), b.size()); }

// ---- Placement ----

TEST(Placement, DiffBeforeSearchStartIsNeverFound) {
  Bytes image(patch::SEARCH_START + 10, 0);
  const Bytes magic = {'D', 'i', 'f', 'f'};
  std::copy(magic.begin(), magic.end(), image.begin() + 100);
  std::copy(magic.begin(), magic.end(), image.begin() + patch::SEARCH_START - 1);  // straddles the start
  uint32_t at = 0;
  EXPECT_FALSE(patch::FindPatchData(View(image), &at));
}

TEST(Placement, FirstDiffFromSearchStartOnIsTaken) {
  Bytes image(patch::SEARCH_START + 100, 0);
  for (uint32_t p : {patch::SEARCH_START + 50u, patch::SEARCH_START + 7u}) {
    std::copy_n("Diff", 4, image.begin() + p);
  }
  uint32_t at = 0;
  ASSERT_TRUE(patch::FindPatchData(View(image), &at));
  EXPECT_EQ(at, patch::SEARCH_START + 7u);
}

TEST(Placement, DiffEndingAtTheLastByteIsFound) {
  Bytes image(patch::SEARCH_START + 20, 0);
  std::copy_n("Diff", 4, image.end() - 4);
  uint32_t at = 0;
  ASSERT_TRUE(patch::FindPatchData(View(image), &at));
  EXPECT_EQ(at, image.size() - 4);
  image.pop_back();  // now only "Dif" at the end
  EXPECT_FALSE(patch::FindPatchData(View(image), &at));
}

TEST(Placement, PackedOntoTheApplierTheDataBeginsWhereItsSectionsEnd) {
  Entry e;
  e.body = Body().Literal("x").bytes;
  for (const size_t prefix : {size_t{patch::SEARCH_START}, size_t{patch::SEARCH_START} + 512}) {
    Bytes image = MakePackedImage({e, e}, prefix);
    EXPECT_EQ(patch::PeSectionsEnd(View(image)), prefix);
    uint32_t at = 0;
    ASSERT_TRUE(patch::FindPatchData(View(image), &at));
    EXPECT_EQ(at, prefix);
    // A damaged first magic: the second entry must not pass for the first.
    image[prefix] = 'E';
    EXPECT_FALSE(patch::FindPatchData(View(image), &at)) << prefix;
    // Not a program file (bare patch data behind zeros): the first "Diff" counts, as always.
    image[0] = 0;
    ASSERT_TRUE(patch::FindPatchData(View(image), &at));
    EXPECT_GT(at, prefix);
  }
}

TEST(Placement, ShortImagesHaveNoPatchData) {
  uint32_t at = 0;
  EXPECT_FALSE(patch::FindPatchData(Image(), &at));
  Bytes image(patch::SEARCH_START + 3, 'D');
  EXPECT_FALSE(patch::FindPatchData(View(image), &at));
}

// ---- Header ----

patch::HeaderOutcome Parse(const Entry& e, patch::EntryHeader* h) {
  static Bytes keep;
  keep = MakeImage({e}, 0);
  return patch::ParseEntryHeader(View(keep), 0, h);
}

TEST(Header, ReadsEveryFieldOfTheCarriedEntry) {
  Entry e;
  e.old_crc = 0xBA2D6256;
  e.new_crc = 0xE2C861D5;
  e.old_size = e.new_size = 5189120;
  e.reserved = 0x77;
  e.body = Body().Copy(100, 0).bytes;
  const Bytes image = MakeImage({e}, 0);
  // The fixed part as it stands in the carried file.
  const Bytes fixed = {0x44, 0x69, 0x66, 0x66, 0x01, 0x04, 0x00, 0x77, 0x56, 0x62, 0x2D, 0xBA, 0xD5, 0x61, 0xC8, 0xE2,
                       0x00, 0x2E, 0x4F, 0x00, 0x00, 0x2E, 0x4F, 0x00, 0xD8, 0x07, 0x01, 0x1E, 0x10, 0x30, 0x09};
  ASSERT_TRUE(std::equal(fixed.begin(), fixed.end(), image.begin()));
  patch::EntryHeader h;
  ASSERT_EQ(patch::ParseEntryHeader(View(image), 0, &h), patch::HeaderOutcome::Ok);
  EXPECT_EQ(h.format_version, 104u);
  EXPECT_EQ(h.old_crc, 0xBA2D6256u);
  EXPECT_EQ(h.new_crc, 0xE2C861D5u);
  EXPECT_EQ(h.new_size, 5189120u);
  EXPECT_EQ(h.stamp_year, 2008);
  EXPECT_EQ(h.stamp_month, 1);
  EXPECT_EQ(h.stamp_day, 30);
  EXPECT_EQ(h.stamp_hour, 16);
  EXPECT_EQ(h.stamp_minute, 48);
  EXPECT_EQ(h.stamp_second, 9);
  EXPECT_STREQ(h.target_name.data, "Lunder19.exe");
  EXPECT_EQ(h.target_name.length, 12u);
  EXPECT_EQ(h.description.length, 24u);  // "アップデート Ver1.0⇒2.0" in code page 932
  EXPECT_EQ(h.target_folder.length, 0u);
  EXPECT_EQ(h.body_offset, 70u);
  EXPECT_EQ(h.kind, patch::EntryKind::Update);

  // Each field from its own place: sizes, checksums and stamp fields all different.
  e.old_size = 0x01020304;
  e.new_size = 0x0A0B0C0D;
  e.month = 12;
  e.day = 31;
  e.hour = 23;
  e.minute = 59;
  e.second = 58;
  ASSERT_EQ(Parse(e, &h), patch::HeaderOutcome::Ok);
  EXPECT_EQ(h.old_size, 0x01020304u);
  EXPECT_EQ(h.new_size, 0x0A0B0C0Du);
  EXPECT_EQ(h.old_crc, 0xBA2D6256u);
  EXPECT_EQ(h.new_crc, 0xE2C861D5u);
  EXPECT_EQ(h.reserved, 0x77);
  EXPECT_EQ(std::vector<int>({h.stamp_month, h.stamp_day, h.stamp_hour, h.stamp_minute, h.stamp_second}),
            std::vector<int>({12, 31, 23, 59, 58}));
}

TEST(Header, VersionsUpTo104And200AreAcceptedAndOnlyFrom101WithAFolder) {
  struct Case {
    uint8_t major, minor;
    patch::HeaderOutcome outcome;
    bool folder;
  } cases[] = {{0, 99, patch::HeaderOutcome::Ok, false},          {1, 0, patch::HeaderOutcome::Ok, false},
               {1, 1, patch::HeaderOutcome::Ok, true},            {1, 4, patch::HeaderOutcome::Ok, true},
               {1, 5, patch::HeaderOutcome::VersionTooHigh, false}, {2, 0, patch::HeaderOutcome::Ok, true},
               {1, 99, patch::HeaderOutcome::VersionTooHigh, false}, {2, 1, patch::HeaderOutcome::VersionTooHigh, false},
               {0, 255, patch::HeaderOutcome::VersionTooHigh, false},
               // Only major * 100 + minor counts.
               {1, 100, patch::HeaderOutcome::Ok, true},            {0, 200, patch::HeaderOutcome::Ok, true},
               {0, 104, patch::HeaderOutcome::Ok, true}};
  for (const Case& c : cases) {
    Entry e;
    e.major = c.major;
    e.minor = c.minor;
    e.folder = "sub";
    e.body = Body().Literal("x").bytes;
    patch::EntryHeader h;
    ASSERT_EQ(Parse(e, &h), c.outcome) << int(c.major) << "." << int(c.minor);
    if (c.outcome != patch::HeaderOutcome::Ok) continue;
    EXPECT_EQ(h.has_target_folder, c.folder);
    const size_t strings = 31 + e.name.size() + 1 + e.description.size() + 1 + (c.folder ? 4 : 0);
    EXPECT_EQ(h.body_offset, strings);
    EXPECT_STREQ(h.target_folder.data, c.folder ? "sub" : "");
  }
}

TEST(Header, EmptyFolderAt104EqualsNoFolderAt100) {
  Entry a, b;
  b.major = 1;
  b.minor = 0;
  patch::EntryHeader ha, hb;
  ASSERT_EQ(Parse(a, &ha), patch::HeaderOutcome::Ok);
  ASSERT_EQ(Parse(b, &hb), patch::HeaderOutcome::Ok);
  EXPECT_EQ(ha.target_folder.length, 0u);
  EXPECT_EQ(hb.target_folder.length, 0u);
  EXPECT_EQ(ha.body_offset, hb.body_offset + 1);
}

TEST(Header, TruncatedFixedPartOrStringIsRefused) {
  Entry e;
  const Bytes whole = MakeImage({e}, 0);  // ends right after the folder terminator
  patch::EntryHeader h;
  ASSERT_EQ(patch::ParseEntryHeader(View(whole), 0, &h), patch::HeaderOutcome::Ok);
  for (size_t cut = 4; cut < whole.size(); ++cut) {
    const Bytes part(whole.begin(), whole.begin() + cut);
    EXPECT_EQ(patch::ParseEntryHeader(View(part), 0, &h), patch::HeaderOutcome::Truncated) << cut;
  }
}

TEST(Header, TooHighVersionIsReportedEvenWhenTheRestIsMissing) {
  const Bytes six = {'D', 'i', 'f', 'f', 1, 5};
  patch::EntryHeader h;
  EXPECT_EQ(patch::ParseEntryHeader(View(six), 0, &h), patch::HeaderOutcome::VersionTooHigh);
}

TEST(Header, FlagPrecedence) {
  struct Case {
    uint8_t flags;
    patch::EntryKind kind;
  } cases[] = {{0x00, patch::EntryKind::Update},         {0x1F, patch::EntryKind::Update},
               {0x80 | 0x40 | 0x20, patch::EntryKind::OpenDocument}, {0x40 | 0x20, patch::EntryKind::Delete},
               {0x20 | 0x03, patch::EntryKind::CreateIfMissing}};
  for (const Case& c : cases) {
    Entry e;
    e.flags = c.flags;
    patch::EntryHeader h;
    ASSERT_EQ(Parse(e, &h), patch::HeaderOutcome::Ok);
    EXPECT_EQ(h.kind, c.kind) << int(c.flags);
  }
}

// ---- Body shapes ----

patch::BodyOutcome Walk(const Entry& e, patch::BodySummary* s, const uint32_t* old_size = nullptr,
                        size_t trailing = 0) {
  static Bytes keep;
  keep = MakeImage({e}, 0);
  keep.resize(keep.size() + trailing, 0x55);
  patch::EntryHeader h;
  EXPECT_EQ(patch::ParseEntryHeader(View(keep), 0, &h), patch::HeaderOutcome::Ok);
  return patch::WalkBody(View(keep), h, old_size, s);
}

TEST(BodyShape, DeleteEntryHasNoBody) {
  Entry del;
  del.flags = patch::FLAG_DELETE;
  Entry next;
  next.body = Body().Literal("x").bytes;
  next.new_size = 1;
  const Bytes image = MakeImage({del, next}, 0);
  patch::EntryHeader h;
  ASSERT_EQ(patch::ParseEntryHeader(View(image), 0, &h), patch::HeaderOutcome::Ok);
  patch::BodySummary s;
  ASSERT_EQ(patch::WalkBody(View(image), h, nullptr, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.end, h.body_offset);
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::NextEntry);
}

TEST(BodyShape, TouchMarkerOnlyAsFirstWord) {
  Entry touch;
  touch.new_size = 5000;  // not 0, still a touch marker
  touch.body = Body().Touch().bytes;
  patch::BodySummary s;
  ASSERT_EQ(Walk(touch, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.shape, patch::BodyShape::TouchMarker);

  Entry later;
  later.new_size = 3;
  later.body = Body().Literal("a").Touch().Literal("bc").bytes;  // the 0x8000 is an empty copy
  ASSERT_EQ(Walk(later, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.shape, patch::BodyShape::Records);
  EXPECT_EQ(s.copy_records, 1u);
  EXPECT_EQ(s.literal_records, 2u);
  EXPECT_EQ(s.total_length, 3u);
}

TEST(BodyShape, EmptyBodyOfAnUpdateEntryIsRefused) {
  Entry e;
  e.new_size = 10;
  patch::BodySummary s;
  EXPECT_EQ(Walk(e, &s), patch::BodyOutcome::RecordPastEnd);
}

// ---- Record stream ----

TEST(RecordStream, EndsAtNewSizeExactlyOrOvershooting) {
  Entry exact;
  exact.new_size = 6;
  exact.body = Body().Literal("abc").Literal("def").bytes;
  patch::BodySummary s;
  ASSERT_EQ(Walk(exact, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.total_length, 6u);

  Entry over;
  over.new_size = 4;
  over.body = Body().Literal("abc").Literal("def").bytes;
  ASSERT_EQ(Walk(over, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.total_length, 6u);
  EXPECT_EQ(s.literal_records, 2u);
}

TEST(RecordStream, ZeroLengthRecordsProduceNothing) {
  Entry e;
  e.new_size = 2;
  e.body = Body().Literal(Bytes{}).Copy(0, 0xFFFFFFFF).Literal("ab").bytes;
  patch::BodySummary s;
  const uint32_t old_size = 0;
  ASSERT_EQ(Walk(e, &s, &old_size), patch::BodyOutcome::Ok);  // an empty copy reads nothing
  EXPECT_EQ(s.total_length, 2u);
  EXPECT_EQ(s.copy_records + s.literal_records, 3u);
}

TEST(RecordStream, NewSizeZeroReadsOneRecord) {
  Entry e;
  e.new_size = 0;
  e.body = Body().Literal("zz").bytes;
  const Bytes image = MakeImage({e, e}, 0);
  patch::EntryHeader h;
  ASSERT_EQ(patch::ParseEntryHeader(View(image), 0, &h), patch::HeaderOutcome::Ok);
  patch::BodySummary s;
  ASSERT_EQ(patch::WalkBody(View(image), h, nullptr, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.literal_records, 1u);
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::NextEntry);
}

TEST(RecordStream, ShortOfNewSizeAtTheLastByteIsBroken) {
  Entry e;
  e.new_size = 10;
  e.body = Body().Literal("abc").bytes;
  patch::BodySummary s;
  EXPECT_EQ(Walk(e, &s), patch::BodyOutcome::StreamBroken);
  // One byte more does not help: the read position is then at the last byte.
  EXPECT_EQ(Walk(e, &s, nullptr, 1), patch::BodyOutcome::StreamBroken);
  // Two bytes more are read as the next record's head, whose data runs past the end.
  EXPECT_EQ(Walk(e, &s, nullptr, 2), patch::BodyOutcome::RecordPastEnd);
}

TEST(RecordStream, RecordsMustEndInsideTheData) {
  // The last record of the data ends exactly at its end, or one byte short of it.
  struct Case {
    Bytes body;
    patch::BodyOutcome outcome;
  } cases[] = {
      {{0x05, 0x00, 'a', 'b'}, patch::BodyOutcome::RecordPastEnd},
      {{0x03, 0x00, 'a', 'b'}, patch::BodyOutcome::RecordPastEnd},  // one byte past
      {{0x02, 0x00, 'a', 'b'}, patch::BodyOutcome::Ok},
      {{0x05, 0x80, 0, 0, 0}, patch::BodyOutcome::RecordPastEnd},     // one byte past
      {{0x02, 0x80, 0, 0, 0, 0}, patch::BodyOutcome::Ok},
      {{0x00}, patch::BodyOutcome::RecordPastEnd},
  };
  for (const Case& c : cases) {
    Entry e;
    e.new_size = 2;
    e.body = c.body;
    patch::BodySummary s;
    EXPECT_EQ(Walk(e, &s, nullptr), c.outcome) << c.body.size() << " bytes";
    const Bytes image = MakeImage({e}, 0);
    patch::Record r;
    EXPECT_EQ(patch::ReadRecord(View(image), image.size() - c.body.size(), &r), c.outcome == patch::BodyOutcome::Ok);
  }
}

TEST(RecordStream, CopyReachingOutsideTheOldContentsIsRefused) {
  Entry e;
  e.new_size = 20;
  e.body = Body().Copy(10, 0).Copy(10, 91).bytes;
  patch::BodySummary s;
  uint32_t old_size = 101;
  EXPECT_EQ(Walk(e, &s, &old_size), patch::BodyOutcome::Ok);
  EXPECT_EQ(s.furthest_copy, 101u);
  old_size = 100;
  EXPECT_EQ(Walk(e, &s, &old_size), patch::BodyOutcome::CopyOutsideOld);
  e.new_size = 10;
  e.body = Body().Copy(10, 0xFFFFFFFA).bytes;  // wraps around in 32 bits
  old_size = 0xFFFFFFFF;
  EXPECT_EQ(Walk(e, &s, &old_size), patch::BodyOutcome::CopyOutsideOld);
  EXPECT_EQ(Walk(e, &s, nullptr), patch::BodyOutcome::Ok);  // not checked when nothing is read
}

TEST(RecordStream, AnyCopyInACreateEntryIsRefused) {
  Entry e;
  e.flags = patch::FLAG_CREATE_IF_MISSING;
  e.new_size = 3;
  e.body = Body().Literal("ab").Copy(0, 0).Literal("c").bytes;
  patch::BodySummary s;
  EXPECT_EQ(Walk(e, &s), patch::BodyOutcome::CopyWithoutOld);
}

// ---- Chain ----

TEST(Chain, OneExtraByteIsToleratedTwoAreBroken) {
  Entry e;
  e.new_size = 1;
  e.body = Body().Literal("a").bytes;
  Bytes image = MakeImage({e}, 0);
  patch::EntryHeader h;
  ASSERT_EQ(patch::ParseEntryHeader(View(image), 0, &h), patch::HeaderOutcome::Ok);
  patch::BodySummary s;
  ASSERT_EQ(patch::WalkBody(View(image), h, nullptr, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::Complete);
  image.push_back('D');
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::Complete);
  image.push_back('i');
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::Broken);
  image.push_back('f');
  image.push_back('f');
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::NextEntry);
}

TEST(Chain, RecordsAfterNewSizeBreakTheChain) {
  Entry e;
  e.new_size = 2;
  e.body = Body().Literal("ab").Literal("cd").bytes;
  patch::BodySummary s;
  ASSERT_EQ(Walk(e, &s), patch::BodyOutcome::Ok);
  const Bytes image = MakeImage({e}, 0);
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::Broken);
}

TEST(Chain, TouchMarkerAtTheVeryEndCompletesTheChain) {
  Entry e;
  e.body = {0x00, 0x80};  // only the marker word; the four bytes after it are never read
  patch::BodySummary s;
  ASSERT_EQ(Walk(e, &s), patch::BodyOutcome::Ok);
  const Bytes image = MakeImage({e}, 0);
  EXPECT_GT(s.end, image.size());
  EXPECT_EQ(patch::ChainStep(View(image), s.end), patch::ChainOutcome::Complete);
}

}  // namespace
