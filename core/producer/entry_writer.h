#pragma once
// Encoding one update entry of the patch data: the header (magic, format 1.04, flags 0,
// both checksums, both sizes, the time stamp, the three strings) and the record stream.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/producer/matcher.h"

namespace producer {

// The format carries at most this many bytes in one record.
constexpr uint32_t kMaxRecordLength = 0x7FFF;

// Local date and time that the applier gives the rebuilt file.
struct Stamp {
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// True when the stamp is a real calendar date and time the applier can turn into a file
// time (years 1601 to 30827, as the Windows file-time conversion accepts).
bool IsValidStamp(const Stamp& stamp);

struct UpdateEntryText {
  std::string target_name;  // code page 932 bytes, a file name without folder
  std::string description;  // code page 932 bytes, one line
  std::string target_folder;  // code page 932 bytes: a sub-folder of the applier's ("" for its own)
};

// Refusals of the writer: inputs that cannot become a well-formed entry.
class EntryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct EntryStats {
  uint32_t copy_records = 0;
  uint32_t literal_records = 0;
  uint64_t literal_bytes = 0;
  uint32_t header_size = 0;
  uint64_t entry_size = 0;
};

// Appends the header of an update entry of the given format (flags 0, both checksums and
// sizes, the stamp, the name, description and target folder). Throws EntryError
// for inputs no entry can carry (sizes of 4 GiB or more, a zero byte in a string, an
// empty name, an invalid stamp).
void AppendUpdateHeader(std::vector<uint8_t>& bytes, uint8_t format_major, uint8_t format_minor,
                        std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                        const UpdateEntryText& text, const Stamp& stamp);

// Encodes one update entry that rebuilds `new_data` from `old_data` with `ops`. The entry
// is complete on its own: written at the end of a file it is also the end of the chain.
// Throws EntryError when an input cannot be encoded (sizes of 4 GiB or more, a zero byte
// in a string, an empty name, an invalid stamp, operations that do not rebuild NEW).
std::vector<uint8_t> WriteUpdateEntry(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                      std::span<const Op> ops, const UpdateEntryText& text, const Stamp& stamp,
                                      EntryStats* stats = nullptr);

// Match with `matcher`, then encode.
std::vector<uint8_t> MakeUpdateEntry(Matcher& matcher, std::span<const uint8_t> old_data,
                                     std::span<const uint8_t> new_data, const UpdateEntryText& text,
                                     const Stamp& stamp, EntryStats* stats = nullptr);

}  // namespace producer
