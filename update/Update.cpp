// Start-up of the update wizard: the application with its title, the folder page (the main
// window, whose create handler finds the install folder) and the completion page (hidden
// until an update has succeeded), then the message loop until the folder page is closed.
#include <windows.h>

#include "ConstValue.h"
#include "DirSel.h"
#include "EndDialog.h"
#include "win/forms/application.h"
#include "win/library_search.h"
#include "win/status.h"

#ifdef WIZARD_TEST_HOOKS
namespace update {
void InstallTestProbe();
}
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The wizard runs elevated from the user's download folder: before anything else.
  win::RestrictLibrarySearch();
#ifdef WIZARD_TEST_HOOKS
  // Update-test.exe only: tries to disturb the files the run holds (see TestProbe.cpp).
  update::InstallTestProbe();
#endif
  forms::Application application;
  // Only the start-up itself can fail here (a window that cannot be created).
  win::Status started = application.Initialize();
  if (started) {
    application.SetTitle(AppTitle);
    started = application.CreateForm(Form1);
  }
  if (started) started = application.CreateForm(EndForm);
  if (!started) {
    application.ShowError(started.text());
    return 1;
  }
#ifdef WIZARD_TEST_HOOKS
  // Update-test.exe only: shows the completion page as a successful run does, so the
  // scenarios can reach it without running an update.
  if (GetEnvironmentVariableA("WIZARD_TEST_END_PAGE", nullptr, 0) > 0) {
    application.Queue([] {
      EndForm->ShowModal();
      Form1->Close();
    });
  }
#endif
  application.Run();
  return 0;
}
