#include "tools/patchtool/verify.h"

#include "core/patch/checksum.h"
#include "core/patch/memory_platform.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/tool.h"

namespace patchtool {
namespace {

std::string EntryLabel(size_t index, const ChainEntry& entry) {
  return "entry " + std::to_string(index + 1) + " at offset " + std::to_string(entry.header.offset) + " (" +
         KindName(entry.header.kind) + ")";
}

}  // namespace

VerifyResult VerifyChain(patch::Image image, const Chain& chain, std::span<const uint8_t> old_data) {
  VerifyResult result;
  result.result.assign(old_data.begin(), old_data.end());
  if (!chain.error.empty()) {
    result.lines.push_back("the chain is broken: " + chain.error);
    return result;
  }
  for (size_t i = 0; i < chain.entries.size(); ++i) {
    const ChainEntry& entry = chain.entries[i];
    const patch::EntryHeader& h = entry.header;
    const std::string label = EntryLabel(i, entry);
    if (h.kind == patch::EntryKind::Delete || h.kind == patch::EntryKind::OpenDocument) {
      result.lines.push_back(label + ": no contents to check");
      continue;
    }
    if (h.kind == patch::EntryKind::Update) {
      ++result.update_entries;
      const uint32_t found = patch::PatchChecksum(result.result.data(), result.result.size());
      if (found != h.old_crc && h.skip_on_mismatch()) {
        // The applier passes over such an entry and goes on with the same file.
        result.lines.push_back(label + ": old_crc " + Hex32(h.old_crc) + " does not match; skipped");
        continue;
      }
      if (found != h.old_crc) {
        result.lines.push_back(label + ": the old file does not match old_crc (expected " + Hex32(h.old_crc) +
                               ", found " + Hex32(found) + ")");
        return result;
      }
      ++result.applied_entries;
    }
    if (entry.body.shape == patch::BodyShape::TouchMarker) {
      result.lines.push_back(label + ": old_crc " + Hex32(h.old_crc) + " matches; touch marker, contents unchanged");
      continue;
    }
    std::vector<uint8_t> rebuilt;
    std::string why;
    const std::span<const uint8_t> old_contents =
        h.kind == patch::EntryKind::Update ? std::span<const uint8_t>(result.result) : std::span<const uint8_t>();
    if (!patch::RebuildEntryInMemory(image, h, old_contents, &rebuilt, &why)) {
      result.lines.push_back(label + ": " + why);
      return result;
    }
    const uint32_t built = patch::PatchChecksum(rebuilt.data(), rebuilt.size());
    if (built != h.new_crc) {
      result.lines.push_back(label + ": the rebuilt file does not match new_crc (expected " + Hex32(h.new_crc) +
                             ", built " + Hex32(built) + ")");
      return result;
    }
    std::string line = label + ": old_crc and new_crc match, " + std::to_string(rebuilt.size()) + " bytes rebuilt";
    if (h.kind == patch::EntryKind::CreateIfMissing) line = label + ": new_crc matches, " + std::to_string(rebuilt.size()) + " bytes built";
    if (rebuilt.size() != h.new_size) {
      line += " (new_size says " + std::to_string(h.new_size) + ")";
    }
    result.lines.push_back(line);
    if (h.kind == patch::EntryKind::Update) result.result = std::move(rebuilt);
  }
  if (result.update_entries == 0) {
    result.lines.push_back("the patch data holds no update entry to check against the old file");
    return result;
  }
  if (result.applied_entries == 0) {
    result.lines.push_back("no update entry matches the old file (every one is skipped on a mismatch)");
    return result;
  }
  result.ok = true;
  return result;
}

int RunVerify(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{});
  parsed.ExpectPositional(2, "patchtool verify FILE OLD");
  const std::string& file = parsed.positional()[0];
  const std::string& old_path = parsed.positional()[1];
  const Bytes image = ReadWholeFile(file, "FILE", true);
  const Bytes old_data = ReadWholeFile(old_path, "OLD", true);
  bool bare = false;
  const uint32_t first = LocatePatchData(image, file, &bare);
  const Chain chain = ReadChain(image, first);
  const VerifyResult result = VerifyChain(image, chain, old_data);
  // On a failure the last line is the reason, and becomes the error line.
  const size_t shown = result.ok || result.lines.empty() ? result.lines.size() : result.lines.size() - 1;
  for (size_t i = 0; i < shown; ++i) out << result.lines[i] << "\n";
  if (!result.ok) throw ToolError(result.lines.empty() ? "verification failed" : result.lines.back());
  if (result.applied_entries != result.update_entries) {
    out << "verify: " << result.applied_entries << " of " << result.update_entries
        << " update entries apply to OLD and match; the others are skipped\n";
    return kExitOk;
  }
  out << "verify: all " << result.update_entries << " update entr" << (result.update_entries == 1 ? "y" : "ies")
      << " match\n";
  return kExitOk;
}

}  // namespace patchtool
