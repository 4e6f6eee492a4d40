#include "listcheck.h"

#include <string.h>

#include <algorithm>

#include "bytereader.h"
#include "format.h"
#include "listfile.h"
#include "progress.h"

namespace datapack {

namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Why the core's reader refused line `n`, in the words of someone fixing the list.
std::string DescribeFailure(int error, uint32_t n, const unsigned char* data,
                            const std::vector<ListLineSpan>& lines) {
  const ListLineSpan* l = n >= 1 && n <= lines.size() ? &lines[n - 1] : nullptr;
  switch (error) {
    case LIST_UNREADABLE_LINE:
      if (!l)
        return "the list ends before this line (it has " + std::to_string(lines.size()) + " lines)";
      if (l->end - l->begin > LIST_LINE_MAX)
        return "longer than " + std::to_string(LIST_LINE_MAX) + " characters (" +
               std::to_string(l->end - l->begin) + ")";
      if (!l->terminated) return "no line ending (the last line must end with CR or LF)";
      return ListErrorText(error);
    case LIST_NO_EQUALS:
      if (l && l->begin == l->end) return "empty line: every line read must hold \"=\"";
      return "no \"=\" in the line";
    case LIST_ZERO_COUNT: return "the number of support files reads as 0";
    case LIST_BAD_NAME: {
      if (!l) break;
      // The core's own steps again on the line it refused, which it read with its "=".
      char rest[LIST_BUFFER_SIZE], field[LIST_FIELD_SIZE];
      MemoryReader m;
      ByteReader r;
      InitMemoryReader(&m, &r, data + l->begin, l->next - l->begin);
      ReadListValue(&r, rest);
      if (!SplitField(field, rest))
        return "the first field is longer than " + std::to_string(LIST_FIELD_MAX) + " characters";
      if (!SplitField(field, rest))
        return "the file name field is longer than " + std::to_string(LIST_FIELD_MAX) +
               " characters";
      const std::string name(field, strcspn(field, " "));
      if (name.size() > SUPPORT_NAME_MAX)
        return "file name " + Quote(name) + " is longer than " + std::to_string(SUPPORT_NAME_MAX) +
               " characters";
      if (::IsDeviceName(name.c_str()))
        return "file name " + Quote(name) + " is a Windows device name";
      return "file name " + Quote(name) +
             " is not a plain file name (it holds \\, / or :, or is . or ..)";
    }
    default: break;
  }
  return ListErrorText(error);
}

}  // namespace

bool ListCheck::Refused() const {
  return std::any_of(issues.begin(), issues.end(),
                     [](const ListIssue& i) { return i.severity != Severity::kWarn; });
}

const ListIssue* ListCheck::Failure() const {
  auto it = std::find_if(issues.begin(), issues.end(),
                         [](const ListIssue& i) { return i.severity == Severity::kFail; });
  return it == issues.end() ? nullptr : &*it;
}

std::vector<ListLineSpan> SplitListLines(const unsigned char* data, size_t size) {
  std::vector<ListLineSpan> lines;
  size_t pos = 0;
  while (pos < size) {
    size_t begin = pos;
    while (pos < size && data[pos] != '\r' && data[pos] != '\n') ++pos;
    if (pos == size) {
      lines.push_back({begin, pos, pos, false});
      break;
    }
    size_t end = pos;
    unsigned char partner = data[pos] == '\r' ? '\n' : '\r';
    ++pos;
    if (pos < size && data[pos] == partner) ++pos;
    lines.push_back({begin, end, pos, true});
  }
  return lines;
}

bool IsDeviceName(const std::string& name) { return ::IsDeviceName(name.c_str()) != 0; }

