// Compressed-streams bodies: decoding hand-made bodies (streams deflated here with zlib,
// independently of the producer), the x86 branch transform, and chains that mix both
// body formats in one run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/patch/applier_run.h"
#include "core/patch/engine.h"
#include "core/patch/format2.h"
#include "core/patch/memory_platform.h"
#include "core/patch/messages.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;
using patch::Body2Outcome;

Body2Outcome Decode(const Bytes& old_file, uint32_t new_size, const Streams& s, Bytes* out) {
  Entry e = StreamsEntry(old_file, {}, s.Body());
  e.new_size = new_size;
  const Bytes image = e.Encode();
  patch::EntryHeader h;
  EXPECT_EQ(patch::ParseEntryHeader(patch::Image(image.data(), image.size()), 0, &h), patch::HeaderOutcome::Ok);
  out->assign(new_size, 0xEE);
  return patch::DecodeBody2(patch::Image(image.data(), image.size()), h, old_file, out->data());
}

const Bytes kOld = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};

TEST(StreamsDecode, RecordsRebuildOrRefuse) {
  struct Case {
    const char* what;
    Streams streams;
    uint32_t new_size;
    Body2Outcome outcome;
    std::string expected;
  } cases[] = {
      {"copy, new bytes, copy behind the first", Streams().Copy(3, 2, 2).Copy(2, -5, 0).Run(5, {}).New("XY"), 7,
       Body2Outcome::Ok, "cdeXYab"},
      {"differences added modulo 256", Streams().Copy(4, 0, 0).Run(1, {1, 0xFF}).Run(1, {}), 4, Body2Outcome::Ok,
       "acbd"},
      {"new bytes only", Streams().Copy(0, 0, 3).New("xyz"), 3, Body2Outcome::Ok, "xyz"},
      {"empty file, empty streams", Streams(), 0, Body2Outcome::Ok, ""},
      {"copy ends past the old contents", Streams().Copy(3, 8, 0).Run(3, {}), 3, Body2Outcome::CopyOutsideOld, ""},
      {"copy starts before the old contents", Streams().Copy(3, -1, 0).Run(3, {}), 3, Body2Outcome::CopyOutsideOld,
       ""},
      {"runs end before the copies", Streams().Copy(4, 0, 0).Run(3, {}), 4, Body2Outcome::DifferencesRunOut, ""},
      {"record goes past new_size", Streams().Copy(3, 0, 1).Run(3, {}).New("a"), 3, Body2Outcome::ControlBroken,
       ""},
      {"records end short of new_size", Streams().Copy(2, 0, 0).Run(2, {}), 3, Body2Outcome::ControlBroken, ""},
      {"more than the body can produce", Streams().Copy(0, 0, 2).New("ab"), 3, Body2Outcome::BadSizes, ""},
      {"empty record", Streams().Copy(0, 0, 0).Copy(0, 0, 1).New("a"), 1, Body2Outcome::ControlBroken, ""},
      {"new bytes run out", Streams().Copy(1, 0, 2).Run(1, {}).New("a"), 3, Body2Outcome::NewBytesRunOut, ""},
      {"new bytes left over", Streams().Copy(1, 0, 1).Run(1, {}).New("ab"), 2, Body2Outcome::TrailingData, ""},
      {"runs left over", Streams().Copy(1, 0, 0).Run(1, {}).Run(1, {}), 1, Body2Outcome::TrailingData, ""},
      {"control records left over", Streams().Copy(1, 0, 0).Copy(1, 0, 0).Run(1, {}), 1, Body2Outcome::TrailingData,
       ""},
      {"run longer than the copies", Streams().Copy(1, 0, 0).Run(2, {}), 1, Body2Outcome::TrailingData, ""},
      {"change spanning two copies", Streams().Copy(2, 0, 0).Copy(2, 4, 0).Run(1, {1, 1}).Run(1, {}), 4,
       Body2Outcome::Ok, "achh"},
      // Leading zero groups are allowed up to the fifth byte; a sixth byte never is.
      {"numbers with leading zero groups",
       [] {
         Streams s;
         s.control = {0x80, 0x03, 0x80, 0x80, 0x80, 0x80, 0x04, 0x00};  // n 3, delta 4 (+2), m 0
         s.Run(3, {});
         return s;
       }(),
       3, Body2Outcome::Ok, "cde"},
      {"a number of six bytes",
       [] {
         Streams s;
         s.control = {0x80, 0x80, 0x80, 0x80, 0x80, 0x03, 0x04, 0x00};
         s.Run(3, {});
         return s;
       }(),
       3, Body2Outcome::ControlBroken, ""},
      {"gap shorter than the change before it",
       [] {
         Streams s = Streams().Copy(4, 0, 0).Run(0, {1, 1});
         Varint(s.gaps, 1);  // begins inside the previous change
         s.changes.insert(s.changes.end(), {2, 1, 1});
         return s;
       }(),
       4, Body2Outcome::ControlBroken, ""},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(Decode(kOld, c.new_size, c.streams, &out), c.outcome) << c.what;
    if (c.outcome == Body2Outcome::Ok) {
      EXPECT_EQ(std::string(out.begin(), out.end()), c.expected) << c.what;
    }
  }
}

