#include "applier/win32_platform.h"

#include <commctrl.h>
#include <shellapi.h>

#include "applier/user_shell.h"
#include "core/patch/applier_run.h"
#include "core/patch/messages.h"
#include "win/handle.h"
#include "win/library_search.h"

namespace applier {
namespace {

constexpr int kProgressBar = 1000;

HANDLE AsHandle(patch::OutputFile file) { return reinterpret_cast<HANDLE>(file); }

// The applier runs with administrator rights in a folder that standard users can write.
// A file it writes must be the file it opened: never the target of a link or reparse
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

  win::GlobalBlock memory(GlobalAlloc(GMEM_ZEROINIT, size));
  if (!memory) return patch::LoadResult::AllocFailed;
  win::GlobalLockView view(memory.get());
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
HandleRename RenameByHandle(HANDLE file, const char* to) {
  using SetInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
  auto set_information = win::detail::KernelFunction<SetInformationFn>("SetFileInformationByHandle");
  if (!set_information) return HandleRename::Unsupported;
  RenameInformation info{};
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

// The dialog only shows progress: every command, the close box's IDCANCEL included, is
// swallowed so that the work cannot be interrupted half-way.
INT_PTR CALLBACK ProgressDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_COMMAND ? TRUE : FALSE;
}

}  // namespace

Win32Platform::~Win32Platform() { CloseProgressDialog(); }

bool Win32Platform::OwnPath(char* buffer, size_t size) {
  DWORD length = GetModuleFileNameA(nullptr, buffer, DWORD(size));
  // A full buffer means the path was cut.
  return length != 0 && length < size;
}

bool Win32Platform::WindowsFolder(char* buffer, size_t size) {
  UINT length = GetWindowsDirectoryA(buffer, UINT(size));
  return length != 0 && length < size;
}

patch::LoadResult Win32Platform::LoadWholeFile(const char* path, patch::FileBlock* block) {
  *block = patch::FileBlock{};
  win::FileHandle file(
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return patch::LoadResult::OpenFailed;
  return LoadFromHandle(file.get(), block);
}

// Read back through the handle that wrote it: nobody else has been able to open it since.
patch::LoadResult Win32Platform::LoadOutput(patch::OutputFile file, const char*, patch::FileBlock* block) {
  *block = patch::FileBlock{};
  if (SetFilePointer(AsHandle(file), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return patch::LoadResult::ReadFailed;
  }
  return LoadFromHandle(AsHandle(file), block);
}

void Win32Platform::ReleaseBlock(patch::FileBlock* block) {
  if (block->handle) {
    HGLOBAL memory = static_cast<HGLOBAL>(block->handle);
    GlobalUnlock(memory);
    GlobalFree(memory);
  }
  *block = patch::FileBlock{};
}

// An older file of that name goes first (a link goes as a link, its target untouched);
// then the file is made new, and creation fails if anything is still or again there. It is
// shared with nobody until it is closed: no other program reads a half-written file,
// writes into it, replaces or deletes it, before it has been checked and moved into place.
bool Win32Platform::CreateOutput(const char* path, patch::OutputFile* file) {
  DeleteFileA(path);
  win::FileHandle created(CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!created || !IsPlainFile(created.get())) return false;
  *file = reinterpret_cast<patch::OutputFile>(created.release());
  return true;
}

// A file changed in place must be that file itself, not what a link of that name points to.
bool Win32Platform::OpenExistingForWrite(const char* path, patch::OutputFile* file) {
  win::FileHandle opened(
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!opened || !IsPlainFile(opened.get())) return false;
  *file = reinterpret_cast<patch::OutputFile>(opened.release());
  return true;
}

bool Win32Platform::WriteOutput(patch::OutputFile file, const uint8_t* data, uint32_t length) {
  DWORD written = 0;
  return WriteFile(AsHandle(file), data, length, &written, nullptr) && written == length;
}

// A date that is no calendar date cannot be converted; the file then keeps the time it
// has and the caller shows the conversion's error code like any other stamping failure.
bool Win32Platform::SetLastWriteTime(patch::OutputFile file, const patch::LocalStamp& stamp, uint32_t* error_code) {
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

void Win32Platform::CloseOutput(patch::OutputFile file) {
  if (AsHandle(file) == closed_for_move_) {
    closed_for_move_ = nullptr;
    return;
  }
  CloseHandle(AsHandle(file));
}

// Where the system cannot rename an open file, the file is let go and moved by its name
// as before: held as long as the system allows.
bool Win32Platform::MoveOutput(patch::OutputFile file, const char* from, const char* to) {
  switch (RenameByHandle(AsHandle(file), to)) {
    case HandleRename::Done: return true;
    case HandleRename::Failed: return false;
    case HandleRename::Unsupported: break;
  }
  CloseHandle(AsHandle(file));
  closed_for_move_ = AsHandle(file);
  return MoveFileA(from, to) != FALSE;
}

bool Win32Platform::RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool Win32Platform::RenameFile(const char* from, const char* to) { return MoveFileA(from, to) != FALSE; }

patch::FoundKind Win32Platform::Find(const char* path) {
  WIN32_FIND_DATAA data;
  win::FindHandle found(FindFirstFileA(path, &data));
  if (!found) return patch::FoundKind::None;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? patch::FoundKind::Folder : patch::FoundKind::File;
}

// The common controls are no library the system always takes from its own folder, so they
// are not imported: loaded from the system folder by full path before the dialog needs
// the progress bar's class. Without them the dialog cannot be made and the run goes on
// without it, as it does when the dialog cannot be created.
void Win32Platform::OpenProgressDialog() {
  if (!common_controls_) common_controls_.reset(win::LoadSystemLibrary("comctl32.dll"));
  using InitFn = void(WINAPI*)();
  if (common_controls_) {
    if (auto init = reinterpret_cast<InitFn>(
            reinterpret_cast<void*>(GetProcAddress(common_controls_.get(), "InitCommonControls")))) {
      init();
    }
  }
  dialog_ = CreateDialogParamA(instance_, "DIFFMAKE", GetDesktopWindow(), ProgressDialogProc, 0);
  if (dialog_) ShowWindow(dialog_, SW_SHOWNORMAL);
}

void Win32Platform::CloseProgressDialog() {
  if (dialog_) DestroyWindow(dialog_);
  dialog_ = nullptr;
}

void Win32Platform::SetDialogLine(patch::DialogLine line, const char* text) { SetDlgItemTextA(dialog_, line, text); }

void Win32Platform::ResetProgressBar() {
  SendDlgItemMessageA(dialog_, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendDlgItemMessageA(dialog_, kProgressBar, PBM_SETSTEP, 1, 0);
  SendDlgItemMessageA(dialog_, kProgressBar, PBM_SETPOS, 0, 0);
}

void Win32Platform::StepProgressBar() { SendDlgItemMessageA(dialog_, kProgressBar, PBM_STEPIT, 0, 0); }

// Dispatch only: the dialog takes no keyboard input worth translating.
void Win32Platform::PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

void Win32Platform::ShowBox(const char* text, const char* caption, patch::BoxOwner owner, uint32_t type) {
  MessageBoxA(owner == patch::BoxOwner::Dialog ? dialog_ : nullptr, text, caption, type);
}

// The document is the user's own, so it opens with the user's rights: through the
// desktop's shell where there is one. An applier without administrator rights opens it
// itself as before; one with them and no desktop shell to ask does not open it, and names
// it for the user to open.
void Win32Platform::ShellOpen(const char* path) {
  if (OpenThroughDesktopShell(path)) return;
  if (RunsElevated() != Elevation::Elevated) {
    ShellExecuteA(dialog_, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
    return;
  }
  MessageBoxA(dialog_, path, patch::msg::kOpenFailed, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace applier
