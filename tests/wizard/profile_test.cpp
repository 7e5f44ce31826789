// The product profile as the programs hold it: code page 932 bytes, with the characters
// that are easy to lose on the way from a UTF-8 source (ideographic spaces, the full-width
// colon, "ソ"-like second bytes 0x5C) where the user sees them.
#include <gtest/gtest.h>

#include <string>

#include "core/text/cp932.h"
#include "update/ConstValue.h"

namespace {

const text::LeadByteTable kCp932 = text::LeadByteTable::Cp932();

TEST(Profile, VersionLineHasIdeographicSpacesAroundTheFullWidthColon) {
  const std::string line = TargetVersionText;
  EXPECT_NE(line.find("\x81\x40\x81\x46\x81\x40" "Ver1.0"), std::string::npos);
}

TEST(Profile, TextsAreWholeDoubleByteCharacters) {
  // A text cut inside a character would show a stray byte at its end.
  for (const char* text : {AppTitle, UpdateTitle, FolderLabelText, IntroText, TargetVersionText, DoneText,
                           AfterUpdateText, BrowseCaption, MissingSystemText}) {
    const std::string s = text;
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(text::FitCharacters(s.data(), s.size(), s.size(), kCp932), s.size()) << s;
  }
  EXPECT_EQ(std::string(AppTitle).rfind("Tesbrin ", 0), 0u);
}

TEST(Profile, DefaultSubFolderEndsWithARealBackslash) {
  const std::string folder = DefaultSubFolder;
  EXPECT_TRUE(text::EndsWithBackslash(folder.data(), folder.size(), kCp932));
  EXPECT_EQ(folder, "TESBWIN\\LUNDER19\\");
}

}  // namespace
