// Building packages in memory: the library behind `datapack create`, also linked by the
// end-to-end tests to make packages (good and deliberately broken ones) inside a test program.
// Portable C++17 plus zlib; it builds unchanged with mingw.
//
// A package is the 4-byte header followed by one entry record per file, in the order the
// bootstrapper reads them (package/format.h draws the layout):
//   list file, setup program, uninstaller, then the support files in the list's order.
// Each record is (inflated size, stored size, zlib stream of the payload), and each payload is
// the 28-byte file header (attributes, creation, last access and last write FILETIMEs)
// followed by the file's bytes.
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
#ifndef DATAPACK_PACKER_H
#define DATAPACK_PACKER_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "encode.h"
#include "filetime.h"
#include "format.h"
#include "package.h"

namespace datapack {

// One file to pack and the file header it gets.
struct PackedFile {
  std::string name;                    // support files: the name the list gives it (used in
                                       // messages only; the list decides what the file is called)
  std::vector<unsigned char> data;     // the file's bytes
  uint32_t attributes = kAttrArchive;  // Windows attribute bits, or KEEP_ATTRIBUTES
  uint64_t created = 0;                // FILETIMEs (100 ns ticks since 1601 UTC)
  uint64_t accessed = 0;
  uint64_t written = 0;
};

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

// ---- Entry-level pieces, for crafting packages byte by byte ----

// The package header: "ZK", `reserved`, `kind`.
void AppendPackageHeader(std::vector<unsigned char>& out, int kind, unsigned char reserved = 0);

// The payload of `file`: its 28-byte file header followed by its data.
std::vector<unsigned char> MakePayload(const PackedFile& file);

// Deflates `payload` into one zlib stream (replacing `stream`). Returns false with `error`
// set when the options are out of range or zlib fails.
bool CompressPayload(const unsigned char* payload, size_t size, const CompressionOptions& options,
                     std::vector<unsigned char>& stream, std::string& error);

// A zlib stream made of stored (uncompressed) deflate blocks only, at most `block` bytes each
// (1..65535): inflating it makes no block-end progress reports, only the final one.
std::vector<unsigned char> StoredStream(const unsigned char* payload, size_t size,
                                        size_t block = 65535);

// Appends an entry record with the given sizes followed by `stream` as it is. `stored` is
// normally stream.size(); a different value makes the record lie (a larger one, at the end
// of the package, leaves the stream short; a smaller one makes the next record start inside
// this stream).
void AppendRecord(std::vector<unsigned char>& out, uint32_t declared, uint32_t stored,
                  const std::vector<unsigned char>& stream);

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
