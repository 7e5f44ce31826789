// Makes the Nth file operation of a six-entry run fail, for every N, and checks after
// each run: the box names the operation that failed, and every program file is still
// there in a working form (the old file, the verified new one, or the old one at its
// backup path with the new one in "UPDATE.TMP").
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/patch/applier_run.h"
#include "core/patch/memory_platform.h"
#include "core/patch/messages.h"
#include "tests/unit/box_printer.h"
#include "tests/unit/patch_builder.h"

namespace {

using namespace patchtest;
using patch::BoxOwner;
using patch::ShownBox;
namespace msg = patch::msg;

enum class Op { Load, Create, OpenExisting, Write, Stamp, Remove, Rename };

struct Failure {
  Op op;
  std::string path;  // the file concerned (rename: the destination)
  patch::LoadResult load_result = patch::LoadResult::Ok;
};

// Passes everything to the memory platform and fails the Nth file operation.
class FaultPlatform : public patch::MemoryPlatform {
 public:
  explicit FaultPlatform(int fail_at) : fail_at_(fail_at) {}
  int operations = 0;
  std::optional<Failure> failed;

  patch::LoadResult LoadWholeFile(const char* path, patch::FileBlock* block) override {
    if (Fail()) {
      static const patch::LoadResult kinds[] = {patch::LoadResult::OpenFailed, patch::LoadResult::SizeFailed,
                                                patch::LoadResult::AllocFailed, patch::LoadResult::LockFailed,
                                                patch::LoadResult::ReadFailed};
      const patch::LoadResult r = kinds[fail_at_ % 5];
      failed = Failure{Op::Load, path, r};
      return r;
    }
    return MemoryPlatform::LoadWholeFile(path, block);
  }
  bool CreateOutput(const char* path, patch::OutputFile* file) override {
    if (Fail()) return Record(Op::Create, path);
    if (!MemoryPlatform::CreateOutput(path, file)) return false;
    output_paths_[*file] = path;
    return true;
  }
  bool OpenExistingForWrite(const char* path, patch::OutputFile* file) override {
    if (Fail()) return Record(Op::OpenExisting, path);
    if (!MemoryPlatform::OpenExistingForWrite(path, file)) return false;
    output_paths_[*file] = path;
    return true;
  }
  bool WriteOutput(patch::OutputFile file, const uint8_t* data, uint32_t length) override {
    if (Fail()) return Record(Op::Write, output_paths_[file]);
    return MemoryPlatform::WriteOutput(file, data, length);
  }
  bool SetLastWriteTime(patch::OutputFile file, const patch::LocalStamp& stamp, uint32_t* code) override {
    if (Fail()) {
      *code = 1224;
      return Record(Op::Stamp, output_paths_[file]);
    }
    return MemoryPlatform::SetLastWriteTime(file, stamp, code);
  }
  bool RemoveFile(const char* path) override {
    if (Fail()) return Record(Op::Remove, path);
    return MemoryPlatform::RemoveFile(path);
  }
  bool RenameFile(const char* from, const char* to) override {
    if (Fail()) return Record(Op::Rename, to);
    return MemoryPlatform::RenameFile(from, to);
  }

 private:
  bool Fail() { return ++operations == fail_at_; }
  bool Record(Op op, const std::string& path) {
    failed = Failure{op, path};
    return false;
  }
  int fail_at_;
  std::map<patch::OutputFile, std::string> output_paths_;
};

const std::string kDir = "C:\\app\\";

struct ProgramFile {
  std::string name, backup;
  Bytes old_file, new_file, older_backup;
  bool deletes_old = false;  // the old file is deleted instead of kept (no backup / older backup stays)
};

class FaultInjection : public ::testing::Test {
 protected:
  std::vector<ProgramFile> programs;
  std::vector<Entry> entries;
  Bytes created = Pattern(1500, 30);
  Bytes touched = Pattern(800, 31);

  void SetUp() override {
    auto add = [&](const char* name, const char* backup, uint32_t seed, uint8_t flags, bool older, bool streams) {
      ProgramFile p;
      p.name = name;
      p.backup = backup;
      p.old_file = Pattern(4000 + seed * 10, seed);
      p.new_file = p.old_file;
      p.new_file.insert(p.new_file.begin() + 100, {7, 7, 7});
      p.new_file[3000] ^= 0x40;
      if (older) p.older_backup = Pattern(50, seed + 100);
      p.deletes_old = (flags & patch::FLAG_NO_BACKUP) || ((flags & patch::FLAG_SKIP_ON_MISMATCH) && older);
      Entry e = streams ? StreamsUpdateEntry(p.old_file, p.new_file) : UpdateEntry(p.old_file, p.new_file);
      e.name = name;
      e.flags = flags;
      programs.push_back(p);
      entries.push_back(e);
    };
    add("Lunder19.exe", "Lunder19.OLD", 1, 0, true, true);  // compressed streams
    add("data.bin", "data.OLD", 2, patch::FLAG_SKIP_ON_MISMATCH, true, false);
    Entry create = UpdateEntry({}, created);
    create.name = "new.txt";
    create.flags = patch::FLAG_CREATE_IF_MISSING;
    entries.push_back(create);
    Entry del;
    del.name = "obsolete.txt";
    del.flags = patch::FLAG_DELETE;
    entries.push_back(del);
    Entry touch;
    touch.name = "help.hlp";
    touch.old_crc = Crc(touched);
    touch.new_size = 1;
    touch.body = Body().Touch().bytes;
    entries.push_back(touch);
    add("tool.dll", "tool.OLD", 3, patch::FLAG_NO_BACKUP, false, false);
  }

