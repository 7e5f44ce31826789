#pragma once
// Opening a document as the logged-in user. The applier inherits the wizard's
// administrator rights, but a document named by the patch data is the user's to open:
// its program must not run elevated.
#include <windows.h>

namespace applier {

// Asks the desktop's shell (which runs as the logged-in user) to open `path`. False when
// there is no desktop shell to ask or it refused; nothing has been started then.
bool OpenThroughDesktopShell(const char* path);

enum class Elevation { Elevated, NotElevated, Unknown };

// Whether this process holds an elevated token. Unknown on systems without token
// elevation (before Vista), where a program has the rights of the user who started it.
Elevation RunsElevated();

}  // namespace applier
