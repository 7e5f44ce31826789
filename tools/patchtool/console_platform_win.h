#pragma once
// The applier's run inside patchtool.exe: the files go through the applier's own Win32
// files (the same calls, the same holding of new files until they are moved into place);
// the progress dialog and the message boxes become printed lines, as in the native tool.
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "win/file_platform.h"
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
  patch::FilePlatform& Files() override { return files_; }
  patch::LoadResult LoadOwnFile(const char* path, patch::FileBlock* block) override;

  void ShellOpen(const char* path) override;

 private:
  ConsolePlatformOptions options_;
  win::FilePlatform files_;
};

}  // namespace patchtool
