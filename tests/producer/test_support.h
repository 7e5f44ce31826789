#pragma once
// Shared helpers of the producer and patchtool tests: deterministic data, temporary
// folders and running the tool's commands in-process.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

using Bytes = std::vector<uint8_t>;

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Bytes shaped like a program: random runs, zero runs and tables of rising 32-bit values,
// so that short accidental matches exist as they do in real executables.
inline Bytes ProgramLikeBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(n + 1024);
  while (out.size() < n) {
    const uint32_t kind = rng() % 10;
    if (kind < 5) {
      for (uint32_t i = 16 + rng() % 240; i > 0; --i) out.push_back(static_cast<uint8_t>(rng()));
    } else if (kind < 7) {
      out.insert(out.end(), 8 + rng() % 500, 0);
    } else {
      uint32_t v = rng() & 0xFFFF;
      for (uint32_t i = 4 + rng() % 60; i > 0; --i, v += 4) {
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
      }
    }
  }
  out.resize(n);
  return out;
}

inline std::string Utf8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "patchtool-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

inline time_t MTime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_mtime;
}

}  // namespace test_support

#include "tools/patchtool/tool.h"

namespace test_support {

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

// Runs one patchtool command in-process.
inline ToolRun Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = patchtool::RunTool(args, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace test_support
