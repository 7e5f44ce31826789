// The applier's new file is checked and moved into place through the handle that wrote
// it: between its creation and its move the run never lets go of it, and never reaches
// it by its name again (another program could have put a file of its own there).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/patch/applier_run.h"
#include "core/patch/memory_platform.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;

class HoldingPlatform : public patch::MemoryPlatform {
 public:
  std::vector<std::string> held;  // read-backs and moves, with the number of open outputs

  patch::LoadResult LoadOutput(patch::OutputFile file, const char* path, patch::FileBlock* block) override {
    held.push_back("load " + std::string(path) + " open=" + std::to_string(open_outputs));
    return MemoryPlatform::LoadOutput(file, path, block);
  }
  bool MoveOutput(patch::OutputFile file, const char* from, const char* to, bool replace) override {
    held.push_back("move " + std::string(from) + " open=" + std::to_string(open_outputs));
    return MemoryPlatform::MoveOutput(file, from, to, replace);
  }
};

TEST(HeldOutput, TheNewFileIsReadBackAndMovedWhileStillOpen) {
  const Bytes old_file = Pattern(3000, 4);
  Bytes new_file = old_file;
  new_file[7] ^= 0x55;
  Entry corrupted = UpdateEntry(old_file, new_file);
  corrupted.new_crc ^= 1;  // the read-back check fails: nothing is moved
  const struct {
    const char* what;
    Entry entry;
    std::vector<std::string> held;
  } kCases[] = {
      {"success", UpdateEntry(old_file, new_file),
       {"load C:\\app\\UPDATE.TMP open=1", "move C:\\app\\UPDATE.TMP open=1"}},
      {"checksum mismatch", corrupted, {"load C:\\app\\UPDATE.TMP open=1"}},
  };
  for (const auto& c : kCases) {
    HoldingPlatform pf;
    pf.AddFile("C:\\app\\Lunder19.exe", old_file);
    pf.AddFile(pf.own_path, MakeImage({c.entry}));
    patch::RunApplier(pf);
    EXPECT_EQ(pf.held, c.held) << c.what;
    EXPECT_EQ(pf.open_outputs, 0) << c.what;
    // After its creation the file is never reached by its name by the run itself (the
    // platform's default read-back and move go by name, logged as the memory file system's).
    const auto created = std::find(pf.log.begin(), pf.log.end(), "create C:\\app\\UPDATE.TMP");
    ASSERT_NE(created, pf.log.end()) << c.what;
    const auto closed = std::find(created, pf.log.end(), "close");
    ASSERT_NE(closed, pf.log.end()) << c.what;
    EXPECT_EQ(std::find(closed, pf.log.end(), "load C:\\app\\UPDATE.TMP"), pf.log.end()) << c.what;
  }
}

}  // namespace
