#pragma once
// Hand-made patch data for tests: entries are written byte by byte here, independently
// of any producer, so the reader is checked against the format and not against itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <zlib.h>

#include "core/patch/format.h"
#include "core/patch/format2.h"

namespace patchtest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}
inline void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}

// A record stream, written record by record.
struct Body {
  Bytes bytes;
  uint64_t total = 0;  // sum of lengths
  Body& Copy(uint16_t length, uint32_t old_offset) {
    Put16(bytes, 0x8000 | length);
    Put32(bytes, old_offset);
    total += length;
    return *this;
  }
  Body& Literal(const Bytes& data) {
    Put16(bytes, static_cast<uint16_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    total += data.size();
    return *this;
  }
  Body& Literal(const std::string& s) { return Literal(Bytes(s.begin(), s.end())); }
  Body& Touch() {
    Put16(bytes, 0x8000);
    Put32(bytes, 0);
    return *this;
  }
  Body& Raw(const Bytes& data) {
    bytes.insert(bytes.end(), data.begin(), data.end());
    return *this;
  }
};

struct Entry {
  uint8_t major = 1, minor = 4, flags = 0, reserved = 0;
  uint32_t old_crc = 0, new_crc = 0, old_size = 0, new_size = 0;
  uint16_t year = 2008;
  uint8_t month = 1, day = 30, hour = 16, minute = 48, second = 9;
  std::string name = "Lunder19.exe";
  std::string description = "アップデート Ver1.0⇒2.0";
  std::string folder;  // written when the version is 101 or higher
  Bytes body;

  Bytes Encode() const {
    Bytes b = {'D', 'i', 'f', 'f', major, minor, flags, reserved};
    Put32(b, old_crc);
    Put32(b, new_crc);
    Put32(b, old_size);
    Put32(b, new_size);
    Put16(b, year);
    for (uint8_t v : {month, day, hour, minute, second}) b.push_back(v);
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
    b.insert(b.end(), description.begin(), description.end());
    b.push_back(0);
    if (major * 100 + minor >= 101) {
      b.insert(b.end(), folder.begin(), folder.end());
      b.push_back(0);
    }
    b.insert(b.end(), body.begin(), body.end());
    return b;
  }
};

// The patch checksum as zlib computes it (its CRC-32 with the register started at zero and
// the result not complemented): expected values never come from the code under test.
// (zlib answers a null buffer with its start value, so an empty input gets a real one.)
inline uint32_t ReferenceChecksum(const uint8_t* data, size_t length) {
  static const uint8_t kNothing = 0;
  return static_cast<uint32_t>(crc32(0xFFFFFFFFul, data ? data : &kNothing, static_cast<uInt>(length)) ^ 0xFFFFFFFFul);
}
inline uint32_t Crc(const Bytes& b) { return ReferenceChecksum(b.data(), b.size()); }

// A plain update entry whose body rebuilds `new_file` from `old_file`: equal runs at the
// same offset become copies (split at 32,767), everything else literals.
inline Entry UpdateEntry(const Bytes& old_file, const Bytes& new_file) {
  Entry e;
  e.old_crc = Crc(old_file);
  e.new_crc = Crc(new_file);
  e.old_size = static_cast<uint32_t>(old_file.size());
  e.new_size = static_cast<uint32_t>(new_file.size());
  Body body;
  size_t i = 0;
  while (i < new_file.size()) {
    size_t run = 0;
    while (i + run < new_file.size() && i + run < old_file.size() && new_file[i + run] == old_file[i + run] &&
           run < 0x7FFF)
      ++run;
    if (run >= 8) {
      body.Copy(static_cast<uint16_t>(run), static_cast<uint32_t>(i));
      i += run;
      continue;
    }
    size_t lit = 0;
    while (i + lit < new_file.size() && lit < 0x7FFF) {
      size_t same = 0;
      while (i + lit + same < new_file.size() && i + lit + same < old_file.size() &&
             new_file[i + lit + same] == old_file[i + lit + same] && same < 8)
        ++same;
      if (same >= 8) break;
      ++lit;
    }
    body.Literal(Bytes(new_file.begin() + i, new_file.begin() + i + lit));
    i += lit;
  }
  if (new_file.empty()) body.Literal(Bytes{});  // the stream reads one record even for 0 bytes
  e.body = body.bytes;
  return e;
}

// 7-bit groups, the most significant first, the high bit on all but the last byte.
inline void Varint(Bytes& b, uint32_t v) {
  Bytes groups;
  do {
    groups.push_back(static_cast<uint8_t>(v & 0x7F));
    v >>= 7;
  } while (v != 0);
  for (size_t i = groups.size(); i-- > 0;) b.push_back(static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80 : 0)));
}
inline uint32_t Zigzag(int32_t v) { return (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31); }

