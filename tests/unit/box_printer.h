#pragma once
// Readable boxes in test failures (texts are code page 932; shown as their bytes' escapes).
#include <ostream>

#include "core/patch/memory_platform.h"

namespace patch {
inline void PrintTo(const ShownBox& box, std::ostream* os) {
  auto put = [os](const std::string& s) {
    for (unsigned char c : s) {
      if (c >= 0x20 && c < 0x7F) {
        *os << c;
      } else {
        static const char* hex = "0123456789ABCDEF";
        *os << "\\x" << hex[c >> 4] << hex[c & 15];
      }
    }
  };
  *os << "{text \"";
  put(box.text);
  *os << "\", caption \"";
  put(box.caption);
  *os << "\", owner " << (box.owner == BoxOwner::Dialog ? "dialog" : "none") << ", type " << box.type << "}";
}
}  // namespace patch
