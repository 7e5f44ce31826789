#pragma once
// While a modal window runs (a page shown modally, the system's folder browser), the
// thread's other windows must not take input. This disables the top-level windows of the
// thread that are visible and enabled, remembers exactly those, and enables them again
// (those that still exist) when it goes or when Restore is called.
#include <windows.h>

#include <vector>

namespace forms {

class DisabledTaskWindows {
 public:
  explicit DisabledTaskWindows(HWND except = nullptr);
  ~DisabledTaskWindows() { Restore(); }
  DisabledTaskWindows(const DisabledTaskWindows&) = delete;
  DisabledTaskWindows& operator=(const DisabledTaskWindows&) = delete;

  void Restore();

 private:
  static BOOL CALLBACK Collect(HWND hwnd, LPARAM self);

  HWND except_;
  std::vector<HWND> windows_;
};

}  // namespace forms
