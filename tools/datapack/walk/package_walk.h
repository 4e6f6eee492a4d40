// Walking a package as the bootstrapper reads it: header, list file, setup program,
// uninstaller, support files, each entry inflated with the core's streaming twin of ReadEntry
// (same verdicts and reports as setup.exe, in a fixed amount of memory).
// `datapack list`, `verify` and `extract` are views of this walk.
//
// walk/ owns reading what setup.exe reads: this walk, the list check every command shares
// (listcheck.h), setup.exe's messages (setup_messages.h) and the entry size limit
// (entrylimit.h). It includes platform/ and, for a text's encoding, brand/texts.h.
#ifndef DATAPACK_PACKAGE_WALK_H
#define DATAPACK_PACKAGE_WALK_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "bytereader.h"
#include "listcheck.h"
#include "package.h"

namespace datapack {

// An entry's role (format.h's EntryRole): "list file", "setup program", "uninstaller",
// "support file".
const char* RoleName(EntryRole role);
// The same as identifiers for machine-readable output: "list", "setup_program", ...
const char* RoleId(EntryRole role);

struct EntryReport {
  uint32_t index = 0;  // 1-based position in the package
  EntryRole role = ROLE_LIST;
  std::string name;       // what it unpacks to: "Setup.lst", "Setup1.exe", "KQUninst.exe", ...
  uint64_t offset = 0;    // package offset of its entry record
  int status = ENTRY_OK;  // EntryStatus
  EntryInfo info{};       // sizes, blocks and reports; info.reason is not kept (see reason)
  std::string reason;     // the core's words for a failure, "" when ok
  bool has_header = false;
  FileHeader header{};   // valid when has_header
  unsigned percent = 0;  // the bar after the entry's last report (0 for the list, which is
                         // unpacked before the bar starts counting)
};

struct PackageReport {
  uint64_t file_size = 0;
  bool header_ok = false;
  int kind = 0;                      // kind byte, valid when header_ok
  std::string base_name;             // "Instal", "Setup", "Instalar"
  std::vector<EntryReport> entries;  // every entry read, in package order
  bool list_read = false;  // the list entry inflated and was checked (list below is valid)
  ListCheck list;
  uint64_t payload_total = 0;     // payload bytes of the entries after the list that inflated
  uint32_t progress_reports = 0;  // reports counted by the bar (entries after the list)
  unsigned final_percent = 0;     // the bar after the last entry
  bool complete = false;          // every entry the bootstrapper reads was read and inflated
  uint64_t trailing = 0;          // bytes after the last entry (valid when complete)

  // The first failure, as the bootstrapper meets it.
  bool failed = false;
  std::string message;  // the bootstrapper's message box text
  std::string reason;   // the technical reason: "entry 3 (uninstaller KQUninst.exe): ..."
  std::vector<std::string> warnings;  // problems that do not stop the bootstrapper
};

struct InspectOptions {
  // Read on past the first failure where the layout still allows it (for listings): a
  // broken list still lets the setup program and uninstaller be shown, and an entry that
  // does not inflate still has a known length.
  bool keep_going = false;
  // For each entry, while no failure has been met: on_start when it begins (its report
  // holds index, role, name and offset), on_data with its file data (the payload after the
  // file header) in pieces as it inflates, before the entry is known to be good, and on_done
  // when it has ended (with its whole report: status, file header), also when it failed or a
  // callback refused. The list's calls come only after it has been read and checked, its
  // data in one piece. Returning false stops the walk (`error` then becomes the report's
  // reason, with an empty message). on_start and on_done are used only together with on_data.
  std::function<bool(const EntryReport&, std::string& error)> on_start;
  std::function<bool(const unsigned char* data, uint32_t size, std::string& error)> on_data;
  std::function<bool(const EntryReport&, std::string& error)> on_done;
  // Called now and then with the package offset reached.
  std::function<void(uint64_t offset)> on_progress;
};

// Walks the package read from `r` (positioned at its start; `file_size` is its length).
// Returns true when the bootstrapper would unpack everything (report.failed is false);
// false otherwise, or when a callback stopped the walk.
bool InspectPackage(ByteReader& r, uint64_t file_size, const InspectOptions& options,
                    PackageReport& report);

// "entry 4 (support file readme.txt)".
std::string DescribeEntry(const EntryReport& e);

}  // namespace datapack

#endif
