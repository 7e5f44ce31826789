#pragma once
// The applier as the wizard writes it into the install folder and runs it. The folder is
// writable by standard users, and the applier runs with the wizard's administrator rights,
// so between its writing and its end nobody else may replace, rename, delete or change it.
#include <windows.h>

#include <string>

#include "win/handle.h"
#include "win/status.h"

namespace update {

class HeldApplier {
 public:
  // Deletes an older file of that name (a link goes as a link), creates the file new
  // (refused when anything is still or again at the path), writes `data` and reopens it
  // for reading, shared for reading only; then checks through that handle that it is the
  // file just written, holding exactly `data`. Fails with the text of the wizard's error
  // box when any step fails; nothing is held then.
  win::Status Write(const std::string& path, const void* data, DWORD size);

  // Lets go of the file once the applier has ended, so that it can be deleted.
  void Release() { file_.reset(); }

 private:
  win::FileHandle file_;
};

}  // namespace update
