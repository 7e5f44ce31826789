#pragma once
// What `patchtool apply` decides the same way on every system: which chains it refuses
// before the run, and how the boxes the run printed become the command's outcome.
#include <ostream>
#include <string>
#include <vector>

#include "core/patch/applier_platform.h"
#include "core/patch/format.h"
#include "tools/patchtool/files.h"

namespace patchtool {

// A message box of the run, printed as "caption: text".
struct PrintedBox {
  std::string text;     // code page 932
  std::string caption;  // code page 932
  patch::BoxOwner owner;
  uint32_t type;
};

// What the run would show the user, as printed lines on the vendor's machine: every box
// as "caption: text" (kept for the judgement) and, with `verbose`, the progress dialog.
class RunPrinter {
 public:
  RunPrinter(std::ostream& out, bool verbose) : out_(out), verbose_(verbose) {}

  void DialogOpened();
  void DialogClosed();
  void DialogLine(patch::DialogLine line, const char* text);
  void Box(const char* text, const char* caption, patch::BoxOwner owner, uint32_t type);
  std::ostream& out() { return out_; }
  const std::vector<PrintedBox>& boxes() const { return boxes_; }

 private:
  std::ostream& out_;
  bool verbose_;
  std::vector<PrintedBox> boxes_;
};

// Entries that put their target into the Windows folder cannot run without one; refuse
// them before anything is changed rather than let the run fail half-way.
void CheckWindowsFolderNeeds(patch::Image image, const std::string& file, bool have_windows_folder);

// Every target name and folder of the chain in `image` (none when it holds no patch data:
// the run itself reports that), code page 932.
std::vector<std::string> ChainNames(patch::Image image, const std::string& file);

// kExitOk when the run ended with "正常終了"; otherwise throws ToolError with the last box.
int JudgeRun(const std::vector<PrintedBox>& boxes);

}  // namespace patchtool
