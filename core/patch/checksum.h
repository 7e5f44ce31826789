#pragma once
// The patch checksum: CRC-32 with the standard reflected table (polynomial 0xEDB88320)
// whose register starts at 0 and whose result is not complemented. It is NOT the common
// CRC-32 (that one starts at 0xFFFFFFFF and complements): "123456789" gives 0x2DFD2D88.
//
// Init / update / final so a file can be checksummed in pieces:
//   uint32_t c = ChecksumInit(); c = ChecksumUpdate(c, a, n); ...; ChecksumFinal(c)
#include <cstddef>
#include <cstdint>

namespace patch {

constexpr uint32_t ChecksumInit() { return 0; }
constexpr uint32_t ChecksumFinal(uint32_t reg) { return reg; }

// Feeds `length` bytes into the register. Natively through libdeflate's CRC-32, which
// uses the processor's carry-less multiply where there is one; in the Windows programs,
// which carry no such library, the sliced table method below.
uint32_t ChecksumUpdate(uint32_t reg, const uint8_t* data, size_t length);

// Sixteen table lookups per sixteen bytes, the blocks taken in turn by two registers that
// the last block joins.
uint32_t ChecksumUpdateSliced(uint32_t reg, const uint8_t* data, size_t length);

// One table lookup per byte: the plain table method, kept as the reference for the
// sliced version and for short inputs.
uint32_t ChecksumUpdateBytewise(uint32_t reg, const uint8_t* data, size_t length);

// The checksum of a whole block.
inline uint32_t PatchChecksum(const uint8_t* data, size_t length) {
  return ChecksumFinal(ChecksumUpdate(ChecksumInit(), data, length));
}

}  // namespace patch
