#include "core/text/cp932.h"

namespace text {

size_t FindLastSeparator(const char* s, size_t length, const LeadByteTable& table) {
  size_t last = kNotFound;
  for (size_t i = 0; i < length && s[i] != '\0'; ++i) {
    if (table.IsLead(s[i])) {
      if (i + 1 >= length || s[i + 1] == '\0') break;
      ++i;  // the second byte never counts, even when it is 0x5C
    } else if (s[i] == '\\') {
      last = i;
    }
  }
  return last;
}

bool IsSecondByte(const char* s, size_t index, const LeadByteTable& table) {
  size_t run = 0;
  while (run < index && table.IsLead(s[index - 1 - run])) ++run;
  return (run & 1) != 0;
}

bool EndsWithBackslash(const char* s, size_t length, const LeadByteTable& table) {
  return length > 0 && s[length - 1] == '\\' && !IsSecondByte(s, length - 1, table);
}

bool AddTrailingBackslash(char* buffer, size_t capacity, size_t* length, const LeadByteTable& table) {
  if (EndsWithBackslash(buffer, *length, table)) {
    if (*length >= capacity) return false;
    buffer[*length] = '\0';
    return true;
  }
  if (*length + 2 > capacity) return false;
  buffer[(*length)++] = '\\';
  buffer[*length] = '\0';
  return true;
}

size_t RemoveTrailingBackslash(const char* s, size_t length, const LeadByteTable& table) {
  return EndsWithBackslash(s, length, table) ? length - 1 : length;
}

size_t FolderPartLength(const char* s, size_t length, const LeadByteTable& table) {
  for (size_t i = length; i > 0; --i) {
    const char c = s[i - 1];
    if ((c == '\\' || c == ':') && !IsSecondByte(s, i - 1, table)) return i;
  }
  return 0;
}

size_t LastCharacterStart(const char* s, size_t length, const LeadByteTable& table) {
  if (length == 0) return kNotFound;
  const size_t last = length - 1;
  return (last > 0 && IsSecondByte(s, last, table)) ? last - 1 : last;
}

bool NeedsFinalPeriod(const char* s, size_t length, const LeadByteTable& table) {
  const size_t start = LastCharacterStart(s, length, table);
  return start != kNotFound && static_cast<uint8_t>(s[start]) > 0x2E;
}

size_t FitCharacters(const char* s, size_t length, size_t max_bytes, const LeadByteTable& table) {
  size_t fit = 0;
  size_t i = 0;
  while (i < length) {
    const size_t width = (table.IsLead(s[i]) && i + 1 < length) ? 2 : 1;
    if (i + width > max_bytes) break;
    i += width;
    fit = i;
  }
  return fit;
}

bool SameFileName(const char* a, const char* b, const LeadByteTable& table) {
  for (;;) {
    if (*a == '\0' || *b == '\0') return *a == *b;
    if (table.IsLead(*a)) {
      // A two-byte character matches only itself, byte for byte.
      if (*b != *a || a[1] != b[1]) return false;
      if (a[1] == '\0') return true;
      a += 2;
      b += 2;
      continue;
    }
    if (FoldAsciiCase(*a) != FoldAsciiCase(*b)) return false;
    ++a;
    ++b;
  }
}

}  // namespace text
