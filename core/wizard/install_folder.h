#pragma once
// Where the wizard proposes to look for the installed application: the folder part of the
// path that the application's uninstall entry names, else a folder of our own on the drive
// that holds the Windows directory. Portable so that every odd registry value can be tried
// on Linux; the wizard's Windows side only supplies the registry and the file system.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/text/cp932.h"

namespace wizard {

// The registry value types whose data is taken as a path (REG_SZ, REG_EXPAND_SZ).
inline constexpr uint32_t kRegString = 1;
inline constexpr uint32_t kRegExpandString = 2;

// One value of an open registry key, as the lookup needs it.
class ValueSource {
 public:
  virtual ~ValueSource() = default;
  // Type and size of the data without reading it; false when the value cannot be queried
  // (it is missing, for example).
  virtual bool QueryTypeAndSize(uint32_t* type, uint32_t* size) = 0;
  // Reads the data into `buffer`, which holds `*size` bytes; on success `*size` is the number
  // of bytes read. False when the read fails (also when the data has grown since the query).
  virtual bool Read(char* buffer, uint32_t* size) = 0;
};

enum class ValueOutcome {
  kText,        // `text` holds the value cut at its first zero byte (may be empty)
  kReadFailed,  // the data could not be read
  kWrongType,   // non-empty data of a type other than REG_SZ / REG_EXPAND_SZ
};

struct InstallValue {
  ValueOutcome outcome = ValueOutcome::kText;
  std::string text;
};

// A missing value and an empty one of any type both give empty text and no error: only
// data that is there and cannot be used as a path is worth telling the user about.
// REG_EXPAND_SZ data is taken as stored, without expanding variables.
InstallValue ReadInstallValue(ValueSource& value);

// The message the wizard raises for a failed outcome, with `value_name` in place of %s:
// "'%s' の取得に失敗しました" or "'%s' のデータ型が不正です". Empty for kText.
std::string InstallValueErrorText(ValueOutcome outcome, std::string_view value_name);

// The install folder named by the value's text: its folder part, trailing "\" included.
// Quotes and an icon index (",0") are not cleaned up: the index falls into the file name
// and goes with it. Empty when the text holds no "\" or ":" of its own.
std::string FolderFromInstallValue(std::string_view text, const text::LeadByteTable& lead_bytes);

// The proposed folder when the registry names none: the root of the Windows directory's
// drive (its first byte followed by ":\"), or "C:\" when that root is not an existing folder
// (a network path, or no Windows directory at all), followed by `sub_folder`. Whether the
// result exists is not looked at.
std::string DefaultInstallFolder(std::string_view windows_directory,
                                 const std::function<bool(const std::string&)>& folder_exists,
                                 std::string_view sub_folder);

}  // namespace wizard
