#include "tools/patchtool/arguments.h"

#include "tools/patchtool/tool.h"

namespace patchtool {

Arguments::Arguments(const std::vector<std::string>& args, const OptionSpec& spec) {
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    if (spec.switches.count(name) != 0 && !inline_value) {
      switches_.insert(name);
      continue;
    }
    if (spec.with_value.count(name) == 0) throw UsageError("unknown option " + name);
    if (values_.count(name) != 0) throw UsageError("option " + name + " given twice");
    if (inline_value) {
      values_[name] = *inline_value;
    } else {
      if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
      values_[name] = args[++i];
    }
  }
}

std::optional<std::string> Arguments::value(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void Arguments::ExpectPositional(size_t count, const char* usage) const {
  if (positional_.size() != count) throw UsageError(std::string("usage: ") + usage);
}

}  // namespace patchtool
