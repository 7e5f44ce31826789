#pragma once
// The seal of the wizard's payload: the patch checksum and size of the packed applier, made
// when Update.exe is built and carried beside the payload. The wizard checks its payload
// against it before it uses anything of it: a payload damaged in the download (one byte
// is enough to turn an entry into another kind and leave half an update) is refused whole.
#include <cstdint>
#include <span>

namespace wizard {

struct PayloadSeal {
  uint8_t bytes[8];  // checksum, then size, little-endian
};

PayloadSeal SealOf(std::span<const uint8_t> payload);

// Whether `payload` is the one `seal` (exactly 8 bytes) was made of.
bool MatchesSeal(std::span<const uint8_t> payload, std::span<const uint8_t> seal);

}  // namespace wizard
