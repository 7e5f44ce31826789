#include "applier/user_shell.h"

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shlguid.h>

#include "core/patch/applier_run.h"
#include "win/handle.h"
#include "win/library_search.h"

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

// COM and its strings are not imported (what they import is not always taken from the
// system folder): their functions come from the system folder once the search is
// restricted, and without them the document is not opened through the shell.
struct ComFunctions {
  decltype(&CoInitialize) initialize = win::SystemFunction<decltype(&CoInitialize)>("ole32.dll", "CoInitialize");
  decltype(&CoUninitialize) uninitialize =
      win::SystemFunction<decltype(&CoUninitialize)>("ole32.dll", "CoUninitialize");
  decltype(&CoCreateInstance) create = win::SystemFunction<decltype(&CoCreateInstance)>("ole32.dll", "CoCreateInstance");
  decltype(&SysAllocString) alloc_string =
      win::SystemFunction<decltype(&SysAllocString)>("oleaut32.dll", "SysAllocString");
  decltype(&SysFreeString) free_string = win::SystemFunction<decltype(&SysFreeString)>("oleaut32.dll", "SysFreeString");
  bool complete() const { return initialize && uninitialize && create && alloc_string && free_string; }
};

class BString {
 public:
  BString(const ComFunctions& com, const WCHAR* text) : com_(com), s_(com.alloc_string(text)) {}
  ~BString() { com_.free_string(s_); }
  BString(const BString&) = delete;
  BString& operator=(const BString&) = delete;
  BSTR get() const { return s_; }

 private:
  const ComFunctions& com_;
  BSTR s_;
};

class ComScope {
 public:
  explicit ComScope(const ComFunctions& com) : com_(com), ok_(SUCCEEDED(com.initialize(nullptr))) {}
  ~ComScope() {
    if (ok_) com_.uninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool ok() const { return ok_; }

 private:
  const ComFunctions& com_;
  bool ok_;
};

// What VariantInit does: an empty variant.
VARIANT EmptyVariant() {
  VARIANT variant{};
  variant.vt = VT_EMPTY;
  return variant;
}

// The shell's automation object of the desktop window: it belongs to the shell's own
// process, so what it starts runs with the shell's (the logged-in user's) rights.
bool DesktopShellDispatch(const ComFunctions& com, IShellDispatch2** dispatch) {
  Com<IShellWindows> windows;
  if (FAILED(com.create(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              windows.put_void()))) {
    return false;
  }
  VARIANT location = EmptyVariant();
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT empty = EmptyVariant();
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
  const ComFunctions functions;
  if (!functions.complete()) return false;
  ComScope com(functions);
  if (!com.ok()) return false;
  Com<IShellDispatch2> shell;
  if (!DesktopShellDispatch(functions, shell.put())) return false;
  BString file(functions, wide);
  BString verb(functions, L"open");
  VARIANT none = EmptyVariant();
  VARIANT operation = EmptyVariant();
  operation.vt = VT_BSTR;
  operation.bstrVal = verb.get();
  VARIANT show = EmptyVariant();
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
