// Pieces shared by the datapack commands (internal to the tool).
//
// cli/ is the top of the tool: main(), option parsing (cli.h), one file per command
// (cmd_*.cpp). It may include every other folder; the Console, Fail and Warn declared here
// and in cli.h are what the lower folders report through.
#ifndef DATAPACK_COMMANDS_H
#define DATAPACK_COMMANDS_H

#include <stdint.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "cli.h"

namespace datapack {

int CommandCreate(const std::vector<std::string>& args, Console& console);
int CommandList(const std::vector<std::string>& args, Console& console);
int CommandVerify(const std::vector<std::string>& args, Console& console);
int CommandExtract(const std::vector<std::string>& args, Console& console);
int CommandBrand(const std::vector<std::string>& args, Console& console);

struct InspectOptions;
struct PackageReport;

// Opens the package named `arg` ("-": standard input) and walks it (package_walk.h), with a
// progress line labelled `doing` as options.on_progress. Returns kExitOk when the walk ran (its
// verdict is in `report`), or kExitIo after printing why the file could not be opened or read.
int InspectFile(Console& console, const std::string& arg, const InspectOptions& options,
                PackageReport& report, const std::string& doing);

extern const char kCreateHelp[];
extern const char kListHelp[];
extern const char kVerifyHelp[];
extern const char kExtractHelp[];
extern const char kBrandHelp[];

struct OptionSpec {
  const char* name;  // long name without "--"
  char letter;       // short form, or 0
  bool takes_value;
};

struct Options {
  std::map<std::string, std::string> values;  // by long name; flags hold ""
  std::vector<std::string> operands;

  bool Has(const char* name) const { return values.count(name) != 0; }
  std::string Get(const char* name, const std::string& fallback = "") const;
};

// Parses "--name value", "--name=value", "-x value", "-xVALUE", flags and operands ("--"
// ends the options). Every command also takes --help / -h. Returns false with `error` set
// for an unknown option or a missing value.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                  Options& options, std::string& error);

// Text for a terminal: every byte outside printable ASCII (control characters such as ESC,
// DEL, and bytes above 0x7F, whose meaning depends on a code page) as \xHH, so that a name
// from someone else's package cannot move the cursor, recolour or clear the screen.
std::string Printable(const std::string& text);

// Prints "datapack: <what>: <reason>" and returns `code`; both are made Printable.
int Fail(Console& console, int code, const std::string& what, const std::string& reason);
// "datapack: <command>: <reason>" plus a hint at the help, and kExitUsage.
int UsageError(Console& console, const char* command, const std::string& reason);

// Parses the options of a command that reads packages (list, verify) into `o`; no operand means
// "_Data.001". Returns kExitOk, or the usage error it printed (bad options, "-" twice).
int ParsePackageOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                        const char* command, Console& console, Options& o);
// The C library's words for errno ("No space left on device"), for failed stdio calls.
std::string ErrnoText();
// "datapack: warning: <what>: <text>", made Printable.
void Warn(Console& console, const std::string& what, const std::string& text);

// The bootstrapper's bar waits at least this long at every progress report.
const unsigned kReportWaitMs = 10;

// "87 progress reports: at least 0.87 s of waiting in the bootstrapper".
std::string ReportsText(uint64_t reports);

// A decimal number in [low, high]; false when the text is anything else.
bool ParseNumber(const std::string& text, int64_t low, int64_t high, int64_t& value);

// A one-line percentage on the error stream while long work runs, shown only when that
// stream is a terminal, only once the work has lasted Console::progress_delay_ms, redrawn at
// most once per progress_interval_ms and cut to the terminal's width; it erases itself when
// done.
class ProgressLine {
 public:
  ProgressLine(Console& console, std::string label, uint64_t total);
  ~ProgressLine();
  void Update(uint64_t done);
  void Finish();

 private:
  Console& console_;
  std::string label_;  // cut to fit the width
  uint64_t total_;
  int shown_ = -1;  // percentage on screen, -1 before the first
  std::chrono::steady_clock::time_point start_, drawn_;  // construction, last redraw
  size_t drawn_size_ = 0;                                // characters on screen
};

}  // namespace datapack

#endif
