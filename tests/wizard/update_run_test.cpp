// The update run's judgement of the install folder after the applier has ended, and the
// backup name it looks for.
#include <gtest/gtest.h>

#include <string>

#include "core/text/cp932.h"
#include "core/wizard/update_run.h"

namespace {

using wizard::FileStamp;
using wizard::JudgeRun;
using wizard::ReplaceExtension;
using wizard::RunOutcome;
using enum wizard::TargetState;

const text::LeadByteTable kCp932 = text::LeadByteTable::Cp932();

TEST(ReplaceExtension, TakesTheLastDotOfTheName) {
  EXPECT_EQ(ReplaceExtension("Lunder19.EXE", ".OLD", kCp932), "Lunder19.OLD");
  EXPECT_EQ(ReplaceExtension("a.b.c", ".OLD", kCp932), "a.b.OLD");
  EXPECT_EQ(ReplaceExtension("README", ".OLD", kCp932), "README.OLD");
  EXPECT_EQ(ReplaceExtension("", ".OLD", kCp932), ".OLD");
}

TEST(ReplaceExtension, ADotBeforeAFolderOrDriveSeparatorIsNoExtension) {
  EXPECT_EQ(ReplaceExtension("C:\\v1.0\\Lunder19", ".OLD", kCp932), "C:\\v1.0\\Lunder19.OLD");
  EXPECT_EQ(ReplaceExtension("a.b:c", ".OLD", kCp932), "a.b:c.OLD");
}

TEST(ReplaceExtension, ASecondByte5CIsNoSeparator) {
  // "x.表" (78 2E 95 5C): the 5C belongs to 表, so the dot still starts the extension.
  EXPECT_EQ(ReplaceExtension("x.\x95\x5C", ".OLD", kCp932), "x.OLD");
  // On a single-byte code page the same 5C is a backslash.
  EXPECT_EQ(ReplaceExtension("x.\x95\x5C", ".OLD", text::LeadByteTable::SingleByte()), "x.\x95\x5C.OLD");
}

FileStamp Stamp(uint64_t index, uint64_t size = 100, uint64_t written = 5000) {
  FileStamp stamp;
  stamp.exists = true;
  stamp.identified = true;
  stamp.volume_serial = 0x1234;
  stamp.file_index = index;
  stamp.size = size;
  stamp.last_write = written;
  return stamp;
}

const FileStamp kNone;

TEST(JudgeRun, ANewBackupBesideTheProgramIsSuccess) {
  EXPECT_EQ(JudgeRun(kNone, Stamp(7), kNew), RunOutcome::kSuccess);
}

TEST(JudgeRun, NoBackupIsFailure) {
  EXPECT_EQ(JudgeRun(kNone, kNone, kNew), RunOutcome::kFailed);
  // The applier may have lost an older backup without making a new one.
  EXPECT_EQ(JudgeRun(Stamp(7), kNone, kNew), RunOutcome::kFailed);
}

TEST(JudgeRun, TheOnlyCopyIsRestoredNotDeleted) {
  EXPECT_EQ(JudgeRun(kNone, Stamp(7), kMissing), RunOutcome::kRestoreBackup);
  // Also when the backup is one that lay there before: it is all that is left.
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7), kMissing), RunOutcome::kRestoreBackup);
  FileStamp unreadable = Stamp(7);
  unreadable.identified = false;
  EXPECT_EQ(JudgeRun(kNone, unreadable, kMissing), RunOutcome::kRestoreBackup);
}

TEST(JudgeRun, AnOlderBackupThatWasNotReplacedIsFailure) {
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7), kNew), RunOutcome::kFailed);
}

TEST(JudgeRun, AKeptBackupCountsWhenTheProgramItselfWasReplaced) {
  // An entry for one of several old versions keeps a backup from an earlier run and puts the
  // new program in place of the old one.
  FileStamp unreadable = Stamp(21);
  unreadable.identified = false;
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7), kNew, Stamp(20), Stamp(21)), RunOutcome::kSuccess);
  // The program that was already there, or one that cannot be told apart from it, proves nothing.
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7), kNew, Stamp(20), Stamp(20)), RunOutcome::kFailed);
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7), kNew, Stamp(20), unreadable), RunOutcome::kFailed);
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7), kNew, kNone, Stamp(21)), RunOutcome::kFailed);
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7), kOther, Stamp(20), Stamp(21)), RunOutcome::kFailed);
  EXPECT_EQ(JudgeRun(Stamp(7), kNone, kNew, Stamp(20), Stamp(21)), RunOutcome::kFailed);
}

TEST(JudgeRun, AReplacedBackupIsSuccessWhateverChanged) {
  // The applier deletes the older backup and renames the program: another file index.
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(8), kNew), RunOutcome::kSuccess);
  // A file system that reuses the index still shows another size or time.
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7, 101), kNew), RunOutcome::kSuccess);
  EXPECT_EQ(JudgeRun(Stamp(7), Stamp(7, 100, 5001), kNew), RunOutcome::kSuccess);
  FileStamp other_volume = Stamp(7);
  other_volume.volume_serial = 0x4321;
  EXPECT_EQ(JudgeRun(Stamp(7), other_volume, kNew), RunOutcome::kSuccess);
}

TEST(JudgeRun, ABackupThatCannotBeToldApartFromTheOlderOneIsFailure) {
  FileStamp unreadable = Stamp(8);
  unreadable.identified = false;
  EXPECT_EQ(JudgeRun(Stamp(7), unreadable, kNew), RunOutcome::kFailed);
  FileStamp unread_before = Stamp(7);
  unread_before.identified = false;
  EXPECT_EQ(JudgeRun(unread_before, Stamp(8), kNew), RunOutcome::kFailed);
}

TEST(JudgeRun, AProgramThatIsNotTheNewOneIsNeverSuccessAndNeverOverwritten) {
  // Another process made a program and a backup during the run: whatever the backup
  // looks like, the run failed and both files stay.
  FileStamp unreadable = Stamp(8);
  unreadable.identified = false;
  for (const FileStamp& before : {kNone, Stamp(7)}) {
    for (const FileStamp& after : {kNone, Stamp(7), Stamp(8), unreadable}) {
      EXPECT_EQ(JudgeRun(before, after, kOther), RunOutcome::kFailed);
    }
  }
}

}  // namespace
