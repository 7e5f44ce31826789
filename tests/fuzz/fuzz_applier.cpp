// Fuzz target over the reader, the engine and the whole run on the in-memory platform.
// Input: one byte choosing the installed file, then the patch data, which is placed
// after a 20,000-byte applier image. Besides "no crash, no read outside" (the
// sanitizers), it checks what must hold for any input:
//   - every byte written comes from the patch data or the old contents, never elsewhere;
//   - an applied entry's output length is the sum of its applied record lengths;
//   - the run releases every block, closes every output and the dialog, and shows a
//     final box unless the first entry opens a document.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/patch/applier_run.h"
#include "core/patch/engine.h"
#include "core/patch/format.h"
#include "core/patch/memory_platform.h"

namespace {

#define CHECK(cond)                                                    \
  do {                                                                 \
    if (!(cond)) {                                                     \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                    \
    }                                                                  \
  } while (0)

std::vector<uint8_t> OldFile(uint8_t selector) {
  const size_t size = (selector & 0x3F) == 0 ? 3000 : (selector & 0x3F) * 97u;
  std::vector<uint8_t> b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
  return b;
}

struct CheckedOutput final : patch::RecordOutput, patch::ProgressDisplay {
  const uint8_t* image_begin;
  const uint8_t* image_end;
  const uint8_t* old_begin;
  const uint8_t* old_end;
  uint64_t written = 0;
  int last_percent = 0;
  bool Write(const uint8_t* data, uint32_t length) override {
    const bool in_image = data >= image_begin && data + length <= image_end;
    const bool in_old = old_begin != nullptr && data >= old_begin && data + length <= old_end;
    CHECK(in_image || in_old);
    CHECK(length > 0 && length <= patch::kMaxRecordLength);
    written += length;
    return true;
  }
  void Advance(int percent) override {
    CHECK(percent == last_percent + 1 && percent <= 100);
    last_percent = percent;
  }
  void Pump() override {}
};

void CheckEngine(patch::Image image, const std::vector<uint8_t>& old_file) {
  uint32_t offset = 0;
  if (!patch::FindPatchData(image, &offset)) return;
  for (int entries = 0; entries < 64; ++entries) {
    patch::EntryHeader h;
    if (patch::ParseEntryHeader(image, offset, &h) != patch::HeaderOutcome::Ok) return;
    CHECK(h.body_offset <= image.size());
    CHECK(h.format_version <= patch::MAX_FORMAT_VERSION);
    if (h.kind == patch::EntryKind::OpenDocument) return;
    const uint32_t old_size = static_cast<uint32_t>(old_file.size());
    patch::BodySummary s;
    const bool update = h.kind == patch::EntryKind::Update;
    if (patch::WalkBody(image, h, update ? &old_size : nullptr, &s) != patch::BodyOutcome::Ok) return;
    if (h.kind != patch::EntryKind::Delete) {
      CheckedOutput out;
      out.image_begin = image.data();
      out.image_end = image.data() + image.size();
      out.old_begin = update ? old_file.data() : nullptr;
      out.old_end = update ? old_file.data() + old_file.size() : nullptr;
      uint64_t bytes_out = 0;
      const patch::ApplyOutcome r = patch::ApplyRecords(
          image, h, update ? std::span<const uint8_t>(old_file) : std::span<const uint8_t>(), &out, out, &bytes_out);
      // The body was walked first, so applying it cannot break.
      CHECK(r == patch::ApplyOutcome::Complete);
      CHECK(out.written == s.total_length);
      CHECK(bytes_out == s.total_length);
      CHECK(out.last_percent == 100);
      if (s.shape == patch::BodyShape::Records) CHECK(s.total_length >= h.new_size);
    }
    if (patch::ChainStep(image, s.end) != patch::ChainOutcome::NextEntry) return;
    offset = static_cast<uint32_t>(s.end);
  }
}

void CheckRun(const std::vector<uint8_t>& image, const std::vector<uint8_t>& old_file, uint8_t selector) {
  patch::MemoryPlatform pf;
  pf.AddFolder("C:\\app");
  if (!(selector & 0x40)) pf.AddFile("C:\\app\\Lunder19.exe", old_file);
  if (selector & 0x80) pf.windows_folder.reset();
  pf.AddFile(pf.own_path, image);
  patch::RunApplier(pf);
  CHECK(pf.outstanding_blocks == 0);
  CHECK(pf.open_outputs == 0);
  CHECK(!pf.dialog_open);
  CHECK(pf.boxes_owned_without_dialog == 0);
  CHECK(pf.boxes.size() <= 64);
  if (pf.boxes.empty()) CHECK(pf.dialogs_opened == 0);  // only an open-document entry in first place is silent
  CHECK(pf.bar_position <= 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 20) return 0;
  const uint8_t selector = data[0];
  std::vector<uint8_t> image(patch::SEARCH_START, 0x90);
  image.insert(image.end(), data + 1, data + size);
  const std::vector<uint8_t> old_file = OldFile(selector);
  CheckEngine(patch::Image(image.data(), image.size()), old_file);
  CheckRun(image, old_file, selector);
  return 0;
}
