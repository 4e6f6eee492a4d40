// setup.exe inflates zlib streams only (a 15-bit window, no gzip wrapper), yet zlib's inflate
// refers to crc32() for the gzip wrapper it can also read. Defining crc32() here keeps the
// library's CRC code and its tables (about 7.5 KB of a 64 KB budget) out of the program. Its
// default allocator is replaced the same way, at the end.
#include <zlib.h>

#include "core_memory.h"

// Reached only for gzip streams, which setup.exe never asks inflate to accept (its window
// bits leave the gzip wrapper off). Should that ever change, the value returned is not the
// data's CRC, so gzip streams fail their check instead of being taken unchecked.
extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef*, uInt) { return ~crc ^ 0x5A5A5A5Au; }

// zlib's default allocator, used only when a stream's zalloc is left NULL, calls the C
// library's malloc and free. The package core always passes its own, so these are never
// called; defining them keeps zlib's allocator, and its C runtime imports, out of the image.
// Should one be reached all the same, it allocates as the core does.
extern "C" voidpf zcalloc(voidpf, unsigned items, unsigned size) {
  if (size && items > (size_t)-1 / size) return Z_NULL;
  return PackageAllocZeroed((size_t)items * size);
}

extern "C" void zcfree(voidpf, voidpf p) { PackageFree(p); }
