// datapack list: every entry of a package with its role, name, sizes, file header and blocks.
#include <stdio.h>

#include <algorithm>

#include <ostream>

#include "commands.h"
#include "filetime.h"
#include "format.h"
#include "package_walk.h"
#include "stub_pin.h"

namespace datapack {

const char kListHelp[] =
    "Usage: datapack list [--json] [-q] [--against SETUP.EXE] [PACKAGE...]\n"
    "Shows the entries of each PACKAGE (default: _Data.001) in the order the bootstrapper reads\n"
    "them: for each its role (list file, setup program, uninstaller, support file), the name\n"
    "it unpacks to, its offset, the declared (inflated), stored and produced sizes, the\n"
    "attributes (letters R H S V D A X N T P L C O I E, and hexadecimal), the creation, last\n"
    "access and last write times (ISO 8601, UTC), the deflate blocks by type (stored, fixed,\n"
    "dynamic) and its progress reports; then the number of reports the progress bar receives\n"
    "and the waiting they cost (the bootstrapper waits at least 10 ms at each), the expected\n"
    "total (list lines 8 + 9) against the payload total, where the bar ends, and the bytes\n"
    "after the last entry. PACKAGE - reads standard input (a pipe is first copied to a\n"
    "temporary file, removed when done, so that sizes and offsets are exact).\n"
    "\n"
    "  -J, --json   one JSON object instead of text (names: bytes above 0x7F as \\u00XX);\n"
    "               with several packages, an array of them\n"
    "  -q, --quiet  the listing and errors only: no warnings, no progress line\n"
    "      --against SETUP.EXE  also show the package pin SETUP.EXE carries ('datapack brand\n"
    "               --pin') and whether each PACKAGE is the pinned one (JSON: \"pin\")\n"
    "\n"
    "In the text, every byte of a name outside printable ASCII is shown as \\xHH.\n"
    "A package the bootstrapper would refuse is listed as far as it can be read; the reason\n"
    "goes to standard error and the exit status is 2 (see 'datapack help verify'); with\n"
    "several packages, the exit status is the highest of theirs.\n";

namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c >= 0x7F) {
      // Names are in the Windows ANSI code page, unknown here: each byte is shown as the
      // character of the same number, which is exact for Latin-1.
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

// `pin`: "" or further members for the object, each starting with ",\n  ".
void PrintJson(std::ostream& out, const std::string& arg, const PackageReport& r,
               const std::string& pin) {
  out << "{\n  \"package\": " << JsonString(arg) << ",\n  \"size\": " << r.file_size;
  if (r.header_ok)
    out << ",\n  \"kind\": " << r.kind << ",\n  \"base_name\": " << JsonString(r.base_name);
  out << ",\n  \"entries\": [";
  for (size_t i = 0; i < r.entries.size(); ++i) {
    const EntryReport& e = r.entries[i];
    out << (i ? ",\n" : "\n") << "    {\"index\": " << e.index << ", \"role\": \"" << RoleId(e.role)
        << "\", \"name\": " << JsonString(e.name) << ", \"offset\": " << e.offset
        << ", \"declared\": " << e.info.declared << ", \"stored\": " << e.info.stored
        << ", \"stored_present\": " << e.info.stored_read
        << ", \"stream_used\": " << e.info.stream_used << ", \"produced\": " << e.info.produced;
    if (e.has_header)
      out << ", \"data_size\": " << e.info.produced - FILE_HEADER_SIZE
          << ", \"attributes\": {\"hex\": \"" << AttributeHex(e.header.attributes)
          << "\", \"letters\": \"" << AttributeLetters(e.header.attributes) << "\"}"
          << ", \"created\": \"" << FormatFileTime(e.header.created) << "\", \"accessed\": \""
          << FormatFileTime(e.header.accessed) << "\", \"written\": \""
          << FormatFileTime(e.header.written) << "\"";
    out << ", \"blocks\": {\"stored\": " << e.info.blocks[0] << ", \"fixed\": " << e.info.blocks[1]
        << ", \"dynamic\": " << e.info.blocks[2] << "}, \"reports\": " << e.info.reports
        << ", \"ok\": " << (e.status == ENTRY_OK ? "true" : "false") << "}";
  }
  out << "\n  ]";
  if (r.list_read)
    out << ",\n  \"list\": {\"line8\": " << r.list.size1 << ", \"line9\": " << r.list.size2
        << ", \"count\": " << r.list.count << "}";
  out << ",\n  \"progress\": {\"reports\": " << r.progress_reports
      << ", \"mandated_wait_ms\": " << (uint64_t)r.progress_reports * kReportWaitMs
      << ", \"expected_total\": " << r.list.expected << ", \"payload_total\": " << r.payload_total
      << ", \"final_percent\": " << r.final_percent << "}";
  if (r.complete) out << ",\n  \"trailing_bytes\": " << r.trailing;
  out << ",\n  \"warnings\": [";
  for (size_t i = 0; i < r.warnings.size(); ++i)
    out << (i ? ", " : "") << JsonString(r.warnings[i]);
  out << "]";
  if (r.failed)
    out << ",\n  \"error\": {\"reason\": " << JsonString(r.reason)
        << ", \"message\": " << JsonString(r.message) << "}";
  out << pin << "\n}\n";
}

void PrintText(std::ostream& out, const std::string& arg, const PackageReport& r) {
  out << Printable(arg) << ": " << r.file_size << " bytes";
  if (r.header_ok) out << ", kind " << r.kind << ", base name " << r.base_name;
  out << "\n";
  for (const EntryReport& e : r.entries) {
    out << "entry " << e.index << " at offset " << e.offset << ": " << RoleName(e.role) << " "
        << (e.name.empty() ? "(empty name)" : Printable(e.name)) << "\n";
    out << "  sizes     declared " << e.info.declared << ", stored " << e.info.stored;
    if (e.info.stored_read < e.info.stored)
      out << " (" << e.info.stored_read << " present)";
    else if (e.status == ENTRY_OK && e.info.stream_used < e.info.stored)
      out << " (stream " << e.info.stream_used << ", " << e.info.stored - e.info.stream_used
          << " ignored)";
    out << ", produced " << e.info.produced;
    if (e.has_header) out << " (28 + " << e.info.produced - FILE_HEADER_SIZE << " data)";
    out << "\n";
    if (e.has_header) {
      out << "  attribs   " << AttributeLetters(e.header.attributes) << " "
          << AttributeHex(e.header.attributes) << "\n";
      out << "  created   " << FormatFileTime(e.header.created) << "\n";
      out << "  accessed  " << FormatFileTime(e.header.accessed) << "\n";
      out << "  written   " << FormatFileTime(e.header.written) << "\n";
    }
    out << "  blocks    " << e.info.blocks[0] << " stored, " << e.info.blocks[1] << " fixed, "
        << e.info.blocks[2] << " dynamic; " << e.info.reports << " progress reports\n";
    if (e.status != ENTRY_OK) out << "  FAILED    " << EntryStatusText(e.status) << "\n";
  }
  if (r.list_read) {
    out << "progress: " << ReportsText(r.progress_reports) << "; expected total " << r.list.expected
        << " (line 8: " << r.list.size1 << ", line 9: " << r.list.size2 << "), payload total "
        << r.payload_total;
    if (r.complete) out << ": the bar ends at " << r.final_percent << " %";
    out << "\n";
  }
  if (r.complete) out << "after the last entry: " << r.trailing << " bytes\n";
}

// What `list --against` adds for package `arg`: the stub's pin and whether `arg` is the pinned
// package, as a line of text or JSON members. Sets `code` to the check's exit status.
std::string PinListing(Console& console, const std::string& arg, const std::string& stub_name,
                       const StubPin& stub, bool json, int& code) {
  code = stub.present ? CheckAgainstPin(console, arg, stub_name, stub, true) : int(kExitOk);
  const bool matches = stub.present && code == kExitOk;
  if (json) {
    std::string s = ",\n  \"pin\": {\"setup\": " + JsonString(stub_name);
    if (!stub.present) return s + ", \"pinned\": false}";
    return s + ", \"pinned\": true, \"length\": " + std::to_string(stub.pin.length) +
           ", \"sha256\": \"" + DigestHex(stub.pin) +
           "\", \"matches\": " + (matches ? "true" : "false") + "}";
  }
  if (!stub.present) return "pin: " + Printable(stub_name) + " carries none: it runs any package\n";
  return "pin: " + Printable(stub_name) + " is pinned to " + PinText(stub.pin) + ": " +
         (matches ? "this package" : "NOT this package") + "\n";
}

}  // namespace

