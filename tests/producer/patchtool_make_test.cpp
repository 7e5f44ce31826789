// patchtool make and verify: the texts stored in code page 932, the defaults, and every
// refusal with its exit code and without a file left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>

#include "core/patch/format.h"
#include "program_release.h"
#include "test_support.h"

namespace {

using test_support::Bytes;
using test_support::Exists;
using test_support::ProgramLikeBytes;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::Tool;
using test_support::Utf8;
using test_support::WriteFile;

class MakeCommand : public testing::Test {
 protected:
  void SetUp() override {
    old_data = ProgramLikeBytes(80'000, 1);
    new_data = old_data;
    for (size_t i = 1000; i < new_data.size(); i += 9000) new_data[i] ^= 0x5A;
    WriteFile(old_path, old_data);
    WriteFile(new_path, new_data);
  }
  patch::EntryHeader Header(const Bytes& patch_data) {
    patch::EntryHeader header;
    EXPECT_EQ(patch::ParseEntryHeader(patch_data, 0, &header), patch::HeaderOutcome::Ok);
    return header;
  }
  static std::string Str(const patch::TextRef& ref) { return std::string(ref.data, ref.length); }

  TempDir dir;
  std::string old_path = dir / "old.exe";
  std::string new_path = dir / "Lunder19.exe";
  std::string patch_path = dir / "out.diff";
  Bytes old_data, new_data;
};

TEST_F(MakeCommand, DescriptionIsStoredInCodePage932) {
  const auto run = Tool({"make", old_path, new_path, "-o", patch_path, "--description",
                         Utf8(u8"アップデート Ver1.0⇒2.0"), "--stamp", "2008-01-30 16:48:09"});
  ASSERT_EQ(run.code, 0) << run.err;
  const Bytes patch_data = ReadFile(patch_path);
  const patch::EntryHeader h = Header(patch_data);
  // The ordinary literal is the code page 932 form (24 bytes, "⇒" is 81 CB).
  EXPECT_EQ(Str(h.description), "アップデート Ver1.0⇒2.0");
  EXPECT_EQ(h.description.length, 24u);
  EXPECT_EQ(Str(h.target_name), "Lunder19.exe");
  EXPECT_EQ(h.body_offset, 70u);
  EXPECT_EQ(h.stamp_year, 2008);
  EXPECT_EQ(h.stamp_month, 1);
  EXPECT_EQ(h.stamp_day, 30);
  EXPECT_EQ(h.stamp_hour, 16);
  EXPECT_EQ(h.stamp_minute, 48);
  EXPECT_EQ(h.stamp_second, 9);
  EXPECT_EQ(Tool({"verify", patch_path, old_path}).code, 0);
}

TEST_F(MakeCommand, DefaultsComeFromTheNewFile) {
  struct tm local = {};
  local.tm_year = 2008 - 1900;
  local.tm_mon = 0;
  local.tm_mday = 30;
  local.tm_hour = 16;
  local.tm_min = 48;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  const struct timespec times[2] = {{0, UTIME_OMIT}, {std::mktime(&local), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, new_path.c_str(), times, 0), 0);

  ASSERT_EQ(Tool({"make", old_path, new_path, "-o", patch_path}).code, 0);
  const Bytes patch_data = ReadFile(patch_path);
  const patch::EntryHeader h = Header(patch_data);
  EXPECT_EQ(Str(h.target_name), "Lunder19.exe");
  EXPECT_EQ(Str(h.description), "アップデート Lunder19.exe");
  EXPECT_EQ(h.stamp_year, 2008);
  EXPECT_EQ(h.stamp_day, 30);
  EXPECT_EQ(h.stamp_hour, 16);
  EXPECT_EQ(h.stamp_second, 9);
}

TEST_F(MakeCommand, JapaneseNameIsConvertedWithItsBackslashSecondByte) {
  ASSERT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", Utf8(u8"表示.exe")}).code, 0);
  const Bytes patch_data = ReadFile(patch_path);  // the header's strings point into it
  const patch::EntryHeader h = Header(patch_data);
  EXPECT_EQ(Str(h.target_name), "\x95\x5C\x8E\xA6.exe");
}

TEST_F(MakeCommand, TextWithoutCodePage932FormIsRefused) {
  for (const std::string& text : {Utf8(u8"한국어"), Utf8(u8"smile 😀"), std::string("\xFF\xFE broken UTF-8")}) {
    const auto run = Tool({"make", old_path, new_path, "-o", patch_path, "--description", text});
    EXPECT_EQ(run.code, 1) << text;
    EXPECT_NE(run.err.find("code page 932"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
    EXPECT_FALSE(Exists(patch_path));
  }
  // Kept out of the assertion macro: its text is stringified into a code page 932 literal.
  const std::string hangul_name = Utf8(u8"Ω한.exe");
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", hangul_name}).code, 1);
  EXPECT_FALSE(Exists(patch_path));
}

TEST_F(MakeCommand, NamesWithFoldersAndBadCommandLinesAreRefused) {
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", "sub\\a.exe"}).code, 1);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", "sub/a.exe"}).code, 1);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", ""}).code, 1);
  // The applier's own work files: its temporary file and a name that is its own backup name.
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", "update.tmp"}).code, 1);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", "data.old"}).code, 1);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--stamp", "2007-02-29 00:00:00"}).code, 2);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--stamp", "2008-1-30 16:48:09"}).code, 2);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--stamp", "2008-01-30 16:48:09x"}).code, 2);
  EXPECT_EQ(Tool({"make", old_path, new_path}).code, 2);
  EXPECT_EQ(Tool({"make", old_path, "-o", patch_path}).code, 2);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--bogus"}).code, 2);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--name", "a.exe", "--name", "b.exe"}).code, 2);
  EXPECT_EQ(Tool({"make", old_path, new_path, "-o", patch_path, "--stamp=2008-01-30 16:48:09", "--stamp",
                  "2008-01-30 16:48:09"}).code, 2);
  EXPECT_EQ(Tool({"make", dir / "missing", new_path, "-o", patch_path}).code, 1);
  EXPECT_EQ(Tool({"make", old_path, dir.path().string(), "-o", patch_path}).code, 1);
  EXPECT_FALSE(Exists(patch_path));
}

