#include "core/patch/transaction.h"

#include <cstring>
#include <new>

#include "core/patch/checksum.h"
#include "core/patch/messages.h"

namespace patch {

TxItem* TxItems::Add() {
  if (count_ == capacity_) {
    const uint32_t capacity = capacity_ == 0 ? 4 : capacity_ * 2;
    HeapBlock grown;
    if (capacity < capacity_ || !grown.Allocate(uint64_t{capacity} * sizeof(TxItem))) return nullptr;
    if (count_ != 0) std::memcpy(grown.data(), block_.data(), count_ * sizeof(TxItem));
    block_.Swap(grown);
    capacity_ = capacity;
  }
  return new (items() + count_++) TxItem();
}

void TxItems::RemoveLast() {
  if (count_ != 0) --count_;
}

TxItem* TxItems::Find(const char* target) {
  for (uint32_t i = 0; i < count_; ++i) {
    if (text::SameFileName(items()[i].target, target)) return &items()[i];
  }
  return nullptr;
}

bool TempPathOf(const TxItem& item, char* out, size_t capacity) {
  return MakeWorkPath(item.target, item.number, msg::kTempExtension, out, capacity);
}

bool RollbackPathOf(const TxItem& item, char* out, size_t capacity) {
  return MakeWorkPath(item.target, item.number, msg::kRollbackExtension, out, capacity);
}

bool FileHolds(FilePlatform& files, const char* path, uint32_t crc, uint32_t size) {
  FileBlock block;
  if (files.LoadWholeFile(path, &block) != LoadResult::Ok) return false;
  const bool holds = block.size == size && PatchChecksum(block.data, block.size) == crc;
  files.ReleaseBlock(&block);
  return holds;
}

namespace {

struct WorkPaths {
  char temp[kPathCapacity];
  char rollback[kPathCapacity];
  explicit WorkPaths(const TxItem& item) {
    // Every path was measured against its buffer before the item was made.
    TempPathOf(item, temp, sizeof temp);
    RollbackPathOf(item, rollback, sizeof rollback);
  }
};

void Reached(CommitWatch* watch, CommitPoint point, uint32_t number) {
  if (watch != nullptr) watch->Reached(point, number);
}

// Each folder that holds a target, once for each run of items in it.
void FlushFolders(FilePlatform& files, const TxItems& items) {
  for (uint32_t i = 0; i < items.size(); ++i) {
    const char* target = items[i].target;
    const size_t folder = FolderLength(target);
    if (i > 0) {
      const char* previous = items[i - 1].target;
      if (FolderLength(previous) == folder && std::memcmp(previous, target, folder) == 0) continue;
    }
    files.FlushFolder(target);
  }
}

// The new file takes the target's name: through its own handle while the applier holds it.
bool Place(FilePlatform& files, TxItem& item, const char* temp, bool replace) {
  bool placed;
  if (item.held) {
    placed = files.MoveOutput(item.output, temp, item.target, replace);
    files.CloseOutput(item.output);
    item.held = false;
  } else {
    placed = replace ? files.ReplaceFile(temp, item.target) : files.RenameFile(temp, item.target);
  }
  if (placed) {
    item.target_state = FileState::New;
    item.temp_state = FileState::Missing;
  } else if (files.Find(item.target) == FoundKind::None) {
    // A platform that must delete before it renames may have got half-way.
    item.target_state = FileState::Missing;
  }
  return placed;
}

// Sets the target's last-write time (a touch, or its undoing); false when it cannot be opened.
bool StampTarget(FilePlatform& files, TxItem& item, bool forward, uint32_t* error) {
  OutputFile file = item.output;
  if (!item.held && !files.OpenExistingForWrite(item.target, &file)) return false;
  const bool stamped = forward ? files.SetLastWriteTime(file, item.new_stamp, error)
                               : files.WriteLastWrite(file, item.old_time);
  if (stamped) files.FlushOutput(file);
  files.CloseOutput(file);
  item.held = false;
  return true;
}

}  // namespace

TxResult CommitForward(FilePlatform& files, TxItems& items, CommitWatch* watch) {
  TxResult result;
  for (uint32_t i = 0; i < items.size(); ++i) {
    TxItem& item = items[i];
    const WorkPaths work(item);
    auto fail = [&](TxFault fault) {
      result.fault = fault;
      result.item = i;
      return result;
    };
    switch (item.kind) {
      case ItemKind::Replace:
        if (item.target_state == FileState::New) break;
        if (item.target_state == FileState::Old && item.rollback_state != FileState::Old) {
          if (item.rollback_state != FileState::Missing) files.RemoveFile(work.rollback);
          if (!files.KeepCopy(item.target, work.rollback)) return fail(TxFault::KeepFailed);
          item.rollback_state = FileState::Old;
          Reached(watch, CommitPoint::Kept, item.number);
        }
        // Old beside its rollback file, or missing where the order of old was cut off.
        if (!Place(files, item, work.temp, item.target_state == FileState::Old)) return fail(TxFault::PlaceFailed);
        Reached(watch, CommitPoint::Placed, item.number);
        break;
      case ItemKind::Create:
        if (item.target_state == FileState::New) break;
        if (!Place(files, item, work.temp, false)) return fail(TxFault::PlaceFailed);
        Reached(watch, CommitPoint::Placed, item.number);
        break;
      case ItemKind::Remove:
        if (item.target_state != FileState::Old) break;
        if (item.rollback_state != FileState::Missing) files.RemoveFile(work.rollback);
        if (files.RenameFile(item.target, work.rollback)) {
          item.target_state = FileState::Missing;
          item.rollback_state = FileState::Old;
          Reached(watch, CommitPoint::Placed, item.number);
        } else {
          item.rollback_state = FileState::Missing;  // stays, as a failed delete always has
        }
        break;
      case ItemKind::MakeFolder:
        if (files.Find(item.target) != FoundKind::Folder && !files.MakeFolder(item.target)) {
          return fail(TxFault::PlaceFailed);
        }
        break;
      case ItemKind::Touch: {
        uint32_t error = 0;
        if (!StampTarget(files, item, true, &error)) return fail(TxFault::OpenFailed);
        if (error != 0 && result.stamp_error == 0) result.stamp_error = error;
        Reached(watch, CommitPoint::Placed, item.number);
        break;
      }
    }
  }
  FlushFolders(files, items);
  Reached(watch, CommitPoint::Committed, 0);
  return result;
}

void RollBack(FilePlatform& files, TxItems& items) {
  for (uint32_t i = items.size(); i-- > 0;) {
    TxItem& item = items[i];
    const WorkPaths work(item);
    switch (item.kind) {
      case ItemKind::Replace:
        if (item.rollback_state != FileState::Old) break;
        if (item.target_state == FileState::Old) {
          files.RemoveFile(work.rollback);  // a second name of the target itself
        } else if (item.target_state == FileState::New ? files.ReplaceFile(work.rollback, item.target)
                                                        : files.RenameFile(work.rollback, item.target)) {
          item.target_state = FileState::Old;
        } else {
          break;
        }
        item.rollback_state = FileState::Missing;
        break;
      case ItemKind::Create:
        if (item.target_state == FileState::New && files.RemoveFile(item.target)) {
          item.target_state = FileState::Missing;
        }
        break;
      case ItemKind::Remove:
        if (item.target_state == FileState::Missing && item.rollback_state == FileState::Old &&
            files.RenameFile(work.rollback, item.target)) {
          item.target_state = FileState::Old;
          item.rollback_state = FileState::Missing;
        }
        break;
      case ItemKind::Touch: {
        uint32_t error = 0;
        StampTarget(files, item, false, &error);
        break;
      }
      case ItemKind::MakeFolder:
        break;  // below, once the files in it are gone
    }
  }
  DropWorkFiles(files, items);
  RemoveMadeFolders(files, items);
  FlushFolders(files, items);
}

void RemoveMadeFolders(FilePlatform& files, TxItems& items) {
  for (uint32_t i = items.size(); i-- > 0;) {
    if (items[i].kind == ItemKind::MakeFolder) files.RemoveFolder(items[i].target);
  }
}

void Finalize(FilePlatform& files, TxItems& items, const char* own_folder, CommitWatch* watch) {
  for (uint32_t i = 0; i < items.size(); ++i) {
    TxItem& item = items[i];
    const WorkPaths work(item);
    if (item.rollback_state == FileState::Old) {
      char backup[kPathCapacity];
      // A backup that cannot take its name leaves the one that was there; the update
      // itself is whole.
      const bool kept = item.kind == ItemKind::Replace && item.keep_backup &&
                        MakeBackupPath(item.target, backup, sizeof backup) &&
                        files.ReplaceFile(work.rollback, backup);
      if (!kept) files.RemoveFile(work.rollback);
      item.rollback_state = FileState::Missing;
    }
  }
  DropWorkFiles(files, items);
  const size_t own = std::strlen(own_folder);
  for (uint32_t i = 0; i < items.size(); ++i) {
    const TxItem& item = items[i];
    if (item.kind != ItemKind::Remove || item.in_windows || item.target_state != FileState::Missing) continue;
    // Up from the removed file's folder, as long as each is empty, never the applier's own.
    char folder[kPathCapacity];
    std::memcpy(folder, item.target, sizeof folder);
    for (size_t end = FolderLength(folder); end > own;) {
      folder[end - 1] = '\0';
      if (std::memcmp(folder, own_folder, own) != 0 || !files.RemoveFolder(folder)) break;
      end = FolderLength(folder);
    }
  }
  FlushFolders(files, items);
  Reached(watch, CommitPoint::Finalized, 0);
}

void DropWorkFiles(FilePlatform& files, TxItems& items) {
  for (uint32_t i = 0; i < items.size(); ++i) {
    TxItem& item = items[i];
    if (item.held) files.CloseOutput(item.output);
    item.held = false;
    if (item.kind == ItemKind::Replace || item.kind == ItemKind::Create) {
      if (item.temp_state != FileState::Missing) {
        const WorkPaths work(item);
        files.RemoveFile(work.temp);
        item.temp_state = FileState::Missing;
      }
    }
  }
}

}  // namespace patch
