#include "DirSel.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ConstValue.h"
#include "EndDialog.h"
#include "FolderAccess.h"
#include "HeldApplier.h"
#include "InstallFolderHold.h"
#include "RunProbe.h"
#include "core/text/cp932.h"
#include "core/patch/paths.h"
#include "core/patch/recovery.h"
#include "core/wizard/install_folder.h"
#include "core/wizard/payload_seal.h"
#include "core/wizard/update_run.h"
#include "win/forms/message.h"
#include "win/forms/task_windows.h"
#include "win/file_platform.h"
#include "win/handle.h"
#include "win/library_search.h"
#include "win/shell_memory.h"
#include "win/status.h"

using forms::Kind;

TForm1* Form1 = nullptr;
update::RunProbe update::g_run_probe = nullptr;

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

// The folder the application's uninstall entry names, or "" when it names none. Fails with
// the registry error when the value is there but unusable.
win::Status InstalledFolder(const text::LeadByteTable& lead_bytes, std::string* folder) {
  folder->clear();
  HKEY opened = nullptr;
  // All-access rights: the manifest asks for administrator rights, and a key that cannot be
  // opened so is treated as missing.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return {};
  win::RegKey key(opened);
  RegistryValue value(key.get(), InstallPathValue);
  wizard::InstallValue read = wizard::ReadInstallValue(value);
  if (read.outcome != wizard::ValueOutcome::kText) {
    return win::Status::Error(wizard::InstallValueErrorText(read.outcome, InstallPathValue));
  }
  *folder = wizard::FolderFromInstallValue(read.text, lead_bytes);
  return {};
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
  const auto browse = win::SystemFunction<decltype(&SHBrowseForFolderA)>("shell32.dll", "SHBrowseForFolderA");
  const auto path_of = win::SystemFunction<decltype(&SHGetPathFromIDListA)>("shell32.dll", "SHGetPathFromIDListA");
  if (!browse || !path_of) return {};
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
    item = browse(&info);
  }
  if (!item) return {};
  win::ShellBlock<ITEMIDLIST> chosen(allocator, item);
  // The name buffer holds the folder's display name until the path replaces it; a folder
  // without a path (which the flags should prevent) counts as not chosen.
  if (!path_of(chosen.get(), name.get())) return {};
  return std::string(name.get(), strnlen(name.get(), MAX_PATH));
}

// ---- The update run ---------------------------------------------------------------------

constexpr char kFolderMissingHead[] = "フォルダ ";
constexpr char kFolderMissingTail[] = " が存在しません。フォルダを指定しなおしてください。";
// The run works with administrator rights: a folder reached through a junction, a link or
// a mount point, or one that cannot be held, is not worked in.
constexpr char kFolderLinkedTail[] = " はリンクを経由しています。フォルダを指定しなおしてください。";
constexpr char kFolderUncheckedTail[] = " を確認できません。フォルダを指定しなおしてください。";
// The two lines are joined by a carriage return alone.
constexpr char kAppRunningText[] = "アプリケーションが起動されています。\r終了してからインストールしてください。";
constexpr char kUpdateFailedText[] =
    "アップデートに失敗しました。すでにインストールされているシステムのバージョンをご確認ください。";
constexpr DWORD kPauseAfterApplierMs = 500;

// A file exists when a search finds it as an entry that is not a folder: a sub-folder
// named like the program is not the program.
bool FileExists(const std::string& path) {
  WIN32_FIND_DATAA found;
  win::FindHandle search(FindFirstFileA(path.c_str(), &found));
  return search && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MutexExists(const char* name) {
  // Whatever makes the open fail (no such mutex, no access) counts as not running.
  win::KernelHandle mutex(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name));
  return mutex.valid();
}

// The applier and its patch data, as the wizard carries it: resource PayloadResName of type
// PayloadResType in the wizard's own program file. Only the running program's own module
// is asked: what runs elevated never comes from a library found by a search path (a
// patch.dll planted beside the wizard or in its current folder).
// Beside it, resource PayloadSealName: the seal it is checked against before any of it is
// used (a payload damaged in the download is refused whole).
constexpr char PayloadSealName[] = "PATCHSUM";

win::Status OwnResource(const char* name, std::span<const uint8_t>* bytes) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC info = FindResourceA(self, name, PayloadResType);
  HGLOBAL loaded = info ? LoadResource(self, info) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return win::Status::Error(std::string(name) + " リソースが見つかりません");
  *bytes = {static_cast<const uint8_t*>(data), SizeofResource(self, info)};
  return {};
}

