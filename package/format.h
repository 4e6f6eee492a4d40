// The package file "_Data.001": the one place that states its layout.
//
// The file is read strictly from front to back; there is no index, count or trailer.
// All integers are little-endian.
//
//   offset 0                         +---------+---------+---------+---------+
//   package header (4 bytes)         |   'Z'   |   'K'   | reserved|  kind   |
//                                    +---------+---------+---------+---------+
//   then entry records back to back, in this fixed order:
//     1. the list file       -> <base>.lst in the working folder
//     2. the setup program   -> <stem>1.exe in the working folder
//     3. the uninstaller     -> KQUninst.exe in the Windows directory
//     4. one per support file, in the order the list file names them
//
//   entry record                     +-------------------+-------------------+------------ - -
//                                    |  inflated size    |   stored size     | stream ...
//                                    |  u32 (capacity)   |   u32 (n bytes)   | n bytes
//                                    +-------------------+-------------------+------------ - -
//   The stream starts with one zlib-format stream (2-byte header, deflate data, Adler-32);
//   bytes after the zlib stream's end, within the stored size, are ignored.
//
//   payload (what the stream inflates to; its length is what was produced, never more than
//   the inflated size):
//     0   u32  attributes       Windows attribute bits; 0xFFFFFFFF = keep as created
//     4   u64  creation time    FILETIME (low u32, then high u32)
//     12  u64  last access time FILETIME
//     20  u64  last write time  FILETIME
//     28  ...  file data        payload length - 28 bytes
#ifndef PACKAGE_FORMAT_H
#define PACKAGE_FORMAT_H

#include <stdint.h>

enum {
  PACKAGE_HEADER_SIZE = 4,
  PACKAGE_SIGNATURE = 0x4B5A,  // "ZK" read as a little-endian u16
  PACKAGE_RESERVED_AT = 2,     // package header: the reserved byte, ignored by readers
  PACKAGE_KIND_AT = 3,         // package header: the kind byte
  ENTRY_RECORD_SIZE = 8,       // inflated size + stored size
  RECORD_DECLARED_AT = 0,      // entry record: inflated size
  RECORD_STORED_AT = 4,        // entry record: stored size
  FILE_HEADER_SIZE = 28,       // attributes + three FILETIMEs
  HEADER_ATTRIBUTES_AT = 0,    // file header fields
  HEADER_CREATED_AT = 4,
  HEADER_ACCESSED_AT = 12,
  HEADER_WRITTEN_AT = 20
};
static_assert(FILE_HEADER_SIZE == 4 + 3 * 8, "attributes and three 8-byte FILETIMEs");
static_assert(ENTRY_RECORD_SIZE == 2 * 4, "two u32 sizes");
#define KEEP_ATTRIBUTES 0xFFFFFFFFu  // attributes value: leave the file as created

// Largest stored size plus inflated size an entry record may give. The release bootstrapper is
// a 32-bit program that holds each entry in memory, its stored and its inflated buffer at the
// same time; its address space holds less than 2 GiB, so two buffers adding up to 2 GiB or
// more can never both be allocated there. Such an entry is refused before anything is
// allocated or decoded by every reader, also where the allocation could succeed (the 64-bit
// build, datapack's streaming decoder), so that they all give the release's verdict and no
// reader spends time on sizes only a hostile package declares.
#define ENTRY_SIZE_MAX 0x7FFFFFFFu

// Whether an entry record's sizes are within ENTRY_SIZE_MAX: the one check every reader makes
// on them before allocating or decoding.
static inline int EntrySizesFit(uint32_t declared, uint32_t stored) {
  return (uint64_t)declared + stored <= ENTRY_SIZE_MAX;
}

// Kind byte (offset 3 of the package header): selects the base name.
enum PackageKind { KIND_INSTAL = 1, KIND_SETUP = 2, KIND_INSTALAR = 3 };

// What each entry is, in the order the entries are stored and unpacked (the diagram above).
// datapack's writer, its package walk (list, verify, extract) and the tests' package builder
// take the order from EntryRoleAt; setup.exe unpacks in the same order step by step (run/),
// where each step also chooses its destination folder.
enum EntryRole {
  ROLE_LIST,           // <base>.lst in the working folder; its lines name the support files
  ROLE_SETUP_PROGRAM,  // <stem>1.exe in the working folder
  ROLE_UNINSTALLER,    // KQUninst.exe in the Windows directory
  ROLE_SUPPORT         // one per support file, in the order the list names them
};
enum { FIXED_ENTRIES = 3 };  // the list file, the setup program and the uninstaller

// The role of the entry at `index` (0-based, in package order).
static inline EntryRole EntryRoleAt(uint32_t index) {
  return index < FIXED_ENTRIES ? (EntryRole)index : ROLE_SUPPORT;
}

// --- The package pin: a resource of a branded setup.exe, not part of the package ---------
//
// `datapack brand --pin PACKAGE` stores the package's length and SHA-256 in the setup.exe it
// writes, so that a signature over setup.exe covers the package too. A setup.exe that holds
// a pin hashes the whole "_Data.001" through its open handle before it unpacks anything and
// refuses any other bytes with the corrupt-package message. A setup.exe without the resource
// reads the package as it always did.
//
//   resource type RT_RCDATA (10), name PIN_RESOURCE_ID (numeric), language neutral (0)
//
//   offset 0   4   signature   "ZKPN"
//          4   4   algorithm   u32 LE, PIN_ALGORITHM_SHA256 (1); any other value: a pin
//                              this setup.exe cannot check, so every package is refused
//          8   8   length      u64 LE, the package's length in bytes
//          16  32  digest      SHA-256 of the package's bytes, in the standard's byte order
//
// The resource is exactly PIN_RESOURCE_SIZE bytes; one of any other size or signature is a
// damaged pin and, like a pin that does not match, refuses every package.
enum {
  PIN_RESOURCE_TYPE = 10,  // RT_RCDATA
  PIN_RESOURCE_ID = 1,
  PIN_RESOURCE_SIZE = 48,
  PIN_ALGORITHM_SHA256 = 1,
  PIN_ALGORITHM_AT = 4,
  PIN_LENGTH_AT = 8,
  PIN_DIGEST_AT = 16,
  PIN_DIGEST_SIZE = 32
};
static_assert(PIN_RESOURCE_SIZE == PIN_DIGEST_AT + PIN_DIGEST_SIZE, "the digest ends the pin");
#define PIN_SIGNATURE "ZKPN"

#define PACKAGE_FILE_NAME "_Data.001"
#define UNINSTALLER_NAME "KQUninst.exe"
#define LIST_SUFFIX ".lst"
#define PROGRAM_SUFFIX "1.exe"

static inline uint32_t GetLE32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static inline void PutLE32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

static inline uint64_t GetLE64(const unsigned char* p) {
  return (uint64_t)GetLE32(p) | ((uint64_t)GetLE32(p + 4) << 32);
}

static inline void PutLE64(unsigned char* p, uint64_t v) {
  PutLE32(p, (uint32_t)v);
  PutLE32(p + 4, (uint32_t)(v >> 32));
}

#endif
