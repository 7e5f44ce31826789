// Code page 932 scanning: second bytes 0x5C ("ソ" 83 5C, "表" 95 5C) are never separators.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "core/text/cp932.h"

namespace {

using text::kCp932;
using text::kNotFound;
const text::LeadByteTable kSingle = text::LeadByteTable::SingleByte();

size_t Last(const std::string& s, const text::LeadByteTable& t = kCp932) {
  return text::FindLastSeparator(s.data(), s.size(), t);
}

TEST(LeadBytes, Cp932RangesExactly) {
  for (int b = 0; b < 256; ++b) {
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(kCp932.IsLead(static_cast<uint8_t>(b)), lead) << b;
    EXPECT_FALSE(kSingle.IsLead(static_cast<uint8_t>(b)));
  }
}

TEST(LeadBytes, SourceLiteralsBecomeCp932) {
  EXPECT_EQ(std::string("表"), "\x95\x5C");
  EXPECT_EQ(std::string("ソ"), "\x83\x5C");
}

TEST(FindLastSeparator, SecondByte5CIsNotASeparator) {
  EXPECT_EQ(Last("C:\\表示ソフト\\a.exe"), std::string("C:\\表示ソフト").size());
  EXPECT_EQ(Last("C:\\ソ"), 2u);
  EXPECT_EQ(Last("表"), kNotFound);
  EXPECT_EQ(Last("表", kSingle), 1u);  // a single-byte locale sees a backslash
}

TEST(FindLastSeparator, EndsAtZeroAndAtLeadByteBeforeEnd) {
  EXPECT_EQ(Last("abc"), kNotFound);
  EXPECT_EQ(Last(""), kNotFound);
  EXPECT_EQ(Last(std::string("a\\b\0\\c", 6)), 1u);
  EXPECT_EQ(Last("a\\\x95"), 1u);               // a lead byte at the end consumes nothing
  EXPECT_EQ(Last(std::string("a\\\x95\0\\", 5)), 1u);  // a zero after a lead byte ends the scan
}

TEST(SecondByteRule, OddRunOfLeadBytesBeforeIt) {
  const std::string s = "\x95\x95\x95\x5C";  // 95 95 | 95 5C : the last byte is a second byte
  EXPECT_TRUE(text::IsSecondByte(s.data(), 3, kCp932));
  const std::string t = "\x95\x95\x5C";  // 95 95 | 5C : a backslash of its own
  EXPECT_FALSE(text::IsSecondByte(t.data(), 2, kCp932));
  EXPECT_FALSE(text::IsSecondByte(s.data(), 0, kCp932));
}

std::string Added(std::string s, const text::LeadByteTable& t = kCp932) {
  char buffer[32];
  std::memcpy(buffer, s.data(), s.size());
  size_t length = s.size();
  EXPECT_TRUE(text::AddTrailingBackslash(buffer, sizeof buffer, &length, t));
  EXPECT_EQ(std::strlen(buffer), length);
  return std::string(buffer, length);
}

TEST(TrailingBackslash, Add) {
  EXPECT_EQ(Added("C:\\app"), "C:\\app\\");
  EXPECT_EQ(Added("C:\\app\\"), "C:\\app\\");
  EXPECT_EQ(Added(""), "\\");
  EXPECT_EQ(Added("C:\\表"), "C:\\表\\");
  EXPECT_EQ(Added("C:\\表", kSingle), "C:\\表");
}

TEST(TrailingBackslash, AddRefusesWhatDoesNotFit) {
  char buffer[4] = {'a', 'b', 'c', 0};
  size_t length = 3;
  EXPECT_FALSE(text::AddTrailingBackslash(buffer, sizeof buffer, &length, kCp932));
  EXPECT_EQ(length, 3u);
  EXPECT_STREQ(buffer, "abc");
}

TEST(TrailingBackslash, RemoveAtMostOne) {
  const std::string a = "C:\\app\\\\";
  EXPECT_EQ(text::RemoveTrailingBackslash(a.data(), a.size(), kCp932), a.size() - 1);
  const std::string b = "C:\\ソ";
  EXPECT_EQ(text::RemoveTrailingBackslash(b.data(), b.size(), kCp932), b.size());
  const std::string c = "C:\\ソ\\";
  EXPECT_EQ(text::RemoveTrailingBackslash(c.data(), c.size(), kCp932), c.size() - 1);
  EXPECT_EQ(text::RemoveTrailingBackslash("", 0, kCp932), 0u);
}

TEST(FolderPart, UpToLastBackslashOrColon) {
  const std::string a = "C:\\Program Files\\表示ソフト\\Lunder19.EXE,0";
  EXPECT_EQ(std::string(a, 0, text::FolderPartLength(a.data(), a.size(), kCp932)),
            "C:\\Program Files\\表示ソフト\\");
  const std::string b = "D:file";
  EXPECT_EQ(text::FolderPartLength(b.data(), b.size(), kCp932), 2u);
  const std::string c = "表";
  EXPECT_EQ(text::FolderPartLength(c.data(), c.size(), kCp932), 0u);
  EXPECT_EQ(text::FolderPartLength(c.data(), c.size(), kSingle), 2u);
}

TEST(FinalPeriod, AppendedAfterLettersDigitsAndDoubleByteCharacters) {
  auto needs = [](const std::string& s) { return text::NeedsFinalPeriod(s.data(), s.size(), kCp932); };
  EXPECT_TRUE(needs("error"));
  EXPECT_TRUE(needs("code 5"));
  EXPECT_TRUE(needs("読めません"));
  EXPECT_TRUE(needs("ソ"));
  EXPECT_FALSE(needs("done."));
  EXPECT_FALSE(needs("stop!"));
  EXPECT_FALSE(needs("a,"));
  EXPECT_FALSE(needs(""));
  EXPECT_TRUE(needs("/"));
  // A half-width katakana (single byte 0xB0..0xDF) sorts after "." as well.
  EXPECT_TRUE(needs("\xB1"));
}

TEST(FitCharacters, NeverSplitsADoubleByteCharacter) {
  const std::string s = "ab表c";  // 61 62 95 5C 63
  EXPECT_EQ(text::FitCharacters(s.data(), s.size(), 3), 2u);
  EXPECT_EQ(text::FitCharacters(s.data(), s.size(), 4), 4u);
  EXPECT_EQ(text::FitCharacters(s.data(), s.size(), 99), 5u);
  // A lead byte that ends the text is one byte: never more than the text is counted.
  EXPECT_EQ(text::FitCharacters("ab\x95", 3, 99), 3u);
  EXPECT_EQ(text::FitCharacters("ab\x95", 3, 3), 3u);
}

}  // namespace