// The four raw streams of a compressed-streams body (format 2.00), written with the
// format's own rules and deflated with zlib.
struct Streams {
  Bytes control, gaps, changes, fresh;
  uint32_t previous_takes = 0;
  uint8_t transform = patch::kTransformNone;
  Streams& Copy(uint32_t n, int32_t delta, uint32_t m) {
    Varint(control, n);
    if (n > 0) Varint(control, Zigzag(delta));
    Varint(control, m);
    return *this;
  }
  // `zeros` differences of 0, then the `taken` ones; the gap is counted from where the
  // previous change began.
  Streams& Run(uint32_t zeros, const Bytes& taken) {
    Varint(gaps, previous_takes + zeros);
    Varint(changes, static_cast<uint32_t>(taken.size()));
    changes.insert(changes.end(), taken.begin(), taken.end());
    previous_takes = static_cast<uint32_t>(taken.size());
    return *this;
  }
  Streams& New(const std::string& s) {
    fresh.insert(fresh.end(), s.begin(), s.end());
    return *this;
  }
  Bytes Body() const {
    Bytes body{transform};
    Bytes packed;
    for (const Bytes* raw : {&control, &gaps, &changes, &fresh}) {
      Bytes p;
      if (!raw->empty()) {
        uLongf n = compressBound(static_cast<uLong>(raw->size()));
        p.resize(n);
        if (compress2(p.data(), &n, raw->data(), static_cast<uLong>(raw->size()), 9) != Z_OK) std::abort();
        p.resize(n);
      }
      Put32(body, static_cast<uint32_t>(raw->size()));
      Put32(body, static_cast<uint32_t>(p.size()));
      packed.insert(packed.end(), p.begin(), p.end());
    }
    body.insert(body.end(), packed.begin(), packed.end());
    return body;
  }
};

inline Entry StreamsEntry(const Bytes& old_file, const Bytes& new_file, const Bytes& body) {
  Entry e;
  e.major = 2;
  e.minor = 0;
  e.old_crc = Crc(old_file);
  e.new_crc = Crc(new_file);
  e.old_size = static_cast<uint32_t>(old_file.size());
  e.new_size = static_cast<uint32_t>(new_file.size());
  e.body = body;
  return e;
}

// A 2.00 update entry written the plainest way: one copy of the common length from offset
// 0 with every difference spelled out, then the rest of `new_file` as new bytes.
inline Entry StreamsUpdateEntry(const Bytes& old_file, const Bytes& new_file) {
  const size_t common = old_file.size() < new_file.size() ? old_file.size() : new_file.size();
  Streams s;
  s.Copy(static_cast<uint32_t>(common), 0, static_cast<uint32_t>(new_file.size() - common));
  uint32_t zeros = 0;
  for (size_t i = 0; i < common; ++i) {
    const uint8_t d = static_cast<uint8_t>(new_file[i] - old_file[i]);
    if (d == 0) {
      ++zeros;
      continue;
    }
    s.Run(zeros, {d});
    zeros = 0;
  }
  if (zeros > 0) s.Run(zeros, {});
  s.fresh.assign(new_file.begin() + common, new_file.end());
  if (new_file.empty()) s = Streams();  // an empty file has empty streams
  return StreamsEntry(old_file, new_file, s.Body());
}

