#include <iostream>
#include <string>
#include <vector>

#include "tools/subauthtest/subauth_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return qv::subauth::RunCommand(args, qv::subauth::DefaultRuntime(), std::cout, std::cerr);
}
