#include "tools/patchtool/console_platform_win.h"

#include <cstring>

#include "core/patch/format.h"
#include "tools/patchtool/cp932_convert.h"
#include "win/handle.h"

namespace patchtool {
namespace {

bool CopyOut(const std::string& text, char* buffer, size_t size) {
  if (text.size() >= size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

ConsolePlatform::ConsolePlatform(ConsolePlatformOptions options, std::ostream& out)
    : PrintingPlatform(out, options.verbose), options_(std::move(options)), files_(GetModuleHandleW(nullptr)) {}

ConsolePlatform::~ConsolePlatform() = default;

bool ConsolePlatform::OwnPath(char* buffer, size_t size) { return CopyOut(options_.own_path, buffer, size); }

bool ConsolePlatform::WindowsFolder(char* buffer, size_t size) {
  return options_.windows_folder && CopyOut(*options_.windows_folder, buffer, size);
}

// The own file is the one the command has read (it may lie elsewhere than the run
// believes); it is handed over as a block of the applier platform's own kind, which
// ReleaseBlock frees like any other.
patch::LoadResult ConsolePlatform::LoadWholeFile(const char* path, patch::FileBlock* block) {
  if (options_.own_path != path || options_.own_image == nullptr) return files_.LoadWholeFile(path, block);
  *block = patch::FileBlock{};
  const Bytes& image = *options_.own_image;
  const uint64_t padding = options_.bare_patch_data ? patch::SEARCH_START : 0;
  const uint64_t size = padding + image.size();
  if (size >= kFourGiB) return patch::LoadResult::SizeFailed;
  win::GlobalBlock memory(GlobalAlloc(GMEM_ZEROINIT, SIZE_T(size)));
  if (!memory) return patch::LoadResult::AllocFailed;
  win::GlobalLockView view(memory.get());
  if (!view.data()) return patch::LoadResult::LockFailed;
  if (!image.empty()) std::memcpy(static_cast<uint8_t*>(view.data()) + padding, image.data(), image.size());
  block->data = static_cast<uint8_t*>(view.release());
  block->size = static_cast<uint32_t>(size);
  block->handle = memory.release();
  return patch::LoadResult::Ok;
}

// A vendor's check run opens nothing: the document is named instead.
void ConsolePlatform::ShellOpen(const char* path) { out() << "open: " << Cp932ToUtf8ForDisplay(path) << "\n"; }

}  // namespace patchtool
