#include "core/patch/memory_platform.h"

#include <cstring>

#include "core/patch/engine.h"
#include "core/patch/format3.h"
#include "core/text/cp932.h"

namespace patch {

MemoryPlatform::MemoryPlatform() = default;
MemoryPlatform::~MemoryPlatform() = default;

std::string MemoryPlatform::Key(const std::string& path) {
  std::string key = path;
  for (size_t i = 0; i < key.size(); ++i) {
    if (text::kCp932.IsLead(key[i])) {
      ++i;  // second bytes are not letters
    } else {
      key[i] = text::FoldAsciiCase(key[i]);
    }
  }
  return key;
}

std::string MemoryPlatform::Parent(const std::string& path) const {
  const size_t sep = text::FindLastSeparator(path.data(), path.size());
  return sep == text::kNotFound ? std::string() : path.substr(0, sep);
}

void MemoryPlatform::AddFolder(const std::string& path) {
  std::string p = path;
  while (!p.empty() && !folders_.count(Key(p))) {
    folders_[Key(p)] = p;
    p = Parent(p);
  }
}

void MemoryPlatform::AddFile(const std::string& path, std::vector<uint8_t> data) {
  AddFolder(Parent(path));
  auto file = std::make_shared<MemoryFile>();
  file->durable_data = data;
  file->data = std::move(data);
  files_[Key(path)] = {path, file};
  disk_files_[Key(path)] = {path, file};
}

void MemoryPlatform::Lock(const std::string& path, bool locked) {
  auto it = files_.find(Key(path));
  if (it != files_.end()) it->second.second->locked = locked;
}

void MemoryPlatform::SetBaseTime(const std::string& path, uint64_t time) {
  auto it = files_.find(Key(path));
  if (it != files_.end()) it->second.second->base_time = it->second.second->durable_base_time = time;
}

bool MemoryPlatform::HasFile(const std::string& path) const { return files_.count(Key(path)) != 0; }
bool MemoryPlatform::HasFolder(const std::string& path) const { return folders_.count(Key(path)) != 0; }

const MemoryFile* MemoryPlatform::File(const std::string& path) const {
  auto it = files_.find(Key(path));
  return it == files_.end() ? nullptr : it->second.second.get();
}

std::vector<std::string> MemoryPlatform::FilePaths() const {
  std::vector<std::string> paths;
  for (const auto& [key, entry] : files_) paths.push_back(entry.first);
  return paths;
}

std::map<std::string, std::vector<uint8_t>> MemoryPlatform::Contents() const {
  std::map<std::string, std::vector<uint8_t>> contents;
  for (const auto& [key, entry] : files_) contents[entry.first] = entry.second->data;
  return contents;
}

void MemoryPlatform::Restart() {
  for (auto& [id, output] : outputs_) {
    if (output.open) --open_outputs;
    output.open = false;
  }
  halted_ = false;
  halt_at = 0;
}

void MemoryPlatform::PowerCut() {
  Restart();
  files_ = disk_files_;
  for (auto& [key, entry] : files_) {
    MemoryFile& f = *entry.second;
    f.data = f.durable_data;
    f.stamp = f.durable_stamp;
    f.base_time = f.durable_base_time;
  }
}

bool MemoryPlatform::Go() {
  ++file_operations;
  if (halt_at != 0 && file_operations >= halt_at) halted_ = true;
  if (file_operations == fail_at) {
    failed_operation = log.empty() ? std::string() : log.back();
    return false;
  }
  return !halted_;
}

bool MemoryPlatform::OwnPath(char* buffer, size_t size) {
  if (own_path.size() + 1 > size) {
    std::memcpy(buffer, own_path.data(), size - 1);
    buffer[size - 1] = '\0';
    return false;
  }
  std::memcpy(buffer, own_path.c_str(), own_path.size() + 1);
  return true;
}

bool MemoryPlatform::WindowsFolder(char* buffer, size_t size) {
  if (!windows_folder || windows_folder->size() + 1 > size) return false;
  std::memcpy(buffer, windows_folder->c_str(), windows_folder->size() + 1);
  return true;
}

namespace {
LoadResult CopyToBlock(const std::vector<uint8_t>& data, FileBlock* block, int* outstanding) {
  if (data.size() > 0xFFFFFFFEu) return LoadResult::SizeFailed;
  auto* copy = new std::vector<uint8_t>(data);
  block->data = copy->data();
  block->size = static_cast<uint32_t>(copy->size());
  block->handle = copy;
  ++*outstanding;
  return LoadResult::Ok;
}
}  // namespace

LoadResult MemoryPlatform::LoadWholeFile(const char* path, FileBlock* block) {
  log.push_back(std::string("load ") + path);
  if (!Go()) return LoadResult::OpenFailed;
  auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.second->locked) return LoadResult::OpenFailed;
  return CopyToBlock(it->second.second->data, block, &outstanding_blocks);
}

