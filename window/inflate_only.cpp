// setup.exe inflates zlib streams only (a 15-bit window, no gzip wrapper), yet zlib's inflate
// refers to crc32() for the gzip wrapper it can also read. Defining crc32() here keeps the
// library's CRC code and its tables (about 7.5 KB of a 64 KB budget) out of the program.
#include <zlib.h>

// Reached only for gzip streams, which setup.exe never asks inflate to accept (its window
// bits leave the gzip wrapper off). Should that ever change, the value returned is not the
// data's CRC, so gzip streams fail their check instead of being taken unchecked.
extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef *, uInt) { return ~crc ^ 0x5A5A5A5Au; }
