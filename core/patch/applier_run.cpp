#include "core/patch/applier_run.h"

#include <cstring>

#include "core/patch/checksum.h"
#include "core/patch/engine.h"
#include "core/patch/heap_block.h"
#include "core/patch/messages.h"
#include "core/text/cp932.h"

namespace patch {
namespace {

// Writes pieces into a fixed buffer. A piece that does not fit is cut at a character
// boundary and the builder remembers the overflow, so the buffer always holds a
// terminated, displayable path and is never overrun.
class PathBuilder {
 public:
  PathBuilder(char* out, size_t capacity) : out_(out), capacity_(capacity) {
    if (capacity_ > 0) out_[0] = '\0';
    ok_ = capacity_ > 0;
  }
  void Append(const char* s, size_t n) {
    if (!ok_) return;
    const size_t room = capacity_ - 1 - length_;
    if (n > room) {
      n = text::FitCharacters(s, n, room);
      ok_ = false;
    }
    std::memcpy(out_ + length_, s, n);
    length_ += n;
    out_[length_] = '\0';
  }
  void Append(const char* s) { Append(s, std::strlen(s)); }
  bool ok() const { return ok_; }

 private:
  char* out_;
  size_t capacity_;
  size_t length_ = 0;
  bool ok_ = true;
};

// Decimal digits of `value` followed by `suffix` into `out` (room for 64 bytes).
void FormatNumber(char* out, size_t capacity, const char* prefix, uint32_t value, const char* suffix) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  char reversed[12];
  for (int i = 0; i < n; ++i) reversed[i] = digits[n - 1 - i];
  PathBuilder b(out, capacity);
  b.Append(prefix);
  b.Append(reversed, static_cast<size_t>(n));
  b.Append(suffix);
}

// The part of a path up to and including its last real backslash (empty when none).
size_t FolderLength(const char* path) {
  const size_t sep = text::FindLastSeparator(path, std::strlen(path));
  return sep == text::kNotFound ? 0 : sep + 1;
}

class PlatformOutput final : public RecordOutput {
 public:
  PlatformOutput(ApplierPlatform& platform, OutputFile file) : platform_(platform), file_(file) {}
  bool Write(const uint8_t* data, uint32_t length) override { return platform_.WriteOutput(file_, data, length); }

 private:
  ApplierPlatform& platform_;
  OutputFile file_;
};

class DialogProgress final : public ProgressDisplay {
 public:
  explicit DialogProgress(ApplierPlatform& platform) : platform_(platform) {}
  void Advance(int percent) override {
    platform_.StepProgressBar();
    char line[16];
    FormatNumber(line, sizeof line, "", static_cast<uint32_t>(percent), "%");
    platform_.SetDialogLine(kLinePercent, line);
  }
  void Pump() override { platform_.PumpMessages(); }

 private:
  ApplierPlatform& platform_;
};

// One run of the applier: the process-wide state of the program, in one place.
class Run {
 public:
  explicit Run(ApplierPlatform& platform) : pf_(platform) {}
  void Start();

 private:
  enum class EntryRead : uint8_t { Update, Other, OpenDocument, Refused };

  BoxOwner Owner() const { return dialog_ ? BoxOwner::Dialog : BoxOwner::None; }
  void FileBox(const char* path, const char* caption, BoxOwner owner) {
    pf_.ShowBox(path, caption, owner, kBoxExclamation);
  }
  void BrokenDataBox() { pf_.ShowBox(msg::kBrokenData, msg::kAbnormalEnd, Owner(), kBoxExclamation); }

  bool Load(const char* path, FileBlock* block) {
    return Load(path, block, [&](FileBlock* b) { return pf_.LoadWholeFile(path, b); });
  }
  // `load` reads the file named `path` in some way; its failures get the boxes of a load.
  template <typename Loader>
  bool Load(const char* path, FileBlock* block, Loader load);
  EntryRead ReadEntry(uint32_t offset);
  bool LoadOldContents();
  void ReleaseOld();
  void ApplyEntries();
  // One entry; returns false when the run ends with it.
  bool ApplyEntry(uint64_t* body_end);
  bool PutInPlace(OutputFile output);
  void ShowDocument();

