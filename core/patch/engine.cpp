#include "core/patch/engine.h"

namespace patch {

int TargetPercent(uint64_t bytes_out, uint32_t new_size) {
  if (new_size == 0) return 100;
  // bytes_out stays below 2^33 (at most new_size + one record), so the product fits.
  const uint64_t percent = bytes_out * 100 / new_size;
  return percent >= 100 ? 100 : static_cast<int>(percent);
}

void Progress::Add(uint32_t length, ProgressDisplay& display) {
  bytes_out_ += length;
  const int target = TargetPercent(bytes_out_, new_size_);
  while (shown_ < target) display.Advance(++shown_);
}

void Progress::Complete(ProgressDisplay& display) {
  while (shown_ < 100) display.Advance(++shown_);
  display.Pump();
}

EntryMode DecideEntryMode(const EntryHeader& header, uint32_t old_checksum, FoundKind target) {
  switch (header.kind) {
    case EntryKind::OpenDocument:
      return EntryMode::OpenDocument;
    case EntryKind::Delete:
      return EntryMode::Delete;
    case EntryKind::CreateIfMissing:
      return target == FoundKind::None ? EntryMode::Write : EntryMode::Skip;
    case EntryKind::Update:
      break;
  }
  if (old_checksum == header.old_crc) return EntryMode::Write;
  return header.skip_on_mismatch() ? EntryMode::Skip : EntryMode::Mismatch;
}

ApplyOutcome ApplyRecords(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                          RecordOutput* output, ProgressDisplay& display, uint64_t* bytes_out) {
  Progress progress(header.new_size);
  if (bytes_out != nullptr) *bytes_out = 0;
  if (!BodyIsTouchMarker(image, header)) {
    uint64_t pos = header.body_offset;
    for (;;) {
      Record r;
      if (!ReadRecord(image, pos, &r)) return ApplyOutcome::Broken;
      if (output != nullptr && r.length > 0) {
        const uint8_t* from = r.literal;
        if (r.copy) {
          if (uint64_t{r.old_offset} + r.length > old_contents.size()) return ApplyOutcome::Broken;
          from = old_contents.data() + r.old_offset;
        }
        if (!output->Write(from, r.length)) return ApplyOutcome::WriteFailed;
      }
      pos += r.size();
      progress.Add(r.length, display);
      if (bytes_out != nullptr) *bytes_out = progress.bytes_out();
      display.Pump();
      if (progress.bytes_out() >= header.new_size) break;
      if (AtLastByteOrBeyond(image, pos)) return ApplyOutcome::Broken;
    }
  }
  progress.Complete(display);
  return ApplyOutcome::Complete;
}

}  // namespace patch
