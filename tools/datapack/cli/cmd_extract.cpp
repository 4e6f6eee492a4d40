// datapack extract: write every entry of a package into one folder.
#include <stdio.h>

#include "commands.h"
#include "format.h"
#include "package_walk.h"
#include "listfile.h"
#include "platform.h"
#include "tempfiles.h"

namespace datapack {

const char kExtractHelp[] =
    "Usage: datapack extract [-C DIR] [--force] [PACKAGE]\n"
    "Unpacks every entry of PACKAGE (default: _Data.001) into DIR under the name the\n"
    "bootstrapper gives it: <base name>.lst, the setup program, KQUninst.exe (into DIR too,\n"
    "not the Windows folder) and the support files. Each file gets its stored last access and\n"
    "last write times, and its attributes where the system has them: on Windows all of them,\n"
    "elsewhere read-only becomes a file without write permission. PACKAGE - reads\n"
    "standard input (a pipe is first copied to a temporary file, removed when done).\n"
    "\n"
    "  -C, --directory DIR  where to write (default: the current folder; created if missing)\n"
    "  -f, --force          replace files that already exist\n"
    "  -q, --quiet          print errors and warnings only (no progress line)\n"
    "\n"
    "Nothing is written when a file exists (without --force), a folder has the name of a\n"
    "file, a name is not a plain file name (folders, drive letters, \"..\", Windows device\n"
    "names) or a support file has the uninstaller's name. Every file is written under a\n"
    "temporary name in DIR (.datapack-*.tmp) and moved into place only when the whole\n"
    "package has been checked: if the bootstrapper would stop, or the run is interrupted\n"
    "(Ctrl-C, SIGTERM, SIGHUP), DIR is left as it was. If moving the files into place fails\n"
    "part way, those already moved are removed and the files they replaced put back, so\n"
    "that DIR is again as it was; folders the run made are removed again.\n"
    "Two names of one file (on Windows README.TXT and readme.txt, or \"trail.\" and \"trail\")\n"
    "give what setup.exe leaves: on Windows one file with the later entry's data, elsewhere\n"
    "both files; either way with a warning.\n"
    "Exit status: 0 done, 1 usage error, a file exists or a folder has a file's name, 2\n"
    "invalid package or unsafe name, 3 I/O error.\n";

namespace {

// Names that may be joined to DIR: plain names only, so that nothing lands outside it,
// and no device names, which Windows opens as devices in any folder.
bool SafeName(const std::string& name, std::string& why) {
  if (IsDeviceName(name)) {  // first: the plain-name rule refuses most of them too
    why = "a Windows device name";
    return false;
  }
  if (!IsPlainFileName(name.c_str())) {
    why = "not a plain file name";
    return false;
  }
  for (unsigned char c : name)
    if (c < 0x20) {
      why = "holds a control character";
      return false;
    }
  return true;
}

// One extraction into `dir`: every file is written under a temporary name in `dir` and moved
// into place only once the whole package has been read and found good, so that a failed or
// interrupted run leaves `dir` as it was (an interrupt removes the temporaries).
class Extraction {
 public:
  Extraction(Console& console, const fs::path& dir, bool force)
      : console_(console), dir_(dir), force_(force), temps_(dir) {}
  ~Extraction() {
    if (current_) fclose(current_);
  }

  // Before anything is written: every name must be safe, and every target free (or, with
  // --force, a file that may be replaced).
  bool CheckTargets(const std::vector<std::string>& names, int& code, std::string& why);
  // One entry's file; each step returns false with the exit status in `code` and `why`.
  bool Start(const std::string& name, int& code, std::string& why);
  bool Write(const unsigned char* data, uint32_t size, int& code, std::string& why);
  bool Finish(const EntryReport& e, int& code, std::string& why);
  // Moves every finished file into place. Returns kExitOk, or the exit status with `why`.
  int Commit(std::string& why);
  size_t files() const { return files_.size(); }

