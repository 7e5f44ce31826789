#pragma once
// The applier's platform on Win32: its files (win/file_platform.h), the modeless progress
// dialog "DIFFMAKE", message boxes and the shell's "open" as the logged-in user.
#include <windows.h>

#include "core/patch/applier_platform.h"
#include "win/file_platform.h"
#include "win/handle.h"

namespace applier {

class Win32Platform final : public patch::ApplierPlatform {
 public:
  explicit Win32Platform(HINSTANCE instance) : instance_(instance) {}
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  bool OwnPath(char* buffer, size_t size) override;
  bool WindowsFolder(char* buffer, size_t size) override;

  patch::FilePlatform& Files() override { return files_; }

  void OpenProgressDialog() override;
  void CloseProgressDialog() override;
  void SetDialogLine(patch::DialogLine line, const char* text) override;
  void ResetProgressBar() override;
  void StepProgressBar() override;
  void PumpMessages() override;
  void ShowBox(const char* text, const char* caption, patch::BoxOwner owner, uint32_t type) override;
  void ShellOpen(const char* path) override;
#ifdef APPLIER_TEST_POINTS
  patch::CommitWatch* Watch() override;
#endif

 private:
  HINSTANCE instance_;
  HWND dialog_ = nullptr;
  win::Module common_controls_;  // outlives the dialog: members go after the destructor's body
  win::FilePlatform files_;
};

}  // namespace applier
