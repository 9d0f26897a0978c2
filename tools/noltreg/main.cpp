// noltreg: the registry from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return noltreg::RunNoltreg(args, std::cin, std::cout, std::cerr);
}