 private:
  struct File {
    std::string name;  // as the package gives it
    fs::path target;   // the final name
    fs::path temp;     // where it is written
  };
  // Puts back what Commit moved before it failed: the first `moved` files are removed and
  // the files they replaced (`aside`, empty where none) return. Returns false when some
  // could not be restored.
  bool Restore(size_t moved, const std::vector<fs::path>& aside);
  Console& console_;
  fs::path dir_;
  bool force_;
  TempSeries temps_;
  std::vector<File> files_;  // one per distinct name, in package order
  FILE* current_ = nullptr;  // the file being written: files_.back() or a repeated name's
  std::string current_name_;
  fs::path current_temp_, current_target_;
};

bool Extraction::CheckTargets(const std::vector<std::string>& names, int& code, std::string& why) {
  std::error_code ec;
  for (const std::string& name : names) {
    std::string reason;
    if (!SafeName(name, reason)) {
      code = kExitInvalid;
      why = "refusing the name \"" + name + "\": " + reason;
      return false;
    }
    const fs::path t = dir_ / PathFromListName(name);
    const fs::file_status status = fs::symlink_status(t, ec);
    if (!fs::exists(status)) continue;
    if (fs::is_directory(status)) {
      code = kExitUsage;  // as create and brand refuse an output that is a folder
      why = DisplayPath(t) + ": is a folder (a file of that name cannot be written)";
      return false;
    }
    if (!force_) {
      code = kExitUsage;
      why = DisplayPath(t) + ": already exists (--force replaces it)";
      return false;
    }
  }
  return true;
}

bool Extraction::Start(const std::string& name, int& code, std::string& why) {
  current_name_ = name;
  current_target_ = dir_ / PathFromListName(name);
  current_ = temps_.Create(current_temp_, why);
  if (current_) return true;
  code = kExitIo;
  why = DisplayPath(dir_) + ": cannot create a temporary file: " + why;
  return false;
}

bool Extraction::Write(const unsigned char* data, uint32_t size, int& code, std::string& why) {
  if (fwrite(data, 1, size, current_) == size) return true;
  code = kExitIo;
  why = DisplayPath(current_target_) + ": " + ErrnoText();
  return false;
}

bool Extraction::Finish(const EntryReport& e, int& code, std::string& why) {
  const bool closed = fclose(current_) == 0;
  current_ = nullptr;
  if (!closed) {
    code = kExitIo;
    why = DisplayPath(current_target_) + ": " + ErrnoText();
    return false;
  }
  if (e.status != ENTRY_OK) return true;  // the walk reports the failure
  std::string problem;
  if (e.has_header && !ApplyFileHeader(current_temp_, e.header.attributes, e.header.created,
                                       e.header.accessed, e.header.written, problem))
    Warn(console_, DisplayPath(current_target_), problem);
  // Two names of one file on this system (a name given twice; on Windows also README.TXT and
  // readme.txt, or "trail." and "trail"): as the bootstrapper does, the later entry replaces
  // the earlier file, which keeps its first spelling.
  for (File& f : files_)
    if (SameFileName(f.name, current_name_)) {
      std::string ignored;
      RemoveFile(f.temp, ignored);
      f.temp = current_temp_;
      if (f.name != current_name_)
        Warn(console_, DisplayPath(f.target),
             "replaced by \"" + current_name_ + "\", entry " + std::to_string(e.index) +
                 ": one file on this system, as it is to setup.exe");
      return true;
    }
  for (const File& f : files_)
    if (SameWindowsName(f.name.c_str(), current_name_.c_str()))
      Warn(console_, DisplayPath(current_target_),
           "written beside \"" + f.name +
               "\": on Windows the two are one file, and setup.exe "
               "leaves only the later entry's data");
  files_.push_back({current_name_, current_target_, current_temp_});
  return true;
}

int Extraction::Commit(std::string& why) {
  // A file replaced with --force is first moved aside under a temporary name (removed with
  // the series when all went well), so that a failure part way can put it back.
  std::vector<fs::path> aside;
  for (const File& f : files_) {
    bool exists = false;
    std::string error;
    fs::path old;
    std::error_code ec;
    if (force_ && fs::exists(fs::symlink_status(f.target, ec))) {
      FILE* placeholder = temps_.Create(old, error);
      if (placeholder) fclose(placeholder);
      if (!placeholder || !MoveIntoPlace(f.target, old, true, exists, error)) {
        why = DisplayPath(f.target) + ": cannot move the old file aside: " + error;
        old.clear();
      }
    }
    const bool ready = why.empty();
    if (ready && MoveIntoPlace(f.temp, f.target, false, exists, error)) {
      aside.push_back(old);
      continue;
    }
    if (ready) why = DisplayPath(f.target) + ": " + (exists ? "appeared meanwhile" : error);
    aside.push_back(old);
    const bool restored = Restore(aside.size() - 1, aside);
    why += restored ? " (nothing was changed)"
                    : " (and the folder could not be restored: see the warnings above)";
    return exists ? kExitUsage : kExitIo;
  }
  return kExitOk;
}

bool Extraction::Restore(size_t moved, const std::vector<fs::path>& aside) {
  bool all = true;
  for (size_t i = aside.size(); i-- > 0;) {
    const File& f = files_[i];
    std::string error;
    bool exists = false;
    if (i < moved && !RemoveFile(f.target, error)) {
      Warn(console_, DisplayPath(f.target), "cannot remove it again: " + error);
      all = false;
      continue;
    }
    if (!aside[i].empty() && !MoveIntoPlace(aside[i], f.target, false, exists, error)) {
      Warn(console_, DisplayPath(f.target),
           "cannot put the old file back: it is " + DisplayPath(aside[i]) + ": " + error);
      temps_.Keep(aside[i]);
      all = false;
    }
  }
  return all;
}

// The folders -C names that do not exist yet, deepest first. A run that fails or is
// interrupted removes them again (each only while empty), so that it leaves no trace.
class MadeFolders {
 public:
  explicit MadeFolders(const fs::path& dir) {
    std::error_code ec;
    for (fs::path p = dir; !p.empty() && !fs::exists(fs::symlink_status(p, ec));
         p = p.parent_path()) {
      paths_.push_back(p);
      if (p == p.parent_path()) break;
    }
    RemoveFoldersOnInterrupt(paths_);
  }
  ~MadeFolders() {
    RemoveFoldersOnInterrupt({});
    std::error_code ec;
    for (const fs::path& p : paths_) fs::remove(p, ec);
  }
  void Keep() {
    RemoveFoldersOnInterrupt({});
    paths_.clear();
  }

