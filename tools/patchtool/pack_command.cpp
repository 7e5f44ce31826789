// patchtool pack: the applier image followed by its patch data, as the wizard carries it.
#include <algorithm>
#include <cstring>

#include "core/wizard/payload_seal.h"
#include "tools/patchtool/arguments.h"
#include "tools/patchtool/chain_reader.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/pack.h"
#include "tools/patchtool/tool.h"

namespace patchtool {

Bytes PackApplier(const Bytes& applier, const Bytes& patch_data, uint32_t* patch_offset) {
  static const uint8_t kMagic[4] = {0x44, 0x69, 0x66, 0x66};  // "Diff"
  if (patch_data.size() < 4 || std::memcmp(patch_data.data(), kMagic, 4) != 0) {
    throw ToolError("PATCH does not start with \"Diff\"; it is not patch data");
  }
  const Chain chain = ReadChain(patch_data, 0);
  if (!chain.error.empty()) throw ToolError("PATCH is malformed: " + chain.error);

  // The applier finds its data by searching from SEARCH_START: its own bytes from there on
  // must not hold the magic, or it would read its own code as patch data.
  const auto from = applier.begin() + std::min<size_t>(applier.size(), patch::SEARCH_START);
  const auto hit = std::search(from, applier.end(), std::begin(kMagic), std::end(kMagic));
  if (hit != applier.end()) {
    throw ToolError("the applier image holds \"Diff\" at offset " + std::to_string(hit - applier.begin()) +
                    ", at or after " + std::to_string(patch::SEARCH_START) +
                    "; the applier would take its own bytes for patch data");
  }
  const size_t start = std::max<size_t>(applier.size(), patch::SEARCH_START);
  if (uint64_t{start} + patch_data.size() >= kFourGiB) throw ToolError("the packed file would be 4 GiB or larger");

  Bytes packed(applier);
  packed.resize(start, 0);  // zero padding after the image's last section
  packed.insert(packed.end(), patch_data.begin(), patch_data.end());

  uint32_t found = 0;
  if (!patch::FindPatchData(packed, &found) || found != start) {
    throw ToolError("internal fault: the applier's search would not find the patch data at offset " +
                    std::to_string(start));
  }
  if (patch_offset) *patch_offset = static_cast<uint32_t>(start);
  return packed;
}

int RunPack(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{{"-o", "--output"}, {}});
  const char* usage = "patchtool pack APPLIER PATCH -o OUT";
  parsed.ExpectPositional(2, usage);
  if (parsed.value("-o") && parsed.value("--output")) throw UsageError("give -o or --output, not both");
  const auto output = parsed.value("-o") ? parsed.value("-o") : parsed.value("--output");
  if (!output) throw UsageError(std::string("missing -o OUT; usage: ") + usage);
  const Bytes applier = ReadWholeFile(parsed.positional()[0], "APPLIER", true);
  const Bytes patch_data = ReadWholeFile(parsed.positional()[1], "PATCH", true);
  uint32_t offset = 0;
  const Bytes packed = PackApplier(applier, patch_data, &offset);
  WriteWholeFile(*output, packed);
  out << *output << ": " << packed.size() << " bytes; applier image " << applier.size() << " bytes";
  if (offset > applier.size()) out << " padded to " << offset;
  out << ", patch data " << patch_data.size() << " bytes at offset " << offset << "\n";
  return kExitOk;
}

int RunSeal(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments parsed(args, OptionSpec{{"-o", "--output"}, {}});
  const char* usage = "patchtool seal PAYLOAD -o OUT";
  parsed.ExpectPositional(1, usage);
  const auto output = parsed.value("-o") ? parsed.value("-o") : parsed.value("--output");
  if (!output) throw UsageError(std::string("missing -o OUT; usage: ") + usage);
  const Bytes payload = ReadWholeFile(parsed.positional()[0], "PAYLOAD", true);
  const wizard::PayloadSeal seal = wizard::SealOf(payload);
  WriteWholeFile(*output, Bytes(seal.bytes, seal.bytes + sizeof seal.bytes));
  out << *output << ": seal of " << payload.size() << " bytes\n";
  return kExitOk;
}

}  // namespace patchtool
