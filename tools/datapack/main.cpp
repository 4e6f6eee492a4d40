// datapack: the package tool's entry point; the commands live in cli.cpp and cmd_*.cpp.
#include <stdio.h>
#include <stdlib.h>

#include <iostream>

#include "cli.h"
#include "platform.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  datapack::Console console{std::cout, std::cerr, false, ""};
  console.err_is_terminal = datapack::IsTerminal(stderr);
  if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) console.source_date_epoch = epoch;
  int code = datapack::RunDatapack(args, console);
  std::cout.flush();
  return code;
}