void MemoryPlatform::ReleaseBlock(FileBlock* block) {
  delete static_cast<std::vector<uint8_t>*>(block->handle);
  *block = FileBlock{};
  --outstanding_blocks;
}

LoadResult MemoryPlatform::LoadOutput(OutputFile file, const char* path, FileBlock* block) {
  log.push_back(std::string("read back ") + path);
  if (!Go()) return LoadResult::ReadFailed;
  auto out = outputs_.find(file);
  if (out == outputs_.end() || !out->second.open) return LoadResult::ReadFailed;
  return CopyToBlock(out->second.file->data, block, &outstanding_blocks);
}

bool MemoryPlatform::CreateOutput(const char* path, OutputFile* file) {
  log.push_back(std::string("create ") + path);
  if (!Go()) return false;
  const std::string key = Key(path);
  if (folders_.count(key) || !folders_.count(Key(Parent(path)))) return false;
  auto it = files_.find(key);
  if (it != files_.end() && it->second.second->locked) return false;
  auto node = std::make_shared<MemoryFile>();
  files_[key] = {path, node};
  const intptr_t id = next_output_++;
  outputs_[id] = Output{node, path, true};
  *file = id;
  ++open_outputs;
  return true;
}

bool MemoryPlatform::OpenExistingForWrite(const char* path, OutputFile* file) {
  log.push_back(std::string("open ") + path);
  if (!Go()) return false;
  auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.second->locked) return false;
  const intptr_t id = next_output_++;
  outputs_[id] = Output{it->second.second, path, true};
  *file = id;
  ++open_outputs;
  return true;
}

bool MemoryPlatform::WriteOutput(OutputFile file, const uint8_t* data, uint32_t length) {
  ++writes;
  auto out = outputs_.find(file);
  log.push_back("write " + (out == outputs_.end() ? std::string() : out->second.path));
  if (!Go()) return false;
  if (out == outputs_.end() || !out->second.open) return false;
  auto& bytes = out->second.file->data;
  bytes.insert(bytes.end(), data, data + length);
  bytes_written += length;
  return true;
}

namespace {
bool ValidDate(const LocalStamp& s) {
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (s.year < 1601 || s.year > 30827 || s.month < 1 || s.month > 12) return false;
  const bool leap = (s.year % 4 == 0 && s.year % 100 != 0) || s.year % 400 == 0;
  const int days = (s.month == 2 && !leap) ? 28 : kDays[s.month - 1];
  return s.day >= 1 && s.day <= days && s.hour >= 0 && s.hour < 24 && s.minute >= 0 && s.minute < 60 &&
         s.second >= 0 && s.second < 60;
}

// A set stamp as a time of its own: the top bit marks it, the fields follow.
constexpr uint64_t kStampMark = uint64_t{1} << 63;
uint64_t Encode(const LocalStamp& s) {
  return kStampMark | (uint64_t(uint16_t(s.year)) << 40) | (uint64_t(uint8_t(s.month)) << 32) |
         (uint64_t(uint8_t(s.day)) << 24) | (uint64_t(uint8_t(s.hour)) << 16) | (uint64_t(uint8_t(s.minute)) << 8) |
         uint64_t(uint8_t(s.second));
}
LocalStamp Decode(uint64_t t) {
  return LocalStamp{int16_t(uint16_t(t >> 40)), int8_t(t >> 32), int8_t(t >> 24), int8_t(t >> 16), int8_t(t >> 8),
                    int8_t(t)};
}
}  // namespace

bool MemoryPlatform::SetLastWriteTime(OutputFile file, const LocalStamp& stamp, uint32_t* error_code) {
  auto out = outputs_.find(file);
  log.push_back("stamp " + (out == outputs_.end() ? std::string() : out->second.path));
  if (!Go()) {
    *error_code = 1224;
    return false;
  }
  if (out == outputs_.end()) return false;
  if (stamp_error != 0) {
    *error_code = stamp_error;
    return false;
  }
  if (reject_invalid_dates && !ValidDate(stamp)) {
    *error_code = 87;  // what the Windows conversion reports for an impossible date
    return false;
  }
  out->second.file->stamp = stamp;
  return true;
}

bool MemoryPlatform::ReadLastWrite(OutputFile file, uint64_t* time) {
  auto out = outputs_.find(file);
  log.push_back("read time " + (out == outputs_.end() ? std::string() : out->second.path));
  if (!Go()) return false;
  if (out == outputs_.end()) return false;
  const MemoryFile& f = *out->second.file;
  *time = f.stamp ? Encode(*f.stamp) : f.base_time;
  return true;
}

