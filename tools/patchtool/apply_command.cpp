// patchtool apply: the applier's run on Linux, over real files.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>

#include "core/patch/applier_run.h"
#include "core/patch/messages.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/chain_reader.h"
#include "tools/patchtool/cp932_convert.h"
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

// Entries that put their target into the Windows folder cannot run without one; refuse
// them before anything is changed rather than let the run fail half-way.
void CheckWindowsFolderNeeds(const Bytes& image, const std::string& file, bool have_windows_folder) {
  if (have_windows_folder) return;
  bool bare = false;
  uint32_t first = 0;
  try {
    first = LocatePatchData(image, file, &bare);
  } catch (const ToolError&) {
    return;  // the run itself reports missing patch data, as the applier does
  }
  const Chain chain = ReadChain(image, first);
  for (const ChainEntry& entry : chain.entries) {
    const patch::EntryHeader& h = entry.header;
    if (h.target_folder.length > 0 && h.target_folder.data[0] == '*') {
      throw ToolError("the entry at offset " + std::to_string(h.offset) + " puts \"" +
                      Cp932ToUtf8ForDisplay(std::string_view(h.target_name.data, h.target_name.length)) +
                      "\" into the Windows folder (target_folder \"" +
                      Cp932ToUtf8ForDisplay(std::string_view(h.target_folder.data, h.target_folder.length)) +
                      "\"); give the folder with --windows-dir DIR");
    }
  }
}

}  // namespace

int RunApply(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{{"--dir", "--windows-dir"}, {"--verbose"}});
  parsed.ExpectPositional(1, "patchtool apply FILE [--dir DIR] [--windows-dir DIR] [--verbose]");
  const std::string& file = parsed.positional()[0];
  const Bytes image = ReadWholeFile(file, "FILE", true);

  PosixPlatformOptions options;
  options.own_file = file;
  options.bare_patch_data = image.size() >= 4 && std::memcmp(image.data(), "\x44\x69\x66\x66", 4) == 0;
  options.verbose = parsed.has("--verbose");
  const std::string dir = RealFolder(parsed.value("--dir").value_or(FolderOf(file)), "folder");
  options.own_path = RunPath((dir == "/" ? dir : dir + "/") + BaseName(file), "the path", patch::kPathCapacity);
  if (const auto windows = parsed.value("--windows-dir")) {
    options.windows_folder = RunPath(RealFolder(*windows, "Windows folder"), "the Windows folder",
                                     patch::kWindowsFolderCapacity);
  }
  CheckWindowsFolderNeeds(image, file, options.windows_folder.has_value());

  PosixPlatform platform(options, out);
  patch::RunApplier(platform);

  const auto& boxes = platform.boxes();
  if (boxes.empty()) {
    throw ToolError("the run ended without a final message: the chain starts with an open-document entry, so nothing "
                    "was done");
  }
  // The completion box says "正常終了" as its text, the document box as its caption.
  const PrintedBox& last = boxes.back();
  if (last.text == patch::msg::kCompleted || last.caption == patch::msg::kCompleted) return kExitOk;
  throw ToolError("the update did not complete: " + Cp932ToUtf8ForDisplay(last.caption) + ": " +
                  Cp932ToUtf8ForDisplay(last.text));
}

}  // namespace patchtool
