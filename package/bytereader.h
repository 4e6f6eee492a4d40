// A source of bytes for the package and list readers, so that the same decoding code reads a
// Win32 file handle in setup.exe and a memory buffer or stdio file in datapack and the tests.
#ifndef PACKAGE_BYTEREADER_H
#define PACKAGE_BYTEREADER_H

#include <stddef.h>
#include <stdint.h>

struct ByteReader {
  void* ctx;  // the reader's own state
  // Reads up to `want` bytes into `buf` and sets *got to the number delivered: fewer than
  // `want` only at the end of the data. Returns 1, or 0 when the read itself failed
  // (*got then tells what arrived before the failure).
  int (*read)(void* ctx, void* buf, uint32_t want, uint32_t* got);
  // Moves the position back by one byte (the list reader's one-byte look-ahead).
  // Returns 1, or 0 on failure.
  int (*back)(void* ctx);
};

// Reads from memory; `data` must outlive the reader.
struct MemoryReader {
  const unsigned char* data;
  size_t size;  // bytes in data
  size_t pos;   // next byte to deliver
  int fail_at;  // for tests: when >= 0, a read that needs the byte at this offset (or any
                // later one) delivers the bytes before it and fails
};

void InitMemoryReader(struct MemoryReader* m, struct ByteReader* r, const void* data, size_t size);

#endif