bool MemoryPlatform::WriteLastWrite(OutputFile file, uint64_t time) {
  log.push_back("time");
  if (!Go()) return false;
  auto out = outputs_.find(file);
  if (out == outputs_.end()) return false;
  MemoryFile& f = *out->second.file;
  if (time & kStampMark) {
    f.stamp = Decode(time);
  } else {
    f.stamp.reset();
    f.base_time = time;
  }
  return true;
}

bool MemoryPlatform::FlushOutput(OutputFile file) {
  auto out = outputs_.find(file);
  log.push_back("flush " + (out == outputs_.end() ? std::string() : out->second.path));
  if (!Go()) return false;
  if (out == outputs_.end() || !out->second.open) return false;
  MemoryFile& f = *out->second.file;
  f.durable_data = f.data;
  f.durable_stamp = f.stamp;
  f.durable_base_time = f.base_time;
  return true;
}

void MemoryPlatform::CloseOutput(OutputFile file) {
  log.push_back("close");
  auto out = outputs_.find(file);
  if (out == outputs_.end() || !out->second.open) return;
  out->second.open = false;
  --open_outputs;
}

bool MemoryPlatform::RemoveFile(const char* path) {
  log.push_back(std::string("delete ") + path);
  if (!Go()) return false;
  auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.second->locked) return false;
  files_.erase(it);
  return true;
}

bool MemoryPlatform::Move(const std::string& from, const std::string& to, bool replace) {
  auto it = files_.find(Key(from));
  const std::string to_key = Key(to);
  if (it == files_.end() || it->second.second->locked) return false;
  if (folders_.count(to_key) || !folders_.count(Key(Parent(to)))) return false;
  auto there = files_.find(to_key);
  if (there != files_.end() && there->first != it->first && (!replace || there->second.second->locked)) return false;
  Node moved = it->second.second;
  files_.erase(it);
  files_[to_key] = {to, moved};
  return true;
}

bool MemoryPlatform::RenameFile(const char* from, const char* to) {
  log.push_back(std::string("rename ") + from + " > " + to);
  if (!Go() || !Move(from, to, false)) return false;
  Durable();  // written through
  return true;
}

bool MemoryPlatform::ReplaceFile(const char* from, const char* to) {
  log.push_back(std::string("replace ") + from + " > " + to);
  if (!Go()) return false;
  if (old_family) {
    // Delete, then rename: between the two the target is missing.
    auto there = files_.find(Key(to));
    if (there != files_.end()) {
      if (there->second.second->locked) return false;
      files_.erase(there);
    }
    if (!Go()) return false;
  }
  if (!Move(from, to, true)) return false;
  Durable();
  return true;
}

bool MemoryPlatform::MoveOutput(OutputFile file, const char* from, const char* to, bool replace) {
  log.push_back(std::string("move ") + from + " > " + to);
  if (replace && old_family) return ReplaceFile(from, to);
  if (!Go()) return false;
  auto out = outputs_.find(file);
  if (out == outputs_.end() || !out->second.open) return false;
  // By its handle: only the file that was written can move, whatever lies at its name now.
  auto it = files_.find(Key(from));
  if (it == files_.end() || it->second.second != out->second.file) return false;
  return Move(from, to, replace);  // renamed by handle: on disk with the folder's next flush
}

bool MemoryPlatform::KeepCopy(const char* from, const char* to) {
  log.push_back(std::string("keep ") + from + " > " + to);
  if (!Go()) return false;
  auto it = files_.find(Key(from));
  const std::string to_key = Key(to);
  if (it == files_.end() || it->second.second->locked) return false;
  if (files_.count(to_key) || folders_.count(to_key) || !folders_.count(Key(Parent(to)))) return false;
  Node kept = it->second.second;
  if (old_family) {
    // A copy, on disk with its time.
    kept = std::make_shared<MemoryFile>(*kept);
    kept->locked = false;
    kept->durable_data = kept->data;
    kept->durable_stamp = kept->stamp;
    kept->durable_base_time = kept->base_time;
  }
  files_[to_key] = {to, kept};
  return true;
}

bool MemoryPlatform::FlushFolder(const char* path) {
  log.push_back(std::string("flush folder ") + path);
  if (!Go()) return false;
  Durable();
  return true;
}

bool MemoryPlatform::MakeFolder(const char* path) {
  log.push_back(std::string("make folder ") + path);
  if (!Go()) return false;
  const std::string key = Key(path);
  if (files_.count(key) || folders_.count(key) || !folders_.count(Key(Parent(path)))) return false;
  folders_[key] = path;
  return true;
}