ListCheck CheckList(const unsigned char* data, size_t size, const std::string& list_name,
                    const std::string& setup_program) {
  ListCheck c;
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, data, size);
  ListReader l;
  StartListReader(&l, &r);
  // The bootstrapper's own steps, without its disk check and file table between them.
  int error = ReadListSizes(&l);
  if (error == LIST_OK) {
    error = ReadListCount(&l);
    if (error == LIST_OK || error == LIST_ZERO_COUNT) c.expected = l.expected;
  }
  c.size1 = l.size1;
  c.size2 = l.size2;
  c.count = l.count;
  for (uint32_t i = 0; error == LIST_OK && i < l.slots; ++i) {
    char slot[SUPPORT_SLOT_SIZE];
    error = ReadListName(&l, slot);
    if (error == LIST_OK) c.names.push_back(slot);
  }
  if (error != LIST_OK) {
    c.names.clear();
    c.issues.push_back({Severity::kFail, l.line,
                        DescribeFailure(error, l.line, data, SplitListLines(data, size))});
    return c;
  }
  c.readable = true;

  if (c.count < 0)
    c.issues.push_back({Severity::kWarn, LIST_COUNT_LINE,
                        "the number of support files is negative (" + std::to_string(c.count) +
                            "): no support file is unpacked"});
  for (size_t i = 0; i < c.names.size(); ++i) {
    const std::string& name = c.names[i];
    const uint32_t line = (uint32_t)(LIST_FIRST_NAME_LINE + i);
    if (name.empty()) {
      c.issues.push_back({Severity::kFail, line,
                          "no file name (the value's second comma-separated field is empty or "
                          "missing): the file would be created as "
                          "the working folder itself"});
      break;
    }
    // Characters CreateFileA refuses in a file name, so that unpacking fails.
    if (std::any_of(name.begin(), name.end(),
                    [](unsigned char c) { return c < 0x20 || strchr("<>\"|?*", c); })) {
      c.issues.push_back(
          {Severity::kFail, line,
           "file name " + Quote(name) + " holds a character Windows does not allow in file names"});
      break;
    }
    if (name.back() == '.')
      c.issues.push_back(
          {Severity::kWarn, line, "Windows drops the trailing dot of " + Quote(name)});
    if (SameWindowsName(name.c_str(), setup_program.c_str()))
      c.issues.push_back({Severity::kRefuse, line,
                          "support file " + Quote(name) + " would replace the setup program"});
    if (SameWindowsName(name.c_str(), list_name.c_str()))
      c.issues.push_back({Severity::kWarn, line,
                          "support file " + Quote(name) + " replaces the unpacked list file"});
    for (size_t j = 0; j < i; ++j)
      if (SameWindowsName(c.names[j].c_str(), name.c_str())) {
        const std::string earlier = std::to_string(LIST_FIRST_NAME_LINE + j);
        c.issues.push_back({Severity::kRefuse, line,
                            Quote(name) + " is the same file on Windows as " + Quote(c.names[j]) +
                                " on line " + earlier +
                                ": setup.exe unpacks this entry over the file of line " + earlier +
                                ", and its clean-up deletes that name twice"});
        break;
      }
  }
  return c;
}

std::string IssueText(const ListIssue& issue) {
  if (issue.line == 0) return issue.text;
  return "line " + std::to_string(issue.line) + ": " + issue.text;
}

std::string SizeMismatchText(uint32_t expected, uint64_t payload_total) {
  if (payload_total == expected) return "";
  std::string text = "list lines 8 + 9 give " + CountOf(expected, "byte") +
                     " but the entries after the list hold " +
                     CountOf(payload_total, "payload byte") + ": ";
  if (expected == 0)
    text += "the progress bar shows 100 % from the start";
  else if (payload_total < expected)
    text += "the progress bar would stop at " + std::to_string(PercentOf(payload_total, expected)) +
            " %";
  else
    text += "the progress bar would reach 100 % before the last file is unpacked";
  if (payload_total > UINT32_MAX) text += " (the total does not fit the list's 32-bit sizes)";
  return text;
}

bool RewriteListSizes(std::vector<unsigned char>& list, uint32_t size1, uint32_t size2,
                      std::string& error) {
  std::vector<ListLineSpan> lines = SplitListLines(list.data(), list.size());
  const uint32_t wanted[2] = {size1, size2};
  std::vector<unsigned char> out;
  size_t copied = 0;
  for (int k = 0; k < 2; ++k) {
    const uint32_t n = LIST_FIRST_SIZE_LINE + k;
    if (lines.size() < n || !lines[n - 1].terminated) {
      error = "line " + std::to_string(n) + " is missing or has no line ending";
      return false;
    }
    const ListLineSpan& l = lines[n - 1];
    const unsigned char* eq = std::find(list.data() + l.begin, list.data() + l.end, '=');
    if (eq == list.data() + l.end) {
      error = "line " + std::to_string(n) + " has no \"=\"";
      return false;
    }
    const size_t value_at = (size_t)(eq - list.data()) + 1;
    out.insert(out.end(), list.begin() + copied, list.begin() + value_at);
    const std::string number = std::to_string(wanted[k]);
    out.insert(out.end(), number.begin(), number.end());
    copied = l.end;  // the line ending and what follows are kept as they are
  }
  out.insert(out.end(), list.begin() + copied, list.end());
  list.swap(out);
  return true;
}

uint32_t UninstallerNameLine(const ListCheck& check) {
  for (size_t i = 0; i < check.names.size(); ++i)
    if (SameWindowsName(check.names[i].c_str(), UNINSTALLER_NAME))
      return (uint32_t)(LIST_FIRST_NAME_LINE + i);
  return 0;
}

std::string CountOf(uint64_t count, const std::string& unit) {
  return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

}  // namespace datapack
