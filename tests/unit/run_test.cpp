// The applier's whole run on the in-memory platform: what the user sees (boxes, dialog
// lines) and what the folder holds afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/patch/applier_run.h"
#include "core/patch/memory_platform.h"
#include "core/patch/messages.h"
#include "tests/unit/box_printer.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;
using patch::BoxOwner;
using patch::MemoryPlatform;
using patch::ShownBox;
namespace msg = patch::msg;

const std::string kDir = "C:\\app\\";
const std::string kTarget = kDir + "Lunder19.exe";
const std::string kBackup = kDir + "Lunder19.OLD";
const std::string kTemp = kDir + "UPDATE.TMP";

ShownBox Box(const std::string& text, const std::string& caption, BoxOwner owner, uint32_t type) {
  return ShownBox{text, caption, owner, type};
}
const ShownBox kCompleted = Box(msg::kCompleted, msg::kFileUpdate, BoxOwner::Dialog, 0);
const ShownBox kBroken = Box(msg::kBrokenData, msg::kAbnormalEnd, BoxOwner::Dialog, 0x30);

class Run : public ::testing::Test {
 protected:
  Bytes old_file = Pattern(3000, 1);
  Bytes new_file;
  MemoryPlatform pf;

  void SetUp() override {
    new_file = old_file;
    new_file[10] ^= 0xFF;
    new_file.insert(new_file.begin() + 2000, {1, 2, 3, 4, 5});
  }
  Entry Update() const { return UpdateEntry(old_file, new_file); }
  void Start(const std::vector<Entry>& entries, size_t trailing = 0) {
    Bytes image = MakeImage(entries);
    image.resize(image.size() + trailing, 0x11);
    pf.AddFile(pf.own_path, image);
    patch::RunApplier(pf);
    // Whatever happened: every block released, every output closed, the dialog gone,
    // and no box claims a dialog that does not exist.
    EXPECT_EQ(pf.outstanding_blocks, 0);
    EXPECT_EQ(pf.open_outputs, 0);
    EXPECT_FALSE(pf.dialog_open);
    EXPECT_EQ(pf.boxes_owned_without_dialog, 0);
  }
  Bytes Data(const std::string& path) const {
    const patch::MemoryFile* f = pf.File(path);
    return f ? f->data : Bytes{};
  }
  std::vector<ShownBox> Boxes(std::initializer_list<ShownBox> boxes) { return boxes; }
};

// ---- Success and the backup ----

TEST_F(Run, UpdateKeepsTheOldFileAsBackup) {
  pf.AddFile(kTarget, old_file);
  Start({Update()});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
  EXPECT_EQ(Data(kBackup), old_file);
  EXPECT_FALSE(pf.HasFile(kTemp));
  const auto& stamp = pf.File(kTarget)->stamp;
  ASSERT_TRUE(stamp.has_value());
  EXPECT_EQ(stamp->year, 2008);
  EXPECT_EQ(stamp->month, 1);
  EXPECT_EQ(stamp->day, 30);
  EXPECT_EQ(stamp->hour, 16);
  EXPECT_EQ(stamp->minute, 48);
  EXPECT_EQ(stamp->second, 9);
  EXPECT_EQ(pf.lines[patch::kLineTarget], kTarget);
  EXPECT_EQ(pf.lines[patch::kLineDescription], "アップデート Ver1.0⇒2.0");
  EXPECT_EQ(pf.lines[patch::kLineStatus], "ファイルサイズ : 3005 ﾊﾞｲﾄ");
  EXPECT_EQ(pf.lines[patch::kLinePercent], "100%");
  EXPECT_EQ(pf.bar_position, 100);
  EXPECT_EQ(pf.dialogs_opened, 1);
}

TEST_F(Run, OlderBackupIsReplaced) {
  pf.AddFile(kTarget, old_file);
  pf.AddFile(kBackup, {9, 9});
  Start({Update()});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kBackup), old_file);
}

TEST_F(Run, SkipOnMismatchKeepsTheOlderBackupAndDeletesTheTarget) {
  Entry e = Update();
  e.flags = patch::FLAG_SKIP_ON_MISMATCH;
  pf.AddFile(kTarget, old_file);
  pf.AddFile(kBackup, {9, 9});
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
  EXPECT_EQ(Data(kBackup), (Bytes{9, 9}));
}

