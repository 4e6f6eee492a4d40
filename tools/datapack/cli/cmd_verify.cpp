// datapack verify: read a package as the bootstrapper does and say what it would show.
#include <errno.h>

#include <algorithm>
#include <vector>

#include "commands.h"
#include "filereader.h"
#include "format.h"
#include "package_walk.h"
#include "platform.h"
#include "stub_pin.h"
#include "setup_messages.h"
#include "texts.h"

namespace datapack {

const char kVerifyHelp[] =
    "Usage: datapack verify [OPTIONS] [PACKAGE...]\n"
    "Reads each PACKAGE (default: _Data.001) exactly as the setup bootstrapper does: the header,\n"
    "the list file and every entry it names, inflating each one and checking its Adler-32.\n"
    "A good package is summed up with the progress reports its bar receives and the waiting\n"
    "they cost (the bootstrapper waits at least 10 ms at each). Entries are read and\n"
    "inflated piece by piece: memory stays small whatever the package's size.\n"
    "PACKAGE - reads standard input (a pipe is first copied to a temporary file, removed\n"
    "when done, so that every size and offset in the messages is exact).\n"
    "\n"
    "  -S, --strict  count warnings as failures (exit status 2)\n"
    "  -q, --quiet   print nothing when the package is good (no progress line either)\n"
    "      --against SETUP.EXE  check each PACKAGE against that setup.exe: say whether it\n"
    "                is the package SETUP.EXE is pinned to ('datapack brand --pin'; a signed\n"
    "                SETUP.EXE is fine; exit status 2 for another package, and for a\n"
    "                SETUP.EXE without a pin), and print the bootstrapper's messages in\n"
    "                SETUP.EXE's own texts ('datapack brand --texts'), as UTF-8\n"
    "\n"
    "When the bootstrapper would stop, verify prints on standard output the message it would\n"
    "show (with several packages, after the package's name), for example\n"
    "  Setup program cannot continue because file _Data.001 is corrupted.\n"
    "and on standard error the precise reason: the entry, its role and name, and the offset\n"
    "in the package. A message about a file that cannot be created names the working folder,\n"
    "which only the bootstrapper knows, as %TEMP%\\.\n"
    "Warnings (standard error) are things that do not stop the bootstrapper: list sizes that\n"
    "do not add up to the payload total (the bar would not end at 100 %), bytes after the last\n"
    "entry, two support file names that are one file on Windows (setup.exe unpacks the later\n"
    "over the earlier).\n"
    "With --strict and warnings the verdict is \"failed\" instead of \"good\".\n"
    "Exit status: 0 good, 1 usage error, 2 the bootstrapper would fail (or warnings with\n"
    "--strict), 3 the package cannot be read (or standard output cannot be written); with\n"
    "several packages, the highest of theirs.\n";

namespace {

// verify --against: the messages from the texts of setup.exe `arg`, whose bytes are `setup`.
// Returns kExitOk, or kExitInvalid with the reason printed.
int UseTextsOf(Console& console, const std::string& arg, const Bytes& setup) {
  std::string error;
  std::vector<std::pair<uint32_t, std::string>> texts;
  if (!ReadStubTexts(setup, texts, error)) return Fail(console, kExitInvalid, arg, error);
  UseStubTexts(texts);
  return kExitOk;
}

// Standard input as a file the walk can read by position: itself when it was redirected from
// a regular file, otherwise a private copy in the temporary folder. The walk steps back a
// byte, which a pipe cannot, and its messages about cut records and trailing bytes need the
// size; the copy keeps memory small and those messages exact. Returns nullptr with `error`
// set; `owned` says whether the caller closes the file.
FILE* CopyToScratch(FILE* in, uint64_t& size, std::string& error);

FILE* OpenStandardInput(Console& console, uint64_t& size, bool& owned, std::string& error) {
  UseBinaryMode(console.in);
  owned = false;
  if (SeekableFile(console.in, size)) return console.in;
  owned = true;
  return CopyToScratch(console.in, size, error);
}

// The rest of `in` (a pipe) in a private file of the temporary folder, for the same reasons.
// Returns nullptr with `error` set.
FILE* CopyToScratch(FILE* in, uint64_t& size, std::string& error) {
  FILE* copy = CreateScratchFile(error);
  if (!copy) {
    error = "cannot create a temporary copy: " + error;
    return nullptr;
  }
  std::vector<char> buffer(size_t(1) << 16);
  size = 0;
  for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), in)) > 0; size += n) {
    if (fwrite(buffer.data(), 1, n, copy) != n) {
      error = "cannot copy it to a temporary file: " + ErrnoText();
      fclose(copy);
      return nullptr;
    }
  }
  if (ferror(in) || fflush(copy) != 0 || fseek(copy, 0, SEEK_SET) != 0) {
    error = ErrnoText();
    fclose(copy);
    return nullptr;
  }
  return copy;
}

}  // namespace

int ParsePackageOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                        const char* command, Console& console, Options& o) {
  std::string error;
  if (!ParseOptions(args, specs, o, error)) return UsageError(console, command, error);
  if (o.operands.empty()) o.operands.push_back(PACKAGE_FILE_NAME);
  if (std::count(o.operands.begin(), o.operands.end(), "-") > 1)
    return UsageError(console, command, "standard input (-) can be read only once");
  return kExitOk;
}

int InspectFile(Console& console, const std::string& arg, const InspectOptions& options,
                PackageReport& report, const std::string& doing) {
  std::string error;
  // Why the file cannot be read stays in the report too (list --json shows it).
  auto cannot = [&](int code, const std::string& why) {
    report.reason = why;
    return Fail(console, code, arg, why);
  };
  uint64_t size = 0;
  bool owned = true;
  FILE* f = nullptr;
  if (arg == "-") {
    if (IsTerminal(console.in))
      return cannot(kExitUsage,
                    "standard input is a terminal (a package is read from a file or a pipe)");
    f = OpenStandardInput(console, size, owned, error);
  } else {
    const fs::path path = PathFromNative(arg);
    SourceStat st;
    if (!StatSource(path, st, error)) return cannot(kExitIo, error);
    if (st.regular) {
      size = st.size;
      f = OpenRead(path, error);
    } else if (SpecialFileKind(path) == "a FIFO") {
      // A named pipe, or bash's <(...) as /dev/fd/N: read as "-" reads a pipe.
      FILE* pipe = OpenRead(path, error);
      if (!pipe) return cannot(kExitIo, error);
      f = CopyToScratch(pipe, size, error);
      fclose(pipe);
    } else {
      return cannot(kExitIo, "not a regular file");
    }
  }
  if (!f) return cannot(kExitIo, error);
  FileReader file;
  ByteReader reader;
  InitFileReader(&file, &reader, f);
  ProgressLine progress(console, doing + " " + arg, size);
  InspectOptions walk = options;
  walk.on_progress = [&](uint64_t offset) { progress.Update(offset); };
  InspectPackage(reader, size, walk, report);
  progress.Finish();
  if (owned) fclose(f);
  if (file.failed) {
    errno = file.error;
    return cannot(kExitIo, ErrnoText());
  }
  return kExitOk;
}

namespace {

// Verifies one package and prints its verdict. Returns its exit status.
// With several packages, the bootstrapper's message is preceded by the package's name.
int VerifyOne(Console& console, const std::string& arg, bool strict, bool quiet, bool several) {
  PackageReport report;
  int code = InspectFile(console, arg, InspectOptions(), report, "verifying");
  if (code != kExitOk) return code;
  if (report.failed) {
    Fail(console, kExitInvalid, arg, report.reason);
    console.out << (several ? Printable(arg) + ": " : "") << PrintableMessage(report.message)
                << "\n";
    return kExitInvalid;
  }
  for (const std::string& w : report.warnings) Warn(console, arg, w);
  if (strict && !report.warnings.empty()) {
    const std::string counted = CountOf(report.warnings.size(), "warning");
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
  static const std::vector<OptionSpec> kSpecs = {
      {"strict", 'S', false}, {"quiet", 'q', false}, {"against", 0, true}};
  Options o;
  if (int status = ParsePackageOptions(args, kSpecs, "verify", console, o)) return status;
  if (o.Has("quiet")) console.err_is_terminal = false;
  StubPin stub;
  if (o.Has("against")) {
    Bytes setup;
    if (int code = LoadStubPin(console, o.Get("against"), stub, setup)) return code;
    if (int code = UseTextsOf(console, o.Get("against"), setup)) return code;
  }
  int worst = kExitOk;
  for (const std::string& arg : o.operands) {
    int code = VerifyOne(console, arg, o.Has("strict"), o.Has("quiet"), o.operands.size() > 1);
    if (o.Has("against") && code != kExitIo)
      code = std::max(code, CheckAgainstPin(console, arg, o.Get("against"), stub, o.Has("quiet")));
    worst = std::max(worst, code);
  }
  UseStubTexts({});  // the next command in this process (the unit tests) starts afresh
  return worst;
}

}  // namespace datapack
