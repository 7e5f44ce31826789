#include "core/patch/checksum.h"

#include <bit>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
// The vendor tools on x86 fold with carry-less multiplication when the processor has
// it; the result is the same register value as the table method (the tests compare
// both with the table and with zlib). The Windows applier keeps to the tables: it
// checksums a few megabytes and gains nothing from the extra code.
#define PATCH_CHECKSUM_FOLDING 1
#include <cpuid.h>
#include <immintrin.h>

#include <initializer_list>
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

#ifdef PATCH_CHECKSUM_FOLDING
bool HasFolding() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & bit_PCLMUL) && (c & bit_SSE4_1);
}

const bool kHasFolding = HasFolding();

// Folds 64 bytes at a time in four lanes, then 16 at a time, then reduces to 32 bits
// (Barrett). `length` is at least 64 and a multiple of 16. The constants are powers of
// x modulo the reflected polynomial.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldUpdate(uint32_t reg, const uint8_t* buf, size_t length) {
  alignas(16) static const uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const uint64_t poly[] = {0x01db710641, 0x01f7011641};

  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  length -= 64;

  while (length >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
    x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30)));
    buf += 64;
    length -= 64;
  }

  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  for (__m128i next : {x2, x3, x4}) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
  }
  while (length >= 16) {
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf));
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
    buf += 16;
    length -= 16;
  }

  // 128 bits to 64.
  __m128i t2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  t2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, low32);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, x0, 0x00), t2);

  // Barrett reduction to 32 bits.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  t2 = _mm_and_si128(x1, low32);
  t2 = _mm_clmulepi64_si128(t2, x0, 0x10);
  t2 = _mm_and_si128(t2, low32);
  t2 = _mm_clmulepi64_si128(t2, x0, 0x00);
  x1 = _mm_xor_si128(x1, t2);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}
#endif

}  // namespace

uint32_t ChecksumUpdateBytewise(uint32_t reg, const uint8_t* data, size_t length) {
  const uint32_t* table = GetTables().bytewise;
  for (size_t i = 0; i < length; ++i) reg = table[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
  return reg;
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

bool ChecksumHasFolding() {
#ifdef PATCH_CHECKSUM_FOLDING
  return kHasFolding;
#else
  return false;
#endif
}

uint32_t ChecksumUpdate(uint32_t reg, const uint8_t* data, size_t length) {
#ifdef PATCH_CHECKSUM_FOLDING
  if (kHasFolding && length >= 64) {
    const size_t folded = length & ~size_t{15};
    reg = FoldUpdate(reg, data, folded);
    data += folded;
    length -= folded;
  }
#endif
  return ChecksumUpdateSliced(reg, data, length);
}

}  // namespace patch
