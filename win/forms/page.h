#pragma once
// Pages of the forms layer: dialog-frame windows whose controls are declared as data. A page
// class lists its controls in a `static const` table of ControlSpec rows (kind, name, place,
// text, tab order, flags, click handler); Build turns the table into windows, scaled from
// 96 DPI to the screen, and runs the page's create handler. The one dialog procedure of all
// pages dispatches to the handlers named in the tables; a handler shows its own failures in
// the application's error box.
#include <windows.h>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "win/status.h"

namespace forms {

class Application;

// What every handler receives as its sender: the page or the control.
class Object {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;
};

enum class Kind {
  kLabel,   // one line that sizes itself to its text; its mnemonic focuses its focus control
  kEdit,    // single-line edit box, no length limit
  kButton,  // push button
  kPanel,   // sunken separator: lowered outer and inner bevel, no text
};

// Flags of a declared control.
enum : unsigned {
  kDefault = 1u << 0,   // Enter clicks it unless another button has the focus
  kCancel = 1u << 1,    // Esc clicks it
  kDisabled = 1u << 2,  // greyed: takes neither focus nor clicks
  kWordWrap = 1u << 3,  // a label of several lines that keeps its declared size
  kNoPrefix = 1u << 4,  // a label that shows "&" as it is (texts the user typed, paths)
};

inline constexpr int kNoTabStop = -1;

// Modal results. A page shown modally runs until its result is no longer kModalNone.
inline constexpr int kModalNone = 0;
inline constexpr int kModalOk = 1;
inline constexpr int kModalCancel = 2;

// A control's font where it is not the page's: the same face at another character height
// (pixels at 96 DPI), optionally bold.
struct FontOverride {
  int height = 0;  // 0: the page font
  bool bold = false;
};
inline constexpr FontOverride kHeadingFont{21, true};

class Page;

class Control : public Object {
 public:
  Control() = default;

  HWND Handle() const { return hwnd_; }
  const std::string& Name() const { return name_; }
  std::string Text() const;
  // A single-line label takes the size of its new text.
  void SetText(std::string_view text);
  bool Enabled() const;
  // As the keyboard would move it: an edit box selects its whole text.
  void SetFocus();

 private:
  friend class Page;
  void FitToText();

  Page* page_ = nullptr;
  HWND hwnd_ = nullptr;
  Kind kind_ = Kind::kLabel;
  unsigned flags_ = 0;
  std::string name_;
};

// One row of a page's control table. Positions are pixels of the client area at 96 DPI.
template <class P>
struct ControlSpec {
  Kind kind;
  const char* name;
  Control P::*member;
  int left, top, width, height;
  const char* text = "";
  int tab_order = kNoTabStop;
  unsigned flags = 0;
  FontOverride font = {};
  Control P::*focus_control = nullptr;  // for a label: the control its mnemonic focuses
  void (P::*on_click)(Object& sender) = nullptr;
  int modal_result = kModalNone;  // set on the page before the click handler runs
};

template <class P>
struct PageSpec {
  const char* name;  // component name
  int client_width, client_height;
  const char* caption;
  void (P::*on_create)(Object& sender);
  std::span<const ControlSpec<P>> controls;
};

class Page : public Object {
 public:
  ~Page() override;

  HWND Handle() const { return hwnd_; }
  const std::string& Name() const { return name_; }
  Application& Owner() const { return owner_; }
  // Whether Build made the window and every control; the error box's text otherwise.
  const win::Status& Built() const { return built_; }

  std::string Caption() const;
  void SetCaption(std::string_view caption);
  bool Visible() const;

  // Shows the page centred on the screen, activated, the focus on its first control in tab
  // order unless a control of the page already has it.
  void Show();
  void Hide();
  // The main page's close ends the application; a modal page's close ends its display
  // (result cancel unless a button set one); any other page is hidden.
  void Close();
  // Disables the other visible, enabled top-level windows of the thread, shows the page and
  // processes messages until it has a modal result or the application terminates (cancel);
  // then enables exactly those windows again and hides the page.
  int ShowModal();
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  // Asked before a close request that comes from outside the program's own code (the close
  // box, Alt+F4, WM_CLOSE, the application window's close): false ignores the request.
  // Close() itself always closes.
  virtual bool CloseQuery() { return true; }

 protected:
  explicit Page(Application& owner);

  struct ControlDecl {
    Kind kind;
    std::string name;
    Control* control;
    int left, top, width, height;
    std::string text;
    int tab_order;
    unsigned flags;
    FontOverride font;
    Control* focus_control;
    std::function<void(Object&)> on_click;
    int modal_result;
  };
  struct PageDecl {
    std::string name;
    int client_width, client_height;
    std::string caption;
    std::function<void(Object&)> on_create;
    std::vector<ControlDecl> controls;
  };

  // Called at the end of the page class's constructor, when its members exist.
  template <class P>
  void Build(const PageSpec<P>& spec) {
    P& self = static_cast<P&>(*this);
    PageDecl page{spec.name, spec.client_width, spec.client_height, spec.caption, nullptr, {}};
    if (spec.on_create) page.on_create = [&self, handler = spec.on_create](Object& sender) { (self.*handler)(sender); };
    for (const ControlSpec<P>& row : spec.controls) {
      ControlDecl control{row.kind, row.name, &(self.*row.member), row.left, row.top, row.width, row.height,
                          row.text, row.tab_order, row.flags, row.font, nullptr, nullptr, row.modal_result};
      if (row.focus_control) control.focus_control = &(self.*row.focus_control);
      if (row.on_click) control.on_click = [&self, handler = row.on_click](Object& sender) { (self.*handler)(sender); };
      page.controls.push_back(std::move(control));
    }
    Build(std::move(page));
  }
  // Creates the window (hidden) and its controls, then runs the create handler. A window
  // that cannot be created stops the build (Built() says why); the page is kept with what
  // the create handler had set up when the handler stops at an error of its own.
  void Build(PageDecl page);

  // The page font at the given DPI: "ＭＳ Ｐゴシック", Shift-JIS, 12 px.
  virtual LOGFONTA BaseFont(int dpi) const;
  // Whether positions are declared for 96 DPI (false: they are screen pixels already).
  virtual bool ScalesLayout() const { return true; }

 private:
  struct Slot {
    Control* control;
    std::function<void(Object&)> on_click;
    int modal_result;
  };
  struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
  };

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  win::Status CreateWindowFrame(const PageDecl& page, int dpi);
  HFONT FontFor(const FontOverride& font, const LOGFONTA& base, int dpi);
  Slot* SlotWithFlag(unsigned flag);
  Slot* SlotWithId(int id);
  void Click(Slot& slot);
  void FocusFirstControl();

  Application& owner_;
  HWND hwnd_ = nullptr;
  std::string name_;
  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>> fonts_;
  int modal_result_ = kModalNone;
  bool modal_ = false;
  win::Status built_;
};

}  // namespace forms
