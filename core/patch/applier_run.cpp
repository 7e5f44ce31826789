#include "core/patch/applier_run.h"

#include <cstring>

#include "core/patch/checksum.h"
#include "core/patch/engine.h"
#include "core/patch/heap_block.h"
#include "core/patch/journal.h"
#include "core/patch/messages.h"
#include "core/patch/recovery.h"
#include "core/patch/transaction.h"
#include "core/text/cp932.h"

namespace patch {
namespace {

// `prefix`, the decimal digits of `value`, then `suffix`, into `out`.
void FormatNumber(char* out, size_t capacity, const char* prefix, uint32_t value, const char* suffix) {
  PathBuilder b(out, capacity);
  b.Append(prefix);
  b.AppendDecimal(value);
  b.Append(suffix);
}

class PlatformOutput final : public RecordOutput {
 public:
  PlatformOutput(FilePlatform& files, OutputFile file) : files_(files), file_(file) {}
  bool Write(const uint8_t* data, uint32_t length) override { return files_.WriteOutput(file_, data, length); }

 private:
  FilePlatform& files_;
  OutputFile file_;
};

// A touch writes nothing; its bar still runs to the end.
class NullOutput final : public RecordOutput {
 public:
  bool Write(const uint8_t*, uint32_t) override { return false; }
};

class DialogProgress final : public ProgressDisplay {
 public:
  explicit DialogProgress(ApplierPlatform& platform) : platform_(platform) {}
  void Advance(int percent) override {
    platform_.StepProgressBar();
    char line[16];
    FormatNumber(line, sizeof line, "", static_cast<uint32_t>(percent), "%");
    platform_.SetDialogLine(kLinePercent, line);
  }
  void Pump() override { platform_.PumpMessages(); }

 private:
  ApplierPlatform& platform_;
};

// One run of the applier: the process-wide state of the program, in one place.
//
// The run reads the whole chain first: every target it needs is read and checked, every
// new file is rebuilt, written beside its target, read back and checked, and every file it
// will change is known, before anything in the folder is changed. Only then is the
// transaction recorded and committed (core/patch/transaction.h), so a refusal anywhere in
// the chain leaves every file as it was.
class Run {
 public:
  explicit Run(ApplierPlatform& platform) : pf_(platform), files_(platform.Files()) {}
  void Start();

 private:
  enum class EntryRead : uint8_t { Update, Other, OpenDocument, Refused };

  BoxOwner Owner() const { return dialog_ ? BoxOwner::Dialog : BoxOwner::None; }
  void FileBox(const char* path, const char* caption, BoxOwner owner) {
    pf_.ShowBox(path, caption, owner, kBoxExclamation);
  }
  void BrokenDataBox() { pf_.ShowBox(msg::kBrokenData, msg::kAbnormalEnd, Owner(), kBoxExclamation); }

  // `load` reads the file named `path` in some way; its failures get the boxes of a load.
  template <typename Loader>
  bool Load(const char* path, FileBlock* block, Loader load);
  EntryRead ReadEntry(uint32_t offset);
  bool LoadOldContents();
  void ReleaseOld();
  void ApplyEntries();
  // One entry; returns false when the run ends with it.
  bool PrepareEntry(uint64_t* body_end);
  bool PrepareDelete();
  bool PrepareTouch(TxItem* planned, DialogProgress& display);
  bool PrepareNewFile(TxItem* planned, const BodySummary& body, DialogProgress& display);
  bool KeepsBackup(bool* keep);
  bool PrepareFolders(bool may_make);
  bool BackupsClear();
  bool Commit();
  void ShowDocument();
  void Finish();

