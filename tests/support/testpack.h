// Packages for the tests: whole packages, list files and damaged streams, built on the writer
// `datapack create` uses (package_writer.h), so that what the tests unpack is what create writes.
//
// Typical use:
//   datapack::PackageSpec plan;
//   plan.kind = KIND_SETUP;
//   plan.setup_program.data = ...;  plan.uninstaller.data = ...;
//   plan.support = {{"readme.txt", bytes}};
//   std::string list = datapack::MakeListFile(datapack::PayloadTotal(plan), 0, {"readme.txt"});
//   plan.list.data.assign(list.begin(), list.end());
//   std::vector<unsigned char> package;  std::string error;
//   if (!datapack::BuildPackage(plan, package, error)) ...
#ifndef TESTS_SUPPORT_TESTPACK_H
#define TESTS_SUPPORT_TESTPACK_H

#include <stdint.h>

#include <string>
#include <vector>

#include "package_writer.h"

namespace datapack {

// A whole package to build: the entries of every role and how to compress them.
struct PackageSpec {
  int kind = KIND_SETUP;            // kind byte; not checked, so tests can write invalid ones
  unsigned char reserved = 0;       // package header byte 2, ignored by readers
  PackedFile list;                  // unpacked as <base>.lst
  PackedFile setup_program;         // unpacked as <stem>1.exe
  PackedFile uninstaller;           // unpacked as KQUninst.exe in the Windows directory
  std::vector<PackedFile> support;  // in the order the list names them
  CompressionOptions compression;
};

// Packs `plan` into `out` (replacing its contents). The list is packed as given: checking it
// is CheckList's job (listcheck.h), so that tests can pack lists the bootstrapper refuses.
// Returns true, or false with `error` set when the compression options are invalid or a
// payload or stream does not fit the record's 32-bit sizes.
bool BuildPackage(const PackageSpec& plan, std::vector<unsigned char>& out, std::string& error);

// Sum of the payload lengths (28 + file size) of every entry after the list: the number of
// bytes the progress bar counts, which list lines 8 + 9 should add up to.
uint64_t PayloadTotal(const PackageSpec& plan);

// A list file the bootstrapper accepts: seven "KeyN=" lines, "Size1=<size1>",
// "Size2=<size2>", "Files=<count>" and one "FileN=N,<name>,0" line per name, each ended by
// `eol`. Names must be valid support file names for the result to be accepted.
std::string MakeListFile(uint32_t size1, uint32_t size2, const std::vector<std::string>& names,
                         const char* eol = "\r\n");

// Encodes one well-formed entry record (sizes, then the deflated payload, encode.h) into
// `record` (replacing it). `counted`: the entry's reports count on the bar (all entries but
// the list), which --best weighs against size. Returns false with `error` set when the
// compression fails or the payload or stream exceeds 4 GiB - 1 bytes.
bool EncodeEntry(const PackedFile& file, const CompressionOptions& options,
                 std::vector<unsigned char>& record, std::string& error, bool counted = true);

// Damages the Adler-32 trailer of a complete zlib stream (flips its last byte), so that it
// inflates to the end but fails its check.
void CorruptAdler32(std::vector<unsigned char>& stream);

}  // namespace datapack

#endif
