#pragma once
// Folder access preparation of the update run: before the applier is written into the
// install folder, the group "Authenticated Users" gets full control over that folder tree
// on the NT family, by the system's cacls run hidden through cmd.exe, its answer "Y" on
// its standard input. Nothing is done on the 9x family.
//
// Paths and command lines are code page 932 byte strings. A failure comes back as a
// win::Status carrying the text the wizard's error box shows.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/text/cp932.h"
#include "win/status.h"

namespace update {

// Dispatches the thread's pending window messages; called between the slices of a wait
// so the folder page repaints and takes input while a command works. The wizard passes
// its application's own dispatching, which knows its pages' keyboard handling.
using MessagePump = std::function<void()>;

// The default pump: removes and dispatches every pending message. A WM_QUIT it meets is
// posted again, so the application's own loop still ends.
void DispatchPendingMessages();

// The platform field of the system's version record: 1 for the 95/98/Me family, 2 for
// the NT family. When the version query itself fails the answer is 2 (NT): only the 9x
// family skips the preparation, and the query cannot fail on the 9x family, whose version
// record is the 148-byte one asked for here.
uint32_t GetPlatformId();

// `path` made absolute against the current folder (GetFullPathNameA); empty on failure.
std::string FullPath(const std::string& path);

// Runs one command of the system hidden and waits until it has ended, dispatching
// messages every 50 ms at the latest. The program named by the command line's first word
// (up to the first space) is started from the system folder by its full path, and the
// system folder is its current folder: the wizard runs elevated, so nothing planted
// beside it or in its current folder may run instead. The command line text itself is
// passed unchanged. Its exit code is not read.
//
// If the process cannot be started, fails with "Exec Error" + the last-error code in
// decimal + CR LF + the command line.
win::Status RunHiddenAndWait(const std::string& command_line, const MessagePump& pump = DispatchPendingMessages);

// The same with `input` as the command's standard input (a pipe that ends after it); the
// command then inherits that pipe and nothing else of the wizard's.
win::Status RunHiddenAndWait(const std::string& command_line, std::string_view input,
                      const MessagePump& pump = DispatchPendingMessages);

// Grants "Authenticated Users" full control over `folder` (as the update run holds it,
// with its trailing backslash) and everything below it. Returns without doing anything
// on the 9x family, when the folder does not exist, when it is a drive root (cacls /T
// would rework the rights of a whole drive) and when the folder holds a "%" or "!"
// (cmd.exe would expand it and cacls could act on another folder); the update run goes on
// in each case with the rights unchanged. A relative folder is made absolute first, as the
// command runs in the system folder.
//
// `lead_bytes` is the table of the system's code page, so that a second byte 0x5C of a
// double-byte character is never taken for a backslash. Errors of RunHiddenAndWait pass
// through.
win::Status GrantFolderAccess(const std::string& folder, const text::LeadByteTable& lead_bytes,
                       const MessagePump& pump = DispatchPendingMessages);

}  // namespace update
