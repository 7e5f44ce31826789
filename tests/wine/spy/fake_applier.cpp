// A stand-in for the patch applier, carried as the payload of a test wizard
// (spy/fakepayload/Update.exe) and of a planted library (spy/fakepayload/patch.dll, which
// the wizard must ignore): it leaves the install folder as a failing applier would, so the scenarios
// reach outcomes the real applier shows only after a failed rename. It inherits the
// wizard's environment, which chooses what it does:
//
//   FAKE_APPLIER_MODE=backup-only   renames Lunder19.EXE beside it to Lunder19.OLD and ends:
//                                   the new program never reached its place
//   FAKE_APPLIER_MODE=foreign-pair  the same, and then puts a program of its own (not the
//                                   payload's new one) at Lunder19.EXE: what another
//                                   process may leave during a failed run
//   FAKE_APPLIER_MODE=nothing       (or unset) ends without touching anything
//   FAKE_APPLIER_EXIT=N             its exit code (default 0)
//
// It appends its command line and current folder to FAKE_APPLIER_LOG (default
// C:\fake-applier.log) as "cmdline=..." and "cwd=..." lines.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Environment(const char* name) {
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void AppendLog(const std::string& text) {
  std::string path = Environment("FAKE_APPLIER_LOG");
  if (path.empty()) path = "C:\\fake-applier.log";
  HANDLE log = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(log);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char own_path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, own_path, sizeof own_path);
  std::string folder = own_path;
  folder.resize(folder.rfind('\\') + 1);  // the scenarios' folders are plain ASCII

  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof cwd, cwd);
  AppendLog(std::string("cmdline=") + GetCommandLineA() + "\ncwd=" + cwd + "\n");

  const std::string mode = Environment("FAKE_APPLIER_MODE");
  if (mode == "backup-only" || mode == "foreign-pair") {
    MoveFileA((folder + "Lunder19.EXE").c_str(), (folder + "Lunder19.OLD").c_str());
  }
  if (mode == "foreign-pair") {
    HANDLE file = CreateFileA((folder + "Lunder19.EXE").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, "not the new program\r\n", 21, &written, nullptr);
      CloseHandle(file);
    }
  }
  return std::atoi(Environment("FAKE_APPLIER_EXIT").c_str());
}
