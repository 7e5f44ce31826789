// patchtool make: one update entry that rebuilds NEW from OLD.
#include <cstdio>

#include "core/patch/applier_run.h"
#include "core/patch/format2.h"
#include "core/producer/entry_writer.h"
#include "core/producer/streams_entry.h"
#include "core/text/cp932.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/chain_reader.h"
#include "tools/patchtool/cp932_convert.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/progress_bar.h"
#include "tools/patchtool/tool.h"
#include "tools/patchtool/verify.h"

namespace patchtool {
namespace {

producer::Stamp ParseStamp(const std::string& text) {
  int year, month, day, hour, minute, second, used = -1;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second, &used) != 6 ||
      used != static_cast<int>(text.size()) || text.size() != 19) {
    throw UsageError("--stamp \"" + text + "\" is not of the form \"YYYY-MM-DD hh:mm:ss\"");
  }
  producer::Stamp stamp;
  stamp.year = static_cast<uint16_t>(year);
  stamp.month = static_cast<uint8_t>(month);
  stamp.day = static_cast<uint8_t>(day);
  stamp.hour = static_cast<uint8_t>(hour);
  stamp.minute = static_cast<uint8_t>(minute);
  stamp.second = static_cast<uint8_t>(second);
  if (!producer::IsValidStamp(stamp)) throw UsageError("--stamp \"" + text + "\" is not a valid date and time");
  return stamp;
}

producer::Stamp LastWriteStamp(const std::string& path) {
  const LocalTime local = LastWriteTime(path);
  producer::Stamp stamp;
  stamp.year = static_cast<uint16_t>(local.year);
  stamp.month = static_cast<uint8_t>(local.month);
  stamp.day = static_cast<uint8_t>(local.day);
  stamp.hour = static_cast<uint8_t>(local.hour);
  stamp.minute = static_cast<uint8_t>(local.minute);
  // A leap second cannot be recorded; the applier's conversion refuses 60 (LastWriteTime
  // gives 59 for it).
  stamp.second = static_cast<uint8_t>(local.second);
  if (!producer::IsValidStamp(stamp)) throw ToolError("the last-write time of " + path + " cannot be recorded; give --stamp");
  return stamp;
}

std::string ToCp932(const std::string& utf8, const char* what) {
  if (utf8.find('\0') != std::string::npos) throw ToolError(std::string(what) + " contains a zero byte");
  auto converted = Utf8ToCp932(utf8);
  if (!converted) throw ToolError(std::string(what) + " \"" + utf8 + "\" has no code page 932 form");
  return *converted;
}

}  // namespace

