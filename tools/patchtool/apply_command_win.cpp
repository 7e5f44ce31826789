// patchtool apply on Windows: the applier's run over real files, through the applier's own
// Win32 platform. Its paths are code page 932 bytes handed to the system's ANSI calls.
#include <windows.h>

#include "core/patch/applier_run.h"
#include "tools/patchtool/apply_checks.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/console_platform_win.h"
#include "tools/patchtool/cp932_convert.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/tool.h"
#include "tools/patchtool/wide_text_win.h"

namespace patchtool {
namespace {

constexpr UINT kCp932 = 932;

bool IsAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string Shown(const std::wstring& wide) { return WideToUtf8(wide).value_or("?"); }

std::wstring FullFolder(const std::string& path, const char* what) {
  const std::wstring wide = WidePath(path);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) throw ToolError(std::string("cannot find ") + what + " " + path + ": " + SystemMessage(GetLastError()));
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) throw ToolError(std::string("cannot find ") + what + " " + path);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) throw ToolError(std::string(what) + " " + path + " is not a folder");
  // "C:\" keeps its separator; any other folder is named without one, as the applier names it.
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return full;
}

// The system reads the run's ANSI paths in its own ANSI code page: beyond ASCII they mean
// the same names only where that code page is 932.
std::string RunPath(const std::wstring& full, const char* what, size_t capacity) {
  const std::string shown = Shown(full);
  const auto run = Utf8ToCp932(shown);
  if (!run) throw ToolError(std::string(what) + " " + shown + " holds a character without a code page 932 form");
  if (GetACP() != kCp932 && !IsAscii(*run)) {
    throw ToolError(std::string(what) + " " + shown + " holds characters beyond ASCII, and this system's ANSI code page is " +
                    std::to_string(GetACP()) + ", not 932: the applier's run could not name it");
  }
  if (run->size() >= capacity) {
    throw ToolError(std::string(what) + " " + shown + " is longer than the applier's " + std::to_string(capacity) +
                    "-byte path buffer");
  }
  return *run;
}

std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  return path.substr(0, separator + 1);
}

// Names of the chain beyond ASCII would reach the ANSI calls as other names.
void CheckAnsiCodePage(patch::Image image, const std::string& file) {
  if (GetACP() == kCp932) return;
  for (const std::string& name : ChainNames(image, file)) {
    if (!IsAscii(name)) {
      throw ToolError("the patch data names \"" + Cp932ToUtf8ForDisplay(name) +
                      "\" in code page 932, and this system's ANSI code page is " + std::to_string(GetACP()) +
                      ": apply it on a system whose ANSI code page is 932");
    }
  }
}

}  // namespace

int RunApply(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{{"--dir", "--windows-dir"}, {"--verbose"}});
  parsed.ExpectPositional(1, "patchtool apply FILE [--dir DIR] [--windows-dir DIR] [--verbose]");
  const std::string& file = parsed.positional()[0];
  RunImage image(file);

  ConsolePlatformOptions options;
  options.own_image = image.as_run();
  options.verbose = parsed.has("--verbose");
  const std::wstring dir = FullFolder(parsed.value("--dir").value_or(FolderOf(file)), "folder");
  const std::wstring own = (dir.back() == L'\\' ? dir : dir + L"\\") + WidePath(BaseName(file));
  options.own_path = RunPath(own, "the path", patch::kPathCapacity);
  if (const auto windows = parsed.value("--windows-dir")) {
    options.windows_folder = RunPath(FullFolder(*windows, "Windows folder"), "the Windows folder",
                                     patch::kWindowsFolderCapacity);
  }
  CheckWindowsFolderNeeds(image.file(), file, options.windows_folder.has_value());
  CheckAnsiCodePage(image.file(), file);

  ConsolePlatform platform(std::move(options), out);
  patch::RunApplier(platform);
  return JudgeRun(platform.boxes());
}

}  // namespace patchtool
