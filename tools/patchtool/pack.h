#pragma once
#include <cstdint>

#include "tools/patchtool/files.h"

namespace patchtool {

// The applier image, zero-padded to SEARCH_START when shorter, followed by the patch data.
// Throws ToolError when the patch data is not a complete chain or when the image's own
// bytes from SEARCH_START on hold "Diff". `patch_offset` receives where the data begins.
Bytes PackApplier(const Bytes& applier, const Bytes& patch_data, uint32_t* patch_offset);

}  // namespace patchtool
