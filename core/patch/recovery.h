#pragma once
// Finishing or undoing an update that was cut off (the applier killed, the machine off),
// from what it left in the folder. The wizard runs it before it starts a run, and again
// when its applier ended without removing its record; the applier runs it before its own.
//
// With a record: when every target's new file is there and checked (at its name, or as
// the item's new work file), the commit is finished; otherwise, when every old file can be
// had again, it is rolled back; otherwise nothing is touched. Without a record, the order
// of old (target renamed to its backup, then "UPDATE.TMP" renamed to the target) can have
// been cut off between its two renames: a missing target beside a checked "UPDATE.TMP" is
// finished, beside a checked backup rolled back.
//
// Nothing is taken on trust: a record is used only when it belongs to this very patch data
// and every item in it is one the chain could have made (its target, its checksums); every
// file is checked against the record's checksums before it is moved.
#include <cstdint>

#include "core/patch/file_platform.h"
#include "core/patch/format.h"
#include "core/patch/transaction.h"

namespace patch {

enum class RecoveryOutcome : uint8_t {
  Nothing,     // no record and no leftover of an update
  Finished,    // a cut-off update was completed: every target holds its new file
  RolledBack,  // a cut-off update was undone: the folder is as it was before it
  Unusable,    // a record or leftover that cannot be used: left as it is
};

// `image` holds the patch data from `first_entry` on (the applier's own file, or the
// wizard's payload); `own_folder` is the folder the applier runs in.
RecoveryOutcome RecoverUpdate(FilePlatform& files, Image image, uint32_t first_entry, const char* own_folder,
                              const char* windows_folder, CommitWatch* watch = nullptr);

// Whether there is anything for RecoverUpdate to look at: a record, or a missing update
// target beside its "UPDATE.TMP" or backup. Cheap: nothing is read.
bool NeedsRecovery(FilePlatform& files, Image image, uint32_t first_entry, const char* own_folder,
                   const char* windows_folder);

// Whether each item of a record is one that the chain could have made.
bool ItemsMatchChain(const TxItems& items, Image image, uint32_t first_entry, const char* own_folder,
                     const char* windows_folder);

// Calls `visit(header, target_path)` for every entry of the chain up to its end or its
// first open-document entry, with the target's path resolved; false when the chain is
// broken or a path does not fit.
template <typename Visit>
bool ForEachEntry(Image image, uint32_t first_entry, const char* own_folder, const char* windows_folder,
                  Visit visit);

}  // namespace patch

#include "core/patch/paths.h"

namespace patch {

template <typename Visit>
bool ForEachEntry(Image image, uint32_t first_entry, const char* own_folder, const char* windows_folder,
                  Visit visit) {
  uint64_t offset = first_entry;
  for (;;) {
    EntryHeader header;
    if (ParseEntryHeader(image, static_cast<uint32_t>(offset), &header) != HeaderOutcome::Ok) return false;
    if (header.kind == EntryKind::OpenDocument) return true;
    char target[kPathCapacity];
    if (!ResolveTargetPath(header, own_folder, windows_folder, target, sizeof target)) return false;
    BodySummary body;
    if (WalkBody(image, header, nullptr, &body) != BodyOutcome::Ok) return false;
    visit(header, static_cast<const char*>(target));
    switch (ChainStep(image, body.end)) {
      case ChainOutcome::Complete: return true;
      case ChainOutcome::Broken: return false;
      case ChainOutcome::NextEntry: offset = body.end; break;
    }
  }
}

}  // namespace patch
