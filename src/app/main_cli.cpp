// palvoro-cli: every command without windows (see docs/cli.md).

#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Standard output carries the command's answer alone (a script parses the JSON); the
  // notes the drive layers print on their own go to standard error with the rest of what
  // the program says along the way.
  std::fflush(stdout);
  const int answer = dup(STDOUT_FILENO);
  if (answer < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    return palvoro::runCli(args, std::cout, std::cerr, palvoro::processTerminal());
  }
  __gnu_cxx::stdio_filebuf<char> buffer(answer, std::ios::out);
  std::ostream out(&buffer);
  const int status = palvoro::runCli(args, out, std::cerr, palvoro::processTerminal());
  out.flush();
  return status;
}
