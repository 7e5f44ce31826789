#pragma once
// The applier's platform on Win32: files through the kernel's ANSI calls (new files held
// open from creation to their move into place), the modeless progress dialog "DIFFMAKE",
// message boxes and the shell's "open" as the logged-in user.
#include <windows.h>

#include "core/patch/applier_platform.h"
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

  patch::LoadResult LoadWholeFile(const char* path, patch::FileBlock* block) override;
  void ReleaseBlock(patch::FileBlock* block) override;
  bool CreateOutput(const char* path, patch::OutputFile* file) override;
  bool OpenExistingForWrite(const char* path, patch::OutputFile* file) override;
  bool WriteOutput(patch::OutputFile file, const uint8_t* data, uint32_t length) override;
  bool SetLastWriteTime(patch::OutputFile file, const patch::LocalStamp& stamp, uint32_t* error_code) override;
  void CloseOutput(patch::OutputFile file) override;
  bool RemoveFile(const char* path) override;
  bool RenameFile(const char* from, const char* to) override;
  patch::FoundKind Find(const char* path) override;
  patch::LoadResult LoadOutput(patch::OutputFile file, const char* path, patch::FileBlock* block) override;
  bool MoveOutput(patch::OutputFile file, const char* from, const char* to) override;

  void OpenProgressDialog() override;
  void CloseProgressDialog() override;
  void SetDialogLine(patch::DialogLine line, const char* text) override;
  void ResetProgressBar() override;
  void StepProgressBar() override;
  void PumpMessages() override;
  void ShowBox(const char* text, const char* caption, patch::BoxOwner owner, uint32_t type) override;
  void ShellOpen(const char* path) override;

 private:
  HINSTANCE instance_;
  HWND dialog_ = nullptr;
  win::Module common_controls_;  // outlives the dialog: members go after the destructor's body
  HANDLE closed_for_move_ = nullptr;  // an output MoveOutput had to close already
};

}  // namespace applier