int RunMake(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{{"-o", "--output", "--name", "--description", "--stamp", "--format"}, {"--quiet"}});
  const char* usage =
      "patchtool make OLD NEW -o PATCH [--name NAME] [--description TEXT] [--stamp \"YYYY-MM-DD hh:mm:ss\"] "
      "[--format 1|2|3] [--quiet]";
  parsed.ExpectPositional(2, usage);
  const auto output = parsed.value("-o") ? parsed.value("-o") : parsed.value("--output");
  if (!output) throw UsageError(std::string("missing -o PATCH; usage: ") + usage);
  if (parsed.value("-o") && parsed.value("--output")) throw UsageError("give -o or --output, not both");
  const std::string format = parsed.value("--format").value_or("1");
  if (format != "1" && format != "1.04" && format != "2" && format != "2.00" && format != "3" && format != "3.00") {
    throw UsageError("--format " + format +
                     " is not a format; give 1 (1.04, the default), 2 (2.00) or 3 (3.00 where it is smaller, else 2.00)");
  }
  const bool streams = format[0] != '1';
  const std::string& old_path = parsed.positional()[0];
  const std::string& new_path = parsed.positional()[1];

  // Everything that can be refused is checked before the files are read.
  const std::string name_utf8 = parsed.value("--name").value_or(BaseName(new_path));
  if (name_utf8.empty()) throw ToolError("the target name is empty");
  if (name_utf8.find_first_of("\\/") != std::string::npos) {
    throw ToolError("the target name \"" + name_utf8 + "\" holds a folder separator; it must be a file name only");
  }
  producer::UpdateEntryText text;
  text.target_name = ToCp932(name_utf8, "the target name");
  // The applier would take such a target for its own temporary file or backup and refuse it.
  char backup[patch::kPathCapacity], temp[patch::kPathCapacity];
  if (patch::MakeBackupPath(text.target_name.c_str(), backup, sizeof backup) &&
      patch::MakeTempPath(text.target_name.c_str(), temp, sizeof temp) &&
      (text::SameFileName(backup, text.target_name.c_str()) || text::SameFileName(temp, text.target_name.c_str()))) {
    throw ToolError("the target name \"" + name_utf8 + "\" is the applier's own temporary or backup name");
  }
  if (const auto description = parsed.value("--description")) {
    text.description = ToCp932(*description, "the description");
  } else {
    // Ordinary literals are code page 932 already.
    text.description = "アップデート " + text.target_name;
  }
  const producer::Stamp stamp =
      parsed.value("--stamp") ? ParseStamp(*parsed.value("--stamp")) : LastWriteStamp(new_path);

  const Bytes old_data = ReadWholeFile(old_path, "OLD", true);
  const Bytes new_data = ReadWholeFile(new_path, "NEW", true);

  const double started = MonotonicSeconds();
  producer::EntryStats stats;
  producer::StreamsStats streams_stats;
  Bytes entry;
  try {
    if (streams) {
      producer::StreamsOptions options;
      options.program_body = format[0] == '3';
      entry = producer::MakeStreamsEntry(old_data, new_data, text, stamp, options, &streams_stats);
    } else {
      ProgressBar bar("matching", ShowsProgress(parsed.has("--quiet")));
      producer::SuffixMatcherOptions options;
      options.progress = bar.Reporter();
      const auto matcher = producer::MakeSuffixMatcher(options);
      entry = producer::MakeUpdateEntry(*matcher, old_data, new_data, text, stamp, &stats);
    }
  } catch (const producer::EntryError& e) {
    throw ToolError(e.what());
  }
  const double seconds = MonotonicSeconds() - started;

  // The applier's own reader and engine must accept what was written, byte for byte.
  const Chain chain = ReadChain(entry, 0);
  const VerifyResult check = VerifyChain(entry, chain, old_data);
  if (!check.ok || check.result != new_data) {
    throw ToolError("internal fault: the written entry does not rebuild NEW (" +
                    (check.lines.empty() ? std::string("no result") : check.lines.back()) + "); nothing written");
  }

  WriteWholeFile(*output, entry);
  char timing[32];
  std::snprintf(timing, sizeof timing, "%.3f", seconds);
  const bool program = streams_stats.format_version == patch::kProgramFormatVersion;
  out << *output << ": " << entry.size() << " bytes, format " << (program ? "3.00" : streams ? "2.00" : "1.04");
  if (format[0] == '3') {
    out << (program ? " (smaller than 2.00: " + std::to_string(streams_stats.smallest_2_00) + " bytes)"
                    : streams_stats.smallest_2_00 > 0 ? " (3.00 was not smaller)"
                                                      : " (3.00 needs two PE programs of x86)");
  }
  out << "; " << new_path
      << " (" << new_data.size() << " bytes) from " << old_path << " (" << old_data.size() << " bytes); ";
  if (streams) {
    out << streams_stats.blocks << " blocks, " << streams_stats.raw_sizes[patch::kStreamNew] << " new bytes";
    if (program) {
      out << ", " << streams_stats.references << " references of OLD modelled";
    } else if (streams_stats.transform == patch::kTransformX86Branches) {
      out << ", x86 branch transform";
    }
    out << "; stamp ";
  } else {
    out << (stats.copy_records + stats.literal_records) << " records (" << stats.copy_records << " copy, "
        << stats.literal_records << " literal), " << stats.literal_bytes << " literal bytes; stamp ";
  }
  out
      << StampText(stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second) << "; matched in "
      << timing << " s\n";
  return kExitOk;
}

}  // namespace patchtool
