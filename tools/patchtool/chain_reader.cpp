#include "tools/patchtool/chain_reader.h"

#include <cstdio>
#include <cstring>

#include "tools/patchtool/tool.h"

namespace patchtool {
namespace {

std::string At(uint64_t offset) { return "offset " + std::to_string(offset); }

}  // namespace

uint32_t LocatePatchData(patch::Image image, const std::string& name, bool* bare) {
  if (image.size() >= 4 && std::memcmp(image.data(), "\x44\x69\x66\x66", 4) == 0) {
    *bare = true;
    return 0;
  }
  *bare = false;
  uint32_t offset = 0;
  if (!patch::FindPatchData(image, &offset)) {
    throw ToolError("no patch data in " + name + ": it does not start with \"Diff\" and holds no \"Diff\" at offset " +
                    std::to_string(patch::SEARCH_START) + " or later");
  }
  return offset;
}

Chain ReadChain(patch::Image image, uint32_t first_offset) {
  Chain chain;
  chain.first_offset = first_offset;
  uint64_t offset = first_offset;
  while (true) {
    ChainEntry entry;
    switch (patch::ParseEntryHeader(image, static_cast<uint32_t>(offset), &entry.header)) {
      case patch::HeaderOutcome::Ok:
        break;
      case patch::HeaderOutcome::NotAnEntry:
        chain.error = "no \"Diff\" at " + At(offset);
        return chain;
      case patch::HeaderOutcome::VersionTooHigh:
        chain.error = "entry at " + At(offset) + ": format_version " +
                      std::to_string(image[offset + 4] * 100u + image[offset + 5]) + " is not one this applier reads (up to " +
                      std::to_string(patch::MAX_FORMAT_VERSION) + ", " + std::to_string(patch::kStreamsFormatVersion) +
                      " or " + std::to_string(patch::kProgramFormatVersion) + ")";
        return chain;
      case patch::HeaderOutcome::Truncated:
        chain.error = "entry at " + At(offset) + ": the header runs past the end of the data";
        return chain;
    }
    const patch::BodyOutcome walked = patch::WalkBody(image, entry.header, nullptr, &entry.body);
    const uint32_t failed = entry.body.failed_record;
    chain.entries.push_back(entry);
    switch (walked) {
      case patch::BodyOutcome::Ok:
        break;
      case patch::BodyOutcome::StreamBroken:
        chain.error = "entry at " + At(offset) + ": the record stream reaches the end of the data before new_size (" +
                      std::to_string(entry.header.new_size) + " bytes) is produced";
        return chain;
      case patch::BodyOutcome::RecordPastEnd:
        chain.error = "entry at " + At(offset) + ": the record at " + At(failed) + " runs past the end of the data";
        return chain;
      case patch::BodyOutcome::CopyOutsideOld:
        chain.error = "entry at " + At(offset) + ": the copy record at " + At(failed) + " reaches outside the old file";
        return chain;
      case patch::BodyOutcome::StreamsBroken:
        chain.error = "entry at " + At(offset) + ": the head of its compressed streams is malformed or runs past the "
                      "end of the data";
        return chain;
      case patch::BodyOutcome::CopyWithoutOld:
        chain.error = "entry at " + At(offset) + ": the create-if-missing entry has a copy record at " + At(failed) +
                      " but no old file";
        return chain;
    }
    // The applier ends its run with an open-document entry; nothing after it is read.
    if (entry.header.kind == patch::EntryKind::OpenDocument) return chain;
    switch (patch::ChainStep(image, entry.body.end)) {
      case patch::ChainOutcome::Complete:
        return chain;
      case patch::ChainOutcome::NextEntry:
        offset = entry.body.end;
        break;
      case patch::ChainOutcome::Broken:
        chain.error = "after the entry at " + At(offset) + ": neither the end of the data nor \"Diff\" at " +
                      At(entry.body.end);
        return chain;
    }
  }
}

const char* KindName(patch::EntryKind kind) {
  switch (kind) {
    case patch::EntryKind::Update: return "update";
    case patch::EntryKind::CreateIfMissing: return "create-if-missing";
    case patch::EntryKind::Delete: return "delete";
    case patch::EntryKind::OpenDocument: return "open-document";
  }
  return "unknown";
}

std::string FlagNames(uint8_t flags) {
  static const struct {
    uint8_t bit;
    const char* name;
  } kNames[] = {
      {patch::FLAG_OPEN_DOCUMENT, "FLAG_OPEN_DOCUMENT"},
      {patch::FLAG_DELETE, "FLAG_DELETE"},
      {patch::FLAG_CREATE_IF_MISSING, "FLAG_CREATE_IF_MISSING"},
      {patch::FLAG_NO_BACKUP, "FLAG_NO_BACKUP"},
      {patch::FLAG_SKIP_ON_MISMATCH, "FLAG_SKIP_ON_MISMATCH"},
  };
  std::string out;
  uint8_t rest = flags;
  for (const auto& n : kNames) {
    if (flags & n.bit) {
      if (!out.empty()) out += " | ";
      out += n.name;
      rest &= static_cast<uint8_t>(~n.bit);
    }
  }
  if (rest != 0) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", rest);
    if (!out.empty()) out += " | ";
    out += hex;
  }
  return out.empty() ? "none" : out;
}

std::string Hex32(uint32_t value) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", value);
  return hex;
}

}  // namespace patchtool
