// The record of a transaction and what the next start makes of it: the record comes back
// as it was written (and any damage makes it unusable); a record that the patch data does
// not vouch for is never acted on; the order of old, cut off between its two renames, is
// finished or undone from the files alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/patch/journal.h"
#include "core/patch/memory_platform.h"
#include "core/patch/recovery.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;
using patch::RecoveryOutcome;

const std::string kDir = "C:\\app\\";
const char kWindows[] = "C:\\WINDOWS";

struct Chain {
  Bytes old_file = Pattern(2000, 1), new_file = Pattern(2100, 2);
  Bytes image;
  uint32_t first = 0;
  Chain() {
    Entry e = UpdateEntry(old_file, new_file);
    e.name = "Lunder19.exe";
    image = MakeImage({e});
    patch::FindPatchData(patch::Image(image.data(), image.size()), &first);
  }
  patch::Image View() const { return patch::Image(image.data(), image.size()); }
  RecoveryOutcome Recover(patch::MemoryPlatform& pf) const {
    return patch::RecoverUpdate(pf, View(), first, kDir.c_str(), kWindows);
  }
};

// The item the applier records for the chain's one entry.
void AddItem(patch::TxItems& items, const Chain& c, const std::string& target) {
  patch::TxItem* item = items.Add();
  item->kind = patch::ItemKind::Replace;
  item->keep_backup = true;
  item->old_crc = Crc(c.old_file);
  item->old_size = static_cast<uint32_t>(c.old_file.size());
  item->new_crc = Crc(c.new_file);
  item->new_size = static_cast<uint32_t>(c.new_file.size());
  std::snprintf(item->target, sizeof item->target, "%s", target.c_str());
}

TEST(Record, ComesBackAsWrittenAndAnyDamageMakesItUnusable) {
  const Chain c;
  patch::MemoryPlatform pf;
  pf.AddFolder("C:\\app");
  patch::TxItems items;
  AddItem(items, c, kDir + "Lunder19.exe");
  AddItem(items, c, std::string(kWindows) + "\\sub\\x.dll");
  items[1].in_windows = true;
  items[1].kind = patch::ItemKind::Touch;
  items[1].number = 7;
  items[1].old_time = 0x0123456789ABCDEFull;
  items[1].new_stamp = patch::LocalStamp{2008, 1, 30, 16, 48, 9};
  const patch::RecordHead head = patch::HeadOfChain(c.View(), c.first);
  ASSERT_TRUE(patch::WriteRecord(pf, kDir.c_str(), kWindows, head, items));
  EXPECT_FALSE(pf.HasFile(kDir + "UPDATE.JNT"));

  patch::RecordHead read_head;
  patch::TxItems read;
  ASSERT_EQ(patch::ReadRecord(pf, kDir.c_str(), kWindows, &read_head, &read), patch::RecordRead::Ok);
  EXPECT_EQ(read_head.chain_crc, head.chain_crc);
  EXPECT_EQ(read_head.chain_size, head.chain_size);
  ASSERT_EQ(read.size(), 2u);
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_STREQ(read[i].target, items[i].target);
    EXPECT_EQ(read[i].kind, items[i].kind);
    EXPECT_EQ(read[i].in_windows, items[i].in_windows);
    EXPECT_EQ(read[i].number, items[i].number);
    EXPECT_EQ(read[i].old_crc, items[i].old_crc);
    EXPECT_EQ(read[i].new_size, items[i].new_size);
    EXPECT_EQ(read[i].old_time, items[i].old_time);
    EXPECT_EQ(read[i].new_stamp.second, items[i].new_stamp.second);
  }
  // Another folder reads the same record as its own paths.
  patch::TxItems moved;
  pf.AddFile("D:\\other\\UPDATE.JNL", pf.File(kDir + "UPDATE.JNL")->data);
  ASSERT_EQ(patch::ReadRecord(pf, "D:\\other\\", kWindows, &read_head, &moved), patch::RecordRead::Ok);
  EXPECT_STREQ(moved[0].target, "D:\\other\\Lunder19.exe");

  const Bytes record = pf.File(kDir + "UPDATE.JNL")->data;
  for (size_t i = 0; i < record.size(); ++i) {
    for (const bool cut : {false, true}) {
      Bytes damaged = record;
      if (cut) damaged.resize(i);
      else damaged[i] ^= 0x10;
      patch::MemoryPlatform other;
      other.AddFile(kDir + "UPDATE.JNL", damaged);
      patch::TxItems none;
      EXPECT_EQ(patch::ReadRecord(other, kDir.c_str(), kWindows, &read_head, &none), patch::RecordRead::Unusable)
          << (cut ? "cut at " : "byte changed at ") << i;
    }
  }
}

