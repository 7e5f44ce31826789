#pragma once
// The applier's run inside patchtool.exe: the files go through the applier's own Win32
// platform (the same calls, the same holding of new files until they are moved into place);
// the progress dialog and the message boxes become printed lines, as in the native tool.
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "applier/win32_platform.h"
#include "tools/patchtool/apply_checks.h"

namespace patchtool {

struct ConsolePlatformOptions {
  std::string own_path;  // code page 932: where the run believes it lies
  // The own file as the run sees it, already read by the command (see RunImage): served as
  // it is, never read again. It must outlive the platform.
  std::span<uint8_t> own_image;
  std::optional<std::string> windows_folder;  // code page 932
  bool verbose = false;
};

class ConsolePlatform final : public PrintingPlatform {
 public:
  ConsolePlatform(ConsolePlatformOptions options, std::ostream& out);
  ~ConsolePlatform();
  ConsolePlatform(const ConsolePlatform&) = delete;
  ConsolePlatform& operator=(const ConsolePlatform&) = delete;

  bool OwnPath(char* buffer, size_t size) override;
  bool WindowsFolder(char* buffer, size_t size) override;
  patch::LoadResult LoadWholeFile(const char* path, patch::FileBlock* block) override;
  void ReleaseBlock(patch::FileBlock* block) override { files_.ReleaseBlock(block); }
  bool CreateOutput(const char* path, patch::OutputFile* file) override { return files_.CreateOutput(path, file); }
  bool OpenExistingForWrite(const char* path, patch::OutputFile* file) override {
    return files_.OpenExistingForWrite(path, file);
  }
  bool WriteOutput(patch::OutputFile file, const uint8_t* data, uint32_t length) override {
    return files_.WriteOutput(file, data, length);
  }
  bool SetLastWriteTime(patch::OutputFile file, const patch::LocalStamp& stamp, uint32_t* error_code) override {
    return files_.SetLastWriteTime(file, stamp, error_code);
  }
  void CloseOutput(patch::OutputFile file) override { files_.CloseOutput(file); }
  bool RemoveFile(const char* path) override { return files_.RemoveFile(path); }
  bool RenameFile(const char* from, const char* to) override { return files_.RenameFile(from, to); }
  patch::FoundKind Find(const char* path) override { return files_.Find(path); }
  patch::LoadResult LoadOutput(patch::OutputFile file, const char* path, patch::FileBlock* block) override {
    return files_.LoadOutput(file, path, block);
  }
  bool MoveOutput(patch::OutputFile file, const char* from, const char* to) override {
    return files_.MoveOutput(file, from, to);
  }

  void ShellOpen(const char* path) override;

 private:
  ConsolePlatformOptions options_;
  applier::Win32Platform files_;
};

}  // namespace patchtool