TEST_F(Run, NoBackupDeletesTheOldFileAndLeavesABackupAlone) {
  Entry e = Update();
  e.flags = patch::FLAG_NO_BACKUP;
  pf.AddFile(kTarget, old_file);
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
  EXPECT_FALSE(pf.HasFile(kBackup));
}

TEST_F(Run, FolderAtTheBackupPathStopsBeforeTheTargetIsTouched) {
  pf.AddFile(kTarget, old_file);
  pf.AddFolder(kBackup);
  Start({Update()});
  EXPECT_EQ(pf.boxes, Boxes({Box(kTarget, msg::kRenameFailed, BoxOwner::Dialog, 0x30)}));
  EXPECT_EQ(Data(kTarget), old_file);
  EXPECT_FALSE(pf.HasFile(kTemp));  // refused before the new file was written
}

// Names the file system takes for the target itself: its own backup name (the case of
// letters does not count) and the temporary name. Without the refusal the old file was
// deleted as the "older backup", or overwritten as the temporary file.
class TargetNamedLikeAWorkFile : public Run, public ::testing::WithParamInterface<const char*> {};

TEST_P(TargetNamedLikeAWorkFile, IsRefusedAndLeftUntouched) {
  const std::string target = kDir + GetParam();
  pf.AddFile(target, old_file);
  Entry e = Update();
  e.name = GetParam();
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({Box(target, msg::kRenameFailed, BoxOwner::Dialog, 0x30)}));
  EXPECT_EQ(Data(target), old_file);
}
INSTANTIATE_TEST_SUITE_P(Run, TargetNamedLikeAWorkFile, ::testing::Values("data.OLD", "data.old", "update.tmp", "UPDATE10.BAK"));

TEST_F(Run, NoBackupEntryUpdatesAFileNamedLikeABackup) {
  // No backup is made, so nothing can take the target for one.
  const std::string target = kDir + "data.OLD";
  pf.AddFile(target, old_file);
  Entry e = Update();
  e.name = "data.OLD";
  e.flags = patch::FLAG_NO_BACKUP;
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(target), new_file);
}

TEST_F(Run, StaleTemporaryFileIsOverwritten) {
  pf.AddFile(kTarget, old_file);
  pf.AddFile(kTemp, Pattern(9000, 4));
  Start({Update()});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
}

TEST_F(Run, NewSizeZeroBuildsAnEmptyFileJudgedByItsChecksum) {
  pf.AddFile(kTarget, old_file);
  Entry e = UpdateEntry(old_file, {});
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_TRUE(pf.HasFile(kTarget));
  EXPECT_TRUE(Data(kTarget).empty());
  EXPECT_EQ(pf.bar_position, 100);
}

// ---- Checksums ----

TEST_F(Run, OldChecksumMismatchStopsBeforeAnythingIsCreated) {
  pf.AddFile(kTarget, new_file);  // already updated: a second run
  pf.AddFile(kBackup, old_file);
  Start({Update()});
  EXPECT_EQ(pf.boxes, Boxes({Box(kTarget, msg::kChecksumMismatch, BoxOwner::None, 0x30)}));
  EXPECT_FALSE(pf.HasFile(kTemp));
  EXPECT_EQ(Data(kTarget), new_file);
  EXPECT_EQ(Data(kBackup), old_file);
  EXPECT_GE(pf.pumps, 1);  // the dialog was painted before the box
}

TEST_F(Run, NewChecksumMismatchLeavesTheTargetAndNoTemporaryFile) {
  pf.AddFile(kTarget, old_file);
  Entry e = Update();
  e.new_crc ^= 1;
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({Box(kTarget, msg::kChecksumMismatch, BoxOwner::Dialog, 0x30)}));
  EXPECT_EQ(Data(kTarget), old_file);
  EXPECT_FALSE(pf.HasFile(kTemp));
  EXPECT_FALSE(pf.HasFile(kBackup));
}

