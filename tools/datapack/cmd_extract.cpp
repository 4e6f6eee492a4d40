// datapack extract: write every entry of a package into one folder.
#include <stdio.h>

#include <algorithm>

#include "commands.h"
#include "format.h"
#include "inspect.h"
#include "listfile.h"
#include "platform.h"

namespace datapack {

const char kExtractHelp[] =
    "Usage: datapack extract [-C DIR] [--force] [PACKAGE]\n"
    "Unpacks every entry of PACKAGE (default: _Data.001) into DIR under the name the\n"
    "bootstrapper gives it: <base name>.lst, the setup program, KQUninst.exe (into DIR too,\n"
    "not the Windows folder) and the support files. Each file gets its stored last access and\n"
    "last write times, and its attributes where the system has them: on Windows all of them,\n"
    "elsewhere read-only becomes a file without write permission.\n"
    "\n"
    "  -C, --directory DIR  where to write (default: the current folder; created if missing)\n"
    "  -f, --force          replace files that already exist\n"
    "  -q, --quiet          print errors and warnings only\n"
    "\n"
    "Nothing is written when a file exists (without --force) or when a name is not a plain\n"
    "file name (folders, drive letters, \"..\", Windows device names). The package is checked\n"
    "as it is unpacked; if the bootstrapper would stop, the files written so far are removed.\n"
    "Exit status: 0 done, 1 usage error or a file exists, 2 invalid package or unsafe name,\n"
    "3 I/O error.\n";

namespace {

// Names that may be joined to DIR: plain names only, so that nothing lands outside it,
// and no device names, which Windows opens as devices in any folder.
bool SafeName(const std::string& name, std::string& why) {
  if (!IsPlainFileName(name.c_str())) {
    why = "not a plain file name";
    return false;
  }
  if (IsDeviceName(name)) {
    why = "a Windows device name";
    return false;
  }
  for (unsigned char c : name)
    if (c < 0x20) {
      why = "holds a control character";
      return false;
    }
  return true;
}

}  // namespace

int CommandExtract(const std::vector<std::string>& args, Console& console) {
  static const std::vector<OptionSpec> kSpecs = {
      {"directory", 'C', true}, {"force", 'f', false}, {"quiet", 'q', false}};
  Options o;
  std::string error;
  if (!ParseOptions(args, kSpecs, o, error)) return UsageError(console, "extract", error);
  if (o.operands.size() > 1) return UsageError(console, "extract", "one package at a time");
  const std::string arg = o.operands.empty() ? PACKAGE_FILE_NAME : o.operands[0];
  const fs::path dir = PathFromNative(o.Get("directory", "."));
  const bool force = o.Has("force");
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return Fail(console, kExitIo, DisplayPath(dir), ec.message());

  PackageReport report;
  std::vector<fs::path> written;  // in this run, removed again if the run fails
  int refusal = kExitOk;          // why a callback stopped the walk
  auto stop = [&](int code, const std::string& why, std::string& out) {
    refusal = code;
    out = why;
    return false;
  };
  // Each file is written as its entry inflates, so that memory stays flat whatever the
  // sizes; if the package turns out broken, everything written is removed below.
  FILE* current = nullptr;  // the file being written
  fs::path target;
  InspectOptions options;
  options.on_start = [&](const EntryReport& e, std::string& out) -> bool {
    if (e.role == Role::kList) {
      // The list names every file: refuse before writing the first one.
      std::vector<std::string> names = {
          e.name, std::string(ProgramStem(report.base_name.c_str())) + PROGRAM_SUFFIX,
          UNINSTALLER_NAME};
      names.insert(names.end(), report.list.names.begin(), report.list.names.end());
      if (const ListIssue* issue = report.list.Failure())
        return stop(kExitInvalid, "refusing list " + IssueText(*issue), out);
      for (const std::string& name : names) {
        std::string why;
        if (!SafeName(name, why))
          return stop(kExitInvalid, "refusing the name \"" + name + "\": " + why, out);
        const fs::path t = dir / PathFromNative(name);
        if (!force && fs::exists(fs::symlink_status(t, ec)))
          return stop(kExitUsage, DisplayPath(t) + ": already exists (--force replaces it)", out);
      }
    }
    target = dir / PathFromNative(e.name);
    const std::string shown = DisplayPath(target);
    const fs::file_status status = fs::symlink_status(target, ec);
    if (fs::exists(status)) {
      // A name given twice is unpacked twice, the later entry replacing the earlier file.
      bool ours = std::find(written.begin(), written.end(), target) != written.end();
      if (!force && !ours) return stop(kExitUsage, shown + ": already exists", out);
      if (fs::is_directory(status)) return stop(kExitIo, shown + ": is a folder", out);
      std::string why;
      if (!RemoveFile(target, why)) return stop(kExitIo, shown + ": cannot replace: " + why, out);
      written.erase(std::remove(written.begin(), written.end(), target), written.end());
    }
    std::string why;
    current = CreateNewFile(target, why);
    if (!current) return stop(kExitIo, shown + ": " + why, out);
    written.push_back(target);
    return true;
  };
  options.on_data = [&](const unsigned char* data, uint32_t size, std::string& out) -> bool {
    if (fwrite(data, 1, size, current) == size) return true;
    return stop(kExitIo, DisplayPath(target) + ": write failed", out);
  };
  options.on_done = [&](const EntryReport& e, std::string& out) -> bool {
    const bool closed = fclose(current) == 0;
    current = nullptr;
    if (!closed) return stop(kExitIo, DisplayPath(target) + ": write failed", out);
    std::string why;
    if (e.status == ENTRY_OK && e.has_header &&
        !ApplyFileHeader(target, e.header.attributes, e.header.created, e.header.accessed,
                         e.header.written, why))
      Warn(console, DisplayPath(target), why);
    return true;
  };
  int code = InspectFile(console, arg, options, report, "extracting");
  if (code == kExitOk && !report.failed && refusal == kExitOk) {
    for (const std::string& w : report.warnings) Warn(console, arg, w);
    if (!o.Has("quiet"))
      console.out << arg << ": " << written.size() << " files extracted into " << DisplayPath(dir)
                  << "\n";
    return kExitOk;
  }
  for (const fs::path& p : written) {
    std::string ignored;
    RemoveFile(p, ignored);
  }
  const std::string undone = written.empty() ? "" : " (the files written were removed)";
  if (code != kExitOk) return code;
  if (refusal != kExitOk) return Fail(console, refusal, arg, report.reason + undone);
  return Fail(console, kExitInvalid, arg, report.reason + undone);
}

}  // namespace datapack
