#pragma once
// Everything the applier's run needs from the operating system, behind one small
// interface: the Win32 program, the native vendor tool and the test doubles each
// implement it. Paths and texts are zero-terminated code page 932 byte strings.
//
// Member names avoid the Win32 A/W macros (DeleteFile, MoveFile, MessageBox,
// CreateDialog) so an implementation can include <windows.h>.
#include <cstddef>
#include <cstdint>

namespace patch {

// A whole file held in memory. `handle` is the platform's own token for releasing it.
struct FileBlock {
  uint8_t* data = nullptr;
  uint32_t size = 0;
  void* handle = nullptr;
};

// Which step of reading a whole file failed; the run turns each into its own box.
enum class LoadResult : uint8_t {
  Ok,
  OpenFailed,   // cannot be opened for reading
  SizeFailed,   // size unknown, or 4 GiB and more
  AllocFailed,  // the block cannot be allocated
  LockFailed,   // the block cannot be made accessible
  ReadFailed,   // the read failed or returned fewer bytes than the size
};

enum class FoundKind : uint8_t { None, File, Folder };

enum class BoxOwner : uint8_t { None, Dialog };
constexpr uint32_t kBoxPlain = 0x00;        // OK, no icon
constexpr uint32_t kBoxExclamation = 0x30;  // OK, exclamation icon

// Local date and time as an entry records it; day of week and milliseconds are 0.
struct LocalStamp {
  int16_t year;
  int8_t month, day, hour, minute, second;
};

// Progress dialog lines.
enum DialogLine : int { kLineTarget = 900, kLinePercent = 901, kLineStatus = 902, kLineDescription = 903 };

using OutputFile = intptr_t;  // opaque; valid from a successful Create/OpenOutput until CloseOutput

class ApplierPlatform {
 public:
  // Start-up facts: full path of the applier's own file and the Windows folder.
  // Each returns false when the text does not fit the buffer.
  virtual bool OwnPath(char* buffer, size_t size) = 0;
  virtual bool WindowsFolder(char* buffer, size_t size) = 0;

  // Files.
  virtual LoadResult LoadWholeFile(const char* path, FileBlock* block) = 0;
  virtual void ReleaseBlock(FileBlock* block) = 0;
  virtual bool CreateOutput(const char* path, OutputFile* file) = 0;       // always a new, empty file
  virtual bool OpenExistingForWrite(const char* path, OutputFile* file) = 0;
  virtual bool WriteOutput(OutputFile file, const uint8_t* data, uint32_t length) = 0;
  // On failure `error_code` receives the system's code for the time-stamp box.
  virtual bool SetLastWriteTime(OutputFile file, const LocalStamp& stamp, uint32_t* error_code) = 0;
  virtual void CloseOutput(OutputFile file) = 0;
  virtual bool RemoveFile(const char* path) = 0;
  virtual bool RenameFile(const char* from, const char* to) = 0;
  virtual FoundKind Find(const char* path) = 0;

  // A new file is held from its creation to its move into place, so that what is checked
  // is what is moved: nobody may write, replace or delete it in between. `path` is where
  // `file` was created. Platforms that cannot hold a file read and move it by its path.
  virtual LoadResult LoadOutput(OutputFile file, const char* path, FileBlock* block) {
    (void)file;
    return LoadWholeFile(path, block);
  }
  // Moves the still open output to `to`, never over an existing file; CloseOutput follows.
  virtual bool MoveOutput(OutputFile file, const char* from, const char* to) {
    (void)file;
    return RenameFile(from, to);
  }

  // The progress dialog and the user.
  virtual void OpenProgressDialog() = 0;
  virtual void CloseProgressDialog() = 0;
  virtual void SetDialogLine(DialogLine line, const char* text) = 0;
  virtual void ResetProgressBar() = 0;  // range 0..100, step 1, position 0
  virtual void StepProgressBar() = 0;
  virtual void PumpMessages() = 0;
  virtual void ShowBox(const char* text, const char* caption, BoxOwner owner, uint32_t type) = 0;
  virtual void ShellOpen(const char* path) = 0;

 protected:
  ~ApplierPlatform() = default;
};

}  // namespace patch
