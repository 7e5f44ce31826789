// The install folder the wizard proposes, from every kind of registry value the
// application's uninstall entry may hold, and the default folder when it holds none.
#include "core/wizard/install_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

using wizard::ValueOutcome;

const text::LeadByteTable kCp932 = text::LeadByteTable::Cp932();
const text::LeadByteTable kSingle = text::LeadByteTable::SingleByte();

// A registry value held in memory, with switches for the ways a real one can fail.
struct FakeValue : wizard::ValueSource {
  bool exists = true;
  uint32_t type = wizard::kRegString;
  std::string data;
  bool read_fails = false;
  int reads = 0;

  static FakeValue Text(const std::string& text, uint32_t type = wizard::kRegString) {
    FakeValue value;
    value.type = type;
    value.data = text + std::string(1, '\0');
    return value;
  }

  bool QueryTypeAndSize(uint32_t* out_type, uint32_t* size) override {
    if (!exists) return false;
    *out_type = type;
    *size = static_cast<uint32_t>(data.size());
    return true;
  }
  bool Read(char* buffer, uint32_t* size) override {
    ++reads;
    if (read_fails || *size < data.size()) return false;
    std::memcpy(buffer, data.data(), data.size());
    *size = static_cast<uint32_t>(data.size());
    return true;
  }
};

std::string FolderOf(FakeValue value) {
  wizard::InstallValue read = wizard::ReadInstallValue(value);
  EXPECT_EQ(read.outcome, ValueOutcome::kText);
  return wizard::FolderFromInstallValue(read.text, kCp932);
}

TEST(InstallValue, FullProgramPathGivesItsFolderWithBackslash) {
  EXPECT_EQ(FolderOf(FakeValue::Text("C:\\TESBWIN\\LUNDER19\\Lunder19.EXE")), "C:\\TESBWIN\\LUNDER19\\");
  // A drive-relative name keeps its drive and colon.
  EXPECT_EQ(FolderOf(FakeValue::Text("D:Lunder19.EXE")), "D:");
}

TEST(InstallValue, BareFileNameGivesNoFolder) {
  EXPECT_EQ(FolderOf(FakeValue::Text("Lunder19.EXE")), "");
}

TEST(InstallValue, QuotesAndIconIndexAreNotCleanedUp) {
  EXPECT_EQ(FolderOf(FakeValue::Text("\"C:\\Program Files\\Tax\\Lunder19.EXE\",0")), "\"C:\\Program Files\\Tax\\");
  EXPECT_EQ(FolderOf(FakeValue::Text("C:\\Tax\\Lunder19.EXE,0")), "C:\\Tax\\");
}

TEST(InstallValue, ExpandableStringIsTakenAsStored) {
  EXPECT_EQ(FolderOf(FakeValue::Text("%ProgramFiles%\\Tax\\Lunder19.EXE", wizard::kRegExpandString)),
            "%ProgramFiles%\\Tax\\");
}

TEST(InstallValue, CutAtFirstZeroAndUnterminatedDataIsBounded) {
  FakeValue value;
  value.data = std::string("C:\\A\\x.exe\0D:\\B\\y.exe", 21);
  EXPECT_EQ(FolderOf(value), "C:\\A\\");

  FakeValue unterminated;
  unterminated.data = "E:\\C\\z.exe";  // no zero byte at all
  EXPECT_EQ(FolderOf(unterminated), "E:\\C\\");
}

TEST(InstallValue, SecondByte5CIsNotAFolderBoundary) {
  // "C:\申告表" + program: the last real backslash is the one before the file name; in a
  // name ending in 表 the 0x5C is part of the character.
  EXPECT_EQ(FolderOf(FakeValue::Text("C:\\申告表\\Lunder19.EXE")), "C:\\申告表\\");
  FakeValue so = FakeValue::Text("C:\\ソ");
  wizard::InstallValue read = wizard::ReadInstallValue(so);
  EXPECT_EQ(wizard::FolderFromInstallValue(read.text, kCp932), "C:\\");
  // A single-byte locale sees every 0x5C as a backslash.
  EXPECT_EQ(wizard::FolderFromInstallValue(read.text, kSingle), "C:\\\x83\\");
}

