// The wizard's judgement of the folder from its own payload, before a run (is it up to date?)
// and after it (did the run succeed?), and the backups it removes after a whole update.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/patch/memory_platform.h"
#include "core/wizard/update_run.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;

const std::string kDir = "C:\\app\\";
const std::string kProgram = kDir + "Lunder19.EXE";

struct Version {
  Bytes v10 = Pattern(3000, 1), v11 = Pattern(3100, 2), v20 = Pattern(3200, 3), other = Pattern(3300, 4);
};

Entry Update(const Bytes& from, const Bytes& to, const std::string& name, uint8_t flags = 0) {
  Entry e = UpdateEntry(from, to);
  e.name = name;
  e.flags = flags;
  return e;
}

TEST(FolderPlan, EveryJudgedTargetMustHoldItsNewContents) {
  const Version v;
  const Bytes lib_old = Pattern(500, 5), lib_new = Pattern(600, 6), created = Pattern(70, 7);
  Entry create = UpdateEntry({}, created);
  create.name = "new.txt";
  create.flags = patch::FLAG_CREATE_IF_MISSING;
  Entry remove;
  remove.name = "gone.txt";
  remove.flags = patch::FLAG_DELETE;
  const uint8_t kSkip = patch::FLAG_SKIP_ON_MISMATCH;
  const std::vector<Entry> several = {Update(v.v10, v.v20, "Lunder19.exe", kSkip),
                                      Update(v.v11, v.v20, "Lunder19.exe", kSkip)};
  struct Case {
    const char* what;
    std::vector<Entry> chain;
    std::vector<std::pair<std::string, Bytes>> before, after;
    bool new_before, new_after;
  } cases[] = {
      {"the program updated", {Update(v.v10, v.v20, "Lunder19.exe")}, {{"Lunder19.EXE", v.v10}},
       {{"Lunder19.EXE", v.v20}}, false, true},
      {"the program already new", {Update(v.v10, v.v20, "Lunder19.exe")}, {{"Lunder19.EXE", v.v20}},
       {{"Lunder19.EXE", v.v20}}, true, true},
      {"the program left as it was", {Update(v.v10, v.v20, "Lunder19.exe")}, {{"Lunder19.EXE", v.v10}},
       {{"Lunder19.EXE", v.v10}}, false, false},
      {"a program of another size", {Update(v.v10, v.v20, "Lunder19.exe")}, {}, {{"Lunder19.EXE", v.other}}, false,
       false},
      {"several old versions, the second installed", several, {{"Lunder19.EXE", v.v11}}, {{"Lunder19.EXE", v.v20}},
       false, true},
      // Skipped by the applier, but the program is never excused.
      {"several old versions, none installed", several, {{"Lunder19.EXE", v.other}}, {{"Lunder19.EXE", v.other}},
       false, false},
      {"a skippable library of another version is not judged",
       {Update(v.v10, v.v20, "Lunder19.exe"), Update(lib_old, lib_new, "lib.dll", kSkip)},
       {{"Lunder19.EXE", v.v10}, {"lib.dll", v.other}}, {{"Lunder19.EXE", v.v20}, {"lib.dll", v.other}}, false,
       true},
      {"a library of its old version that stayed old",
       {Update(v.v10, v.v20, "Lunder19.exe"), Update(lib_old, lib_new, "lib.dll", kSkip)},
       {{"Lunder19.EXE", v.v10}, {"lib.dll", lib_old}}, {{"Lunder19.EXE", v.v20}, {"lib.dll", lib_old}}, false,
       false},
      {"a created file must be there, any contents", {Update(v.v10, v.v20, "Lunder19.exe"), create},
       {{"Lunder19.EXE", v.v20}, {"new.txt", v.other}}, {{"Lunder19.EXE", v.v20}}, true, false},
      {"a removed file is not judged", {Update(v.v10, v.v20, "Lunder19.exe"), remove},
       {{"Lunder19.EXE", v.v20}, {"gone.txt", v.other}}, {{"Lunder19.EXE", v.v20}, {"gone.txt", v.other}}, true,
       true},
      {"nothing judged is never up to date", {remove}, {}, {}, false, false},
  };
  for (const Case& c : cases) {
    const Bytes payload = MakeImage(c.chain);
    auto plan = wizard::FolderPlan::Read(patch::Image(payload.data(), payload.size()), kDir.c_str(), "C:\\WINDOWS");
    ASSERT_TRUE(plan.has_value()) << c.what;
    patch::MemoryPlatform before, after;
    for (const auto& [name, data] : c.before) before.AddFile(kDir + name, data);
    for (const auto& [name, data] : c.after) after.AddFile(kDir + name, data);
    plan->LookBefore(before, kProgram);
    EXPECT_EQ(plan->AllNew(before), c.new_before) << c.what;
    EXPECT_EQ(plan->AllNew(after), c.new_after) << c.what;
  }
}

TEST(FolderPlan, AnUnreadableChainIsNoPlan) {
  const Version v;
  Bytes payload = MakeImage({Update(v.v10, v.v20, "Lunder19.exe")});
  payload.push_back(1);
  payload.push_back(2);  // two bytes after the chain: broken
  EXPECT_FALSE(wizard::FolderPlan::Read(patch::Image(payload.data(), payload.size()), kDir.c_str(), nullptr));
  const Bytes none(patch::SEARCH_START + 10, 0);
  EXPECT_FALSE(wizard::FolderPlan::Read(patch::Image(none.data(), none.size()), kDir.c_str(), nullptr));
}

TEST(FolderPlan, OnlyBackupsOfAnOldVersionAreRemoved) {
  const Version v;
  const Bytes payload = MakeImage({Update(v.v10, v.v20, "Lunder19.exe", patch::FLAG_SKIP_ON_MISMATCH),
                                   Update(v.v11, v.v20, "Lunder19.exe", patch::FLAG_SKIP_ON_MISMATCH),
                                   Update(Pattern(10, 8), Pattern(20, 9), "data.bin")});
  auto plan = wizard::FolderPlan::Read(patch::Image(payload.data(), payload.size()), kDir.c_str(), nullptr);
  ASSERT_TRUE(plan.has_value());
  patch::MemoryPlatform files;
  files.AddFile(kDir + "Lunder19.OLD", v.v10);  // the older of the two old versions
  files.AddFile(kDir + "data.OLD", v.other);     // the user's own file of that name
  plan->RemoveBackups(files);
  EXPECT_FALSE(files.HasFile(kDir + "Lunder19.OLD"));
  EXPECT_TRUE(files.HasFile(kDir + "data.OLD"));
}

}  // namespace