  void Install(patch::MemoryPlatform& pf) {
    pf.AddFile(pf.own_path, MakeImage(entries));
    for (const ProgramFile& p : programs) {
      pf.AddFile(kDir + p.name, p.old_file);
      if (!p.older_backup.empty()) pf.AddFile(kDir + p.backup, p.older_backup);
    }
    pf.AddFile(kDir + "obsolete.txt", {1, 2, 3});
    pf.AddFile(kDir + "help.hlp", touched);
  }

  static std::string LoadCaption(patch::LoadResult r) {
    switch (r) {
      case patch::LoadResult::OpenFailed: return msg::kOpenFailed;
      case patch::LoadResult::SizeFailed: return msg::kSizeFailed;
      case patch::LoadResult::AllocFailed: return msg::kAllocFailed;
      case patch::LoadResult::LockFailed: return msg::kLockFailed;
      default: return msg::kReadFailed;
    }
  }

  static std::vector<ShownBox> Expected(const Failure& f) {
    const ShownBox completed{msg::kCompleted, msg::kFileUpdate, BoxOwner::Dialog, 0};
    switch (f.op) {
      case Op::Load: return {{f.path, LoadCaption(f.load_result), BoxOwner::None, 0x30}};
      case Op::Create:
      case Op::OpenExisting: return {{f.path, msg::kOpenFailed, BoxOwner::None, 0x30}};
      case Op::Write: return {{f.path, msg::kWriteFailed, BoxOwner::None, 0x30}};
      case Op::Stamp: return {{"[1224]", msg::kStampFailed, BoxOwner::Dialog, 0}, completed};
      case Op::Remove:
        if (f.path == kDir + "obsolete.txt") return {completed};  // a failed delete entry is ignored
        return {{f.path, msg::kDeleteFailed, BoxOwner::Dialog, 0x30}};
      case Op::Rename: return {{f.path, msg::kRenameFailed, BoxOwner::Dialog, 0x30}};
    }
    return {};
  }
};

TEST_F(FaultInjection, EveryFailingOperationLeavesAWorkingProgram) {
  int runs_with_fault = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE("failing operation " + std::to_string(n));
    FaultPlatform pf(n);
    Install(pf);
    patch::RunApplier(pf);
    if (!pf.failed) {
      // Past the last operation: the untouched run succeeds.
      EXPECT_EQ(pf.boxes.size(), 1u);
      EXPECT_EQ(pf.boxes.back().text, msg::kCompleted);
      break;
    }
    ++runs_with_fault;
    EXPECT_EQ(pf.boxes, Expected(*pf.failed));
    EXPECT_EQ(pf.outstanding_blocks, 0);
    EXPECT_EQ(pf.open_outputs, 0);
    EXPECT_FALSE(pf.dialog_open);

    const patch::MemoryFile* temp = pf.File(kDir + "UPDATE.TMP");
    for (const ProgramFile& p : programs) {
      SCOPED_TRACE(p.name);
      const patch::MemoryFile* target = pf.File(kDir + p.name);
      const patch::MemoryFile* backup = pf.File(kDir + p.backup);
      const bool old_there = target && target->data == p.old_file;
      const bool new_there = target && target->data == p.new_file;
      const bool old_backed_up = !target && backup && backup->data == p.old_file && temp && temp->data == p.new_file;
      const bool new_waiting = !target && p.deletes_old && temp && temp->data == p.new_file;
      EXPECT_TRUE(old_there || new_there || old_backed_up || new_waiting);
      // An older backup is only ever replaced by the old program itself.
      if (!p.older_backup.empty() && backup) {
        EXPECT_TRUE(backup->data == p.older_backup || backup->data == p.old_file);
      }
    }
    const patch::MemoryFile* created_file = pf.File(kDir + "new.txt");
    EXPECT_TRUE(!created_file || created_file->data == created);
    EXPECT_EQ(pf.File(kDir + "help.hlp")->data, touched);
  }
  EXPECT_GE(runs_with_fault, 30);  // loads, creates, writes, stamps, deletes and renames of six entries
}

}  // namespace
