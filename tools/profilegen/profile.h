#pragma once
// The product profile: the names and texts that tie the update wizard to one product,
// read from a UTF-8 file of "Key = Value" lines (docs/profile.md) and checked once, when
// the wizard is built, so the program itself reads no configuration.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace profile {

// A refusal; what() names the key (or the line) and the reason.
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How a value is checked.
enum class Rule {
  kText,           // one line of text for the user
  kFileName,       // a file name without a folder
  kSubFolder,      // folder names joined by "\", ending in "\"
  kRegistryKey,    // a key path below HKEY_LOCAL_MACHINE
  kRegistryValue,  // a value name
  kMutexName,      // a named mutex (no "\")
};

enum class Use {
  kProgram,  // a key of the profile, compiled into the wizard
  kPatch,    // a key of the profile, used when the update's patch data is made
  kFixed,    // no key: a setting the wizard and the applier agree on, part of the program
};

struct KeySpec {
  const char* key;
  Rule rule;
  Use use;
  const char* fixed_value = nullptr;  // kFixed only
};

// Every key of a profile and every fixed setting, in the order the wizard's constants are
// laid out.
const std::vector<KeySpec>& Keys();

struct Value {
  std::string key;
  std::string utf8;
  std::string cp932;
};

struct Profile {
  std::vector<Value> values;  // the keys of the profile, in the order of Keys()
  const Value& Get(std::string_view key) const;
};

// Reads and checks a whole profile text; throws ProfileError on the first fault.
Profile ParseProfile(std::string_view text);

}  // namespace profile
