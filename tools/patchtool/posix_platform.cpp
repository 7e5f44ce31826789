#include "tools/patchtool/posix_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "core/patch/format.h"
#include "core/text/cp932.h"
#include "tools/patchtool/cp932_convert.h"
#include "tools/patchtool/files.h"

namespace patchtool {
namespace {

// The Windows code the time-stamp box shows for a date the conversion refuses.
constexpr uint32_t kErrorInvalidParameter = 87;

// Files from this size on are mapped instead of read into the heap.
constexpr uint64_t kMapAtLeast = uint64_t{1} << 20;

// What a block's handle points to: how to give its memory back.
struct LoadedBlock {
  uint8_t* data;
  uint64_t size;
  bool mapped;
};

bool SameNameIgnoringCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (text::FoldAsciiCase(a[i]) != text::FoldAsciiCase(b[i])) return false;
  }
  return true;
}

bool Exists(const std::string& path, struct stat* st = nullptr) {
  struct stat local;
  return ::lstat(path.c_str(), st ? st : &local) == 0;
}

// The existing entry of `folder` whose name equals `name` without regard to ASCII case,
// or `name` itself when there is none.
std::string MatchName(const std::string& folder, const std::string& name) {
  if (name == "." || name == ".." || Exists(folder + name)) return name;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return name;
  std::string found = name;
  while (const dirent* entry = ::readdir(dir)) {
    if (SameNameIgnoringCase(name, entry->d_name)) {
      found = entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

bool ValidCalendarDate(const patch::LocalStamp& s) {
  if (s.year < 1601 || s.month < 1 || s.month > 12 || s.day < 1) return false;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (s.year % 4 == 0 && s.year % 100 != 0) || s.year % 400 == 0;
  const int days = kDays[s.month - 1] + ((s.month == 2 && leap) ? 1 : 0);
  return s.day <= days && s.hour >= 0 && s.hour <= 23 && s.minute >= 0 && s.minute <= 59 && s.second >= 0 &&
         s.second <= 59;
}

int Fd(patch::OutputFile file) { return static_cast<int>(file); }

// The folder that holds `real_path`, with its records on disk.
bool SyncFolderOf(const std::string& real_path) {
  const size_t slash = real_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : real_path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

PosixPlatform::PosixPlatform(PosixPlatformOptions options, std::ostream& out)
    : PrintingPlatform(out, options.verbose), options_(std::move(options)) {}

PosixPlatform::~PosixPlatform() = default;

std::optional<std::string> PosixPlatform::ToRealPath(const char* run_path) {
  // Separators first, on the code page 932 bytes: a second byte 0x5C is part of its
  // character ("表" is 95 5C) and must stay one.
  std::string slashed;
  for (size_t i = 0; run_path[i] != '\0'; ++i) {
    const char c = run_path[i];
    if (text::kCp932.IsLead(c) && run_path[i + 1] != '\0') {
      slashed += c;
      slashed += run_path[++i];
    } else {
      slashed += (c == '\\') ? '/' : c;
    }
  }
  const auto utf8 = Cp932ToUtf8(slashed);
  if (!utf8) return std::nullopt;

  std::string real;
  size_t pos = 0;
  if (!utf8->empty() && (*utf8)[0] == '/') {
    real = "/";
    pos = 1;
  }
  while (pos <= utf8->size()) {
    size_t slash = utf8->find('/', pos);
    if (slash == std::string::npos) slash = utf8->size();
    const std::string name = utf8->substr(pos, slash - pos);
    if (!name.empty()) {
      real += MatchName(real, name);
      if (slash < utf8->size()) real += '/';
    }
    pos = slash + 1;
  }
  return real;
}

std::optional<std::string> PosixPlatform::ToRunPath(const std::string& real_path) {
  if (real_path.find('\\') != std::string::npos) return std::nullopt;
  std::string backslashed = real_path;
  for (char& c : backslashed) {
    if (c == '/') c = '\\';
  }
  return Utf8ToCp932(backslashed);
}

bool PosixPlatform::OwnPath(char* buffer, size_t size) {
  if (options_.own_path.size() >= size) return false;
  std::memcpy(buffer, options_.own_path.c_str(), options_.own_path.size() + 1);
  return true;
}

bool PosixPlatform::WindowsFolder(char* buffer, size_t size) {
  if (!options_.windows_folder || options_.windows_folder->size() >= size) return false;
  std::memcpy(buffer, options_.windows_folder->c_str(), options_.windows_folder->size() + 1);
  return true;
}

patch::LoadResult PosixPlatform::LoadOwnFile(const char*, patch::FileBlock* block) {
  if (options_.own_image.size() >= kFourGiB) return patch::LoadResult::SizeFailed;
  block->data = options_.own_image.data();
  block->size = static_cast<uint32_t>(options_.own_image.size());
  block->handle = nullptr;  // borrowed: nothing to give back
  return patch::LoadResult::Ok;
}

patch::LoadResult PosixPlatform::LoadWholeFile(const char* path, patch::FileBlock* block) {
  const auto real = ToRealPath(path);
  if (!real) return patch::LoadResult::OpenFailed;
  const int fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return patch::LoadResult::OpenFailed;
  struct stat st;
  // CreateFileA cannot open a folder as a file.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return patch::LoadResult::OpenFailed;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size >= kFourGiB) {
    ::close(fd);
    return patch::LoadResult::SizeFailed;
  }
  // Files of some size are mapped rather than read: the run only reads them, and copying
  // megabytes into fresh memory costs more than the rebuild itself. The mapping is private,
  // so nothing written to the block could reach the file.
  if (size >= kMapAtLeast) {
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) return patch::LoadResult::ReadFailed;
    auto* loaded = new (std::nothrow) LoadedBlock{static_cast<uint8_t*>(mapped), size, true};
    if (!loaded) {
      ::munmap(mapped, size);
      return patch::LoadResult::AllocFailed;
    }
    block->data = loaded->data;
    block->size = static_cast<uint32_t>(size);
    block->handle = loaded;
    return patch::LoadResult::Ok;
  }
  // Not zeroed: the read fills it.
  uint8_t* data = new (std::nothrow) uint8_t[size ? size : 1];
  if (!data) {
    ::close(fd);
    return patch::LoadResult::AllocFailed;
  }
  uint64_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  ::close(fd);
  if (done != size) {
    delete[] data;
    return patch::LoadResult::ReadFailed;
  }
  auto* loaded = new (std::nothrow) LoadedBlock{data, size, false};
  if (!loaded) {
    delete[] data;
    return patch::LoadResult::AllocFailed;
  }
  block->data = data;
  block->size = static_cast<uint32_t>(size);
  block->handle = loaded;
  return patch::LoadResult::Ok;
}

void PosixPlatform::ReleaseBlock(patch::FileBlock* block) {
  if (auto* loaded = static_cast<LoadedBlock*>(block->handle)) {
    if (loaded->mapped) {
      ::munmap(loaded->data, loaded->size);
    } else {
      delete[] loaded->data;
    }
    delete loaded;
  }
  *block = patch::FileBlock{};
}

bool PosixPlatform::CreateOutput(const char* path, patch::OutputFile* file) {
  const auto real = ToRealPath(path);
  if (!real) return false;
  // An older file of that name goes first, as on Windows, and the new one is made afresh.
  ::unlink(real->c_str());
  const int fd = ::open(real->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ++open_outputs_;
  *file = fd;
  return true;
}

bool PosixPlatform::OpenExistingForWrite(const char* path, patch::OutputFile* file) {
  const auto real = ToRealPath(path);
  if (!real) return false;
  const int fd = ::open(real->c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ++open_outputs_;
  *file = fd;
  return true;
}

bool PosixPlatform::WriteOutput(patch::OutputFile file, const uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(Fd(file), data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool PosixPlatform::SetLastWriteTime(patch::OutputFile file, const patch::LocalStamp& stamp, uint32_t* error_code) {
  // Like the Windows conversion, an impossible date is refused rather than rolled over.
  if (!ValidCalendarDate(stamp)) {
    *error_code = kErrorInvalidParameter;
    return false;
  }
  struct tm local = {};
  local.tm_year = stamp.year - 1900;
  local.tm_mon = stamp.month - 1;
  local.tm_mday = stamp.day;
  local.tm_hour = stamp.hour;
  local.tm_min = stamp.minute;
  local.tm_sec = stamp.second;
  local.tm_isdst = -1;
  errno = 0;
  const time_t when = ::mktime(&local);
  if (when == static_cast<time_t>(-1) && errno != 0) {
    *error_code = kErrorInvalidParameter;
    return false;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // last access stays
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  if (::futimens(Fd(file), times) != 0) {
    *error_code = static_cast<uint32_t>(errno);
    return false;
  }
  return true;
}

void PosixPlatform::CloseOutput(patch::OutputFile file) {
  ::close(Fd(file));
  --open_outputs_;
}

bool PosixPlatform::RemoveFile(const char* path) {
  const auto real = ToRealPath(path);
  struct stat st;
  // DeleteFileA removes files only.
  if (!real || !Exists(*real, &st) || S_ISDIR(st.st_mode)) return false;
  return ::unlink(real->c_str()) == 0;
}

bool PosixPlatform::RenameFile(const char* from, const char* to) {
  const auto real_from = ToRealPath(from);
  const auto real_to = ToRealPath(to);
  struct stat from_st, to_st;
  if (!real_from || !real_to || !Exists(*real_from, &from_st)) return false;
  if (Exists(*real_to, &to_st)) {
    // MoveFileA never replaces a file; only a change of case of the same name succeeds.
    if (from_st.st_dev != to_st.st_dev || from_st.st_ino != to_st.st_ino) return false;
    const size_t separator = text::FindLastSeparator(to, std::strlen(to));
    const auto name = Cp932ToUtf8(to + (separator == text::kNotFound ? 0 : separator + 1));
    if (!name) return false;
    const std::string wanted = real_to->substr(0, real_to->rfind('/') + 1) + *name;
    return ::rename(real_from->c_str(), wanted.c_str()) == 0 && SyncFolderOf(wanted);
  }
  return ::renameat2(AT_FDCWD, real_from->c_str(), AT_FDCWD, real_to->c_str(), RENAME_NOREPLACE) == 0 &&
         SyncFolderOf(*real_to);
}

bool PosixPlatform::ReplaceFile(const char* from, const char* to) {
  const auto real_from = ToRealPath(from);
  const auto real_to = ToRealPath(to);
  struct stat st;
  if (!real_from || !real_to || !Exists(*real_from, &st) || S_ISDIR(st.st_mode)) return false;
  if (!Exists(*real_to, &st)) return ::rename(real_from->c_str(), real_to->c_str()) == 0 && SyncFolderOf(*real_to);
  if (S_ISDIR(st.st_mode)) return false;
  // The new file takes the name as the run spells it, as on Windows: beside the file of
  // the other spelling first, which then goes, so the name is never missing.
  const size_t separator = text::FindLastSeparator(to, std::strlen(to));
  const auto name = Cp932ToUtf8(to + (separator == text::kNotFound ? 0 : separator + 1));
  if (!name) return false;
  const std::string wanted = real_to->substr(0, real_to->rfind('/') + 1) + *name;
  if (::rename(real_from->c_str(), wanted.c_str()) != 0) return false;
  struct stat placed, other;
  // On a file system that ignores case itself both names are the new file.
  if (wanted != *real_to && ::stat(wanted.c_str(), &placed) == 0 && ::stat(real_to->c_str(), &other) == 0 &&
      (placed.st_dev != other.st_dev || placed.st_ino != other.st_ino)) {
    ::unlink(real_to->c_str());
  }
  return SyncFolderOf(wanted);
}

bool PosixPlatform::MoveOutput(patch::OutputFile, const char* from, const char* to, bool replace) {
  return replace ? ReplaceFile(from, to) : RenameFile(from, to);
}

// A link where the file system has them; else a copy on disk with the same time.
bool PosixPlatform::KeepCopy(const char* from, const char* to) {
  const auto real_from = ToRealPath(from);
  const auto real_to = ToRealPath(to);
  if (!real_from || !real_to) return false;
  if (::link(real_from->c_str(), real_to->c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  patch::FileBlock block;
  if (LoadWholeFile(from, &block) != patch::LoadResult::Ok) return false;
  struct stat st;
  patch::OutputFile copy = 0;
  bool kept = ::stat(real_from->c_str(), &st) == 0 && !Exists(*real_to) && CreateOutput(to, &copy);
  if (kept) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    kept = WriteOutput(copy, block.data, block.size) && ::futimens(Fd(copy), times) == 0 && FlushOutput(copy);
    CloseOutput(copy);
    if (!kept) ::unlink(real_to->c_str());
  }
  ReleaseBlock(&block);
  return kept;
}

bool PosixPlatform::FlushFolder(const char* path) {
  const auto real = ToRealPath(path);
  return real && SyncFolderOf(*real);
}

bool PosixPlatform::MakeFolder(const char* path) {
  const auto real = ToRealPath(path);
  return real && ::mkdir(real->c_str(), 0777) == 0 && SyncFolderOf(*real);
}

bool PosixPlatform::RemoveFolder(const char* path) {
  const auto real = ToRealPath(path);
  return real && ::rmdir(real->c_str()) == 0 && SyncFolderOf(*real);
}

bool PosixPlatform::FlushOutput(patch::OutputFile file) { return ::fsync(Fd(file)) == 0; }

// Read back by its name: the vendor's own files on the vendor's own machine.
patch::LoadResult PosixPlatform::LoadOutput(patch::OutputFile, const char* path, patch::FileBlock* block) {
  return LoadWholeFile(path, block);
}

// File times count 100 ns units from 1601; Linux counts from 1970.
constexpr uint64_t kUnixEpochInFileTime = 116444736000000000ull;

bool PosixPlatform::ReadLastWrite(patch::OutputFile file, uint64_t* time) {
  struct stat st;
  if (::fstat(Fd(file), &st) != 0 || st.st_mtim.tv_sec < 0) return false;
  *time = kUnixEpochInFileTime + static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000u +
          static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100u;
  return true;
}

bool PosixPlatform::WriteLastWrite(patch::OutputFile file, uint64_t time) {
  if (time < kUnixEpochInFileTime) return false;
  const uint64_t since = time - kUnixEpochInFileTime;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(since / 10000000u);
  times[1].tv_nsec = static_cast<long>(since % 10000000u) * 100;
  return ::futimens(Fd(file), times) == 0;
}

patch::FoundKind PosixPlatform::Find(const char* path) {
  const auto real = ToRealPath(path);
  struct stat st;
  if (!real || ::stat(real->c_str(), &st) != 0) return patch::FoundKind::None;
  if (!S_ISDIR(st.st_mode)) return patch::FoundKind::File;
  struct stat own;
  return ::lstat(real->c_str(), &own) == 0 && S_ISLNK(own.st_mode) ? patch::FoundKind::LinkedFolder
                                                                    : patch::FoundKind::Folder;
}

void PosixPlatform::ShellOpen(const char* path) {
  const auto real = ToRealPath(path);
  out() << "open: " << Cp932ToUtf8ForDisplay(path);
  if (real) out() << " (" << *real << ")";
  out() << "\n";
}

}  // namespace patchtool
