#pragma once
// How many leading bytes two byte strings share: the innermost loop of every matcher.
#include <bit>
#include <cstdint>
#include <cstring>

namespace producer {

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// How many bytes in memory order two 8-byte words share, given their non-zero XOR.
inline uint32_t EqualLeadingBytes(uint64_t diff) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint32_t>(std::countr_zero(diff) / 8);
  } else {
    return static_cast<uint32_t>(std::countl_zero(diff) / 8);
  }
}

// Length of the common prefix of a[0..limit) and b[0..limit), a word at a time.
inline uint32_t CommonPrefix(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (limit - n >= 8) {
    const uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) return n + EqualLeadingBytes(diff);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

}  // namespace producer
