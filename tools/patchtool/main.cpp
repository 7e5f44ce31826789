#include <iostream>

#include "tools/patchtool/tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return patchtool::RunTool(args, std::cout, std::cerr);
}
