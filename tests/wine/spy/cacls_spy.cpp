// A stand-in for the system's access-control command, installed into the Wine prefix's
// system folder for the scenarios: it changes no rights, but appends to a log what the
// wizard asked of it (its command line, its current folder and every byte of its standard
// input), so a scenario can check the exact request. Always exits 0, as the wizard reads
// no result from the real command either.
//
// Log: the path in SPY_LOG, else C:\spy-cacls.log. One block per call:
//   cmdline=<command line, raw code page 932 bytes>
//   cwd=<current folder>
//   stdin=<bytes in hex, e.g. "59 0D 0A">   or  stdin=<console> / stdin=<none>
//   end
// With SPY_SLEEP_MS set, it sleeps that long after logging (a slow tree, to see the
// caller keep its windows alive).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ReadStandardInput() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return "<none>";
  // A console would wait for a person; the wizard always redirects from its answer file.
  if (GetFileType(input) == FILE_TYPE_CHAR) return "<console>";
  std::string hex;
  unsigned char buffer[4096];
  DWORD got = 0;
  size_t total = 0;
  while (total < (1u << 20) && ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, "%02X", buffer[i]);
      if (!hex.empty()) hex += ' ';
      hex += byte;
    }
    total += got;
  }
  return hex;
}

std::string EnvironmentValue(const char* name) {
  char value[1024];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

}  // namespace

int main() {
  std::string log_path = EnvironmentValue("SPY_LOG");
  if (log_path.empty()) log_path = "C:\\spy-cacls.log";

  char folder[MAX_PATH * 2] = "";
  GetCurrentDirectoryA(sizeof folder, folder);

  std::string block = "cmdline=";
  block += GetCommandLineA();
  block += "\ncwd=";
  block += folder;
  block += "\nstdin=";
  block += ReadStandardInput();
  block += "\nend\n";

  HANDLE log = CreateFileA(log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(log, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
    CloseHandle(log);
  }

  const std::string sleep_ms = EnvironmentValue("SPY_SLEEP_MS");
  if (!sleep_ms.empty()) Sleep(static_cast<DWORD>(std::strtoul(sleep_ms.c_str(), nullptr, 10)));
  return 0;
}
