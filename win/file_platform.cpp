#include "win/file_platform.h"

#include "core/patch/paths.h"
#include "win/handle.h"
#include "win/library_search.h"

namespace win {
namespace {

HANDLE AsHandle(patch::OutputFile file) { return reinterpret_cast<HANDLE>(file); }

// The programs run with administrator rights in a folder that standard users can write.
// A file they write must be the file they opened: never the target of a link or reparse
// point planted under that name, never a file that has other names (hard links) elsewhere.
bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks == 1;
}

patch::LoadResult LoadFromHandle(HANDLE file, patch::FileBlock* block) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD size = GetFileSize(file, &high);
  if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0) return patch::LoadResult::SizeFailed;

  GlobalBlock memory(GlobalAlloc(GMEM_ZEROINIT, size));
  if (!memory) return patch::LoadResult::AllocFailed;
  GlobalLockView view(memory.get());
  if (!view.data()) return patch::LoadResult::LockFailed;

  // A short read would leave zeros where the file has bytes and the checksum would judge
  // the wrong contents, so it fails like any other read.
  DWORD read = 0;
  if (!ReadFile(file, view.data(), size, &read, nullptr) || read != size) return patch::LoadResult::ReadFailed;

  block->data = static_cast<uint8_t*>(view.release());
  block->size = size;
  block->handle = memory.release();
  return patch::LoadResult::Ok;
}

// FILE_RENAME_INFO with room for a whole path; the layout of every header version (the
// first member is a BOOLEAN or, in newer headers, a DWORD of flags in its place).
struct RenameInformation {
  DWORD replace_if_exists;
  HANDLE root_directory;
  DWORD name_bytes;
  WCHAR name[patch::kPathCapacity];
};
constexpr int kFileRenameInfo = 3;  // FILE_INFO_BY_HANDLE_CLASS

enum class HandleRename { Done, Failed, Unsupported };

// Renames the open file itself (Vista and later), so the file that was checked is the file
// that moves. Unsupported when the system or the file system has no such call.
HandleRename RenameByHandle(HANDLE file, const char* to, bool replace) {
  using SetInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
  auto set_information = detail::KernelFunction<SetInformationFn>("SetFileInformationByHandle");
  if (!set_information) return HandleRename::Unsupported;
  RenameInformation info{};
  info.replace_if_exists = replace ? TRUE : FALSE;
  const int characters = MultiByteToWideChar(CP_ACP, 0, to, -1, info.name, patch::kPathCapacity);
  if (characters <= 0) return HandleRename::Failed;
  info.name_bytes = DWORD(characters - 1) * sizeof(WCHAR);
  const DWORD size = DWORD(reinterpret_cast<const char*>(info.name) - reinterpret_cast<const char*>(&info)) +
                     DWORD(characters) * sizeof(WCHAR);
  if (set_information(file, kFileRenameInfo, &info, size)) return HandleRename::Done;
  switch (GetLastError()) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return HandleRename::Unsupported;
    default:
      return HandleRename::Failed;
  }
}

