#pragma once
// Command-line parsing shared by the commands: positional arguments, options that take a
// value ("--name X", "--name=X", "-o X") and switches ("--json").
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace patchtool {

struct OptionSpec {
  std::set<std::string> with_value;  // e.g. "--name", "-o"
  std::set<std::string> switches;    // e.g. "--json"
};

class Arguments {
 public:
  // Throws UsageError on an unknown option, a missing value or a repeated option.
  Arguments(const std::vector<std::string>& args, const OptionSpec& spec);

  const std::vector<std::string>& positional() const { return positional_; }
  std::optional<std::string> value(const std::string& name) const;
  bool has(const std::string& name) const { return switches_.count(name) != 0; }
  // Throws UsageError unless there are exactly `count` positional arguments.
  void ExpectPositional(size_t count, const char* usage) const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
  std::set<std::string> switches_;
};

}  // namespace patchtool
