// datapack list: every entry of a package with its role, name, sizes, file header and blocks.
#include <stdio.h>

#include <algorithm>

#include <ostream>

#include "codepage.h"
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
    "  -J, --json   JSON Lines instead of text: one object on one line per PACKAGE, also\n"
    "               for one that cannot be read (\"readable\": false, \"error\"); each\n"
    "               name as text (its bytes read as Windows-1252) and as \"name_bytes\", its\n"
    "               exact bytes in hexadecimal\n"
    "  -q, --quiet  the listing and errors only: no warnings, no progress line\n"
    "      --against SETUP.EXE  also show the package pin SETUP.EXE carries ('datapack brand\n"
    "               --pin') and whether each PACKAGE is the pinned one (JSON: \"pin\")\n"
    "\n"
    "In the text, every byte of a name outside printable ASCII is shown as \\xHH.\n"
    "A package the bootstrapper would refuse is listed as far as it can be read; the reason\n"
    "goes to standard error and the exit status is 2 (see 'datapack help verify'); with\n"
    "several packages, the exit status is the highest of theirs.\n";

namespace {

// Whether s is valid UTF-8 (as a command-line path or a system message normally is).
bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = (unsigned char)s[i];
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || c == 0xC0 || c == 0xC1 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if (((unsigned char)s[i + k] >> 6) != 2) return false;
    i += n;
  }
  return true;
}

// A JSON string. `name`: bytes of a name inside the package, read as Windows-1252
// (codepage.h), each character above ASCII as \uXXXX. Other text passes through when it is
// UTF-8; otherwise each byte becomes the character of the same number.
std::string JsonString(const std::string& s, bool name = false) {
  const bool utf8 = !name && ValidUtf8(s);
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c == 0x7F || (c > 0x7F && !utf8)) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", name ? (unsigned)UnicodeFrom1252(c) : (unsigned)c);
      out += esc;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

// A name's exact bytes, as lowercase hexadecimal.
std::string HexBytes(const std::string& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : s) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out + "\"";
}

// One package as one JSON object on one line (JSON Lines: one line per package, whatever
// their number). `status` is the package's exit status; a package that could not be read at
// all has only its name, its status and the error's reason. `pin`: "" or further members
// for the object (`list --against`), each starting with ", ".
void PrintJson(std::ostream& out, const std::string& arg, const PackageReport& r, int status,
               bool readable, const std::string& pin) {
  out << "{\"package\": " << JsonString(arg) << ", \"status\": " << status
      << ", \"readable\": " << (readable ? "true" : "false");
  if (!readable) {
    out << ", \"error\": {\"reason\": " << JsonString(r.reason) << "}}\n";
    return;
  }
  out << ", \"size\": " << r.file_size;
  if (r.header_ok)
    out << ", \"kind\": " << r.kind << ", \"base_name\": " << JsonString(r.base_name, true);
  out << ", \"entries\": [";
  for (size_t i = 0; i < r.entries.size(); ++i) {
    const EntryReport& e = r.entries[i];
    out << (i ? ", " : "") << "{\"index\": " << e.index << ", \"role\": \"" << RoleId(e.role)
        << "\", \"name\": " << JsonString(e.name, true) << ", \"name_bytes\": " << HexBytes(e.name)
        << ", \"offset\": " << e.offset << ", \"declared\": " << e.info.declared
        << ", \"stored\": " << e.info.stored << ", \"stored_present\": " << e.info.stored_read
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
  out << "]";
  if (r.list_read)
    out << ", \"list\": {\"line8\": " << r.list.size1 << ", \"line9\": " << r.list.size2
        << ", \"count\": " << r.list.count << "}";
  out << ", \"progress\": {\"reports\": " << r.progress_reports
      << ", \"mandated_wait_ms\": " << (uint64_t)r.progress_reports * kReportWaitMs
      << ", \"expected_total\": " << r.list.expected << ", \"payload_total\": " << r.payload_total
      << ", \"final_percent\": " << r.final_percent << "}";
  if (r.complete) out << ", \"trailing_bytes\": " << r.trailing;
  out << ", \"warnings\": [";
  for (size_t i = 0; i < r.warnings.size(); ++i)
    out << (i ? ", " : "") << JsonString(r.warnings[i]);
  out << "]";
  if (r.failed)
    out << ", \"error\": {\"reason\": " << JsonString(r.reason)
        << ", \"message\": " << JsonString(r.message) << "}";
  out << pin << "}\n";
}

void PrintText(std::ostream& out, const std::string& arg, const PackageReport& r) {
  out << Printable(arg) << ": " << CountOf(r.file_size, "byte");
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
        << e.info.blocks[2] << " dynamic; " << CountOf(e.info.reports, "progress report") << "\n";
    if (e.status != ENTRY_OK) out << "  FAILED    " << EntryStatusText(e.status) << "\n";
  }
  if (r.list_read) {
    out << "progress: " << ReportsText(r.progress_reports) << "; expected total " << r.list.expected
        << " (line 8: " << r.list.size1 << ", line 9: " << r.list.size2 << "), payload total "
        << r.payload_total;
    if (r.complete) out << ": the bar ends at " << r.final_percent << " %";
    out << "\n";
  }
  if (r.complete) out << "after the last entry: " << CountOf(r.trailing, "byte") << "\n";
}

// What `list --against` adds for package `arg`: the stub's pin and whether `arg` is the pinned
// package, as a line of text or JSON members. Sets `code` to the check's exit status.
std::string PinListing(Console& console, const std::string& arg, const std::string& stub_name,
                       const StubPin& stub, bool json, int& code) {
  code = stub.present ? CheckAgainstPin(console, arg, stub_name, stub, true) : int(kExitOk);
  const bool matches = stub.present && code == kExitOk;
  if (json) {
    std::string s = ", \"pin\": {\"setup\": " + JsonString(stub_name);
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
    Bytes setup;
    if (int code = LoadStubPin(console, o.Get("against"), stub, setup)) return code;
  }
  const bool json = o.Has("json"), quiet = o.Has("quiet");
  if (quiet) console.err_is_terminal = false;
  int worst = kExitOk;
  for (const std::string& arg : o.operands) {
    InspectOptions options;
    options.keep_going = true;
    PackageReport report;
    int code = InspectFile(console, arg, options, report, "reading");
    const bool readable = code == kExitOk;
    std::string pin;
    if (readable) {
      int pin_code = kExitOk;
      if (o.Has("against")) pin = PinListing(console, arg, o.Get("against"), stub, json, pin_code);
      if (!quiet)
        for (const std::string& w : report.warnings) Warn(console, arg, w);
      if (report.failed) code = Fail(console, kExitInvalid, arg, report.reason);
      code = std::max(code, pin_code);
    }
    if (json) {
      PrintJson(console.out, arg, report, code, readable, pin);
    } else if (readable) {
      PrintText(console.out, arg, report);
      console.out << pin;
    }
    worst = std::max(worst, code);
  }
  return worst;
}

}  // namespace datapack
