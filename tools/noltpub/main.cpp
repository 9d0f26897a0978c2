// noltpub: the publisher's tool — a root and signing certificate, signed files, manifest
// archives, and the agent's own check of a signed file.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return noltpub::RunNoltpub(args, std::cout, std::cerr);
}
