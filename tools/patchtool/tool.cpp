#include "tools/patchtool/tool.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "tools/patchtool/make_folder.h"
#include "tools/patchtool/make_several.h"

namespace patchtool {

// The tool talks UTF-8 to its user; the sources' ordinary literals are code page 932.
const char8_t kUsageText[] =
    u8"usage: patchtool COMMAND ...\n"
    "\n"
    "  make OLD NEW -o PATCH [--name NAME] [--description TEXT] [--stamp \"YYYY-MM-DD hh:mm:ss\"]\n"
    "      write patch data with one update entry that rebuilds NEW from OLD.\n"
    "      NAME defaults to NEW's file name, the stamp to NEW's last-write time (local time),\n"
    "      the description to \"アップデート \" followed by NAME. Texts are UTF-8 and are stored\n"
    "      in code page 932.\n"
    "      --format 1 (default) writes format 1.04: copy and literal records, read by every\n"
    "      applier. --format 2 writes format 2.00: approximate copies with a mostly-zero\n"
    "      difference and four deflated streams, several times smaller for program files;\n"
    "      it needs the applier of this release. Peak memory for 2.00 is about 9 to 10\n"
    "      times the size of OLD when NEW is of similar size, plus a few MB (measured: 76 MB\n"
    "      for 8.4 MB files, 251 MB for 27.7 MB files, 16 MB for 0.7 MB files); it uses\n"
    "      two cores when the machine has them.\n"
    "      --format 3 also writes format 3.00 where OLD and NEW are both PE programs of\n"
    "      32- or 64-bit x86, and keeps it when it is smaller than 2.00 (the output line says\n"
    "      which): 2.00's streams with the old program's relocated addresses and relative\n"
    "      calls and jumps predicted in NEW, so code that moved costs almost nothing; it\n"
    "      needs the applier of this release. It takes about twice the time of 2.00 and\n"
    "      about 13 to 16 times the size of OLD in memory plus a few MB (measured: 103 MB for\n"
    "      8.4 MB files, 367 MB for 27.7 MB files, 26 MB for 0.7 MB files).\n"
    "      Making 1.04 holds at most about 9 bytes per byte of OLD plus 14 per byte of NEW in\n"
    "      memory, both files included. On a terminal a progress bar shows matching that\n"
    "      takes over a second; --quiet leaves it out.\n"
    "  make --old OLD1 --old OLD2 ... NEW -o PATCH [options as above]\n"
    "      write one update entry per old file into one chain, each skipped when its old file\n"
    "      is not the installed one: whichever old version is installed becomes NEW, any\n"
    "      other file is left as it is. No two old files, nor an old file and NEW, may share\n"
    "      a checksum.\n"
    "  make --old-dir OLD [--old-dir OLD2 ...] --new-dir NEW -o PATCH [--program NAME] [--format 1|2|3]\n"
    "       [--dry-run]\n"
    "      write one chain that brings a whole folder from any of the old releases to the new\n"
    "      one: an update entry per file that changed (per old version; skipped when it is not\n"
    "      the installed one if there are several), a create-if-missing entry for a file an\n"
    "      old release lacks, a delete entry for a file the new release no longer has;\n"
    "      unchanged files are left out, sub-folders named in each entry. Per file the\n"
    "      smallest of 1.04, 2.00 and, for programs, 3.00 (--format 2: no 3.00; 1: 1.04\n"
    "      only). The program NAME (in the top folder) comes first and alone keeps a backup.\n"
    "      The chain is run in memory over each old folder and must leave the new one.\n"
    "      --dry-run prints the plan only.\n"
    "  info FILE [--json]\n"
    "      show every entry of the patch data in FILE: bare patch data (FILE starts with \"Diff\")\n"
    "      or an applier with patch data appended (found from offset 20000 on).\n"
    "  verify FILE OLD\n"
    "      rebuild the update entries in memory, the first from OLD and each later one from the\n"
    "      result of the one before, and check old_crc and new_crc. Writes nothing.\n"
    "  pack APPLIER PATCH -o OUT\n"
    "      append PATCH to the applier image; the image is padded with zero bytes so the patch\n"
    "      data begins at offset 20000 or later.\n"
    "  seal PAYLOAD -o OUT\n"
    "      write the 8 bytes with which the wizard checks the payload it carries (the packed\n"
    "      applier) before it uses it: a payload damaged by a single byte is refused.\n"
    "  apply FILE [--dir DIR] [--windows-dir DIR] [--verbose]\n"
    "      run the applier's run natively, as if FILE lay in DIR (default: FILE's folder).\n"
    "      Every message box is printed as \"caption: text\". Exit 0 only when the run ends\n"
    "      with \"正常終了\".\n"
    "  --help\n"
    "      show this text.\n";

const char* Usage() { return reinterpret_cast<const char*>(kUsageText); }

std::string StampText(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
  return text;
}

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << Usage();
    return kExitUsage;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  try {
    const bool help_asked = std::find(args.begin(), args.end(), "--help") != args.end();
    if (help_asked || command == "-h" || command == "help") {
      out << Usage();
      return kExitOk;
    }
    if (command == "make") {
      if (NamesOldFolders(rest)) return RunMakeFolder(rest, out);
      return NamesSeveralOldFiles(rest) ? RunMakeSeveral(rest, out) : RunMake(rest, out);
    }
    if (command == "info") return RunInfo(rest, out);
    if (command == "verify") return RunVerify(rest, out);
    if (command == "pack") return RunPack(rest, out);
    if (command == "seal") return RunSeal(rest, out);
    if (command == "apply") return RunApply(rest, out);
    throw UsageError("unknown command \"" + command + "\" (see patchtool --help)");
  } catch (const UsageError& e) {
    out.flush();
    err << "patchtool: " << e.what() << "\n";
    return kExitUsage;
  } catch (const ToolError& e) {
    out.flush();
    err << "patchtool: error: " << e.what() << "\n";
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    out.flush();
    err << "patchtool: error: out of memory\n";
    return kExitFailure;
  }
}

}  // namespace patchtool
