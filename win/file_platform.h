#pragma once
// The update's files through the kernel's ANSI calls, for the applier's run, the wizard's
// recovery and patchtool.exe's apply. New files are held open from their creation to their
// move into place; every rename and replace is written through; data reaches the disk by
// FlushFileBuffers. On the Windows 9x family (no links, no replacing rename) the rollback
// file is a copy, and a replace deletes the target before it renames the new file to it.
#include <windows.h>

#include "core/patch/file_platform.h"

namespace win {

class FilePlatform final : public patch::FilePlatform {
 public:
  FilePlatform();
  FilePlatform(const FilePlatform&) = delete;
  FilePlatform& operator=(const FilePlatform&) = delete;

  patch::LoadResult LoadWholeFile(const char* path, patch::FileBlock* block) override;
  void ReleaseBlock(patch::FileBlock* block) override;
  patch::FoundKind Find(const char* path) override;
  bool CreateOutput(const char* path, patch::OutputFile* file) override;
  bool OpenExistingForWrite(const char* path, patch::OutputFile* file) override;
  bool WriteOutput(patch::OutputFile file, const uint8_t* data, uint32_t length) override;
  bool SetLastWriteTime(patch::OutputFile file, const patch::LocalStamp& stamp, uint32_t* error_code) override;
  bool ReadLastWrite(patch::OutputFile file, uint64_t* time) override;
  bool WriteLastWrite(patch::OutputFile file, uint64_t time) override;
  bool FlushOutput(patch::OutputFile file) override;
  patch::LoadResult LoadOutput(patch::OutputFile file, const char* path, patch::FileBlock* block) override;
  bool MoveOutput(patch::OutputFile file, const char* from, const char* to, bool replace) override;
  void CloseOutput(patch::OutputFile file) override;
  bool RemoveFile(const char* path) override;
  bool RenameFile(const char* from, const char* to) override;
  bool ReplaceFile(const char* from, const char* to) override;
  bool KeepCopy(const char* from, const char* to) override;
  bool FlushFolder(const char* path) override;
  bool MakeFolder(const char* path) override;
  bool RemoveFolder(const char* path) override;

 private:
  bool old_family_;                   // Windows 9x
  HANDLE closed_for_move_ = nullptr;  // an output MoveOutput had to close already
};

}  // namespace win
