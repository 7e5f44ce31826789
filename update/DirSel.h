#pragma once
// The folder page: the wizard's main window and first page. It names the product and the
// version the update is for, proposes the install folder and lets the user type or browse
// for another one. Its Next button starts the update run, which checks the folder, prepares
// its access rights, writes and runs the patch applier and judges what it left behind.
#include "win/forms/application.h"
#include "win/forms/page.h"

class TForm1 : public forms::Page {
 public:
  explicit TForm1(forms::Application& owner);

  forms::Control Label1;
  forms::Control DirEdit;
  forms::Control DirSelectButton;
  forms::Control NextButton;
  forms::Control CancelButton;
  forms::Control Label2;
  forms::Control Label3;
  forms::Control Panel1;
  forms::Control Label4;
  forms::Control Label5;

  void DirSelectButtonClick(forms::Object& sender);
  void NextButtonClick(forms::Object& sender);
  void CancelButtonClick(forms::Object& sender);
  void FormCreate(forms::Object& sender);

  // While an update run is in progress the page ignores close requests: the run waits for
  // the applier with the message loop running, and must reach its own end.
  bool CloseQuery() override { return !running_; }

 private:
  bool running_ = false;
};

extern TForm1* Form1;
