#include "EndDialog.h"

#include "ConstValue.h"

using forms::Kind;

TEndForm* EndForm = nullptr;

namespace {

// Texts set by FormCreate are declared empty here.
const forms::ControlSpec<TEndForm> kControls[] = {
    {Kind::kLabel, "Label1", &TEndForm::Label1, 8, 32, 473, 21, "", forms::kNoTabStop, 0, forms::kHeadingFont},
    {Kind::kLabel, "Label4", &TEndForm::Label4, 392, 61, 155, 21, "が完了しました。", forms::kNoTabStop, 0,
     forms::kHeadingFont},
    {Kind::kLabel, "Label2", &TEndForm::Label2, 96, 104, 235, 12, ""},
    {Kind::kLabel, "Label3", &TEndForm::Label3, 96, 120, 406, 12, ""},
    {Kind::kLabel, "Label5", &TEndForm::Label5, 96, 136, 257, 12,
     "[ヘルプ(H)]-[バージョン情報(A)]でご確認ください。"},
    {Kind::kLabel, "Label6", &TEndForm::Label6, 96, 152, 161, 12, "完了ボタンを押すと終了します。"},
    {Kind::kPanel, "Panel1", &TEndForm::Panel1, 8, 256, 590, 3, "", 2},
    {.kind = Kind::kButton, .name = "NextButton", .member = &TEndForm::NextButton, .left = 432, .top = 272,
     .width = 75, .height = 25, .text = "完了", .tab_order = 0, .flags = forms::kDefault,
     .on_click = &TEndForm::NextButtonClick, .modal_result = forms::kModalOk},
    // Only completes the row of buttons where the folder page has its own: never enabled.
    {Kind::kButton, "CancelButton", &TEndForm::CancelButton, 520, 272, 75, 25, "キャンセル", 1, forms::kDisabled},
};

const forms::PageSpec<TEndForm> kPage{"EndForm", 602, 306, "", &TEndForm::FormCreate, kControls};

}  // namespace

TEndForm::TEndForm(forms::Application& owner) : Page(owner) { Build(kPage); }

void TEndForm::NextButtonClick(forms::Object&) { Close(); }

void TEndForm::FormCreate(forms::Object&) {
  SetCaption(UpdateTitle);
  Label1.SetText(UpdateTitle);
  Label2.SetText(DoneText);
  Label3.SetText(AfterUpdateText);
}
