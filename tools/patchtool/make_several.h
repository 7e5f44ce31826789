#pragma once
// patchtool make with several old files: one skip-on-mismatch update entry per old file,
// all in one chain.
#include <ostream>
#include <string>
#include <vector>

namespace patchtool {

// True when the make arguments name old files with --old.
bool NamesSeveralOldFiles(const std::vector<std::string>& args);

int RunMakeSeveral(const std::vector<std::string>& args, std::ostream& out);

}  // namespace patchtool
