// A library planted under the name of a system library, beside the wizard and in the install
// folder, as an attacker would plant it. Its entry point leaves a marker named after the
// name it was loaded under (C:\planted-ran\<name>.txt) the moment any of its code runs, and
// then refuses to load, so whatever loaded it finds no functions of its own in it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char own[MAX_PATH];
  const DWORD length = GetModuleFileNameA(self, own, sizeof own);
  const char* name = own;
  for (DWORD i = 0; i < length; ++i)
    if (own[i] == '\\' || own[i] == '/') name = own + i + 1;
  char marker[MAX_PATH + 32] = "C:\\planted-ran";
  CreateDirectoryA(marker, nullptr);
  lstrcatA(marker, "\\");
  lstrcatA(marker, length > 0 && length < sizeof own ? name : "unknown");
  lstrcatA(marker, ".txt");
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, own, length, &written, nullptr);
    CloseHandle(file);
  }
  return FALSE;
}
