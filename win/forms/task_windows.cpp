#include "win/forms/task_windows.h"

namespace forms {

DisabledTaskWindows::DisabledTaskWindows(HWND except) : except_(except) {
  EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
  for (HWND hwnd : windows_) EnableWindow(hwnd, FALSE);
}

BOOL CALLBACK DisabledTaskWindows::Collect(HWND hwnd, LPARAM self) {
  auto* windows = reinterpret_cast<DisabledTaskWindows*>(self);
  if (hwnd == windows->except_ || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return TRUE;
  windows->windows_.push_back(hwnd);
  return TRUE;
}

void DisabledTaskWindows::Restore() {
  for (HWND hwnd : windows_) {
    if (IsWindow(hwnd)) EnableWindow(hwnd, TRUE);
  }
  windows_.clear();
}

}  // namespace forms
