#include "core/patch/format.h"

#include <cstring>

#include "core/patch/format2.h"
#include "core/patch/little_endian.h"

namespace patch {

// The magic, each byte less one and kept in writable data: the applier's image must not
// hold the four bytes of the magic at or after SEARCH_START, and a constant here would
// let the compiler fold the comparison into an immediate operand holding exactly them.
uint8_t g_patch_magic_less_one[4] = {'D' - 1, 'i' - 1, 'f' - 1, 'f' - 1};

namespace {

bool MagicAt(Image image, uint64_t p) {
  if (p + 4 > image.size()) return false;
  for (int i = 0; i < 4; ++i) {
    if (static_cast<uint8_t>(image[p + i] - 1) != g_patch_magic_less_one[i]) return false;
  }
  return true;
}

// Takes the zero-terminated string at *pos; false when no terminator lies inside the image.
bool TakeString(Image image, uint64_t* pos, TextRef* out) {
  if (*pos >= image.size()) return false;
  const uint8_t* start = image.data() + *pos;
  const void* zero = std::memchr(start, 0, image.size() - *pos);
  if (zero == nullptr) return false;
  out->data = reinterpret_cast<const char*>(start);
  out->length = static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - start);
  *pos += out->length + 1;
  return true;
}

}  // namespace

uint64_t PeSectionsEnd(Image image) {
  const uint64_t size = image.size();
  const uint8_t* d = image.data();
  if (size < 0x40 || d[0] != 'M' || d[1] != 'Z') return 0;
  const uint64_t pe = Read32(d + 0x3C);
  if (pe + 24 > size || d[pe] != 'P' || d[pe + 1] != 'E' || d[pe + 2] != 0 || d[pe + 3] != 0) return 0;
  const uint32_t sections = Read16(d + pe + 6);
  const uint64_t table = pe + 24 + Read16(d + pe + 20);
  if (table + uint64_t{sections} * 40 > size) return 0;
  uint64_t end = table + uint64_t{sections} * 40;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint8_t* section = d + table + 40 * i;
    const uint64_t raw_size = Read32(section + 16), raw_start = Read32(section + 20);
    if (raw_size != 0 && raw_start + raw_size > end) end = raw_start + raw_size;
  }
  return end;
}

bool FindPatchData(Image image, uint32_t* entry_offset) {
  for (uint64_t p = SEARCH_START; p + 4 <= image.size(); ++p) {
    if (MagicAt(image, p)) {
      // Packed onto the applier, the patch data begins where the applier's sections end:
      // a first entry whose magic is damaged must not let a later entry pass for the first.
      const uint64_t applier_end = PeSectionsEnd(image);
      if (applier_end >= SEARCH_START && p != applier_end) return false;
      *entry_offset = static_cast<uint32_t>(p);
      return true;
    }
  }
  return false;
}

HeaderOutcome ParseEntryHeader(Image image, uint32_t offset, EntryHeader* header) {
  if (!MagicAt(image, offset)) return HeaderOutcome::NotAnEntry;
  const uint64_t size = image.size();
  if (uint64_t{offset} + 6 > size) return HeaderOutcome::Truncated;
  const uint8_t* h = image.data() + offset;
  EntryHeader e;
  e.offset = offset;
  e.format_major = h[4];
  e.format_minor = h[5];
  e.format_version = e.format_major * 100u + e.format_minor;
  if (!IsSupportedVersion(e.format_version)) return HeaderOutcome::VersionTooHigh;
  if (uint64_t{offset} + kHeaderFixedSize > size) return HeaderOutcome::Truncated;
  e.flags = h[6];
  e.reserved = h[7];
  e.old_crc = Read32(h + 8);
  e.new_crc = Read32(h + 12);
  e.old_size = Read32(h + 16);
  e.new_size = Read32(h + 20);
  e.stamp_year = Read16(h + 24);
  e.stamp_month = h[26];
  e.stamp_day = h[27];
  e.stamp_hour = h[28];
  e.stamp_minute = h[29];
  e.stamp_second = h[30];

  uint64_t pos = uint64_t{offset} + kHeaderFixedSize;
  if (!TakeString(image, &pos, &e.target_name)) return HeaderOutcome::Truncated;
  if (!TakeString(image, &pos, &e.description)) return HeaderOutcome::Truncated;
  e.has_target_folder = e.format_version >= 101;
  if (e.has_target_folder) {
    if (!TakeString(image, &pos, &e.target_folder)) return HeaderOutcome::Truncated;
  } else {
    e.target_folder = TextRef{e.description.data + e.description.length, 0};  // an empty string
  }
  e.body_offset = static_cast<uint32_t>(pos);  // pos <= size, which fits 32 bits

  if (e.flags & FLAG_OPEN_DOCUMENT) {
    e.kind = EntryKind::OpenDocument;
  } else if (e.flags & FLAG_DELETE) {
    e.kind = EntryKind::Delete;
  } else if (e.flags & FLAG_CREATE_IF_MISSING) {
    e.kind = EntryKind::CreateIfMissing;
  } else {
    e.kind = EntryKind::Update;
  }
  *header = e;
  return HeaderOutcome::Ok;
}

