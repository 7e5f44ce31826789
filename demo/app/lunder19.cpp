// The demo application: the installed program that the updater brings from Ver1.0 to
// Ver2.0. One source, built three times (LUNDER_VERSION 1 and 2, and 1 with LUNDER_REVISION
// 1 for Ver1.1). While it runs it holds the
// named mutex by which the update wizard learns that it must not replace the program.
#include <windows.h>

#include <cstdint>

#include "resource.h"
#include "tax_table.h"

namespace {

constexpr char kMutexName[] = "TESBWIN_LUNDER_H19";
constexpr char kWindowClass[] = "Lunder19MainWindow";
constexpr char kProductName[] = "Tesbrin 所得税平成19年度版";
constexpr char kAboutCaption[] = "バージョン情報";
constexpr char kFontFace[] = "ＭＳ Ｐゴシック";

#if LUNDER_VERSION >= 2
constexpr char kCaption[] = "Tesbrin 所得税平成19年度版 Ver2.0";
constexpr char kVersionText[] = "Ver2.0";
constexpr char kTableTitle[] = "給与所得の源泉徴収税額表（月額表）平成19年1月以降分";
constexpr char kNotice[] = "税率の改正（平成19年分以降）に対応しました。";
#elif LUNDER_REVISION == 1
// Ver1.1: a maintenance release of Ver1.0, one more old version for the update to know.
constexpr char kCaption[] = "Tesbrin 所得税平成19年度版 Ver1.1";
constexpr char kVersionText[] = "Ver1.1";
constexpr char kTableTitle[] = "給与所得の源泉徴収税額表（月額表）";
constexpr char kNotice[] = "平成19年分の税率改正には Ver2.0 で対応します。";
#else
constexpr char kCaption[] = "Tesbrin 所得税平成19年度版 Ver1.0";
constexpr char kVersionText[] = "Ver1.0";
constexpr char kTableTitle[] = "給与所得の源泉徴収税額表（月額表）";
constexpr char kNotice[] = "平成19年分の税率改正には Ver2.0 で対応します。";
#endif

// Sample rows shown in the window: a few of the table, by row index.
constexpr uint32_t kShownRows[] = {100, 300, 1600, 2500, 5000};

// A check value over the whole table, shown in the About box; it also keeps the whole
// table in the program, since every byte of it is read.
uint32_t TableCheckValue() {
  uint32_t value = 0;
  for (const lunder::TaxRow& row : lunder::kTaxTable) {
    const auto* words = reinterpret_cast<const uint32_t*>(&row);
    for (size_t i = 0; i < sizeof row / sizeof *words; ++i) value = (value << 5 | value >> 27) ^ words[i];
  }
  return value;
}

// Writes n with thousands separators; returns the length written.
int FormatYen(char* out, uint32_t n) {
  char digits[16];
  int count = wsprintfA(digits, "%lu", static_cast<unsigned long>(n));
  int length = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) out[length++] = ',';
    out[length++] = digits[i];
  }
  out[length] = '\0';
  return length;
}

void ShowAbout(HWND owner) {
  char text[512];
  wsprintfA(text, "%s\r\n%s\r\n\r\n税額表 %lu 行（検査値 %08lX）\r\nCopyright (C) 2007 Tesbrin", kProductName,
            kVersionText, static_cast<unsigned long>(lunder::kRowCount),
            static_cast<unsigned long>(TableCheckValue()));
  MSGBOXPARAMSA box = {};
  box.cbSize = sizeof box;
  box.hwndOwner = owner;
  box.hInstance = GetModuleHandleA(nullptr);
  box.lpszText = text;
  box.lpszCaption = kAboutCaption;
  box.dwStyle = MB_OK | MB_USERICON;
  box.lpszIcon = MAKEINTRESOURCEA(IDI_APP);
  MessageBoxIndirectA(&box);
}

#if LUNDER_VERSION >= 2
// The first row whose income band holds `income`; null above the table.
const lunder::TaxRow* FindRow(uint32_t income) {
  for (const lunder::TaxRow& row : lunder::kTaxTable)
    if (income >= row.income_from && income < row.income_to) return &row;
  return nullptr;
}

// Ver2.0's new function: the withholding for a sample salary.
void ShowEstimate(HWND owner) {
  constexpr uint32_t kSalary = 300000;
  constexpr int kDependents = 2;
  const lunder::TaxRow* row = FindRow(kSalary);
  char salary[32], tax[32], text[256];
  FormatYen(salary, kSalary);
  FormatYen(tax, row ? row->tax[kDependents] : 0);
  wsprintfA(text, "月額給与 %s円・扶養親族 %d人の源泉徴収税額は %s円です。", salary, kDependents, tax);
  MessageBoxA(owner, text, "概算税額", MB_OK | MB_ICONINFORMATION);
}
#endif

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  HFONT font = CreateFontA(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kFontFace);
  HGDIOBJ old_font = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);

  int y = 12;
  auto line = [&](int x, const char* text) {
    TextOutA(dc, x, y, text, lstrlenA(text));
  };
  line(16, kCaption);
  y += 28;
  line(16, kTableTitle);
  y += 24;
  line(16, "その月の社会保険料等控除後の給与等の金額");
  y += 20;
  char text[256];
  for (uint32_t index : kShownRows) {
    const lunder::TaxRow& row = lunder::kTaxTable[index];
    char from[32], to[32], tax0[32], tax2[32];
    FormatYen(from, row.income_from);
    FormatYen(to, row.income_to);
    FormatYen(tax0, row.tax[0]);
    FormatYen(tax2, row.tax[2]);
    wsprintfA(text, "%s円以上 %s円未満　扶養0人 %s円　扶養2人 %s円", from, to, tax0, tax2);
    line(32, text);
    y += 20;
  }
  y += 12;
  line(16, kNotice);

  SelectObject(dc, old_font);
  DeleteObject(font);
  EndPaint(window, &paint);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDM_FILE_EXIT:
          DestroyWindow(window);
          return 0;
        case IDM_HELP_ABOUT:
          ShowAbout(window);
          return 0;
#if LUNDER_VERSION >= 2
        case IDM_CALC_ESTIMATE:
          ShowEstimate(window);
          return 0;
#endif
      }
      break;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // The mutex lives as long as the process: the updater refuses to run while it exists.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    // One copy at a time: bring the running one forward instead.
    if (HWND running = FindWindowA(kWindowClass, nullptr)) SetForegroundWindow(running);
    CloseHandle(mutex);
    return 0;
  }

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = MainWindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassA(&window_class)) return 0;

  HWND window = CreateWindowExA(0, kWindowClass, kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640,
                                360, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 0;
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (mutex != nullptr) CloseHandle(mutex);
  return 0;
}
