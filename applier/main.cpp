// The patch applier: rebuilds the installed program from the patch data appended to this
// file. It takes no arguments and always exits with 0; the caller judges the outcome from
// the files it leaves behind.
#include <windows.h>

#include "applier/win32_platform.h"
#include "core/patch/applier_run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
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
