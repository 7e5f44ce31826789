// The demo product's library beside Lunder19.EXE: the withholding rates by bracket, in two
// releases (LUNDER_VERSION 1 and 2), for updates that cover the whole product folder.
#include <windows.h>

extern "C" {

#if LUNDER_VERSION >= 2
// The rates of the 2007 reform: five brackets to six, the top one raised.
__declspec(dllexport) extern const int kRatesPercent[];
const int kRatesPercent[] = {5, 10, 20, 23, 33, 40};
__declspec(dllexport) int WINAPI TaxRatesVersion() { return 2; }
#else
__declspec(dllexport) extern const int kRatesPercent[];
const int kRatesPercent[] = {10, 20, 30, 37};
__declspec(dllexport) int WINAPI TaxRatesVersion() { return 1; }
#endif

__declspec(dllexport) int WINAPI TaxRatePercent(int bracket) {
  constexpr int count = sizeof kRatesPercent / sizeof kRatesPercent[0];
  if (bracket < 0) return kRatesPercent[0];
  return kRatesPercent[bracket < count ? bracket : count - 1];
}
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