inline Bytes Pattern(size_t size, uint32_t seed) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v = static_cast<uint8_t>(x);
  }
  return b;
}

// An entry of the carried entry's shape: a deterministic old file of 5,189,120 bytes and
// a new one made of 693 records (426 copies, 267 literals: 262 of 4 bytes and 5 of 2,
// 1,058 literal bytes), runs of equal content split at 32,766, two short copies taken
// from far earlier in the old file. The first records are those of the worked example.
struct CarriedShape {
  Bytes old_file;
  Bytes new_file;
  Entry entry;
};

inline CarriedShape MakeCarriedShape() {
  constexpr uint32_t kSize = 5189120;
  CarriedShape c;
  c.old_file = Pattern(kSize, 2008);
  c.new_file.reserve(kSize);
  Body body;
  uint32_t pos = 0;
  auto gap = [&](uint32_t length) {  // same-offset copies
    while (length > 0) {
      const uint32_t piece = length > 32766 ? 32766 : length;
      body.Copy(static_cast<uint16_t>(piece), pos);
      c.new_file.insert(c.new_file.end(), c.old_file.begin() + pos, c.old_file.begin() + pos + piece);
      pos += piece;
      length -= piece;
    }
  };
  uint32_t literal_seed = 1;
  auto literal = [&](uint32_t length) {
    Bytes data(length);
    for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(c.old_file[pos + i] ^ (0x5A + literal_seed++));
    body.Literal(data);
    c.new_file.insert(c.new_file.end(), data.begin(), data.end());
    pos += length;
  };
  auto far_copy = [&](uint16_t length, uint32_t from) {
    body.Copy(length, from);
    c.new_file.insert(c.new_file.end(), c.old_file.begin() + from, c.old_file.begin() + from + length);
    pos += length;
  };
  gap(1818660);  // 55 copies of 32,766 and one of 16,530
  literal(2);
  gap(32058);
  literal(4);
  int two_byte_left = 4, four_byte_left = 261;
  for (int special = 2; special < 269; ++special) {
    const int g = special - 2;  // gaps after the first two
    gap(g < 99 ? 33066 : (g == 267 - 1 ? 286 : 378));
    if (special == 100) {
      far_copy(8, 1000);
    } else if (special == 200) {
      far_copy(12, 2000);
    } else if (two_byte_left > 0 && special % 40 == 0) {
      literal(2);
      --two_byte_left;
    } else {
      literal(4);
      --four_byte_left;
    }
  }
  gap(378);
  c.entry.old_crc = Crc(c.old_file);
  c.entry.new_crc = Crc(c.new_file);
  c.entry.old_size = kSize;
  c.entry.new_size = kSize;
  c.entry.body = body.bytes;
  return c;
}

// An applier file: `prefix` bytes of (magic-free) image, then the entries back to back.
inline Bytes MakeImage(const std::vector<Entry>& entries, size_t prefix = patch::SEARCH_START) {
  Bytes image(prefix, 0x90);
  for (const Entry& e : entries) {
    Bytes b = e.Encode();
    image.insert(image.end(), b.begin(), b.end());
  }
  return image;
}

// The same, with the prefix made a program file whose one section ends right where the
// entries begin, as the applier's does once the patch data is packed onto it.
inline Bytes MakePackedImage(const std::vector<Entry>& entries, size_t prefix = patch::SEARCH_START) {
  Bytes image = MakeImage(entries, prefix);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  image[0] = 'M';
  image[1] = 'Z';
  put32(0x3C, 0x40);
  put32(0x40, 0x00004550);  // "PE\0\0"
  image[0x46] = 1;          // one section
  image[0x47] = 0;
  image[0x54] = 0;          // no optional header: the table follows at 0x58
  image[0x55] = 0;
  put32(0x58 + 16, static_cast<uint32_t>(prefix - 0x200));  // its size in the file
  put32(0x58 + 20, 0x200);                                   // and where it starts
  return image;
}

}  // namespace patchtest
