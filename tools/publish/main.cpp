// kestrivon-publish: builds and checks releases for the Kestrivon updater. Run with --help.

#include <unistd.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/command_line.h"

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return kestrivon::publish::RunPublish(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
  } catch (const std::exception& exception) {
    std::cerr << "kestrivon-publish: " << exception.what() << "\n";
    return 1;
  }
}
