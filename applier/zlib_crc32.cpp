// zlib's CRC-32 for its gzip path, served by the patch checksum's table. The applier only
// inflates zlib-wrapped streams (Adler-32), but inflate's object file still names crc32;
// defining it here keeps zlib's own 8 KB of CRC tables out of the program. The patch
// checksum is the same CRC with the register's inversions left out, so the two agree.
#include <zlib.h>

#include "core/patch/checksum.h"

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
  if (buf == Z_NULL) return 0;
  const uint32_t reg = patch::ChecksumUpdate(static_cast<uint32_t>(~crc), buf, len);
  return static_cast<uLong>(static_cast<uint32_t>(~reg));
}
