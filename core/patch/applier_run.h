#pragma once
// The applier's whole run over its platform: read the own file, find the patch data,
// finish or undo an update of it that was cut off, read the first entry, load its target,
// then prepare every entry of the chain with the progress dialog, commit them as one
// transaction and report the end in one final box. The Win32 program calls RunApplier
// and then posts its quit message and drains its loop.
#include <cstddef>
#include <cstdint>

#include "core/patch/applier_platform.h"
#include "core/patch/format.h"
#include "core/patch/paths.h"

namespace patch {

// Steps 1 to 7 of the applier's start-up (everything up to posting the quit message).
void RunApplier(ApplierPlatform& platform);

}  // namespace patch
