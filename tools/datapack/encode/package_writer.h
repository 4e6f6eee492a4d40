// Writing packages in memory: the pieces `datapack create` writes a package with (payloads,
// entry streams, records), on the core's record writers (package.h). The tests build their
// packages on the same pieces (tests/support/testpack.h). Portable C++17 plus zlib; it builds
// unchanged with mingw.
//
// A package is the 4-byte header followed by one entry record per file, in the order the
// bootstrapper reads them (package/format.h draws the layout):
//   list file, setup program, uninstaller, then the support files in the list's order.
// Each record is (inflated size, stored size, zlib stream of the payload), and each payload is
// the 28-byte file header (attributes, creation, last access and last write FILETIMEs)
// followed by the file's bytes.
#ifndef DATAPACK_PACKAGE_WRITER_H
#define DATAPACK_PACKAGE_WRITER_H

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

}  // namespace datapack

#endif
