#include "core/wizard/install_folder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace wizard {

InstallValue ReadInstallValue(ValueSource& value) {
  uint32_t type = 0;
  uint32_t size = 0;
  if (!value.QueryTypeAndSize(&type, &size) || size == 0) return {};

  std::vector<char> data(size);
  uint32_t read = size;
  if (!value.Read(data.data(), &read)) return {ValueOutcome::kReadFailed, {}};
  if (type != kRegString && type != kRegExpandString) return {ValueOutcome::kWrongType, {}};

  // Registry strings need not be zero-terminated, and may hold more after the first zero.
  const size_t length = std::min<size_t>(read, size);
  const void* zero = std::memchr(data.data(), '\0', length);
  const size_t used = zero ? static_cast<size_t>(static_cast<const char*>(zero) - data.data()) : length;
  return {ValueOutcome::kText, std::string(data.data(), used)};
}

std::string InstallValueErrorText(ValueOutcome outcome, std::string_view value_name) {
  std::string_view after;
  switch (outcome) {
    case ValueOutcome::kText: return {};
    case ValueOutcome::kReadFailed: after = "' の取得に失敗しました"; break;
    case ValueOutcome::kWrongType: after = "' のデータ型が不正です"; break;
  }
  std::string message = "'";
  message.append(value_name);
  message.append(after);
  return message;
}

std::string FolderFromInstallValue(std::string_view text, const text::LeadByteTable& lead_bytes) {
  return std::string(text.substr(0, text::FolderPartLength(text.data(), text.size(), lead_bytes)));
}

std::string DefaultInstallFolder(std::string_view windows_directory,
                                 const std::function<bool(const std::string&)>& folder_exists,
                                 std::string_view sub_folder) {
  std::string root = "C:\\";
  if (!windows_directory.empty()) {
    std::string drive_root = std::string(1, windows_directory.front()) + ":\\";
    if (folder_exists(drive_root)) root = drive_root;
  }
  return root.append(sub_folder);
}

}  // namespace wizard
