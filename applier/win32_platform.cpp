#include "applier/win32_platform.h"

#include <commctrl.h>
#include <shellapi.h>

#include "win/handle.h"

namespace applier {
namespace {

constexpr int kProgressBar = 1000;

HANDLE AsHandle(patch::OutputFile file) { return reinterpret_cast<HANDLE>(file); }

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

  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD size = GetFileSize(file.get(), &high);
  if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0) return patch::LoadResult::SizeFailed;

  win::GlobalBlock memory(GlobalAlloc(GMEM_ZEROINIT, size));
  if (!memory) return patch::LoadResult::AllocFailed;
  win::GlobalLockView view(memory.get());
  if (!view.data()) return patch::LoadResult::LockFailed;

  // A short read would leave zeros where the file has bytes and the checksum would judge
  // the wrong contents, so it fails like any other read.
  DWORD read = 0;
  if (!ReadFile(file.get(), view.data(), size, &read, nullptr) || read != size) return patch::LoadResult::ReadFailed;

  block->data = static_cast<uint8_t*>(view.release());
  block->size = size;
  block->handle = memory.release();
  return patch::LoadResult::Ok;
}

void Win32Platform::ReleaseBlock(patch::FileBlock* block) {
  if (block->handle) {
    HGLOBAL memory = static_cast<HGLOBAL>(block->handle);
    GlobalUnlock(memory);
    GlobalFree(memory);
  }
  *block = patch::FileBlock{};
}

bool Win32Platform::CreateOutput(const char* path, patch::OutputFile* file) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<patch::OutputFile>(handle);
  return true;
}

bool Win32Platform::OpenExistingForWrite(const char* path, patch::OutputFile* file) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<patch::OutputFile>(handle);
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

void Win32Platform::CloseOutput(patch::OutputFile file) { CloseHandle(AsHandle(file)); }

bool Win32Platform::RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool Win32Platform::RenameFile(const char* from, const char* to) { return MoveFileA(from, to) != FALSE; }

patch::FoundKind Win32Platform::Find(const char* path) {
  WIN32_FIND_DATAA data;
  win::FindHandle found(FindFirstFileA(path, &data));
  if (!found) return patch::FoundKind::None;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? patch::FoundKind::Folder : patch::FoundKind::File;
}

void Win32Platform::OpenProgressDialog() {
  InitCommonControls();
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

void Win32Platform::ShellOpen(const char* path) {
  ShellExecuteA(dialog_, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace applier
