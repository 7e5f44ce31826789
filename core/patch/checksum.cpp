#include "core/patch/checksum.h"

#include <bit>
#include <cstring>

#ifdef PATCH_CHECKSUM_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace patch {
namespace {

static_assert(std::endian::native == std::endian::little, "the sliced checksum loads words little-endian");

struct Tables {
  uint32_t bytewise[256];   // the standard reflected table
  uint32_t ahead[16][256];  // ahead[k][n]: the register after byte n and 16 + k zero bytes
};

constexpr void FillTables(Tables& tables) {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    tables.bytewise[n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = tables.bytewise[n];
    for (int zeros = 1; zeros < 32; ++zeros) {
      c = tables.bytewise[c & 0xFF] ^ (c >> 8);
      if (zeros >= 16) tables.ahead[zeros - 16][n] = c;
    }
  }
}

#ifdef _WIN32
// The Windows applier builds its tables on first use instead of carrying 17 KB of them in
// its file; it has one thread.
Tables g_tables;
bool g_tables_ready = false;
const Tables& GetTables() {
  if (!g_tables_ready) {
    FillTables(g_tables);
    g_tables_ready = true;
  }
  return g_tables;
}
#else
constexpr Tables MakeTables() {
  Tables tables{};
  FillTables(tables);
  return tables;
}
constexpr Tables kTables = MakeTables();
constexpr const Tables& GetTables() { return kTables; }
#endif

uint32_t Load32(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

// Folds the 16 bytes at p, the first four xored with `reg`, into the register value for
// the block after the next one: one lookup per byte in the `ahead` rows t. Only the first
// word depends on `reg`, and it comes last, so the other twelve lookups run ahead of the
// previous block's result. In those words bytes 1 and 2 are read again from memory rather
// than shifted out: that moves work from the arithmetic units, which the lookups keep
// busy, to the load units.
inline uint32_t FoldBlock(const uint32_t (*t)[256], uint32_t reg, const uint8_t* p) {
  const uint32_t w1 = Load32(p + 4), w2 = Load32(p + 8), w3 = Load32(p + 12);
  const uint32_t rest = (t[11][w1 & 0xFF] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][w1 >> 24]) ^
                        (t[7][w2 & 0xFF] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][w2 >> 24]) ^
                        (t[3][w3 & 0xFF] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][w3 >> 24]);
  const uint32_t w0 = Load32(p) ^ reg;
  return rest ^ ((t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF]) ^ (t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24]));
}

}  // namespace

uint32_t ChecksumUpdateBytewise(uint32_t reg, const uint8_t* data, size_t length) {
  const uint32_t* table = GetTables().bytewise;
  for (size_t i = 0; i < length; ++i) reg = table[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

uint32_t ChecksumUpdate(uint32_t reg, const uint8_t* data, size_t length) {
#ifdef PATCH_CHECKSUM_LIBDEFLATE
  // The common CRC-32 complements its register on the way in and out; this one does not.
  // libdeflate answers a null buffer with its start value whatever the register, so
  // nothing to feed returns the register here.
  if (length == 0) return reg;
  return ~libdeflate_crc32(~reg, data, length);
#else
  return ChecksumUpdateSliced(reg, data, length);
#endif
}

uint32_t ChecksumUpdateSliced(uint32_t reg, const uint8_t* data, size_t length) {
  if (length >= 32) {
    // Two registers take the blocks in turn. With one, each block's lookups waited for
    // the previous block's sum, and the table method ran at 0.8x zlib's speed; now each
    // register skips the other's block (the 16 extra zero bytes of `ahead`), and the
    // last whole block, fed bytewise, joins them. Inputs under 32 bytes go bytewise.
    // The registers swap roles instead of having a call each: with one call site the
    // applier's -Os build still inlines FoldBlock.
    const auto& ahead = GetTables().ahead;
    uint32_t next = 0;  // the other register, for the block after this one
    do {
      const uint32_t after_next = FoldBlock(ahead, reg, data);
      reg = next;
      next = after_next;
      data += 16;
      length -= 16;
    } while (length >= 32);
    reg = ChecksumUpdateBytewise(reg, data, 16) ^ next;
    data += 16;
    length -= 16;
  }
  return ChecksumUpdateBytewise(reg, data, length);
}

}  // namespace patch
