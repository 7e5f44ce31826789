#include "DirSel.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "ConstValue.h"
#include "core/text/cp932.h"
#include "core/wizard/install_folder.h"
#include "win/forms/message.h"
#include "win/forms/task_windows.h"
#include "win/handle.h"
#include "win/shell_memory.h"

using forms::Kind;

TForm1* Form1 = nullptr;

namespace {

// Seen only when the create handler stops at a registry error before it has set the
// folder: the user then types or browses for the folder.
constexpr char kDeclaredFolderText[] = "";

// Texts set by FormCreate are declared empty here.
const forms::ControlSpec<TForm1> kControls[] = {
    {Kind::kLabel, "Label4", &TForm1::Label4, 8, 32, 66, 21, "", forms::kNoTabStop, 0, forms::kHeadingFont},
    {Kind::kLabel, "Label2", &TForm1::Label2, 24, 72, 470, 12, ""},
    {Kind::kLabel, "Label3", &TForm1::Label3, 24, 88, 225, 12, "フォルダを指定して [次へ] を押してください。"},
    {Kind::kLabel, "Label5", &TForm1::Label5, 40, 112, 178, 12, ""},
    {.kind = Kind::kLabel, .name = "Label1", .member = &TForm1::Label1, .left = 72, .top = 168, .width = 278,
     .height = 12, .text = "", .focus_control = &TForm1::DirEdit},
    {Kind::kEdit, "DirEdit", &TForm1::DirEdit, 80, 184, 449, 20, kDeclaredFolderText, 0},
    {.kind = Kind::kButton, .name = "DirSelectButton", .member = &TForm1::DirSelectButton, .left = 456, .top = 208,
     .width = 75, .height = 25, .text = "変更(&C)", .tab_order = 1, .on_click = &TForm1::DirSelectButtonClick},
    {Kind::kPanel, "Panel1", &TForm1::Panel1, 8, 256, 590, 3, "", 4},
    {.kind = Kind::kButton, .name = "NextButton", .member = &TForm1::NextButton, .left = 432, .top = 272,
     .width = 75, .height = 25, .text = "次へ→(&N)", .tab_order = 2, .flags = forms::kDefault,
     .on_click = &TForm1::NextButtonClick},
    {.kind = Kind::kButton, .name = "CancelButton", .member = &TForm1::CancelButton, .left = 520, .top = 272,
     .width = 75, .height = 25, .text = "キャンセル", .tab_order = 3, .flags = forms::kCancel,
     .on_click = &TForm1::CancelButtonClick},
};

const forms::PageSpec<TForm1> kPage{"Form1", 602, 306, "", &TForm1::FormCreate, kControls};

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The uninstall entry's value, read through the registry's ANSI entry points.
class RegistryValue : public wizard::ValueSource {
 public:
  RegistryValue(HKEY key, const char* name) : key_(key), name_(name) {}

  bool QueryTypeAndSize(uint32_t* type, uint32_t* size) override {
    DWORD value_type = 0;
    DWORD value_size = 0;
    if (RegQueryValueExA(key_, name_, nullptr, &value_type, nullptr, &value_size) != ERROR_SUCCESS) return false;
    *type = value_type;
    *size = value_size;
    return true;
  }
  bool Read(char* buffer, uint32_t* size) override {
    DWORD value_size = *size;
    if (RegQueryValueExA(key_, name_, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &value_size) !=
        ERROR_SUCCESS) {
      return false;
    }
    *size = value_size;
    return true;
  }

