// The product profile as the programs hold it: code page 932 bytes, with the characters
// that are easy to lose on the way from a UTF-8 source (ideographic spaces, the full-width
// colon, "ソ"-like second bytes 0x5C) where the user sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/text/cp932.h"
#include "update/ConstValue.h"

namespace {

const text::LeadByteTable kCp932 = text::LeadByteTable::Cp932();

TEST(Profile, VersionLineHasIdeographicSpacesAroundTheFullWidthColon) {
  const std::string line = TargetVersionText;
  EXPECT_NE(line.find("\x81\x40\x81\x46\x81\x40" "Ver1.0"), std::string::npos);
}

// True when every lead byte of `s` is followed by a second byte of its character.
bool WholeCharacters(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (!kCp932.IsLead(s[i])) continue;
    if (i + 1 == s.size()) return false;
    const uint8_t second = static_cast<uint8_t>(s[++i]);
    if (second < 0x40 || second == 0x7F || second > 0xFC) return false;
  }
  return true;
}

TEST(Profile, TextsAreWholeDoubleByteCharacters) {
  // A text cut inside a character would show a stray byte at its end.
  std::string cut = DoneText;
  cut.resize(std::find_if(cut.begin(), cut.end(), [](char c) { return kCp932.IsLead(c); }) - cut.begin() + 1);
  ASSERT_FALSE(WholeCharacters(cut)) << "the check itself must see a cut character";
  for (const char* text : {AppTitle, UpdateTitle, FolderLabelText, IntroText, TargetVersionText, DoneText,
                           AfterUpdateText, BrowseCaption, MissingSystemText, UpToDateText,
                           RecoveredText, RolledBackText, RecoveryFailedText}) {
    const std::string s = text;
    ASSERT_FALSE(s.empty());
    EXPECT_TRUE(WholeCharacters(s)) << s;
  }
}

}  // namespace
