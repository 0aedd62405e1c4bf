// palvoro-cli: every command without windows (see docs/cli.md).

#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return palvoro::runCli(args, std::cout, std::cerr, palvoro::processTerminal());
}
