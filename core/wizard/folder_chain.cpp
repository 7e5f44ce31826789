#include "core/wizard/folder_chain.h"

namespace wizard {

std::optional<std::vector<size_t>> FolderChain(std::string_view folder, const text::LeadByteTable& lead_bytes) {
  // Positions of the backslashes of their own.
  std::vector<size_t> separators;
  for (size_t i = 0; i < folder.size(); ++i) {
    if (lead_bytes.IsLead(folder[i]) && i + 1 < folder.size()) {
      ++i;
      continue;
    }
    if (folder[i] == '\\') separators.push_back(i);
  }
  size_t root_end = 0;  // the length of the root, its backslash included
  if (folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\' && !lead_bytes.IsLead(folder[0])) {
    root_end = 3;
  } else if (folder.size() >= 2 && folder[0] == '\\' && folder[1] == '\\') {
    // \\server\share\: the fourth backslash ends the root; server and share must be named.
    if (separators.size() < 4 || separators[2] == 2 || separators[3] == separators[2] + 1) return std::nullopt;
    root_end = separators[3] + 1;
  } else {
    return std::nullopt;
  }
  std::vector<size_t> chain;
  size_t start = root_end;
  for (size_t separator : separators) {
    if (separator < root_end) continue;
    if (separator == start) return std::nullopt;  // "\\" inside the path: no folder between them
    chain.push_back(separator);
    start = separator + 1;
  }
  if (start < folder.size()) chain.push_back(folder.size());
  return chain;
}

}  // namespace wizard
