#pragma once
// What the installed program must be once an update has succeeded, as the wizard's own
// payload records it: the applier reports nothing, and a program and a backup at the right
// names may have been made by another process during the run, so only the contents count.
#include <cstdint>
#include <span>

namespace wizard {

struct ExpectedProgram {
  bool known = false;  // false: the payload names no such program, or cannot be read
  uint32_t size = 0;
  uint32_t crc = 0;  // the patch checksum
};

// The last entry of the payload's chain that writes `program_name` (code page 932, compared
// as the file system does) in the applier's own folder: its new_size and new_crc.
// Anything unreadable in the chain makes the facts unknown.
ExpectedProgram ExpectedFromPayload(std::span<const uint8_t> payload, const char* program_name);

// Whether `contents` are the program the payload rebuilds. Unknown facts match nothing.
bool IsExpectedProgram(const ExpectedProgram& expected, std::span<const uint8_t> contents);

}  // namespace wizard
