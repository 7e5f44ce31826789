#pragma once
// The update run's portable rules: the backup name the applier leaves behind, and how the
// run judges the folder it finds once the applier has ended. The applier reports nothing
// but what it leaves in the install folder, so this judgement is the whole of what the
// wizard learns; it must never call a failure a success, nor delete the only copy of the
// user's program.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text/cp932.h"

namespace wizard {

// `name` with its extension replaced by `extension` (which brings its own "."): the
// extension is the part from the last "." that no "\" or ":" follows; a name without one
// gets `extension` appended. Lunder19.EXE + ".OLD" gives Lunder19.OLD.
std::string ReplaceExtension(std::string_view name, std::string_view extension, const text::LeadByteTable& lead_bytes);

// What the run knows of one file at one moment. Two looks at the same path see the same
// file only when it has the same identity (volume and file index), size and last-write
// time; a file replaced by another one (the applier deletes an older backup and renames
// the program to the backup name) has another identity.
struct FileStamp {
  bool exists = false;    // a file (not a folder) is at the path
  bool identified = false;  // its identity could be read; false when it exists but cannot be opened
  uint32_t volume_serial = 0;
  uint64_t file_index = 0;
  uint64_t size = 0;
  uint64_t last_write = 0;  // file time, 100 ns units

  bool SameFileAs(const FileStamp& other) const {
    return exists && other.exists && identified && other.identified && volume_serial == other.volume_serial &&
           file_index == other.file_index && size == other.size && last_write == other.last_write;
  }
};

enum class RunOutcome {
  kSuccess,        // the applier left a new backup and the program is in place: delete the backup
  kFailed,         // no new backup: report the failure, delete nothing
  kRestoreBackup,  // the backup is the only copy left: move it back to the program's name,
                   // then report the failure
};

// What lies at the program's own path once the applier has ended.
enum class TargetState {
  kMissing,  // nothing (or a folder)
  kOther,    // a file, but not the program the payload rebuilds: not proof of anything
  kNew,      // exactly the size and checksum the payload's entry records for it
};

// The judgement after the applier has ended. `backup_before` is the backup path as it was
// just before the applier started, `backup_after` as it is now; `program_before` and
// `program_after` the same for the program's own path. A backup that is still the very file
// that lay there before (or that cannot be told apart from it) proves nothing, unless the
// program itself was visibly replaced by the new one: an entry for one of several old
// versions keeps the backup it finds and puts the new program in place of the old one. A
// new backup beside a program that is not the new one proves nothing either: another
// process may have made both, and then the backup may be the user's only real copy.
RunOutcome JudgeRun(const FileStamp& backup_before, const FileStamp& backup_after, TargetState target,
                    const FileStamp& program_before = {}, const FileStamp& program_after = {});

}  // namespace wizard
