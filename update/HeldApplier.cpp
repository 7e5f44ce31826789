#include "update/HeldApplier.h"

#include <cstring>
#include <vector>

namespace update {
namespace {

struct Identity {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
  bool operator==(const Identity&) const = default;
};

// The file's identity when it is a plain file with no other name: not a reparse point, not
// a folder, not hard-linked from elsewhere.
bool PlainFileIdentity(HANDLE file, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (info.nNumberOfLinks != 1) return false;
  *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

bool HoldsExactly(HANDLE file, const void* data, DWORD size) {
  DWORD high = 0;
  if (GetFileSize(file, &high) != size || high != 0) return false;
  std::vector<char> buffer(64 * 1024);
  const char* expected = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < size) {
    const DWORD want = size - done < buffer.size() ? size - done : static_cast<DWORD>(buffer.size());
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), want, &read, nullptr) || read != want) return false;
    if (std::memcmp(buffer.data(), expected + done, read) != 0) return false;
    done += read;
  }
  return true;
}

}  // namespace

win::Status HeldApplier::Write(const std::string& path, const void* data, DWORD size) {
  const std::string not_created = "ファイル " + path + " を作成できません";
  DeleteFileA(path.c_str());
  Identity written;
  {
    win::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file || !PlainFileIdentity(file.get(), &written)) return win::Status::Error(not_created);
    DWORD count = 0;
    if (!WriteFile(file.get(), data, size, &count, nullptr) || count != size) {
      return win::Status::Error("ストリームへの書き込みエラー");
    }
  }
  // A file being executed cannot be open for writing, so the writer goes and a reader that
  // lets nobody else write, rename or delete takes its place. Whatever happened to the path
  // in between shows here: another file, other bytes, or another holder that makes the
  // open fail.
  file_.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  Identity held;
  if (!file_ || !PlainFileIdentity(file_.get(), &held) || !(held == written) || !HoldsExactly(file_.get(), data, size)) {
    file_.reset();
    return win::Status::Error(not_created);
  }
  return {};
}

}  // namespace update
