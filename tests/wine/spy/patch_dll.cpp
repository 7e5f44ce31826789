// A library named like the wizard's payload library ("patch"), planted beside the wizard
// as an attacker would plant it. Its entry point leaves a marker file the moment any of its
// code runs, so a scenario can tell that the wizard only ever read it as data. Built twice:
// without resources, and with a stand-in applier as its "PATCHDAT"/"PATCH" resource.
//
// Marker: the path in PATCH_DLL_MARKER, else C:\patch-dll-ran.txt.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char marker[MAX_PATH] = "C:\\patch-dll-ran.txt";
    const DWORD length = GetEnvironmentVariableA("PATCH_DLL_MARKER", marker, sizeof marker);
    if (length == 0 || length >= sizeof marker) lstrcpyA(marker, "C:\\patch-dll-ran.txt");
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, "ran\r\n", 5, &written, nullptr);
      CloseHandle(file);
    }
  }
  return TRUE;
}
