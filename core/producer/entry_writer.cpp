#include "core/producer/entry_writer.h"

#include <algorithm>
#include <cstring>

#include "core/patch/checksum.h"

namespace producer {
namespace {

constexpr uint8_t kFormatMajor = 1;
constexpr uint8_t kFormatMinor = 4;
constexpr uint32_t kFixedHeaderSize = 31;
constexpr uint64_t kFourGiB = uint64_t{1} << 32;

class Out {
 public:
  explicit Out(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Bytes(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
  void String(const std::string& s) {
    Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    U8(0);
  }

 private:
  std::vector<uint8_t>& bytes_;
};

void CheckString(const std::string& s, const char* what) {
  if (s.find('\0') != std::string::npos) throw EntryError(std::string(what) + " contains a zero byte");
}

// The operations must rebuild NEW byte for byte: a matcher fault is caught here rather
// than by the applier's checksum on the user's machine.
void CheckOps(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data, std::span<const Op> ops) {
  uint64_t pos = 0;
  for (const Op& op : ops) {
    if (uint64_t{op.length} > new_data.size() - pos) throw EntryError("operations run past the end of the new file");
    if (op.kind == Op::Kind::Copy) {
      if (uint64_t{op.offset} + op.length > old_data.size()) throw EntryError("a copy reaches past the end of the old file");
      if (op.length != 0 && std::memcmp(old_data.data() + op.offset, new_data.data() + pos, op.length) != 0) {
        throw EntryError("a copy does not produce the new file's bytes");
      }
    } else if (op.offset != pos) {
      throw EntryError("a literal is not taken from its own place in the new file");
    }
    pos += op.length;
  }
  if (pos != new_data.size()) throw EntryError("operations do not cover the whole new file");
}

}  // namespace

bool IsValidStamp(const Stamp& s) {
  if (s.year < 1601 || s.year > 30827) return false;
  if (s.month < 1 || s.month > 12) return false;
  static constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (s.year % 4 == 0 && s.year % 100 != 0) || s.year % 400 == 0;
  const uint8_t days = kDays[s.month - 1] + ((s.month == 2 && leap) ? 1 : 0);
  if (s.day < 1 || s.day > days) return false;
  return s.hour <= 23 && s.minute <= 59 && s.second <= 59;
}

void AppendUpdateHeader(std::vector<uint8_t>& bytes, uint8_t format_major, uint8_t format_minor,
                        std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                        const UpdateEntryText& text, const Stamp& stamp) {
  if (old_data.size() >= kFourGiB) throw EntryError("the old file is 4 GiB or larger");
  if (new_data.size() >= kFourGiB) throw EntryError("the new file is 4 GiB or larger");
  if (text.target_name.empty()) throw EntryError("the target name is empty");
  CheckString(text.target_name, "the target name");
  CheckString(text.description, "the description");
  CheckString(text.target_folder, "the target folder");
  if (!IsValidStamp(stamp)) throw EntryError("the time stamp is not a valid date and time");

  Out out(bytes);
  out.Bytes(reinterpret_cast<const uint8_t*>("\x44\x69\x66\x66"), 4);  // "Diff" in any execution charset
  out.U8(format_major);
  out.U8(format_minor);
  out.U8(0);  // flags: an update entry that stops on a mismatch and keeps a backup
  out.U8(0);  // reserved
  out.U32(patch::PatchChecksum(old_data.data(), old_data.size()));
  out.U32(patch::PatchChecksum(new_data.data(), new_data.size()));
  out.U32(static_cast<uint32_t>(old_data.size()));
  out.U32(static_cast<uint32_t>(new_data.size()));
  out.U16(stamp.year);
  out.U8(stamp.month);
  out.U8(stamp.day);
  out.U8(stamp.hour);
  out.U8(stamp.minute);
  out.U8(stamp.second);
  out.String(text.target_name);
  out.String(text.description);
  out.String(text.target_folder);
}

std::vector<uint8_t> WriteUpdateEntry(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                      std::span<const Op> ops, const UpdateEntryText& text, const Stamp& stamp,
                                      EntryStats* stats) {
  std::vector<uint8_t> bytes;
  bytes.reserve(kFixedHeaderSize + text.target_name.size() + text.description.size() + 3 + 64);
  AppendUpdateHeader(bytes, kFormatMajor, kFormatMinor, old_data, new_data, text, stamp);
  CheckOps(old_data, new_data, ops);
  Out out(bytes);
  const size_t header_size = bytes.size();

  EntryStats counted;
  uint64_t pos = 0;
  for (const Op& op : ops) {
    uint32_t done = 0;
    while (done < op.length) {
      const uint32_t length = std::min(op.length - done, kMaxRecordLength);
      if (op.kind == Op::Kind::Copy) {
        out.U16(static_cast<uint16_t>(0x8000 | length));
        out.U32(op.offset + done);
        ++counted.copy_records;
      } else {
        out.U16(static_cast<uint16_t>(length));
        out.Bytes(new_data.data() + pos + done, length);
        ++counted.literal_records;
        counted.literal_bytes += length;
      }
      done += length;
    }
    pos += op.length;
  }
  // The stream always holds at least one record (the reader takes one before it compares
  // with new_size), so an empty new file gets one empty literal.
  if (counted.copy_records + counted.literal_records == 0) {
    out.U16(0);
    ++counted.literal_records;
  }

  counted.header_size = static_cast<uint32_t>(header_size);
  counted.entry_size = bytes.size();
  if (stats) *stats = counted;
  return bytes;
}

std::vector<uint8_t> MakeUpdateEntry(Matcher& matcher, std::span<const uint8_t> old_data,
                                     std::span<const uint8_t> new_data, const UpdateEntryText& text,
                                     const Stamp& stamp, EntryStats* stats) {
  if (old_data.size() >= kFourGiB) throw EntryError("the old file is 4 GiB or larger");
  if (new_data.size() >= kFourGiB) throw EntryError("the new file is 4 GiB or larger");
  const std::vector<Op> ops = matcher.Match(old_data, new_data);
  return WriteUpdateEntry(old_data, new_data, ops, text, stamp, stats);
}

}  // namespace producer
