// patchtool pack and info: where the patch data lands behind the applier image, the
// refusal of images the applier would misread, and the inspection of good and bad data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/patch/format.h"
#include "test_support.h"

namespace {

using test_support::Bytes;
using test_support::Exists;
using test_support::ProgramLikeBytes;
using test_support::RandomBytes;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::Tool;
using test_support::WriteFile;

// An image without "Diff" anywhere.
Bytes Image(size_t n, uint32_t seed) {
  Bytes image = RandomBytes(n, seed);
  for (size_t i = 0; i + 4 <= image.size(); ++i) {
    if (std::memcmp(&image[i], "\x44\x69\x66\x66", 4) == 0) image[i] = 0;
  }
  return image;
}

void PutDiff(Bytes& image, size_t at) { std::memcpy(&image[at], "\x44\x69\x66\x66", 4); }

class PackAndInfo : public testing::Test {
 protected:
  void SetUp() override {
    const Bytes old_data = ProgramLikeBytes(100'000, 1);
    Bytes new_data = old_data;
    new_data.insert(new_data.begin() + 5000, 100, 0x41);
    WriteFile(dir / "old", old_data);
    WriteFile(dir / "new", new_data);
    const auto run = Tool({"make", dir / "old", dir / "new", "-o", patch_path, "--name", "Lunder19.exe"});
    ASSERT_EQ(run.code, 0) << run.err;
    patch_data = ReadFile(patch_path);
  }
  TempDir dir;
  std::string patch_path = dir / "p.diff";
  std::string out_path = dir / "Lunder19Patch.EXE";
  Bytes patch_data;
};

TEST_F(PackAndInfo, ShortImageIsPaddedWithZerosToTheSearchStart) {
  const Bytes image = Image(15'000, 2);
  WriteFile(dir / "applier.exe", image);
  const auto pack = Tool({"pack", dir / "applier.exe", patch_path, "-o", out_path});
  ASSERT_EQ(pack.code, 0) << pack.err;
  const Bytes packed = ReadFile(out_path);
  ASSERT_EQ(packed.size(), patch::SEARCH_START + patch_data.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), packed.begin()));
  EXPECT_TRUE(std::all_of(packed.begin() + 15'000, packed.begin() + patch::SEARCH_START, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(patch_data.begin(), patch_data.end(), packed.begin() + patch::SEARCH_START));

  const auto info = Tool({"info", out_path});
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("applier image at offset 20000"), std::string::npos) << info.out;
}

TEST_F(PackAndInfo, LongImageIsFollowedDirectly) {
  Bytes image = Image(25'000, 3);
  PutDiff(image, 19'999);  // starts before the search start: never found
  WriteFile(dir / "applier.exe", image);
  const auto pack = Tool({"pack", dir / "applier.exe", patch_path, "-o", out_path});
  ASSERT_EQ(pack.code, 0) << pack.err;
  EXPECT_EQ(ReadFile(out_path).size(), 25'000 + patch_data.size());
  const auto info = Tool({"info", out_path, "--json"});
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("\"patch_offset\": 25000"), std::string::npos) << info.out;
}

TEST_F(PackAndInfo, ImageHoldingDiffFromTheSearchStartOnIsRefused) {
  for (const size_t at : {size_t{20'000}, size_t{24'996}}) {
    Bytes image = Image(25'000, 4);
    PutDiff(image, at);
    WriteFile(dir / "applier.exe", image);
    const auto run = Tool({"pack", dir / "applier.exe", patch_path, "-o", out_path});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("offset " + std::to_string(at)), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(out_path));
  }
}

TEST_F(PackAndInfo, PatchThatIsNoPatchDataIsRefused) {
  WriteFile(dir / "applier.exe", Image(15'000, 5));
  WriteFile(dir / "notpatch", Bytes{'D', 'i', 'f', 'x', 0, 0});
  EXPECT_EQ(Tool({"pack", dir / "applier.exe", dir / "notpatch", "-o", out_path}).code, 1);
  Bytes cut(patch_data.begin(), patch_data.end() - 5);
  WriteFile(dir / "cut", cut);
  EXPECT_EQ(Tool({"pack", dir / "applier.exe", dir / "cut", "-o", out_path}).code, 1);
  EXPECT_FALSE(Exists(out_path));
}

TEST_F(PackAndInfo, InfoReportsTheEntry) {
  const auto info = Tool({"info", patch_path});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("bare patch data at offset 0"), std::string::npos);
  EXPECT_NE(info.out.find("format_version  104"), std::string::npos);
  EXPECT_NE(info.out.find("flags           0x00 (none)"), std::string::npos);
  EXPECT_NE(info.out.find("new_size        100100"), std::string::npos);
  EXPECT_NE(info.out.find("target_name     Lunder19.exe"), std::string::npos);
  // UTF-8 on the terminal.
  EXPECT_NE(info.out.find(test_support::Utf8(u8"アップデート Lunder19.exe")), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("total length 100100"), std::string::npos);
  EXPECT_NE(info.out.find("chain: complete"), std::string::npos);

  const auto json = Tool({"info", patch_path, "--json"});
  ASSERT_EQ(json.code, 0);
  EXPECT_NE(json.out.find("\"kind\": \"update\""), std::string::npos);
  EXPECT_NE(json.out.find("\"target_folder\": \"\""), std::string::npos);
  EXPECT_NE(json.out.find("\"total_length\": 100100"), std::string::npos);
  EXPECT_NE(json.out.find("\"literal_bytes\": 100,"), std::string::npos) << json.out;
}

TEST_F(PackAndInfo, InfoJsonEscapesTheTexts) {
  const struct {
    const char* description;
    const char* json;
  } cases[] = {{"say \"hi\"", R"("say \"hi\"")"},
               {"C:\\x\\", R"("C:\\x\\")"},
               {"a\tb\nc", R"("a\tb\nc")"},
               {"a\x01" "b", R"("a\u0001b")"}};
  for (const auto& c : cases) {
    ASSERT_EQ(Tool({"make", dir / "old", dir / "new", "-o", dir / "q", "--description", c.description}).code, 0);
    const auto json = Tool({"info", dir / "q", "--json"});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_NE(json.out.find(std::string("\"description\": ") + c.json + ",\n"), std::string::npos) << json.out;
  }
}

TEST_F(PackAndInfo, InfoNamesTheFlags) {
  Bytes edited = patch_data;
  edited[6] = 0x03 | 0x10;
  WriteFile(dir / "flags", edited);
  const auto info = Tool({"info", dir / "flags"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("0x13 (FLAG_NO_BACKUP | FLAG_SKIP_ON_MISMATCH | 0x10)"), std::string::npos) << info.out;

}

TEST_F(PackAndInfo, MalformedDataGivesOneLineAndNonZeroExit) {
  const std::vector<Bytes> bad = {
      Bytes(patch_data.begin(), patch_data.begin() + 20),     // header cut short
      Bytes(patch_data.begin(), patch_data.end() - 3),        // stream cut short
      [&] { Bytes b = patch_data; b[5] = 5; return b; }(),    // format_version 105
      [&] { Bytes b = patch_data; b.push_back(1); b.push_back(2); return b; }(),  // two bytes after the chain
      RandomBytes(30'000, 6),                                  // no "Diff" at all
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    WriteFile(dir / "bad", bad[i]);
    const auto run = Tool({"info", dir / "bad"});
    EXPECT_EQ(run.code, 1) << "case " << i;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  // Exactly the four bytes of the magic: bare patch data whose header is cut short.
  WriteFile(dir / "magic", Bytes{0x44, 0x69, 0x66, 0x66});
  const auto magic = Tool({"info", dir / "magic"});
  EXPECT_EQ(magic.code, 1);
  EXPECT_NE(magic.err.find("offset 0: the header runs past the end"), std::string::npos) << magic.err;
  // One extra byte after the last entry is tolerated, as by the applier.
  Bytes one_more = patch_data;
  one_more.push_back(0xAA);
  WriteFile(dir / "extra", one_more);
  EXPECT_EQ(Tool({"info", dir / "extra"}).code, 0);
}

}  // namespace