TEST_F(Run, SkipModeChangesNothingAndTheNextEntryRuns) {
  const std::string other = kDir + "other.dat";
  Entry skipped = Update();
  skipped.flags = patch::FLAG_SKIP_ON_MISMATCH;
  const Bytes other_old = Pattern(500, 7), other_new = Pattern(700, 8);
  Entry next = UpdateEntry(other_old, other_new);
  next.name = "other.dat";
  pf.AddFile(kTarget, new_file);  // mismatch
  pf.AddFile(other, other_old);
  Start({skipped, next});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
  EXPECT_FALSE(pf.File(kTarget)->stamp.has_value());
  EXPECT_FALSE(pf.HasFile(kBackup));
  EXPECT_EQ(Data(other), other_new);
  EXPECT_EQ(pf.bar_steps, 200);  // the skipped entry's bar ran to 100 as well
  EXPECT_EQ(pf.bar_resets, 2);
}

TEST_F(Run, SkippedEntryShowsTheSkipText) {
  Entry skipped = Update();
  skipped.flags = patch::FLAG_SKIP_ON_MISMATCH;
  pf.AddFile(kTarget, new_file);
  Start({skipped});
  EXPECT_EQ(pf.lines[patch::kLineStatus], "CRC相違(読み飛ばし中)");
  EXPECT_EQ(pf.lines[patch::kLinePercent], "100%");
}

// ---- Entry kinds ----

TEST_F(Run, CreateIfMissingCreatesWithoutBackup) {
  Entry e = UpdateEntry({}, new_file);
  e.flags = patch::FLAG_CREATE_IF_MISSING;
  e.old_crc = 0xDEAD;  // never compared
  pf.AddFolder("C:\\app");
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
  EXPECT_FALSE(pf.HasFile(kBackup));
}

TEST_F(Run, CreateIfMissingLeavesAnExistingTargetAlone) {
  Entry e = UpdateEntry({}, new_file);
  e.flags = patch::FLAG_CREATE_IF_MISSING;
  pf.AddFile(kTarget, old_file);
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), old_file);
  EXPECT_FALSE(pf.File(kTarget)->stamp.has_value());
  EXPECT_EQ(pf.lines[patch::kLineStatus], "CRC相違(読み飛ばし中)");
  EXPECT_FALSE(pf.HasFile(kTemp));
}

TEST_F(Run, DeleteEntryRemovesTheTargetAndAMissingOneIsNoFailure) {
  Entry del;
  del.flags = patch::FLAG_DELETE;
  Entry del_missing = del;
  del_missing.name = "gone.txt";
  pf.AddFile(kTarget, old_file);
  Start({del, del_missing});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_FALSE(pf.HasFile(kTarget));
  EXPECT_EQ(pf.lines[patch::kLinePercent], "0%");
  EXPECT_EQ(pf.bar_steps, 0);
}

TEST_F(Run, TouchMarkerChangesOnlyTheTime) {
  Entry touch;
  touch.body = Body().Touch().bytes;
  touch.new_size = 77;
  touch.old_crc = Crc(old_file);
  pf.AddFile(kTarget, old_file);
  Start({touch});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), old_file);
  ASSERT_TRUE(pf.File(kTarget)->stamp.has_value());
  EXPECT_FALSE(pf.HasFile(kTemp));
  EXPECT_FALSE(pf.HasFile(kBackup));
}

TEST_F(Run, OpenDocumentFirstEndsSilently) {
  Entry doc;
  doc.flags = patch::FLAG_OPEN_DOCUMENT;
  doc.name = "readme.txt";
  pf.AddFile(kTarget, old_file);
  Start({doc, Update()});
  EXPECT_TRUE(pf.boxes.empty());
  EXPECT_EQ(pf.dialogs_opened, 0);
  EXPECT_TRUE(pf.shell_opened.empty());
  EXPECT_EQ(Data(kTarget), old_file);
}

TEST_F(Run, OpenDocumentLaterShowsItsBoxThenOpensAndNothingAfterIsRead) {
  Entry doc;
  doc.flags = patch::FLAG_OPEN_DOCUMENT;
  doc.name = "readme.txt";
  Entry broken;
  broken.major = 9;  // would be refused if it were read
  pf.AddFile(kTarget, old_file);
  Start({Update(), doc, broken});
  EXPECT_EQ(pf.boxes, Boxes({Box(msg::kShowDocument, msg::kCompleted, BoxOwner::None, 0)}));
  EXPECT_EQ(pf.shell_opened, std::vector<std::string>{kDir + "readme.txt"});
  EXPECT_EQ(Data(kTarget), new_file);
}

// ---- Where the target lies ----

