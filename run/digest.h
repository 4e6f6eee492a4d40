// The check of the unpacked setup program: what was written, and whether the file read back
// is still that. Portable (no <windows.h>): setup.exe reads the file through a handle, the
// native unit tests read memory.
#ifndef RUN_DIGEST_H
#define RUN_DIGEST_H

#include <stdint.h>

struct ByteReader;

// What was written to a file: the number of bytes and their Adler-32 (zlib's, seeded with 1).
struct FileDigest {
  uint32_t length;  // bytes
  uint32_t adler;   // Adler-32 of those bytes
};

// The digest of data[0..length).
void DigestBytes(const void* data, uint32_t length, struct FileDigest* digest);

// Reads `r` to its end and says whether it delivered exactly digest->length bytes with
// digest->adler as their Adler-32: 1 when they match, 0 when they differ or a read fails.
// Reading stops at the first byte past digest->length, so that a much longer file is not
// read through.
int ContentMatches(struct ByteReader* r, const struct FileDigest* digest);

#endif
