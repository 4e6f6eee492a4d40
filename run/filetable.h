// The size of the file table, the support file names the run keeps for its clean-up.
#ifndef RUN_FILETABLE_H
#define RUN_FILETABLE_H

#include <stdint.h>

// Bytes of a file table of `slots` 26-byte slots; 0 for no slots, and 0 when the table would
// exceed 2^31 - 1 bytes, which no 32-bit process can allocate (and which would wrap a 32-bit
// size in the multiplication).
uint32_t FileTableBytes(uint32_t slots);

#endif