TEST_F(Run, TargetFolderForms) {
  struct Case {
    std::string folder;
    std::string target;
  } cases[] = {{"", kTarget},
               {"*", "C:\\WINDOWS\\Lunder19.exe"},
               {"*\\system", "C:\\WINDOWS\\system\\Lunder19.exe"},
               {"*sub", "C:\\WINDOWSsub\\Lunder19.exe"},
               {"sub", kDir + "sub\\Lunder19.exe"}};
  for (const Case& c : cases) {
    MemoryPlatform p;
    Entry e = Update();
    e.folder = c.folder;
    p.AddFile(c.target, old_file);
    p.AddFile(p.own_path, MakeImage({e}));
    patch::RunApplier(p);
    EXPECT_EQ(p.boxes, Boxes({kCompleted})) << c.folder;
    EXPECT_EQ(p.File(c.target)->data, new_file) << c.folder;
    const std::string folder = c.target.substr(0, c.target.rfind('\\') + 1);
    EXPECT_TRUE(p.HasFile(folder + "Lunder19.OLD")) << c.folder;
    EXPECT_NE(std::find(p.log.begin(), p.log.end(), "create " + folder + "UPDATE.TMP"), p.log.end());
  }
}

TEST_F(Run, OldFormatHasNoFolderString) {
  Entry e = Update();
  e.major = 1;
  e.minor = 0;
  e.folder = "ignored";
  pf.AddFile(kTarget, old_file);
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
}

TEST_F(Run, PathsWithSecondByte5CAreSplitAtRealBackslashes) {
  const std::string dir = "C:\\表示ソフト\\";
  pf.own_path = dir + "Lunder19Patch.EXE";
  Entry e = Update();
  e.name = "ソフト表.exe";
  pf.AddFile(dir + "ソフト表.exe", old_file);
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(dir + "ソフト表.exe"), new_file);
  EXPECT_EQ(Data(dir + "ソフト表.OLD"), old_file);
  EXPECT_NE(std::find(pf.log.begin(), pf.log.end(), "create " + dir + "UPDATE.TMP"), pf.log.end());
}

