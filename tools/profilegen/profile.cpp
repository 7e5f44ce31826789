#include "tools/profilegen/profile.h"

#include <algorithm>
#include <map>
#include <optional>

#include "core/patch/paths.h"
#include "core/text/cp932.h"
#include "tools/patchtool/cp932_convert.h"

namespace profile {
namespace {

// The names Windows keeps for devices: a file cannot be called so, with or without an
// extension.
constexpr const char* kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                        "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                        "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
constexpr std::string_view kNotInFileNames = "\\/:*?\"<>|";
// Longest part of a path the wizard builds from the profile alone ("C:\" + sub-folder +
// program name), with room left under MAX_PATH (260) for the drive and the terminator.
constexpr size_t kMaxProfilePath = 240;
constexpr size_t kMaxRegistryKeyName = 255;
constexpr size_t kMaxRegistryValueName = 16383;
constexpr size_t kMaxMutexName = 260;

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = text::FoldAsciiCase(c);
  return out;
}

bool SameName(std::string_view a, std::string_view b) { return Upper(a) == Upper(b); }

std::string Quoted(std::string_view key) { return "key \"" + std::string(key) + "\""; }

bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A file or folder name; nullopt when it can be one, else the reason.
std::optional<std::string> NameFault(std::string_view name) {
  if (name.empty()) return "an empty name";
  if (const size_t bad = name.find_first_of(kNotInFileNames); bad != std::string_view::npos) {
    return "it holds \"" + std::string(1, name[bad]) + "\"";
  }
  if (name.back() == '.' || name.back() == ' ') return "it ends in a dot or a space";
  if (name == "." || name == "..") return "it is \"" + std::string(name) + "\"";
  const std::string stem = Upper(name.substr(0, name.find('.')));
  for (const char* device : kDeviceNames) {
    if (stem == device) return std::string("\"").append(device).append("\" is a device name");
  }
  return std::nullopt;
}

void CheckRule(const Value& v, Rule rule) {
  const auto refuse = [&](const std::string& why) { throw ProfileError(Quoted(v.key) + ": \"" + v.utf8 + "\" " + why); };
  switch (rule) {
    case Rule::kText:
      break;
    case Rule::kFileName:
      if (auto fault = NameFault(v.utf8)) refuse("cannot be a file name: " + *fault);
      if (v.cp932.size() > 255) refuse("is longer than a file name can be (255 bytes)");
      break;
    case Rule::kSubFolder: {
      if (v.utf8.back() != '\\') refuse("must end in \"\\\"");
      std::string_view rest(v.utf8);
      rest.remove_suffix(1);
      for (size_t start = 0;;) {
        const size_t end = rest.find('\\', start);
        const std::string_view part = rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (auto fault = NameFault(part)) refuse("cannot be a sub-folder: \"" + std::string(part) + "\" is not a folder name (" + *fault + ")");
        if (end == std::string_view::npos) break;
        start = end + 1;
      }
      break;
    }
    case Rule::kRegistryKey: {
      std::string_view rest(v.utf8);
      for (size_t start = 0;;) {
        const size_t end = rest.find('\\', start);
        const std::string_view part = rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty()) refuse("cannot be a registry key: it has an empty key name (a leading, trailing or doubled \"\\\")");
        // The limit counts characters: every byte but UTF-8's continuation bytes starts one.
        const auto characters = std::count_if(part.begin(), part.end(), [](char c) { return (c & 0xC0) != 0x80; });
        if (static_cast<size_t>(characters) > kMaxRegistryKeyName) {
          refuse("cannot be a registry key: a key name is longer than 255 characters");
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
      }
      break;
    }
    case Rule::kRegistryValue:
      if (v.cp932.size() > kMaxRegistryValueName) refuse("is longer than a registry value name can be");
      break;
    case Rule::kMutexName:
      if (v.utf8.find('\\') != std::string::npos) refuse("cannot be a mutex name: it holds \"\\\"");
      if (v.cp932.size() > kMaxMutexName) refuse("is longer than a mutex name can be (260 bytes)");
      break;
  }
}

// What the keys must be to one another: the program, its applier, the applier's backup
// and temporary file are four different files, and the patch entry's target is the program.
void CheckTogether(const Profile& p) {
  const std::string& target = p.Get("TargetExeName").utf8;
  const std::string& applier = p.Get("PatchExeName").utf8;
  const std::string stem = target.substr(0, target.rfind('.'));
  const std::string backup = stem + ".OLD";
  // The update's work files ("UPDATE.TMP", "UPDATE3.BAK", "UPDATE.JNL" ...) share the folder.
  if (patch::IsWorkFileName(p.Get("TargetExeName").cp932.c_str()) || SameName(target, backup)) {
    throw ProfileError(Quoted("TargetExeName") + ": \"" + target + "\" is the applier's own temporary or backup name");
  }
  if (SameName(applier, target) || SameName(applier, backup) || patch::IsWorkFileName(p.Get("PatchExeName").cp932.c_str())) {
    throw ProfileError(Quoted("PatchExeName") + ": \"" + applier +
                       "\" names the program, its backup or the applier's temporary file");
  }
  if (!SameName(p.Get("PatchTargetName").utf8, target)) {
    throw ProfileError(Quoted("PatchTargetName") + ": \"" + p.Get("PatchTargetName").utf8 +
                       "\" must name the program, \"" + target + "\" (case aside)");
  }
  const size_t path = 3 + p.Get("DefaultSubFolder").cp932.size() + std::max(p.Get("TargetExeName").cp932.size(), p.Get("PatchExeName").cp932.size());
  if (path > kMaxProfilePath) {
    throw ProfileError(Quoted("DefaultSubFolder") + ": with the program's name the default path is " +
                       std::to_string(path) + " bytes, more than " + std::to_string(kMaxProfilePath));
  }
}

}  // namespace

