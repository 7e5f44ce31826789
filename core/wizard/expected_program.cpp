#include "core/wizard/expected_program.h"

#include "core/patch/checksum.h"
#include "core/patch/format.h"
#include "core/text/cp932.h"

namespace wizard {

ExpectedProgram ExpectedFromPayload(std::span<const uint8_t> payload, const char* program_name) {
  ExpectedProgram found;
  uint32_t offset = 0;
  if (!patch::FindPatchData(payload, &offset)) return {};
  for (;;) {
    patch::EntryHeader header;
    if (patch::ParseEntryHeader(payload, offset, &header) != patch::HeaderOutcome::Ok) return {};
    if (header.kind == patch::EntryKind::OpenDocument) return found;  // the applier stops there
    const bool writes = header.kind == patch::EntryKind::Update || header.kind == patch::EntryKind::CreateIfMissing;
    if (writes && header.target_folder.length == 0 && text::SameFileName(header.target_name.data, program_name)) {
      found = {true, header.new_size, header.new_crc};
    } else if (header.kind == patch::EntryKind::Delete && header.target_folder.length == 0 &&
               text::SameFileName(header.target_name.data, program_name)) {
      found = {};  // a later delete leaves no program to recognise
    }
    patch::BodySummary body;
    if (patch::WalkBody(payload, header, nullptr, &body) != patch::BodyOutcome::Ok) return {};
    switch (patch::ChainStep(payload, body.end)) {
      case patch::ChainOutcome::Complete: return found;
      case patch::ChainOutcome::Broken: return {};
      case patch::ChainOutcome::NextEntry: break;
    }
    if (body.end > UINT32_MAX) return {};
    offset = static_cast<uint32_t>(body.end);
  }
}

bool IsExpectedProgram(const ExpectedProgram& expected, std::span<const uint8_t> contents) {
  return expected.known && contents.size() == expected.size &&
         patch::PatchChecksum(contents.data(), contents.size()) == expected.crc;
}

}  // namespace wizard
