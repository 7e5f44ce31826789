// Code page 932 through the system's iconv (the Windows build converts with its own calls:
// cp932_convert_win.cpp).
#include "tools/patchtool/cp932_convert.h"

#include <iconv.h>

#include <cerrno>

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

}  // namespace patchtool
