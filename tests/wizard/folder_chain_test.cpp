// The folders an install path passes through, each of which the wizard checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/wizard/folder_chain.h"

namespace {

using Prefixes = std::vector<std::string>;

// The prefixes named, or {"unchecked"} when the path cannot be checked.
Prefixes Chain(const std::string& folder, const text::LeadByteTable& table = text::LeadByteTable::Cp932()) {
  const auto chain = wizard::FolderChain(folder, table);
  if (!chain) return {"unchecked"};
  Prefixes prefixes;
  for (size_t length : *chain) prefixes.push_back(folder.substr(0, length));
  return prefixes;
}

TEST(FolderChain, EveryFolderFromBelowTheRootToTheFolderItself) {
  const struct {
    std::string folder;
    Prefixes chain;
  } kCases[] = {
      {"C:\\TESBWIN\\LUNDER19\\", {"C:\\TESBWIN", "C:\\TESBWIN\\LUNDER19"}},
      {"C:\\TESBWIN\\LUNDER19", {"C:\\TESBWIN", "C:\\TESBWIN\\LUNDER19"}},
      {"C:\\a\\", {"C:\\a"}},
      {"\\\\server\\share\\a\\b\\", {"\\\\server\\share\\a", "\\\\server\\share\\a\\b"}},
      // 表 is 95 5C: its second byte ends no folder, the backslash after it does.
      {"C:\\\x95\x5C\\x\\", {"C:\\\x95\x5C", "C:\\\x95\x5C\\x"}},
      {"C:\\x\x95\x5C", {"C:\\x\x95\x5C"}},
      // A root has no folder of its own to check, and cannot be a link.
      {"C:\\", {}},
      {"\\\\server\\share\\", {}},
  };
  for (const auto& c : kCases) EXPECT_EQ(Chain(c.folder), c.chain) << c.folder;
}

TEST(FolderChain, PathsThatCannotBeCheckedGiveNothing) {
  for (const std::string folder :
       {"", "C:", "C:x\\y", "x\\y", "\\x\\y", "\\\\server\\share", "\\\\\\share\\x", "C:\\a\\\\b"}) {
    EXPECT_EQ(Chain(folder), Prefixes{"unchecked"}) << folder;
  }
}

TEST(FolderChain, OnASingleByteCodePageThe5CIsASeparator) {
  EXPECT_EQ(Chain("C:\\\x95\x5Cx", text::LeadByteTable::SingleByte()), (Prefixes{"C:\\\x95", "C:\\\x95\x5Cx"}));
}

}  // namespace