TEST(PathRules, BackupNameCutsAtTheFirstDotOfTheName) {
  char out[patch::kPathCapacity];
  struct Case {
    const char* target;
    const char* backup;
  } cases[] = {{"C:\\app\\Lunder19.exe", "C:\\app\\Lunder19.OLD"},
               {"C:\\app\\a.b.c", "C:\\app\\a.OLD"},
               {"C:\\app\\README", "C:\\app\\README.OLD"},
               {"C:\\my.app\\README", "C:\\my.app\\README.OLD"},
               {"C:\\表\\ソ.ソ.x", "C:\\表\\ソ.OLD"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(patch::MakeBackupPath(c.target, out, sizeof out));
    EXPECT_STREQ(out, c.backup);
  }
  ASSERT_TRUE(patch::MakeTempPath("C:\\表\\x.exe", out, sizeof out));
  EXPECT_STREQ(out, "C:\\表\\UPDATE.TMP");
}

TEST(PathRules, OverlongPathsAreCutSafelyAndReported) {
  char out[16];
  EXPECT_FALSE(patch::MakeTempPath("C:\\abcd\\x", out, sizeof out));  // C:\abcd\UPDATE.TMP is 18
  EXPECT_STREQ(out, "C:\\abcd\\UPDATE.");
  EXPECT_FALSE(patch::MakeBackupPath("C:\\表表表表表表表", out, sizeof out));
  EXPECT_EQ(std::string(out), "C:\\表表表表表表");  // never half a character
}

// ---- Failures of the patch data ----

TEST_F(Run, NoPatchDataNamesTheOwnFile) {
  pf.AddFile(pf.own_path, Bytes(patch::SEARCH_START + 10, 0));
  patch::RunApplier(pf);
  EXPECT_EQ(pf.boxes, Boxes({Box(pf.own_path, msg::kNoPatchData, BoxOwner::None, 0x30)}));
  EXPECT_EQ(pf.outstanding_blocks, 0);
}

TEST_F(Run, TooHighVersionFirstAndLater) {
  Entry bad = Update();
  bad.minor = 5;
  pf.AddFile(kTarget, old_file);
  Start({bad});
  EXPECT_EQ(pf.boxes, Boxes({Box(msg::kUnusableData, msg::kErrorCaption, BoxOwner::None, 0x30)}));
  EXPECT_EQ(pf.dialogs_opened, 0);

  MemoryPlatform later;
  later.AddFile(kTarget, old_file);
  later.AddFile(later.own_path, MakeImage({Update(), bad}));
  patch::RunApplier(later);
  EXPECT_EQ(later.boxes, Boxes({Box(msg::kUnusableData, msg::kErrorCaption, BoxOwner::None, 0x30)}));
  // The whole chain is read before anything changes: the first entry is not applied.
  EXPECT_EQ(later.File(kTarget)->data, old_file);
  EXPECT_EQ(later.FilePaths(), (std::vector<std::string>{kTarget, later.own_path}));
}

TEST_F(Run, BrokenChainAfterAGoodEntryChangesNothing) {
  pf.AddFile(kTarget, old_file);
  Start({Update()}, 2);
  EXPECT_EQ(pf.boxes, Boxes({kBroken}));
  EXPECT_EQ(Data(kTarget), old_file);
  EXPECT_EQ(pf.FilePaths(), (std::vector<std::string>{kTarget, pf.own_path}));
}

TEST_F(Run, OneTrailingByteStillCompletes) {
  pf.AddFile(kTarget, old_file);
  Start({Update()}, 1);
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
}

TEST_F(Run, DamagedBodiesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    Bytes body;
    uint8_t flags;
  } cases[] = {
      {"stream short of new_size", Body().Literal("abc").bytes, 0},
      {"record past the end", Bytes{0x10, 0x00, 'a'}, 0},
      {"copy outside the old file", Body().Copy(100, 2950).bytes, 0},
      {"copy in a create entry", Body().Copy(8, 0).bytes, patch::FLAG_CREATE_IF_MISSING},
  };
  for (const Case& c : cases) {
    MemoryPlatform p;
    Entry e = Update();
    e.body = c.body;
    e.flags = c.flags;
    e.new_size = 100;
    if (c.flags == 0) p.AddFile(kTarget, old_file);
    p.AddFolder("C:\\app");
    p.AddFile(p.own_path, MakeImage({e}));
    patch::RunApplier(p);
    EXPECT_EQ(p.boxes, Boxes({kBroken})) << c.what;
    EXPECT_EQ(p.writes, 0u) << c.what;
    EXPECT_FALSE(p.HasFile(kTemp)) << c.what;
    EXPECT_EQ(p.dialog_open, false);
  }
}

TEST_F(Run, TruncatedFirstHeaderHasNoDialogBehindItsBox) {
  Bytes image = MakeImage({Update()});
  image.resize(patch::SEARCH_START + 20);
  pf.AddFile(pf.own_path, image);
  patch::RunApplier(pf);
  EXPECT_EQ(pf.boxes, Boxes({Box(msg::kBrokenData, msg::kAbnormalEnd, BoxOwner::None, 0x30)}));
  EXPECT_EQ(pf.dialogs_opened, 0);
}

// ---- Failures of files ----

class FailingLoad : public MemoryPlatform {
 public:
  std::string path;
  patch::LoadResult result = patch::LoadResult::Ok;
  patch::LoadResult LoadWholeFile(const char* p, patch::FileBlock* block) override {
    if (p == path) return result;
    return MemoryPlatform::LoadWholeFile(p, block);
  }
  patch::LoadResult LoadOutput(patch::OutputFile file, const char* p, patch::FileBlock* block) override {
    if (p == path) return result;
    return MemoryPlatform::LoadOutput(file, p, block);
  }
};

TEST_F(Run, EachLoadFailureHasItsOwnCaption) {
  struct Case {
    patch::LoadResult result;
    const char* caption;
  } cases[] = {{patch::LoadResult::OpenFailed, msg::kOpenFailed},
               {patch::LoadResult::SizeFailed, msg::kSizeFailed},
               {patch::LoadResult::AllocFailed, msg::kAllocFailed},
               {patch::LoadResult::LockFailed, msg::kLockFailed},
               {patch::LoadResult::ReadFailed, msg::kReadFailed}};
  for (const Case& c : cases) {
    for (const std::string& path : {kTarget, kTemp}) {
      FailingLoad p;
      p.path = path;
      p.result = c.result;
      p.AddFile(kTarget, old_file);
      p.AddFile(p.own_path, MakeImage({Update()}));
      patch::RunApplier(p);
      EXPECT_EQ(p.boxes, Boxes({Box(path, c.caption, BoxOwner::None, 0x30)}));
      EXPECT_EQ(p.File(kTarget)->data, old_file);
      EXPECT_EQ(p.outstanding_blocks, 0);
    }
  }
}

