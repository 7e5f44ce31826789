#pragma once
// Rebuilding one entry: the entry mode, the records written one write per record
// straight from the old contents or the patch data, and the whole-percent progress.
// The engine knows no files and no windows: it writes to a RecordOutput and reports
// progress to a ProgressDisplay; the applier's run and the tools supply both.
#include <cstdint>
#include <span>

#include "core/patch/applier_platform.h"
#include "core/patch/format.h"

namespace patch {

class RecordOutput {
 public:
  virtual bool Write(const uint8_t* data, uint32_t length) = 0;

 protected:
  ~RecordOutput() = default;
};

class ProgressDisplay {
 public:
  // The shown percent rose by one to `percent`: one bar step and the "%d%%" text.
  virtual void Advance(int percent) = 0;
  // Dispatch pending window messages.
  virtual void Pump() = 0;

 protected:
  ~ProgressDisplay() = default;
};

// bytes_out * 100 / new_size rounded down, exact for all 32-bit values, at most 100.
// A new_size of 0 counts as complete (100) instead of dividing by zero.
int TargetPercent(uint64_t bytes_out, uint32_t new_size);

// Per-entry counters; both start at 0 for every entry.
class Progress {
 public:
  explicit Progress(uint32_t new_size) : new_size_(new_size) {}
  void Add(uint32_t length, ProgressDisplay& display);  // raises the shown percent to the target
  void Complete(ProgressDisplay& display);              // raises it to 100, then pumps
  uint64_t bytes_out() const { return bytes_out_; }
  int shown() const { return shown_; }

 private:
  uint32_t new_size_;
  uint64_t bytes_out_ = 0;
  int shown_ = 0;
};

enum class EntryMode : uint8_t {
  Write,         // records are written
  Skip,          // records are walked and counted, nothing is opened or written
  Mismatch,      // update entry whose old file differs and may not be skipped: the run stops
  Delete,        // no body; the target is deleted
  OpenDocument,  // no body; the document is opened and the run ends
};

// `old_checksum` is used for update entries only; `target` for create-if-missing entries.
EntryMode DecideEntryMode(const EntryHeader& header, uint32_t old_checksum, FoundKind target);

enum class ApplyOutcome : uint8_t { Complete, WriteFailed, Broken };

// Applies (output non-null: write mode) or walks (output null: skip mode) the body of an
// update or create-if-missing entry. A touch marker has no records. On Complete the bar
// has been completed to 100 and messages pumped. `old_contents` may be empty; a copy that
// would read outside it, or any record past the end of the image, gives Broken before
// that record is written (the run walks the body first, so this only guards).
// `bytes_out` (optional) receives the sum of the lengths of the records applied.
ApplyOutcome ApplyRecords(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                          RecordOutput* output, ProgressDisplay& display, uint64_t* bytes_out = nullptr);

}  // namespace patch
