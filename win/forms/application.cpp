#include "win/forms/application.h"

#include <algorithm>

namespace forms {
namespace {

constexpr char kWindowClass[] = "FormsApplication";
constexpr UINT kRunQueued = WM_APP + 1;
constexpr UINT kActivatePage = WM_APP + 2;

text::LeadByteTable SystemLeadBytes() {
  text::LeadByteTable table;
  CPINFO info{};
  if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize < 2) return table;
  for (size_t i = 0; i + 1 < MAX_LEADBYTES && (info.LeadByte[i] || info.LeadByte[i + 1]); i += 2) {
    for (unsigned byte = info.LeadByte[i]; byte <= info.LeadByte[i + 1]; ++byte) {
      table.SetLead(static_cast<uint8_t>(byte));
    }
  }
  return table;
}

}  // namespace

Application::~Application() {
  // Pages first: their windows are owned by the application window.
  pages_.clear();
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

win::Status Application::Initialize() {
  lead_bytes_ = SystemLeadBytes();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, "MAINICON");
  window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  window_class.lpszClassName = kWindowClass;
  RegisterClassA(&window_class);
  // A window of no size in the middle of the screen: shown with the main page, it gives the
  // program its taskbar entry under the application title while the pages, which it owns,
  // have none of their own.
  hwnd_ = CreateWindowExA(0, kWindowClass, title_.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS,
                          GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                          nullptr, instance, nullptr);
  if (!hwnd_) return win::Status::Error("アプリケーションウィンドウを作成できません");
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return {};
}

void Application::SetTitle(std::string_view title) {
  title_ = title;
  if (hwnd_) SetWindowTextA(hwnd_, title_.c_str());
}

void Application::AddPage(Page& page) {
  live_pages_.push_back(&page);
}

void Application::RemovePage(Page& page) {
  live_pages_.erase(std::remove(live_pages_.begin(), live_pages_.end(), &page), live_pages_.end());
  if (main_page_ == &page) main_page_ = nullptr;
}

bool Application::IsPageWindow(HWND hwnd) const {
  return std::any_of(live_pages_.begin(), live_pages_.end(), [hwnd](Page* page) { return page->Handle() == hwnd; });
}

void Application::Dispatch(MSG& message) {
  HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  if (root && IsPageWindow(root) && IsDialogMessageA(root, &message)) return;
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void Application::Run() {
  if (main_page_ && !terminated_) {
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    main_page_->Show();
  }
  while (!terminated_) {
    MSG message;
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    Dispatch(message);
  }
  terminated_ = true;
}

void Application::Terminate() {
  if (!terminated_) PostQuitMessage(0);
}

void Application::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    Dispatch(message);
  }
}

void Application::Queue(std::function<void()> work) {
  queue_.push_back(std::move(work));
  PostMessageA(hwnd_, kRunQueued, 0, 0);
}

HWND Application::ActivePage() const {
  // The page the user works with: a visible, enabled one (a modal page disables the rest).
  for (Page* page : live_pages_) {
    HWND hwnd = page->Handle();
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) return hwnd;
  }
  return nullptr;
}

HWND Application::BoxOwner() const {
  HWND active = GetActiveWindow();
  if (active && IsWindowVisible(active) && IsWindowEnabled(active)) return active;
  return hwnd_;
}

void Application::ShowError(std::string_view message) {
  std::string text(message);
  if (text::NeedsFinalPeriod(text.data(), text.size(), lead_bytes_)) text += '.';
  MessageBoxA(BoxOwner(), text.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);
}

LRESULT CALLBACK Application::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* application = reinterpret_cast<Application*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!application) return DefWindowProcA(hwnd, message, wparam, lparam);
  return application->HandleMessage(message, wparam, lparam);
}

LRESULT Application::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kRunQueued:
      if (!queue_.empty()) {
        std::function<void()> work = std::move(queue_.front());
        queue_.pop_front();
        work();
      }
      return 0;
    case WM_ACTIVATE:
      // Chosen from the taskbar, the application hands the activation on to its page.
      if (LOWORD(wparam) != WA_INACTIVE) PostMessageA(hwnd_, kActivatePage, 0, 0);
      return 0;
    case kActivatePage:
      if (GetActiveWindow() == hwnd_) {
        if (HWND page = ActivePage()) SetActiveWindow(page);
      }
      return 0;
    case WM_CLOSE:
      if (main_page_ && main_page_->CloseQuery()) main_page_->Close();
      return 0;
    default:
      return DefWindowProcA(hwnd_, message, wparam, lparam);
  }
}

}  // namespace forms
