#pragma once
// The completion page: shown modally once an update has succeeded; its one working button
// ends the wizard.
#include "win/forms/application.h"
#include "win/forms/page.h"

class TEndForm : public forms::Page {
 public:
  explicit TEndForm(forms::Application& owner);

  forms::Control NextButton;
  forms::Control CancelButton;
  forms::Control Panel1;
  forms::Control Label1;
  forms::Control Label2;
  forms::Control Label3;
  forms::Control Label4;
  forms::Control Label5;
  forms::Control Label6;

  void NextButtonClick(forms::Object& sender);
  void FormCreate(forms::Object& sender);
};

extern TEndForm* EndForm;
