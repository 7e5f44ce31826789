// patchtool apply: the applier's run on Linux, over real files.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "core/patch/applier_run.h"
#include "tools/patchtool/apply_checks.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/posix_platform.h"
#include "tools/patchtool/tool.h"

namespace patchtool {
namespace {

std::string RealFolder(const std::string& path, const char* what) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) throw ToolError(std::string("cannot find ") + what + " " + path);
  struct stat st;
  if (::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) throw ToolError(std::string(what) + " " + path + " is not a folder");
  return resolved;
}

std::string RunPath(const std::string& real, const char* what, size_t capacity) {
  const auto run = PosixPlatform::ToRunPath(real);
  if (!run) throw ToolError(std::string(what) + " " + real + " holds a backslash or a character without a code page 932 form");
  if (run->size() >= capacity) {
    throw ToolError(std::string(what) + " " + real + " is longer than the applier's " + std::to_string(capacity) +
                    "-byte path buffer");
  }
  return *run;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int RunApply(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{{"--dir", "--windows-dir"}, {"--verbose"}});
  parsed.ExpectPositional(1, "patchtool apply FILE [--dir DIR] [--windows-dir DIR] [--verbose]");
  const std::string& file = parsed.positional()[0];
  RunImage image(file);

  PosixPlatformOptions options;
  options.own_image = image.as_run();
  options.verbose = parsed.has("--verbose");
  const std::string dir = RealFolder(parsed.value("--dir").value_or(FolderOf(file)), "folder");
  options.own_path = RunPath((dir == "/" ? dir : dir + "/") + BaseName(file), "the path", patch::kPathCapacity);
  if (const auto windows = parsed.value("--windows-dir")) {
    options.windows_folder = RunPath(RealFolder(*windows, "Windows folder"), "the Windows folder",
                                     patch::kWindowsFolderCapacity);
  }
  CheckWindowsFolderNeeds(image.file(), file, options.windows_folder.has_value());

  PosixPlatform platform(options, out);
  patch::RunApplier(platform);

  return JudgeRun(platform.boxes());
}

}  // namespace patchtool
