#include "update/FolderAccess.h"

#include <windows.h>

#include "win/handle.h"

namespace update {
namespace {

// /D: no AutoRun command from the registry runs with the wizard's rights. cacls asks
// whether to go on and reads its answer from the standard input, which is a pipe holding
// the answer: there is no answer file that a planted link could redirect.
constexpr char kCaclsCommand[] = "cmd.exe /d /c cacls \"";
constexpr char kCaclsSwitches[] = "\" /T /E /G \"Authenticated Users\":F";
constexpr char kCaclsAnswer[] = "Y\r\n";
constexpr DWORD kWaitSliceMs = 50;

win::Status ExecError(DWORD code, const std::string& command_line) {
  return win::Status::Error("Exec Error" + std::to_string(static_cast<unsigned long>(code)) + "\r\n" + command_line);
}

// Both calls report the length they need when the buffer is too small; grow until it fits.
template <typename Query>
std::string QueryText(Query query) {
  std::string text(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = query(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return std::string();
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.resize(static_cast<size_t>(length) + 1);
  }
}

std::string SystemFolder() {
  return QueryText([](char* buffer, DWORD size) { return GetSystemDirectoryA(buffer, size); });
}

text::LeadByteTable SystemLeadBytes() {
  text::LeadByteTable table;
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte)
    if (IsDBCSLeadByte(static_cast<BYTE>(byte))) table.SetLead(static_cast<uint8_t>(byte));
  return table;
}

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether `folder` (absolute, trailing backslash removed) names the root of a drive or of
// a network share. "C:" would even be read by cmd.exe as the current folder of drive C.
bool IsRoot(const std::string& folder, const text::LeadByteTable& lead_bytes) {
  const size_t length = folder.size();
  if (length == 0) return true;
  const size_t last = text::LastCharacterStart(folder.data(), length, lead_bytes);
  if (last == length - 1 && (folder[last] == ':' || folder[last] == '\\')) return true;
  if (length > 2 && folder[0] == '\\' && folder[1] == '\\') {
    // \\server\share: the share's root has no backslash of its own after the server's.
    int separators = 0;
    for (size_t i = 2; i < length; ++i)
      if (folder[i] == '\\' && !text::IsSecondByte(folder.data(), i, lead_bytes)) ++separators;
    return separators <= 1;
  }
  return false;
}

}  // namespace

std::string FullPath(const std::string& path) {
  return QueryText([&path](char* buffer, DWORD size) { return GetFullPathNameA(path.c_str(), size, buffer, nullptr); });
}

void DispatchPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

uint32_t GetPlatformId() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  static_assert(sizeof version == 148, "the version record the query is asked for");
  if (!GetVersionExA(&version)) return VER_PLATFORM_WIN32_NT;
  return version.dwPlatformId;
}

win::Status RunHiddenAndWait(const std::string& command_line, const MessagePump& pump) {
  return RunHiddenAndWait(command_line, std::string_view(), pump);
}

win::Status RunHiddenAndWait(const std::string& command_line, std::string_view input, const MessagePump& pump) {
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.cb = sizeof startup;
  startup.lpReserved = nullptr;
  startup.lpDesktop = nullptr;
  startup.lpTitle = nullptr;
  startup.dwX = startup.dwY = startup.dwXSize = startup.dwYSize = 0;
  startup.dwXCountChars = startup.dwYCountChars = 0;
  startup.dwFillAttribute = 0;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;

  const std::string system_folder = SystemFolder();
  if (system_folder.empty()) return ExecError(GetLastError(), command_line);
  const text::LeadByteTable lead_bytes = SystemLeadBytes();
  std::string program = system_folder;
  if (!text::EndsWithBackslash(program.data(), program.size(), lead_bytes)) program += '\\';
  program += command_line.substr(0, command_line.find(' '));

  // The input waits in a pipe whose reading end alone is inherited; the writing end is
  // closed once the input is in, so the command reads it and then the end of its input.
  win::FileHandle input_read;
  BOOL inherit = FALSE;
  if (!input.empty()) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inheritable, static_cast<DWORD>(input.size()))) {
      return ExecError(GetLastError(), command_line);
    }
    input_read.reset(read_end);
    const win::KernelHandle writer(write_end);
    DWORD written = 0;
    if (!SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0) ||
        !WriteFile(write_end, input.data(), static_cast<DWORD>(input.size()), &written, nullptr) ||
        written != input.size()) {
      return ExecError(GetLastError(), command_line);
    }
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = input_read.get();
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    inherit = TRUE;
  }

  std::string writable_command = command_line;  // CreateProcessA may write into it
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program.c_str(), writable_command.data(), nullptr, nullptr, inherit, CREATE_DEFAULT_ERROR_MODE,
                      nullptr, system_folder.c_str(), &startup, &process)) {
    return ExecError(GetLastError(), command_line);
  }
  const win::KernelHandle process_handle(process.hProcess);
  const win::KernelHandle thread_handle(process.hThread);
  input_read.reset();  // the command holds its own copy

  // A failed wait ends the loop like the end of the process: nothing more can be learnt.
  while (WaitForSingleObject(process_handle.get(), kWaitSliceMs) == WAIT_TIMEOUT) pump();
  return {};
}

win::Status GrantFolderAccess(const std::string& folder, const text::LeadByteTable& lead_bytes,
                              const MessagePump& pump) {
  if (GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS) return {};
  if (!FolderExists(folder)) return {};

  // The commands run in the system folder, so they must get the same folder that was
  // just tested, not one relative to theirs; this also resolves "." and "..".
  const std::string absolute = FullPath(folder);
  if (absolute.empty()) return {};
  const std::string target =
      absolute.substr(0, text::RemoveTrailingBackslash(absolute.data(), absolute.size(), lead_bytes));
  if (IsRoot(target, lead_bytes)) return {};

  // cmd.exe expands %NAME% even between double quotes, and with delayed expansion switched
  // on in the registry also !NAME! (dropping a lone "!"), so such a name could send cacls /T
  // to another folder tree. No escape works inside the quotes, so the rights stay as they
  // are. Neither "%" nor "!" is ever a second byte.
  if (target.find_first_of("%!") != std::string::npos) return {};

  return RunHiddenAndWait(kCaclsCommand + target + kCaclsSwitches, kCaclsAnswer, pump);
}

}  // namespace update
