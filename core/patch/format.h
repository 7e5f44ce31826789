#pragma once
// Reading the patch data that is appended to the applier's image: finding the first
// entry, its header, the extent of its body, the records of a record stream and the
// step from one entry to the next. Every reader takes the whole image as a span and
// refuses, with a typed outcome, anything that would make it read past the end; the
// caller turns outcomes into messages.
#include <cstddef>
#include <cstdint>
#include <span>

namespace patch {

using Image = std::span<const uint8_t>;

constexpr uint32_t SEARCH_START = 20000;  // the applier's own code lies before this offset
constexpr unsigned MAX_FORMAT_VERSION = 104;  // of the record-stream format
constexpr unsigned kStreamsFormatVersion = 200;  // the compressed-streams body
constexpr unsigned kProgramFormatVersion = 300;  // compressed streams with the program's references predicted

// Versions up to 104 carry a record stream, 200 compressed streams, 300 compressed streams
// that know programs; anything else is from a later applier.
constexpr bool IsSupportedVersion(unsigned version) {
  return version <= MAX_FORMAT_VERSION || version == kStreamsFormatVersion || version == kProgramFormatVersion;
}
constexpr bool HasStreamsBody(unsigned version) {
  return version == kStreamsFormatVersion || version == kProgramFormatVersion;
}
constexpr uint32_t kHeaderFixedSize = 31;  // magic .. stamp_second
constexpr uint16_t kTouchMarker = 0x8000;
constexpr uint32_t kTouchMarkerSize = 6;
constexpr uint32_t kMaxRecordLength = 0x7FFF;

constexpr uint8_t FLAG_OPEN_DOCUMENT = 0x80;
constexpr uint8_t FLAG_DELETE = 0x40;
constexpr uint8_t FLAG_CREATE_IF_MISSING = 0x20;
constexpr uint8_t FLAG_NO_BACKUP = 0x02;
constexpr uint8_t FLAG_SKIP_ON_MISMATCH = 0x01;

// A zero-terminated code page 932 string inside the image; `length` excludes the zero.
struct TextRef {
  const char* data = nullptr;
  uint32_t length = 0;
};

enum class EntryKind : uint8_t { Update, CreateIfMissing, Delete, OpenDocument };

struct EntryHeader {
  uint32_t offset = 0;  // where "Diff" stands
  uint8_t format_major = 0;
  uint8_t format_minor = 0;
  uint32_t format_version = 0;  // major * 100 + minor
  uint8_t flags = 0;
  uint8_t reserved = 0;
  uint32_t old_crc = 0;
  uint32_t new_crc = 0;
  uint32_t old_size = 0;
  uint32_t new_size = 0;
  uint16_t stamp_year = 0;
  uint8_t stamp_month = 0, stamp_day = 0, stamp_hour = 0, stamp_minute = 0, stamp_second = 0;
  TextRef target_name;
  TextRef description;
  TextRef target_folder;  // empty when absent
  bool has_target_folder = false;  // format_version 101 and higher
  uint32_t body_offset = 0;  // first byte after the last string's terminator
  EntryKind kind = EntryKind::Update;

  bool no_backup() const { return (flags & FLAG_NO_BACKUP) != 0; }
  bool skip_on_mismatch() const { return (flags & FLAG_SKIP_ON_MISMATCH) != 0; }
};

// Offset of the first "Diff" at or after SEARCH_START (the four bytes must lie inside
// the image); false when there is none. When the image is a program file (the applier)
// whose sections end at or after SEARCH_START, that "Diff" must stand exactly where they end,
// where the patch data is appended: one found later means the first entry is damaged.
bool FindPatchData(Image image, uint32_t* entry_offset);

// Where the sections of the PE file at the start of `image` end (the file as the linker
// wrote it); 0 when the image does not start with a PE file.
uint64_t PeSectionsEnd(Image image);

enum class HeaderOutcome : uint8_t {
  Ok,
  NotAnEntry,      // no "Diff" at the offset
  VersionTooHigh,  // a format_version this reader does not know (IsSupportedVersion)
  Truncated,       // the fixed part or a string runs past the end of the image
};
HeaderOutcome ParseEntryHeader(Image image, uint32_t offset, EntryHeader* header);

// One record of a record stream.
struct Record {
  uint32_t position = 0;  // of its head word
  bool copy = false;
  uint16_t length = 0;
  uint32_t old_offset = 0;        // copy records
  const uint8_t* literal = nullptr;  // literal records: `length` bytes inside the image
  uint32_t size() const { return copy ? 6u : 2u + length; }
};

// Reads the record at `position`; false when its bytes do not all lie inside the image.
bool ReadRecord(Image image, uint64_t position, Record* record);

enum class BodyShape : uint8_t { None, TouchMarker, Records, Streams };

// True when the body starts with the touch marker word (needs the word inside the image).
bool BodyIsTouchMarker(Image image, const EntryHeader& header);

// Whether the read position has reached the last byte of the image or gone past it:
// a record stream still short of new_size there is broken.
inline bool AtLastByteOrBeyond(Image image, uint64_t position) { return position + 1 >= image.size(); }

enum class BodyOutcome : uint8_t {
  Ok,
  StreamBroken,      // the stream reaches the last byte before its lengths reach new_size
  RecordPastEnd,     // a record's bytes (or the first word) lie past the end of the image
  CopyOutsideOld,    // a copy record reaches outside the old contents
  CopyWithoutOld,    // a copy record in a create-if-missing entry
  StreamsBroken,     // a compressed-streams body whose head is malformed or cut
};

struct BodySummary {
  BodyShape shape = BodyShape::None;
  uint64_t end = 0;  // position after the body (may lie past the image for a touch marker)
  uint32_t copy_records = 0;
  uint32_t literal_records = 0;
  uint64_t literal_bytes = 0;
  uint64_t total_length = 0;    // sum of record lengths (output size)
  uint64_t furthest_copy = 0;   // one past the furthest old byte a copy reads
  uint32_t failed_record = 0;   // position of the record that broke the walk
  // Compressed-streams bodies: raw and packed size of each stream, and the transform.
  uint8_t transform = 0;
  uint32_t raw_sizes[4] = {};
  uint32_t packed_sizes[4] = {};
};

// Walks the body without producing anything. A compressed-streams body is only located
// and its head checked: its records are checked when it is decoded. `old_size` is the size of the old contents
// when copies must be checked against them, or null when they are not read (skip mode).
// Open-document and delete entries have no body (shape None, end = body_offset).
BodyOutcome WalkBody(Image image, const EntryHeader& header, const uint32_t* old_size, BodySummary* summary);

enum class ChainOutcome : uint8_t { Complete, NextEntry, Broken };
// Looks at the position after an entry's body: at most one byte left means the chain is
// complete; otherwise the next entry must start there.
ChainOutcome ChainStep(Image image, uint64_t position);

}  // namespace patch
