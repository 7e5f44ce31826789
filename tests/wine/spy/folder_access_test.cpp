// Calls the wizard's folder access preparation directly under Wine, with the spy cacls in
// the system folder, and checks what cacls was asked, what it read (its answer comes
// through a pipe), and that nothing is written beside this program: a yes.txt there, even
// a planted one, is never touched. Run by folder-access.sh, which prepares the
// prefix; each mode is one Wine configuration:
//
//   folder_access_test.exe nt    SCRATCH   the NT family with cmd.exe and the spy
//   folder_access_test.exe 9x    SCRATCH   run under the per-program Windows 98 setting
//   folder_access_test.exe nocmd SCRATCH   the system's cmd.exe cannot be started
//
// SCRATCH is an existing Windows folder for test folders. SPY_LOG names the spy's log.
// Prints one PASS/FAIL line per check; the exit code is the number of failures.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "update/FolderAccess.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* name, const std::string& detail = std::string()) {
  std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", name, detail.empty() ? "" : ": ", detail.c_str());
  if (!ok) ++g_failures;
}

text::LeadByteTable SystemLeadBytes() {
  text::LeadByteTable table;
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte)
    if (IsDBCSLeadByte(static_cast<BYTE>(byte))) table.SetLead(static_cast<uint8_t>(byte));
  return table;
}

std::string ReadFileText(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

void WriteFileText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Environment(const char* name, const char* fallback) {
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string(fallback);
}

// One call of the spy.
struct SpyCall {
  std::string cmdline, cwd, stdin_hex;
};

std::vector<SpyCall> ReadSpyLog(const std::string& log_path) {
  std::vector<SpyCall> calls;
  const std::string log = ReadFileText(log_path);
  size_t at = 0;
  SpyCall call;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    at = end + 1;
    if (line.rfind("cmdline=", 0) == 0) call.cmdline = line.substr(8);
    else if (line.rfind("cwd=", 0) == 0) call.cwd = line.substr(4);
    else if (line.rfind("stdin=", 0) == 0) call.stdin_hex = line.substr(6);
    else if (line == "end") calls.push_back(call), call = SpyCall();
  }
  return calls;
}

std::string OwnFolder() {
  char path[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string own(path, length);
  const size_t cut = text::FolderPartLength(own.data(), own.size(), SystemLeadBytes());
  return own.substr(0, cut);
}

std::string SystemFolder() {
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, sizeof path);
  return std::string(path, length);
}

// Runs GrantFolderAccess; returns the error text, or "" when it returned normally.
std::string Grant(const std::string& folder, const update::MessagePump& pump = update::DispatchPendingMessages) {
  const win::Status status = update::GrantFolderAccess(folder, SystemLeadBytes(), pump);
  return status ? std::string() : "error: " + status.text();
}

int g_timer_ticks = 0;

