#pragma once
// Holds the install folder for the length of an update run. The wizard runs with
// administrator rights and grants rights to, writes into and deletes from this folder, so
// the folder it acts on must stay the folder it checked: no folder along its path may be a
// junction, a symbolic link or a mount point, and none can be renamed, deleted or
// replaced by one while the run holds them.
#include <string>
#include <vector>

#include "core/text/cp932.h"
#include "win/handle.h"

namespace update {

enum class HoldOutcome {
  kHeld,
  kLinked,      // a folder along the path is a reparse point
  kNotChecked,  // the path names no folder that can be checked and held (a path that
                // cannot be made absolute, a folder that cannot be opened)
};

class InstallFolderHold {
 public:
  InstallFolderHold() = default;
  InstallFolderHold(const InstallFolderHold&) = delete;
  InstallFolderHold& operator=(const InstallFolderHold&) = delete;

  // Opens every folder of `folder`'s absolute path, outermost first, without sharing
  // delete access; each must be a plain folder. Holds them all when the outcome is kHeld,
  // none otherwise.
  HoldOutcome Hold(const std::string& folder, const text::LeadByteTable& lead_bytes);

 private:
  std::vector<win::FileHandle> folders_;
};

}  // namespace update
