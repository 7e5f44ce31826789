#pragma once
// What `patchtool apply` decides the same way on every system: which chains it refuses
// before the run, and how the boxes the run printed become the command's outcome.
#include <ostream>
#include <span>
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

// The half of the applier's platform that faces the user, on the vendor's machine: every
// box printed as "caption: text" (and kept for the judgement), with `verbose` the progress
// dialog's lines too; no bar, no messages. Each system's platform adds the files.
class PrintingPlatform : public patch::ApplierPlatform {
 public:
  const std::vector<PrintedBox>& boxes() const { return boxes_; }

  void OpenProgressDialog() override;
  void CloseProgressDialog() override;
  void SetDialogLine(patch::DialogLine line, const char* text) override;
  void ResetProgressBar() override {}
  void StepProgressBar() override {}
  void PumpMessages() override {}
  void ShowBox(const char* text, const char* caption, patch::BoxOwner owner, uint32_t type) override;

 protected:
  PrintingPlatform(std::ostream& out, bool verbose) : out_(out), verbose_(verbose) {}
  std::ostream& out() { return out_; }

 private:
  std::ostream& out_;
  bool verbose_;
  std::vector<PrintedBox> boxes_;
};

// The file `patchtool apply` runs, read once. The run is served its own file from these
// bytes: bare patch data (a file that starts with "Diff") behind SEARCH_START zero bytes,
// as if packed onto an applier image, anything else as it is.
class RunImage {
 public:
  explicit RunImage(const std::string& path);
  RunImage(const RunImage&) = delete;
  RunImage& operator=(const RunImage&) = delete;

  patch::Image file() const { return std::span(buffer_).subspan(patch::SEARCH_START); }
  std::span<uint8_t> as_run() { return bare_ ? std::span(buffer_) : std::span(buffer_).subspan(patch::SEARCH_START); }

 private:
  Bytes buffer_;  // SEARCH_START zero bytes, then the file
  bool bare_;
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
