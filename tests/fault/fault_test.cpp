// An update is one transaction. On a chain of six entries (a compressed-streams update
// with an older backup, an old version's update that keeps it, a create, a delete, a
// touch, an update without backup):
// - the Nth file operation fails, for every N: the run ends with the folder exactly as
//   it was (and a box naming what failed) or exactly as a clean run leaves it;
// - the run is killed, or the machine goes off, at the Nth operation, for every N, on the
//   NT family and on the Windows 9x family: the program's name is never empty on NT; the
//   recovery that the next start runs leaves the old set or the new set, and a full run
//   after it leaves the new set exactly.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/patch/applier_run.h"
#include "core/patch/checksum.h"
#include "core/patch/format.h"
#include "core/patch/memory_platform.h"
#include "core/patch/messages.h"
#include "core/patch/recovery.h"
#include "core/wizard/payload_seal.h"
#include "tests/unit/box_printer.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;
namespace msg = patch::msg;

const std::string kDir = "C:\\app\\";

// Every file but the applier's own, as its size, checksum and time: readable when two differ.
using Folder = std::map<std::string, std::string>;

Folder Snapshot(patch::MemoryPlatform& pf, bool with_times = true) {
  Folder folder;
  // The folder the update removes once its last file goes. (A folder it makes may stay
  // empty when a run is cut off before its record: no version of anything.)
  if (pf.HasFolder(kDir + "help")) folder[kDir + "help\\"] = "a folder";
  for (const std::string& path : pf.FilePaths()) {
    if (path == pf.own_path) continue;
    const patch::MemoryFile* f = pf.File(path);
    std::string time = "-";
    if (with_times) {
      time = f->stamp ? std::to_string(f->stamp->year) + "-" + std::to_string(f->stamp->month) + "-" +
                            std::to_string(f->stamp->day)
                      : std::to_string(f->base_time);
    }
    folder[path] = std::to_string(f->data.size()) + " bytes, crc " +
                   std::to_string(patch::PatchChecksum(f->data.data(), f->data.size())) + ", time " + time;
  }
  return folder;
}

std::string Show(const Folder& folder) {
  std::string text;
  for (const auto& [path, file] : folder) text += "\n  " + path + ": " + file;
  return text;
}

// The program files alone (what the user runs), without backups and work files.
Folder Programs(const Folder& folder) {
  Folder programs;
  for (const auto& [path, file] : folder) {
    if (path.find(".OLD") == std::string::npos && path.find("UPDATE") == std::string::npos) programs[path] = file;
  }
  return programs;
}

class Transaction : public ::testing::Test {
 protected:
  Bytes image;
  Bytes program_old = Pattern(4010, 1), program_new;

  void SetUp() override {
    program_new = program_old;
    program_new.insert(program_new.begin() + 100, {7, 7, 7});
    program_new[3000] ^= 0x40;
    Bytes data_old = Pattern(4020, 2), data_new = data_old;
    data_new[10] ^= 1;
    Bytes tool_old = Pattern(4030, 3), tool_new = tool_old;
    tool_new.resize(3000);

    std::vector<Entry> entries;
    entries.push_back(StreamsUpdateEntry(program_old, program_new));
    entries.back().name = "Lunder19.exe";
    entries.push_back(UpdateEntry(data_old, data_new));
    entries.back().name = "data.bin";
    entries.back().flags = patch::FLAG_SKIP_ON_MISMATCH;
    Entry create = UpdateEntry({}, Pattern(1500, 30));
    create.name = "new.txt";
    create.flags = patch::FLAG_CREATE_IF_MISSING;
    entries.push_back(create);
    Entry del;
    del.name = "obsolete.txt";
    del.flags = patch::FLAG_DELETE;
    entries.push_back(del);
    Entry touch;
    touch.name = "help.hlp";
    touch.old_crc = Crc(Pattern(800, 31));
    touch.new_size = 1;
    touch.body = Body().Touch().bytes;
    entries.push_back(touch);
    entries.push_back(UpdateEntry(tool_old, tool_new));
    entries.back().name = "tool.dll";
    entries.back().flags = patch::FLAG_NO_BACKUP;
    // A file in a folder the update makes, and the last file of a folder it no longer has.
    Entry nested = UpdateEntry({}, Pattern(900, 32));
    nested.name = "lib.dat";
    nested.folder = "plugins\\new";
    nested.flags = patch::FLAG_CREATE_IF_MISSING;
    entries.push_back(nested);
    Entry gone;
    gone.name = "old.hlp";
    gone.folder = "help";
    gone.flags = patch::FLAG_DELETE;
    entries.push_back(gone);
    image = MakePackedImage(entries);

    Install(clean_);
    patch::RunApplier(clean_);
    ASSERT_EQ(clean_.boxes.back().text, msg::kCompleted);
    Install(untouched_);
    old_set_ = Snapshot(untouched_);
    new_set_ = Snapshot(clean_);
  }

