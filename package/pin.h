// The package pin (format.h): reading and writing the resource, and checking a package
// against it. Used by setup.exe before it unpacks, and by datapack brand, verify and list.
#ifndef PACKAGE_PIN_H
#define PACKAGE_PIN_H

#include <stddef.h>
#include <stdint.h>

#include "format.h"

struct ByteReader;

struct PackagePin {
  uint64_t length;                        // bytes
  unsigned char digest[PIN_DIGEST_SIZE];  // SHA-256 of those bytes
};

// Reads a pin resource of `size` bytes at `data`: 1, or 0 when it is damaged (wrong size,
// signature or algorithm).
int ParsePackagePin(const void* data, size_t size, struct PackagePin* pin);

// Writes `pin` as the resource's PIN_RESOURCE_SIZE bytes into `out`.
void FormatPackagePin(const struct PackagePin* pin, unsigned char out[PIN_RESOURCE_SIZE]);

// Called between pieces of a long read, so that a window can stay responsive; may be NULL.
typedef void (*PinIdle)(void);

// Reads `r` to its end in pieces, hashing it, and fills `measured` with its length and
// SHA-256. Returns 1, or 0 when a read fails or no memory is left for the piece buffer.
int HashPackage(struct ByteReader* r, struct PackagePin* measured, PinIdle idle);

// Whether `r`, read to its end, delivers exactly the pinned bytes: 1 when length and digest
// match; 0 when they differ, a read fails or no memory is left.
int PackageMatchesPin(struct ByteReader* r, const struct PackagePin* pin, PinIdle idle);

#endif