class Payload {
 public:
  win::Status Load() {
    std::span<const uint8_t> payload;
    std::span<const uint8_t> seal;
    if (win::Status found = OwnResource(PayloadResName, &payload); !found) return found;
    if (win::Status found = OwnResource(PayloadSealName, &seal); !found) return found;
    if (!wizard::MatchesSeal(payload, seal)) {
      return win::Status::Error(std::string(PayloadResName) + " リソースが壊れています");
    }
    data_ = payload.data();
    size_ = static_cast<DWORD>(payload.size());
    return {};
  }

  const void* data() const { return data_; }
  DWORD size() const { return size_; }
  std::span<const uint8_t> bytes() const { return {static_cast<const uint8_t*>(data_), size_}; }

 private:
  const void* data_ = nullptr;
  DWORD size_ = 0;
};

// The applier runs with the wizard's own start-up record, without command line, current
// folder, environment or inherited handles of its own: it finds everything from its file.
struct StartedProcess {
  win::KernelHandle process;
  win::KernelHandle thread;
};

win::Status StartApplier(const std::string& path, StartedProcess* process) {
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr,
                      &startup, &started)) {
    const DWORD code = GetLastError();
    return win::Status::Error("Exec Error" + std::to_string(static_cast<unsigned long>(code)));
  }
  process->process.reset(started.hProcess);
  process->thread.reset(started.hThread);
  return {};
}

// From the start of a run to its end the page's controls take no input and the page
// ignores close requests: the run dispatches messages while it waits, and a second run, a
// changed folder or an abandoned page in the middle of an update would act on a half-done
// folder. Enter and Esc reach only disabled buttons, whose clicks the page drops.
class RunLock {
 public:
  RunLock(bool& running, HWND page, std::initializer_list<forms::Control*> controls)
      : running_(running), page_(page), focus_(GetFocus()) {
    running_ = true;
    for (forms::Control* control : controls) {
      if (!control->Enabled()) continue;
      EnableWindow(control->Handle(), FALSE);
      disabled_.push_back(control->Handle());
    }
  }
  ~RunLock() {
    for (HWND control : disabled_) EnableWindow(control, TRUE);
    // The control that had the focus gets it back, as it lost it when it was disabled.
    if (focus_ && IsChild(page_, focus_) && GetActiveWindow() == page_ && IsWindowEnabled(focus_)) {
      SendMessageA(page_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus_), TRUE);
    }
    running_ = false;
  }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

 private:
  bool& running_;
  HWND page_;
  HWND focus_;
  std::vector<HWND> disabled_;
};

}  // namespace

TForm1::TForm1(forms::Application& owner) : Page(owner) { Build(kPage); }

