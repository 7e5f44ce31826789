// patchtool make --old A --old B ... NEW: one update entry per old version in one chain,
// each flagged skip-on-mismatch. The applier passes over every entry whose old file is not
// the installed one, so whichever listed version is installed is rebuilt into NEW, and a
// file that is none of them is left as it is (no backup appears, which the wizard reports
// as a failure).
//
// Each entry is made by the one-entry command, so every option of it applies here too.
// After the first matching entry has run, the later entries see NEW as their old file: no
// two old files, and no old file and NEW, may share a checksum, or a second entry would
// run over the result of the first.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "core/patch/format.h"
#include "tools/patchtool/chain_reader.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/make_several.h"
#include "tools/patchtool/tool.h"
#include "tools/patchtool/verify.h"

namespace patchtool {
namespace {

constexpr size_t kFlagsOffset = 6;  // "Diff", major, minor, then the flags byte
constexpr char kUsage[] = "patchtool make --old OLD1 [--old OLD2 ...] NEW -o PATCH [options of make]";

struct SplitArguments {
  std::vector<std::string> olds;
  std::vector<std::string> rest;  // everything else, in order
  size_t output_index = 0;        // index into rest of the output path's value
  bool output_inline = false;     // "--output=PATH"
};

SplitArguments Split(const std::vector<std::string>& args) {
  SplitArguments split;
  bool have_output = false;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done) {
      split.rest.push_back(arg);
      continue;
    }
    if (arg == "--") options_done = true;
    if (arg == "--old") {
      if (i + 1 >= args.size()) throw UsageError("option --old needs a value");
      split.olds.push_back(args[++i]);
      continue;
    }
    if (arg.rfind("--old=", 0) == 0) {
      split.olds.push_back(arg.substr(6));
      continue;
    }
    split.rest.push_back(arg);
    if ((arg == "-o" || arg == "--output") && i + 1 < args.size() && !have_output) {
      split.rest.push_back(args[++i]);
      split.output_index = split.rest.size() - 1;
      have_output = true;
    } else if (arg.rfind("--output=", 0) == 0 && !have_output) {
      split.output_index = split.rest.size() - 1;
      split.output_inline = true;
      have_output = true;
    }
  }
  if (!have_output) throw UsageError(std::string("missing -o PATCH; usage: ") + kUsage);
  return split;
}

// The one-entry command's output for one old file, removed whatever happens.
class PartFile {
 public:
  explicit PartFile(std::string path) : path_(std::move(path)) {}
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  ~PartFile() { RemoveQuietly(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

bool NamesSeveralOldFiles(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--old" || arg.rfind("--old=", 0) == 0) return true;
  }
  return false;
}

int RunMakeSeveral(const std::vector<std::string>& args, std::ostream& out) {
  SplitArguments split = Split(args);
  const std::string output = split.output_inline ? split.rest[split.output_index].substr(9) : split.rest[split.output_index];
  if (output.empty()) throw UsageError("the output path is empty");

  struct Made {
    std::string old_path;
    Bytes entry;
    patch::EntryHeader header;
  };
  std::vector<Made> made;
  for (size_t i = 0; i < split.olds.size(); ++i) {
    const PartFile part(output + ".part" + std::to_string(i + 1));
    std::vector<std::string> one{split.olds[i]};
    for (size_t k = 0; k < split.rest.size(); ++k) {
      if (k != split.output_index) one.push_back(split.rest[k]);
      else one.push_back(split.output_inline ? "--output=" + part.path() : part.path());
    }
    std::ostringstream line;
    try {
      RunMake(one, line);
    } catch (const UsageError& e) {
      throw UsageError(std::string(e.what()) + "; with several old files: " + kUsage);
    }
    // "PATH.partN: ..." becomes "entry N: ...".
    out << "entry " << (i + 1) << line.str().substr(std::min(line.str().size(), part.path().size()));
    Bytes entry = ReadWholeFile(part.path(), "the entry just made", true);
    const Chain chain = ReadChain(entry, 0);
    if (!chain.error.empty() || chain.entries.size() != 1 || chain.entries[0].header.kind != patch::EntryKind::Update) {
      throw ToolError("internal fault: the entry made for " + split.olds[i] + " is not one update entry");
    }
    made.push_back({split.olds[i], std::move(entry), chain.entries[0].header});
  }

  // Refused before anything is written: checksums that would let one entry run over the
  // result of another.
  for (size_t i = 0; i < made.size(); ++i) {
    if (made[i].header.old_crc == made[i].header.new_crc) {
      throw ToolError("the old file " + made[i].old_path + " has the same checksum as NEW (" +
                      Hex32(made[i].header.old_crc) + "): an updated file would be taken for it");
    }
    for (size_t k = 0; k < i; ++k) {
      if (made[k].header.old_crc == made[i].header.old_crc) {
        throw ToolError("the old files " + made[k].old_path + " and " + made[i].old_path + " have the same checksum (" +
                        Hex32(made[i].header.old_crc) + "): the applier cannot tell them apart");
      }
    }
  }

  Bytes chain_bytes;
  for (Made& m : made) {
    m.entry[kFlagsOffset] |= patch::FLAG_SKIP_ON_MISMATCH;
    chain_bytes.insert(chain_bytes.end(), m.entry.begin(), m.entry.end());
  }

  // Each old file must come out as NEW through exactly its own entry.
  const Chain chain = ReadChain(chain_bytes, 0);
  for (const Made& m : made) {
    const Bytes old_data = ReadWholeFile(m.old_path, "OLD", true);
    const VerifyResult check = VerifyChain(chain_bytes, chain, old_data);
    if (!check.ok || check.applied_entries != 1) {
      throw ToolError("internal fault: the chain does not rebuild NEW from " + m.old_path + " (" +
                      (check.lines.empty() ? std::string("no result") : check.lines.back()) + "); nothing written");
    }
  }

  WriteWholeFile(output, chain_bytes);
  out << output << ": " << chain_bytes.size() << " bytes; " << made.size()
      << " update entries, each skipped when its old file is not the installed one\n";
  return kExitOk;
}

}  // namespace patchtool
