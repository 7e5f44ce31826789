#pragma once
// UTF-8 (the tool's own text: arguments, messages, file names) and the UTF-16 of the
// system's wide calls.
#include <optional>
#include <string>
#include <string_view>

namespace patchtool {

// Text of a code page (a Windows code page number) as UTF-16; nullopt when it is not
// valid text of that code page.
std::optional<std::wstring> ToWide(unsigned code_page, std::string_view text);

// nullopt when the text is not valid UTF-8 (or valid UTF-16 for the other direction).
std::optional<std::wstring> Utf8ToWide(std::string_view utf8);
std::optional<std::string> WideToUtf8(std::wstring_view wide);

// A file name for the wide calls; throws ToolError when `path` is not valid UTF-8.
std::wstring WidePath(const std::string& path);

// The system's text for an error code, in UTF-8 ("error N" when it has none).
std::string SystemMessage(unsigned long error);

}  // namespace patchtool
