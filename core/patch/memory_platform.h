#pragma once
// The applier's platform held entirely in memory: a small file system (files and
// folders keyed by path, matched without regard to ASCII case as the Windows file
// system does), the progress dialog's lines and bar, and a record of every box.
// Used by `patchtool verify`, the unit, known-bad, fault and fuzz tests. Native only.
//
// The file system also knows what is on disk, as a journalling file system keeps it:
// a file's data and time reach the disk when it is flushed; the folders' records (names
// made, renamed, removed) all reach it together, at a write-through rename or a folder
// flush. PowerCut() brings back exactly what was on disk; a run can be halted at its Nth
// file operation (every later one fails and changes nothing), as a kill would stop it.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "core/patch/applier_platform.h"
#include "core/patch/format.h"
#include "core/patch/format2.h"

namespace patch {

struct ShownBox {
  std::string text;
  std::string caption;
  BoxOwner owner;
  uint32_t type;
  bool operator==(const ShownBox&) const = default;
};

// One file; a link is a second name for the same MemoryFile.
struct MemoryFile {
  std::vector<uint8_t> data;
  std::optional<LocalStamp> stamp;  // last-write time set by the run
  bool locked = false;  // held open by another program: cannot be deleted, renamed or opened
  uint64_t base_time = 0;  // the last-write time before any stamp (what ReadLastWrite gives)
  // What is on disk of it.
  std::vector<uint8_t> durable_data;
  std::optional<LocalStamp> durable_stamp;
  uint64_t durable_base_time = 0;
};

class MemoryPlatform : public ApplierPlatform, public FilePlatform {
 public:
  MemoryPlatform();
  virtual ~MemoryPlatform();

  // Set-up. Paths use "\" separators; AddFile/AddFolder create the missing parent folders.
  std::string own_path = "C:\\app\\Lunder19Patch.EXE";
  std::optional<std::string> windows_folder = std::string("C:\\WINDOWS");
  void AddFile(const std::string& path, std::vector<uint8_t> data);
  void AddFolder(const std::string& path);
  void Lock(const std::string& path, bool locked = true);
  // The folder at `path` becomes a link to another one (a junction).
  void LinkFolder(const std::string& path) { AddFolder(path); linked_.insert(Key(path)); }
  void SetBaseTime(const std::string& path, uint64_t time);
  // Makes SetLastWriteTime fail with this code (0: succeed).
  uint32_t stamp_error = 0;
  // Invalid calendar dates fail like the Windows conversion does (error 87).
  bool reject_invalid_dates = true;

  // Inspection.
  bool HasFile(const std::string& path) const;
  bool HasFolder(const std::string& path) const;
  const MemoryFile* File(const std::string& path) const;
  std::vector<std::string> FilePaths() const;
  std::vector<ShownBox> boxes;
  std::vector<std::string> shell_opened;
  std::map<int, std::string> lines;  // dialog lines 900..903
  int bar_position = 0;
  int bar_steps = 0;      // total steps over the run
  int bar_resets = 0;
  int pumps = 0;
  int dialogs_opened = 0;
  bool dialog_open = false;
  int outstanding_blocks = 0;   // loaded blocks not yet released
  int open_outputs = 0;         // outputs not yet closed
  uint32_t writes = 0;          // WriteOutput calls
  uint64_t bytes_written = 0;
  std::vector<std::string> log;  // one line per file operation, in order
  // Owner of each box checked against the dialog's state: a box owned by the dialog
  // while no dialog exists is recorded here.
  int boxes_owned_without_dialog = 0;
  // The platform of the Windows 9x family: no links (the rollback file is a copy) and no
  // replacing rename (the target is deleted, then the new file renamed to it).
  bool old_family = false;