const std::vector<KeySpec>& Keys() {
  static const std::vector<KeySpec> keys = {
      {"AppTitle", Rule::kText, Use::kProgram},
      {"UpdateTitle", Rule::kText, Use::kProgram},
      {"FolderLabelText", Rule::kText, Use::kProgram},
      {"IntroText", Rule::kText, Use::kProgram},
      {"TargetVersionText", Rule::kText, Use::kProgram},
      {"DoneText", Rule::kText, Use::kProgram},
      {"AfterUpdateText", Rule::kText, Use::kProgram},
      {"BrowseCaption", Rule::kText, Use::kProgram},
      {"UninstallKey", Rule::kRegistryKey, Use::kProgram},
      {"InstallPathValue", Rule::kRegistryValue, Use::kProgram},
      {"DefaultSubFolder", Rule::kSubFolder, Use::kProgram},
      {"TargetExeName", Rule::kFileName, Use::kProgram},
      {"PatchExeName", Rule::kFileName, Use::kProgram},
      {"AppMutexName", Rule::kMutexName, Use::kProgram},
      {"PayloadResType", Rule::kText, Use::kFixed, "PATCHDAT"},
      {"PayloadResName", Rule::kText, Use::kFixed, "PATCH"},
      {"BackupExt", Rule::kText, Use::kFixed, ".OLD"},
      {"MissingSystemText", Rule::kText, Use::kProgram},
      {"UpToDateText", Rule::kText, Use::kProgram},
      {"RecoveredText", Rule::kText, Use::kProgram},
      {"RolledBackText", Rule::kText, Use::kProgram},
      {"RecoveryFailedText", Rule::kText, Use::kProgram},
      {"PatchTargetName", Rule::kFileName, Use::kPatch},
      {"PatchDescription", Rule::kText, Use::kPatch},
  };
  return keys;
}

const Value& Profile::Get(std::string_view key) const {
  for (const Value& v : values) {
    if (v.key == key) return v;
  }
  throw ProfileError("no " + Quoted(key) + " in a profile");
}

Profile ParseProfile(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte order mark
  std::map<std::string, std::pair<std::string, size_t>> found;     // key -> value, line
  size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string where = "line " + std::to_string(line_number);
    if (!IsUtf8(line)) throw ProfileError(where + ": not UTF-8 text");
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) throw ProfileError(where + ": expected \"Key = Value\", found \"" + std::string(line) + "\"");
    const std::string key(Trim(line.substr(0, eq)));
    std::string_view value = Trim(line.substr(eq + 1));
    // Quotes keep spaces at either end; nothing inside them is special.
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);

    const auto& keys = Keys();
    const auto spec = std::find_if(keys.begin(), keys.end(), [&](const KeySpec& k) { return key == k.key; });
    if (spec == keys.end()) throw ProfileError(where + ": unknown " + Quoted(key));
    if (spec->use == Use::kFixed) throw ProfileError(where + ": " + Quoted(key) + " is fixed by the program and cannot be set");
    if (const auto it = found.find(key); it != found.end()) {
      throw ProfileError(where + ": " + Quoted(key) + " given twice (first on line " + std::to_string(it->second.second) + ")");
    }
    found[key] = {std::string(value), line_number};
  }

  Profile p;
  for (const KeySpec& spec : Keys()) {
    if (spec.use == Use::kFixed) continue;
    const auto it = found.find(spec.key);
    if (it == found.end()) throw ProfileError("missing " + Quoted(spec.key));
    Value v{spec.key, it->second.first, {}};
    if (v.utf8.empty()) throw ProfileError(Quoted(v.key) + " is empty");
    for (const char c : v.utf8) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) throw ProfileError(Quoted(v.key) + " holds a control character");
    }
    const auto cp932 = patchtool::Utf8ToCp932(v.utf8);
    if (!cp932) throw ProfileError(Quoted(v.key) + ": \"" + v.utf8 + "\" has no code page 932 form");
    v.cp932 = *cp932;
    CheckRule(v, spec.rule);
    p.values.push_back(std::move(v));
  }
  CheckTogether(p);
  return p;
}

}  // namespace profile
