#pragma once
// Between the tool's UTF-8 (command line, terminal, file names on disk) and the code page
// 932 byte strings of the patch data and the applier's run.
#include <optional>
#include <string>
#include <string_view>

namespace patchtool {

// nullopt when the text is not valid UTF-8 or has a character without a code page 932 form.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// nullopt when the bytes are not valid code page 932.
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);

// For showing texts read from patch data: bytes that do not convert appear as \xNN.
std::string Cp932ToUtf8ForDisplay(std::string_view cp932);

}  // namespace patchtool
