// patchtool make --old-dir OLD [--old-dir OLD2 ...] --new-dir NEW: one chain that brings a
// whole installed folder from any of the old releases to the new one. Per file of the two
// trees: an update entry for each old version that differs from the new file (each skipped
// when it is not the installed one, if there are several old releases), a create-if-missing
// entry for a file some old release lacks, a delete entry for a file the new release no
// longer has; files that are the same everywhere are left out. The program itself comes
// first and alone keeps a backup (the wizard removes it after a whole update); every other
// entry has none, as the update's own rollback files stand in for them while it runs.
//
// Before anything is written the chain is run, in memory, over each old tree, and must
// leave exactly the new tree.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "core/patch/applier_run.h"
#include "core/patch/checksum.h"
#include "core/patch/memory_platform.h"
#include "core/patch/messages.h"
#include "core/patch/paths.h"
#include "core/producer/entry_writer.h"
#include "core/producer/streams_entry.h"
#include "core/text/cp932.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/cp932_convert.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/make_folder.h"
#include "tools/patchtool/tool.h"

namespace patchtool {
namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "patchtool make --old-dir OLD [--old-dir OLD2 ...] --new-dir NEW -o PATCH [--program NAME] [--format 1|2|3] "
    "[--dry-run]";
constexpr size_t kFlagsOffset = 6;  // "Diff", major, minor, then the flags byte
// The install folder's own path takes up to this much of the applier's 512-byte paths; a
// file's path below it must leave room for its longest work file name beside it.
constexpr size_t kInstallFolderRoom = 260;
constexpr char kLongestWorkName[] = "UPDATE4294967295.TMP";
const producer::Stamp kDeleteStamp{2000, 1, 1, 0, 0, 0};  // read by no applier

// One file of a tree: its path below the tree's root ("sub/a.dll") and its contents.
struct TreeFile {
  std::string path;  // UTF-8, "/" between folders
  std::string disk;  // where it lies
};

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
fs::path FromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::map<std::string, TreeFile> ReadTree(const std::string& root, const char* what) {
  std::error_code error;
  if (!fs::is_directory(FromUtf8(root), error)) throw ToolError(std::string(what) + " " + root + " is not a folder");
  std::map<std::string, TreeFile> files;
  for (auto it = fs::recursive_directory_iterator(FromUtf8(root), error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (it->is_directory()) continue;
    if (!it->is_regular_file()) throw ToolError(Utf8(it->path()) + " is not a regular file or a folder");
    const std::u8string generic = fs::relative(it->path(), FromUtf8(root)).generic_u8string();
    const std::string relative(generic.begin(), generic.end());
    files[relative] = TreeFile{relative, Utf8(it->path())};
  }
  if (error) throw ToolError(std::string("cannot read the folder ") + root + ": " + error.message());
  return files;
}

// The path as the applier names it: code page 932, "\" between folders.
struct RunName {
  std::string folder;  // "" or "sub\dir"
  std::string name;
  std::string whole() const { return folder.empty() ? name : folder + "\\" + name; }
};

RunName ToRunName(const std::string& relative) {
  const auto cp932 = Utf8ToCp932(relative);
  if (!cp932) throw ToolError("the file " + relative + " has a name without a code page 932 form");
  std::string run = *cp932;
  std::replace(run.begin(), run.end(), '/', '\\');
  const size_t sep = text::FindLastSeparator(run.data(), run.size());
  RunName name;
  if (sep != text::kNotFound) {
    name.folder = run.substr(0, sep);
    name.name = run.substr(sep + 1);
  } else {
    name.name = run;
  }
  if (patch::IsWorkFileName(name.name.c_str())) {
    throw ToolError("the file " + relative + " is named like one of the update's own work files");
  }
  if (name.whole().size() + 1 + sizeof kLongestWorkName > patch::kPathCapacity - kInstallFolderRoom) {
    throw ToolError("the path of " + relative + " (" + std::to_string(name.whole().size()) +
                    " bytes in code page 932) leaves no room in the applier's " + std::to_string(patch::kPathCapacity) +
                    "-byte paths below an install folder of up to " + std::to_string(kInstallFolderRoom) + " bytes");
  }
  return name;
}

producer::Stamp StampOf(const std::string& path) {
  const LocalTime t = LastWriteTime(path);
  producer::Stamp stamp{static_cast<uint16_t>(t.year), static_cast<uint8_t>(t.month), static_cast<uint8_t>(t.day),
                        static_cast<uint8_t>(t.hour),  static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second)};
  if (!producer::IsValidStamp(stamp)) throw ToolError("the last-write time of " + path + " cannot be recorded");
  return stamp;
}

enum class Kind { kUpdate, kCreate, kDelete };

struct Planned {
  Kind kind;
  std::string relative;
  RunName name;
  uint64_t old_size = 0, new_size = 0;
  std::string old_disk, new_disk;  // the files it is made from
  bool program = false;
};

struct Plan {
  std::vector<Planned> entries;
  size_t unchanged = 0;
};

// Two names of one tree that differ only in the case of letters are one file to Windows.
void CheckNamesDiffer(const std::map<std::string, TreeFile>& tree) {
  std::map<std::string, std::string> folded;
  for (const auto& [relative, file] : tree) {
    std::string key = relative;
    for (char& c : key) c = text::FoldAsciiCase(c);
    const auto [it, fresh] = folded.emplace(key, relative);
    if (!fresh) throw ToolError("the files " + it->second + " and " + relative + " differ only in the case of letters");
  }
}

Plan MakePlan(const std::vector<std::map<std::string, TreeFile>>& olds, const std::map<std::string, TreeFile>& now,
              const std::string& program) {
  for (const auto& old : olds) CheckNamesDiffer(old);
  CheckNamesDiffer(now);
  Plan plan;
  for (const auto& [relative, file] : now) {
    const RunName name = ToRunName(relative);
    const Bytes new_data = ReadWholeFile(file.disk, "NEW", true);
    bool missing_somewhere = false, differs = false;
    std::set<std::pair<uint32_t, uint64_t>> versions;  // checksum and size of each old version
    std::vector<Planned> updates;
    for (const auto& old : olds) {
      const auto found = old.find(relative);
      if (found == old.end()) {
        missing_somewhere = true;
        continue;
      }
      const Bytes old_data = ReadWholeFile(found->second.disk, "OLD", true);
      if (old_data == new_data) continue;
      differs = true;
      const auto version = std::make_pair(patch::PatchChecksum(old_data.data(), old_data.size()), uint64_t{old_data.size()});
      if (!versions.insert(version).second) continue;
      updates.push_back({Kind::kUpdate, relative, name, old_data.size(), new_data.size(), found->second.disk, file.disk});
    }
    if (!missing_somewhere && !differs) {
      ++plan.unchanged;
      continue;
    }
    // Made first where it is missing: the updates after it then see the new file and pass.
    if (missing_somewhere) plan.entries.push_back({Kind::kCreate, relative, name, 0, new_data.size(), "", file.disk});
    plan.entries.insert(plan.entries.end(), updates.begin(), updates.end());
  }
  std::set<std::string> gone;
  for (const auto& old : olds) {
    for (const auto& [relative, file] : old) {
      if (!now.count(relative) && gone.insert(relative).second) {
        plan.entries.push_back({Kind::kDelete, relative, ToRunName(relative), 0, 0, file.disk, ""});
      }
    }
  }
  // The program first, where the wizard's judgement and the dialog's first line expect it.
  for (Planned& p : plan.entries) {
    p.program = !program.empty() && p.name.folder.empty() && text::SameFileName(p.name.name.c_str(), program.c_str());
  }
  std::stable_partition(plan.entries.begin(), plan.entries.end(), [](const Planned& p) { return p.program; });
  return plan;
}

const char* KindWord(Kind kind) {
  switch (kind) {
    case Kind::kUpdate: return "update";
    case Kind::kCreate: return "create";
    case Kind::kDelete: return "delete";
  }
  return "";
}

Bytes MakeEntry(const Planned& p, int compact, bool skip_on_mismatch) {
  producer::UpdateEntryText text;
  text.target_name = p.name.name;
  text.target_folder = p.name.folder;
  // Ordinary literals are code page 932 already.
  static const char* const kWords[] = {"アップデート ", "追加 ", "削除 "};
  text.description = kWords[static_cast<int>(p.kind)] + p.name.whole();
  Bytes entry;
  if (p.kind == Kind::kDelete) {
    producer::AppendUpdateHeader(entry, 1, 4, {}, {}, text, kDeleteStamp);
    entry[kFlagsOffset] = patch::FLAG_DELETE;
    return entry;
  }
  const Bytes new_data = ReadWholeFile(p.new_disk, "NEW", true);
  const Bytes old_data = p.kind == Kind::kUpdate ? ReadWholeFile(p.old_disk, "OLD", true) : Bytes{};
  const producer::Stamp stamp = StampOf(p.new_disk);
  // The compact format where it pays, per file.
  const auto matcher = producer::MakeSuffixMatcher({});
  entry = producer::MakeUpdateEntry(*matcher, old_data, new_data, text, stamp);
  if (compact >= 2) {
    // With 3, the producer keeps 3.00 for a pair of programs where it is the smaller.
    producer::StreamsOptions options;
    options.program_body = compact >= 3;
    Bytes smaller = producer::MakeStreamsEntry(old_data, new_data, text, stamp, options);
    if (smaller.size() < entry.size()) entry.swap(smaller);
  }
  uint8_t flags = p.kind == Kind::kCreate ? patch::FLAG_CREATE_IF_MISSING : 0;
  if (!p.program) flags |= patch::FLAG_NO_BACKUP;
  if (p.kind == Kind::kUpdate && skip_on_mismatch) flags |= patch::FLAG_SKIP_ON_MISMATCH;
  entry[kFlagsOffset] = flags;
  return entry;
}

// The chain run in memory over one old tree must leave the new tree, file for file.
void CheckChain(const Bytes& chain, const std::map<std::string, TreeFile>& old, const std::map<std::string, TreeFile>& now,
                const std::string& old_root, const std::string& program) {
  patch::MemoryPlatform pf;
  const std::string folder = "C:\\app\\";
  pf.own_path = folder + "UPDATEPATCH.EXE";
  Bytes image(patch::SEARCH_START, 0);
  image.insert(image.end(), chain.begin(), chain.end());
  pf.AddFile(pf.own_path, image);
  for (const auto& [relative, file] : old) pf.AddFile(folder + ToRunName(relative).whole(), ReadWholeFile(file.disk, "OLD", true));
  pf.AddFolder("C:\\app");
  patch::RunApplier(pf);
  std::map<std::string, Bytes> expected;
  for (const auto& [relative, file] : now) expected[folder + ToRunName(relative).whole()] = ReadWholeFile(file.disk, "NEW", true);
  char backup[patch::kPathCapacity] = "";
  if (!program.empty()) patch::MakeBackupPath((folder + program).c_str(), backup, sizeof backup);
  std::map<std::string, Bytes> got;
  for (const std::string& path : pf.FilePaths()) {
    // The applier itself, and the program's backup, which the wizard removes.
    if (path == pf.own_path || text::SameFileName(path.c_str(), backup)) continue;
    got[path] = pf.File(path)->data;
  }
  // Names compare as the file system does.
  auto fold = [](const std::map<std::string, Bytes>& files) {
    std::map<std::string, Bytes> folded;
    for (const auto& [path, data] : files) {
      std::string key = path;
      for (char& c : key) c = text::FoldAsciiCase(c);
      folded[key] = data;
    }
    return folded;
  };
  const bool completed = !pf.boxes.empty() && pf.boxes.back().text == patch::msg::kCompleted;
  if (!completed || fold(got) != fold(expected)) {
    throw ToolError("internal fault: the chain does not bring " + old_root + " to the new folder (" +
                    (pf.boxes.empty() ? std::string("no box") : Cp932ToUtf8ForDisplay(pf.boxes.back().caption) + ": " +
                                                                    Cp932ToUtf8ForDisplay(pf.boxes.back().text)) +
                    "); nothing written");
  }
}

}  // namespace

