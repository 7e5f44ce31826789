#pragma once
// Rebuilding one entry: the entry mode, the new contents rebuilt in memory from a body of
// either format (and so checked whole before anything is written), then written in large
// chunks with whole-percent progress by bytes written. The engine knows no files and no
// windows: it writes to a RecordOutput and reports progress to a ProgressDisplay; the
// applier's run and the tools supply both.
#include <cstdint>
#include <span>

#include "core/patch/applier_platform.h"
#include "core/patch/format.h"
#include "core/patch/heap_block.h"

namespace patch {

// Bytes per write of the rebuilt contents; messages are dispatched after each.
constexpr uint32_t kWriteChunk = 64 * 1024;

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

enum class ApplyOutcome : uint8_t { Complete, WriteFailed, Broken, NoMemory };

// Rebuilds the contents of an update or create-if-missing entry whose body `walked`
// describes (WalkBody gave Ok; shape Records or Streams) into `out`, which receives
// walked.total_length bytes. `old_contents` is empty for a create-if-missing entry. Any
// fault of the body (a copy outside the old contents, a broken stream) gives Broken.
ApplyOutcome RebuildBody(Image image, const EntryHeader& header, const BodySummary& walked,
                         std::span<const uint8_t> old_contents, HeapBlock* out);

// Writes rebuilt contents in chunks of kWriteChunk, raising the bar by bytes written
// (percent of new_size) and dispatching messages after every chunk; completes the bar.
// `bytes_out` (optional) receives the bytes written so far, also on failure.
ApplyOutcome WriteContents(const uint8_t* data, uint64_t size, uint32_t new_size, RecordOutput& output,
                           ProgressDisplay& display, uint64_t* bytes_out = nullptr);

// The whole body in one call: write mode (output non-null) walks, rebuilds and writes;
// skip mode (output null) walks and raises the bar without reading old contents. A touch
// marker writes nothing. On Complete the bar has been completed to 100 and messages
// pumped. Broken (nothing written) for any fault of the body. `bytes_out` (optional)
// receives the length of the contents applied.
ApplyOutcome ApplyRecords(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                          RecordOutput* output, ProgressDisplay& display, uint64_t* bytes_out = nullptr);

}  // namespace patch