TEST(SameFileName, LettersIgnoreCaseButSecondBytesCompareExactly) {
  EXPECT_TRUE(text::SameFileName("C:\\app\\Lunder19.OLD", "c:\\APP\\lunder19.old"));
  EXPECT_FALSE(text::SameFileName("C:\\app\\a.OLD", "C:\\app\\a.OLDX"));
  // "ア" (83 41) and "ャ" (83 61): a second byte is never folded as a letter.
  EXPECT_FALSE(text::SameFileName("\x83\x41", "\x83\x61"));
  EXPECT_TRUE(text::SameFileName("表示\\X", "表示\\x"));
}


// Every pair of single-byte characters against the C library's own rule in the "C" locale:
// a fold that stops one letter short, or takes in "@", "[", "`" or "{" beside the
// alphabet, fails here.
TEST(SameFileName, EveryPairOfSingleBytesAgreesWithTheCLibrary) {
  int disagreements = 0;
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      if (kCp932.IsLead(static_cast<char>(a)) || kCp932.IsLead(static_cast<char>(b))) continue;
      const char left[] = {static_cast<char>(a), 'x', '\0'};
      const char right[] = {static_cast<char>(b), 'X', '\0'};
      const bool expected = (a < 128 ? std::toupper(a) : a) == (b < 128 ? std::toupper(b) : b);
      if (text::SameFileName(left, right) != expected) ++disagreements;
    }
  }
  EXPECT_EQ(disagreements, 0);
}
