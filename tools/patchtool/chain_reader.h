#pragma once
// Walking the chain of entries in patch data the way the applier does, but collecting
// everything instead of acting on it: for info, verify, pack and the checks of make.
#include <cstdint>
#include <string>
#include <vector>

#include "core/patch/format.h"

namespace patchtool {

struct ChainEntry {
  patch::EntryHeader header;
  patch::BodySummary body;  // shape None for delete and open-document entries
};

struct Chain {
  uint32_t first_offset = 0;
  bool bare = false;  // the data starts at offset 0 instead of after an applier image
  std::vector<ChainEntry> entries;
  // Empty when the chain is complete (or ends in an open-document entry, after which the
  // applier reads nothing); otherwise the one-line reason why the applier would stop.
  std::string error;
};

// Where the patch data starts: at offset 0 when the file begins with "Diff" (bare patch
// data), else where the applier's search from offset 20000 finds it. Throws ToolError
// when there is none; `name` is the file name for the message.
uint32_t LocatePatchData(patch::Image image, const std::string& name, bool* bare);

// Reads every entry from `first_offset` on. Records are walked without old contents, so
// copies are not checked against any old file here.
Chain ReadChain(patch::Image image, uint32_t first_offset);

const char* KindName(patch::EntryKind kind);
// "FLAG_DELETE | FLAG_NO_BACKUP", "none", unknown bits as hex.
std::string FlagNames(uint8_t flags);
std::string Hex32(uint32_t value);

}  // namespace patchtool
