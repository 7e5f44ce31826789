#pragma once
// Where a program that runs with administrator rights may load libraries from. Both
// programs start in folders a standard user can write (the download folder, the install
// folder), so a library found there by the system's search order would run elevated.
// Their static imports are libraries the system always maps from its own folder, together
// with everything those import (kernel32, user32, gdi32, advapi32, msvcrt); the shell, COM
// and the common controls, whose imports reach libraries the system does not always take
// from its own folder, are loaded at run time, after the search is restricted, by full
// path. Header-only, no C++ runtime.
#include <windows.h>

namespace win {

namespace detail {
// The values of the newer headers, spelt out: the programs are built for older systems.
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// Through void*: the address is of the named function, whatever GetProcAddress's type.
template <typename Function>
Function ModuleFunction(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

template <typename Function>
Function KernelFunction(const char* name) {
  return ModuleFunction<Function>(GetModuleHandleA("kernel32.dll"), name);
}
}  // namespace detail

// First thing in each program: later loads search the system folder only where the system
// can say so (SetDefaultDllDirectories), and never the current folder (SetDllDirectoryA
// with ""). Both are looked up at run time, so the program still starts on a system that
// lacks them and goes on with the search it has. Returns whether the system-folder
// restriction is in force.
inline bool RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  bool restricted = false;
  if (auto set_default = detail::KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")) {
    restricted = set_default(detail::kSearchSystem32) != FALSE;
  }
  if (auto set_folder = detail::KernelFunction<SetDllDirectoryFn>("SetDllDirectoryA")) set_folder("");
  return restricted;
}

// Loads `name` (a plain file name) from the system folder by its full path, whatever the
// search order; the libraries it imports are looked for in the system folder first (where
// the system cannot restrict the search, the altered search path of a full-path load is
// the one that starts there). Null when the path does not fit or the library cannot be
// loaded.
inline HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH + 1];
  const UINT folder = GetSystemDirectoryA(path, MAX_PATH);
  if (folder == 0 || folder >= MAX_PATH) return nullptr;
  UINT length = folder;
  if (path[length - 1] != '\\') path[length++] = '\\';
  for (const char* c = name; *c; ++c) {
    if (length >= MAX_PATH) return nullptr;
    path[length++] = *c;
  }
  path[length] = '\0';
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A function of a system library loaded as LoadSystemLibrary does; null when either is
// missing. The library stays loaded for the life of the process: the shell and COM keep
// threads and objects of their own that outlive any one call.
template <typename Function>
Function SystemFunction(const char* library, const char* name) {
  return detail::ModuleFunction<Function>(LoadSystemLibrary(library), name);
}

}  // namespace win
