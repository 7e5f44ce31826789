// The product profile reader: each fault of a profile is refused with a message that names
// the key, and accepted texts reach the generated source as the right code page 932 bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tools/profilegen/profile.h"
#include "tools/profilegen/source_writer.h"

namespace {

std::string Utf8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

std::string ReadProfile(const char* name) {
  std::ifstream in(std::string(PROFILES_DIR) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The default profile with the line of `key` replaced by `line` (removed when empty).
std::string WithLine(const std::string& key, const std::string& line) {
  std::string text = ReadProfile("lunder19.ini");
  const size_t at = text.find("\n" + key + " =");
  if (at == std::string::npos) return text + line + "\n";
  const size_t end = text.find('\n', at + 1);
  return text.substr(0, at + 1) + line + (line.empty() ? "" : "\n") + text.substr(end + 1);
}

std::string Refusal(const std::string& text) {
  try {
    profile::ParseProfile(text);
  } catch (const profile::ProfileError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(ProfileReader, RefusesEachFaultNamingTheKey) {
  const struct {
    std::string key, line, message;
  } cases[] = {
      {"AppMutexName", "", "missing key \"AppMutexName\""},
      {"Colour", "Colour = red", "unknown key \"Colour\""},
      {"BackupExt", "BackupExt = .BAK", "key \"BackupExt\" is fixed by the program and cannot be set"},
      {"Again", "AppTitle = x", "key \"AppTitle\" given twice (first on line 6)"},
      {"Free", "just some text", "expected \"Key = Value\""},
      {"AppTitle", "AppTitle = Tesbrin \xFF", "not UTF-8 text"},
      {"AppTitle", Utf8(u8"AppTitle = Tesbrin 한국"), Utf8(u8"key \"AppTitle\": \"Tesbrin 한국\" has no code page 932 form")},
      {"AppTitle", "AppTitle =", "key \"AppTitle\" is empty"},
      {"AppTitle", "AppTitle = a\tb", "key \"AppTitle\" holds a control character"},
      {"TargetExeName", "TargetExeName = bin/Lunder19.EXE", "key \"TargetExeName\": \"bin/Lunder19.EXE\" cannot be a file name: it holds \"/\""},
      {"TargetExeName", "TargetExeName = con.exe", "\"CON\" is a device name"},
      {"PatchExeName", "PatchExeName = Patch.EXE.", "key \"PatchExeName\": \"Patch.EXE.\" cannot be a file name: it ends in a dot"},
      {"DefaultSubFolder", "DefaultSubFolder = TESBWIN\\LUNDER19", "must end in \"\\\""},
      {"DefaultSubFolder", "DefaultSubFolder = TESBWIN\\\\LUNDER19\\", "\"\" is not a folder name (an empty name)"},
      {"DefaultSubFolder", "DefaultSubFolder = C:\\TESBWIN\\", "\"C:\" is not a folder name (it holds \":\")"},
      {"DefaultSubFolder", "DefaultSubFolder = " + std::string(250, 'A') + "\\", "the default path is 271 bytes, more than 240"},
      {"UninstallKey", "UninstallKey = \\SOFTWARE\\X", "key \"UninstallKey\": \"\\SOFTWARE\\X\" cannot be a registry key"},
      {"UninstallKey", "UninstallKey = SOFTWARE\\" + std::string(256, 'K'), "a key name is longer than 255 characters"},
      {"AppMutexName", "AppMutexName = Global\\LUNDER", "cannot be a mutex name: it holds \"\\\""},
      {"TargetExeName", "TargetExeName = Update.tmp", "key \"TargetExeName\": \"Update.tmp\" is the applier's own temporary or backup name"},
      {"PatchExeName", "PatchExeName = lunder19.exe", "key \"PatchExeName\": \"lunder19.exe\" names the program"},
      {"PatchExeName", "PatchExeName = Lunder19.old", "names the program, its backup"},
      {"PatchTargetName", "PatchTargetName = Other.exe", "key \"PatchTargetName\": \"Other.exe\" must name the program"},
  };
  for (const auto& c : cases) {
    const std::string message = Refusal(WithLine(c.key, c.line));
    EXPECT_NE(message.find(c.message), std::string::npos) << c.line << "\n  got: " << message;
  }
  // The key name's limit counts characters, not the bytes of their UTF-8 form.
  std::string kana;
  for (int i = 0; i < 255; ++i) kana += Utf8(u8"カ");
  EXPECT_EQ(Refusal(WithLine("UninstallKey", "UninstallKey = SOFTWARE\\" + kana)), "(accepted)");
}

TEST(ProfileReader, KeepsQuotedSpacesAndReadsWindowsLineEnds) {
  std::string text = "\xEF\xBB\xBF";
  for (const char c : WithLine("AppTitle", "AppTitle = \"  Tesbrin \"")) {
    if (c == '\n') text += '\r';
    text += c;
  }
  const profile::Profile p = profile::ParseProfile(text);
  EXPECT_EQ(p.Get("AppTitle").cp932, "  Tesbrin ");
  EXPECT_EQ(p.Get("DefaultSubFolder").cp932, "TESBWIN\\LUNDER19\\");
}

TEST(ProfileReader, SourceHoldsCodePage932BytesAsEscapes) {
  // "ソ" is 83 5C: its second byte must not end the folder name nor escape the quote.
  const profile::Profile p = profile::ParseProfile(WithLine("DefaultSubFolder", Utf8(u8"DefaultSubFolder = ソフト\\")));
  const std::string source = profile::ConstantsSource(p, "x.ini");
  EXPECT_NE(source.find("const char DefaultSubFolder[] = \"\\203\\134\\203t\\203g\\134\";"), std::string::npos) << source;
  EXPECT_NE(source.find("const char TargetExeName[] = \"Lunder19.EXE\";"), std::string::npos);
  EXPECT_NE(source.find("const char BackupExt[] = \".OLD\";"), std::string::npos);
  EXPECT_EQ(source.find("PatchDescription"), std::string::npos);
}

TEST(ProfileReader, ExampleProfilesAreAccepted) {
  for (const char* name : {"lunder19.ini", "kanvelo10.ini"}) {
    EXPECT_EQ(Refusal(ReadProfile(name)), "(accepted)") << name;
  }
}

}  // namespace
