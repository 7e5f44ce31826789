#include "core/patch/paths.h"

#include "core/patch/messages.h"

namespace patch {

void PathBuilder::AppendDecimal(uint32_t value) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  char reversed[10];
  for (int i = 0; i < n; ++i) reversed[i] = digits[n - 1 - i];
  Append(reversed, static_cast<size_t>(n));
}

size_t FolderLength(const char* path) {
  const size_t sep = text::FindLastSeparator(path, std::strlen(path));
  return sep == text::kNotFound ? 0 : sep + 1;
}

bool MakeOwnFolder(const char* own_path, char* out, size_t capacity) {
  PathBuilder b(out, capacity);
  b.Append(own_path, FolderLength(own_path));
  return b.ok();
}

bool ResolveTargetPath(const EntryHeader& header, const char* own_folder, const char* windows_folder, char* out,
                       size_t capacity) {
  PathBuilder b(out, capacity);
  const TextRef& folder = header.target_folder;
  const TextRef& name = header.target_name;
  if (folder.length == 0) {
    b.Append(own_folder);
  } else if (folder.data[0] == '*') {
    if (windows_folder == nullptr) return false;
    b.Append(windows_folder);
    b.Append(folder.data + 1, folder.length - 1);  // no separator between the two
    b.Append("\\");
  } else {
    b.Append(own_folder);
    b.Append(folder.data, folder.length);
    b.Append("\\");
  }
  b.Append(name.data, name.length);
  return b.ok();
}

bool MakeTempPath(const char* target_path, char* out, size_t capacity) {
  return MakeWorkPath(target_path, 0, msg::kTempExtension, out, capacity);
}

bool MakeBackupPath(const char* target_path, char* out, size_t capacity) {
  const size_t length = std::strlen(target_path);
  size_t cut = length;
  bool has_dot = false;
  for (size_t i = FolderLength(target_path); i < length; ++i) {
    if (text::kCp932.IsLead(target_path[i]) && i + 1 < length) {
      ++i;
    } else if (target_path[i] == '.') {
      cut = i + 1;
      has_dot = true;
      break;
    }
  }
  PathBuilder b(out, capacity);
  b.Append(target_path, cut);
  if (!has_dot) b.Append(".");
  b.Append(msg::kBackupExtension);
  return b.ok();
}

bool MakeWorkPath(const char* path, uint32_t number, const char* extension, char* out, size_t capacity) {
  PathBuilder b(out, capacity);
  b.Append(path, FolderLength(path));
  b.Append(msg::kWorkFileStem);
  if (number != 0) b.AppendDecimal(number);
  b.Append(".");
  b.Append(extension);
  return b.ok();
}

bool IsWorkFileName(const char* path) {
  const char* name = path + FolderLength(path);
  const size_t stem = std::strlen(msg::kWorkFileStem);
  for (size_t i = 0; i < stem; ++i) {
    if (text::FoldAsciiCase(name[i]) != msg::kWorkFileStem[i]) return false;
  }
  const char* p = name + stem;
  while (*p >= '0' && *p <= '9') ++p;
  if (*p != '.') return false;
  for (const char* extension : {msg::kTempExtension, msg::kRollbackExtension, msg::kRecordExtension,
                                msg::kRecordDraftExtension}) {
    if (text::SameFileName(p + 1, extension)) return true;
  }
  return false;
}

}  // namespace patch
