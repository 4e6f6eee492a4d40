// SHA-256 (FIPS 180-4), for the package pin: setup.exe hashes the whole package before it
// unpacks a byte and compares the result with the digest `datapack brand --pin` stored in it.
// Portable and self-contained: Windows 95 and NT 4, where setup.exe must run, have no hashing
// service a program can count on (CryptoAPI came later and not everywhere), and setup.exe
// links no C runtime. datapack and the tests use the same code.
#ifndef PACKAGE_SHA256_H
#define PACKAGE_SHA256_H

#include <stddef.h>
#include <stdint.h>

enum { SHA256_SIZE = 32, SHA256_BLOCK = 64 };  // digest and block size, bytes

struct Sha256 {
  uint32_t state[8];                    // the running hash value H0..H7
  uint64_t length;                      // bytes hashed so far
  unsigned char pending[SHA256_BLOCK];  // the start of a block not yet complete
  uint32_t pending_size;                // bytes in `pending`, 0 to 63
};

// Starts a new hash.
void Sha256Init(struct Sha256* h);
// Adds `size` bytes at `data` (any size, in as many calls as the caller likes).
void Sha256Update(struct Sha256* h, const void* data, size_t size);
// Pads, and writes the digest (big-endian words, as the standard prints it) into `digest`.
// `h` must be started again before it is used for another hash.
void Sha256Final(struct Sha256* h, unsigned char digest[SHA256_SIZE]);

// The digest of data[0..size) in one call.
void Sha256Bytes(const void* data, size_t size, unsigned char digest[SHA256_SIZE]);

#endif
