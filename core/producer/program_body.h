#pragma once
// The producer's half of the program-aware body (3.00): both files' layouts and
// references, the body itself (its differences taken against what the decoder predicts),
// and a second look for copies over both programs with their references written as the
// targets they name, where code that moved matches again.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/patch/pe_image.h"
#include "core/producer/approx_matcher.h"
#include "core/producer/streams_entry.h"

namespace producer {

struct ProgramModel {
  patch::PeLayout old_layout, new_layout;
  uint8_t model = 0;
  patch::ReferenceList old_refs;  // as the decoder finds them
};

// Null unless both files are PE programs the body can model. `model` names the references
// (kModelAbsolute, kModelRelative); the synthesized relocation table is added, padded as
// NEW's own table is, when NEW has one.
std::unique_ptr<ProgramModel> ModelPrograms(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                            uint8_t model);

// A 3.00 body for `blocks` over the files themselves.
std::vector<uint8_t> EncodeProgramBody(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                       std::span<const ApproxBlock> blocks, const ProgramModel& programs,
                                       StreamsStats* stats);

// The blocks with NEW's relocation table taken from the table the decoder synthesizes
// (copies from beyond OLD) instead of from OLD; the blocks as they are when NEW has none.
std::vector<ApproxBlock> CopyRelocationsFromTable(std::span<const uint8_t> old_data,
                                                  std::span<const uint8_t> new_data,
                                                  std::span<const ApproxBlock> blocks, const ProgramModel& programs,
                                                  const ApproxOptions& options);

// Both files with every reference written as the address it names (an old one carried
// into NEW through `blocks`), so that a call or a pointer to code that moved reads the same
// in both: copies found over these are found through moved code.
struct NamedPrograms {
  std::vector<uint8_t> old_named, new_named;
};
NamedPrograms NameReferences(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                             std::span<const ApproxBlock> blocks, const ProgramModel& programs);

}  // namespace producer