int CommandList(const std::vector<std::string>& args, Console& console) {
  static const std::vector<OptionSpec> kSpecs = {
      {"json", 'J', false}, {"quiet", 'q', false}, {"against", 0, true}};
  Options o;
  if (int status = ParsePackageOptions(args, kSpecs, "list", console, o)) return status;
  StubPin stub;
  if (o.Has("against")) {
    if (int code = LoadStubPin(console, o.Get("against"), stub)) return code;
  }
  const bool json = o.Has("json"), quiet = o.Has("quiet");
  if (quiet) console.err_is_terminal = false;
  // Several packages in JSON: one array of their objects.
  const bool array = json && o.operands.size() > 1;
  if (array) console.out << "[\n";
  int worst = kExitOk;
  for (size_t i = 0; i < o.operands.size(); ++i) {
    const std::string& arg = o.operands[i];
    InspectOptions options;
    options.keep_going = true;
    PackageReport report;
    int code = InspectFile(console, arg, options, report, "reading");
    if (code == kExitOk) {
      if (array && i > 0) console.out << ",\n";
      int pin_code = kExitOk;
      const std::string pin =
          o.Has("against") ? PinListing(console, arg, o.Get("against"), stub, json, pin_code) : "";
      if (json)
        PrintJson(console.out, arg, report, pin);
      else
        PrintText(console.out, arg, report);
      if (!json) console.out << pin;
      if (!quiet)
        for (const std::string& w : report.warnings) Warn(console, arg, w);
      if (report.failed) code = Fail(console, kExitInvalid, arg, report.reason);
      code = std::max(code, pin_code);
    }
    worst = std::max(worst, code);
  }
  if (array) console.out << "]\n";
  return worst;
}

}  // namespace datapack