TEST_F(Run, TimeStampFailureIsShownAndTheRunGoesOn) {
  pf.stamp_error = 5;
  pf.AddFile(kTarget, old_file);
  Start({Update()});
  EXPECT_EQ(pf.boxes, Boxes({Box("[5]", msg::kStampFailed, BoxOwner::Dialog, 0), kCompleted}));
  EXPECT_EQ(Data(kTarget), new_file);
}

TEST_F(Run, ImpossibleDateIsAFailedTimeStamp) {
  Entry e = Update();
  e.month = 2;
  e.day = 30;
  pf.AddFile(kTarget, old_file);
  Start({e});
  EXPECT_EQ(pf.boxes, Boxes({Box("[87]", msg::kStampFailed, BoxOwner::Dialog, 0), kCompleted}));
  EXPECT_FALSE(pf.File(kTarget)->stamp.has_value());
}

TEST_F(Run, LockedOlderBackupCannotBeDeleted) {
  pf.AddFile(kTarget, old_file);
  pf.AddFile(kBackup, {1});
  pf.Lock(kBackup);
  Start({Update()});
  EXPECT_EQ(pf.boxes, Boxes({Box(kBackup, msg::kDeleteFailed, BoxOwner::Dialog, 0x30)}));
  EXPECT_EQ(Data(kTarget), old_file);
  EXPECT_FALSE(pf.HasFile(kTemp));
}

// ---- Paths that do not fit ----

TEST_F(Run, OverlongTargetIsNeverActedOnUnderItsCutName) {
  // The cut path names a real file; no kind of entry may read, delete or open it. A
  // delete entry of a name that does not fit comes first, so the run has begun. In a
  // folder of 500 characters no work file name fits either; in one of 300 they do, and
  // only the target's own check stands between the cut name and its file.
  for (const auto& [folder_length, name] : {std::pair<size_t, std::string>{500, "a-long-enough-name.exe"},
                                            std::pair<size_t, std::string>{300, std::string(240, 'n') + ".exe"}}) {
    const std::string dir = "C:\\" + std::string(folder_length, 'd') + "\\";
    const std::string cut = (dir + name).substr(0, patch::kPathCapacity - 1);
    const ShownBox refused = Box(cut, msg::kOpenFailed, BoxOwner::None, 0x30);
    struct Case {
      uint8_t flags;
      ShownBox last_box;
    } cases[] = {{0, refused},
                 {patch::FLAG_CREATE_IF_MISSING, refused},
                 {patch::FLAG_DELETE, kCompleted},
                 {patch::FLAG_OPEN_DOCUMENT, refused}};
    for (const Case& c : cases) {
      MemoryPlatform p;
      p.own_path = dir + "p.exe";
      p.AddFile(cut, {7});
      Entry del;
      del.flags = patch::FLAG_DELETE;
      del.name = name;
      Entry e = c.flags == patch::FLAG_CREATE_IF_MISSING ? UpdateEntry({}, new_file) : Update();
      e.flags = c.flags;
      e.name = name;
      if (c.flags == patch::FLAG_DELETE || c.flags == patch::FLAG_OPEN_DOCUMENT) e.body.clear();  // no body
      p.AddFile(p.own_path, MakeImage({del, e}));
      patch::RunApplier(p);
      EXPECT_EQ(p.boxes, Boxes({c.last_box})) << int(c.flags);
      ASSERT_TRUE(p.HasFile(cut)) << int(c.flags);
      EXPECT_EQ(p.File(cut)->data, Bytes{7}) << int(c.flags);
      EXPECT_TRUE(p.shell_opened.empty()) << int(c.flags);
    }
  }
}

