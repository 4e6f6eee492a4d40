// The hostile-package corpus: packages and list files that the bootstrapper must refuse (and a
// few at the edge of the limits that it must accept), each with the verdict the user sees and
// what a run leaves on disk. One table, two runners: `datapack verify` on the host
// (tests/hostile/verify_corpus.py over the files hostile_gen writes) and the real setup.exe
// under Wine (tests/e2e/hostile_test.cpp, which links this file). Everything is built in
// memory from datapack's packer, deterministically: nothing large is kept in the repository.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

namespace hostile {

// What setup.exe shows.
enum class Verdict {
  kAccepted,        // no message: it unpacks everything and starts the setup program
  kCorruptPackage,  // "... file _Data.001 is corrupted."
  kCorruptList,     // "... file Setup.lst is corrupted."
  kCannotCopy,      // "... could not copy file " + working folder + copy_name
  kNoSpace          // "... no enough disk free space ..." (needs the 1 MiB working folder)
};

// What a refused package leaves behind: the setup program in the working folder (when the run
// failed after unpacking it) and the uninstaller in the Windows folder (once it was written).
// Nothing else may stay. An accepted package leaves the uninstaller only.
enum Leaves { kNothing = 0, kProgram = 1, kUninstaller = 2 };

// One entry record as it is about to be written; a case's tamper step may change any of it.
struct Record {
  std::vector<unsigned char> payload;  // file header (28 bytes) + file data
  std::vector<unsigned char> stream;   // the zlib stream of payload (level 9 by default)
  uint32_t declared = 0;               // inflated size field (default: payload size)
  uint32_t stored = 0;                 // stored size field (default: stream size)
};

// Entry indices in the package: 0 list, 1 setup program, 2 uninstaller, 3.. support files.
enum { kListEntry = 0, kProgramEntry = 1, kUninstallerEntry = 2, kFirstSupportEntry = 3 };

// The package a case starts from: kind 2 (Setup), support files one.txt and two.txt, a list
// that names them with sizes adding up. prepare() changes it.
struct Draft {
  int kind = 2;
  std::string list;                                   // the list file's bytes
  std::vector<std::string> support_names;             // names of the support entries, in order
  std::vector<std::string> support_data;              // their bytes
  std::function<void(size_t entry, Record&)> tamper;  // called for every record
  // Called last with the whole package and each record's offset (e.g. to cut it short).
  std::function<void(std::vector<unsigned char>& bytes, const std::vector<size_t>& records)> finish;
};

struct Case {
  std::string name;  // a C identifier: GoogleTest and file names use it
  Verdict verdict;
  int leaves;             // refused cases: Leaves bits
  std::string copy_name;  // kCannotCopy: the name after the working folder ("" = the folder)
  // kAccepted: names in the working folder when the setup program starts (any order).
  std::vector<std::string> unpacked;
  std::function<void(Draft&)> prepare;
};

// Every case, in a fixed order. Names are unique.
const std::vector<Case>& Cases();

// The package file of `c`, with `program` as the setup program's bytes. Deterministic: the
// same case and program always give the same bytes.
std::vector<unsigned char> BuildPackage(const Case& c, const std::string& program);

// Identifiers for the manifest: "accepted", "corrupt-package", "corrupt-list",
// "could-not-copy", "no-space".
const char* VerdictId(Verdict v);

// The message box text, with %TEMP% standing for the working folder (ending with a
// backslash); "" for kAccepted.
std::string Message(const Case& c);

// What `datapack verify` exits with: 0 for what setup.exe accepts and for kNoSpace (the free
// space of a disk the package has not reached yet is not the package's to say), 2 otherwise.
int VerifyExit(const Case& c);

// What stays in the working folder after the run, sorted: "Setup1.exe" or nothing for a
// refused package (the list file and support files are always removed); nothing for an
// accepted one, whose setup program and support files are removed after it ended.
std::vector<std::string> LeftInWorkingFolder(const Case& c);

}  // namespace hostile
