#pragma once
// The file operations of an update, behind one small interface: the Win32 programs (the
// applier and the wizard's recovery), the native vendor tool and the test doubles each
// implement it. Paths are zero-terminated code page 932 byte strings.
//
// An update is one transaction (core/patch/transaction.h), so the operations say what is
// on disk when they return: data reaches the disk through FlushOutput, a folder's records
// through the renames, which write through, or through FlushFolder.
//
// Member names avoid the Win32 A/W macros (DeleteFile, MoveFile, ReplaceFile) so an
// implementation can include <windows.h>.
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

// A linked folder is a junction, a mount point or a symbolic link to a folder: whatever is
// written through it lands elsewhere.
enum class FoundKind : uint8_t { None, File, Folder, LinkedFolder };

// Local date and time as an entry records it; day of week and milliseconds are 0.
struct LocalStamp {
  int16_t year;
  int8_t month, day, hour, minute, second;
};

using OutputFile = intptr_t;  // opaque; valid from a successful Create/OpenOutput until CloseOutput

class FilePlatform {
 public:
  virtual LoadResult LoadWholeFile(const char* path, FileBlock* block) = 0;
  virtual void ReleaseBlock(FileBlock* block) = 0;
  virtual FoundKind Find(const char* path) = 0;

  // A new file, held from its creation until it is closed: nobody else may read, write,
  // replace or delete it in between, so what is checked is what is moved.
  virtual bool CreateOutput(const char* path, OutputFile* file) = 0;  // always a new, empty file
  virtual bool OpenExistingForWrite(const char* path, OutputFile* file) = 0;
  virtual bool WriteOutput(OutputFile file, const uint8_t* data, uint32_t length) = 0;
  // On failure `error_code` receives the system's code for the time-stamp box.
  virtual bool SetLastWriteTime(OutputFile file, const LocalStamp& stamp, uint32_t* error_code) = 0;
  // The last-write time as the file system keeps it (UTC, 100 ns units), to give it back.
  virtual bool ReadLastWrite(OutputFile file, uint64_t* time) = 0;
  virtual bool WriteLastWrite(OutputFile file, uint64_t time) = 0;
  // The file's data and time stamp on disk.
  virtual bool FlushOutput(OutputFile file) = 0;
  // Reads the output back through its own handle. Platforms that cannot hold a file read
  // it by its path.
  virtual LoadResult LoadOutput(OutputFile file, const char* path, FileBlock* block) = 0;
  // Moves the still open output from `from` to `to`; over an existing `to` only with
  // `replace`, and then in one step (at no moment is `to` missing). CloseOutput follows.
  virtual bool MoveOutput(OutputFile file, const char* from, const char* to, bool replace) = 0;
  virtual void CloseOutput(OutputFile file) = 0;

  virtual bool RemoveFile(const char* path) = 0;
  // Never over an existing file.
  virtual bool RenameFile(const char* from, const char* to) = 0;
  // `from` takes the place of the file at `to` in one step.
  virtual bool ReplaceFile(const char* from, const char* to) = 0;
  // A second name `to` for the file at `from`, which stays as it is: a link where the file
  // system has them, else a copy on disk with the same contents and last-write time.
  // Never over an existing file.
  virtual bool KeepCopy(const char* from, const char* to) = 0;
  // The records of the folder that holds `path` on disk.
  virtual bool FlushFolder(const char* path) = 0;
  // A new folder (its parent exists); removing one succeeds only when it is empty.
  virtual bool MakeFolder(const char* path) = 0;
  virtual bool RemoveFolder(const char* path) = 0;

 protected:
  ~FilePlatform() = default;
};

}  // namespace patch
