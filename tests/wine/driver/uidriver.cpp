// uidriver: the Windows-side half of the Wine scenarios. It runs inside the same
// wineserver as the program under test, finds that program's windows, reads what they
// show and presses their buttons, and prints what it saw as UTF-8 lines for bash to grep.
//
// Commands come one per line on standard input (UTF-8), or one per argument when there
// are arguments (ASCII only: Wine decodes arguments with the Unix locale, which may not
// be Japanese, while standard input reaches us byte for byte). The first failing command
// prints "error: ..." and ends the driver with exit code 1. tests/wine/README.md lists
// the commands.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// Message boxes keep their icon in this static control.
constexpr int kBoxIconId = 0x0440;
constexpr int kBoxTextId = 0xFFFF;
constexpr DWORD kPollMs = 50;

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Line breaks inside a text would split one answer over several lines.
std::wstring Escape(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\r') out += L"\\r";
    else if (c == L'\n') out += L"\\n";
    else out += c;
  }
  return out;
}

void Print(const std::wstring& line) {
  std::string bytes = ToUtf8(line) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

struct Failure {
  std::wstring message;
};

[[noreturn]] void Fail(const std::wstring& message) { throw Failure{message}; }

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetClassNameW(hwnd, buffer, 256);
  return buffer;
}

// WM_GETTEXT reaches controls of other processes, where GetWindowText answers "".
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), LPARAM(buffer.data()), SMTO_ABORTIFHUNG, 2000,
                      &copied);
  return std::wstring(buffer.data());
}

std::wstring Hex(unsigned long value) {
  wchar_t buffer[16];
  swprintf(buffer, 16, L"0x%08lX", value);
  return buffer;
}

std::wstring Number(long value) { return std::to_wstring(value); }

// --- finding windows -----------------------------------------------------------------

struct Search {
  std::wstring target;
  bool visible_only;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (search->visible_only && !IsWindowVisible(hwnd)) return TRUE;
  if (search->target.empty() || TextOf(hwnd) == search->target || ClassOf(hwnd) == search->target)
    search->found.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> TopLevel(const std::wstring& target, bool visible_only) {
  Search search{target, visible_only, {}};
  EnumWindows(CollectTopLevel, LPARAM(&search));
  return search.found;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, CollectChild, LPARAM(&found));
  return found;
}

// --- the interpreter -------------------------------------------------------------------

class Driver {
 public:
  ~Driver() {
    for (HANDLE h : held_) CloseHandle(h);
  }

  void Run(const std::wstring& line);

 private:
  HWND Current() {
    if (!current_ || !IsWindow(current_)) Fail(L"no current window (use wait first)");
    return current_;
  }

  // A control by dialog id (decimal or 0x hex), else by its text or class name.
  HWND Control(const std::wstring& name) {
    HWND parent = Current();
    wchar_t* end = nullptr;
    long id = wcstol(name.c_str(), &end, 0);
    if (!name.empty() && *end == L'\0') {
      HWND hwnd = GetDlgItem(parent, int(id));
      if (!hwnd) Fail(L"no control " + name);
      return hwnd;
    }
    for (HWND child : Children(parent))
      if (TextOf(child) == name || ClassOf(child) == name) return child;
    Fail(L"no control " + name);
  }

  static DWORD Timeout(const std::wstring& text) {
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0') Fail(L"bad time-out: " + text);
    return DWORD(value);
  }

  static UINT VirtualKey(const std::wstring& name) {
    if (name == L"RETURN" || name == L"ENTER") return VK_RETURN;
    if (name == L"ESCAPE") return VK_ESCAPE;
    if (name == L"TAB") return VK_TAB;
    if (name == L"SPACE") return VK_SPACE;
    wchar_t* end = nullptr;
    long vk = wcstol(name.c_str(), &end, 0);
    if (name.empty() || *end != L'\0') Fail(L"bad key: " + name);
    return UINT(vk);
  }

