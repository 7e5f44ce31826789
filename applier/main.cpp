// The patch applier: rebuilds the installed program from the patch data appended to this
// file. It takes no arguments and always exits with 0; the caller judges the outcome from
// the files it leaves behind.
#include <windows.h>

#include "applier/win32_platform.h"
#include "core/patch/applier_run.h"
#include "win/library_search.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // It runs elevated in a folder that standard users can write: before anything else.
  win::RestrictLibrarySearch();
  {
    applier::Win32Platform platform(instance);
    patch::RunApplier(platform);
  }
  PostQuitMessage(0);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