bool ReadRecord(Image image, uint64_t position, Record* record) {
  const uint64_t size = image.size();
  if (position + 2 > size) return false;
  const uint8_t* p = image.data() + position;
  const uint16_t head = Read16(p);
  Record r;
  r.position = static_cast<uint32_t>(position);
  r.copy = (head & 0x8000) != 0;
  r.length = static_cast<uint16_t>(head & 0x7FFF);
  if (r.copy) {
    if (position + 6 > size) return false;
    r.old_offset = Read32(p + 2);
  } else {
    if (position + 2 + r.length > size) return false;
    r.literal = p + 2;
  }
  *record = r;
  return true;
}

bool BodyIsTouchMarker(Image image, const EntryHeader& header) {
  const uint64_t p = header.body_offset;
  return p + 2 <= image.size() && Read16(image.data() + p) == kTouchMarker;
}

BodyOutcome WalkBody(Image image, const EntryHeader& header, const uint32_t* old_size, BodySummary* summary) {
  BodySummary s;
  s.end = header.body_offset;
  if (header.kind == EntryKind::OpenDocument || header.kind == EntryKind::Delete) {
    *summary = s;
    return BodyOutcome::Ok;
  }
  // Only the marker word is read; the four bytes after it are not needed.
  if (BodyIsTouchMarker(image, header)) {
    s.shape = BodyShape::TouchMarker;
    s.end = uint64_t{header.body_offset} + kTouchMarkerSize;
    *summary = s;
    return BodyOutcome::Ok;
  }
  if (HasStreamsBody(header.format_version)) {
    s.shape = BodyShape::Streams;
    Body2Layout layout;
    if (ReadBody2Layout(image, header.body_offset, header.new_size, &layout, header.format_version) !=
        Body2Outcome::Ok) {
      s.failed_record = header.body_offset;
      *summary = s;
      return BodyOutcome::StreamsBroken;
    }
    s.end = layout.end;
    s.total_length = header.new_size;
    s.literal_bytes = layout.streams[kStreamNew].raw_size;
    s.transform = layout.transform;
    for (int i = 0; i < kStreamCount; ++i) {
      s.raw_sizes[i] = layout.streams[i].raw_size;
      s.packed_sizes[i] = layout.streams[i].packed_size;
    }
    *summary = s;
    return BodyOutcome::Ok;
  }
  s.shape = BodyShape::Records;
  uint64_t pos = header.body_offset;
  for (;;) {
    Record r;
    if (!ReadRecord(image, pos, &r)) {
      s.failed_record = static_cast<uint32_t>(pos < image.size() ? pos : image.size());
      *summary = s;
      return BodyOutcome::RecordPastEnd;
    }
    if (r.copy) {
      if (header.kind == EntryKind::CreateIfMissing) {
        s.failed_record = r.position;
        *summary = s;
        return BodyOutcome::CopyWithoutOld;
      }
      const uint64_t reach = uint64_t{r.old_offset} + r.length;
      if (old_size != nullptr && r.length > 0 && reach > *old_size) {
        s.failed_record = r.position;
        *summary = s;
        return BodyOutcome::CopyOutsideOld;
      }
      if (r.length > 0 && reach > s.furthest_copy) s.furthest_copy = reach;
      ++s.copy_records;
    } else {
      ++s.literal_records;
      s.literal_bytes += r.length;
    }
    pos += r.size();
    s.total_length += r.length;
    s.end = pos;
    if (s.total_length >= header.new_size) break;
    if (AtLastByteOrBeyond(image, pos)) {
      s.failed_record = r.position;
      *summary = s;
      return BodyOutcome::StreamBroken;
    }
  }
  *summary = s;
  return BodyOutcome::Ok;
}

ChainOutcome ChainStep(Image image, uint64_t position) {
  if (AtLastByteOrBeyond(image, position)) return ChainOutcome::Complete;
  return MagicAt(image, position) ? ChainOutcome::NextEntry : ChainOutcome::Broken;
}

}  // namespace patch