  ApplierPlatform& pf_;
  FilePlatform& files_;
  char own_path_[kPathCapacity] = {};
  char windows_[kWindowsFolderCapacity] = {};
  bool have_windows_ = false;
  char own_folder_[kPathCapacity] = {};
  FileBlock image_block_{};
  Image image_;
  uint32_t first_entry_ = 0;
  EntryHeader entry_;
  char target_[kPathCapacity] = {};
  bool target_ok_ = false;
  FileBlock old_block_{};
  bool have_old_ = false;
  uint32_t old_checksum_ = 0;
  bool dialog_ = false;
  TxItems items_;
  uint32_t entry_number_ = 0;  // of the entry being prepared: names its target's work files
  bool recorded_ = false;
  bool document_ = false;  // an open-document entry ends the chain
  char document_path_[kPathCapacity] = {};
  bool document_path_ok_ = false;
};

template <typename Loader>
bool Run::Load(const char* path, FileBlock* block, Loader load) {
  *block = FileBlock{};
  const char* caption = nullptr;
  switch (load(block)) {
    case LoadResult::Ok:
      return true;
    case LoadResult::OpenFailed: caption = msg::kOpenFailed; break;
    case LoadResult::SizeFailed: caption = msg::kSizeFailed; break;
    case LoadResult::AllocFailed: caption = msg::kAllocFailed; break;
    case LoadResult::LockFailed: caption = msg::kLockFailed; break;
    case LoadResult::ReadFailed: caption = msg::kReadFailed; break;
  }
  *block = FileBlock{};
  FileBox(path, caption, BoxOwner::None);
  return false;
}

void Run::Start() {
  if (!pf_.OwnPath(own_path_, sizeof own_path_)) {
    // Without its own full path the applier cannot read itself; show what it got.
    own_path_[sizeof own_path_ - 1] = '\0';
    FileBox(own_path_, msg::kOpenFailed, BoxOwner::None);
    return;
  }
  have_windows_ = pf_.WindowsFolder(windows_, sizeof windows_);
  if (!have_windows_) windows_[0] = '\0';
  MakeOwnFolder(own_path_, own_folder_, sizeof own_folder_);

  if (!Load(own_path_, &image_block_, [&](FileBlock* b) { return pf_.LoadOwnFile(own_path_, b); })) return;
  image_ = Image(image_block_.data, image_block_.size);

  if (!FindPatchData(image_, &first_entry_)) {
    FileBox(own_path_, msg::kNoPatchData, BoxOwner::None);
  } else {
    // An update of this patch data that was cut off is finished or undone before anything
    // else; a finished one is this run's whole work.
    const char* windows = have_windows_ ? windows_ : nullptr;
    switch (RecoverUpdate(files_, image_, first_entry_, own_folder_, windows, pf_.Watch())) {
      case RecoveryOutcome::Unusable: {
        char record[kPathCapacity];
        MakeRecordPath(own_folder_, false, record, sizeof record);
        FileBox(record, msg::kRecordUnusable, BoxOwner::None);
        break;
      }
      case RecoveryOutcome::Finished:
        pf_.ShowBox(msg::kCompleted, msg::kFileUpdate, BoxOwner::None, kBoxPlain);
        break;
      case RecoveryOutcome::Nothing:
      case RecoveryOutcome::RolledBack: {
        const EntryRead read = ReadEntry(first_entry_);
        // An open-document entry in first place ends the run without a word.
        if (read == EntryRead::Other || (read == EntryRead::Update && LoadOldContents())) ApplyEntries();
        break;
      }
    }
  }
  pf_.Files().ReleaseBlock(&image_block_);
}

Run::EntryRead Run::ReadEntry(uint32_t offset) {
  switch (ParseEntryHeader(image_, offset, &entry_)) {
    case HeaderOutcome::Ok:
      break;
    case HeaderOutcome::VersionTooHigh:
      pf_.ShowBox(msg::kUnusableData, msg::kErrorCaption, BoxOwner::None, kBoxExclamation);
      return EntryRead::Refused;
    case HeaderOutcome::NotAnEntry:
    case HeaderOutcome::Truncated:
      BrokenDataBox();
      return EntryRead::Refused;
  }
  target_ok_ = ResolveTargetPath(entry_, own_folder_, have_windows_ ? windows_ : nullptr, target_, sizeof target_);
  switch (entry_.kind) {
    case EntryKind::Update: return EntryRead::Update;
    case EntryKind::OpenDocument: return EntryRead::OpenDocument;
    default: return EntryRead::Other;
  }
}

// The target as this point of the chain sees it: the new file an earlier entry made for
// it, or the file in the folder.
bool Run::LoadOldContents() {
  if (!target_ok_) {
    // The path does not fit its buffer: refused as the load would fail, naming as much
    // of the path as fits.
    FileBox(target_, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  TxItem* planned = items_.Find(target_);
  bool loaded;
  if (planned != nullptr && planned->kind == ItemKind::Remove) {
    loaded = Load(target_, &old_block_, [](FileBlock*) { return LoadResult::OpenFailed; });
  } else if (planned != nullptr && planned->held && planned->kind != ItemKind::Touch) {
    char temp[kPathCapacity];
    TempPathOf(*planned, temp, sizeof temp);
    loaded = Load(temp, &old_block_, [&](FileBlock* b) { return files_.LoadOutput(planned->output, temp, b); });
  } else {
    if (planned != nullptr && planned->held) {
      // A touch of this target holds it open for writing; an update of it replaces the touch.
      files_.CloseOutput(planned->output);
      planned->held = false;
    }
    loaded = Load(target_, &old_block_, [&](FileBlock* b) { return files_.LoadWholeFile(target_, b); });
  }
  if (!loaded) return false;
  have_old_ = true;
  old_checksum_ = PatchChecksum(old_block_.data, old_block_.size);
  return true;
}

void Run::ReleaseOld() {
  if (have_old_) files_.ReleaseBlock(&old_block_);
  have_old_ = false;
  old_block_ = FileBlock{};
}

void Run::ApplyEntries() {
  pf_.OpenProgressDialog();
  dialog_ = true;
  bool prepared = false;
  for (;;) {
    uint64_t body_end = 0;
    if (!PrepareEntry(&body_end)) break;
    const ChainOutcome chain = ChainStep(image_, body_end);
    if (chain == ChainOutcome::Complete) {
      prepared = true;
      break;
    }
    if (chain == ChainOutcome::Broken) {
      BrokenDataBox();
      break;
    }
    ReleaseOld();
    ++entry_number_;
    const EntryRead read = ReadEntry(static_cast<uint32_t>(body_end));
    if (read == EntryRead::Refused) break;
    if (read == EntryRead::OpenDocument) {
      document_ = true;
      document_path_ok_ = target_ok_;
      std::memcpy(document_path_, target_, sizeof document_path_);
      prepared = true;
      break;
    }
    if (read == EntryRead::Update && !LoadOldContents()) break;
  }
  ReleaseOld();
  if (prepared && BackupsClear() && Commit()) {
    Finish();
  } else {
    DropWorkFiles(files_, items_);
    RemoveMadeFolders(files_, items_);
  }
  pf_.CloseProgressDialog();
  dialog_ = false;
  if (recorded_) {
    // Only now, with the last box dismissed: a run cut off before this point is finished
    // by the next one.
    RemoveRecord(files_, own_folder_);
    if (CommitWatch* watch = pf_.Watch()) watch->Reached(CommitPoint::Cleared, 0);
  }
}

void Run::Finish() {
  if (document_) {
    ShowDocument();
  } else {
    pf_.PumpMessages();
    pf_.ShowBox(msg::kCompleted, msg::kFileUpdate, BoxOwner::Dialog, kBoxPlain);
  }
}

void Run::ShowDocument() {
  if (!document_path_ok_) {
    FileBox(document_path_, msg::kOpenFailed, BoxOwner::None);
    return;
  }
  pf_.ShowBox(msg::kShowDocument, msg::kCompleted, BoxOwner::None, kBoxPlain);
  pf_.ShellOpen(document_path_);
}

bool Run::PrepareEntry(uint64_t* body_end) {
  pf_.SetDialogLine(kLineTarget, target_);
  pf_.SetDialogLine(kLineDescription, entry_.description.data);
  pf_.SetDialogLine(kLinePercent, "0%");
  pf_.ResetProgressBar();

  TxItem* planned = target_ok_ ? items_.Find(target_) : nullptr;
  FoundKind found = FoundKind::None;
  if (entry_.kind == EntryKind::CreateIfMissing && target_ok_) {
    found = planned != nullptr ? (planned->kind == ItemKind::Remove ? FoundKind::None : FoundKind::File)
                               : files_.Find(target_);
  }
  const EntryMode mode = DecideEntryMode(entry_, old_checksum_, found);
  if (mode == EntryMode::Mismatch) {
    pf_.PumpMessages();
    FileBox(target_, msg::kChecksumMismatch, BoxOwner::None);
    return false;
  }
  pf_.PumpMessages();

  if (mode == EntryMode::Delete) {
    *body_end = entry_.body_offset;
    return PrepareDelete();
  }
  const bool write = mode == EntryMode::Write;
  if (!write) pf_.SetDialogLine(kLineStatus, msg::kSkipping);

  // The whole body is checked before anything of the entry is opened or written.
  const uint32_t old_size = have_old_ ? old_block_.size : 0;
  BodySummary body;
  if (WalkBody(image_, entry_, (write && entry_.kind == EntryKind::Update) ? &old_size : nullptr, &body) !=
      BodyOutcome::Ok) {
    BrokenDataBox();
    return false;
  }
  *body_end = body.end;

  DialogProgress display(pf_);
  if (!write) {
    ApplyRecords(image_, entry_, {}, nullptr, display);
    return true;
  }
  if (!target_ok_) {
    FileBox(target_, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  // A target named like one of the update's own work files would be overwritten or
  // removed as one.
  if (IsWorkFileName(target_)) {
    FileBox(target_, msg::kRenameFailed, BoxOwner::Dialog);
    return false;
  }
  if (!PrepareFolders(entry_.kind == EntryKind::CreateIfMissing)) return false;
  if (body.shape == BodyShape::TouchMarker) return PrepareTouch(planned, display);
  return PrepareNewFile(planned, body, display);
}

// A delete entry: the target goes at the commit. A target that is not there, or that
// cannot be read, is no failure, as a failed delete never was.
bool Run::PrepareDelete() {
  if (!target_ok_) return true;
  TxItem* planned = items_.Find(target_);
  if (planned != nullptr) {
    if (planned->held) files_.CloseOutput(planned->output);
    planned->held = false;
    if (planned->kind == ItemKind::Create) {
      // Made by this chain, gone again in it: nothing of it reaches the folder.
      char temp[kPathCapacity];
      TempPathOf(*planned, temp, sizeof temp);
      files_.RemoveFile(temp);
      *planned = items_[items_.size() - 1];
      items_.RemoveLast();
      return true;
    }
    if (planned->kind == ItemKind::Replace) {
      char temp[kPathCapacity];
      TempPathOf(*planned, temp, sizeof temp);
      files_.RemoveFile(temp);
    }
    planned->kind = ItemKind::Remove;
    planned->temp_state = FileState::Missing;
    return true;
  }
  if (files_.Find(target_) != FoundKind::File) return true;
  FileBlock block;
  if (files_.LoadWholeFile(target_, &block) != LoadResult::Ok) return true;
  TxItem* item = items_.Add();
  if (item == nullptr) {
    files_.ReleaseBlock(&block);
    FileBox(target_, msg::kAllocFailed, BoxOwner::None);
    return false;
  }
  item->kind = ItemKind::Remove;
  item->in_windows = entry_.target_folder.length > 0 && entry_.target_folder.data[0] == '*';
  item->number = entry_number_;
  item->old_crc = PatchChecksum(block.data, block.size);
  item->old_size = block.size;
  std::memcpy(item->target, target_, sizeof item->target);
  item->target_state = FileState::Old;
  item->temp_state = FileState::Missing;
  files_.ReleaseBlock(&block);
  char rollback[kPathCapacity];
  if (!RollbackPathOf(*item, rollback, sizeof rollback)) items_.RemoveLast();  // cannot be undone: left
  else item->rollback_state = files_.Find(rollback) == FoundKind::None ? FileState::Missing : FileState::Other;
  return true;
}

LocalStamp StampOf(const EntryHeader& e) {
  return LocalStamp{static_cast<int16_t>(e.stamp_year), static_cast<int8_t>(e.stamp_month),
                    static_cast<int8_t>(e.stamp_day),   static_cast<int8_t>(e.stamp_hour),
                    static_cast<int8_t>(e.stamp_minute), static_cast<int8_t>(e.stamp_second)};
}

// A touch: the target gets its new time at the commit; it is opened now, so that a target
// that cannot be written stops the run before anything changed, and its time is kept for
// a rollback. A touch of a file this chain rebuilds stamps the new file instead.
bool Run::PrepareTouch(TxItem* planned, DialogProgress& display) {
  char line[64];
  FormatNumber(line, sizeof line, msg::kSizeLinePrefix, entry_.new_size, msg::kSizeLineSuffix);
  pf_.SetDialogLine(kLineStatus, line);
  uint32_t error_code = 0;
  if (planned != nullptr && planned->kind == ItemKind::Touch) {
    planned->new_stamp = StampOf(entry_);  // touched twice: the later time counts
  } else if (planned != nullptr && planned->held) {
    if (!files_.SetLastWriteTime(planned->output, StampOf(entry_), &error_code)) {
      FormatNumber(line, sizeof line, "[", error_code, "]");
      pf_.ShowBox(line, msg::kStampFailed, BoxOwner::Dialog, kBoxPlain);
    }
    files_.FlushOutput(planned->output);
  } else {
    OutputFile output;
    if (!files_.OpenExistingForWrite(target_, &output)) {
      FileBox(target_, msg::kOpenFailed, BoxOwner::None);
      return false;
    }
    uint64_t old_time = 0;
    TxItem* item = items_.Add();
    if (item == nullptr || !files_.ReadLastWrite(output, &old_time)) {
      files_.CloseOutput(output);
      if (item != nullptr) items_.RemoveLast();
      FileBox(target_, item == nullptr ? msg::kAllocFailed : msg::kOpenFailed, BoxOwner::None);
      return false;
    }
    item->kind = ItemKind::Touch;
    item->in_windows = entry_.target_folder.length > 0 && entry_.target_folder.data[0] == '*';
    item->number = entry_number_;
    item->old_crc = old_checksum_;
    item->old_size = old_block_.size;
    item->old_time = old_time;
    std::memcpy(item->target, target_, sizeof item->target);
    item->target_state = FileState::Old;
    item->temp_state = item->rollback_state = FileState::Missing;
    item->new_stamp = StampOf(entry_);
    item->held = true;
    item->output = output;
  }
  NullOutput none;
  WriteContents(nullptr, 0, entry_.new_size, none, display);
  return true;
}

// The folders between the applier's own and the target: each a plain folder, never a link
// that would send the update's files elsewhere (the applier runs with administrator
// rights in a folder anyone may write). A new file's missing folders are made now, each
// recorded so that a rollback removes it again. Targets in the Windows folder lie where
// only administrators write.
bool Run::PrepareFolders(bool may_make) {
  if (entry_.target_folder.length > 0 && entry_.target_folder.data[0] == '*') return true;
  const size_t own = std::strlen(own_folder_);
  const size_t end = FolderLength(target_);
  for (size_t at = own; at < end; ++at) {
    if (target_[at] != '\\' || text::IsSecondByte(target_, at, text::kCp932)) continue;
    char folder[kPathCapacity];
    std::memcpy(folder, target_, at);
    folder[at] = '\0';
    switch (files_.Find(folder)) {
      case FoundKind::Folder:
        continue;
      case FoundKind::None:
        if (may_make) {
          TxItem* item = items_.Add();
          if (item != nullptr && files_.MakeFolder(folder)) {
            item->kind = ItemKind::MakeFolder;
            item->number = entry_number_;
            std::memcpy(item->target, folder, at + 1);
            continue;
          }
          if (item != nullptr) items_.RemoveLast();
        }
        break;
      default:
        break;
    }
    FileBox(target_, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  return true;
}

// Whether the old file stays as the backup, and whether the backup's name is free for it.
bool Run::KeepsBackup(bool* keep) {
  *keep = false;
  if (entry_.no_backup()) return true;
  char backup[kPathCapacity];
  if (!MakeBackupPath(target_, backup, sizeof backup)) {
    FileBox(backup, msg::kRenameFailed, BoxOwner::Dialog);
    return false;
  }
  // A target that is its own backup name ("data.OLD") would be replaced by its old file.
  if (text::SameFileName(backup, target_)) {
    FileBox(target_, msg::kRenameFailed, BoxOwner::Dialog);
    return false;
  }
  switch (files_.Find(backup)) {
    case FoundKind::Folder:
    case FoundKind::LinkedFolder:
      FileBox(target_, msg::kRenameFailed, BoxOwner::Dialog);
      return false;
    case FoundKind::File: {
      // The earlier backup stays where the entry says so; otherwise it is replaced, and a
      // backup that cannot be is refused now, before anything changed.
      if (entry_.skip_on_mismatch()) return true;
      OutputFile probe;
      if (!files_.OpenExistingForWrite(backup, &probe)) {
        FileBox(backup, msg::kDeleteFailed, BoxOwner::Dialog);
        return false;
      }
      files_.CloseOutput(probe);
      break;
    }
    case FoundKind::None:
      break;
  }
  *keep = true;
  return true;
}

// The new contents rebuilt and checked whole in memory, written beside the target, put on
// disk, read back through the held file and checked again.
bool Run::PrepareNewFile(TxItem* planned, const BodySummary& body, DialogProgress& display) {
  const bool is_update = entry_.kind == EntryKind::Update;
  const uint32_t number = planned != nullptr ? planned->number : entry_number_;
  TxItem probe;
  std::memcpy(probe.target, target_, sizeof probe.target);
  probe.number = number;
  char temp[kPathCapacity], rollback[kPathCapacity];
  const bool temp_ok = TempPathOf(probe, temp, sizeof temp);
  if (!temp_ok || !RollbackPathOf(probe, rollback, sizeof rollback)) {
    FileBox(temp_ok ? rollback : temp, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  bool keep_backup = false;
  if (planned == nullptr && is_update && !KeepsBackup(&keep_backup)) return false;
  // A rollback file left by an earlier run is stale: its run was finished or undone.
  if (planned == nullptr && files_.Find(rollback) != FoundKind::None &&
      (!files_.RemoveFile(rollback) || files_.Find(rollback) != FoundKind::None)) {
    FileBox(rollback, msg::kDeleteFailed, BoxOwner::Dialog);
    return false;
  }

  const std::span<const uint8_t> old =
      have_old_ ? std::span<const uint8_t>(old_block_.data, old_block_.size) : std::span<const uint8_t>();
  HeapBlock contents;
  switch (RebuildBody(image_, entry_, body, old, &contents)) {
    case ApplyOutcome::Complete:
      break;
    case ApplyOutcome::NoMemory:
      FileBox(target_, msg::kAllocFailed, BoxOwner::None);
      return false;
    default:
      BrokenDataBox();
      return false;
  }

  if (planned != nullptr && planned->held) {
    files_.CloseOutput(planned->output);
    planned->held = false;
  }
  OutputFile output{};
  if (!files_.CreateOutput(temp, &output)) {
    FileBox(temp, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  char line[64];
  FormatNumber(line, sizeof line, msg::kSizeLinePrefix, entry_.new_size, msg::kSizeLineSuffix);
  pf_.SetDialogLine(kLineStatus, line);

  PlatformOutput out(files_, output);
  if (WriteContents(contents.data(), contents.size(), entry_.new_size, out, display) != ApplyOutcome::Complete) {
    FileBox(temp, msg::kWriteFailed, BoxOwner::None);
    files_.CloseOutput(output);
    files_.RemoveFile(temp);
    return false;
  }
  contents.Allocate(0);  // the checksum below reads the file back

  uint32_t error_code = 0;
  if (!files_.SetLastWriteTime(output, StampOf(entry_), &error_code)) {
    FormatNumber(line, sizeof line, "[", error_code, "]");
    pf_.ShowBox(line, msg::kStampFailed, BoxOwner::Dialog, kBoxPlain);
  }
  FileBlock rebuilt;
  const bool on_disk = files_.FlushOutput(output);
  if (!on_disk) FileBox(temp, msg::kWriteFailed, BoxOwner::None);
  if (!on_disk || !Load(temp, &rebuilt, [&](FileBlock* block) { return files_.LoadOutput(output, temp, block); })) {
    files_.CloseOutput(output);
    files_.RemoveFile(temp);
    return false;
  }
  const uint32_t checksum = PatchChecksum(rebuilt.data, rebuilt.size);
  const uint32_t size = rebuilt.size;
  files_.ReleaseBlock(&rebuilt);
  if (checksum != entry_.new_crc) {
    files_.CloseOutput(output);
    files_.RemoveFile(temp);
    FileBox(target_, msg::kChecksumMismatch, BoxOwner::Dialog);
    return false;
  }

  TxItem* item = planned;
  if (item == nullptr) {
    item = items_.Add();
    if (item == nullptr) {
      files_.CloseOutput(output);
      files_.RemoveFile(temp);
      FileBox(target_, msg::kAllocFailed, BoxOwner::None);
      return false;
    }
    item->kind = is_update ? ItemKind::Replace : ItemKind::Create;
    item->keep_backup = keep_backup;
    item->in_windows = entry_.target_folder.length > 0 && entry_.target_folder.data[0] == '*';
    item->number = number;
    item->old_crc = old_checksum_;
    item->old_size = old_block_.size;
    std::memcpy(item->target, target_, sizeof item->target);
    item->target_state = is_update ? FileState::Old : FileState::Missing;
    item->rollback_state = FileState::Missing;
  } else if (item->kind == ItemKind::Remove || item->kind == ItemKind::Touch) {
    // A file this chain removed comes back, or a touched one gets new contents: either way
    // the old file is replaced.
    item->kind = ItemKind::Replace;
  }
  item->new_crc = checksum;
  item->new_size = size;
  item->temp_state = FileState::New;
  item->held = true;
  item->output = output;
  return true;
}

// No target's backup name may be another target of the chain: the backup would take its
// place once the update is whole.
bool Run::BackupsClear() {
  for (uint32_t i = 0; i < items_.size(); ++i) {
    char backup[kPathCapacity];
    if (items_[i].keep_backup && MakeBackupPath(items_[i].target, backup, sizeof backup) &&
        items_.Find(backup) != nullptr) {
      FileBox(items_[i].target, msg::kRenameFailed, BoxOwner::Dialog);
      return false;
    }
  }
  return true;
}

bool Run::Commit() {
  if (items_.size() == 0) return true;
  if (!WriteRecord(files_, own_folder_, have_windows_ ? windows_ : nullptr, HeadOfChain(image_, first_entry_),
                   items_)) {
    char record[kPathCapacity];
    MakeRecordPath(own_folder_, false, record, sizeof record);
    FileBox(record, msg::kWriteFailed, BoxOwner::Dialog);
    return false;
  }
  recorded_ = true;
  CommitWatch* watch = pf_.Watch();
  if (watch != nullptr) watch->Reached(CommitPoint::Recorded, 0);

  const TxResult result = CommitForward(files_, items_, watch);
  if (result.fault != TxFault::None) {
    RollBack(files_, items_);
    const TxItem& item = items_[result.item];
    char rollback[kPathCapacity];
    RollbackPathOf(item, rollback, sizeof rollback);
    switch (result.fault) {
      case TxFault::KeepFailed: FileBox(rollback, msg::kRenameFailed, BoxOwner::Dialog); break;
      case TxFault::OpenFailed: FileBox(item.target, msg::kOpenFailed, BoxOwner::None); break;
      default: FileBox(item.target, msg::kRenameFailed, BoxOwner::Dialog); break;
    }
    return false;
  }
  if (result.stamp_error != 0) {
    char line[16];
    FormatNumber(line, sizeof line, "[", result.stamp_error, "]");
    pf_.ShowBox(line, msg::kStampFailed, BoxOwner::Dialog, kBoxPlain);
  }
  Finalize(files_, items_, own_folder_, watch);
  return true;
}

}  // namespace

void RunApplier(ApplierPlatform& platform) {
  Run run(platform);
  run.Start();
}

}  // namespace patch
