#pragma once
// patchtool make --old-dir OLD ... --new-dir NEW: one chain for a whole product folder.
#include <ostream>
#include <string>
#include <vector>

namespace patchtool {

// Whether the arguments of make name old folders (the folder form of the command).
bool NamesOldFolders(const std::vector<std::string>& args);

int RunMakeFolder(const std::vector<std::string>& args, std::ostream& out);

}  // namespace patchtool
