// datapack verify: read a package as the bootstrapper does and say what it would show.
#include <errno.h>

#include <algorithm>

#include "commands.h"
#include "filereader.h"
#include "format.h"
#include "inspect.h"
#include "platform.h"

namespace datapack {

const char kVerifyHelp[] =
    "Usage: datapack verify [OPTIONS] [PACKAGE...]\n"
    "Reads each PACKAGE (default: _Data.001) exactly as the setup bootstrapper does: the header,\n"
    "the list file and every entry it names, inflating each one and checking its Adler-32.\n"
    "A good package is summed up with the progress reports its bar receives and the waiting\n"
    "they cost (the bootstrapper waits at least 10 ms at each). Entries are read and\n"
    "inflated piece by piece: memory stays small whatever the package's size.\n"
    "\n"
    "  -S, --strict  count warnings as failures (exit status 2)\n"
    "  -q, --quiet   print nothing when the package is good (no progress line either)\n"
    "\n"
    "When the bootstrapper would stop, verify prints on standard output the message it would\n"
    "show, for example\n"
    "  Setup program cannot continue because file _Data.001 is corrupted.\n"
    "and on standard error the precise reason: the entry, its role and name, and the offset\n"
    "in the package. A message about a file that cannot be created names the working folder,\n"
    "which only the bootstrapper knows, as %TEMP%\\.\n"
    "Warnings (standard error) are things that do not stop the bootstrapper: list sizes that\n"
    "do not add up to the payload total (the bar would not end at 100 %), bytes after the last\n"
    "entry, support file names that replace one another.\n"
    "With --strict and warnings the verdict is \"failed\" instead of \"good\".\n"
    "Exit status: 0 good, 1 usage error, 2 the bootstrapper would fail (or warnings with\n"
    "--strict), 3 the package cannot be read (or standard output cannot be written); with\n"
    "several packages, the highest of theirs.\n";

int InspectFile(Console& console, const std::string& arg, const InspectOptions& options,
                PackageReport& report, const std::string& doing) {
  const fs::path path = PathFromNative(arg);
  std::string error;
  SourceStat st;
  if (!StatSource(path, st, error)) return Fail(console, kExitIo, arg, error);
  if (!st.regular) return Fail(console, kExitIo, arg, "not a regular file");
  FILE* f = OpenRead(path, error);
  if (!f) return Fail(console, kExitIo, arg, error);
  FileReader file;
  ByteReader reader;
  InitFileReader(&file, &reader, f);
  ProgressLine progress(console, doing + " " + arg, st.size);
  InspectOptions walk = options;
  walk.on_progress = [&](uint64_t offset) {
    progress.Update(offset);
    if (options.on_progress) options.on_progress(offset);
  };
  InspectPackage(reader, st.size, walk, report);
  progress.Finish();
  fclose(f);
  if (file.failed) {
    errno = file.error;
    return Fail(console, kExitIo, arg, ErrnoText());
  }
  return kExitOk;
}

namespace {

// Verifies one package and prints its verdict. Returns its exit status.
int VerifyOne(Console& console, const std::string& arg, bool strict, bool quiet) {
  PackageReport report;
  int code = InspectFile(console, arg, InspectOptions(), report, "verifying");
  if (code != kExitOk) return code;
  if (report.failed) {
    Fail(console, kExitInvalid, arg, report.reason);
    console.out << Printable(report.message) << "\n";
    return kExitInvalid;
  }
  for (const std::string& w : report.warnings) Warn(console, arg, w);
  if (strict && !report.warnings.empty()) {
    const size_t n = report.warnings.size();
    const std::string counted = std::to_string(n) + (n == 1 ? " warning" : " warnings");
    if (!quiet) console.out << Printable(arg) << ": failed: " << counted << " with --strict\n";
    return Fail(console, kExitInvalid, arg, counted + ", failing as --strict asks");
  }
  if (!quiet)
    console.out << Printable(arg) << ": good: kind " << report.kind << " (" << report.base_name
                << "), " << report.entries.size() << " entries, payload total "
                << report.payload_total << " bytes, the progress bar ends at "
                << report.final_percent << " %; " << ReportsText(report.progress_reports) << "\n";
  return kExitOk;
}

}  // namespace

int CommandVerify(const std::vector<std::string>& args, Console& console) {
  static const std::vector<OptionSpec> kSpecs = {{"strict", 'S', false}, {"quiet", 'q', false}};
  Options o;
  std::string error;
  if (!ParseOptions(args, kSpecs, o, error)) return UsageError(console, "verify", error);
  if (o.operands.empty()) o.operands.push_back(PACKAGE_FILE_NAME);
  if (o.Has("quiet")) console.err_is_terminal = false;
  int worst = kExitOk;
  for (const std::string& arg : o.operands)
    worst = std::max(worst, VerifyOne(console, arg, o.Has("strict"), o.Has("quiet")));
  return worst;
}

}  // namespace datapack
