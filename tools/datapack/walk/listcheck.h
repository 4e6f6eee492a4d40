// Checking a list file the way the bootstrapper will read it, before it is packed (create)
// and after it has been unpacked (verify, list), and rewriting its two sizes.
//
// The bootstrapper reads lines 1..10 and then one line per support file; a line it cannot
// read, a line without "=", a count of 0 or a name it cannot use stops it. Those failures are
// found by taking the steps of the package core's list reader that setup.exe takes; this file
// adds the line-precise reasons and the things that do not stop the bootstrapper but break
// the installation.
#ifndef DATAPACK_LISTCHECK_H
#define DATAPACK_LISTCHECK_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace datapack {

enum class Severity {
  kFail,    // the bootstrapper stops with a message: create refuses, verify fails
  kRefuse,  // the bootstrapper goes on but the installation breaks: create refuses,
            // verify warns
  kWarn     // worth knowing: both warn
};

struct ListIssue {
  Severity severity;
  uint32_t line;     // 1-based list line the issue is about; 0 for the list as a whole
  std::string text;  // "line 12: ..." is composed by the caller from line and text
};

struct ListCheck {
  uint32_t size1 = 0;     // line 8 as the bootstrapper reads it
  uint32_t size2 = 0;     // line 9
  uint32_t expected = 0;  // size1 + size2, wrapping in 32 bits as the bootstrapper adds them
  int32_t count = 0;      // line 10; negative: no support files
  std::vector<std::string> names;  // support file names, in list order (empty when reading
                                   // stopped before them)
  std::vector<ListIssue> issues;   // in line order; at most one kFail, and nothing after it
  bool readable = false;           // the bootstrapper reads the list through to its last name

  // The bootstrapper would stop (kFail) or the installation would break (kRefuse).
  bool Refused() const;
  // The first kFail issue, or nullptr.
  const ListIssue* Failure() const;
};

// Checks list bytes as the bootstrapper reads them. `setup_program` is the name the setup
// program unpacks to (e.g. "Setup1.exe") and `list_name` the list's own name ("Setup.lst"):
// support files of those names would replace them.
ListCheck CheckList(const unsigned char* data, size_t size, const std::string& list_name,
                    const std::string& setup_program);

// The list line of the first support file named like the uninstaller (as Windows compares
// names: SameWindowsName), or 0. The bootstrapper keeps both (the uninstaller goes to the Windows
// folder); unpacked into one folder, the support file would replace the uninstaller.
uint32_t UninstallerNameLine(const ListCheck& check);

// "1 byte", "2 bytes": `count` and the unit, in the plural unless it is 1.
std::string CountOf(uint64_t count, const std::string& unit);

// "line 12: ..." or the bare text for line 0.
std::string IssueText(const ListIssue& issue);

// The warning for a list whose sizes do not add up to the payload total (the payload lengths,
// 28 + file size, of every entry after the list), or "" when they do.
std::string SizeMismatchText(uint32_t expected, uint64_t payload_total);

// Replaces the values (everything after the first "=") of lines 8 and 9 by the decimal numbers
// size1 and size2, keeping keys and line endings. Returns false with `error` set, leaving
// `list` unchanged, when either line is missing, unterminated or has no "=".
bool RewriteListSizes(std::vector<unsigned char>& list, uint32_t size1, uint32_t size2,
                      std::string& error);

// One line of a list file: content [begin, end), line ending [end, next).
struct ListLineSpan {
  size_t begin;
  size_t end;
  size_t next;
  bool terminated;  // false for a last line that runs into the end of the data
};

// Splits data into lines by the bootstrapper's rules: CR or LF ends a line, and the other
// character of the pair right after it belongs to the same ending (CR LF, LF CR).
std::vector<ListLineSpan> SplitListLines(const unsigned char* data, size_t size);

// Names Windows keeps for devices, which the bootstrapper refuses (the package core's
// IsDeviceName).
bool IsDeviceName(const std::string& name);

}  // namespace datapack

#endif