  void Wait(const std::wstring& target, DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
      auto found = TopLevel(target, true);
      if (!found.empty()) {
        // Two windows may share a caption (a page and the modal page shown over it): the
        // one the user can act on, the enabled one, is meant.
        auto usable = std::find_if(found.begin(), found.end(), [](HWND h) { return IsWindowEnabled(h) != FALSE; });
        current_ = usable != found.end() ? *usable : found.front();
        Print(L"caption: " + Escape(TextOf(current_)));
        Print(L"class: " + ClassOf(current_));
        return;
      }
      if (GetTickCount() - start >= timeout) Fail(L"no window " + target);
      Sleep(kPollMs);
    }
  }

  void Gone(const std::wstring& target, DWORD timeout) {
    DWORD start = GetTickCount();
    while (!TopLevel(target, true).empty()) {
      if (GetTickCount() - start >= timeout) Fail(L"window still there: " + target);
      Sleep(kPollMs);
    }
    Print(L"gone: " + target);
  }

  void WaitItem(const std::wstring& name, const std::wstring& text, DWORD timeout) {
    DWORD start = GetTickCount();
    HWND control = Control(name);
    while (TextOf(control) != text) {
      if (GetTickCount() - start >= timeout)
        Fail(L"item " + name + L" shows \"" + Escape(TextOf(control)) + L"\"");
      Sleep(kPollMs);
    }
    Print(L"item " + name + L": " + Escape(text));
  }

  void List(bool all) {
    for (HWND hwnd : TopLevel(L"", !all)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(hwnd, &pid);
      Print(L"window: " + ClassOf(hwnd) + L" \"" + Escape(TextOf(hwnd)) + L"\" visible=" +
            Number(IsWindowVisible(hwnd) ? 1 : 0) + L" pid=" + Number(long(pid)));
    }
  }

  void ListChildren() {
    for (HWND child : Children(Current())) {
      Print(L"child: id=" + Number(GetDlgCtrlID(child)) + L" class=" + ClassOf(child) + L" style=" +
            Hex(GetWindowLongW(child, GWL_STYLE)) + L" visible=" + Number(IsWindowVisible(child) ? 1 : 0) +
            L" text=\"" + Escape(TextOf(child)) + L"\"");
    }
  }

  // The control's rectangle in its parent's client coordinates, in pixels.
  void Rect(const std::wstring& name) {
    HWND control = Control(name);
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    Print(L"rect " + name + L": " + Number(r.left) + L" " + Number(r.top) + L" " + Number(r.right - r.left) +
          L" " + Number(r.bottom - r.top));
  }

  void Focus() {
    DWORD thread = GetWindowThreadProcessId(Current(), nullptr);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread, &info) || !info.hwndFocus) {
      Print(L"focus: none");
      return;
    }
    Print(L"focus: id=" + Number(GetDlgCtrlID(info.hwndFocus)) + L" class=" + ClassOf(info.hwndFocus) +
          L" text=\"" + Escape(TextOf(info.hwndFocus)) + L"\"");
  }

  // Keys go to the focused control so that the dialog's own keyboard handling sees them.
  HWND KeyTarget() {
    HWND target = Current();
    DWORD thread = GetWindowThreadProcessId(target, nullptr);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
        (info.hwndFocus == target || IsChild(target, info.hwndFocus)))
      target = info.hwndFocus;
    return target;
  }

  void Key(UINT vk) {
    HWND target = KeyTarget();
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 1 | (1u << 30) | (1u << 31));
    Print(L"key: " + Number(long(vk)));
  }

  // Alt+letter as the keyboard delivers it, without the Alt key's own down and up (a lone
  // Alt release would enter the menu mode). The program's TranslateMessage (inside
  // IsDialogMessage) turns the WM_SYSKEYDOWN into the WM_SYSCHAR the dialog manager matches
  // against the "&" mnemonics; bit 29 of lParam says that Alt is held.
  void SysKey(const std::wstring& name) {
    if (name.size() != 1 || !iswalnum(name[0]) || name[0] > 0x7F) Fail(L"bad syskey (one letter or digit): " + name);
    UINT vk = UINT(towupper(name[0]));
    LPARAM scan = LPARAM(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
    HWND target = KeyTarget();
    PostMessageW(target, WM_SYSKEYDOWN, vk, 1 | scan | (1u << 29));
    PostMessageW(target, WM_SYSKEYUP, vk, 1 | scan | (1u << 29) | (1u << 30) | (1u << 31));
    Print(L"syskey: " + name);
  }

  // An edit control's selection. EM_GETSEL with no pointers answers in its return value,
  // which crosses processes.
  void Selection(const std::wstring& name) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(Control(name), EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result))
      Fail(L"no answer to EM_GETSEL from " + name);
    Print(L"sel " + name + L": " + Number(long(LOWORD(result))) + L" " + Number(long(HIWORD(result))));
  }

  // A left click at X,Y of the control's client area, posted as the button messages the
  // control gets from a real click (the activation that comes first is not simulated).
  void MouseClick(const std::wstring& name, const std::wstring& x, const std::wstring& y) {
    HWND control = Control(name);
    LPARAM at = MAKELPARAM(Coordinate(x), Coordinate(y));
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(control, WM_LBUTTONUP, 0, at);
    Print(L"mouseclick " + name + L": " + x + L" " + y);
  }

  static int Coordinate(const std::wstring& text) {
    wchar_t* end = nullptr;
    long value = wcstol(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0' || value < 0 || value > 0x7FFF) Fail(L"bad coordinate: " + text);
    return int(value);
  }

  void Click(const std::wstring& name) {
    HWND parent = Current();
    wchar_t* end = nullptr;
    long id = wcstol(name.c_str(), &end, 0);
    bool numeric = !name.empty() && *end == L'\0';
    HWND button = numeric ? GetDlgItem(parent, int(id)) : Control(name);
    // Posted, never sent: a click whose handler opens a modal box would block us.
    if (button) PostMessageW(button, BM_CLICK, 0, 0);
    else if (numeric) PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    else Fail(L"no control " + name);
    Print(L"click: " + name);
  }

  void Hold(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Fail(L"cannot hold " + path + L" (error " + Number(long(GetLastError())) + L")");
    held_.push_back(h);
    Print(L"held: " + path);
  }

  HWND current_ = nullptr;
  std::vector<HANDLE> held_;
};

