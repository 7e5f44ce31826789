#include "core/wizard/payload_seal.h"

#include <cstring>

#include "core/patch/checksum.h"

namespace wizard {

PayloadSeal SealOf(std::span<const uint8_t> payload) {
  const uint32_t crc = patch::PatchChecksum(payload.data(), payload.size());
  const uint32_t size = static_cast<uint32_t>(payload.size());
  PayloadSeal seal;
  for (int i = 0; i < 4; ++i) {
    seal.bytes[i] = static_cast<uint8_t>(crc >> (8 * i));
    seal.bytes[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  return seal;
}

bool MatchesSeal(std::span<const uint8_t> payload, std::span<const uint8_t> seal) {
  if (seal.size() != sizeof(PayloadSeal::bytes) || payload.size() > 0xFFFFFFFFu) return false;
  return std::memcmp(SealOf(payload).bytes, seal.data(), seal.size()) == 0;
}

}  // namespace wizard