// A copy that keeps the contents and the last-write time, on disk, never over a file.
bool CopyToDisk(const char* from, const char* to) {
  if (!CopyFileA(from, to, TRUE)) return false;
  FileHandle copy(CreateFileA(to, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (copy && FlushFileBuffers(copy.get())) return true;
  copy.reset();
  DeleteFileA(to);
  return false;
}

}  // namespace

FilePlatform::FilePlatform() : old_family_((GetVersion() & 0x80000000u) != 0) {}

patch::LoadResult FilePlatform::LoadWholeFile(const char* path, patch::FileBlock* block) {
  *block = patch::FileBlock{};
  FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return patch::LoadResult::OpenFailed;
  return LoadFromHandle(file.get(), block);
}

// Read back through the handle that wrote it: nobody else has been able to open it since.
patch::LoadResult FilePlatform::LoadOutput(patch::OutputFile file, const char*, patch::FileBlock* block) {
  *block = patch::FileBlock{};
  if (SetFilePointer(AsHandle(file), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return patch::LoadResult::ReadFailed;
  }
  return LoadFromHandle(AsHandle(file), block);
}

// A block lent without a handle (patchtool.exe's own image) is passed over.
void FilePlatform::ReleaseBlock(patch::FileBlock* block) {
  if (block->handle) {
    HGLOBAL memory = static_cast<HGLOBAL>(block->handle);
    GlobalUnlock(memory);
    GlobalFree(memory);
  }
  *block = patch::FileBlock{};
}

patch::FoundKind FilePlatform::Find(const char* path) {
  WIN32_FIND_DATAA data;
  FindHandle found(FindFirstFileA(path, &data));
  if (!found) return patch::FoundKind::None;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return patch::FoundKind::File;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? patch::FoundKind::LinkedFolder : patch::FoundKind::Folder;
}

// An older file of that name goes first (a link goes as a link, its target untouched);
// then the file is made new, and creation fails if anything is still or again there. It is
// shared with nobody until it is closed: no other program reads a half-written file,
// writes into it, replaces or deletes it, before it has been checked and moved into place.
bool FilePlatform::CreateOutput(const char* path, patch::OutputFile* file) {
  DeleteFileA(path);
  FileHandle created(CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!created || !IsPlainFile(created.get())) return false;
  *file = reinterpret_cast<patch::OutputFile>(created.release());
  return true;
}

// A file changed in place must be that file itself, not what a link of that name points to.
bool FilePlatform::OpenExistingForWrite(const char* path, patch::OutputFile* file) {
  FileHandle opened(CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!opened || !IsPlainFile(opened.get())) return false;
  *file = reinterpret_cast<patch::OutputFile>(opened.release());
  return true;
}

bool FilePlatform::WriteOutput(patch::OutputFile file, const uint8_t* data, uint32_t length) {
  DWORD written = 0;
  return WriteFile(AsHandle(file), data, length, &written, nullptr) && written == length;
}

// A date that is no calendar date cannot be converted; the file then keeps the time it
// has and the caller shows the conversion's error code like any other stamping failure.
bool FilePlatform::SetLastWriteTime(patch::OutputFile file, const patch::LocalStamp& stamp, uint32_t* error_code) {
  SYSTEMTIME local{};
  local.wYear = WORD(stamp.year);
  local.wMonth = WORD(stamp.month);
  local.wDayOfWeek = 0;
  local.wDay = WORD(stamp.day);
  local.wHour = WORD(stamp.hour);
  local.wMinute = WORD(stamp.minute);
  local.wSecond = WORD(stamp.second);
  local.wMilliseconds = 0;
  FILETIME local_time, utc;
  if (!SystemTimeToFileTime(&local, &local_time) || !LocalFileTimeToFileTime(&local_time, &utc) ||
      !SetFileTime(AsHandle(file), nullptr, nullptr, &utc)) {
    *error_code = GetLastError();
    return false;
  }
  return true;
}

bool FilePlatform::ReadLastWrite(patch::OutputFile file, uint64_t* time) {
  FILETIME written;
  if (!GetFileTime(AsHandle(file), nullptr, nullptr, &written)) return false;
  *time = (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
  return true;
}

bool FilePlatform::WriteLastWrite(patch::OutputFile file, uint64_t time) {
  FILETIME written;
  written.dwLowDateTime = DWORD(time);
  written.dwHighDateTime = DWORD(time >> 32);
  return SetFileTime(AsHandle(file), nullptr, nullptr, &written) != FALSE;
}

bool FilePlatform::FlushOutput(patch::OutputFile file) { return FlushFileBuffers(AsHandle(file)) != FALSE; }

void FilePlatform::CloseOutput(patch::OutputFile file) {
  if (AsHandle(file) == closed_for_move_) {
    closed_for_move_ = nullptr;
    return;
  }
  CloseHandle(AsHandle(file));
}

// Where the system cannot rename an open file, the file is let go and moved by its name:
// held as long as the system allows.
bool FilePlatform::MoveOutput(patch::OutputFile file, const char* from, const char* to, bool replace) {
  if (!old_family_) {
    switch (RenameByHandle(AsHandle(file), to, replace)) {
      case HandleRename::Done:
        // The file's own flush writes its new name into the volume's log with it.
        FlushFileBuffers(AsHandle(file));
        return true;
      case HandleRename::Failed:
        return false;
      case HandleRename::Unsupported:
        break;
    }
  }
  CloseHandle(AsHandle(file));
  closed_for_move_ = AsHandle(file);
  return replace ? ReplaceFile(from, to) : RenameFile(from, to);
}

bool FilePlatform::RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool FilePlatform::RenameFile(const char* from, const char* to) {
  if (old_family_) return MoveFileA(from, to) != FALSE;
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool FilePlatform::ReplaceFile(const char* from, const char* to) {
  if (old_family_) {
    // No replacing rename: the target goes first; a run cut off here is mended from the
    // rollback file by the next start.
    if (!DeleteFileA(to) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    return MoveFileA(from, to) != FALSE;
  }
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// A hard link where the system and the file system have them (NT 5 and later, NTFS):
// looked up at run time, so the programs still start where there is none.
bool FilePlatform::KeepCopy(const char* from, const char* to) {
  using CreateHardLinkFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);
  if (!old_family_) {
    if (auto link = detail::KernelFunction<CreateHardLinkFn>("CreateHardLinkA")) {
      if (link(to, from, nullptr)) return true;
      if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) return false;
    }
  }
  return CopyToDisk(from, to);
}

// The folder's own handle, flushed: its records on disk. Systems and file systems that
// cannot flush a folder have written the records through already.
bool FilePlatform::FlushFolder(const char* path) {
  if (old_family_) return true;
  char folder[patch::kPathCapacity];
  patch::PathBuilder b(folder, sizeof folder);
  b.Append(path, patch::FolderLength(path));
  if (!b.ok()) return false;
  FileHandle handle(CreateFileA(folder, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle && FlushFileBuffers(handle.get());
}

bool FilePlatform::MakeFolder(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

bool FilePlatform::RemoveFolder(const char* path) { return RemoveDirectoryA(path) != FALSE; }

}  // namespace win
