// The setup program check; see digest.h.
#include "digest.h"

#include <zlib.h>

#include "bytereader.h"

void DigestBytes(const void *data, uint32_t length, struct FileDigest *digest) {
  digest->length = length;
  digest->adler = (uint32_t)adler32(adler32(0L, Z_NULL, 0), (const Bytef *)data, length);
}

int ContentMatches(struct ByteReader *r, const struct FileDigest *digest) {
  uLong adler = adler32(0L, Z_NULL, 0);
  uint32_t total = 0;
  unsigned char chunk[4096];
  for (;;) {
    uint32_t got = 0;
    if (!r->read(r->ctx, chunk, sizeof chunk, &got)) return 0;
    if (got > digest->length - total) return 0;  // longer than what was written
    adler = adler32(adler, chunk, got);
    total += got;
    if (got < sizeof chunk) break;  // the end of the data
  }
  return total == digest->length && (uint32_t)adler == digest->adler;
}
