#include "core/wizard/update_run.h"

#include <algorithm>

#include "core/patch/checksum.h"
#include "core/patch/paths.h"
#include "core/patch/recovery.h"
#include "core/patch/transaction.h"
#include "core/text/cp932.h"

namespace wizard {

std::optional<FolderPlan> FolderPlan::Read(patch::Image payload, const char* folder, const char* windows_folder) {
  FolderPlan plan;
  if (!patch::FindPatchData(payload, &plan.first_entry_)) return std::nullopt;
  const bool whole = patch::ForEachEntry(
      payload, plan.first_entry_, folder, windows_folder, [&](const patch::EntryHeader& header, const char* path) {
        auto it = std::find_if(plan.targets_.begin(), plan.targets_.end(),
                               [&](const Target& t) { return text::SameFileName(t.path.c_str(), path); });
        if (it == plan.targets_.end()) {
          plan.targets_.push_back(Target{path});
          it = plan.targets_.end() - 1;
          it->final = Final::kAbsent;
          it->judged = false;
        }
        Target& t = *it;
        const bool touch = patch::BodyIsTouchMarker(payload, header);
        switch (header.kind) {
          case patch::EntryKind::Update:
            t.has_update = true;
            t.old_crcs.push_back(header.old_crc);
            if (!header.skip_on_mismatch()) t.skippable = false;
            if (touch) break;
            t.final = Final::kFile;
            t.crc = header.new_crc;
            t.size = header.new_size;
            t.judged = true;
            break;
          case patch::EntryKind::CreateIfMissing:
            if (t.judged) break;  // a file is there: the entry is skipped
            // Over a file the chain removed it is the new file itself; otherwise a file of
            // that name may have been there before, and then it stays.
            t.final = t.removed ? Final::kFile : Final::kExists;
            t.crc = header.new_crc;
            t.size = header.new_size;
            t.judged = true;
            break;
          case patch::EntryKind::Delete:
            t.final = Final::kAbsent;
            t.judged = false;
            t.removed = true;
            break;
          case patch::EntryKind::OpenDocument:
            break;
        }
      });
  if (!whole) return std::nullopt;
  return plan;
}

void FolderPlan::LookBefore(patch::FilePlatform& files, const std::string& program_path) {
  for (Target& t : targets_) {
    if (t.final != Final::kFile || !t.has_update || !t.skippable || text::SameFileName(t.path.c_str(), program_path.c_str())) {
      continue;
    }
    patch::FileBlock block;
    bool known = false;
    if (files.LoadWholeFile(t.path.c_str(), &block) == patch::LoadResult::Ok) {
      const uint32_t crc = patch::PatchChecksum(block.data, block.size);
      known = (crc == t.crc && block.size == t.size) ||
              std::find(t.old_crcs.begin(), t.old_crcs.end(), crc) != t.old_crcs.end();
      files.ReleaseBlock(&block);
    }
    if (!known) t.judged = false;
  }
}

bool FolderPlan::AllNew(patch::FilePlatform& files) const {
  uint32_t judged = 0;
  for (const Target& t : targets_) {
    if (!t.judged) continue;
    ++judged;
    const bool is_new = t.final == Final::kFile ? patch::FileHolds(files, t.path.c_str(), t.crc, t.size)
                                                : files.Find(t.path.c_str()) == patch::FoundKind::File;
    if (!is_new) return false;
  }
  return judged > 0;
}

void FolderPlan::RemoveBackups(patch::FilePlatform& files) const {
  for (const Target& t : targets_) {
    char backup[patch::kPathCapacity];
    if (!t.has_update || !patch::MakeBackupPath(t.path.c_str(), backup, sizeof backup)) continue;
    if (files.Find(backup) != patch::FoundKind::File) continue;
    patch::FileBlock block;
    if (files.LoadWholeFile(backup, &block) != patch::LoadResult::Ok) continue;
    const uint32_t crc = patch::PatchChecksum(block.data, block.size);
    files.ReleaseBlock(&block);
    if (std::find(t.old_crcs.begin(), t.old_crcs.end(), crc) != t.old_crcs.end()) files.RemoveFile(backup);
  }
}

}  // namespace wizard
