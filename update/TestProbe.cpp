// Update-test.exe only: at each probe point of the update run, tries what another program
// could try on the applier file and on the applier's UPDATE.TMP (open for writing, rename,
// delete) and writes each distinct result once to the file named by WIZARD_TEST_PROBE_LOG:
//   "<point> <file> <attempt>: refused" or "... DONE"
// A DONE means the run let another program in.
#include <windows.h>

#include <set>
#include <string>

#include "ConstValue.h"
#include "RunProbe.h"
#include "win/handle.h"

namespace update {
namespace {

const char* PointName(RunPoint point) {
  switch (point) {
    case RunPoint::kApplierWritten: return "written";
    case RunPoint::kApplierRunning: return "running";
    case RunPoint::kApplierEnded: return "ended";
  }
  return "?";
}

void Note(const std::string& line) {
  static std::set<std::string> noted;
  if (!noted.insert(line).second) return;
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("WIZARD_TEST_PROBE_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  win::FileHandle log(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(log.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void TryEverything(const char* point, const std::string& folder, const char* name) {
  const std::string path = folder + name;
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  const std::string head = std::string(point) + " " + name + " ";
  {
    win::FileHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Note(head + "write: " + (writer ? "DONE" : "refused"));
  }
  const std::string moved = path + ".moved";
  const bool renamed = MoveFileA(path.c_str(), moved.c_str()) != FALSE;
  Note(head + "rename: " + (renamed ? "DONE" : "refused"));
  if (renamed) MoveFileA(moved.c_str(), path.c_str());
  Note(head + "delete: " + (DeleteFileA(path.c_str()) ? "DONE" : "refused"));
}

void Probe(RunPoint point, const std::string& run_folder) {
  TryEverything(PointName(point), run_folder, PatchExeName);
  TryEverything(PointName(point), run_folder, "UPDATE.TMP");
}

}  // namespace

void InstallTestProbe() {
  if (GetEnvironmentVariableA("WIZARD_TEST_PROBE_LOG", nullptr, 0) > 0) g_run_probe = Probe;
}

}  // namespace update
