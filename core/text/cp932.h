#pragma once
// Byte strings in code page 932 (Shift JIS) and the few rules both programs need to
// walk them: which bytes start a two-byte character, and where the real backslashes
// of a path are. The second byte of "ソ" (83 5C) and "表" (95 5C) is 0x5C, so a plain
// byte search for '\\' cuts such names in half; every path split goes through here.
//
// All functions take pointer + length and never look past `length`.
#include <cstddef>
#include <cstdint>

namespace text {

// A code page 932 byte string (zero-terminated where a function says so).
using Cp932 = char;

constexpr size_t kNotFound = static_cast<size_t>(-1);

// Which byte values are lead bytes of a two-byte character. The programs use the
// code page 932 table; the wizard on Windows fills one from the system code page so that
// a single-byte locale treats every 0x5C as a backslash.
class LeadByteTable {
 public:
  constexpr LeadByteTable() = default;  // single-byte: no lead bytes

  static constexpr LeadByteTable Cp932() {
    LeadByteTable table;
    for (unsigned b = 0x81; b <= 0x9F; ++b) table.SetLead(static_cast<uint8_t>(b));
    for (unsigned b = 0xE0; b <= 0xFC; ++b) table.SetLead(static_cast<uint8_t>(b));
    return table;
  }
  static constexpr LeadByteTable SingleByte() { return LeadByteTable(); }

  constexpr void SetLead(uint8_t byte) { bits_[byte >> 5] |= uint32_t{1} << (byte & 31); }
  constexpr bool IsLead(uint8_t byte) const { return (bits_[byte >> 5] >> (byte & 31)) & 1u; }
  constexpr bool IsLead(char byte) const { return IsLead(static_cast<uint8_t>(byte)); }

 private:
  uint32_t bits_[8] = {};
};

inline constexpr LeadByteTable kCp932 = LeadByteTable::Cp932();

// The applier's forward scan: position of the last backslash in `s[0..length)`, or
// kNotFound. A lead byte consumes the byte after it (a zero or the end right after a lead
// byte ends the scan), so a second byte 0x5C is never a separator. Stops at a zero byte.
size_t FindLastSeparator(const char* s, size_t length, const LeadByteTable& table = kCp932);

// The wizard's backward rule: the byte at `index` is the second byte of a two-byte
// character when the unbroken run of lead-byte values directly before it has odd length.
bool IsSecondByte(const char* s, size_t index, const LeadByteTable& table);

// True when the last byte is a backslash that is a character of its own.
bool EndsWithBackslash(const char* s, size_t length, const LeadByteTable& table);

// Add trailing backslash: appends "\" unless the text already ends with a real backslash
// (an empty text becomes "\"). `buffer` holds `*length` bytes and has room for `capacity`
// bytes including a terminating zero, which is written. Returns false, leaving the buffer
// unchanged, when the result would not fit.
bool AddTrailingBackslash(char* buffer, size_t capacity, size_t* length, const LeadByteTable& table);

// Remove trailing backslash: the new length (at most one real backslash is removed).
size_t RemoveTrailingBackslash(const char* s, size_t length, const LeadByteTable& table);

// Folder part of a file path: the length of the prefix up to and including the last
// "\" or ":" that is a character of its own; 0 when there is none.
size_t FolderPartLength(const char* s, size_t length, const LeadByteTable& table);

// Start of the last character (a two-byte character counts as one); kNotFound when empty.
size_t LastCharacterStart(const char* s, size_t length, const LeadByteTable& table);

// The error box appends "." when the message is not empty and its last character's first
// byte sorts after "." (0x2E) by byte value.
bool NeedsFinalPeriod(const char* s, size_t length, const LeadByteTable& table);

// Length of the longest prefix of `s[0..length)` that has at most `max_bytes` bytes and
// does not end between the two bytes of a character (forward scan from the start).
size_t FitCharacters(const char* s, size_t length, size_t max_bytes, const LeadByteTable& table = kCp932);

// An ASCII letter in upper case, any other byte as it is: the one case rule of every name
// compared as the file system compares it ("a".."z" and nothing beside them: "`" and "{"
// are not letters).
constexpr char FoldAsciiCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether two zero-terminated paths name the same file on a file system that ignores the
// case of letters: ASCII letters compare without case, the second byte of a two-byte
// character exactly (0x82 0x61 is "ａ", not "a").
bool SameFileName(const char* a, const char* b, const LeadByteTable& table = kCp932);

}  // namespace text
