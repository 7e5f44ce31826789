// Every known-bad patch file must end the run with exactly the box listed beside it in
// cases.tsv, and must leave the installed file as it was. The files are bare patch
// data; here they are placed after a 20,000-byte applier image.
#include <gtest/gtest.h>
#include <iconv.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/patch/applier_run.h"
#include "core/patch/memory_platform.h"
#include "tests/unit/box_printer.h"

namespace {

struct Case {
  std::string group, file, target, text, caption, owner;
  uint32_t type = 0;
};

// The manifest is UTF-8; the applier's texts are code page 932.
std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* dst = out.data();
  size_t out_left = out.size();
  const size_t r = iconv(cd, &in, &in_left, &dst, &out_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) ADD_FAILURE() << "no code page 932 form: " << utf8;
  out.resize(out.size() - out_left);
  return out;
}

std::vector<Case> LoadCases() {
  std::vector<Case> cases;
  std::ifstream in(KNOWN_BAD_DIR "/cases.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Case c;
    std::string type;
    std::getline(fields, c.group, '\t');
    std::getline(fields, c.file, '\t');
    std::getline(fields, c.target, '\t');
    std::getline(fields, c.text, '\t');
    std::getline(fields, c.caption, '\t');
    std::getline(fields, c.owner, '\t');
    std::getline(fields, type, '\t');
    c.type = static_cast<uint32_t>(std::stoul(type));
    cases.push_back(c);
  }
  return cases;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> OldFile() {
  std::vector<uint8_t> b(3000);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
  return b;
}

class KnownBad : public ::testing::TestWithParam<Case> {};

TEST_P(KnownBad, ShowsItsExactMessageAndKeepsTheProgram) {
  const Case& c = GetParam();
  const std::vector<uint8_t> data = ReadFile(std::string(KNOWN_BAD_DIR "/cases/") + c.file);
  ASSERT_FALSE(data.empty()) << c.file;
  std::vector<uint8_t> image(patch::SEARCH_START, 0x90);
  image.insert(image.end(), data.begin(), data.end());

  patch::MemoryPlatform pf;
  const std::string target = "C:\\app\\Lunder19.exe";
  pf.AddFolder("C:\\app");
  if (c.target == "old") pf.AddFile(target, OldFile());
  pf.AddFile(pf.own_path, image);
  patch::RunApplier(pf);

  const patch::ShownBox expected{ToCp932(c.text), ToCp932(c.caption),
                                 c.owner == "dialog" ? patch::BoxOwner::Dialog : patch::BoxOwner::None, c.type};
  ASSERT_EQ(pf.boxes.size(), 1u);
  EXPECT_EQ(pf.boxes[0], expected);
  EXPECT_EQ(pf.outstanding_blocks, 0);
  EXPECT_EQ(pf.open_outputs, 0);
  EXPECT_FALSE(pf.dialog_open);
  EXPECT_EQ(pf.boxes_owned_without_dialog, 0);
  // The user's program is there: the old file, or the verified new one with the old as backup.
  if (c.target == "old") {
    ASSERT_TRUE(pf.HasFile(target));
    const bool unchanged = pf.File(target)->data == OldFile();
    const bool backed_up = pf.HasFile("C:\\app\\Lunder19.OLD") && pf.File("C:\\app\\Lunder19.OLD")->data == OldFile();
    EXPECT_TRUE(unchanged || backed_up);
  }
  // Damaged entries are refused before their output is created.
  if (c.group == "records") {
    EXPECT_FALSE(pf.HasFile("C:\\app\\UPDATE.TMP"));
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, KnownBad, ::testing::ValuesIn(LoadCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.file.substr(0, info.param.file.size() - 4);
                           for (char& ch : name)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