  ApplierPlatform& pf_;
  char own_path_[kPathCapacity] = {};
  char windows_[kWindowsFolderCapacity] = {};
  bool have_windows_ = false;
  char own_folder_[kPathCapacity] = {};
  FileBlock image_block_{};
  Image image_;
  EntryHeader entry_;
  char target_[kPathCapacity] = {};
  bool target_ok_ = false;
  char temp_[kPathCapacity] = {};
  char backup_[kPathCapacity] = {};
  FileBlock old_block_{};
  bool have_old_ = false;
  uint32_t old_checksum_ = 0;
  bool dialog_ = false;
};

template <typename Loader>
bool Run::Load(const char* path, FileBlock* block, Loader load) {
  *block = FileBlock{};
  const char* caption = nullptr;
  switch (load(block)) {
    case LoadResult::Ok:
      return true;
    case LoadResult::OpenFailed: caption = msg::kOpenFailed; break;
    case LoadResult::SizeFailed: caption = msg::kSizeFailed; break;
    case LoadResult::AllocFailed: caption = msg::kAllocFailed; break;
    case LoadResult::LockFailed: caption = msg::kLockFailed; break;
    case LoadResult::ReadFailed: caption = msg::kReadFailed; break;
  }
  *block = FileBlock{};
  FileBox(path, caption, BoxOwner::None);
  return false;
}

void Run::Start() {
  if (!pf_.OwnPath(own_path_, sizeof own_path_)) {
    // Without its own full path the applier cannot read itself; show what it got.
    own_path_[sizeof own_path_ - 1] = '\0';
    FileBox(own_path_, msg::kOpenFailed, BoxOwner::None);
    return;
  }
  have_windows_ = pf_.WindowsFolder(windows_, sizeof windows_);
  if (!have_windows_) windows_[0] = '\0';
  MakeOwnFolder(own_path_, own_folder_, sizeof own_folder_);

  if (!Load(own_path_, &image_block_)) return;
  image_ = Image(image_block_.data, image_block_.size);

  uint32_t first = 0;
  if (!FindPatchData(image_, &first)) {
    FileBox(own_path_, msg::kNoPatchData, BoxOwner::None);
  } else {
    const EntryRead read = ReadEntry(first);
    // An open-document entry in first place ends the run without a word.
    if (read == EntryRead::Other || (read == EntryRead::Update && LoadOldContents())) ApplyEntries();
  }
  pf_.ReleaseBlock(&image_block_);
}

Run::EntryRead Run::ReadEntry(uint32_t offset) {
  switch (ParseEntryHeader(image_, offset, &entry_)) {
    case HeaderOutcome::Ok:
      break;
    case HeaderOutcome::VersionTooHigh:
      pf_.ShowBox(msg::kUnusableData, msg::kErrorCaption, BoxOwner::None, kBoxExclamation);
      return EntryRead::Refused;
    case HeaderOutcome::NotAnEntry:
    case HeaderOutcome::Truncated:
      BrokenDataBox();
      return EntryRead::Refused;
  }
  target_ok_ = ResolveTargetPath(entry_, own_folder_, have_windows_ ? windows_ : nullptr, target_, sizeof target_);
  switch (entry_.kind) {
    case EntryKind::Update: return EntryRead::Update;
    case EntryKind::OpenDocument: return EntryRead::OpenDocument;
    default: return EntryRead::Other;
  }
}

bool Run::LoadOldContents() {
  if (!target_ok_) {
    // The path does not fit its buffer: refused as the load would fail, naming as much
    // of the path as fits.
    FileBox(target_, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  if (!Load(target_, &old_block_)) return false;
  have_old_ = true;
  old_checksum_ = PatchChecksum(old_block_.data, old_block_.size);
  return true;
}

void Run::ReleaseOld() {
  if (have_old_) pf_.ReleaseBlock(&old_block_);
  have_old_ = false;
  old_block_ = FileBlock{};
}

void Run::ApplyEntries() {
  pf_.OpenProgressDialog();
  dialog_ = true;
  for (;;) {
    uint64_t body_end = 0;
    if (!ApplyEntry(&body_end)) break;
    const ChainOutcome chain = ChainStep(image_, body_end);
    if (chain == ChainOutcome::Complete) {
      pf_.PumpMessages();
      pf_.ShowBox(msg::kCompleted, msg::kFileUpdate, BoxOwner::Dialog, kBoxPlain);
      break;
    }
    if (chain == ChainOutcome::Broken) {
      BrokenDataBox();
      break;
    }
    ReleaseOld();
    const EntryRead read = ReadEntry(static_cast<uint32_t>(body_end));
    if (read == EntryRead::Refused) break;
    if (read == EntryRead::OpenDocument) {
      ShowDocument();
      break;
    }
    if (read == EntryRead::Update && !LoadOldContents()) break;
  }
  ReleaseOld();
  pf_.CloseProgressDialog();
  dialog_ = false;
}

void Run::ShowDocument() {
  if (!target_ok_) {
    FileBox(target_, msg::kOpenFailed, BoxOwner::None);
    return;
  }
  pf_.ShowBox(msg::kShowDocument, msg::kCompleted, BoxOwner::None, kBoxPlain);
  pf_.ShellOpen(target_);
}

bool Run::ApplyEntry(uint64_t* body_end) {
  pf_.SetDialogLine(kLineTarget, target_);
  pf_.SetDialogLine(kLineDescription, entry_.description.data);
  pf_.SetDialogLine(kLinePercent, "0%");
  pf_.ResetProgressBar();

  const bool is_update = entry_.kind == EntryKind::Update;
  const FoundKind found =
      (entry_.kind == EntryKind::CreateIfMissing && target_ok_) ? pf_.Find(target_) : FoundKind::None;
  const EntryMode mode = DecideEntryMode(entry_, old_checksum_, found);
  if (mode == EntryMode::Mismatch) {
    pf_.PumpMessages();
    FileBox(target_, msg::kChecksumMismatch, BoxOwner::None);
    return false;
  }
  const bool temp_ok = MakeTempPath(target_, temp_, sizeof temp_);
  pf_.PumpMessages();

  if (mode == EntryMode::Delete) {
    // A failed delete is no failure, and a path that does not fit names no file to delete.
    if (target_ok_) pf_.RemoveFile(target_);
    *body_end = entry_.body_offset;
    return true;
  }
  const bool write = mode == EntryMode::Write;
  if (!write) pf_.SetDialogLine(kLineStatus, msg::kSkipping);

  // The whole body is checked before anything of the entry is opened or written, so a
  // damaged entry leaves no partial file behind.
  const uint32_t old_size = have_old_ ? old_block_.size : 0;
  BodySummary body;
  if (WalkBody(image_, entry_, (write && is_update) ? &old_size : nullptr, &body) != BodyOutcome::Ok) {
    BrokenDataBox();
    return false;
  }
  *body_end = body.end;
  const bool touch = body.shape == BodyShape::TouchMarker;

  DialogProgress display(pf_);
  if (!write) {
    ApplyRecords(image_, entry_, {}, nullptr, display);
    return true;
  }

  // Every path the entry will use must fit before the first file is touched.
  if (!target_ok_) {
    FileBox(target_, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  if (!touch && !temp_ok) {
    FileBox(temp_, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  const bool keeps_backup = !touch && is_update && !entry_.no_backup();
  if (keeps_backup && !MakeBackupPath(target_, backup_, sizeof backup_)) {
    FileBox(backup_, msg::kRenameFailed, BoxOwner::Dialog);
    return false;
  }
  // A target named "UPDATE.TMP", or one that is its own backup name ("data.OLD"), would be
  // overwritten or deleted as the other file and the move into place would fail after it:
  // refused with the box of that move, before anything is written.
  if (!touch && (text::SameFileName(temp_, target_) || (keeps_backup && text::SameFileName(backup_, target_)))) {
    FileBox(target_, msg::kRenameFailed, BoxOwner::Dialog);
    return false;
  }

  // The new contents are rebuilt, and so checked whole, before any file is opened.
  const std::span<const uint8_t> old =
      have_old_ ? std::span<const uint8_t>(old_block_.data, old_block_.size) : std::span<const uint8_t>();
  HeapBlock contents;
  if (!touch) {
    switch (RebuildBody(image_, entry_, body, old, &contents)) {
      case ApplyOutcome::Complete:
        break;
      case ApplyOutcome::NoMemory:
        FileBox(target_, msg::kAllocFailed, BoxOwner::None);
        return false;
      default:
        BrokenDataBox();
        return false;
    }
  }

  OutputFile output{};
  if (touch) {
    if (!pf_.OpenExistingForWrite(target_, &output)) {
      FileBox(target_, msg::kOpenFailed, BoxOwner::None);
      return false;
    }
  } else if (!pf_.CreateOutput(temp_, &output)) {
    FileBox(temp_, msg::kOpenFailed, BoxOwner::None);
    return false;
  }
  char line[64];
  FormatNumber(line, sizeof line, msg::kSizeLinePrefix, entry_.new_size, msg::kSizeLineSuffix);
  pf_.SetDialogLine(kLineStatus, line);

  PlatformOutput out(pf_, output);
  if (WriteContents(contents.data(), contents.size(), entry_.new_size, out, display) != ApplyOutcome::Complete) {
    FileBox(temp_, msg::kWriteFailed, BoxOwner::None);
    pf_.CloseOutput(output);
    return false;
  }
  contents.Allocate(0);  // the checksum below reads the file back

  const LocalStamp stamp{static_cast<int16_t>(entry_.stamp_year), static_cast<int8_t>(entry_.stamp_month),
                         static_cast<int8_t>(entry_.stamp_day),   static_cast<int8_t>(entry_.stamp_hour),
                         static_cast<int8_t>(entry_.stamp_minute), static_cast<int8_t>(entry_.stamp_second)};
  uint32_t error_code = 0;
  if (!pf_.SetLastWriteTime(output, stamp, &error_code)) {
    FormatNumber(line, sizeof line, "[", error_code, "]");
    pf_.ShowBox(line, msg::kStampFailed, BoxOwner::Dialog, kBoxPlain);
  }
  if (touch) {
    pf_.CloseOutput(output);
    return true;
  }

  // Read back and moved into place through the file still held open, so no other file
  // can take its place between the check and the move.
  FileBlock rebuilt;
  const bool loaded = Load(temp_, &rebuilt, [&](FileBlock* block) { return pf_.LoadOutput(output, temp_, block); });
  if (!loaded) {
    pf_.CloseOutput(output);
    return false;
  }
  const uint32_t checksum = PatchChecksum(rebuilt.data, rebuilt.size);
  pf_.ReleaseBlock(&rebuilt);
  if (checksum != entry_.new_crc) {
    pf_.CloseOutput(output);
    FileBox(target_, msg::kChecksumMismatch, BoxOwner::Dialog);
    return false;
  }
  const bool placed = PutInPlace(output);
  pf_.CloseOutput(output);
  return placed;
}

bool Run::PutInPlace(OutputFile output) {
  if (entry_.kind == EntryKind::Update) {
    if (entry_.no_backup()) {
      if (!pf_.RemoveFile(target_)) {
        FileBox(target_, msg::kDeleteFailed, BoxOwner::Dialog);
        return false;
      }
    } else {
      bool target_deleted = false;
      switch (pf_.Find(backup_)) {
        case FoundKind::Folder:
          FileBox(target_, msg::kRenameFailed, BoxOwner::Dialog);
          return false;
        case FoundKind::File:
          if (entry_.skip_on_mismatch()) {
            // The earlier backup is the one worth keeping.
            if (!pf_.RemoveFile(target_)) {
              FileBox(target_, msg::kDeleteFailed, BoxOwner::Dialog);
              return false;
            }
            target_deleted = true;
          } else if (!pf_.RemoveFile(backup_)) {
            FileBox(backup_, msg::kDeleteFailed, BoxOwner::Dialog);
            return false;
          }
          break;
        case FoundKind::None:
          break;
      }
      if (!target_deleted && !pf_.RenameFile(target_, backup_)) {
        FileBox(backup_, msg::kRenameFailed, BoxOwner::Dialog);
        return false;
      }
    }
  }
  if (!pf_.MoveOutput(output, temp_, target_)) {
    FileBox(target_, msg::kRenameFailed, BoxOwner::Dialog);
    return false;
  }
  return true;
}

}  // namespace

bool MakeOwnFolder(const char* own_path, char* out, size_t capacity) {
  PathBuilder b(out, capacity);
  b.Append(own_path, FolderLength(own_path));
  return b.ok();
}

bool ResolveTargetPath(const EntryHeader& header, const char* own_folder, const char* windows_folder, char* out,
                       size_t capacity) {
  PathBuilder b(out, capacity);
  const TextRef& folder = header.target_folder;
  const TextRef& name = header.target_name;
  if (folder.length == 0) {
    b.Append(own_folder);
  } else if (folder.data[0] == '*') {
    if (windows_folder == nullptr) return false;
    b.Append(windows_folder);
    b.Append(folder.data + 1, folder.length - 1);  // no separator between the two
    b.Append("\\");
  } else {
    b.Append(own_folder);
    b.Append(folder.data, folder.length);
    b.Append("\\");
  }
  b.Append(name.data, name.length);
  return b.ok();
}

bool MakeTempPath(const char* target_path, char* out, size_t capacity) {
  PathBuilder b(out, capacity);
  b.Append(target_path, FolderLength(target_path));
  b.Append(msg::kTempFileName);
  return b.ok();
}

bool MakeBackupPath(const char* target_path, char* out, size_t capacity) {
  const size_t length = std::strlen(target_path);
  size_t cut = length;
  bool has_dot = false;
  for (size_t i = FolderLength(target_path); i < length; ++i) {
    if (text::kCp932.IsLead(target_path[i]) && i + 1 < length) {
      ++i;
    } else if (target_path[i] == '.') {
      cut = i + 1;
      has_dot = true;
      break;
    }
  }
  PathBuilder b(out, capacity);
  b.Append(target_path, cut);
  if (!has_dot) b.Append(".");
  b.Append(msg::kBackupExtension);
  return b.ok();
}

void RunApplier(ApplierPlatform& platform) {
  Run run(platform);
  run.Start();
}

}  // namespace patch
