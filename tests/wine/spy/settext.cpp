// settext.exe CAPTION ID TEXT: puts TEXT (code page 932, as Wine hands the argument over)
// into control ID of the first visible top-level window captioned CAPTION that has such a
// control, as if the user had typed it. The UI driver only reads texts; the update run's
// scenarios need folders it cannot browse to (a missing one, an empty box).
// Prints "settext: ID" (exit 0) or "settext: no window" (exit 1).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Search {
  const char* caption;
  int id;
  HWND control;
};

BOOL CALLBACK FindWindowWithControl(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(hwnd)) return TRUE;
  char caption[512] = "";
  GetWindowTextA(hwnd, caption, sizeof caption);
  if (std::strcmp(caption, search->caption) != 0) return TRUE;
  HWND control = GetDlgItem(hwnd, search->id);
  if (!control) return TRUE;
  search->control = control;
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: settext.exe CAPTION ID TEXT\n");
    return 2;
  }
  Search search{argv[1], std::atoi(argv[2]), nullptr};
  for (int attempt = 0; attempt < 50 && !search.control; ++attempt) {
    EnumWindows(FindWindowWithControl, reinterpret_cast<LPARAM>(&search));
    if (!search.control) Sleep(100);
  }
  if (!search.control) {
    std::printf("settext: no window\n");
    return 1;
  }
  SendMessageA(search.control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
  std::printf("settext: %d\n", search.id);
  return 0;
}
