#include "core/patch/recovery.h"

#include <cstring>

#include "core/patch/checksum.h"
#include "core/patch/journal.h"

namespace patch {
namespace {

FileState StateAt(FilePlatform& files, const char* path, const TxItem& item) {
  switch (files.Find(path)) {
    case FoundKind::None: return FileState::Missing;
    case FoundKind::Folder:
    case FoundKind::LinkedFolder: return FileState::Other;
    case FoundKind::File: break;
  }
  const bool has_old = item.kind != ItemKind::Create;
  const bool has_new = item.kind == ItemKind::Replace || item.kind == ItemKind::Create;
  if (has_new && FileHolds(files, path, item.new_crc, item.new_size)) return FileState::New;
  if (has_old && FileHolds(files, path, item.old_crc, item.old_size)) return FileState::Old;
  return FileState::Other;
}

void FindStates(FilePlatform& files, TxItem& item) {
  if (item.kind == ItemKind::MakeFolder) return;
  char work[kPathCapacity];
  item.target_state = StateAt(files, item.target, item);
  item.temp_state = FileState::Missing;
  item.rollback_state = FileState::Missing;
  if (item.kind == ItemKind::Replace || item.kind == ItemKind::Create) {
    TempPathOf(item, work, sizeof work);
    item.temp_state = StateAt(files, work, item);
  }
  if (item.kind == ItemKind::Replace || item.kind == ItemKind::Remove) {
    RollbackPathOf(item, work, sizeof work);
    item.rollback_state = StateAt(files, work, item);
  }
  // A touched file holds the same bytes before and after: it is its old file either way.
}

bool CanFinish(const TxItem& item) {
  const FileState target = item.target_state;
  switch (item.kind) {
    case ItemKind::Replace:
      return target == FileState::New || (item.temp_state == FileState::New &&
                                          (target == FileState::Old ||
                                           (target == FileState::Missing && item.rollback_state == FileState::Old)));
    case ItemKind::Create:
      return target == FileState::New || (target == FileState::Missing && item.temp_state == FileState::New);
    case ItemKind::Remove:
      return target == FileState::Missing || target == FileState::Old;
    case ItemKind::Touch:
      return target == FileState::Old;
    case ItemKind::MakeFolder:
      return true;
  }
  return false;
}

bool CanUndo(const TxItem& item) {
  const FileState target = item.target_state;
  switch (item.kind) {
    case ItemKind::Replace:
      return target == FileState::Old ||
             ((target == FileState::New || target == FileState::Missing) && item.rollback_state == FileState::Old);
    case ItemKind::Create:
      return target == FileState::Missing || target == FileState::New;
    case ItemKind::Remove:
      return target == FileState::Old || (target == FileState::Missing && item.rollback_state == FileState::Old);
    case ItemKind::Touch:
      return target == FileState::Old;
    case ItemKind::MakeFolder:
      return true;
  }
  return false;
}

// A temporary file or a stray work file that another state already makes useless is not
// ours to keep: Finalize and RollBack remove what they no longer need.
RecoveryOutcome FromRecord(FilePlatform& files, Image image, uint32_t first_entry, const char* own_folder,
                           const char* windows_folder, CommitWatch* watch) {
  RecordHead head;
  TxItems items;
  switch (ReadRecord(files, own_folder, windows_folder, &head, &items)) {
    case RecordRead::None: return RecoveryOutcome::Nothing;
    case RecordRead::Unusable: return RecoveryOutcome::Unusable;
    case RecordRead::Ok: break;
  }
  const RecordHead ours = HeadOfChain(image, first_entry);
  if (head.chain_crc != ours.chain_crc || head.chain_size != ours.chain_size ||
      !ItemsMatchChain(items, image, first_entry, own_folder, windows_folder)) {
    return RecoveryOutcome::Unusable;
  }
  bool finish = true, undo = true;
  for (uint32_t i = 0; i < items.size(); ++i) {
    FindStates(files, items[i]);
    finish = finish && CanFinish(items[i]);
    undo = undo && CanUndo(items[i]);
  }
  if (finish) {
    if (CommitForward(files, items, watch).fault != TxFault::None) return RecoveryOutcome::Unusable;
    Finalize(files, items, own_folder, watch);
  } else if (undo) {
    RollBack(files, items);
  } else {
    return RecoveryOutcome::Unusable;
  }
  RemoveRecord(files, own_folder);
  return finish ? RecoveryOutcome::Finished : RecoveryOutcome::RolledBack;
}

// The order of old, cut off between its two renames.
RecoveryOutcome FromLeftovers(FilePlatform& files, Image image, uint32_t first_entry, const char* own_folder,
                              const char* windows_folder) {
  RecoveryOutcome outcome = RecoveryOutcome::Nothing;
  ForEachEntry(image, first_entry, own_folder, windows_folder, [&](const EntryHeader& header, const char* target) {
    if (header.kind != EntryKind::Update || files.Find(target) != FoundKind::None) return;
    char temp[kPathCapacity], backup[kPathCapacity];
    if (!MakeTempPath(target, temp, sizeof temp) || !MakeBackupPath(target, backup, sizeof backup)) return;
    const bool has_temp = files.Find(temp) == FoundKind::File;
    const bool has_backup = files.Find(backup) == FoundKind::File;
    if (!has_temp && !has_backup) return;
    if (has_temp && FileHolds(files, temp, header.new_crc, header.new_size) && files.RenameFile(temp, target)) {
      files.FlushFolder(target);
      outcome = RecoveryOutcome::Finished;
      return;
    }
    FileBlock block;
    if (has_backup && files.LoadWholeFile(backup, &block) == LoadResult::Ok) {
      const bool old = PatchChecksum(block.data, block.size) == header.old_crc;
      files.ReleaseBlock(&block);
      if (old && files.RenameFile(backup, target)) {
        files.FlushFolder(target);
        if (outcome == RecoveryOutcome::Nothing) outcome = RecoveryOutcome::RolledBack;
        return;
      }
    }
    // Another entry for this target (another old version) may still know the files.
    if (files.Find(target) == FoundKind::None && outcome == RecoveryOutcome::Nothing) {
      outcome = RecoveryOutcome::Unusable;
    }
  });
  return outcome;
}

}  // namespace

bool ItemsMatchChain(const TxItems& items, Image image, uint32_t first_entry, const char* own_folder,
                     const char* windows_folder) {
  for (uint32_t i = 0; i < items.size(); ++i) {
    const TxItem& item = items[i];
    bool old_known = item.kind == ItemKind::Create || item.kind == ItemKind::Remove;
    bool new_known = item.kind == ItemKind::Remove || item.kind == ItemKind::Touch;
    bool kind_known = false;
    const bool whole = ForEachEntry(image, first_entry, own_folder, windows_folder,
                                    [&](const EntryHeader& header, const char* target) {
      if (item.kind == ItemKind::MakeFolder) {
        // A folder on the way to a target the chain creates.
        const size_t length = std::strlen(item.target);
        if (header.kind != EntryKind::CreateIfMissing || std::strlen(target) <= length || target[length] != '\\') return;
        char folder[kPathCapacity];
        PathBuilder b(folder, sizeof folder);
        b.Append(target, length);
        if (b.ok() && text::SameFileName(folder, item.target)) kind_known = old_known = new_known = true;
        return;
      }
      if (!text::SameFileName(target, item.target)) return;
      const bool touch = BodyIsTouchMarker(image, header);
      switch (header.kind) {
        case EntryKind::Update:
          if (header.old_crc == item.old_crc) old_known = true;
          if (touch && item.kind == ItemKind::Touch) kind_known = true;
          if (!touch && item.kind == ItemKind::Replace) kind_known = true;
          break;
        case EntryKind::CreateIfMissing:
          if (item.kind == ItemKind::Create || item.kind == ItemKind::Replace) kind_known = true;
          break;
        case EntryKind::Delete:
          // A file the chain removes and makes again is replaced.
          if (item.kind == ItemKind::Remove) kind_known = true;
          if (item.kind == ItemKind::Replace) old_known = true;
          break;
        case EntryKind::OpenDocument:
          break;
      }
      if (!touch && header.new_crc == item.new_crc && header.new_size == item.new_size) new_known = true;
    });
    if (!whole || !kind_known || !old_known || !new_known) return false;
  }
  return true;
}

bool NeedsRecovery(FilePlatform& files, Image image, uint32_t first_entry, const char* own_folder,
                   const char* windows_folder) {
  char record[kPathCapacity];
  if (MakeRecordPath(own_folder, false, record, sizeof record) && files.Find(record) != FoundKind::None) return true;
  bool leftover = false;
  ForEachEntry(image, first_entry, own_folder, windows_folder, [&](const EntryHeader& header, const char* target) {
    if (leftover || header.kind != EntryKind::Update || files.Find(target) != FoundKind::None) return;
    char temp[kPathCapacity], backup[kPathCapacity];
    leftover = (MakeTempPath(target, temp, sizeof temp) && files.Find(temp) == FoundKind::File) ||
               (MakeBackupPath(target, backup, sizeof backup) && files.Find(backup) == FoundKind::File);
  });
  return leftover;
}

RecoveryOutcome RecoverUpdate(FilePlatform& files, Image image, uint32_t first_entry, const char* own_folder,
                              const char* windows_folder, CommitWatch* watch) {
  const RecoveryOutcome recorded = FromRecord(files, image, first_entry, own_folder, windows_folder, watch);
  if (recorded != RecoveryOutcome::Nothing) return recorded;
  return FromLeftovers(files, image, first_entry, own_folder, windows_folder);
}

}  // namespace patch
