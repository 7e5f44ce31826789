#include "win/forms/message.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace forms {
namespace {

LOGFONTA MessageFont() {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return metrics.lfMessageFont;
  // Systems older than the padded-border field know only the shorter record.
  metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return metrics.lfMessageFont;
  LOGFONTA font{};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  return font;
}

// The plain message's layout follows the size of its font, as a dialog's does: margins,
// spacing and the button in dialog units of the message font.
class PlainMessage : public Page {
 public:
  PlainMessage(Application& application, std::string_view text) : Page(application), font_(MessageFont()) {
    Build(Layout(application, std::string(text)));
  }

 protected:
  LOGFONTA BaseFont(int) const override { return font_; }
  bool ScalesLayout() const override { return false; }

 private:
  PageDecl Layout(Application& application, const std::string& text) {
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontIndirectA(&font_);
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SIZE alphabet{};
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32A(dc, kAlphabet, 52, &alphabet);
    const int unit_x = std::max<int>(1, (alphabet.cx / 26 + 1) / 2);
    const int unit_y = std::max<int>(1, metrics.tmHeight);
    RECT bounds{0, 0, GetSystemMetrics(SM_CXSCREEN) / 2, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    if (font) DeleteObject(font);
    ReleaseDC(nullptr, dc);

    const int margin_x = MulDiv(8, unit_x, 4);
    const int margin_y = MulDiv(8, unit_y, 8);
    const int spacing = MulDiv(10, unit_y, 8);
    const int button_width = MulDiv(50, unit_x, 4);
    const int button_height = MulDiv(14, unit_y, 8);
    const int text_width = bounds.right - bounds.left;
    const int text_height = bounds.bottom - bounds.top;
    const int client_width = std::max(text_width, button_width) + 2 * margin_x;
    const int client_height = margin_y + text_height + spacing + button_height + margin_y;

    PageDecl page{"", client_width, client_height, application.Title(), nullptr, {}};
    page.controls.push_back({Kind::kLabel, "Message", &message_, margin_x, margin_y, text_width, text_height, text,
                             kNoTabStop, kWordWrap | kNoPrefix, {}, nullptr, nullptr, kModalNone});
    page.controls.push_back({Kind::kButton, "OKButton", &ok_, (client_width - button_width) / 2,
                             margin_y + text_height + spacing, button_width, button_height, "OK", 0,
                             kDefault | kCancel, {}, nullptr, nullptr, kModalOk});
    return page;
  }

  LOGFONTA font_;
  Control message_;
  Control ok_;
};

}  // namespace

bool ShowMessage(Application& application, std::string_view text) {
  PlainMessage message(application, text);
  if (!message.Built()) {
    application.ShowError(message.Built().text());
    return false;
  }
  message.ShowModal();
  return true;
}

}  // namespace forms
