// Whole-file reading and writing on Windows: UTF-8 paths through the wide calls, so that
// any name the file system holds can be given, whatever the system's ANSI code page.
#include <windows.h>

#include <algorithm>

#include "tools/patchtool/files.h"
#include "tools/patchtool/tool.h"
#include "tools/patchtool/wide_text_win.h"
#include "win/handle.h"

namespace patchtool {
namespace {

std::string Reason() { return SystemMessage(GetLastError()); }

}  // namespace

Bytes ReadWholeFile(const std::string& path, const char* what, bool below_four_gib, size_t zeros_before) {
  win::FileHandle file(CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) throw ToolError(std::string("cannot open ") + what + " " + path + ": " + Reason());
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) {
    throw ToolError(std::string("cannot stat ") + what + " " + path + ": " + Reason());
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(file.get()) != FILE_TYPE_DISK) {
    throw ToolError(std::string(what) + " " + path + " is not a regular file");
  }
  const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  if (below_four_gib && size >= kFourGiB) {
    throw ToolError(std::string(what) + " " + path + " is " + std::to_string(size) +
                    " bytes; the patch format holds files below 4 GiB only");
  }
  if (size > SIZE_MAX - zeros_before) {
    throw ToolError(std::string(what) + " " + path + " is too large to be read into memory");
  }
  Bytes bytes(zeros_before + static_cast<size_t>(size));
  size_t done = zeros_before;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, size_t{1} << 30));
    DWORD n = 0;
    if (!ReadFile(file.get(), bytes.data() + done, chunk, &n, nullptr)) {
      throw ToolError(std::string("cannot read ") + what + " " + path + ": " + Reason());
    }
    if (n == 0) throw ToolError(std::string(what) + " " + path + " became shorter while it was read");
    done += n;
  }
  return bytes;
}

void WriteWholeFile(const std::string& path, const Bytes& bytes) {
  const std::wstring target = WidePath(path);
  // A name of our own beside the target, made new: never an existing file of someone else's.
  std::wstring temp;
  win::FileHandle file;
  for (unsigned attempt = 0; attempt < 100 && !file; ++attempt) {
    temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) + L".tmp";
    file.reset(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (!file) throw ToolError("cannot create a file beside " + path + ": " + Reason());
  const auto fail = [&](const std::string& message) {
    file.reset();
    DeleteFileW(temp.c_str());
    throw ToolError(message);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, size_t{1} << 30));
    DWORD n = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &n, nullptr) || n == 0) {
      fail("cannot write " + path + ": " + Reason());
    }
    done += n;
  }
  if (!FlushFileBuffers(file.get())) fail("cannot write " + path + ": " + Reason());
  file.reset();
  if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::string reason = Reason();
    DeleteFileW(temp.c_str());
    throw ToolError("cannot write " + path + ": " + reason);
  }
}

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  const size_t separator = p.find_last_of("/\\:");
  return separator == std::string::npos ? p : p.substr(separator + 1);
}

LocalTime LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
    throw ToolError("cannot read the last-write time of " + path + ": " + Reason());
  }
  // The time zone's rules for that date, as the applier's conversion back applies them.
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    throw ToolError("cannot convert the last-write time of " + path);
  }
  return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond > 59 ? 59 : local.wSecond};
}

void RemoveQuietly(const std::string& path) {
  if (const auto wide = Utf8ToWide(path)) DeleteFileW(wide->c_str());
}

}  // namespace patchtool