 private:
  std::vector<fs::path> paths_;
};

}  // namespace

int CommandExtract(const std::vector<std::string>& args, Console& console) {
  static const std::vector<OptionSpec> kSpecs = {
      {"directory", 'C', true}, {"force", 'f', false}, {"quiet", 'q', false}};
  Options o;
  std::string error;
  if (!ParseOptions(args, kSpecs, o, error)) return UsageError(console, "extract", error);
  if (o.operands.size() > 1) return UsageError(console, "extract", "one package at a time");
  if (o.Has("directory") && o.Get("directory").empty())
    return UsageError(console, "extract", "the folder name after -C is empty");
  const std::string arg = o.operands.empty() ? PACKAGE_FILE_NAME : o.operands[0];
  if (o.Has("quiet")) console.err_is_terminal = false;  // no progress line either
  const fs::path dir = PathFromNative(o.Get("directory", "."));
  MadeFolders made(dir);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return Fail(console, kExitIo, DisplayPath(dir), ec.message());
  RemoveStaleTemporaries(dir);

  PackageReport report;
  Extraction x(console, dir, o.Has("force"));
  int refusal = kExitOk;  // why a callback stopped the walk
  InspectOptions options;
  options.on_start = [&](const EntryReport& e, std::string& out) -> bool {
    if (e.role == ROLE_LIST) {
      // The list names every file: refuse before writing the first one.
      if (const ListIssue* issue = report.list.Failure()) {
        refusal = kExitInvalid;
        out = "refusing list " + IssueText(*issue);
        return false;
      }
      if (const uint32_t line = UninstallerNameLine(report.list)) {
        refusal = kExitInvalid;
        out = "refusing the support file \"" + report.list.names[line - LIST_FIRST_NAME_LINE] +
              "\" (list line " + std::to_string(line) + "): it would replace the uninstaller " +
              UNINSTALLER_NAME + " in one folder";
        return false;
      }
      std::vector<std::string> names = {
          e.name, std::string(ProgramStem(report.base_name.c_str())) + PROGRAM_SUFFIX,
          UNINSTALLER_NAME};
      names.insert(names.end(), report.list.names.begin(), report.list.names.end());
      if (!x.CheckTargets(names, refusal, out)) return false;
    }
    return x.Start(e.name, refusal, out);
  };
  options.on_data = [&](const unsigned char* data, uint32_t size, std::string& out) {
    return x.Write(data, size, refusal, out);
  };
  options.on_done = [&](const EntryReport& e, std::string& out) {
    return x.Finish(e, refusal, out);
  };
  int code = InspectFile(console, arg, options, report, "extracting");
  if (code != kExitOk) return code;
  if (refusal != kExitOk) return Fail(console, refusal, arg, report.reason);
  if (report.failed) return Fail(console, kExitInvalid, arg, report.reason);
  code = x.Commit(error);
  if (code != kExitOk) return Fail(console, code, arg, error);
  made.Keep();
  for (const std::string& w : report.warnings) Warn(console, arg, w);
  if (!o.Has("quiet"))
    console.out << arg << ": " << CountOf(x.files(), "file") << " extracted into "
                << DisplayPath(dir) << "\n";
  return kExitOk;
}

}  // namespace datapack