  void Install(patch::MemoryPlatform& pf) {
    pf.AddFile(pf.own_path, image);
    pf.AddFile(kDir + "Lunder19.exe", program_old);
    pf.AddFile(kDir + "Lunder19.OLD", Pattern(50, 101));
    pf.AddFile(kDir + "data.bin", Pattern(4020, 2));
    pf.AddFile(kDir + "data.OLD", Pattern(50, 102));
    pf.AddFile(kDir + "tool.dll", Pattern(4030, 3));
    pf.AddFile(kDir + "obsolete.txt", {1, 2, 3});
    pf.AddFile(kDir + "help.hlp", Pattern(800, 31));
    pf.AddFile(kDir + "help\\old.hlp", Pattern(60, 33));
    pf.SetBaseTime(kDir + "help.hlp", 0x01C8000000000000ull);
  }

  // What the wizard's next start does: recovery, then a whole run unless it finished.
  patch::RecoveryOutcome Recover(patch::MemoryPlatform& pf) {
    uint32_t first = 0;
    EXPECT_TRUE(patch::FindPatchData(patch::Image(image.data(), image.size()), &first));
    return patch::RecoverUpdate(pf, patch::Image(image.data(), image.size()), first, kDir.c_str(), "C:\\WINDOWS");
  }

  patch::MemoryPlatform clean_, untouched_;
  Folder old_set_, new_set_;
};

TEST_F(Transaction, EveryFailingOperationLeavesTheOldSetOrTheNewSet) {
  for (const bool old_family : {false, true}) {
  int failures = 0, old_sets = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE(std::string(old_family ? "9x" : "NT") + ", failing operation " + std::to_string(n));
    patch::MemoryPlatform pf;
    pf.old_family = old_family;
    Install(pf);
    pf.fail_at = n;
    patch::RunApplier(pf);
    EXPECT_EQ(pf.outstanding_blocks, 0);
    EXPECT_EQ(pf.open_outputs, 0);
    if (pf.failed_operation.empty()) break;  // past the last operation
    ++failures;
    const Folder now = Snapshot(pf);
    ASSERT_FALSE(pf.boxes.empty());
    if (now == old_set_) {
      ++old_sets;
      // One box, naming the file whose operation failed (or the record).
      ASSERT_EQ(pf.boxes.size(), 1u) << pf.failed_operation;
      // The record is written under its draft name; its box names the record.
      const std::string named = pf.boxes[0].text == kDir + "UPDATE.JNL" ? kDir + "UPDATE.JNT" : pf.boxes[0].text;
      // A folder that cannot be made is named by the file that was to go in it.
      const std::string operand = pf.failed_operation.substr(pf.failed_operation.rfind(' ') + 1);
      EXPECT_TRUE(pf.failed_operation.find(named) != std::string::npos || named.rfind(operand + "\\", 0) == 0)
          << pf.boxes[0].text << " / " << pf.failed_operation << " / " << pf.boxes[0].caption;
      continue;
    }
    // Whole: a failed delete or stamp is no failure, a backup that cannot take its name
    // leaves the older one, and a flush is only a flush.
    EXPECT_EQ(pf.boxes.back().text, msg::kCompleted) << pf.failed_operation;
    const bool stamp_failed = pf.failed_operation.rfind("stamp", 0) == 0;
    Folder programs = Programs(Snapshot(pf, !stamp_failed));
    Folder expected = Programs(stamp_failed ? Snapshot(clean_, false) : new_set_);
    for (const char* removed : {"obsolete.txt", "help\\old.hlp", "help\\"}) {
      programs.erase(kDir + removed);
      expected.erase(kDir + removed);
    }
    EXPECT_EQ(programs, expected) << pf.failed_operation << Show(programs) << "\nexpected" << Show(expected);
  }
  EXPECT_GE(failures, 50);
  EXPECT_GE(old_sets, 30);
  }
}