// Splits "word rest"; the rest keeps its inner spaces (captions and paths have them).
void SplitFirst(const std::wstring& line, std::wstring* word, std::wstring* rest) {
  size_t begin = line.find_first_not_of(L" \t");
  if (begin == std::wstring::npos) {
    word->clear();
    rest->clear();
    return;
  }
  size_t space = line.find_first_of(L" \t", begin);
  if (space == std::wstring::npos) {
    *word = line.substr(begin);
    rest->clear();
  } else {
    *word = line.substr(begin, space - begin);
    size_t after = line.find_first_not_of(L" \t", space);
    *rest = after == std::wstring::npos ? L"" : line.substr(after);
  }
  while (!rest->empty() && (rest->back() == L' ' || rest->back() == L'\t' || rest->back() == L'\r'))
    rest->pop_back();
}

// Splits "text ... NUMBER" at its last space: the number is always the last word.
void SplitLast(const std::wstring& text, std::wstring* head, std::wstring* last) {
  size_t space = text.find_last_of(L' ');
  if (space == std::wstring::npos) Fail(L"missing argument in: " + text);
  *head = text.substr(0, space);
  *last = text.substr(space + 1);
}

void Driver::Run(const std::wstring& line) {
  std::wstring command, rest;
  SplitFirst(line, &command, &rest);
  if (command.empty() || command[0] == L'#') return;

  if (command == L"acp") {
    Print(L"acp: " + Number(long(GetACP())));
  } else if (command == L"wait" || command == L"gone") {
    std::wstring target, timeout;
    SplitLast(rest, &target, &timeout);
    if (command == L"wait") Wait(target, Timeout(timeout));
    else Gone(target, Timeout(timeout));
  } else if (command == L"exists") {
    Print(L"exists: " + Number(TopLevel(rest, true).empty() ? 0 : 1));
  } else if (command == L"list") {
    List(rest == L"all");
  } else if (command == L"caption") {
    Print(L"caption: " + Escape(TextOf(Current())));
  } else if (command == L"text") {
    Print(L"text: " + Escape(TextOf(Control(std::to_wstring(kBoxTextId)))));
  } else if (command == L"icon") {
    // The icon control is there in every box; only a box with an icon gives it one.
    HWND icon = GetDlgItem(Current(), kBoxIconId);
    DWORD_PTR handle = 0;
    if (icon) SendMessageTimeoutW(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle);
    Print(std::wstring(L"icon: ") + (handle ? L"yes" : L"no"));
  } else if (command == L"item") {
    Print(L"item " + rest + L": " + Escape(TextOf(Control(rest))));
  } else if (command == L"waititem") {
    std::wstring id, text_and_timeout, text, timeout;
    SplitFirst(rest, &id, &text_and_timeout);
    SplitLast(text_and_timeout, &text, &timeout);
    WaitItem(id, text, Timeout(timeout));
  } else if (command == L"progress") {
    DWORD_PTR pos = 0;
    SendMessageTimeoutW(Control(rest), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos);
    Print(L"progress " + rest + L": " + Number(long(pos)));
  } else if (command == L"owner") {
    HWND owner = GetWindow(Current(), GW_OWNER);
    Print(L"owner: " + (owner ? L"\"" + Escape(TextOf(owner)) + L"\"" : std::wstring(L"none")));
  } else if (command == L"enabled") {
    Print(L"enabled: " + Number(IsWindowEnabled(Current()) ? 1 : 0));
  } else if (command == L"style") {
    HWND hwnd = rest.empty() ? Current() : Control(rest);
    Print(L"style: " + Hex(GetWindowLongW(hwnd, GWL_STYLE)) + L" " + Hex(GetWindowLongW(hwnd, GWL_EXSTYLE)));
  } else if (command == L"children") {
    ListChildren();
  } else if (command == L"rect") {
    Rect(rest);
  } else if (command == L"focus") {
    Focus();
  } else if (command == L"click") {
    Click(rest);
  } else if (command == L"key") {
    Key(VirtualKey(rest));
  } else if (command == L"syskey") {
    SysKey(rest);
  } else if (command == L"sel") {
    Selection(rest);
  } else if (command == L"mouseclick") {
    std::wstring id, at, x, y;
    SplitFirst(rest, &id, &at);
    SplitFirst(at, &x, &y);
    MouseClick(id, x, y);
  } else if (command == L"close") {
    PostMessageW(Current(), WM_CLOSE, 0, 0);
    Print(L"close: posted");
  } else if (command == L"sysclose") {
    PostMessageW(Current(), WM_SYSCOMMAND, SC_CLOSE, 0);
    Print(L"sysclose: posted");
  } else if (command == L"pid") {
    DWORD pid = 0;
    GetWindowThreadProcessId(Current(), &pid);
    Print(L"pid: " + Number(long(pid)));
  } else if (command == L"hold") {
    Hold(rest);
  } else if (command == L"sleep") {
    Sleep(Timeout(rest));
  } else if (command == L"echo") {
    Print(rest);
  } else {
    Fail(L"unknown command: " + command);
  }
}

std::vector<std::wstring> ReadCommands() {
  std::vector<std::wstring> commands;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; argv && i < argc; ++i) commands.emplace_back(argv[i]);
  if (argv) LocalFree(argv);
  if (!commands.empty()) return commands;

  std::string input;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0)
    input.append(buffer, got);
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    size_t stop = end > start && input[end - 1] == '\r' ? end - 1 : end;
    commands.push_back(FromUtf8(input.substr(start, stop - start)));
    start = end + 1;
  }
  return commands;
}

}  // namespace

int main() {
  Driver driver;
  for (const std::wstring& command : ReadCommands()) {
    try {
      driver.Run(command);
    } catch (const Failure& failure) {
      Print(L"error: " + failure.message);
      return 1;
    }
  }
  return 0;
}
