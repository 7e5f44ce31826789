#include "applier/win32_platform.h"

#include <commctrl.h>
#include <shellapi.h>

#include "applier/user_shell.h"
#include "core/patch/applier_run.h"
#include "core/patch/messages.h"
#include "core/patch/transaction.h"
#include "win/handle.h"
#include "win/library_search.h"

namespace applier {
namespace {

constexpr int kProgressBar = 1000;

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
    if (auto open = win::SystemFunction<decltype(&ShellExecuteA)>("shell32.dll", "ShellExecuteA")) {
      open(dialog_, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
    }
    return;
  }
  MessageBoxA(dialog_, path, patch::msg::kOpenFailed, MB_OK | MB_ICONEXCLAMATION);
}

#ifdef APPLIER_TEST_POINTS
// The test build only: stops for good at the commit point named by APPLIER_STOP_AT ("kept 0",
// "committed 0", ...), after writing that name to the file APPLIER_STOPPED names, so that a
// scenario can kill it, or the whole Windows session, right there.
class StopAt final : public patch::CommitWatch {
 public:
  void Reached(patch::CommitPoint point, uint32_t number) override {
    static const char* const kNames[] = {"recorded", "kept", "placed", "committed", "finalized", "cleared"};
    char name[32];
    wsprintfA(name, "%s %u", kNames[static_cast<int>(point)], number);
    char wanted[32], marker[MAX_PATH];
    if (!GetEnvironmentVariableA("APPLIER_STOP_AT", wanted, sizeof wanted) || lstrcmpA(wanted, name) != 0) return;
    if (GetEnvironmentVariableA("APPLIER_STOPPED", marker, sizeof marker)) {
      win::FileHandle file(CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD written = 0;
      if (file) WriteFile(file.get(), name, lstrlenA(name), &written, nullptr);
    }
    Sleep(INFINITE);
  }
};

patch::CommitWatch* Win32Platform::Watch() {
  static StopAt stop;
  return &stop;
}
#endif

}  // namespace applier
