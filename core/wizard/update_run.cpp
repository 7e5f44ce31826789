#include "core/wizard/update_run.h"

namespace wizard {

std::string ReplaceExtension(std::string_view name, std::string_view extension, const text::LeadByteTable& lead_bytes) {
  // Only a "\" or ":" of its own ends the search: the second byte of "表" is 0x5C.
  size_t dot = std::string_view::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    if (lead_bytes.IsLead(name[i]) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (name[i] == '.') dot = i;
    else if (name[i] == '\\' || name[i] == ':') dot = std::string_view::npos;
  }
  std::string result(name.substr(0, dot == std::string_view::npos ? name.size() : dot));
  result += extension;
  return result;
}

RunOutcome JudgeRun(const FileStamp& backup_before, const FileStamp& backup_after, TargetState target,
                    const FileStamp& program_before, const FileStamp& program_after) {
  if (!backup_after.exists) return RunOutcome::kFailed;
  if (target == TargetState::kMissing) return RunOutcome::kRestoreBackup;
  // Both files stay: the backup cannot be moved back over a file that is there.
  if (target == TargetState::kOther) return RunOutcome::kFailed;
  if (!backup_before.exists) return RunOutcome::kSuccess;
  // A backup that was there before counts only when it has visibly been replaced, or when
  // the program beside it has.
  const bool backup_replaced =
      backup_before.identified && backup_after.identified && !backup_before.SameFileAs(backup_after);
  const bool program_replaced =
      program_before.identified && program_after.identified && !program_before.SameFileAs(program_after);
  return backup_replaced || program_replaced ? RunOutcome::kSuccess : RunOutcome::kFailed;
}

}  // namespace wizard
