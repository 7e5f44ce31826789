#include "tools/patchtool/wide_text_win.h"

#include <windows.h>

#include "tools/patchtool/tool.h"

namespace patchtool {

std::optional<std::wstring> ToWide(unsigned code_page, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

std::optional<std::wstring> Utf8ToWide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::optional<std::string> WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
  if (n <= 0) return std::nullopt;
  std::string utf8(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), int(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::wstring WidePath(const std::string& path) {
  auto wide = Utf8ToWide(path);
  if (!wide) throw ToolError("the path \"" + path + "\" is not valid UTF-8");
  if (wide->find(L'\0') != std::wstring::npos) throw ToolError("the path \"" + path + "\" contains a zero byte");
  return *wide;
}

std::string SystemMessage(unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                              message.back() == L'.')) {
    message.pop_back();
  }
  auto utf8 = WideToUtf8(message);
  if (!utf8 || utf8->empty()) return "error " + std::to_string(error);
  return *utf8 + " (error " + std::to_string(error) + ")";
}

}  // namespace patchtool
