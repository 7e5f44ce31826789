#include "tools/patchtool/cp932_convert.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "core/text/cp932.h"
#include "tools/patchtool/tool.h"

namespace patchtool {
namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw ToolError(std::string("this system's iconv cannot convert from ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts all of `in`; nullopt on any invalid or unconvertible sequence.
  std::optional<std::string> Convert(std::string_view in) {
    std::string out;
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char buffer[4096];
    while (true) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      const size_t result = iconv(cd_, src_left ? &src : nullptr, &src_left, &dst, &dst_left);
      out.append(buffer, dst - buffer);
      if (result != static_cast<size_t>(-1)) {
        if (src_left == 0) break;
        continue;
      }
      if (errno == E2BIG) continue;
      return std::nullopt;  // EILSEQ, EINVAL: invalid or incomplete input
    }
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  Converter converter("CP932", "UTF-8");
  return converter.Convert(utf8);
}

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
  Converter converter("UTF-8", "CP932");
  return converter.Convert(cp932);
}

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
