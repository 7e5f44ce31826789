#include "applier/user_shell.h"

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shlguid.h>

#include "core/patch/applier_run.h"
#include "win/handle.h"

namespace applier {
namespace {

// Releases a COM interface when it goes.
template <typename Interface>
class Com {
 public:
  Com() = default;
  ~Com() {
    if (p_) p_->Release();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  Interface* operator->() const { return p_; }
  Interface* get() const { return p_; }
  Interface** put() { return &p_; }
  void** put_void() { return reinterpret_cast<void**>(&p_); }

 private:
  Interface* p_ = nullptr;
};

class BString {
 public:
  explicit BString(const WCHAR* text) : s_(SysAllocString(text)) {}
  ~BString() { SysFreeString(s_); }
  BString(const BString&) = delete;
  BString& operator=(const BString&) = delete;
  BSTR get() const { return s_; }

 private:
  BSTR s_;
};

class ComScope {
 public:
  ComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
  ~ComScope() {
    if (ok_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// The shell's automation object of the desktop window: it belongs to the shell's own
// process, so what it starts runs with the shell's (the logged-in user's) rights.
bool DesktopShellDispatch(IShellDispatch2** dispatch) {
  Com<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              windows.put_void()))) {
    return false;
  }
  VARIANT location;
  VariantInit(&location);
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT empty;
  VariantInit(&empty);
  long window = 0;
  Com<IDispatch> found;
  if (windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, found.put()) != S_OK ||
      !found.get()) {
    return false;
  }
  Com<IServiceProvider> services;
  Com<IShellBrowser> browser;
  Com<IShellView> view;
  Com<IDispatch> background;
  Com<IShellFolderViewDual> folder_view;
  Com<IDispatch> application;
  return SUCCEEDED(found->QueryInterface(IID_IServiceProvider, services.put_void())) &&
         SUCCEEDED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) &&
         SUCCEEDED(browser->QueryActiveShellView(view.put())) &&
         SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) &&
         SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, folder_view.put_void())) &&
         SUCCEEDED(folder_view->get_Application(application.put())) &&
         SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(dispatch)));
}

}  // namespace

bool OpenThroughDesktopShell(const char* path) {
  WCHAR wide[patch::kPathCapacity];
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, patch::kPathCapacity) <= 0) return false;
  ComScope com;
  if (!com.ok()) return false;
  Com<IShellDispatch2> shell;
  if (!DesktopShellDispatch(shell.put())) return false;
  BString file(wide);
  BString verb(L"open");
  VARIANT none;
  VariantInit(&none);
  VARIANT operation;
  VariantInit(&operation);
  operation.vt = VT_BSTR;
  operation.bstrVal = verb.get();
  VARIANT show;
  VariantInit(&show);
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  return file.get() && verb.get() && SUCCEEDED(shell->ShellExecute(file.get(), none, none, operation, show));
}

Elevation RunsElevated() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return Elevation::Unknown;
  win::KernelHandle token(opened);
  DWORD elevated = 0;  // TOKEN_ELEVATION
  DWORD size = 0;
  constexpr auto kTokenElevation = static_cast<TOKEN_INFORMATION_CLASS>(20);
  if (!GetTokenInformation(token.get(), kTokenElevation, &elevated, sizeof elevated, &size)) return Elevation::Unknown;
  return elevated ? Elevation::Elevated : Elevation::NotElevated;
}

}  // namespace applier
