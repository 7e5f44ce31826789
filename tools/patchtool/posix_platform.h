#pragma once
// The applier's platform on Linux, for `patchtool apply`: the same run as the Win32
// program over real files. Paths in the run are code page 932 with "\" separators, as on
// Windows; they become UTF-8 paths with "/" only here, at real separators, and each name
// is looked up without regard to ASCII case, as the Windows file system matches names.
#include <optional>
#include <span>
#include <ostream>
#include <string>
#include <vector>

#include "core/patch/applier_platform.h"
#include "tools/patchtool/apply_checks.h"

namespace patchtool {

struct PosixPlatformOptions {
  std::string own_path;  // code page 932, "\" separators: where the run believes it lies
  // The own file as the run sees it, already read by the command (bare patch data behind
  // SEARCH_START zero bytes, as if packed onto an applier image): served as it is, never
  // read again. It must outlive the platform.
  std::span<uint8_t> own_image;
  std::optional<std::string> windows_folder;  // code page 932, "\" separators
  bool verbose = false;
};

class PosixPlatform final : public PrintingPlatform, public patch::FilePlatform {
 public:
  PosixPlatform(PosixPlatformOptions options, std::ostream& out);
  ~PosixPlatform();

  // "\" at real separators becomes "/", the text becomes UTF-8, and each existing name is
  // matched without regard to ASCII case. nullopt when the path is not valid code page 932.
  static std::optional<std::string> ToRealPath(const char* run_path);
  // An absolute UTF-8 path as the run sees it; nullopt when it holds a backslash or a
  // character without a code page 932 form.
  static std::optional<std::string> ToRunPath(const std::string& real_path);

  bool OwnPath(char* buffer, size_t size) override;
  bool WindowsFolder(char* buffer, size_t size) override;
  patch::FilePlatform& Files() override { return *this; }
  patch::LoadResult LoadOwnFile(const char* path, patch::FileBlock* block) override;
  void ShellOpen(const char* path) override;

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
  PosixPlatformOptions options_;
  int open_outputs_ = 0;
};

}  // namespace patchtool