TEST(Recovery, ARecordThePatchDataDoesNotVouchForIsNeverActedOn) {
  const Chain c;
  struct Case {
    const char* what;
    std::string target;
    uint32_t old_crc_change, new_crc_change;
    bool other_chain;
  } cases[] = {
      {"a target the chain does not have", kDir + "system.ini", 0, 0, false},
      {"a target in the Windows folder", std::string(kWindows) + "\\Lunder19.exe", 0, 0, false},
      {"another old checksum", kDir + "Lunder19.exe", 1, 0, false},
      {"another new checksum", kDir + "Lunder19.exe", 0, 1, false},
      {"another chain's record", kDir + "Lunder19.exe", 0, 0, true},
  };
  for (const Case& k : cases) {
    patch::MemoryPlatform pf;
    // What a forged record would have the recovery move: a file of the record's new
    // checksum waiting at the item's work name, the target missing.
    pf.AddFile(kDir + "UPDATE.TMP", c.new_file);
    pf.AddFile(kDir + "UPDATE.BAK", c.old_file);
    patch::TxItems items;
    AddItem(items, c, k.target);
    items[0].old_crc += k.old_crc_change;
    items[0].new_crc += k.new_crc_change;
    items[0].in_windows = k.target.rfind(kWindows, 0) == 0;
    patch::RecordHead head = patch::HeadOfChain(c.View(), c.first);
    if (k.other_chain) head.chain_crc ^= 1;
    ASSERT_TRUE(patch::WriteRecord(pf, kDir.c_str(), kWindows, head, items));
    const auto before = pf.Contents();
    EXPECT_EQ(c.Recover(pf), RecoveryOutcome::Unusable) << k.what;
    EXPECT_EQ(pf.Contents(), before) << k.what;
  }
}

TEST(Recovery, ADamagedNewFileIsNeverPutInPlace) {
  const Chain c;
  patch::MemoryPlatform pf;
  pf.AddFile(kDir + "Lunder19.exe", c.old_file);
  Bytes damaged = c.new_file;
  damaged[7] ^= 1;
  pf.AddFile(kDir + "UPDATE.TMP", damaged);
  patch::TxItems items;
  AddItem(items, c, kDir + "Lunder19.exe");
  ASSERT_TRUE(patch::WriteRecord(pf, kDir.c_str(), kWindows, patch::HeadOfChain(c.View(), c.first), items));
  EXPECT_EQ(c.Recover(pf), RecoveryOutcome::RolledBack);
  EXPECT_EQ(pf.File(kDir + "Lunder19.exe")->data, c.old_file);
  EXPECT_EQ(pf.FilePaths(), std::vector<std::string>{kDir + "Lunder19.exe"});  // record and work file gone
}

TEST(Recovery, TheOrderOfOldCutOffBetweenItsRenames) {
  const Chain c;
  const Bytes other = Pattern(100, 9);
  struct Case {
    const char* what;
    Bytes temp, backup;  // empty: no such file
    RecoveryOutcome outcome;
    Bytes program;  // afterwards (empty: missing)
  } cases[] = {
      {"the new file waits: finished", c.new_file, c.old_file, RecoveryOutcome::Finished, c.new_file},
      {"only the backup: rolled back", {}, c.old_file, RecoveryOutcome::RolledBack, c.old_file},
      {"a broken new file beside the backup: rolled back", other, c.old_file, RecoveryOutcome::RolledBack, c.old_file},
      {"files that are neither: left alone", other, other, RecoveryOutcome::Unusable, {}},
      {"nothing of ours: nothing", {}, {}, RecoveryOutcome::Nothing, {}},
  };
  for (const Case& k : cases) {
    patch::MemoryPlatform pf;
    pf.AddFolder("C:\\app");
    if (!k.temp.empty()) pf.AddFile(kDir + "UPDATE.TMP", k.temp);
    if (!k.backup.empty()) pf.AddFile(kDir + "Lunder19.OLD", k.backup);
    EXPECT_EQ(patch::NeedsRecovery(pf, c.View(), c.first, kDir.c_str(), kWindows), !k.temp.empty() || !k.backup.empty())
        << k.what;
    EXPECT_EQ(c.Recover(pf), k.outcome) << k.what;
    const patch::MemoryFile* program = pf.File(kDir + "Lunder19.exe");
    EXPECT_EQ(program ? program->data : Bytes{}, k.program) << k.what;
  }
}

}  // namespace