  // Kills and power cuts. From the operation numbered `halt_at` on (1 is the first file
  // operation; 0: never), every file operation fails and changes nothing.
  int halt_at = 0;
  int file_operations = 0;
  // The operation numbered `fail_at` fails alone (0: none); its log line is kept.
  int fail_at = 0;
  std::string failed_operation;
  bool halted() const { return halted_; }
  // The machine goes off: every file holds what is on disk of it, and the folders hold
  // what their records on disk say. Open files are gone; the platform runs again.
  void PowerCut();
  // The process ends: open files are closed; the platform runs again.
  void Restart();
  // Every file that is there and its contents, for comparing whole folders.
  std::map<std::string, std::vector<uint8_t>> Contents() const;

  // ApplierPlatform.
  bool OwnPath(char* buffer, size_t size) override;
  bool WindowsFolder(char* buffer, size_t size) override;
  FilePlatform& Files() override { return *this; }
  // FilePlatform.
  LoadResult LoadWholeFile(const char* path, FileBlock* block) override;
  void ReleaseBlock(FileBlock* block) override;
  FoundKind Find(const char* path) override;
  bool CreateOutput(const char* path, OutputFile* file) override;
  bool OpenExistingForWrite(const char* path, OutputFile* file) override;
  bool WriteOutput(OutputFile file, const uint8_t* data, uint32_t length) override;
  bool SetLastWriteTime(OutputFile file, const LocalStamp& stamp, uint32_t* error_code) override;
  bool ReadLastWrite(OutputFile file, uint64_t* time) override;
  bool WriteLastWrite(OutputFile file, uint64_t time) override;
  bool FlushOutput(OutputFile file) override;
  LoadResult LoadOutput(OutputFile file, const char* path, FileBlock* block) override;
  bool MoveOutput(OutputFile file, const char* from, const char* to, bool replace) override;
  void CloseOutput(OutputFile file) override;
  bool RemoveFile(const char* path) override;
  bool RenameFile(const char* from, const char* to) override;
  bool ReplaceFile(const char* from, const char* to) override;
  bool KeepCopy(const char* from, const char* to) override;
  bool FlushFolder(const char* path) override;
  bool MakeFolder(const char* path) override;
  bool RemoveFolder(const char* path) override;
  // The rest of ApplierPlatform.
  void OpenProgressDialog() override;
  void CloseProgressDialog() override;
  void SetDialogLine(DialogLine line, const char* text) override;
  void ResetProgressBar() override;
  void StepProgressBar() override;
  void PumpMessages() override;
  void ShowBox(const char* text, const char* caption, BoxOwner owner, uint32_t type) override;
  void ShellOpen(const char* path) override;

 private:
  using Node = std::shared_ptr<MemoryFile>;
  using Names = std::map<std::string, std::pair<std::string, Node>>;  // key -> (path, file)
  struct Output {
    Node file;
    std::string path;  // where it was opened
    bool open;
  };
  static std::string Key(const std::string& path);  // case-folded, DBCS aware
  std::string Parent(const std::string& path) const;
  bool Go();  // counts one file operation; false once halted
  bool Move(const std::string& from, const std::string& to, bool replace);
  void Durable() { disk_files_ = files_; }  // every folder's records on disk
  Names files_;
  Names disk_files_;
  std::map<std::string, std::string> folders_;  // key -> path
  std::set<std::string> linked_;                // keys of linked folders
  std::map<intptr_t, Output> outputs_;
  intptr_t next_output_ = 1;
  bool halted_ = false;
};

// Rebuilds one entry in memory (no files, no dialog): for tools and tests. Returns false
// with the reason in `error` when the body is broken or a copy reads outside `old_contents`.
// Declared here because it uses std containers; the applier itself never links it.
bool RebuildEntryInMemory(std::span<const uint8_t> image, const EntryHeader& header,
                          std::span<const uint8_t> old_contents, std::vector<uint8_t>* out, std::string* error);

// One line on why a compressed-streams body was refused, for tools and test messages.
const char* Body2OutcomeText(Body2Outcome outcome);

}  // namespace patch
