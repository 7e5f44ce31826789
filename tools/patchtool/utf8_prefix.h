#pragma once
// Where UTF-8 text may be cut: output written in pieces (to a console, as UTF-16) must not
// split a character between two writes, or both halves would show as bad characters.
#include <cstddef>
#include <string_view>

namespace patchtool {

// The length of the longest prefix of `text` that does not end inside a character: all of
// it, less an incomplete sequence at its end. Bytes that are no UTF-8 count as whole.
inline size_t WholeUtf8Prefix(std::string_view text) {
  for (size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: its lead lies further back
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return length > back ? text.size() - back : text.size();
  }
  return text.size();
}

}  // namespace patchtool
