// datapack: the package tool's entry point; the commands live in cli.cpp and cmd_*.cpp.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>

#include "cli.h"
#include "platform.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  datapack::Console console{std::cout, std::cerr, false, ""};
  console.err_is_terminal = datapack::IsTerminal(stderr);
  console.out_is_terminal = datapack::IsTerminal(stdout);
  if (console.err_is_terminal) console.width = datapack::TerminalWidth(stderr);
  if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) console.source_date_epoch = epoch;
  int code = datapack::RunDatapack(args, console);
  // A full disk or a closed pipe shows only when the buffered output is written: check the
  // flush and the close too, so that truncated output never ends with success.
  // (errno is only ever set by failures: after one, it holds the last failure's reason.)
  std::cout.flush();
  bool failed = !std::cout.good() || ferror(stdout);
  int error = errno;
  if (fflush(stdout) != 0) {
    failed = true;
    error = errno;
  }
  if (fclose(stdout) != 0 && !failed) {
    failed = true;
    error = errno;
  }
  if (failed) {
    fprintf(stderr, "datapack: write error: %s\n", error ? strerror(error) : "output failed");
    return datapack::kExitIo;
  }
  return code;
}