 private:
  HKEY key_;
  const char* name_;
};

// The folder the application's uninstall entry names, or "" when it names none. Throws the
// registry error when the value is there but unusable.
std::string InstalledFolder(const text::LeadByteTable& lead_bytes) {
  HKEY opened = nullptr;
  // All-access rights: the manifest asks for administrator rights, and a key that cannot be
  // opened so is treated as missing.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return {};
  win::RegKey key(opened);
  RegistryValue value(key.get(), InstallPathValue);
  wizard::InstallValue read = wizard::ReadInstallValue(value);
  if (read.outcome != wizard::ValueOutcome::kText) {
    throw std::runtime_error(wizard::InstallValueErrorText(read.outcome, InstallPathValue));
  }
  return wizard::FolderFromInstallValue(read.text, lead_bytes);
}

std::string DefaultFolder() {
  char windows_directory[256] = {};
  UINT length = GetWindowsDirectoryA(windows_directory, 256);
  if (length == 0 || length >= 256) windows_directory[0] = '\0';
  return wizard::DefaultInstallFolder(windows_directory, FolderExists, DefaultSubFolder);
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM initial_folder) {
  if (message == BFFM_INITIALIZED && initial_folder) {
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, initial_folder);
  }
  return 0;
}

// Puts the process's error mode back when the browser is done.
class ErrorModeScope {
 public:
  explicit ErrorModeScope(UINT mode) : previous_(SetErrorMode(mode)) {}
  ~ErrorModeScope() { SetErrorMode(previous_); }
  ErrorModeScope(const ErrorModeScope&) = delete;
  ErrorModeScope& operator=(const ErrorModeScope&) = delete;

 private:
  UINT previous_;
};

// The system's folder browser, opened on `initial_folder` when that is an existing folder.
// Returns the chosen folder, or "" when the user cancelled (or the browser could not run).
std::string BrowseForFolder(HWND owner, const std::string& caption, std::string initial_folder) {
  if (!FolderExists(initial_folder)) initial_folder.clear();
  win::ShellAllocator allocator;
  if (!allocator) return {};
  win::ShellBlock<char> name(allocator, static_cast<char*>(allocator->Alloc(MAX_PATH)));
  if (!name) return {};
  name.get()[0] = '\0';

  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = name.get();
  info.lpszTitle = caption.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  if (!initial_folder.empty()) {
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial_folder.c_str());
  }

  LPITEMIDLIST item = nullptr;
  {
    forms::DisabledTaskWindows disabled;
    // No critical-error boxes (an empty removable drive) while the user walks the drives.
    ErrorModeScope error_mode(SEM_FAILCRITICALERRORS);
    item = SHBrowseForFolderA(&info);
  }
  if (!item) return {};
  win::ShellBlock<ITEMIDLIST> chosen(allocator, item);
  // The name buffer holds the folder's display name until the path replaces it; a folder
  // without a path (which the flags should prevent) counts as not chosen.
  if (!SHGetPathFromIDListA(chosen.get(), name.get())) return {};
  return std::string(name.get(), strnlen(name.get(), MAX_PATH));
}

}  // namespace

TForm1::TForm1(forms::Application& owner) : Page(owner) { Build(kPage); }

void TForm1::FormCreate(forms::Object&) {
  SetCaption(UpdateTitle);
  Label4.SetText(UpdateTitle);
  Label1.SetText(FolderLabelText);
  Label2.SetText(IntroText);
  Label5.SetText(TargetVersionText);

  std::string folder = InstalledFolder(Owner().LeadBytes());
  if (folder.empty()) folder = DefaultFolder();
  DirEdit.SetText(folder);
}

void TForm1::DirSelectButtonClick(forms::Object&) {
  const text::LeadByteTable& lead_bytes = Owner().LeadBytes();
  std::string initial_folder;
  std::string text = DirEdit.Text();
  // A drive root such as "D:\" becomes "D:", which the browser takes as that drive.
  if (FolderExists(text)) initial_folder = text.substr(0, text::RemoveTrailingBackslash(text.data(), text.size(), lead_bytes));

  std::string chosen = BrowseForFolder(Owner().Handle(), BrowseCaption, initial_folder);
  if (chosen.empty()) return;
  if (!text::EndsWithBackslash(chosen.data(), chosen.size(), lead_bytes)) chosen += '\\';
  DirEdit.SetText(chosen);
}

void TForm1::NextButtonClick(forms::Object&) {
  forms::ShowMessage(Owner(), "アップデートの処理はまだ組み込まれていません。");
}

void TForm1::CancelButtonClick(forms::Object&) { Close(); }
