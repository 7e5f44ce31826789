// Output to a Windows console is converted in pieces: a piece must never end inside a
// character, and must never hold back more than an incomplete character.
#include <gtest/gtest.h>

#include "tools/patchtool/utf8_prefix.h"

namespace patchtool {
namespace {

TEST(WholeUtf8Prefix, HoldsBackOnlyAnIncompleteLastCharacter) {
  struct Case {
    const char* what;
    std::string_view text;
    size_t whole;
  };
  // "ア" is E3 82 A2, "😀" F0 9F 98 80, "é" C3 A9.
  const Case cases[] = {
      {"empty", "", 0},
      {"ASCII", "ab\n", 3},
      {"two-byte complete", "a\xC3\xA9", 3},
      {"two-byte cut after its lead", "a\xC3", 1},
      {"three-byte complete", "\xE3\x82\xA2", 3},
      {"three-byte cut after one byte", "x\xE3", 1},
      {"three-byte cut after two bytes", "x\xE3\x82", 1},
      {"four-byte complete", "\xF0\x9F\x98\x80", 4},
      {"four-byte cut after three bytes", "x\xF0\x9F\x98", 1},
      {"a character before a cut one stays", "\xE3\x82\xA2\xE3\x82", 3},
      {"stray continuation bytes are written", "a\x80\x80\x80\x80", 5},
      {"a stray continuation byte after ASCII", "a\x82", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(WholeUtf8Prefix(c.text), c.whole) << c.what;
}

}  // namespace
}  // namespace patchtool
