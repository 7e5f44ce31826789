// profilegen: checks a product profile and writes the wizard's constants from it.
//
//   profilegen PROFILE -o ConstValue.cpp   the constants as C++ source (code page 932)
//   profilegen PROFILE --get KEY           one value as written in the profile (UTF-8)
//   profilegen PROFILE --check             only the checks
//
// A refusal is one line naming the key and the reason, and exit code 1.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "tools/profilegen/profile.h"
#include "tools/profilegen/source_writer.h"

namespace {

constexpr char kUsage[] = "usage: profilegen PROFILE (-o SOURCE | --get KEY | --check)";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw profile::ProfileError("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes only when the contents change, so an unchanged profile rebuilds nothing.
void WriteIfChanged(const std::string& path, const std::string& text) {
  {
    std::ifstream in(path, std::ios::binary);
    if (in && std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) == text) return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw profile::ProfileError("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << kUsage << "\n";
    return 2;
  }
  const std::string path = argv[1], mode = argv[2];
  if ((mode == "--check") != (argc == 3) || (mode != "--check" && mode != "-o" && mode != "--get")) {
    std::cerr << kUsage << "\n";
    return 2;
  }
  try {
    const profile::Profile p = profile::ParseProfile(ReadText(path));
    if (mode == "-o") WriteIfChanged(argv[3], profile::ConstantsSource(p, path.substr(path.find_last_of('/') + 1)));
    if (mode == "--get") std::cout << p.Get(argv[3]).utf8 << "\n";
    return 0;
  } catch (const profile::ProfileError& e) {
    std::cerr << "profilegen: " << path << ": " << e.what() << "\n";
    return 1;
  }
}