// Every byte of the chain changed, one at a time (two ways). The wizard's seal refuses each
// such payload before anything happens. The applier alone, which has no seal, still never
// leaves a file that is neither its old nor its new self, never loses the program, and
// leaves no work file behind; a damaged chain that still reads (an entry's kind, name or
// old checksum changed) may do less than the whole update, which is why the wizard seals it.
TEST_F(Transaction, EveryDamagedByteIsRefusedOrLeavesEachFileOldOrNew) {
  uint32_t first = 0;
  ASSERT_TRUE(patch::FindPatchData(patch::Image(image.data(), image.size()), &first));
  const wizard::PayloadSeal seal = wizard::SealOf(image);
  const Folder old_data = Programs(Snapshot(untouched_, false)), new_data = Programs(Snapshot(clean_, false));
  int runs = 0, whole_updates = 0;
  for (size_t offset = first; offset < image.size(); ++offset) {
    for (const uint8_t change : {uint8_t{0x01}, uint8_t{0xFF}}) {
      SCOPED_TRACE("byte " + std::to_string(offset) + " ^ " + std::to_string(change));
      Bytes damaged = image;
      damaged[offset] ^= change;
      EXPECT_FALSE(wizard::MatchesSeal(damaged, seal.bytes));
      patch::MemoryPlatform pf;
      Install(pf);
      pf.AddFile(pf.own_path, damaged);
      patch::RunApplier(pf);
      ++runs;
      const Folder all = Snapshot(pf, false), now = Programs(all);
      EXPECT_TRUE(now.count(kDir + "Lunder19.exe"));
      for (const auto& [path, file] : now) {
        const auto old_file = old_data.find(path), new_file = new_data.find(path);
        if (old_file == old_data.end() && new_file == new_data.end()) continue;  // a damaged name made it
        EXPECT_TRUE((old_file != old_data.end() && old_file->second == file) ||
                    (new_file != new_data.end() && new_file->second == file))
            << path << ": " << file;
      }
      for (const auto& [path, file] : all) EXPECT_EQ(path.find("UPDATE"), std::string::npos) << path;
      whole_updates += now == new_data;
    }
  }
  EXPECT_GT(runs, 2000);
  EXPECT_GT(whole_updates, 0);  // a changed description, stamp or reserved byte still updates
}

struct Family {
  const char* name;
  bool old_family;
  bool power_cut;
};

class CutOff : public Transaction, public ::testing::WithParamInterface<Family> {};

TEST_P(CutOff, AtEveryOperationTheNextStartEndsWithTheNewSet) {
  const Family family = GetParam();
  int finished = 0, rolled_back = 0, runs = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE(std::string(family.name) + ", cut off at operation " + std::to_string(n));
    patch::MemoryPlatform pf;
    pf.old_family = family.old_family;
    Install(pf);
    pf.halt_at = n;
    patch::RunApplier(pf);
    if (!pf.halted()) break;  // the run ended before operation n
    ++runs;
    if (family.power_cut) pf.PowerCut();
    else pf.Restart();
    const Folder cut = Snapshot(pf);
    // On NT the program's name is never empty, whatever moment the run stopped at.
    if (!family.old_family) EXPECT_TRUE(cut.count(kDir + "Lunder19.exe")) << "program missing";

    const patch::RecoveryOutcome recovered = Recover(pf);
    ASSERT_NE(recovered, patch::RecoveryOutcome::Unusable);
    const Folder after = Programs(Snapshot(pf));
    const bool is_old = after == Programs(old_set_), is_new = after == Programs(new_set_);
    EXPECT_TRUE(is_old || is_new) << "a mix after the recovery" << Show(after);
    if (recovered == patch::RecoveryOutcome::Finished) {
      ++finished;
      EXPECT_TRUE(is_new);
      EXPECT_EQ(Snapshot(pf), new_set_);  // backups made, work files and record gone
      continue;
    }
    if (recovered == patch::RecoveryOutcome::RolledBack) ++rolled_back;
    // Whole already: the wizard says so and runs nothing.
    if (is_new) continue;
    pf.boxes.clear();
    patch::RunApplier(pf);
    EXPECT_EQ(pf.boxes.back().text, msg::kCompleted) << pf.boxes.back().caption << " " << int(recovered)
                                                      << Show(Snapshot(pf));
    EXPECT_EQ(Snapshot(pf), new_set_) << Show(Snapshot(pf)) << "\nexpected" << Show(new_set_);
  }
  EXPECT_GE(runs, 50);
  EXPECT_GE(finished, 10);  // cut off after the record: finished from it
  (void)rolled_back;
}

INSTANTIATE_TEST_SUITE_P(Families, CutOff,
                         ::testing::Values(Family{"NT, killed", false, false}, Family{"NT, power cut", false, true},
                                           Family{"9x, killed", true, false}, Family{"9x, power cut", true, true}),
                         [](const auto& info) {
                           return std::string(info.param.old_family ? "Old" : "Nt") +
                                  (info.param.power_cut ? "PowerCut" : "Killed");
                         });

}  // namespace
