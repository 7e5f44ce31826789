#include "update/InstallFolderHold.h"

#include <windows.h>

#include "core/wizard/folder_chain.h"
#include "update/FolderAccess.h"

namespace update {

HoldOutcome InstallFolderHold::Hold(const std::string& folder, const text::LeadByteTable& lead_bytes) {
  folders_.clear();
  const std::string absolute = FullPath(folder);
  const auto chain = wizard::FolderChain(absolute, lead_bytes);
  if (!chain) return HoldOutcome::kNotChecked;

  // A root alone holds nothing: it can be neither renamed nor a link.
  std::vector<win::FileHandle> held;
  for (size_t length : *chain) {
    const std::string prefix = absolute.substr(0, length);
    // The folder itself, not what a reparse point there leads to; reading and writing in
    // it stay open to everyone, renaming and deleting it do not.
    win::FileHandle opened(CreateFileA(prefix.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opened) {
      // A reparse point that cannot be opened as itself still shows in its attributes.
      const DWORD attributes = GetFileAttributesA(prefix.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return HoldOutcome::kLinked;
      }
      return HoldOutcome::kNotChecked;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(opened.get(), &info)) return HoldOutcome::kNotChecked;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return HoldOutcome::kLinked;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return HoldOutcome::kNotChecked;
    held.push_back(std::move(opened));
  }
  folders_ = std::move(held);
  return HoldOutcome::kHeld;
}

}  // namespace update
