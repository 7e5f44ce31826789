// Texts read from patch data, shown to the user whatever bytes they hold.
#include <cstdio>

#include "core/text/cp932.h"
#include "tools/patchtool/cp932_convert.h"

namespace patchtool {

std::string Cp932ToUtf8ForDisplay(std::string_view cp932) {
  if (auto whole = Cp932ToUtf8(cp932)) return *whole;
  // Character by character, so one bad byte does not hide the rest of the text.
  std::string out;
  size_t i = 0;
  while (i < cp932.size()) {
    const bool lead = text::kCp932.IsLead(cp932[i]) && i + 1 < cp932.size();
    const size_t n = lead ? 2 : 1;
    if (auto part = Cp932ToUtf8(cp932.substr(i, n))) {
      out += *part;
    } else {
      for (size_t k = 0; k < n; ++k) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(cp932[i + k]));
        out += hex;
      }
    }
    i += n;
  }
  return out;
}

}  // namespace patchtool
