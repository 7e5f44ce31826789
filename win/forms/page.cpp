#include "win/forms/page.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "win/forms/application.h"
#include "win/forms/task_windows.h"

namespace forms {
namespace {

constexpr int kFirstControlId = 100;
constexpr DWORD kPageStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

int Scale(int value, int dpi) { return MulDiv(value, dpi, 96); }

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int copied = GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::clamp(copied, 0, length)));
  return text;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

// ---- Control ------------------------------------------------------------------------------

std::string Control::Text() const { return WindowText(hwnd_); }

void Control::SetText(std::string_view text) {
  std::string copy(text);
  SetWindowTextA(hwnd_, copy.c_str());
  if (kind_ == Kind::kLabel && !(flags_ & kWordWrap)) FitToText();
}

bool Control::Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }

void Control::SetFocus() {
  // WM_NEXTDLGCTL moves the focus as Tab does: the dialog manager selects an edit box's text.
  if (page_) SendMessageA(page_->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hwnd_), TRUE);
}

void Control::FitToText() {
  std::string text = Text();
  HDC dc = GetDC(hwnd_);
  if (!dc) return;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(hwnd_, WM_GETFONT, 0, 0)));
  RECT bounds{0, 0, 0, 0};
  UINT format = DT_CALCRECT | DT_SINGLELINE | DT_LEFT | ((flags_ & kNoPrefix) ? DT_NOPREFIX : 0);
  if (text.empty()) {
    // An empty label keeps the height of one line, as it would with text.
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    bounds.bottom = metrics.tmHeight;
  } else {
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &bounds, format);
  }
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  SetWindowPos(hwnd_, nullptr, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- Page ---------------------------------------------------------------------------------

Page::Page(Application& owner) : owner_(owner) {}

Page::~Page() {
  if (hwnd_) {
    owner_.RemovePage(*this);
    SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
    DestroyWindow(hwnd_);
  }
}

LOGFONTA Page::BaseFont(int dpi) const {
  LOGFONTA font{};
  font.lfHeight = -Scale(12, dpi);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = SHIFTJIS_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  static const char kFace[] = "ＭＳ Ｐゴシック";
  static_assert(sizeof(kFace) <= LF_FACESIZE);
  std::memcpy(font.lfFaceName, kFace, sizeof(kFace));
  return font;
}

HFONT Page::FontFor(const FontOverride& override_font, const LOGFONTA& base, int dpi) {
  LOGFONTA font = base;
  if (override_font.height) font.lfHeight = -Scale(override_font.height, dpi);
  if (override_font.bold) font.lfWeight = FW_BOLD;
  HFONT handle = CreateFontIndirectA(&font);
  if (!handle) handle = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  else fonts_.emplace_back(handle);
  return handle;
}

win::Status Page::CreateWindowFrame(const PageDecl& page, int dpi) {
  // An empty in-memory template: the dialog manager gives the page Tab, Enter, Esc and
  // mnemonics; the controls are laid out in pixels afterwards.
  struct alignas(4) Template {
    DLGTEMPLATE dialog;
    WORD menu, window_class, title;
  } blank{};
  static_assert(offsetof(Template, menu) == 18);
  blank.dialog.style = kPageStyle;
  HWND owner = owner_.Handle();
  HWND hwnd = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), &blank.dialog, owner, DialogProc,
                                         reinterpret_cast<LPARAM>(this));
  if (!hwnd) return win::Status::Error("ページ " + page.name + " を作成できません");
  hwnd_ = hwnd;

  RECT frame{0, 0, Scale(page.client_width, dpi), Scale(page.client_height, dpi)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE)));
  SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowTextA(hwnd, page.caption.c_str());
  return {};
}

