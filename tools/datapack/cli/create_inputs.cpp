#include "create_inputs.h"

#include <ctype.h>
#include <stdio.h>

#include <algorithm>

#include "entrylimit.h"
#include "listfile.h"
#include "package_walk.h"  // RoleName

namespace datapack {
namespace create {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

// For a support file that is not in `folder` under its exact name: a file whose name differs
// only in case, which Windows would have found, as a hint for the error message.
// A name with bytes above 0x7F gets the rule instead: the same words on Linux and Windows.
std::string CaseHint(const fs::path& folder, const std::string& name) {
  if (std::any_of(name.begin(), name.end(), [](unsigned char c) { return c > 0x7F; }))
    return "; list names are read in the ANSI code page, as setup.exe reads them (on Linux "
           "Windows-1252): a list saved as UTF-8 names other files";
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string found = DisplayPath(it->path().filename());
    if (found == name) return "; it is a symbolic link to a missing file";
    if (Lower(found) == Lower(name))
      return "; there is \"" + found + "\": names are matched exactly, case included";
  }
  return "";
}

// Warns about a setup program or uninstaller that cannot be a Windows program: empty, or
// without the "MZ" that starts every one.
void WarnIfNotAProgram(Console& console, const std::string& shown, const fs::path& path,
                       uint64_t size) {
  if (size == 0) return Warn(console, shown, "is empty: the bootstrapper cannot start it");
  std::string error;
  FILE* f = OpenRead(path, error);
  if (!f) return;
  char magic[2] = {0, 0};
  const bool program = fread(magic, 1, 2, f) == 2 && magic[0] == 'M' && magic[1] == 'Z';
  fclose(f);
  if (!program) Warn(console, shown, "does not start with \"MZ\": not a Windows program");
}

// Warns about list contents that pack but surprise: bytes outside ASCII, and sizes whose sum
// wraps past 4 GiB.
void WarnAboutList(Console& console, const std::string& list_arg,
                   const std::vector<unsigned char>& data, const ListCheck& check) {
  for (size_t i = 0, line = 1; i < data.size(); ++i) {
    if (data[i] == '\n') ++line;
    if (data[i] < 0x80) continue;
    Warn(console, list_arg,
         "line " + std::to_string(line) +
             ": bytes above 0x7F: the bootstrapper reads them in the "
             "ANSI code page of the Windows it runs on");
    break;
  }
  if ((uint64_t)check.size1 + check.size2 > UINT32_MAX)
    Warn(console, list_arg,
         "lines 8 + 9 add up past 4 GiB (the sum wraps to " + std::to_string(check.expected) +
             "): the bootstrapper's free-space check is wrong too, not only its bar");
}

// Warns about support names the bootstrapper cuts at a space: it keeps only what comes before
// the first space of the value's second field, so "read me.txt" packs and unpacks as "read".
// Spaces at the end of the field only are left alone: nothing is lost there.
void WarnAboutCutNames(Console& console, const std::string& list_arg,
                       const std::vector<unsigned char>& data, const ListCheck& check) {
  const std::vector<ListLineSpan> lines = SplitListLines(data.data(), data.size());
  for (size_t i = 0; i < check.names.size(); ++i) {
    const size_t index = LIST_FIRST_NAME_LINE - 1 + i;
    if (index >= lines.size()) break;
    const std::string line(data.begin() + (long)lines[index].begin,
                           data.begin() + (long)lines[index].end);
    const size_t equals = line.find('=');
    if (equals == std::string::npos || line.size() - equals > LIST_BUFFER_SIZE) continue;
    char rest[LIST_BUFFER_SIZE], field[LIST_FIELD_SIZE];
    snprintf(rest, sizeof rest, "%s", line.c_str() + equals + 1);
    if (!SplitField(field, rest) || !SplitField(field, rest)) continue;
    const std::string text = field;
    const size_t space = text.find(' ');
    if (space == std::string::npos || text.find_first_not_of(' ', space) == std::string::npos)
      continue;
    Warn(console, list_arg,
         "line " + std::to_string(index + 1) + ": the name field \"" + text +
             "\" is cut at its first space: the file packed and unpacked is \"" + check.names[i] +
             "\"");
  }
}

}  // namespace

bool ParseKind(const std::string& text, int& kind) {
  for (int k = KIND_INSTAL; k <= KIND_INSTALAR; ++k) {
    if (Lower(text) == Lower(BaseNameForKind(k)) || text == std::to_string(k)) {
      kind = k;
      return true;
    }
  }
  return false;
}

// Reads a whole file of `size` bytes, checking it did not change size meanwhile.
bool ReadSource(const fs::path& path, uint64_t size, std::vector<unsigned char>& data,
                std::string& error) {
  FILE* f = OpenRead(path, error);
  if (!f) return false;
  data.resize((size_t)size);
  size_t got = size ? fread(data.data(), 1, (size_t)size, f) : 0;
  bool ok = true;
  if (ferror(f)) {
    error = ErrnoText();
    ok = false;
  } else if (got != size || fgetc(f) != EOF) {
    error = "changed size while being packed";
    ok = false;
  }
  fclose(f);
  return ok;
}

void TakeHeader(Input& in, bool fixed, uint64_t epoch_time) {
  in.file.attributes = in.st.read_only ? kAttrReadOnly : kAttrArchive;
  in.file.created = fixed ? epoch_time : in.st.created;
  in.file.accessed = fixed ? epoch_time : in.st.accessed;
  in.file.written = fixed ? epoch_time : in.st.written;
}

