#pragma once
// How the wizard judges the install folder, before a run and after it. The applier reports
// nothing but what it leaves in the folder, so this judgement is the whole of what the
// wizard learns, and it comes from the wizard's own payload alone: each target the chain
// leaves holding a file must hold exactly the new contents its entries record. It must
// never call a failure a success, nor delete the only copy of the user's program.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/patch/file_platform.h"
#include "core/patch/format.h"

namespace wizard {

class FolderPlan {
 public:
  // The targets of the chain in `payload` (the applier with its patch data) as they lie
  // below `folder` (ends in "\") and `windows_folder`; nullopt when the chain cannot be read.
  static std::optional<FolderPlan> Read(patch::Image payload, const char* folder, const char* windows_folder);

  // Looks at the folder before the run: a target whose every entry may be skipped
  // (several old versions) and which holds none of their old files is left by the applier
  // as it is, and so is not judged; the program itself (`program_path`) always is.
  void LookBefore(patch::FilePlatform& files, const std::string& program_path);

  // Whether every judged target holds its new contents (and at least one is judged): the
  // folder is up to date before a run, the run succeeded after it. A target the chain
  // makes only if it is missing must exist; one it removes is not judged (a failed delete
  // never fails an update).
  bool AllNew(patch::FilePlatform& files) const;

  // After a whole update: each update target's backup that holds one of its old versions
  // goes, as the backup of a finished update always has.
  void RemoveBackups(patch::FilePlatform& files) const;

  uint32_t first_entry() const { return first_entry_; }

 private:
  enum class Final : uint8_t { kFile, kExists, kAbsent };
  struct Target {
    std::string path;
    Final final = Final::kExists;
    uint32_t crc = 0, size = 0;          // kFile
    std::vector<uint32_t> old_crcs;      // of its update entries
    bool skippable = true;               // every update entry of it may be skipped
    bool has_update = false;
    bool removed = false;  // a delete entry came before
    bool judged = false;
  };
  std::vector<Target> targets_;
  uint32_t first_entry_ = 0;
};

}  // namespace wizard
