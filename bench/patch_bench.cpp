// Throughput of the patch checksum and of rebuilding an entry, each measured side by side
// with its yardstick in the same run: zlib's crc32 on the same 64 MiB buffer, and a plain
// memcpy of the same 5,189,120 bytes. Prints the ratios at the end.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/patch/checksum.h"
#include "core/patch/engine.h"
#include "core/patch/format.h"
#include "tests/unit/patch_builder.h"

namespace {

const std::vector<uint8_t>& Buffer64MiB() {
  static const std::vector<uint8_t> buffer = patchtest::Pattern(64u << 20, 64);
  return buffer;
}

struct Carried {
  patchtest::CarriedShape shape = patchtest::MakeCarriedShape();
  std::vector<uint8_t> image = patchtest::MakeImage({shape.entry}, 0);
  patch::EntryHeader header;
  Carried() { patch::ParseEntryHeader(patch::Image(image.data(), image.size()), 0, &header); }
};
const Carried& CarriedEntry() {
  static const Carried carried;
  return carried;
}

void BM_PatchChecksum(benchmark::State& state) {
  const auto& b = Buffer64MiB();
  for (auto _ : state) benchmark::DoNotOptimize(patch::PatchChecksum(b.data(), b.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.size()));
}

// The table method the Windows programs use.
void BM_SlicedChecksum(benchmark::State& state) {
  const auto& b = Buffer64MiB();
  for (auto _ : state) benchmark::DoNotOptimize(patch::ChecksumUpdateSliced(0, b.data(), b.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.size()));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const auto& b = Buffer64MiB();
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0xFFFFFFFFul, b.data(), static_cast<uInt>(b.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.size()));
}

// Writes into a preallocated buffer, as a file write would take the bytes.
struct MemoryOutput final : patch::RecordOutput, patch::ProgressDisplay {
  uint8_t* at;
  bool Write(const uint8_t* data, uint32_t length) override {
    std::memcpy(at, data, length);
    at += length;
    return true;
  }
  void Advance(int) override {}
  void Pump() override {}
};

void BM_RebuildCarriedEntry(benchmark::State& state) {
  const Carried& c = CarriedEntry();
  std::vector<uint8_t> out(c.shape.new_file.size());
  const patch::Image image(c.image.data(), c.image.size());
  for (auto _ : state) {
    MemoryOutput sink;
    sink.at = out.data();
    benchmark::DoNotOptimize(patch::ApplyRecords(image, c.header, c.shape.old_file, &sink, sink));
    benchmark::ClobberMemory();
  }
  if (out != c.shape.new_file) state.SkipWithError("rebuilt file differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void BM_MemcpyCarriedSize(benchmark::State& state) {
  const Carried& c = CarriedEntry();
  std::vector<uint8_t> out(c.shape.new_file.size());
  for (auto _ : state) {
    std::memcpy(out.data(), c.shape.new_file.data(), out.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

BENCHMARK(BM_PatchChecksum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlicedChecksum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildCarriedEntry)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyCarriedSize)->Unit(benchmark::kMicrosecond);

// Keeps the CPU time per iteration of each benchmark for the ratios (the machines these
// run on are shared, and wall time there measures the neighbours).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0)
        seconds[r.benchmark_name()] = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* ours, const char* theirs, const char* what) {
    if (!reporter.seconds.count(ours) || !reporter.seconds.count(theirs)) return;
    const double speed = reporter.seconds[theirs] / reporter.seconds[ours];
    std::printf("%-46s %.2fx %s\n", what, speed, speed >= 1.0 ? "" : "(slower)");
  };
  std::printf("\nRatios (throughput, ours / yardstick, CPU time, same run):\n");
  ratio("BM_PatchChecksum", "BM_ZlibCrc32", "patch checksum vs zlib crc32, 64 MiB:");
  ratio("BM_SlicedChecksum", "BM_ZlibCrc32", "Windows programs' checksum vs zlib crc32:");
  ratio("BM_RebuildCarriedEntry", "BM_MemcpyCarriedSize", "rebuild carried entry vs memcpy, 5,189,120 B:");
  benchmark::Shutdown();
  return 0;
}