TEST_F(Run, OverlongTemporaryOrBackupPathIsRefusedBeforeWriting) {
  // Target fits exactly; "UPDATE.TMP" is longer than the name "a".
  const std::string dir = "C:\\" + std::string(511 - 5, 'd') + "\\";
  pf.own_path = dir + "p";  // the own path itself must still fit
  Entry e = Update();
  e.name = "a";
  pf.AddFile(dir + "a", old_file);
  Start({e});
  ASSERT_EQ(pf.boxes.size(), 1u);
  EXPECT_EQ(pf.boxes[0], Box((dir + "UPDATE.TMP").substr(0, 511), msg::kOpenFailed, BoxOwner::None, 0x30));
  EXPECT_EQ(pf.writes, 0u);

  MemoryPlatform p;
  const std::string dir2 = "C:\\" + std::string(511 - 14, 'd') + "\\";  // name of 10, backup of 14
  p.own_path = dir2 + "p.exe";
  e.name = "abcdefghij";
  p.AddFile(dir2 + "abcdefghij", old_file);
  p.AddFile(p.own_path, MakeImage({e}));
  patch::RunApplier(p);
  ASSERT_EQ(p.boxes.size(), 1u);
  EXPECT_EQ(p.boxes[0], Box((dir2 + "abcdefghij.OLD").substr(0, 511), msg::kRenameFailed, BoxOwner::Dialog, 0x30));
  EXPECT_EQ(p.writes, 0u);
  EXPECT_EQ(p.File(dir2 + "abcdefghij")->data, old_file);
}

TEST_F(Run, OwnPathThatDoesNotFitIsReportedNotRead) {
  pf.own_path = "C:\\" + std::string(600, 'p') + ".EXE";
  pf.AddFile(pf.own_path, MakeImage({Update()}));
  patch::RunApplier(pf);
  ASSERT_EQ(pf.boxes.size(), 1u);
  EXPECT_EQ(pf.boxes[0], Box(pf.own_path.substr(0, 511), msg::kOpenFailed, BoxOwner::None, 0x30));
  EXPECT_TRUE(pf.log.empty());  // nothing was loaded under a cut name
}

TEST_F(Run, WindowsFolderUnknownRefusesStarFolders) {
  pf.windows_folder.reset();
  Entry e = Update();
  e.folder = "*";
  Start({e});
  ASSERT_EQ(pf.boxes.size(), 1u);
  EXPECT_EQ(pf.boxes[0].caption, msg::kOpenFailed);
}

}  // namespace

namespace {

// Folders below the applier's own: a new file's missing folders are made, a folder a
// removed file leaves empty goes, and a folder that is a link is never written through.
TEST_F(Run, FoldersOfTheTargets) {
  Entry create = UpdateEntry({}, new_file);
  create.name = "x.dll";
  create.folder = "plugins\\new";
  create.flags = patch::FLAG_CREATE_IF_MISSING;
  Entry remove;
  remove.name = "old.hlp";
  remove.folder = "help\\en";
  remove.flags = patch::FLAG_DELETE;
  Entry update = Update();
  update.folder = "bin";

  pf.AddFile(kDir + "help\\en\\old.hlp", {1});
  pf.AddFile(kDir + "help\\keep.txt", {2});
  Start({create, remove});
  EXPECT_EQ(pf.boxes, Boxes({kCompleted}));
  EXPECT_EQ(Data(kDir + "plugins\\new\\x.dll"), new_file);
  EXPECT_FALSE(pf.HasFolder(kDir + "help\\en"));  // emptied: gone
  EXPECT_TRUE(pf.HasFolder(kDir + "help"));       // still holds a file

  for (const bool linked_target : {false, true}) {
    MemoryPlatform p;
    if (linked_target) p.LinkFolder(kDir + "bin");
    else p.LinkFolder(kDir + "plugins");
    p.AddFile(kDir + "bin\\Lunder19.exe", old_file);
    p.AddFile(p.own_path, MakeImage({create, update}));
    patch::RunApplier(p);
    ASSERT_EQ(p.boxes.size(), 1u) << linked_target;
    EXPECT_EQ(p.boxes[0].caption, msg::kOpenFailed) << linked_target;
    EXPECT_EQ(p.File(kDir + "bin\\Lunder19.exe")->data, old_file);
    EXPECT_FALSE(p.HasFolder(kDir + "plugins\\new")) << linked_target;  // made, then removed again
    EXPECT_EQ(p.HasFolder(kDir + "plugins"), !linked_target);
  }
}

}  // namespace
