// patchtool info: every entry of the patch data, as text or JSON.
#include <cstdio>
#include <string>
#include <string_view>

#include "core/patch/format2.h"
#include "core/patch/pe_image.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/chain_reader.h"
#include "tools/patchtool/cp932_convert.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/tool.h"

namespace patchtool {
namespace {

std::string Text(const patch::TextRef& ref) { return Cp932ToUtf8ForDisplay(std::string_view(ref.data, ref.length)); }

std::string StampText(const patch::EntryHeader& h) {
  return patchtool::StampText(h.stamp_year, h.stamp_month, h.stamp_day, h.stamp_hour, h.stamp_minute, h.stamp_second);
}

std::string Hex8(uint8_t value) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", value);
  return hex;
}

const char* ShapeName(patch::BodyShape shape) {
  switch (shape) {
    case patch::BodyShape::None: return "none";
    case patch::BodyShape::TouchMarker: return "touch-marker";
    case patch::BodyShape::Records: return "records";
    case patch::BodyShape::Streams: return "streams";
  }
  return "unknown";
}

const char* const kStreamNames[patch::kStreamCount] = {"control", "gaps", "changes", "new bytes"};
const char* const kStreamKeys[patch::kStreamCount] = {"control", "gaps", "changes", "new_bytes"};

const char* FormatName(const patch::EntryHeader& h) {
  switch (h.format_version) {
    case patch::kStreamsFormatVersion: return "2.00 (compressed streams)";
    case patch::kProgramFormatVersion: return "3.00 (compressed streams, program-aware)";
    default: return "1.04 (record stream)";
  }
}

// What the leading byte of a streams body says, in words.
std::string LeadByteText(const patch::EntryHeader& h, uint8_t lead) {
  if (h.format_version != patch::kProgramFormatVersion) {
    return lead == patch::kTransformX86Branches ? ", x86 branch transform" : "";
  }
  std::string text = ", models";
  if (lead & patch::kModelAbsolute) text += " absolute references,";
  if (lead & patch::kModelRelative) text += " relative references,";
  if (lead & patch::kModelTable) text += (lead & patch::kModelTablePadded) ? " a padded relocation table," : " a relocation table,";
  if (lead & patch::kModelNewBytesX86) text += " new bytes' branches,";
  text.pop_back();
  return text;
}

std::string Json(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\u%04X", u);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string FolderMeaning(const patch::EntryHeader& h) {
  if (!h.has_target_folder) return "absent: the applier's folder";
  if (h.target_folder.length == 0) return "\"\": the applier's folder";
  std::string shown = "\"";
  shown += Text(h.target_folder);
  shown += '"';
  if (h.target_folder.data[0] == '*') return shown + ": the Windows folder";
  return shown + ": a folder below the applier's folder";
}

// The files the chain touches, one line each, grouped by what happens to them.
void PrintFiles(std::ostream& out, const Chain& chain) {
  struct Group {
    patch::EntryKind kind;
    const char* word;
  } const groups[] = {{patch::EntryKind::Update, "updated"},
                      {patch::EntryKind::CreateIfMissing, "created if missing"},
                      {patch::EntryKind::Delete, "deleted"}};
  out << "files:\n";
  for (const Group& g : groups) {
    size_t count = 0;
    uint64_t bytes = 0;
    for (const auto& e : chain.entries) {
      if (e.header.kind != g.kind) continue;
      ++count;
      bytes += e.body.end - e.header.offset;
    }
    if (count == 0) continue;
    out << "  " << g.word << ": " << count << (count == 1 ? " file" : " files") << ", " << bytes << " bytes of entries\n";
    for (const auto& e : chain.entries) {
      if (e.header.kind != g.kind) continue;
      const patch::EntryHeader& h = e.header;
      std::string path = Text(h.target_name);
      if (h.target_folder.length > 0) path = Text(h.target_folder) + "\\" + path;
      out << "    " << path;
      if (g.kind != patch::EntryKind::Delete) out << "  " << h.new_size << " bytes";
      out << "  (entry " << (e.body.end - h.offset) << " bytes)\n";
    }
  }
}

void PrintText(std::ostream& out, const std::string& file, const Chain& chain, uint64_t file_size) {
  out << file << ": " << (chain.bare ? "bare patch data" : "patch data appended to an applier image") << " at offset "
      << chain.first_offset << ", " << (file_size - chain.first_offset) << " bytes, " << chain.entries.size()
      << (chain.entries.size() == 1 ? " entry" : " entries") << "\n";
  for (size_t i = 0; i < chain.entries.size(); ++i) {
    const patch::EntryHeader& h = chain.entries[i].header;
    const patch::BodySummary& b = chain.entries[i].body;
    out << "entry " << (i + 1) << " at offset " << h.offset << "\n";
    out << "  format_version  " << h.format_version << " (" << FormatName(h) << ")\n";
    out << "  flags           " << Hex8(h.flags) << " (" << FlagNames(h.flags) << ")\n";
    out << "  kind            " << KindName(h.kind) << "\n";
    out << "  old_crc         " << Hex32(h.old_crc) << "\n";
    out << "  new_crc         " << Hex32(h.new_crc) << "\n";
    out << "  old_size        " << h.old_size << "\n";
    out << "  new_size        " << h.new_size << "\n";
    out << "  stamp           " << StampText(h) << " (local time)\n";
    out << "  target_name     " << Text(h.target_name) << "\n";
    out << "  description     " << Text(h.description) << "\n";
    out << "  target_folder   " << FolderMeaning(h) << "\n";
    switch (b.shape) {
      case patch::BodyShape::None:
        out << "  body            none, next byte at offset " << b.end << "\n";
        break;
      case patch::BodyShape::TouchMarker:
        out << "  body            touch marker (6 bytes): only the time stamp changes\n";
        break;
      case patch::BodyShape::Records:
        out << "  body            " << (b.copy_records + b.literal_records) << " records (" << b.copy_records
            << " copy, " << b.literal_records << " literal), " << b.literal_bytes << " literal bytes, total length "
            << b.total_length << ", " << (b.end - h.body_offset) << " bytes from offset " << h.body_offset << "\n";
        break;
      case patch::BodyShape::Streams:
        out << "  body            compressed streams, " << (b.end - h.body_offset) << " bytes from offset "
            << h.body_offset << LeadByteText(h, b.transform) << "\n";
        for (int s = 0; s < patch::kStreamCount; ++s) {
          char line[96];
          std::snprintf(line, sizeof line, "    %-18s %10u bytes, packed %10u\n", kStreamNames[s], b.raw_sizes[s],
                        b.packed_sizes[s]);
          out << line;
        }
        break;
    }
  }
  if (chain.error.empty()) {
    const bool stopped = !chain.entries.empty() && chain.entries.back().header.kind == patch::EntryKind::OpenDocument;
    out << (stopped ? "chain: ends with an open-document entry\n" : "chain: complete\n");
  }
}

void PrintJson(std::ostream& out, const std::string& file, const Chain& chain, uint64_t file_size) {
  out << "{\n  \"file\": " << Json(file) << ",\n  \"bare\": " << (chain.bare ? "true" : "false")
      << ",\n  \"patch_offset\": " << chain.first_offset << ",\n  \"patch_size\": " << (file_size - chain.first_offset)
      << ",\n  \"entries\": [";
  for (size_t i = 0; i < chain.entries.size(); ++i) {
    const patch::EntryHeader& h = chain.entries[i].header;
    const patch::BodySummary& b = chain.entries[i].body;
    out << (i ? "," : "") << "\n    {\n";
    out << "      \"offset\": " << h.offset << ",\n";
    out << "      \"format_version\": " << h.format_version << ",\n";
    out << "      \"flags\": " << unsigned{h.flags} << ",\n";
    out << "      \"flag_names\": [";
    if (h.flags != 0) {
      std::string names = FlagNames(h.flags);
      size_t start = 0;
      bool first = true;
      while (start <= names.size()) {
        size_t bar = names.find(" | ", start);
        if (bar == std::string::npos) bar = names.size();
        out << (first ? "" : ", ") << Json(names.substr(start, bar - start));
        first = false;
        start = bar + 3;
      }
    }
    out << "],\n";
    out << "      \"kind\": " << Json(KindName(h.kind)) << ",\n";
    out << "      \"old_crc\": " << Json(Hex32(h.old_crc)) << ",\n";
    out << "      \"new_crc\": " << Json(Hex32(h.new_crc)) << ",\n";
    out << "      \"old_size\": " << h.old_size << ",\n";
    out << "      \"new_size\": " << h.new_size << ",\n";
    out << "      \"stamp\": " << Json(StampText(h)) << ",\n";
    out << "      \"target_name\": " << Json(Text(h.target_name)) << ",\n";
    out << "      \"description\": " << Json(Text(h.description)) << ",\n";
    out << "      \"target_folder\": " << (h.has_target_folder ? Json(Text(h.target_folder)) : "null") << ",\n";
    out << "      \"body\": {\"shape\": " << Json(ShapeName(b.shape)) << ", \"offset\": " << h.body_offset
        << ", \"end\": " << b.end << ", \"records\": " << (b.copy_records + b.literal_records)
        << ", \"copy_records\": " << b.copy_records << ", \"literal_records\": " << b.literal_records
        << ", \"literal_bytes\": " << b.literal_bytes << ", \"total_length\": " << b.total_length;
    if (b.shape == patch::BodyShape::Streams) {
      out << (h.format_version == patch::kProgramFormatVersion ? ", \"model\": " : ", \"transform\": ")
          << unsigned{b.transform} << ", \"streams\": {";
      for (int s = 0; s < patch::kStreamCount; ++s) {
        out << (s ? ", " : "") << Json(kStreamKeys[s]) << ": {\"raw\": " << b.raw_sizes[s]
            << ", \"packed\": " << b.packed_sizes[s] << "}";
      }
      out << "}";
    }
    out << "}\n";
    out << "    }";
  }
  out << (chain.entries.empty() ? "" : "\n  ") << "],\n  \"chain\": "
      << Json(!chain.entries.empty() && chain.entries.back().header.kind == patch::EntryKind::OpenDocument
                  ? "ends-with-open-document"
                  : "complete")
      << "\n}\n";
}

}  // namespace

int RunInfo(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{{}, {"--json"}});
  parsed.ExpectPositional(1, "patchtool info FILE [--json]");
  const std::string& file = parsed.positional()[0];
  const Bytes image = ReadWholeFile(file, "FILE", true);
  bool bare = false;
  const uint32_t first = LocatePatchData(image, file, &bare);
  Chain chain = ReadChain(image, first);
  chain.bare = bare;
  if (!chain.error.empty()) {
    // Text output still shows the entries read before the fault; JSON is all or nothing.
    if (!parsed.has("--json")) PrintText(out, file, chain, image.size());
    throw ToolError("malformed patch data in " + file + ": " + chain.error);
  }
  if (parsed.has("--json")) {
    PrintJson(out, file, chain, image.size());
  } else {
    PrintText(out, file, chain, image.size());
    PrintFiles(out, chain);
  }
  return kExitOk;
}

}  // namespace patchtool
