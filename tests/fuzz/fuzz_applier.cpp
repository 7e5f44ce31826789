// Fuzz target over the reader, the engine and the whole run on the in-memory platform.
// Input: one byte choosing the installed file, then the patch data, which is placed
// after a 20,000-byte applier image. Besides "no crash, no read outside" (the
// sanitizers), it checks what must hold for any input:
//   - the engine writes exactly what the in-memory rebuild gives, in full chunks, and
//     refuses a body exactly when that rebuild does;
//   - an applied entry's output length is the walked length (new_size for streams);
//   - the run releases every block, closes every output and the dialog, and shows a
//     final box unless the first entry opens a document.
// Compressed streams rarely survive mutation (their checksums catch it), so the same
// input is also read as four raw streams that are deflated here into a 2.00 or 3.00 body:
// the decoder's record logic sees arbitrary data behind valid compression.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "core/patch/applier_run.h"
#include "core/patch/engine.h"
#include "core/patch/format.h"
#include "core/patch/format2.h"
#include "core/patch/format3.h"
#include "core/patch/memory_platform.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::vector<uint8_t> OldFile(uint8_t selector) {
  const size_t size = (selector & 0x3F) == 0 ? 3000 : (selector & 0x3F) * 97u;
  std::vector<uint8_t> b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
  return b;
}

struct CheckedOutput final : patch::RecordOutput, patch::ProgressDisplay {
  std::vector<uint8_t> bytes;
  bool short_write_seen = false;
  int last_percent = 0;
  bool Write(const uint8_t* data, uint32_t length) override {
    CHECK(!short_write_seen);  // only the last chunk may be short
    CHECK(length > 0 && length <= patch::kWriteChunk);
    short_write_seen = length < patch::kWriteChunk;
    bytes.insert(bytes.end(), data, data + length);
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
    CHECK(patch::IsSupportedVersion(h.format_version));
    if (h.kind == patch::EntryKind::OpenDocument) return;
    const uint32_t old_size = static_cast<uint32_t>(old_file.size());
    patch::BodySummary s;
    const bool update = h.kind == patch::EntryKind::Update;
    if (patch::WalkBody(image, h, update ? &old_size : nullptr, &s) != patch::BodyOutcome::Ok) return;
    if (h.kind != patch::EntryKind::Delete) {
      const std::span<const uint8_t> old = update ? std::span<const uint8_t>(old_file) : std::span<const uint8_t>();
      CheckedOutput out;
      uint64_t bytes_out = 0;
      const patch::ApplyOutcome r = patch::ApplyRecords(image, h, old, &out, out, &bytes_out);
      std::vector<uint8_t> rebuilt;
      std::string why;
      const bool rebuilds = patch::RebuildEntryInMemory(image, h, old, &rebuilt, &why);
      if (s.shape == patch::BodyShape::TouchMarker) {
        CHECK(r == patch::ApplyOutcome::Complete && out.bytes.empty());
      } else if (s.shape == patch::BodyShape::Records) {
        // The walk checked the copies against the old contents, so the records apply.
        CHECK(r == patch::ApplyOutcome::Complete && rebuilds);
        CHECK(s.total_length >= h.new_size);
      } else {
        CHECK((r == patch::ApplyOutcome::Complete) == rebuilds);
        CHECK(r == patch::ApplyOutcome::Complete || r == patch::ApplyOutcome::Broken);
        if (!rebuilds) CHECK(out.bytes.empty());
      }
      if (r == patch::ApplyOutcome::Complete) {
        if (s.shape != patch::BodyShape::TouchMarker) CHECK(out.bytes == rebuilt);
        CHECK(out.bytes.size() == bytes_out);
        if (s.shape != patch::BodyShape::TouchMarker) CHECK(out.bytes.size() == s.total_length);
        CHECK(out.last_percent == 100);
      }
    }
    if (patch::ChainStep(image, s.end) != patch::ChainOutcome::NextEntry) return;
    offset = static_cast<uint32_t>(s.end);
  }
}

void PutLe(std::vector<uint8_t>& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Input: new_size (2 bytes), transform (1 byte; with its top bit, the model byte of a 3.00
// body), then four streams, each a length byte (taken modulo what is left) and its bytes.
void CheckRawStreams(const uint8_t* data, size_t size, const std::vector<uint8_t>& old_file) {
  if (size < 3) return;
  const uint32_t new_size = data[0] | (data[1] << 8);
  const bool program = (data[2] & 0x80) != 0;
  const uint8_t transform = data[2] & 0x7F;
  size_t pos = 3;
  std::vector<uint8_t> packed[patch::kStreamCount];
  std::vector<uint8_t> body{transform};
  for (int s = 0; s < patch::kStreamCount; ++s) {
    size_t n = 0;
    if (pos < size) {
      const uint8_t length_byte = data[pos++];
      n = length_byte % (size - pos + 1);
    }
    if (s == patch::kStreamCount - 1) n = size - pos;
    if (n > 0) {
      uLongf packed_size = compressBound(static_cast<uLong>(n));
      packed[s].resize(packed_size);
      CHECK(compress2(packed[s].data(), &packed_size, data + pos, static_cast<uLong>(n), 1) == Z_OK);
      packed[s].resize(packed_size);
    }
    PutLe(body, static_cast<uint32_t>(n), 4);
    PutLe(body, static_cast<uint32_t>(packed[s].size()), 4);
    pos += n;
  }
  for (const auto& p : packed) body.insert(body.end(), p.begin(), p.end());

  std::vector<uint8_t> image = {'D', 'i', 'f', 'f', static_cast<uint8_t>(program ? 3 : 2), 0, 0, 0};
  PutLe(image, 0, 4);
  PutLe(image, 0, 4);
  PutLe(image, static_cast<uint32_t>(old_file.size()), 4);
  PutLe(image, new_size, 4);
  PutLe(image, 2008, 2);
  for (uint8_t v : {1, 30, 16, 48, 9}) image.push_back(v);
  for (const char* text : {"a.exe", "d", ""}) image.insert(image.end(), text, text + std::strlen(text) + 1);
  image.insert(image.end(), body.begin(), body.end());
  patch::EntryHeader h;
  CHECK(patch::ParseEntryHeader(patch::Image(image.data(), image.size()), 0, &h) == patch::HeaderOutcome::Ok);
  std::vector<uint8_t> out(new_size);
  const patch::Image view(image.data(), image.size());
  const patch::Body2Outcome r = patch::DecodeStreamsBody(view, h, old_file, out.data());
  if (r == patch::Body2Outcome::Ok) {
    // Decoding is a pure function of its inputs.
    std::vector<uint8_t> again(new_size);
    CHECK(patch::DecodeStreamsBody(view, h, old_file, again.data()) == r);
    CHECK(again == out);
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
  // The data lies where the applier's search starts, behind filler of program bytes.
  std::vector<uint8_t> image(patch::SEARCH_START + size - 1, 0x90);
  std::copy(data + 1, data + size, image.begin() + patch::SEARCH_START);
  const std::vector<uint8_t> old_file = OldFile(selector);
  CheckEngine(patch::Image(image.data(), image.size()), old_file);
  CheckRun(image, old_file, selector);
  CheckRawStreams(data + 1, size - 1, old_file);
  return 0;
}