TEST(StreamsDecode, HeadAndPackedStreamsAreChecked) {
  const Streams good = Streams().Copy(0, 0, 3).New("xyz");
  struct Case {
    const char* what;
    size_t at;     // byte of the body changed
    uint8_t xor_with;
    size_t cut;    // bytes removed from the end
    Body2Outcome outcome;
  } cases[] = {
      {"unknown transform", 0, 0x07, 0, Body2Outcome::UnknownTransform},
      {"raw size without packed bytes", 1 + 8 * 2, 0x01, 0, Body2Outcome::BadSizes},
      {"new bytes stated larger than new_size", 1 + 8 * 3, 0x04, 0, Body2Outcome::BadSizes},
      {"control stated larger than inflated", 1, 0x01, 0, Body2Outcome::StreamCorrupt},
      {"corrupt deflate data", patch::kBody2HeadSize + 4, 0x55, 0, Body2Outcome::StreamCorrupt},
      {"last packed byte missing", 0, 0, 1, Body2Outcome::Truncated},
      {"head cut", 0, 0, good.Body().size() - 10, Body2Outcome::Truncated},
  };
  for (const Case& c : cases) {
    Bytes body = good.Body();
    body[c.at] ^= c.xor_with;
    body.resize(body.size() - c.cut);
    Entry e = StreamsEntry(kOld, {}, body);
    e.new_size = 3;
    const Bytes image = e.Encode();
    patch::EntryHeader h;
    ASSERT_EQ(patch::ParseEntryHeader(patch::Image(image.data(), image.size()), 0, &h), patch::HeaderOutcome::Ok);
    Bytes out(3);
    EXPECT_EQ(patch::DecodeBody2(patch::Image(image.data(), image.size()), h, kOld, out.data()), c.outcome) << c.what;
  }
}

TEST(StreamsDecode, ClaimedSizeBeyondWhatTheBodyCanProduceIsRefusedBeforeAllocating) {
  Entry e = StreamsEntry(kOld, {}, Streams().Copy(0, 0, 3).New("xyz").Body());
  e.new_size = 0xFFFFFFF0u;
  const Bytes image = e.Encode();
  patch::EntryHeader h;
  ASSERT_EQ(patch::ParseEntryHeader(patch::Image(image.data(), image.size()), 0, &h), patch::HeaderOutcome::Ok);
  patch::BodySummary walked;
  ASSERT_EQ(patch::WalkBody(patch::Image(image.data(), image.size()), h, nullptr, &walked), patch::BodyOutcome::Ok);
  patch::HeapBlock out;
  EXPECT_EQ(patch::RebuildBody(patch::Image(image.data(), image.size()), h, walked, kOld, &out),
            patch::ApplyOutcome::Broken);
  EXPECT_EQ(out.size(), 0u);
}