bool NamesOldFolders(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--old-dir" || arg.rfind("--old-dir=", 0) == 0) return true;
  }
  return false;
}

int RunMakeFolder(const std::vector<std::string>& args, std::ostream& out) {
  std::vector<std::string> old_roots, rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--old-dir") {
      if (i + 1 >= args.size()) throw UsageError("option --old-dir needs a value");
      old_roots.push_back(args[++i]);
    } else if (args[i].rfind("--old-dir=", 0) == 0) {
      old_roots.push_back(args[i].substr(10));
    } else {
      rest.push_back(args[i]);
    }
  }
  const Arguments parsed(rest, OptionSpec{{"-o", "--output", "--new-dir", "--program", "--format"}, {"--dry-run"}});
  parsed.ExpectPositional(0, kUsage);
  const auto output = parsed.value("-o") ? parsed.value("-o") : parsed.value("--output");
  const auto new_root = parsed.value("--new-dir");
  if (!new_root) throw UsageError(std::string("missing --new-dir NEW; usage: ") + kUsage);
  if (!output && !parsed.has("--dry-run")) throw UsageError(std::string("missing -o PATCH; usage: ") + kUsage);
  const std::string format = parsed.value("--format").value_or("3");
  if (format != "1" && format != "1.04" && format != "2" && format != "2.00" && format != "3" && format != "3.00") {
    throw UsageError("--format " + format +
                     " is not a format; give 1 (1.04 only), 2 (2.00 where it is smaller) or 3 (and 3.00 for programs "
                     "where it is smaller, the default)");
  }
  std::string program;
  if (const auto name = parsed.value("--program")) {
    const auto cp932 = Utf8ToCp932(*name);
    if (!cp932) throw ToolError("the program name " + *name + " has no code page 932 form");
    program = *cp932;
  }

  std::vector<std::map<std::string, TreeFile>> olds;
  for (const std::string& root : old_roots) olds.push_back(ReadTree(root, "the old folder"));
  const auto now = ReadTree(*new_root, "the new folder");
  const Plan plan = MakePlan(olds, now, program);

  out << (parsed.has("--dry-run") ? "plan" : "files") << ": " << plan.entries.size() << " entries, " << plan.unchanged
      << " files unchanged\n";
  for (const Planned& p : plan.entries) {
    out << "  " << KindWord(p.kind) << (p.program ? " (the program)" : "") << "  " << p.relative;
    if (p.kind == Kind::kUpdate) out << "  " << p.old_size << " -> " << p.new_size << " bytes";
    if (p.kind == Kind::kCreate) out << "  " << p.new_size << " bytes";
    out << "\n";
  }
  if (parsed.has("--dry-run")) return kExitOk;
  if (plan.entries.empty()) throw ToolError("the old and new folders hold the same files: there is nothing to update");

  const int compact = format[0] - '0';  // 1: 1.04 only; 2: and 2.00; 3: and 3.00
  Bytes chain;
  for (const Planned& p : plan.entries) {
    try {
      const Bytes entry = MakeEntry(p, compact, olds.size() > 1);
      chain.insert(chain.end(), entry.begin(), entry.end());
    } catch (const producer::EntryError& e) {
      throw ToolError(p.relative + ": " + e.what());
    }
  }
  for (size_t i = 0; i < olds.size(); ++i) CheckChain(chain, olds[i], now, old_roots[i], program);
  WriteWholeFile(*output, chain);
  out << *output << ": " << chain.size() << " bytes; rebuilds " << *new_root << " from "
      << (olds.size() == 1 ? old_roots[0] : std::to_string(olds.size()) + " old folders") << "\n";
  return kExitOk;
}

}  // namespace patchtool
