#pragma once
// The record of a transaction ("UPDATE.JNL" in the applier's own folder; layout in
// docs/record.md). It is written whole under a draft name, put on disk, and only then
// renamed to its own name, so that a record found there is always complete; it goes when
// the transaction is whole. The paths in it are relative to the applier's folder or to the
// Windows folder, so that whoever reads it later builds them from the folders as it sees
// them. A record says what the applier meant to do; it proves nothing (the folder can be
// written by anyone), so recovery acts on it only as far as the patch data agrees.
#include <cstdint>

#include "core/patch/file_platform.h"
#include "core/patch/format.h"
#include "core/patch/transaction.h"

namespace patch {

// Which patch data the record belongs to: the checksum and size of the patch data from
// its first entry to the end of the applier's file.
struct RecordHead {
  uint32_t chain_crc = 0;
  uint32_t chain_size = 0;
};
RecordHead HeadOfChain(Image image, uint32_t first_entry);

// The record's path in `own_folder` (a draft: the name it is written under).
bool MakeRecordPath(const char* own_folder, bool draft, char* out, size_t capacity);

// False when the record cannot be written whole; nothing is left under its name then.
bool WriteRecord(FilePlatform& files, const char* own_folder, const char* windows_folder, const RecordHead& head,
                 const TxItems& items);

enum class RecordRead : uint8_t { None, Ok, Unusable };
// The items come back with their states unknown.
RecordRead ReadRecord(FilePlatform& files, const char* own_folder, const char* windows_folder, RecordHead* head,
                      TxItems* items);

// The record goes, and the folder's record of that is put on disk.
void RemoveRecord(FilePlatform& files, const char* own_folder);

}  // namespace patch
