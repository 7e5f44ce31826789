// The demo program of the example product "Kanvelo 帳簿ソフト2010" (profiles/kanvelo10.ini),
// Ver3.0 and Ver3.1 from one source (CHOBO_VERSION 30 or 31). Its mutex comes from that
// profile, as the wizard built for it expects: while its window is up the wizard refuses
// to replace it.
#include <windows.h>

#include "ConstValue.h"

namespace {

#if CHOBO_VERSION >= 31
constexpr char kText[] = "Kanvelo 帳簿ソフト2010\r\nVer3.1\r\n\r\n仕訳帳の印刷に対応しました。";
#else
constexpr char kText[] = "Kanvelo 帳簿ソフト2010\r\nVer3.0";
#endif
constexpr char kCaption[] = "Kanvelo 帳簿ソフト2010";

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, AppMutexName);
  if (mutex == nullptr) return 1;
  if (GetLastError() != ERROR_ALREADY_EXISTS) MessageBoxA(nullptr, kText, kCaption, MB_OK | MB_ICONINFORMATION);
  CloseHandle(mutex);
  return 0;
}
