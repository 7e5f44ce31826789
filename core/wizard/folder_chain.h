#pragma once
// The folders an absolute path passes through. The wizard checks each of them before it
// works in the install folder with administrator rights: a junction or a mounted folder
// anywhere along the path could send the commands into a system folder.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/cp932.h"

namespace wizard {

// The lengths of the prefixes of `folder` that name its folders, outermost first, from the
// first folder below the root ("C:\" or "\\server\share\") to `folder` itself; a trailing
// "\" is not part of any. Empty for a root itself. Nothing for a relative path, an empty
// text or "\\" inside the path: such a path cannot be checked. The second byte 0x5C of a
// double-byte character is no separator.
std::optional<std::vector<size_t>> FolderChain(std::string_view folder, const text::LeadByteTable& lead_bytes);

}  // namespace wizard