TEST(InstallValue, MissingOrEmptyValueGivesNoTextAndNoErrorWhateverItsType) {
  FakeValue missing;
  missing.exists = false;
  wizard::InstallValue read = wizard::ReadInstallValue(missing);
  EXPECT_EQ(read.outcome, ValueOutcome::kText);
  EXPECT_EQ(read.text, "");
  EXPECT_EQ(missing.reads, 0);

  for (uint32_t type : {0u, 3u, 4u, 7u}) {  // REG_NONE, REG_BINARY, REG_DWORD, REG_MULTI_SZ
    FakeValue empty;
    empty.type = type;
    read = wizard::ReadInstallValue(empty);
    EXPECT_EQ(read.outcome, ValueOutcome::kText) << type;
    EXPECT_EQ(read.text, "");
    EXPECT_EQ(empty.reads, 0);
  }
}

TEST(InstallValue, NonEmptyDataOfAnotherTypeIsAnError) {
  FakeValue dword;
  dword.type = 4;
  dword.data = std::string("\x01\0\0\0", 4);
  EXPECT_EQ(wizard::ReadInstallValue(dword).outcome, ValueOutcome::kWrongType);

  FakeValue binary;
  binary.type = 3;
  binary.data = "C:\\A\\x.exe";
  EXPECT_EQ(wizard::ReadInstallValue(binary).outcome, ValueOutcome::kWrongType);
}

TEST(InstallValue, FailedReadIsAnErrorBeforeTheTypeIsLookedAt) {
  FakeValue value = FakeValue::Text("C:\\A\\x.exe");
  value.read_fails = true;
  EXPECT_EQ(wizard::ReadInstallValue(value).outcome, ValueOutcome::kReadFailed);
  value.type = 4;
  EXPECT_EQ(wizard::ReadInstallValue(value).outcome, ValueOutcome::kReadFailed);
}

TEST(InstallValue, ErrorTextsNameTheValue) {
  EXPECT_EQ(wizard::InstallValueErrorText(ValueOutcome::kWrongType, "DisplayIcon"),
            "'DisplayIcon' のデータ型が不正です");
  EXPECT_EQ(wizard::InstallValueErrorText(ValueOutcome::kReadFailed, "DisplayIcon"),
            "'DisplayIcon' の取得に失敗しました");
  EXPECT_EQ(wizard::InstallValueErrorText(ValueOutcome::kText, "DisplayIcon"), "");
  // The box appends "." after the final double-byte character of either text.
  const std::string shown = wizard::InstallValueErrorText(ValueOutcome::kWrongType, "DisplayIcon");
  EXPECT_TRUE(text::NeedsFinalPeriod(shown.data(), shown.size(), kCp932));
}

// The default folder, with a file system that has exactly the given roots.
std::string Default(const std::string& windows_directory, std::set<std::string> roots) {
  std::set<std::string> asked;
  std::string folder = wizard::DefaultInstallFolder(
      windows_directory, [&](const std::string& path) { asked.insert(path); return roots.count(path) > 0; },
      "TESBWIN\\LUNDER19\\");
  EXPECT_LE(asked.size(), 1u);
  return folder;
}

TEST(DefaultFolder, OnTheDriveOfTheWindowsDirectory) {
  EXPECT_EQ(Default("C:\\WINDOWS", {"C:\\"}), "C:\\TESBWIN\\LUNDER19\\");
  EXPECT_EQ(Default("D:\\WINNT", {"C:\\", "D:\\"}), "D:\\TESBWIN\\LUNDER19\\");
}

TEST(DefaultFolder, MissingRootFallsBackToC) {
  EXPECT_EQ(Default("D:\\WINNT", {"C:\\"}), "C:\\TESBWIN\\LUNDER19\\");
  EXPECT_EQ(Default("\\\\server\\share\\windows", {"C:\\"}), "C:\\TESBWIN\\LUNDER19\\");
  EXPECT_EQ(Default("", {"C:\\"}), "C:\\TESBWIN\\LUNDER19\\");
  // "C:\" is used even when it is missing itself: the folder is not tested here.
  EXPECT_EQ(Default("Q:\\WINDOWS", {}), "C:\\TESBWIN\\LUNDER19\\");
}

}  // namespace
