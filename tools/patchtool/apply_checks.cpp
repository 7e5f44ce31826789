#include "tools/patchtool/apply_checks.h"

#include <cstring>

#include "core/patch/messages.h"
#include "tools/patchtool/chain_reader.h"
#include "tools/patchtool/cp932_convert.h"
#include "tools/patchtool/tool.h"

namespace patchtool {

void PrintingPlatform::OpenProgressDialog() {
  if (verbose_) out_ << "[dialog opened]\n";
}

void PrintingPlatform::CloseProgressDialog() {
  if (verbose_) out_ << "[dialog closed]\n";
}

void PrintingPlatform::SetDialogLine(patch::DialogLine line, const char* text) {
  if (verbose_) out_ << "[" << static_cast<int>(line) << "] " << Cp932ToUtf8ForDisplay(text) << "\n";
}

void PrintingPlatform::ShowBox(const char* text, const char* caption, patch::BoxOwner owner, uint32_t type) {
  boxes_.push_back({text, caption, owner, type});
  out_ << Cp932ToUtf8ForDisplay(caption) << ": " << Cp932ToUtf8ForDisplay(text) << "\n";
}

RunImage::RunImage(const std::string& path) : buffer_(ReadWholeFile(path, "FILE", true, patch::SEARCH_START)) {
  const patch::Image bytes = file();
  bare_ = bytes.size() >= 4 && std::memcmp(bytes.data(), "\x44\x69\x66\x66", 4) == 0;
}

void CheckWindowsFolderNeeds(patch::Image image, const std::string& file, bool have_windows_folder) {
  if (have_windows_folder) return;
  bool bare = false;
  uint32_t first = 0;
  try {
    first = LocatePatchData(image, file, &bare);
  } catch (const ToolError&) {
    return;  // the run itself reports missing patch data, as the applier does
  }
  const Chain chain = ReadChain(image, first);
  for (const ChainEntry& entry : chain.entries) {
    const patch::EntryHeader& h = entry.header;
    if (h.target_folder.length > 0 && h.target_folder.data[0] == '*') {
      throw ToolError("the entry at offset " + std::to_string(h.offset) + " puts \"" +
                      Cp932ToUtf8ForDisplay(std::string_view(h.target_name.data, h.target_name.length)) +
                      "\" into the Windows folder (target_folder \"" +
                      Cp932ToUtf8ForDisplay(std::string_view(h.target_folder.data, h.target_folder.length)) +
                      "\"); give the folder with --windows-dir DIR");
    }
  }
}

std::vector<std::string> ChainNames(patch::Image image, const std::string& file) {
  bool bare = false;
  uint32_t first = 0;
  try {
    first = LocatePatchData(image, file, &bare);
  } catch (const ToolError&) {
    return {};
  }
  std::vector<std::string> names;
  for (const ChainEntry& entry : ReadChain(image, first).entries) {
    const patch::EntryHeader& h = entry.header;
    names.emplace_back(h.target_name.data, h.target_name.length);
    names.emplace_back(h.target_folder.data, h.target_folder.length);
  }
  return names;
}

int JudgeRun(const std::vector<PrintedBox>& boxes) {
  if (boxes.empty()) {
    throw ToolError("the run ended without a final message: the chain starts with an open-document entry, so nothing "
                    "was done");
  }
  // The completion box says "正常終了" as its text, the document box as its caption.
  const PrintedBox& last = boxes.back();
  if (last.text == patch::msg::kCompleted || last.caption == patch::msg::kCompleted) return kExitOk;
  throw ToolError("the update did not complete: " + Cp932ToUtf8ForDisplay(last.caption) + ": " +
                  Cp932ToUtf8ForDisplay(last.text));
}

}  // namespace patchtool
