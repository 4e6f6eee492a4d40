// Reading the package: header, entry records, inflation with progress reports, file headers.
// Portable (no <windows.h>): setup.exe, datapack and the unit tests run this same code.
#ifndef PACKAGE_PACKAGE_H
#define PACKAGE_PACKAGE_H

#include <stdint.h>

#include "bytereader.h"
#include "format.h"

// Base name for a kind byte: "Instal" (1), "Setup" (2), "Instalar" (3); NULL for any other.
const char* BaseNameForKind(int kind);

// The program stem: the base name, except "Instalar" (exact, case-sensitive) gives "Instal".
const char* ProgramStem(const char* base_name);

// Reads the 4-byte package header. Returns 1 and sets *kind (1..3), or 0 when fewer than
// 4 bytes arrive, the signature is not "ZK", or the kind byte is not 1, 2 or 3.
int ReadPackageHeader(struct ByteReader* r, int* kind);

// Where inflation reports progress: (bytes of payload produced so far for this entry, end).
// A report with end = 0 comes at the end of every fixed- or dynamic-Huffman block; one with
// end = 1 when the final block's output has all been delivered, before the Adler-32 is checked.
struct ProgressSink {
  void (*report)(void* ctx, uint32_t bytes_out, int end);
  void* ctx;
};

enum EntryStatus {
  ENTRY_OK = 0,
  ENTRY_TRUNCATED_RECORD,  // fewer than 8 bytes of entry record
  ENTRY_READ_FAILED,       // the source failed while reading the record
  ENTRY_NO_MEMORY,         // a buffer of the stored or inflated size could not be allocated,
                           // or the sizes add up to more than ENTRY_SIZE_MAX (never
                           // allocatable in 32 bits)
  ENTRY_BAD_STREAM,        // not one complete, valid zlib stream within the stored bytes
  ENTRY_TOO_LONG,          // the stream produces more than the declared inflated size
  ENTRY_SHORT_PAYLOAD      // the payload is shorter than its 28-byte file header
};

// What is known of one entry, filled as far as it could be read (for datapack's listings and
// for precise error reports).
struct EntryInfo {
  uint32_t declared;     // inflated size from the record
  uint32_t stored;       // stored size from the record
  uint32_t stored_read;  // stream bytes the source delivered (< stored: the rest read as 0)
  uint32_t produced;     // payload length: bytes the inflater produced
  uint32_t stream_used;  // stream bytes consumed up to the zlib stream's end (or the failure)
  uint32_t blocks[3];    // deflate blocks seen, by type: stored, fixed, dynamic
  uint32_t reports;      // progress reports made (block ends plus the end report)
  const char* reason;    // failure in words (zlib's message where it gave one); NULL when ok
};

// Reads the 8-byte entry record into info->declared and info->stored (the rest of `info`
// cleared). Returns ENTRY_OK, ENTRY_READ_FAILED, ENTRY_TRUNCATED_RECORD, or ENTRY_NO_MEMORY
// when the sizes add up to more than ENTRY_SIZE_MAX (reason kEntryTooLarge); info->reason
// says which.
int ReadEntryRecord(struct ByteReader* r, struct EntryInfo* info);

// The verdict on an inflated entry: `status`, except that a good stream whose payload is
// shorter than its file header gives ENTRY_SHORT_PAYLOAD (with info->reason).
int CheckPayloadLength(int status, struct EntryInfo* info);

// Inflates one zlib stream from in[0..in_len) into out[0..out_cap) exactly as the bootstrapper
// does: the entry decoder (entry_stream.h) fed the whole buffer in one piece and inflating
// in place; success only at the stream's end with a good Adler-32 inside out_cap bytes;
// trailing input ignored. Reports go to `sink` when it is non-NULL (and its report procedure
// non-NULL). On success *produced is the payload length; on failure the bytes produced
// before it. in and out may be NULL when their lengths are 0.
// Returns ENTRY_OK, ENTRY_BAD_STREAM or ENTRY_TOO_LONG (or ENTRY_NO_MEMORY when zlib cannot
// allocate its state). `info` (may be NULL) receives produced, stream_used, blocks, reports
// and reason.
int InflateEntryBuffer(const unsigned char* in, uint32_t in_len, unsigned char* out,
                       uint32_t out_cap, uint32_t* produced, const struct ProgressSink* sink,
                       struct EntryInfo* info);

// One entry read from the package: the inflated payload (file header plus file data).
struct Entry {
  unsigned char* payload;  // PackageAllocZeroed'd, `length` bytes valid (capacity: declared);
                           // NULL on failure
  uint32_t length;         // payload length (produced)
  struct EntryInfo info;
};

// Reads the next entry record and its stored bytes from `r` and inflates them.
// A short or failed read of the stream bytes is not an error by itself: missing bytes read
// as zeros, as the bootstrapper has always done, so only a stream that is complete within
// what arrived succeeds. Returns an EntryStatus; on ENTRY_OK the caller owns e->payload
// (FreeEntry). On failure e->payload is NULL and e->info says how far reading got.
int ReadEntry(struct ByteReader* r, const struct ProgressSink* sink, struct Entry* e);

void FreeEntry(struct Entry* e);

// The reason given with ENTRY_NO_MEMORY for sizes that add up to more than ENTRY_SIZE_MAX.
extern const char kEntryTooLarge[];

// The 28-byte header at the start of every payload.
struct FileHeader {
  uint32_t attributes;  // Windows attribute bits, or KEEP_ATTRIBUTES
  uint64_t created;     // FILETIME: 100 ns units since 1601-01-01 UTC
  uint64_t accessed;
  uint64_t written;
};

// Decodes the file header. Returns 0 when fewer than 28 bytes are given.
int ParseFileHeader(const unsigned char* payload, uint32_t length, struct FileHeader* h);

// ---- Writers (package_write.cpp), each beside the reader above that reads what it writes

// The package header: signature, `reserved`, `kind` (written as given, valid or not).
void WritePackageHeader(unsigned char out[PACKAGE_HEADER_SIZE], int kind, unsigned char reserved);

// An entry record: the inflated size, then the stored size of the stream that follows it.
void WriteEntryRecord(unsigned char out[ENTRY_RECORD_SIZE], uint32_t declared, uint32_t stored);

// The file header at the start of a payload, as ParseFileHeader reads it.
void WriteFileHeader(unsigned char out[FILE_HEADER_SIZE], const struct FileHeader* h);

// Short description of an EntryStatus, for messages ("stream is not valid zlib data", ...).
const char* EntryStatusText(int status);

#endif