TEST_F(MakeCommand, FilesOfFourGibibytesAreRefusedBeforeTheyAreRead) {
  // Sparse: the size is checked before a byte is read.
  const std::string huge = dir / "huge";
  WriteFile(huge, {});
  ASSERT_EQ(::truncate(huge.c_str(), off_t{1} << 32), 0);
  for (const auto& args : {std::vector<std::string>{"make", old_path, huge, "-o", patch_path},
                           std::vector<std::string>{"make", huge, new_path, "-o", patch_path}}) {
    const auto run = Tool(args);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("below 4 GiB"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(Exists(patch_path));
  EXPECT_EQ(Tool({"verify", huge, old_path}).code, 1);
}

TEST_F(MakeCommand, VerifyFailsAgainstAnotherOldFile) {
  ASSERT_EQ(Tool({"make", old_path, new_path, "-o", patch_path}).code, 0);
  const auto good = Tool({"verify", patch_path, old_path});
  EXPECT_EQ(good.code, 0) << good.err;
  WriteFile(dir / "other", new_data);
  const auto bad = Tool({"verify", patch_path, dir / "other"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("old_crc"), std::string::npos) << bad.err;
}

TEST_F(MakeCommand, VerifyFailsOnADamagedRecord) {
  ASSERT_EQ(Tool({"make", old_path, new_path, "-o", patch_path}).code, 0);
  Bytes patch_data = ReadFile(patch_path);
  // The last record is a copy or a literal; flipping its last byte changes what it builds.
  patch_data.back() ^= 0x01;
  WriteFile(patch_path, patch_data);
  const auto run = Tool({"verify", patch_path, old_path});
  EXPECT_EQ(run.code, 1);
}

}  // namespace

namespace {

TEST_F(MakeCommand, FormatTwoWritesCompressedStreamsThatInfoAndVerifyRead) {
  const auto run = Tool({"make", old_path, new_path, "-o", patch_path, "--format", "2", "--stamp", "2008-01-30 16:48:09"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("format 2.00"), std::string::npos) << run.out;
  EXPECT_EQ(Header(ReadFile(patch_path)).format_version, 200u);
  const auto info = Tool({"info", patch_path});
  ASSERT_EQ(info.code, 0) << info.err;
  for (const char* line : {"200 (2.00", "compressed streams", "control", "gaps", "changes", "new bytes"}) {
    EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
  }
  EXPECT_NE(Tool({"info", patch_path, "--json"}).out.find("\"streams\": {\"control\": {\"raw\": "), std::string::npos);
  EXPECT_EQ(Tool({"verify", patch_path, old_path}).code, 0);
}

TEST_F(MakeCommand, FormatThreeKeepsTheSmallerAndSaysWhich) {
  const test_support::ProgramReleases programs = test_support::MakeProgramReleases(120, 2);
  const std::string old_program = dir / "old-program.exe", new_program = dir / "program.exe";
  WriteFile(old_program, programs.old_file);
  WriteFile(new_program, programs.new_file);
  const auto made = Tool({"make", old_program, new_program, "-o", patch_path, "--format", "3", "--stamp",
                          "2008-01-30 16:48:09"});
  ASSERT_EQ(made.code, 0) << made.err;
  EXPECT_NE(made.out.find("format 3.00 (smaller than 2.00: "), std::string::npos) << made.out;
  EXPECT_NE(made.out.find("references of OLD modelled"), std::string::npos) << made.out;
  EXPECT_EQ(Header(ReadFile(patch_path)).format_version, 300u);
  const auto info = Tool({"info", patch_path});
  for (const char* line : {"300 (3.00 (compressed streams, program-aware)", "models absolute references"}) {
    EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
  }
  EXPECT_NE(Tool({"info", patch_path, "--json"}).out.find("\"model\": "), std::string::npos);
  EXPECT_EQ(Tool({"verify", patch_path, old_program}).code, 0);

  // Files that are no programs get 2.00, and the line says why.
  const auto plain = Tool({"make", old_path, new_path, "-o", patch_path, "--format", "3.00", "--stamp",
                           "2008-01-30 16:48:09"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_NE(plain.out.find("format 2.00 (3.00 needs two PE programs of x86)"), std::string::npos) << plain.out;
  EXPECT_EQ(Header(ReadFile(patch_path)).format_version, 200u);
}

TEST_F(MakeCommand, UnknownFormatIsAUsageError) {
  for (const char* format : {"4", "3.0", "104", "", "2.0.0"}) {
    const auto run = Tool({"make", old_path, new_path, "-o", patch_path, "--format", format});
    EXPECT_EQ(run.code, 2) << format;
    EXPECT_FALSE(Exists(patch_path)) << format;
  }
}

}  // namespace
