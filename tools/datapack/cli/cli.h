// The datapack command line: create, list, verify, extract, help. main() is a thin shell
// around RunDatapack so that the tests run the same commands in-process.
#ifndef DATAPACK_CLI_H
#define DATAPACK_CLI_H

#include <stdio.h>

#include <ostream>
#include <string>
#include <vector>

namespace datapack {

// The exit status of every command.
enum ExitCode {
  kExitOk = 0,       // done (warnings may have been printed)
  kExitUsage = 1,    // bad command line, or an existing file that needs --force
  kExitInvalid = 2,  // the package is invalid, or the inputs would make one the
                     // bootstrapper refuses
  kExitIo = 3        // a file could not be read or written, standard output included
};

struct Console {
  std::ostream& out;                 // results (listings, the bootstrapper's message)
  std::ostream& err;                 // errors, warnings, the progress line
  bool err_is_terminal = false;      // show a progress line on `err`
  std::string source_date_epoch;     // SOURCE_DATE_EPOCH, "" when unset
  unsigned width = 80;               // columns of the terminal `err` is (the progress line is cut)
  unsigned progress_delay_ms = 500;  // no progress line for work shorter than this
  unsigned progress_interval_ms = 100;  // at most one redraw per this
  unsigned warnings = 0;                // warnings printed so far (Warn counts them)
  FILE* in = stdin;                     // read for the package "-"
  bool out_is_terminal = false;         // `out` is a terminal ("create -o -" refuses it)
};

// Runs one command; `args` excludes the program name. Returns an ExitCode.
int RunDatapack(const std::vector<std::string>& args, Console& console);

}  // namespace datapack

#endif
