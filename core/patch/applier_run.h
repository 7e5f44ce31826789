#pragma once
// The applier's whole run over its platform: read the own file, find the patch data,
// read the first entry, load its target, then apply the chain of entries with the
// progress dialog and report the end in one final box. The Win32 program calls
// RunApplier and then posts its quit message and drains its loop.
#include <cstddef>
#include <cstdint>

#include "core/patch/applier_platform.h"
#include "core/patch/format.h"

namespace patch {

constexpr size_t kPathCapacity = 512;           // own, target, temporary and backup paths
constexpr size_t kWindowsFolderCapacity = 256;  // the Windows folder

// Steps 1 to 7 of the applier's start-up (everything up to posting the quit message).
void RunApplier(ApplierPlatform& platform);

// Path rules. Each writes a zero-terminated path into `out` (room for `capacity` bytes,
// terminator included) and returns false, leaving `out` holding a safely cut, still
// terminated copy of as much as fits, when the whole path would not fit.

// The applier's folder: `own_path` cut right after its last real backslash.
bool MakeOwnFolder(const char* own_path, char* out, size_t capacity);

// The four forms of target_folder. `windows_folder` may be null when unknown: a "*"
// folder then cannot be resolved and false is returned.
bool ResolveTargetPath(const EntryHeader& header, const char* own_folder, const char* windows_folder,
                       char* out, size_t capacity);

// The target's folder followed by "UPDATE.TMP".
bool MakeTempPath(const char* target_path, char* out, size_t capacity);

// The target path cut after the first dot of its file name (a dot appended when it has
// none), followed by "OLD": a.b.c gives a.OLD, README gives README.OLD.
bool MakeBackupPath(const char* target_path, char* out, size_t capacity);

}  // namespace patch
