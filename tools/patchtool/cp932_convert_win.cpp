// Code page 932 through the system's own conversion calls (the native build uses iconv:
// cp932_convert.cpp). Each direction goes through UTF-16 and is refused when a character
// has no exact form on the other side: no best-fit substitutes, no default characters.
#include <windows.h>

#include "tools/patchtool/cp932_convert.h"
#include "tools/patchtool/wide_text_win.h"

namespace patchtool {
namespace {

constexpr UINT kCp932 = 932;

std::optional<std::string> WideToCp932(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  BOOL used_default = FALSE;
  const int n = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                    &used_default);
  if (n <= 0 || used_default) return std::nullopt;
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::optional<std::wstring> Cp932ToWide(std::string_view cp932) { return ToWide(kCp932, cp932); }

}  // namespace

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  const auto wide = Utf8ToWide(utf8);
  if (!wide) return std::nullopt;
  auto cp932 = WideToCp932(*wide);
  // Some systems map several characters onto one byte sequence without reporting it; only
  // a text that comes back unchanged is taken.
  if (!cp932 || Cp932ToWide(*cp932) != wide) return std::nullopt;
  return cp932;
}

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
  const auto wide = Cp932ToWide(cp932);
  if (!wide) return std::nullopt;
  return WideToUtf8(*wide);
}

}  // namespace patchtool
