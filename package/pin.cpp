// The package pin; see pin.h and format.h.
#include "pin.h"

#include "bytereader.h"
#include "core_memory.h"
#include "sha256.h"

// Pieces of this size keep the window answering (the idle call comes between two), and the
// cost of one ReadFile call small against the hashing.
enum { PIN_PIECE = 64 * 1024 };

int ParsePackagePin(const void* data, size_t size, struct PackagePin* pin) {
  const unsigned char* p = (const unsigned char*)data;
  if (size != PIN_RESOURCE_SIZE) return 0;
  for (int i = 0; i < 4; ++i) {
    if (p[i] != (unsigned char)PIN_SIGNATURE[i]) return 0;
  }
  if (GetLE32(p + PIN_ALGORITHM_AT) != PIN_ALGORITHM_SHA256) return 0;
  pin->length = GetLE64(p + PIN_LENGTH_AT);
  for (int i = 0; i < PIN_DIGEST_SIZE; ++i) pin->digest[i] = p[PIN_DIGEST_AT + i];
  return 1;
}

void FormatPackagePin(const struct PackagePin* pin, unsigned char out[PIN_RESOURCE_SIZE]) {
  for (int i = 0; i < 4; ++i) out[i] = (unsigned char)PIN_SIGNATURE[i];
  PutLE32(out + PIN_ALGORITHM_AT, PIN_ALGORITHM_SHA256);
  PutLE64(out + PIN_LENGTH_AT, pin->length);
  for (int i = 0; i < PIN_DIGEST_SIZE; ++i) out[PIN_DIGEST_AT + i] = pin->digest[i];
}

int HashPackage(struct ByteReader* r, struct PackagePin* measured, PinIdle idle) {
  unsigned char* piece = (unsigned char*)PackageAllocZeroed(PIN_PIECE);
  if (!piece) return 0;
  struct Sha256 h;
  Sha256Init(&h);
  int ok = 1;
  for (;;) {
    uint32_t got = 0;
    if (!r->read(r->ctx, piece, PIN_PIECE, &got)) {
      ok = 0;
      break;
    }
    if (got == 0) break;
    Sha256Update(&h, piece, got);
    if (idle) idle();
  }
  PackageFree(piece);
  measured->length = h.length;
  Sha256Final(&h, measured->digest);
  return ok;
}

int PackageMatchesPin(struct ByteReader* r, const struct PackagePin* pin, PinIdle idle) {
  struct PackagePin measured;
  if (!HashPackage(r, &measured, idle)) return 0;
  if (measured.length != pin->length) return 0;
  unsigned char differ = 0;
  for (int i = 0; i < PIN_DIGEST_SIZE; ++i) differ |= measured.digest[i] ^ pin->digest[i];
  return differ == 0;
}
