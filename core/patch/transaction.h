#pragma once
// An update as one transaction over every file it changes.
//
// The applier first rebuilds and checks every new file into a work file of its own beside
// its target, and reads every file it will change, before it changes anything. Then it
// writes the record of the transaction (core/patch/journal.h), commits every target, makes
// the backups, and removes the record. A commit that fails half-way is rolled back by the
// same steps in the other direction; one that was cut off (a kill, a power cut) is finished
// or rolled back from the record the next time (core/patch/recovery.h).
//
// One target on the NT family: its old file gets a second name first (the rollback file:
// a hard link, or a copy on disk), then the new file takes the target's name in one step,
// so at no moment is the name empty and at every moment one whole copy of the old file
// has a name. Only when every target holds its new file and the folders' records are on
// disk do the rollback files become the backups the entries ask for, or go. The Windows
// 9x family has neither links nor a replacing rename: its platform copies for the rollback
// file and deletes the target before the new file is renamed to it, the order of old; a
// run cut off there leaves the target missing beside both copies, which recovery mends
// like any other cut-off commit.
#include <cstdint>

#include "core/patch/file_platform.h"
#include "core/patch/heap_block.h"
#include "core/patch/paths.h"

namespace patch {

enum class ItemKind : uint8_t {
  Replace = 1,  // an existing file gets new contents (update entries)
  Create = 2,   // a missing file is made (create-if-missing entries)
  Remove = 3,   // an existing file goes (delete entries)
  Touch = 4,    // an existing file gets a new last-write time, nothing else
  MakeFolder = 5,  // a folder the update made for a new file: `target` names it (no "\" at the end)
};

// What a file at one of an item's paths holds, as far as the transaction can tell.
enum class FileState : uint8_t { Unknown, Missing, Old, New, Other };

struct TxItem {
  ItemKind kind = ItemKind::Replace;
  bool keep_backup = false;  // Replace: the old file ends at its backup name (MakeBackupPath)
  bool in_windows = false;   // the target lies in the Windows folder
  uint32_t number = 0;       // of the item's work files (MakeWorkPath)
  uint32_t old_crc = 0, old_size = 0;  // Replace, Remove, Touch: the file before
  uint32_t new_crc = 0, new_size = 0;  // Replace, Create: the file after
  uint64_t old_time = 0;               // Touch: the last-write time before
  LocalStamp new_stamp{};              // Touch
  char target[kPathCapacity] = {};

  // Not recorded: what the commit knows. The applier holds its new file (and the target of
  // a touch) open from the moment it wrote and checked it; recovery finds the states out.
  FileState target_state = FileState::Unknown, temp_state = FileState::Unknown,
            rollback_state = FileState::Unknown;
  bool held = false;
  OutputFile output = 0;
};

// The items of one transaction, one per target, in the order of the chain.
class TxItems {
 public:
  TxItems() = default;
  TxItems(const TxItems&) = delete;
  TxItems& operator=(const TxItems&) = delete;

  TxItem* Add();  // a new, zeroed item; null when the memory is not there
  void RemoveLast();
  TxItem* Find(const char* target);  // the item of that target (names compared as the file system does)
  TxItem& operator[](uint32_t i) { return items()[i]; }
  const TxItem& operator[](uint32_t i) const { return items()[i]; }
  uint32_t size() const { return count_; }

 private:
  TxItem* items() { return reinterpret_cast<TxItem*>(block_.data()); }
  const TxItem* items() const { return reinterpret_cast<const TxItem*>(block_.data()); }
  HeapBlock block_;
  uint32_t count_ = 0, capacity_ = 0;
};

// The item's work files: the new file and the rollback file beside its target.
bool TempPathOf(const TxItem& item, char* out, size_t capacity);
bool RollbackPathOf(const TxItem& item, char* out, size_t capacity);

// Points of a commit where a test build may stop; the number is the item's, or 0.
enum class CommitPoint : uint8_t { Recorded, Kept, Placed, Committed, Finalized, Cleared };

// A test build's stop at the named points (a kill or a power cut there); nothing otherwise.
class CommitWatch {
 public:
  virtual void Reached(CommitPoint point, uint32_t number) = 0;

 protected:
  ~CommitWatch() = default;
};

enum class TxFault : uint8_t {
  None,
  KeepFailed,   // the rollback file could not be made: path = the rollback file
  PlaceFailed,  // the new file could not take the target's name: path = the target
  OpenFailed,   // a touch's target could not be opened: path = the target
};

struct TxResult {
  TxFault fault = TxFault::None;
  uint32_t item = 0;         // the failing item
  uint32_t stamp_error = 0;  // a touch whose time could not be set: the system's code (the run goes on)
};

// Brings every item to its new state, in order, from the states the items hold; a Remove
// whose target cannot be renamed is dropped from the transaction (a delete entry's failure
// is none). Stops at the first fault; the states then say what was done.
TxResult CommitForward(FilePlatform& files, TxItems& items, CommitWatch* watch);

// Brings every item back to its old state, last first, from the states the items hold.
// Nothing here can be refused: what fails is left as it is.
void RollBack(FilePlatform& files, TxItems& items);

// After a whole commit: the folders' records on disk, then every rollback file becomes its
// backup or goes, the work files left go, and a folder below `own_folder` that a removed
// file leaves empty goes too (the new release has no such folder).
void Finalize(FilePlatform& files, TxItems& items, const char* own_folder, CommitWatch* watch);

// Closes every held file of the items and removes the new files not committed.
void DropWorkFiles(FilePlatform& files, TxItems& items);

// Removes the folders the update made, last first (each only if it is empty).
void RemoveMadeFolders(FilePlatform& files, TxItems& items);

// Whether the file at `path` holds exactly `size` bytes with checksum `crc`.
bool FileHolds(FilePlatform& files, const char* path, uint32_t crc, uint32_t size);

}  // namespace patch
