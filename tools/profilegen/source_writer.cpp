#include "tools/profilegen/source_writer.h"

#include <cstdio>

namespace profile {
namespace {

std::string Literal(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && c != '"' && c != '\\' && c != '?') {
      out += c;
    } else {
      // Always three digits: an escape never swallows the character after it.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", b);
      out += escape;
    }
  }
  return out + "\"";
}

}  // namespace

std::string ConstantsSource(const Profile& p, const std::string& profile_name) {
  std::string out = "// Made from " + profile_name + " by profilegen when the wizard is built: do not edit.\n" +
                    "// Code page 932 bytes.\n#include \"ConstValue.h\"\n\n";
  for (const KeySpec& spec : Keys()) {
    if (spec.use == Use::kPatch) continue;
    const std::string bytes = spec.use == Use::kFixed ? spec.fixed_value : p.Get(spec.key).cp932;
    out += "const char " + std::string(spec.key) + "[] = " + Literal(bytes) + ";\n";
  }
  return out;
}

}  // namespace profile