void TForm1::FormCreate(forms::Object&) {
  SetCaption(UpdateTitle);
  Label4.SetText(UpdateTitle);
  Label1.SetText(FolderLabelText);
  Label2.SetText(IntroText);
  Label5.SetText(TargetVersionText);

  std::string folder;
  if (win::Status read = InstalledFolder(Owner().LeadBytes(), &folder); !read) {
    Owner().ShowError(read.text());
    return;
  }
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
  if (running_) return;
  RunLock lock(running_, Handle(), {&DirEdit, &DirSelectButton, &NextButton, &CancelButton});
  const text::LeadByteTable& lead_bytes = Owner().LeadBytes();

  // 1. The run folder: the edit box's text with a backslash of its own at the end. Every
  // path of the run is built from it, whatever the box shows later.
  std::string run_folder = DirEdit.Text();
  if (!text::EndsWithBackslash(run_folder.data(), run_folder.size(), lead_bytes)) run_folder += '\\';
  DirEdit.SetText(run_folder);
  const std::string target_path = run_folder + TargetExeName;
  const std::string applier_path = run_folder + PatchExeName;
  char backup_buffer[patch::kPathCapacity];
  patch::MakeBackupPath(target_path.c_str(), backup_buffer, sizeof backup_buffer);
  const std::string backup_path = backup_buffer;  // the applier's own rule

  // 2.-4. Folder, program, running application. The folder is held from here to the end of
  // the run, so everything below acts on the folder that was checked.
  if (!FolderExists(run_folder)) {
    forms::ShowMessage(Owner(), kFolderMissingHead + run_folder + kFolderMissingTail);
    return;
  }
  update::InstallFolderHold folder_hold;
  switch (folder_hold.Hold(run_folder, lead_bytes)) {
    case update::HoldOutcome::kHeld:
      break;
    case update::HoldOutcome::kLinked:
      forms::ShowMessage(Owner(), kFolderMissingHead + run_folder + kFolderLinkedTail);
      return;
    case update::HoldOutcome::kNotChecked:
      forms::ShowMessage(Owner(), kFolderMissingHead + run_folder + kFolderUncheckedTail);
      return;
  }

  // What the payload makes of the folder: its chain read once, every judgement from it.
  Payload payload;
  if (win::Status loaded = payload.Load(); !loaded) {
    Owner().ShowError(loaded.text());
    return;
  }
  const patch::Image image(payload.bytes());
  char windows_buffer[patch::kWindowsFolderCapacity];
  const UINT windows_length = GetWindowsDirectoryA(windows_buffer, sizeof windows_buffer);
  const char* windows = windows_length > 0 && windows_length < sizeof windows_buffer ? windows_buffer : nullptr;
  std::optional<wizard::FolderPlan> plan = wizard::FolderPlan::Read(image, run_folder.c_str(), windows);
  win::FilePlatform files;

  // An update that was cut off (the applier killed, the computer off) is finished or
  // undone first, from what it left: never while the application runs.
  if (plan && patch::NeedsRecovery(files, image, plan->first_entry(), run_folder.c_str(), windows)) {
    if (MutexExists(AppMutexName)) {
      forms::ShowMessage(Owner(), kAppRunningText);
      return;
    }
    switch (patch::RecoverUpdate(files, image, plan->first_entry(), run_folder.c_str(), windows)) {
      case patch::RecoveryOutcome::Finished:
        plan->RemoveBackups(files);
        if (!forms::ShowMessage(Owner(), RecoveredText)) return;
        EndForm->ShowModal();
        Close();
        return;
      case patch::RecoveryOutcome::RolledBack:
        if (!forms::ShowMessage(Owner(), RolledBackText)) return;
        break;
      case patch::RecoveryOutcome::Unusable:
        forms::ShowMessage(Owner(), RecoveryFailedText);
        return;
      case patch::RecoveryOutcome::Nothing:
        break;
    }
  }
  if (!FileExists(target_path)) {
    forms::ShowMessage(Owner(), MissingSystemText);
    return;
  }
  if (MutexExists(AppMutexName)) {
    forms::ShowMessage(Owner(), kAppRunningText);
    return;
  }
  // Already the new files: nothing to run; a backup an earlier update left goes.
  if (plan) {
    plan->LookBefore(files, target_path);
    if (plan->AllNew(files)) {
      plan->RemoveBackups(files);
      forms::ShowMessage(Owner(), UpToDateText);
      Close();
      return;
    }
  }

  // 5. Access rights of the folder tree (NT family only).
  if (win::Status granted = update::GrantFolderAccess(run_folder, lead_bytes, [this] { Owner().ProcessMessages(); });
      !granted) {
    Owner().ShowError(granted.text());
    return;
  }

  // 6.-8. Write the applier and start it, holding its file until it has ended.
  update::HeldApplier applier_file;
  if (win::Status written = applier_file.Write(applier_path, payload.data(), payload.size()); !written) {
    Owner().ShowError(written.text());
    return;
  }
  if (update::g_run_probe) update::g_run_probe(update::RunPoint::kApplierWritten, run_folder);
  StartedProcess applier;
  if (win::Status started = StartApplier(applier_path, &applier); !started) {
    Owner().ShowError(started.text());
    return;
  }

  // 9. Wait without limit; the applier ends once the user has dismissed its last box.
  while (WaitForSingleObject(applier.process.get(), 0) == WAIT_TIMEOUT) {
    Owner().ProcessMessages();
    if (update::g_run_probe) update::g_run_probe(update::RunPoint::kApplierRunning, run_folder);
  }

  // 10.-13.
  applier.process.reset();
  applier.thread.reset();
  if (update::g_run_probe) update::g_run_probe(update::RunPoint::kApplierEnded, run_folder);
  applier_file.Release();
  Sleep(kPauseAfterApplierMs);
  DeleteFileA(applier_path.c_str());

  // 14.-15. An applier that ended before its commit was whole (killed) left its record:
  // the commit is finished or undone now. Then the judgement: success is every file of the
  // payload's chain holding its new contents, nothing less.
  if (plan && patch::NeedsRecovery(files, image, plan->first_entry(), run_folder.c_str(), windows)) {
    patch::RecoverUpdate(files, image, plan->first_entry(), run_folder.c_str(), windows);
  }
  if (plan && plan->AllNew(files)) {
    plan->RemoveBackups(files);
    EndForm->ShowModal();
  } else {
    // An applier that left the program only under its backup name: that is the user's
    // only copy, and it goes back to the program's name.
    if (!FileExists(target_path) && FileExists(backup_path)) MoveFileA(backup_path.c_str(), target_path.c_str());
    forms::ShowMessage(Owner(), kUpdateFailedText);
  }

  // 16. The main page's close ends the wizard; no second run is possible.
  Close();
}

void TForm1::CancelButtonClick(forms::Object&) { Close(); }
