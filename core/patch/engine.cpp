#include "core/patch/engine.h"

#include <cstring>

#include "core/patch/format3.h"

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

namespace {

void RebuildRecords(Image image, const EntryHeader& header, std::span<const uint8_t> old, uint8_t* out,
                    uint64_t total) {
  uint64_t pos = header.body_offset;
  for (uint64_t done = 0; done < total;) {
    Record r;
    ReadRecord(image, pos, &r);  // the walk proved every record lies inside the image
    const uint8_t* from = r.copy ? old.data() + r.old_offset : r.literal;
    if (r.length > 0) std::memcpy(out + done, from, r.length);
    done += r.length;
    pos += r.size();
  }
}

}  // namespace

ApplyOutcome RebuildBody(Image image, const EntryHeader& header, const BodySummary& walked,
                         std::span<const uint8_t> old_contents, HeapBlock* out) {
  if (walked.shape == BodyShape::Streams) {
    Body2Layout layout;
    if (ReadBody2Layout(image, header.body_offset, header.new_size, &layout, header.format_version) !=
            Body2Outcome::Ok ||
        !Body2CanProduce(layout, header.new_size, old_contents.size())) {
      return ApplyOutcome::Broken;
    }
    if (!out->Allocate(walked.total_length)) return ApplyOutcome::NoMemory;
    switch (DecodeStreamsBody(image, header, old_contents, out->data())) {
      case Body2Outcome::Ok: return ApplyOutcome::Complete;
      case Body2Outcome::NoMemory: return ApplyOutcome::NoMemory;
      default: return ApplyOutcome::Broken;
    }
  }
  if (walked.shape != BodyShape::Records) return ApplyOutcome::Broken;
  if (!out->Allocate(walked.total_length)) return ApplyOutcome::NoMemory;
  // The copies are checked here against the contents actually given, whatever the walk saw.
  const uint32_t old_size = static_cast<uint32_t>(old_contents.size());
  BodySummary checked;
  if (WalkBody(image, header, &old_size, &checked) != BodyOutcome::Ok || checked.total_length != walked.total_length) {
    return ApplyOutcome::Broken;
  }
  RebuildRecords(image, header, old_contents, out->data(), walked.total_length);
  return ApplyOutcome::Complete;
}

ApplyOutcome WriteContents(const uint8_t* data, uint64_t size, uint32_t new_size, RecordOutput& output,
                           ProgressDisplay& display, uint64_t* bytes_out) {
  Progress progress(new_size);
  if (bytes_out != nullptr) *bytes_out = 0;
  for (uint64_t done = 0; done < size;) {
    const uint32_t n = size - done < kWriteChunk ? static_cast<uint32_t>(size - done) : kWriteChunk;
    if (!output.Write(data + done, n)) return ApplyOutcome::WriteFailed;
    done += n;
    progress.Add(n, display);
    if (bytes_out != nullptr) *bytes_out = done;
    display.Pump();
  }
  progress.Complete(display);
  return ApplyOutcome::Complete;
}

ApplyOutcome ApplyRecords(Image image, const EntryHeader& header, std::span<const uint8_t> old_contents,
                          RecordOutput* output, ProgressDisplay& display, uint64_t* bytes_out) {
  if (bytes_out != nullptr) *bytes_out = 0;
  BodySummary walked;
  if (WalkBody(image, header, nullptr, &walked) != BodyOutcome::Ok) return ApplyOutcome::Broken;
  Progress progress(header.new_size);
  if (walked.shape == BodyShape::TouchMarker) {
    progress.Complete(display);
    return ApplyOutcome::Complete;
  }
  if (output == nullptr) {
    progress.Add(walked.total_length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(walked.total_length),
                 display);
    if (bytes_out != nullptr) *bytes_out = walked.total_length;
    progress.Complete(display);
    return ApplyOutcome::Complete;
  }
  HeapBlock contents;
  const ApplyOutcome rebuilt = RebuildBody(image, header, walked, old_contents, &contents);
  if (rebuilt != ApplyOutcome::Complete) return rebuilt;
  return WriteContents(contents.data(), contents.size(), header.new_size, *output, display, bytes_out);
}

}  // namespace patch