// Reads the list and checks it as the bootstrapper will read it: failures refuse, surprises
// warn.
int ReadList(Console& console, const CreateRequest& req, Contents& c) {
  c.base = BaseNameForKind(req.kind);
  c.list_name = c.base + LIST_SUFFIX;
  c.setup_name = std::string(ProgramStem(c.base.c_str())) + PROGRAM_SUFFIX;
  Input& list = c.list;
  list.path = req.list_path;
  std::string error;
  if (!StatSource(list.path, list.st, error))
    return Fail(console, kExitIo, "list file " + req.list_arg, error);
  if (!list.st.regular)
    return Fail(console, kExitIo, "list file " + req.list_arg, "not a regular file");
  if (!ReadSource(list.path, list.st.size, list.file.data, error))
    return Fail(console, kExitIo, req.list_arg, error);
  list.file.name = c.list_name;
  c.check = CheckList(list.file.data.data(), list.file.data.size(), c.list_name, c.setup_name);
  for (const ListIssue& issue : c.check.issues) {
    if (issue.severity == Severity::kWarn)
      Warn(console, req.list_arg, IssueText(issue));
    else
      Fail(console, kExitInvalid, req.list_arg, IssueText(issue));
  }
  if (c.check.Refused()) return kExitInvalid;
  if (const uint32_t line = UninstallerNameLine(c.check))
    Warn(console, req.list_arg,
         "line " + std::to_string(line) + ": support file \"" +
             c.check.names[line - LIST_FIRST_NAME_LINE] + "\" has the uninstaller's name: " +
             "the bootstrapper keeps both, but 'datapack extract' refuses the package");
  WarnAboutCutNames(console, req.list_arg, list.file.data, c.check);
  WarnAboutList(console, req.list_arg, list.file.data, c.check);
  return kExitOk;
}

// Finds and examines every file in package order: each must exist, be a regular file and fit
// an entry.
int GatherInputs(Console& console, const CreateRequest& req, Contents& c) {
  // The entries after the list, in package order (EntryRoleAt).
  c.inputs.resize(FIXED_ENTRIES - 1);
  for (uint32_t index = 1; index < FIXED_ENTRIES; ++index) {
    Input& in = c.inputs[index - 1];
    in.role = EntryRoleAt(index);
    const bool setup = in.role == ROLE_SETUP_PROGRAM;
    in.path = setup ? req.setup : req.uninstaller;
    in.file.name = setup ? c.setup_name : std::string(UNINSTALLER_NAME);
  }
  for (size_t i = 0; i < c.check.names.size(); ++i) {
    Input in;
    in.file.name = c.check.names[i];
    in.path = req.folder / PathFromListName(c.check.names[i]);
    in.list_line = (uint32_t)(LIST_FIRST_NAME_LINE + i);
    c.inputs.push_back(in);
  }
  c.source_total = c.list.st.size;
  std::string error;
  for (Input& in : c.inputs) {
    // "setup program Setup1.exe: No such file or directory": which role the file plays.
    // A support file is shown by the list's own bytes, the same on Linux and Windows.
    const std::string shown = in.list_line
                                  ? DisplayPath(req.folder / PathFromNative(in.file.name))
                                  : std::string(RoleName(in.role)) + " " + DisplayPath(in.path);
    auto named = [&](const std::string& hint) {
      return in.list_line ? " (named on list line " + std::to_string(in.list_line) + hint + ")"
                          : "";
    };
    if (!StatSource(in.path, in.st, error))
      return Fail(console, kExitIo, shown,
                  error + named(in.list_line ? CaseHint(req.folder, in.file.name) : ""));
    if (!in.st.regular) return Fail(console, kExitIo, shown, "not a regular file" + named(""));
    const std::string too_large = EntrySizeRefusal(0, FILE_HEADER_SIZE + in.st.size);
    if (!too_large.empty()) return Fail(console, kExitInvalid, shown, too_large);
    if (!in.list_line) WarnIfNotAProgram(console, shown, in.path, in.st.size);
    c.payload_total += FILE_HEADER_SIZE + in.st.size;
    c.source_total += in.st.size;
  }
  return kExitOk;
}

// Lines 8 + 9 against the payload total: rewritten in the packed list with --fix-sizes,
// otherwise warned about.
int SettleSizes(Console& console, const CreateRequest& req, Contents& c) {
  const std::string mismatch = SizeMismatchText(c.check.expected, c.payload_total);
  if (mismatch.empty()) return kExitOk;
  if (!req.fix_sizes) {
    Warn(console, req.list_arg, mismatch + " (--fix-sizes rewrites them)");
    return kExitOk;
  }
  if (c.payload_total > UINT32_MAX)
    return Fail(console, kExitInvalid, req.list_arg,
                "the payload total " + std::to_string(c.payload_total) +
                    " does not fit the list's 32-bit sizes");
  std::vector<unsigned char>& data = c.list.file.data;
  std::string error;
  if (!RewriteListSizes(data, (uint32_t)c.payload_total, 0, error))
    return Fail(console, kExitInvalid, req.list_arg, error);
  ListCheck again = CheckList(data.data(), data.size(), c.list_name, c.setup_name);
  if (again.Refused() || again.expected != c.payload_total)
    return Fail(console, kExitInvalid, req.list_arg,
                "rewriting lines 8 and 9 makes the list unreadable" +
                    (again.Failure() ? ": " + IssueText(*again.Failure()) : std::string()));
  if (!req.quiet)
    console.err << "datapack: " << req.list_arg << ": lines 8 and 9 set to " << c.payload_total
                << " and 0 in the package\n";
  return kExitOk;
}

}  // namespace create
}  // namespace datapack
