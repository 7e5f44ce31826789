#pragma once
// The application object of the forms layer: a window of its own that carries the title
// (the taskbar entry; the pages, which it owns, have none), the pages, the message loop and
// the error box that every failed step of a handler ends in.
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/cp932.h"
#include "win/forms/page.h"
#include "win/status.h"

namespace forms {

class Application : public Object {
 public:
  Application() = default;
  ~Application() override;

  // Reads the system code page's lead bytes and creates the application window (hidden).
  win::Status Initialize();
  // Lead bytes of the system's ANSI code page: none on a single-byte locale.
  const text::LeadByteTable& LeadBytes() const { return lead_bytes_; }

  const std::string& Title() const { return title_; }
  void SetTitle(std::string_view title);
  HWND Handle() const { return hwnd_; }

  // Creates a page owned by the application; the first page created is the main window.
  // Fails when the page's window or one of its controls could not be created.
  template <class P>
  win::Status CreateForm(P*& reference) {
    auto page = std::make_unique<P>(*this);
    reference = page.get();
    if (!main_page_) main_page_ = page.get();
    win::Status built = page->Built();
    pages_.push_back(std::move(page));
    return built;
  }
  Page* MainPage() const { return main_page_; }

  // Shows the main page and processes messages until the application terminates.
  void Run();
  // Ends the message loop (and any modal display) once control returns to it.
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Dispatches every pending message of the thread and returns.
  void ProcessMessages();
  // Runs `work` from the message loop, as a handler would run.
  void Queue(std::function<void()> work);

  // The error box: system message box with the title, the stop icon and an OK button; "."
  // is appended when the text's last character sorts after ".".
  void ShowError(std::string_view message);

  // For pages: registration of their windows (pages made by CreateForm and transient ones
  // such as the plain message) and the routing of one message.
  void AddPage(Page& page);
  void RemovePage(Page& page);
  void Dispatch(MSG& message);
  // A GetMessage loop saw WM_QUIT.
  void QuitReceived() { terminated_ = true; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  bool IsPageWindow(HWND hwnd) const;
  HWND ActivePage() const;
  HWND BoxOwner() const;

  HWND hwnd_ = nullptr;
  std::string title_;
  text::LeadByteTable lead_bytes_;
  std::vector<std::unique_ptr<Page>> pages_;
  std::vector<Page*> live_pages_;
  Page* main_page_ = nullptr;
  std::deque<std::function<void()>> queue_;
  bool terminated_ = false;
};

}  // namespace forms
