#include "tools/patchtool/console_platform_win.h"

#include <cstring>

#include "core/patch/format.h"
#include "tools/patchtool/cp932_convert.h"

namespace patchtool {
namespace {

bool CopyOut(const std::string& text, char* buffer, size_t size) {
  if (text.size() >= size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

ConsolePlatform::ConsolePlatform(ConsolePlatformOptions options, std::ostream& out)
    : PrintingPlatform(out, options.verbose), options_(std::move(options)) {}

ConsolePlatform::~ConsolePlatform() = default;

bool ConsolePlatform::OwnPath(char* buffer, size_t size) { return CopyOut(options_.own_path, buffer, size); }

bool ConsolePlatform::WindowsFolder(char* buffer, size_t size) {
  return options_.windows_folder && CopyOut(*options_.windows_folder, buffer, size);
}

// The own file is the one the command has read (it may lie elsewhere than the run
// believes); it is lent without a handle, which the files' ReleaseBlock passes over.
patch::LoadResult ConsolePlatform::LoadOwnFile(const char*, patch::FileBlock* block) {
  if (options_.own_image.size() >= kFourGiB) return patch::LoadResult::SizeFailed;
  block->data = options_.own_image.data();
  block->size = static_cast<uint32_t>(options_.own_image.size());
  block->handle = nullptr;
  return patch::LoadResult::Ok;
}

// A vendor's check run opens nothing: the document is named instead.
void ConsolePlatform::ShellOpen(const char* path) { out() << "open: " << Cp932ToUtf8ForDisplay(path) << "\n"; }

}  // namespace patchtool