LRESULT CALLBACK TickWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER) {
    ++g_timer_ticks;
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void RunNtChecks(const std::string& scratch, const std::string& log_path) {
  Check(GetACP() == 932, "code page is 932", std::to_string(GetACP()));
  Check(update::GetPlatformId() == VER_PLATFORM_WIN32_NT, "platform id is NT");

  const std::string answer = OwnFolder() + "yes.txt";
  const std::string system_folder = SystemFolder();
  // A folder ending in 表 (95 5C): only the real trailing backslash may go.
  const std::string install = scratch + "\\inst\\表";
  CreateDirectoryA((scratch + "\\inst").c_str(), nullptr);
  CreateDirectoryA(install.c_str(), nullptr);
  const std::string expected_request = "\"" + install + "\" /T /E /G \"Authenticated Users\":F";

  {  // The whole preparation; an older yes.txt is neither read nor written.
    DeleteFileA(log_path.c_str());
    WriteFileText(answer, "N\r\nold answer\r\n");
    const std::string outcome = Grant(install + "\\");
    Check(outcome.empty(), "grant returns normally", outcome);
    const std::vector<SpyCall> calls = ReadSpyLog(log_path);
    Check(calls.size() == 1, "cacls ran once", std::to_string(calls.size()));
    if (!calls.empty()) {
      Check(calls[0].cmdline.find(expected_request) != std::string::npos,
            "cacls got the quoted folder without trailing backslash", calls[0].cmdline);
      Check(calls[0].cmdline.find(install + "\\\"") == std::string::npos, "no backslash before the closing quote",
            calls[0].cmdline);
      Check(calls[0].stdin_hex == "59 0D 0A", "cacls read Y CR LF from its input", calls[0].stdin_hex);
      Check(lstrcmpiA(calls[0].cwd.c_str(), system_folder.c_str()) == 0, "cacls ran in the system folder",
            calls[0].cwd);
    }
    Check(ReadFileText(answer) == "N\r\nold answer\r\n", "an older yes.txt is left as it was");
    DeleteFileA(answer.c_str());
  }

  {  // A relative folder and one with "..": the commands run elsewhere, so cacls must get
     // the absolute folder the wizard tested.
    DeleteFileA(log_path.c_str());
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(scratch.c_str());
    const std::string relative_outcome = Grant("inst\\表\\");
    SetCurrentDirectoryA(previous);
    const std::string dotted_outcome = Grant(scratch + "\\inst\\..\\inst\\表\\");
    const std::vector<SpyCall> calls = ReadSpyLog(log_path);
    Check(relative_outcome.empty() && dotted_outcome.empty() && calls.size() == 2,
          "relative and dotted folders are granted", std::to_string(calls.size()));
    for (const SpyCall& call : calls)
      Check(call.cmdline.find(expected_request) != std::string::npos, "cacls got the absolute folder", call.cmdline);
  }

  {  // Cases that must run nothing and write nothing (an older answer file stays as it is).
    struct Case {
      const char* name;
      std::string folder;
    };
    CreateDirectoryA((scratch + "\\a%WINDIR%b").c_str(), nullptr);
    CreateDirectoryA((scratch + "\\pct%").c_str(), nullptr);
    CreateDirectoryA((scratch + "\\bang!x").c_str(), nullptr);
    WriteFileText(scratch + "\\afile", "x");
    const Case cases[] = {
        {"missing folder", scratch + "\\no such folder\\"},
        {"a file, not a folder", scratch + "\\afile\\"},
        {"empty folder text", ""},
        {"drive root", "C:\\"},
        {"root of the current drive", "\\"},
        {"drive root reached by ..", scratch + "\\..\\"},
        {"folder with %NAME%", scratch + "\\a%WINDIR%b\\"},
        {"folder with a single %", scratch + "\\pct%\\"},
        {"folder with !", scratch + "\\bang!x\\"},
    };
    for (const Case& c : cases) {
      DeleteFileA(log_path.c_str());
      WriteFileText(answer, "keep");
      const std::string outcome = Grant(c.folder);
      const bool ran = !ReadSpyLog(log_path).empty();
      Check(outcome.empty() && !ran && ReadFileText(answer) == "keep", c.name,
            outcome + (ran ? " cacls ran" : "") + (ReadFileText(answer) == "keep" ? "" : " answer file touched"));
    }
    DeleteFileA(answer.c_str());
  }

  {  // The waits keep the windows alive: a timer keeps ticking while cacls takes its time.
    DeleteFileA(log_path.c_str());
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = TickWindowProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "FolderAccessTestTicks";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, window_class.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  window_class.hInstance, nullptr);
    SetTimer(window, 1, 20, nullptr);
    SetEnvironmentVariableA("SPY_SLEEP_MS", "600");
    g_timer_ticks = 0;
    const DWORD start = GetTickCount();
    const std::string outcome = Grant(install + "\\");
    const DWORD elapsed = GetTickCount() - start;
    SetEnvironmentVariableA("SPY_SLEEP_MS", nullptr);
    KillTimer(window, 1);
    DestroyWindow(window);
    Check(outcome.empty() && ReadSpyLog(log_path).size() == 1, "slow cacls completes");
    Check(elapsed >= 600, "the preparation waited for cacls", std::to_string(elapsed) + " ms");
    Check(g_timer_ticks >= 5, "messages dispatched during the wait", std::to_string(g_timer_ticks) + " ticks");
    Check(!Exists(answer), "no answer file written");

    // The wizard passes its own dispatching; it is the one called between the slices.
    SetEnvironmentVariableA("SPY_SLEEP_MS", "300");
    int pumped = 0;
    const std::string custom_outcome = Grant(install + "\\", [&pumped] {
      ++pumped;
      update::DispatchPendingMessages();
    });
    SetEnvironmentVariableA("SPY_SLEEP_MS", nullptr);
    Check(custom_outcome.empty() && pumped >= 3, "the caller's message pump is used",
          std::to_string(pumped) + " calls");
  }

  {  // A program that cannot be started: two lines, "Exec Error" + code, then the command line.
    const std::string text = update::RunHiddenAndWait("nosuchprogram.exe /x \"y\"").text();
    Check(text == "Exec Error2\r\nnosuchprogram.exe /x \"y\"", "start failure text", text);
  }

  {  // A program planted in the current folder is not the one that runs.
    DeleteFileA(log_path.c_str());
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(OwnFolder().c_str());
    const std::string outcome = update::RunHiddenAndWait("cacls.exe planted-test").text();
    SetCurrentDirectoryA(previous);
    const std::vector<SpyCall> calls = ReadSpyLog(log_path);
    Check(outcome.empty() && calls.size() == 1 && lstrcmpiA(calls[0].cwd.c_str(), system_folder.c_str()) == 0,
          "the system folder's program runs, in the system folder", outcome);
  }
}

