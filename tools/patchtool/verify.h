#pragma once
// Rebuilding the entries of patch data in memory with the applier's own engine, to prove
// that the data turns OLD into the file its checksums promise.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/patchtool/chain_reader.h"

namespace patchtool {

struct VerifyResult {
  bool ok = false;
  uint32_t update_entries = 0;
  uint32_t applied_entries = 0;  // update entries whose old_crc matched (the others were skipped)
  std::vector<std::string> lines;  // one per entry, then the reason of the first failure
  std::vector<uint8_t> result;     // the contents after the last update entry
};

// Update entries are rebuilt in chain order, the first from `old_data` and each later one
// from the result of the one before; each must match its old_crc and new_crc.
// Create-if-missing entries are rebuilt from their literals and checked against new_crc;
// delete, touch-marker and open-document entries change no contents and are only listed.
// An update entry flagged skip-on-mismatch whose old_crc does not match is passed over, as
// the applier does. Fails when the chain itself is broken or no update entry applies.
VerifyResult VerifyChain(patch::Image image, const Chain& chain, std::span<const uint8_t> old_data);

}  // namespace patchtool
