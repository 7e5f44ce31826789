// The least record bytes any producer of the copy/literal format can reach for a pair of
// files: the shortest parse over the exact longest match at every position. Prints the
// bytes and the seconds taken, for the producer benchmark to compare with.
#include <time.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "core/producer/shortest_parse.h"
#include "core/producer/suffix_array.h"

namespace {

// <chrono> cannot be compiled with the code page 932 execution charset (its "µs").
double MonotonicSeconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

bool ReadFile(const char* path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: record_minimum OLD NEW\n");
    return 2;
  }
  std::vector<uint8_t> old_data, new_data;
  if (!ReadFile(argv[1], &old_data) || !ReadFile(argv[2], &new_data)) {
    std::fprintf(stderr, "record_minimum: cannot read %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  try {
    const double started = MonotonicSeconds();
    const auto matches = producer::LongestMatches(old_data, new_data, std::max(1u, std::thread::hardware_concurrency()));
    const auto ops = producer::ShortestParse(matches);
    const double seconds = MonotonicSeconds() - started;
    std::printf("%llu %.3f\n", static_cast<unsigned long long>(producer::RecordBytes(ops)), seconds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "record_minimum: %s\n", e.what());
    return 1;
  }
  return 0;
}