void RunNinetyFiveChecks(const std::string& scratch, const std::string& log_path) {
  Check(update::GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS, "platform id is the 9x family",
        std::to_string(update::GetPlatformId()));
  const std::string answer = OwnFolder() + "yes.txt";
  const std::string install = scratch + "\\inst9x";
  CreateDirectoryA(install.c_str(), nullptr);
  DeleteFileA(log_path.c_str());
  DeleteFileA(answer.c_str());
  const std::string outcome = Grant(install + "\\");
  Check(outcome.empty() && ReadSpyLog(log_path).empty() && !Exists(answer), "9x family: nothing written, nothing run",
        outcome);
}

void RunNoCommandChecks(const std::string& scratch, const std::string& log_path) {
  const std::string answer = OwnFolder() + "yes.txt";
  const std::string install = scratch + "\\instnocmd";
  CreateDirectoryA(install.c_str(), nullptr);
  DeleteFileA(log_path.c_str());
  WriteFileText(answer, "old");
  const std::string outcome = Grant(install + "\\");
  const std::string expected =
      "error: Exec Error2\r\ncmd.exe /d /c cacls \"" + install + "\" /T /E /G \"Authenticated Users\":F";
  Check(outcome == expected, "cmd.exe missing: two-line Exec Error with the command", outcome);
  Check(!outcome.empty() && outcome.back() == 'F', "the text ends with the command (no \".\" appended)");
  Check(ReadFileText(answer) == "old", "an older yes.txt is left as it was");
  DeleteFileA(answer.c_str());
  Check(ReadSpyLog(log_path).empty(), "cacls not run");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: folder_access_test.exe nt|9x|nocmd SCRATCH_FOLDER\n");
    return 100;
  }
  const std::string mode = argv[1];
  const std::string scratch = argv[2];
  const std::string log_path = Environment("SPY_LOG", "C:\\spy-cacls.log");
  if (mode == "nt") RunNtChecks(scratch, log_path);
  else if (mode == "9x") RunNinetyFiveChecks(scratch, log_path);
  else if (mode == "nocmd") RunNoCommandChecks(scratch, log_path);
  else {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 100;
  }
  std::fflush(stdout);
  return g_failures;
}