TEST(X86Branches, RoundTripsAndConvertsOnlyNearTargets) {
  Bytes code = Pattern(5000, 7);
  for (size_t i = 0; i + 5 < code.size(); i += 37) {
    code[i] = (i & 1) ? 0xE8 : 0xE9;
    code[i + 4] = (i & 2) ? 0x00 : 0xFF;
  }
  Bytes t = code;
  patch::X86BranchesEncode(t.data(), t.size());
  EXPECT_NE(t, code);
  patch::X86BranchesDecode(t.data(), t.size());
  EXPECT_EQ(t, code);

  // The same call at two places holds two relative targets but one absolute target.
  Bytes a = {0x90, 0xE8, 0x10, 0x00, 0x00, 0x00, 0xE8, 0x0B, 0x00, 0x00, 0x00, 0xE8, 1, 2, 3, 4};
  patch::X86BranchesEncode(a.data(), a.size());
  EXPECT_EQ(Bytes(a.begin() + 2, a.begin() + 6), Bytes(a.begin() + 7, a.begin() + 11));
  EXPECT_EQ(Bytes(a.begin() + 12, a.end()), (Bytes{1, 2, 3, 4}));  // a far target is left alone
  // A backward call that ends at the last byte: patches already made hold its absolute
  // target (6 - 6 = 0), so the conversion may never change.
  Bytes back = {0x90, 0xE8, 0xFA, 0xFF, 0xFF, 0xFF};
  patch::X86BranchesEncode(back.data(), back.size());
  EXPECT_EQ(back, (Bytes{0x90, 0xE8, 0, 0, 0, 0}));
}

TEST(StreamsRun, ChainMixingBothFormatsUpdatesInOrder) {
  const Bytes v1 = Pattern(3000, 1);
  Bytes v2 = v1;
  v2[100] += 3;
  v2.insert(v2.begin() + 2000, {'N', 'E', 'W'});
  Bytes v3 = v2;
  v3[5] ^= 0x40;
  // 1.04 from v1 to v2, then 2.00 from v2 to v3 (copy all with one difference), then a
  // 2.00 create-if-missing entry.
  Streams s;
  s.Copy(static_cast<uint32_t>(v3.size()), 0, 0)
      .Run(5, {static_cast<uint8_t>(v3[5] - v2[5])})
      .Run(static_cast<uint32_t>(v3.size() - 6), {});
  const Entry second = StreamsEntry(v2, v3, s.Body());
  const Bytes readme = {'h', 'i'};
  Entry create = StreamsEntry({}, readme, Streams().Copy(0, 0, 2).New("hi").Body());
  create.flags = patch::FLAG_CREATE_IF_MISSING;
  create.old_crc = 0;
  create.old_size = 0;
  create.name = "readme.txt";

  patch::MemoryPlatform pf;
  pf.AddFile("C:\\app\\Lunder19.exe", v1);
  pf.AddFile(pf.own_path, MakeImage({UpdateEntry(v1, v2), second, create}));
  patch::RunApplier(pf);
  ASSERT_FALSE(pf.boxes.empty());
  EXPECT_EQ(pf.boxes.back().text, patch::msg::kCompleted);
  EXPECT_EQ(pf.File("C:\\app\\Lunder19.exe")->data, v3);
  EXPECT_EQ(pf.File("C:\\app\\readme.txt")->data, readme);
  // One target, one transaction: its backup is the file installed before the run.
  EXPECT_EQ(pf.File("C:\\app\\Lunder19.OLD")->data, v1);
}

TEST(StreamsRun, BrokenBodyLeavesNoFileBehind) {
  const Bytes v1 = Pattern(3000, 1);
  const Bytes v2(v1.begin(), v1.begin() + 2000);
  const Entry broken = StreamsEntry(v1, v2, Streams().Copy(2001, 0, 0).Run(2001, {}).Body());
  patch::MemoryPlatform pf;
  pf.AddFile("C:\\app\\Lunder19.exe", v1);
  pf.AddFile(pf.own_path, MakeImage({broken}));
  patch::RunApplier(pf);
  ASSERT_EQ(pf.boxes.size(), 1u);
  EXPECT_EQ(pf.boxes[0].text, patch::msg::kBrokenData);
  EXPECT_EQ(pf.FilePaths(), (std::vector<std::string>{"C:\\app\\Lunder19.exe", pf.own_path}));
  EXPECT_EQ(pf.writes, 0u);
}

}  // namespace
