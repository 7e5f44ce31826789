// patchtool apply: the applier's run over real files in a temporary folder, with the
// files it must leave behind on success and on every refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <set>

#include "core/patch/format.h"
#include "core/producer/entry_writer.h"
#include "test_support.h"
#include "tests/unit/patch_builder.h"
#include "tools/patchtool/posix_platform.h"

namespace {

using test_support::Bytes;
using test_support::Exists;
using test_support::MTime;
using test_support::ProgramLikeBytes;
using test_support::RandomBytes;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::Tool;
using test_support::Utf8;
using test_support::WriteFile;

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::set<std::string> Names(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

class ApplyCommand : public testing::Test {
 protected:
  void SetUp() override {
    old_data = ProgramLikeBytes(120'000, 1);
    new_data = old_data;
    for (size_t i = 300; i < new_data.size(); i += 7000) new_data[i] ^= 0x33;
    entry = MakeEntry();
  }
  Bytes MakeEntry() {
    const auto matcher = producer::MakeHashMatcher();
    return producer::MakeUpdateEntry(*matcher, old_data, new_data, {"Lunder19.exe", "x", ""},
                                     producer::Stamp{2008, 1, 30, 16, 48, 9});
  }
  // The entry behind a small applier image, as the wizard writes it into the folder.
  void InstallApplier(const Bytes& patch_data, const std::string& folder) {
    Bytes packed(4000, 0x90);
    packed.resize(patch::SEARCH_START, 0);
    packed.insert(packed.end(), patch_data.begin(), patch_data.end());
    WriteFile(folder + "/Lunder19Patch.EXE", packed);
  }

  TempDir dir;
  std::string install = dir.path().string();
  Bytes old_data, new_data, entry;
};

TEST_F(ApplyCommand, SuccessLeavesNewFileBackupAndStamp) {
  // The installed name differs in case from the entry's target name.
  WriteFile(install + "/Lunder19.EXE", old_data);
  WriteFile(install + "/update.tmp", Bytes{1, 2, 3});  // left by an earlier run
  InstallApplier(entry, install);
  const auto run = Tool({"apply", install + "/Lunder19Patch.EXE"});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find(Utf8(u8"ファイルアップデート: 正常終了")), std::string::npos) << run.out;
  EXPECT_EQ(Names(install), (std::set<std::string>{"Lunder19.exe", "Lunder19.OLD", "Lunder19Patch.EXE"}));
  EXPECT_TRUE(ReadFile(install + "/Lunder19.exe") == new_data);
  EXPECT_TRUE(ReadFile(install + "/Lunder19.OLD") == old_data);
  EXPECT_EQ(MTime(install + "/Lunder19.exe"), LocalTime(2008, 1, 30, 16, 48, 9));
}

// Files of megabytes take the other road: mapped instead of read, and rebuilt in a block
// of large pages; the patch data too, but for bare patch data, which is read behind the
// room an applier would take.
TEST_F(ApplyCommand, MegabyteFilesAreRebuiltAsSmallOnes) {
  old_data = ProgramLikeBytes(3'000'000, 2);
  new_data = old_data;
  const Bytes inserted = RandomBytes(1'200'000, 9);
  new_data.insert(new_data.begin() + 1'000'000, inserted.begin(), inserted.end());
  for (size_t i = 500; i < new_data.size(); i += 65'000) new_data[i] ^= 0x5A;
  entry = MakeEntry();
  for (const bool bare : {false, true}) {
    SCOPED_TRACE(bare ? "bare patch data" : "packed");
    const std::string folder = install + (bare ? "/bare" : "/packed");
    std::filesystem::create_directory(folder);
    WriteFile(folder + "/Lunder19.exe", old_data);
    if (bare) {
      WriteFile(install + "/patch.diff", entry);
    } else {
      InstallApplier(entry, folder);
    }
    const auto run = Tool({"apply", bare ? install + "/patch.diff" : folder + "/Lunder19Patch.EXE", "--dir", folder});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(ReadFile(folder + "/Lunder19.exe") == new_data);
    EXPECT_TRUE(ReadFile(folder + "/Lunder19.OLD") == old_data);
  }
}

TEST_F(ApplyCommand, MismatchLeavesEverythingUnchanged) {
  Bytes other = old_data;
  other[10] ^= 1;
  WriteFile(install + "/Lunder19.EXE", other);
  InstallApplier(entry, install);
  const time_t before = MTime(install + "/Lunder19.EXE");
  const auto run = Tool({"apply", install + "/Lunder19Patch.EXE"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find(Utf8(u8"CRCが一致しません: ")), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(Utf8(u8"CRCが一致しません")), std::string::npos) << run.err;
  EXPECT_EQ(Names(install), (std::set<std::string>{"Lunder19.EXE", "Lunder19Patch.EXE"}));
  EXPECT_TRUE(ReadFile(install + "/Lunder19.EXE") == other);
  EXPECT_EQ(MTime(install + "/Lunder19.EXE"), before);
}

TEST_F(ApplyCommand, SecondRunOverAnUpdatedFolderStops) {
  WriteFile(install + "/Lunder19.EXE", old_data);
  InstallApplier(entry, install);
  ASSERT_EQ(Tool({"apply", install + "/Lunder19Patch.EXE"}).code, 0);
  EXPECT_EQ(Tool({"apply", install + "/Lunder19Patch.EXE"}).code, 1);
  EXPECT_TRUE(ReadFile(install + "/Lunder19.exe") == new_data);
  EXPECT_TRUE(ReadFile(install + "/Lunder19.OLD") == old_data);
}

TEST_F(ApplyCommand, MissingTargetIsReported) {
  InstallApplier(entry, install);
  const auto run = Tool({"apply", install + "/Lunder19Patch.EXE"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find(Utf8(u8"ファイルがオープンできません: ")), std::string::npos) << run.out;
}

TEST_F(ApplyCommand, BarePatchDataInAFolderWithBackslashSecondBytes) {
  // "表示ソフト": two characters whose second byte is 0x5C in code page 932.
  const std::string folder = install + "/" + Utf8(u8"表示ソフト");
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/Lunder19.exe", old_data);
  WriteFile(install + "/patch.diff", entry);
  const auto run = Tool({"apply", install + "/patch.diff", "--dir", folder});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_TRUE(ReadFile(folder + "/Lunder19.exe") == new_data);
  EXPECT_TRUE(ReadFile(folder + "/Lunder19.OLD") == old_data);
  EXPECT_FALSE(Exists(folder + "/UPDATE.TMP"));
}

TEST_F(ApplyCommand, WindowsFolderTargetNeedsTheOption) {
  // target_folder "*": the terminator of the empty folder string becomes "*" + terminator.
  patch::EntryHeader header;
  ASSERT_EQ(patch::ParseEntryHeader(entry, 0, &header), patch::HeaderOutcome::Ok);
  Bytes starred = entry;
  starred.insert(starred.begin() + header.body_offset - 1, '*');
  InstallApplier(starred, install);
  const std::string windows = install + "/windows";
  std::filesystem::create_directory(windows);
  WriteFile(windows + "/Lunder19.exe", old_data);

  const auto refused = Tool({"apply", install + "/Lunder19Patch.EXE"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("--windows-dir"), std::string::npos) << refused.err;
  EXPECT_TRUE(ReadFile(windows + "/Lunder19.exe") == old_data);

  const auto run = Tool({"apply", install + "/Lunder19Patch.EXE", "--windows-dir", windows});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_TRUE(ReadFile(windows + "/Lunder19.exe") == new_data);
  EXPECT_TRUE(ReadFile(windows + "/Lunder19.OLD") == old_data);
}

TEST_F(ApplyCommand, ImpossibleStampShowsTheTimeBoxAndTheRunGoesOn) {
  Bytes bad_date = entry;
  bad_date[26] = 2;   // month
  bad_date[27] = 30;  // day: 30 February
  WriteFile(install + "/Lunder19.EXE", old_data);
  InstallApplier(bad_date, install);
  const auto run = Tool({"apply", install + "/Lunder19Patch.EXE"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find(Utf8(u8"ファイル時刻変更不能: [87]")), std::string::npos) << run.out;
  EXPECT_TRUE(ReadFile(install + "/Lunder19.exe") == new_data);
}

TEST_F(ApplyCommand, OpenDocumentAtTheEndIsSuccessAndNothingAfterItIsRead) {
  // The applier stops at the document entry; the bytes after it would break the chain.
  patchtest::Entry doc;
  doc.flags = patch::FLAG_OPEN_DOCUMENT;
  doc.name = "readme.txt";
  Bytes chain = entry;
  const Bytes doc_bytes = doc.Encode();
  chain.insert(chain.end(), doc_bytes.begin(), doc_bytes.end());
  chain.insert(chain.end(), {'x', 'y', 'z'});
  WriteFile(install + "/Lunder19.EXE", old_data);
  InstallApplier(chain, install);

  const auto run = Tool({"apply", install + "/Lunder19Patch.EXE"});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("open: "), std::string::npos) << run.out;
  EXPECT_TRUE(ReadFile(install + "/Lunder19.exe") == new_data);

  const auto info = Tool({"info", install + "/Lunder19Patch.EXE", "--json"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("\"chain\": \"ends-with-open-document\""), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"kind\": \"open-document\""), std::string::npos) << info.out;
}

TEST_F(ApplyCommand, FileWithoutPatchDataIsReported) {
  WriteFile(install + "/Lunder19Patch.EXE", RandomBytes(25'000, 7));
  const auto run = Tool({"apply", install + "/Lunder19Patch.EXE"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find(Utf8(u8"差分データが確認できません: ")), std::string::npos) << run.out;
}

TEST(PosixPaths, SeparatorsOnlyAtRealBackslashes) {
  TempDir dir;
  // "\表示\a.txt" in code page 932: the 0x5C after 0x95 is not a separator.
  const auto real = patchtool::PosixPlatform::ToRealPath(("\x5C" "tmp" "\x5C" "\x95\x5C\x8E\xA6" "\x5C" "a.txt"));
  ASSERT_TRUE(real.has_value());
  EXPECT_EQ(*real, "/tmp/" + Utf8(u8"表示") + "/a.txt");
  EXPECT_EQ(patchtool::PosixPlatform::ToRunPath("/tmp/" + Utf8(u8"表示ソフト")), "\\tmp\\\x95\x5C\x8E\xA6\x83\x5C\x83\x74\x83\x67");
  EXPECT_FALSE(patchtool::PosixPlatform::ToRunPath("/tmp/a\\b").has_value());
  const std::string hangul = "/tmp/" + Utf8(u8"한");  // outside the macro: no code page 932 form
  EXPECT_FALSE(patchtool::PosixPlatform::ToRunPath(hangul).has_value());
}

TEST(PosixPaths, NamesMatchWithoutRegardToCase) {
  TempDir dir;
  std::filesystem::create_directory(dir / "Sub");
  WriteFile(dir / "Sub" + "/File.EXE", Bytes{1});
  const auto run_path = patchtool::PosixPlatform::ToRunPath(dir / "sub" + "/file.exe");
  ASSERT_TRUE(run_path.has_value());
  EXPECT_EQ(patchtool::PosixPlatform::ToRealPath(run_path->c_str()), dir / "Sub" + "/File.EXE");
  // A name that does not exist keeps the case it was given.
  const auto missing = patchtool::PosixPlatform::ToRunPath(dir / "sub" + "/New.TXT");
  EXPECT_EQ(patchtool::PosixPlatform::ToRealPath(missing->c_str()), dir / "Sub" + "/New.TXT");
}

TEST(PosixPlatformFiles, RenameNeverReplacesAndDeleteSparesFolders) {
  TempDir dir;
  WriteFile(dir / "a", Bytes{1});
  WriteFile(dir / "B", Bytes{2});
  std::filesystem::create_directory(dir / "folder");
  std::ostringstream out;
  patchtool::PosixPlatform platform({}, out);
  const auto path = [&](const std::string& name) { return *patchtool::PosixPlatform::ToRunPath(dir / name); };
  EXPECT_FALSE(platform.RenameFile(path("a").c_str(), path("b").c_str()));  // "B" exists
  EXPECT_TRUE(ReadFile(dir / "B") == Bytes{2});
  EXPECT_TRUE(platform.RenameFile(path("a").c_str(), path("c").c_str()));
  EXPECT_FALSE(Exists(dir / "a"));
  EXPECT_FALSE(platform.RemoveFile(path("folder").c_str()));
  EXPECT_EQ(platform.Find(path("FOLDER").c_str()), patch::FoundKind::Folder);
  EXPECT_EQ(platform.Find(path("C").c_str()), patch::FoundKind::File);
  EXPECT_TRUE(platform.RemoveFile(path("C").c_str()));
  EXPECT_EQ(platform.Find(path("c").c_str()), patch::FoundKind::None);
  patch::FileBlock block;
  EXPECT_EQ(platform.LoadWholeFile(path("folder").c_str(), &block), patch::LoadResult::OpenFailed);
}

}  // namespace
