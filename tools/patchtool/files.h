#pragma once
// Whole-file reading and writing for the commands; every failure is a ToolError that
// names the file and the reason. Paths are UTF-8 (files.cpp: POSIX, files_win.cpp: Windows).
#include <cstdint>
#include <string>
#include <vector>

namespace patchtool {

using Bytes = std::vector<uint8_t>;

// The patch format counts sizes and offsets in 32 bits.
constexpr uint64_t kFourGiB = uint64_t{1} << 32;

// Reads a whole regular file. `what` names the file's role in messages ("OLD").
// With `below_four_gib` a file of 4 GiB or more is refused before it is read. The result
// begins with `zeros_before` zero bytes, then the file's bytes.
Bytes ReadWholeFile(const std::string& path, const char* what, bool below_four_gib, size_t zeros_before = 0);

// Writes through a temporary file in the same folder and renames it over `path`, so a
// failed write never leaves a half-written file under the final name.
void WriteWholeFile(const std::string& path, const Bytes& bytes);

// The last path component ("dir/a.exe" gives "a.exe").
std::string BaseName(const std::string& path);

// A file's last-write time in local time; a leap second reads as second 59.
struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime LastWriteTime(const std::string& path);

// Removes a file of the tool's own (a temporary one) if it is there; failures are ignored.
void RemoveQuietly(const std::string& path);

}  // namespace patchtool
