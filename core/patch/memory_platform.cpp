#include "core/patch/memory_platform.h"

#include <cstring>

#include "core/patch/engine.h"
#include "core/text/cp932.h"

namespace patch {

MemoryPlatform::MemoryPlatform() = default;
MemoryPlatform::~MemoryPlatform() = default;

std::string MemoryPlatform::Key(const std::string& path) {
  std::string key = path;
  for (size_t i = 0; i < key.size(); ++i) {
    if (text::kCp932.IsLead(key[i])) {
      ++i;  // second bytes are not letters
    } else if (key[i] >= 'A' && key[i] <= 'Z') {
      key[i] = static_cast<char>(key[i] - 'A' + 'a');
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
  auto& slot = files_[Key(path)];
  slot.first = path;
  slot.second = MemoryFile{std::move(data), std::nullopt, false};
}

void MemoryPlatform::Lock(const std::string& path, bool locked) {
  auto it = files_.find(Key(path));
  if (it != files_.end()) it->second.second.locked = locked;
}

bool MemoryPlatform::HasFile(const std::string& path) const { return files_.count(Key(path)) != 0; }
bool MemoryPlatform::HasFolder(const std::string& path) const { return folders_.count(Key(path)) != 0; }

const MemoryFile* MemoryPlatform::File(const std::string& path) const {
  auto it = files_.find(Key(path));
  return it == files_.end() ? nullptr : &it->second.second;
}

std::vector<std::string> MemoryPlatform::FilePaths() const {
  std::vector<std::string> paths;
  for (const auto& [key, entry] : files_) paths.push_back(entry.first);
  return paths;
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

LoadResult MemoryPlatform::LoadWholeFile(const char* path, FileBlock* block) {
  log.push_back(std::string("load ") + path);
  auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.second.locked) return LoadResult::OpenFailed;
  const auto& data = it->second.second.data;
  if (data.size() > 0xFFFFFFFEu) return LoadResult::SizeFailed;
  auto* copy = new std::vector<uint8_t>(data);
  block->data = copy->data();
  block->size = static_cast<uint32_t>(copy->size());
  block->handle = copy;
  ++outstanding_blocks;
  return LoadResult::Ok;
}

void MemoryPlatform::ReleaseBlock(FileBlock* block) {
  delete static_cast<std::vector<uint8_t>*>(block->handle);
  *block = FileBlock{};
  --outstanding_blocks;
}

bool MemoryPlatform::CreateOutput(const char* path, OutputFile* file) {
  log.push_back(std::string("create ") + path);
  const std::string key = Key(path);
  if (folders_.count(key) || !folders_.count(Key(Parent(path)))) return false;
  auto it = files_.find(key);
  if (it != files_.end() && it->second.second.locked) return false;
  auto& slot = files_[key];
  slot.first = path;
  slot.second = MemoryFile{};
  const intptr_t id = next_output_++;
  outputs_[id] = Output{key, true};
  *file = id;
  ++open_outputs;
  return true;
}

bool MemoryPlatform::OpenExistingForWrite(const char* path, OutputFile* file) {
  log.push_back(std::string("open ") + path);
  auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.second.locked) return false;
  const intptr_t id = next_output_++;
  outputs_[id] = Output{it->first, true};
  *file = id;
  ++open_outputs;
  return true;
}

bool MemoryPlatform::WriteOutput(OutputFile file, const uint8_t* data, uint32_t length) {
  ++writes;
  auto out = outputs_.find(file);
  if (out == outputs_.end() || !out->second.open) return false;
  auto& bytes = files_[out->second.key].second.data;
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
}  // namespace

bool MemoryPlatform::SetLastWriteTime(OutputFile file, const LocalStamp& stamp, uint32_t* error_code) {
  log.push_back("stamp");
  auto out = outputs_.find(file);
  if (out == outputs_.end()) return false;
  if (stamp_error != 0) {
    *error_code = stamp_error;
    return false;
  }
  if (reject_invalid_dates && !ValidDate(stamp)) {
    *error_code = 87;  // what the Windows conversion reports for an impossible date
    return false;
  }
  files_[out->second.key].second.stamp = stamp;
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
  auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.second.locked) return false;
  files_.erase(it);
  return true;
}

bool MemoryPlatform::RenameFile(const char* from, const char* to) {
  log.push_back(std::string("rename ") + from + " > " + to);
  auto it = files_.find(Key(from));
  const std::string to_key = Key(to);
  if (it == files_.end() || it->second.second.locked) return false;
  if (files_.count(to_key) || folders_.count(to_key) || !folders_.count(Key(Parent(to)))) return false;
  MemoryFile moved = std::move(it->second.second);
  files_.erase(it);
  files_[to_key] = {to, std::move(moved)};
  return true;
}

FoundKind MemoryPlatform::Find(const char* path) {
  log.push_back(std::string("find ") + path);
  const std::string key = Key(path);
  if (files_.count(key)) return FoundKind::File;
  if (folders_.count(key)) return FoundKind::Folder;
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

namespace {
class VectorOutput final : public RecordOutput {
 public:
  explicit VectorOutput(std::vector<uint8_t>* out) : out_(out) {}
  bool Write(const uint8_t* data, uint32_t length) override {
    out_->insert(out_->end(), data, data + length);
    return true;
  }

 private:
  std::vector<uint8_t>* out_;
};

class NoDisplay final : public ProgressDisplay {
 public:
  void Advance(int) override {}
  void Pump() override {}
};
}  // namespace

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
  }
  if (summary.shape != BodyShape::Records) {
    *error = "the entry has no record stream";
    return false;
  }
  out->reserve(summary.total_length);
  VectorOutput sink(out);
  NoDisplay display;
  if (ApplyRecords(image, header, old_contents, &sink, display) != ApplyOutcome::Complete) {
    *error = "the record stream is broken";
    return false;
  }
  return true;
}

}  // namespace patch