void Page::Build(PageDecl page) {
  const int dpi = ScalesLayout() ? ScreenDpi() : 96;
  name_ = page.name;
  built_ = CreateWindowFrame(page, dpi);
  if (!built_) return;
  owner_.AddPage(*this);
  const LOGFONTA base = BaseFont(dpi);
  HFONT page_font = FontFor({}, base, dpi);

  // The dialog manager walks controls in creation order for Tab and finds a label's control
  // as the next one after it, so: tab stops in tab order, each preceded by the labels that
  // focus it; then everything else in declaration order.
  std::vector<size_t> order;
  std::vector<size_t> tab_stops;
  for (size_t i = 0; i < page.controls.size(); ++i) {
    if (page.controls[i].tab_order != kNoTabStop && page.controls[i].kind != Kind::kPanel) tab_stops.push_back(i);
  }
  std::stable_sort(tab_stops.begin(), tab_stops.end(),
                   [&](size_t a, size_t b) { return page.controls[a].tab_order < page.controls[b].tab_order; });
  for (size_t stop : tab_stops) {
    for (size_t i = 0; i < page.controls.size(); ++i) {
      if (page.controls[i].focus_control == page.controls[stop].control) order.push_back(i);
    }
    order.push_back(stop);
  }
  for (size_t i = 0; i < page.controls.size(); ++i) {
    if (std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);
  }

  slots_.clear();
  for (ControlDecl& decl : page.controls) slots_.push_back({decl.control, std::move(decl.on_click), decl.modal_result});

  for (size_t index : order) {
    const ControlDecl& decl = page.controls[index];
    const char* window_class = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    const bool tab_stop = decl.tab_order != kNoTabStop && decl.kind != Kind::kPanel;
    switch (decl.kind) {
      case Kind::kLabel:
        style |= (decl.flags & kWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP;
        if (decl.flags & kNoPrefix) style |= SS_NOPREFIX;
        break;
      case Kind::kEdit:
        window_class = "EDIT";
        style |= ES_LEFT | ES_AUTOHSCROLL;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case Kind::kButton:
        window_class = "BUTTON";
        style |= (decl.flags & kDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        break;
      case Kind::kPanel:
        style |= SS_OWNERDRAW;
        break;
    }
    // Each control is a group of its own, so arrow keys do not wander between buttons.
    if (tab_stop) style |= WS_TABSTOP | WS_GROUP;
    if (decl.flags & kDisabled) style |= WS_DISABLED;
    const int id = kFirstControlId + static_cast<int>(index);
    HWND control = CreateWindowExA(ex_style, window_class, decl.kind == Kind::kPanel ? "" : decl.text.c_str(), style,
                                   Scale(decl.left, dpi), Scale(decl.top, dpi), Scale(decl.width, dpi),
                                   Scale(decl.height, dpi), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleA(nullptr), nullptr);
    if (!control) {
      built_ = win::Status::Error("コントロール " + decl.name + " を作成できません");
      return;
    }
    Control& member = *decl.control;
    member.page_ = this;
    member.hwnd_ = control;
    member.kind_ = decl.kind;
    member.flags_ = decl.flags;
    member.name_ = decl.name;
    HFONT font = (decl.font.height || decl.font.bold) ? FontFor(decl.font, base, dpi) : page_font;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (decl.kind == Kind::kEdit) SendMessageA(control, EM_LIMITTEXT, 0, 0);
    if (decl.kind == Kind::kLabel && !(decl.flags & kWordWrap)) member.FitToText();
    if (decl.flags & kDefault) SendMessageA(hwnd_, DM_SETDEFID, static_cast<WPARAM>(id), 0);
  }

  if (page.on_create) page.on_create(*this);
}

std::string Page::Caption() const { return WindowText(hwnd_); }

void Page::SetCaption(std::string_view caption) {
  std::string copy(caption);
  SetWindowTextA(hwnd_, copy.c_str());
}

bool Page::Visible() const { return IsWindowVisible(hwnd_) != FALSE; }

void Page::Show() {
  RECT frame{};
  GetWindowRect(hwnd_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(hwnd_, HWND_TOP, left, top, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(hwnd_);
  SetActiveWindow(hwnd_);
  HWND focus = GetFocus();
  if (!focus || !IsChild(hwnd_, focus)) FocusFirstControl();
}

void Page::FocusFirstControl() {
  HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (first) SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
}

void Page::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void Page::Close() {
  if (modal_) {
    if (modal_result_ == kModalNone) modal_result_ = kModalCancel;
    return;
  }
  Hide();
  if (owner_.MainPage() == this) owner_.Terminate();
}

int Page::ShowModal() {
  DisabledTaskWindows disabled(hwnd_);
  modal_ = true;
  modal_result_ = kModalNone;
  Show();
  while (modal_result_ == kModalNone) {
    if (owner_.Terminated()) {
      modal_result_ = kModalCancel;
      break;
    }
    MSG message;
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      owner_.QuitReceived();
      continue;
    }
    owner_.Dispatch(message);
  }
  const int result = modal_result_;
  // Enable first, so that hiding hands the activation back to the page behind.
  disabled.Restore();
  Hide();
  modal_ = false;
  return result;
}

Page::Slot* Page::SlotWithFlag(unsigned flag) {
  for (Slot& slot : slots_) {
    if (slot.control->flags_ & flag) return &slot;
  }
  return nullptr;
}

Page::Slot* Page::SlotWithId(int id) {
  const int index = id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(slots_.size())) return nullptr;
  return &slots_[static_cast<size_t>(index)];
}

void Page::Click(Slot& slot) {
  // A click that reaches a disabled page (a message posted before a modal window opened)
  // must not start a second modal run inside the first.
  if (!slot.control->Enabled() || !IsWindowEnabled(hwnd_)) return;
  if (slot.modal_result != kModalNone) modal_result_ = slot.modal_result;
  if (slot.on_click) slot.on_click(*slot.control);
}

INT_PTR CALLBACK Page::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    return FALSE;  // the focus is placed when the page is shown
  }
  Page* page = reinterpret_cast<Page*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!page) return FALSE;
  return page->HandleMessage(message, wparam, lparam);
}

INT_PTR Page::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (id == IDCANCEL && lparam == 0) {
        // Esc (the dialog manager's cancel): the page's cancel button, if it has one.
        if (Slot* cancel = SlotWithFlag(kCancel)) Click(*cancel);
        return TRUE;
      }
      Slot* slot = SlotWithId(id);
      if (slot && slot->control->kind_ == Kind::kButton && HIWORD(wparam) == BN_CLICKED) {
        Click(*slot);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CLOSE:
      if (CloseQuery()) Close();
      return TRUE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->CtlType != ODT_STATIC) return FALSE;
      RECT bounds = item->rcItem;
      DrawEdge(item->hDC, &bounds, EDGE_SUNKEN, BF_RECT);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace forms
