// patchtool make with several old files: whichever of them is installed becomes NEW through
// the one chain, any other file is left untouched without a backup, and inputs that would
// let one entry run over another's result are refused without a file left behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/patch/format.h"
#include "test_support.h"

namespace {

using test_support::Bytes;
using test_support::Exists;
using test_support::ProgramLikeBytes;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::Tool;
using test_support::WriteFile;

Bytes Changed(Bytes data, size_t first, uint8_t mask) {
  for (size_t i = first; i < data.size(); i += 6000) data[i] ^= mask;
  return data;
}

class SeveralOld : public testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir / "v1", v1);
    WriteFile(dir / "v11", v11);
    WriteFile(dir / "v2", v2);
  }
  std::vector<std::string> Make(std::vector<std::string> olds) {
    std::vector<std::string> args{"make"};
    for (const auto& old : olds) args.insert(args.end(), {"--old", dir / old});
    args.insert(args.end(), {dir / "v2", "-o", patch_path, "--name", "Lunder19.exe", "--stamp", "2008-01-30 16:48:09"});
    return args;
  }

  TempDir dir;
  std::string patch_path = dir / "several.diff";
  Bytes v1 = ProgramLikeBytes(90'000, 7);
  Bytes v11 = Changed(v1, 500, 0x11);
  Bytes v2 = Changed(v1, 2000, 0x5A);
};

TEST_F(SeveralOld, EachOldVersionBecomesNewAndAnyOtherFileIsLeftAlone) {
  const auto made = Tool(Make({"v1", "v11"}));
  ASSERT_EQ(made.code, 0) << made.err;
  const Bytes chain = ReadFile(patch_path);
  patch::EntryHeader first;
  ASSERT_EQ(patch::ParseEntryHeader(chain, 0, &first), patch::HeaderOutcome::Ok);
  EXPECT_EQ(first.flags, patch::FLAG_SKIP_ON_MISMATCH);

  const Bytes unknown = Changed(v1, 100, 0x77);
  const struct {
    const char* what;
    const Bytes& installed;
    bool updated;
  } cases[] = {{"first old version", v1, true}, {"second old version", v11, true}, {"unknown version", unknown, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir install;
    WriteFile(install / "Lunder19.exe", c.installed);
    Bytes packed(patch::SEARCH_START, 0);
    packed.insert(packed.end(), chain.begin(), chain.end());
    WriteFile(install / "Lunder19Patch.EXE", packed);
    const auto run = Tool({"apply", install / "Lunder19Patch.EXE"});
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(install / "Lunder19.exe"), c.updated ? v2 : c.installed);
    // The wizard tells success from failure by the backup alone.
    EXPECT_EQ(Exists(install / "Lunder19.OLD"), c.updated);
    if (c.updated) {
      EXPECT_EQ(ReadFile(install / "Lunder19.OLD"), c.installed);
    }
    EXPECT_FALSE(Exists(install / "UPDATE.TMP"));
    EXPECT_EQ(Tool({"verify", patch_path, install / "Lunder19.OLD"}).code, c.updated ? 0 : 1);
  }
}

TEST_F(SeveralOld, RefusesOldFilesTheApplierCannotTellApart) {
  WriteFile(dir / "v1-copy", v1);
  const struct {
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {Make({"v1", "v1-copy"}), 1, "have the same checksum"},
      {Make({"v1", "v2"}), 1, "has the same checksum as NEW"},
      {{"make", "--old", dir / "v1", dir / "v2"}, 2, "missing -o PATCH"},
      {{"make", "--old", dir / "v1", dir / "v11", dir / "v2", "-o", patch_path}, 2, "with several old files"},
      {{"make", dir / "v2", "-o", patch_path, "--old"}, 2, "--old needs a value"},
      {Make({"v1", "missing"}), 1, "missing"},
  };
  for (const auto& c : cases) {
    const auto run = Tool(c.args);
    EXPECT_EQ(run.code, c.code) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(patch_path));
    EXPECT_FALSE(Exists(patch_path + ".part1")) << c.message;
  }
}

}  // namespace
