#pragma once
// Everything the applier's run needs from the operating system besides its files: where it
// lies, the progress dialog and the user. The Win32 program, the native vendor tool and the
// test doubles each implement it. Texts are zero-terminated code page 932 byte strings.
//
// Member names avoid the Win32 A/W macros (MessageBox, CreateDialog) so an implementation
// can include <windows.h>.
#include <cstddef>
#include <cstdint>

#include "core/patch/file_platform.h"

namespace patch {

class CommitWatch;

enum class BoxOwner : uint8_t { None, Dialog };
constexpr uint32_t kBoxPlain = 0x00;        // OK, no icon
constexpr uint32_t kBoxExclamation = 0x30;  // OK, exclamation icon

// Progress dialog lines.
enum DialogLine : int { kLineTarget = 900, kLinePercent = 901, kLineStatus = 902, kLineDescription = 903 };

class ApplierPlatform {
 public:
  // Start-up facts: full path of the applier's own file and the Windows folder.
  // Each returns false when the text does not fit the buffer.
  virtual bool OwnPath(char* buffer, size_t size) = 0;
  virtual bool WindowsFolder(char* buffer, size_t size) = 0;

  // The files of the run.
  virtual FilePlatform& Files() = 0;
  // The applier's own file, whole. The vendor's tool serves the image it has read already.
  virtual LoadResult LoadOwnFile(const char* path, FileBlock* block) { return Files().LoadWholeFile(path, block); }

  // The progress dialog and the user.
  virtual void OpenProgressDialog() = 0;
  virtual void CloseProgressDialog() = 0;
  virtual void SetDialogLine(DialogLine line, const char* text) = 0;
  virtual void ResetProgressBar() = 0;  // range 0..100, step 1, position 0
  virtual void StepProgressBar() = 0;
  virtual void PumpMessages() = 0;
  virtual void ShowBox(const char* text, const char* caption, BoxOwner owner, uint32_t type) = 0;
  virtual void ShellOpen(const char* path) = 0;

  // A test build's stops at the named points of the commit (core/patch/transaction.h).
  virtual CommitWatch* Watch() { return nullptr; }

 protected:
  ~ApplierPlatform() = default;
};

}  // namespace patch
