#include <iostream>

#include "tools/keladmin/keladmin.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return keladmin::Run(args, std::cin, std::cout, std::cerr);
}