bool MemoryPlatform::RemoveFolder(const char* path) {
  log.push_back(std::string("remove folder ") + path);
  if (!Go()) return false;
  const std::string key = Key(path);
  if (!folders_.count(key)) return false;
  const std::string inside = key + "\\";
  for (const auto& [name, entry] : files_) {
    if (name.rfind(inside, 0) == 0) return false;
  }
  for (const auto& [name, folder] : folders_) {
    if (name.rfind(inside, 0) == 0) return false;
  }
  folders_.erase(key);
  return true;
}

FoundKind MemoryPlatform::Find(const char* path) {
  log.push_back(std::string("find ") + path);
  const std::string key = Key(path);
  if (files_.count(key)) return FoundKind::File;
  if (folders_.count(key)) return linked_.count(key) ? FoundKind::LinkedFolder : FoundKind::Folder;
  return FoundKind::None;
}

void MemoryPlatform::OpenProgressDialog() {
  ++dialogs_opened;
  dialog_open = true;
}

void MemoryPlatform::CloseProgressDialog() { dialog_open = false; }

void MemoryPlatform::SetDialogLine(DialogLine line, const char* text) { lines[line] = text; }

void MemoryPlatform::ResetProgressBar() {
  bar_position = 0;
  ++bar_resets;
}

void MemoryPlatform::StepProgressBar() {
  if (bar_position < 100) ++bar_position;
  ++bar_steps;
}

void MemoryPlatform::PumpMessages() { ++pumps; }

void MemoryPlatform::ShowBox(const char* text, const char* caption, BoxOwner owner, uint32_t type) {
  if (owner == BoxOwner::Dialog && !dialog_open) ++boxes_owned_without_dialog;
  boxes.push_back(ShownBox{text, caption, owner, type});
}

void MemoryPlatform::ShellOpen(const char* path) { shell_opened.push_back(path); }

bool RebuildEntryInMemory(std::span<const uint8_t> image, const EntryHeader& header,
                          std::span<const uint8_t> old_contents, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  const uint32_t old_size = static_cast<uint32_t>(old_contents.size());
  BodySummary summary;
  switch (WalkBody(image, header, &old_size, &summary)) {
    case BodyOutcome::Ok:
      break;
    case BodyOutcome::StreamBroken:
      *error = "record stream ends before new_size is reached";
      return false;
    case BodyOutcome::RecordPastEnd:
      *error = "a record runs past the end of the patch data";
      return false;
    case BodyOutcome::CopyOutsideOld:
      *error = "a copy record reaches outside the old file";
      return false;
    case BodyOutcome::CopyWithoutOld:
      *error = "a copy record in a create-if-missing entry";
      return false;
    case BodyOutcome::StreamsBroken:
      *error = "the head of the compressed streams is malformed or runs past the end of the patch data";
      return false;
  }
  if (summary.shape != BodyShape::Records && summary.shape != BodyShape::Streams) {
    *error = "the entry has no record stream";
    return false;
  }
  if (summary.shape == BodyShape::Streams) {
    Body2Layout layout;
    ReadBody2Layout(image, header.body_offset, header.new_size, &layout, header.format_version);  // the walk read it
    if (!Body2CanProduce(layout, header.new_size, old_contents.size())) {
      *error = Body2OutcomeText(Body2Outcome::BadSizes);
      return false;
    }
    out->resize(header.new_size);
    const Body2Outcome decoded = DecodeStreamsBody(image, header, old_contents, out->data());
    if (decoded != Body2Outcome::Ok) {
      out->clear();
      *error = Body2OutcomeText(decoded);
      return false;
    }
    return true;
  }
  HeapBlock contents;
  if (RebuildBody(image, header, summary, old_contents, &contents) != ApplyOutcome::Complete) {
    *error = "the record stream is broken";
    return false;
  }
  out->assign(contents.data(), contents.data() + contents.size());
  return true;
}

const char* Body2OutcomeText(Body2Outcome outcome) {
  switch (outcome) {
    case Body2Outcome::Ok: return "no fault";
    case Body2Outcome::Truncated: return "the compressed streams run past the end of the patch data";
    case Body2Outcome::UnknownTransform: return "the body names an unknown transform";
    case Body2Outcome::BadSizes: return "a stream's raw and packed sizes are impossible";
    case Body2Outcome::StreamCorrupt: return "a compressed stream is corrupt or does not hold its stated size";
    case Body2Outcome::ControlBroken: return "a control record is malformed or goes past new_size";
    case Body2Outcome::CopyOutsideOld: return "a copy reaches outside the old file";
    case Body2Outcome::DifferencesRunOut: return "the difference stream ends before the copies do";
    case Body2Outcome::NewBytesRunOut: return "the new-byte stream ends before the records do";
    case Body2Outcome::TrailingData: return "a stream holds bytes that no record uses";
    case Body2Outcome::NoMemory: return "out of memory";
  }
  return "unknown fault";
}

}  // namespace patch
