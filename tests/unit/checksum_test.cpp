// The patch checksum against published check values and against zlib's CRC-32 as an
// independent implementation (the two differ only by the start value and the final
// complement).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/patch/checksum.h"
#include "tests/unit/patch_builder.h"

namespace {

uint32_t OfText(const char* s) { return patch::PatchChecksum(reinterpret_cast<const uint8_t*>(s), std::strlen(s)); }

using patchtest::ReferenceChecksum;

TEST(Checksum, PublishedCheckValues) {
  EXPECT_EQ(OfText("123456789"), 0x2DFD2D88u);
  EXPECT_EQ(OfText("abc"), 0xCA6598D0u);
  EXPECT_EQ(patch::PatchChecksum(nullptr, 0), 0u);
}

TEST(Checksum, IsNotTheCommonCrc32) {
  const auto* s = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_NE(patch::PatchChecksum(s, 9), static_cast<uint32_t>(crc32(0, s, 9)));
}

TEST(Checksum, MatchesZlibOnRandomBuffersOfManyLengthsAndAlignments) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> buffer(70000);
  for (auto& b : buffer) b = static_cast<uint8_t>(rng());
  for (size_t length = 0; length < 300; ++length) {
    for (size_t align = 0; align < 8; ++align) {
      ASSERT_EQ(patch::PatchChecksum(buffer.data() + align, length), ReferenceChecksum(buffer.data() + align, length))
          << "length " << length << " alignment " << align;
    }
  }
  for (size_t length : {1023u, 4096u, 32767u, 65536u, 69990u}) {
    const size_t align = rng() % 8;
    EXPECT_EQ(patch::PatchChecksum(buffer.data() + align, length), ReferenceChecksum(buffer.data() + align, length));
  }
}

TEST(Checksum, BothFastMethodsEqualTheBytewiseTableMethod) {
  std::mt19937 rng(7);
  std::vector<uint8_t> buffer(5000);
  for (auto& b : buffer) b = static_cast<uint8_t>(rng());
  // Lengths around the 16-byte blocks, the 32 bytes from which two registers take turns
  // (31 stays bytewise, 32 is one block and the join), and several blocks with tails.
  for (uint32_t start : {0u, 1u, 0xFFFFFFFFu, 0x2DFD2D88u}) {
    for (size_t length : {0u, 7u, 8u, 9u, 15u, 16u, 31u, 32u, 33u, 47u, 48u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u,
                          1000u, 4999u}) {
      const uint32_t expected = patch::ChecksumUpdateBytewise(start, buffer.data() + 1, length);
      EXPECT_EQ(patch::ChecksumUpdateSliced(start, buffer.data() + 1, length), expected) << length;
      EXPECT_EQ(patch::ChecksumUpdate(start, buffer.data() + 1, length), expected) << length;
    }
  }
}

TEST(Checksum, PiecewiseUpdateEqualsOneShot) {
  std::mt19937 rng(99);
  std::vector<uint8_t> buffer(100000);
  for (auto& b : buffer) b = static_cast<uint8_t>(rng());
  const uint32_t whole = patch::PatchChecksum(buffer.data(), buffer.size());
  for (int round = 0; round < 20; ++round) {
    uint32_t reg = patch::ChecksumInit();
    size_t at = 0;
    while (at < buffer.size()) {
      const size_t piece = std::min<size_t>(rng() % 5000, buffer.size() - at);
      reg = patch::ChecksumUpdate(reg, buffer.data() + at, piece);
      at += piece;
    }
    EXPECT_EQ(patch::ChecksumFinal(reg), whole);
  }
}

}  // namespace
