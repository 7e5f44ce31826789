// The installed program the wizard's payload promises, read from the payload's entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/wizard/expected_program.h"
#include "tests/unit/patch_builder.h"

namespace {

using patchtest::Bytes;
using patchtest::Entry;
using patchtest::MakeImage;
using wizard::ExpectedFromPayload;
using wizard::IsExpectedProgram;

Entry Writes(const std::string& name, uint32_t size, uint32_t crc, uint8_t flags = 0, std::string folder = "") {
  Entry e;
  e.name = name;
  e.new_size = size;
  e.new_crc = crc;
  e.flags = flags;
  e.folder = std::move(folder);
  e.body = patchtest::Body().Literal(Bytes(size, 'x')).bytes;
  return e;
}

TEST(ExpectedFromPayload, TakesTheLastEntryThatWritesTheProgramInItsOwnFolder) {
  Entry document = Writes("readme.txt", 0, 0, patch::FLAG_OPEN_DOCUMENT);
  document.body.clear();
  Entry deleted = Writes("Lunder19.exe", 0, 0, patch::FLAG_DELETE);
  deleted.body.clear();
  const struct {
    const char* what;
    std::vector<Entry> entries;
    bool known;
    uint32_t size;
  } kCases[] = {
      {"the only entry, name in another case", {Writes("lunder19.EXE", 5, 0x11)}, true, 5},
      {"the later of two", {Writes("Lunder19.exe", 5, 0x11), Writes("Lunder19.exe", 7, 0x22)}, true, 7},
      {"other files only", {Writes("Other.dll", 5, 0x11)}, false, 0},
      {"the same name in a sub-folder", {Writes("Lunder19.exe", 5, 0x11, 0, "sub")}, false, 0},
      {"created when missing", {Writes("Lunder19.exe", 6, 0x33, patch::FLAG_CREATE_IF_MISSING)}, true, 6},
      {"deleted after it was written", {Writes("Lunder19.exe", 5, 0x11), deleted}, false, 0},
      {"entries after an open-document entry never run",
       {Writes("Lunder19.exe", 5, 0x11), document, Writes("Lunder19.exe", 9, 0x44)}, true, 5},
  };
  for (const auto& c : kCases) {
    const Bytes image = MakeImage(c.entries);
    const wizard::ExpectedProgram expected = ExpectedFromPayload(image, "Lunder19.EXE");
    EXPECT_EQ(expected.known, c.known) << c.what;
    EXPECT_EQ(expected.size, c.size) << c.what;
  }
}

TEST(ExpectedFromPayload, AnUnreadableChainIsUnknown) {
  const Bytes good = MakeImage({Writes("Lunder19.exe", 5, 0x11), Writes("Lunder19.exe", 7, 0x22)});
  Bytes cut = good;
  cut.resize(cut.size() - 4);  // the last body runs past the end
  Bytes broken_link = MakeImage({Writes("Lunder19.exe", 5, 0x11)});
  broken_link.insert(broken_link.end(), {'X', 'X', 'X', 'X'});  // no entry where the chain goes on
  for (const Bytes& image : {cut, broken_link, Bytes(patch::SEARCH_START + 10, 0), Bytes{}}) {
    EXPECT_FALSE(ExpectedFromPayload(image, "Lunder19.EXE").known);
  }
}

TEST(IsExpectedProgram, SizeAndChecksumMustBothMatch) {
  const Bytes program = patchtest::Pattern(300, 9);
  const wizard::ExpectedProgram expected{true, 300, patchtest::Crc(program)};
  Bytes changed = program;
  changed[150] ^= 1;
  Bytes longer = program;
  longer.push_back(0);
  EXPECT_TRUE(IsExpectedProgram(expected, program));
  EXPECT_FALSE(IsExpectedProgram(expected, changed));
  EXPECT_FALSE(IsExpectedProgram(expected, longer));
  EXPECT_FALSE(IsExpectedProgram(wizard::ExpectedProgram{}, Bytes{}));  // unknown matches nothing
}

}  // namespace
