// patchtool make --old-dir ... --new-dir: the chain brings each old folder to the new one
// through the applier's own run (files changed, added, removed, in sub-folders; the program
// first), leaves unchanged files out, and refuses what the applier could not name.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "core/patch/applier_run.h"
#include "core/patch/memory_platform.h"
#include "core/patch/messages.h"
#include "test_support.h"

namespace {

using test_support::Bytes;
using test_support::ProgramLikeBytes;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::Tool;
using test_support::Utf8;
using test_support::WriteFile;

using Tree = std::map<std::string, Bytes>;  // "sub/a.dll" -> contents

void Write(const TempDir& dir, const std::string& root, const Tree& tree) {
  for (const auto& [path, data] : tree) {
    const std::string file = dir / (root + "/" + path);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    WriteFile(file, data);
  }
}

// The chain run by the applier over `installed` in C:\app\: what the folder then holds.
Tree Apply(const Bytes& chain, const Tree& installed, std::string* last_box) {
  patch::MemoryPlatform pf;
  Bytes image(patch::SEARCH_START, 0);
  image.insert(image.end(), chain.begin(), chain.end());
  pf.AddFile(pf.own_path, image);
  for (const auto& [path, data] : installed) {
    std::string run = path;
    std::replace(run.begin(), run.end(), '/', '\\');
    pf.AddFile("C:\\app\\" + run, data);
  }
  patch::RunApplier(pf);
  *last_box = pf.boxes.empty() ? "" : pf.boxes.back().text;
  Tree after;
  for (const std::string& path : pf.FilePaths()) {
    if (path == pf.own_path) continue;
    std::string tree_path = path.substr(7);
    std::replace(tree_path.begin(), tree_path.end(), '\\', '/');
    after[tree_path] = pf.File(path)->data;
  }
  return after;
}

TEST(FolderUpdate, EachOldReleaseBecomesTheNewOne) {
  TempDir dir;
  const Bytes program_v1 = ProgramLikeBytes(60'000, 1);
  Bytes program_v2 = program_v1, lib_v1 = ProgramLikeBytes(20'000, 2), lib_v11 = lib_v1, lib_v2 = lib_v1;
  program_v2[100] ^= 1;
  lib_v11[5] ^= 2;
  lib_v2[900] ^= 3;
  const Tree v1 = {{"Lunder19.EXE", program_v1}, {"lib.dll", lib_v1}, {"same.txt", {1, 2}},
                   {"help/old.hlp", {3}},       {"data/rates.dat", {4, 5, 6}}};
  const Tree v11 = {{"Lunder19.EXE", program_v1}, {"lib.dll", lib_v11}, {"same.txt", {1, 2}},
                    {"data/rates.dat", {4, 5, 6}}};
  const Tree v2 = {{"Lunder19.EXE", program_v2}, {"lib.dll", lib_v2},         {"same.txt", {1, 2}},
                   {"data/rates.dat", {4, 5, 7}}, {"data/forms/new.frm", {8}}, {"Manual.txt", {9}}};
  Write(dir, "v1", v1);
  Write(dir, "v11", v11);
  Write(dir, "v2", v2);

  const std::string patch_path = dir / "folder.diff";
  const auto made = Tool({"make", "--old-dir", dir / "v1", "--old-dir", dir / "v11", "--new-dir", dir / "v2", "-o",
                          patch_path, "--program", "Lunder19.EXE"});
  ASSERT_EQ(made.code, 0) << made.err;
  EXPECT_NE(made.out.find("1 files unchanged"), std::string::npos) << made.out;
  const Bytes chain = ReadFile(patch_path);
  patch::EntryHeader first;
  ASSERT_EQ(patch::ParseEntryHeader(chain, 0, &first), patch::HeaderOutcome::Ok);
  EXPECT_EQ(std::string(first.target_name.data), "Lunder19.EXE");  // the program comes first
  EXPECT_FALSE(first.no_backup());

  for (const Tree* old : {&v1, &v11}) {
    std::string box;
    Tree after = Apply(chain, *old, &box);
    EXPECT_EQ(box, patch::msg::kCompleted);
    EXPECT_EQ(after.count("Lunder19.OLD"), 1u);  // the program's backup, which the wizard removes
    after.erase("Lunder19.OLD");
    EXPECT_EQ(after, v2);
  }
  // A second run over the new folder changes nothing.
  std::string box;
  Tree twice = Apply(chain, v2, &box);
  EXPECT_EQ(twice, v2);

  const auto dry = Tool({"make", "--old-dir", dir / "v1", "--new-dir", dir / "v2", "--dry-run"});
  ASSERT_EQ(dry.code, 0) << dry.err;
  for (const char* line : {"update  lib.dll", "create  data/forms/new.frm", "delete  help/old.hlp"}) {
    EXPECT_NE(dry.out.find(line), std::string::npos) << line << "\n" << dry.out;
  }
  const auto info = Tool({"info", patch_path});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("data\\forms\\new.frm  1 bytes"), std::string::npos) << info.out;
}

TEST(FolderUpdate, NamesTheApplierCannotTakeAreRefused) {
  const struct {
    const char* what;
    std::string name;
    const char* message;
  } cases[] = {
      {"two names that differ only in case", "A.txt", "differ only in the case"},
      {"a name without a code page 932 form", Utf8(u8"\U0001F600.txt"), "without a code page 932 form"},
      {"a work file's name", "UPDATE3.BAK", "work files"},
      {"a path too long for the applier's buffers", std::string(240, 'd') + "/x.txt", "leaves no room"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    Write(dir, "old", {{"a.txt", {1}}});
    Write(dir, "new", {{"a.txt", {2}}, {c.name, {3}}});
    const std::string out = dir / "p.diff";
    const auto made = Tool({"make", "--old-dir", dir / "old", "--new-dir", dir / "new", "-o", out});
    EXPECT_NE(made.code, 0) << c.what;
    EXPECT_NE(made.err.find(c.message), std::string::npos) << c.what << ": " << made.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.what;
  }
}

}  // namespace
