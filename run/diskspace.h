// The disk space check before unpacking. Portable (no <windows.h>): setup.exe passes what
// GetDiskFreeSpaceA reports, and the native unit tests call it directly.
#ifndef RUN_DISKSPACE_H
#define RUN_DISKSPACE_H

#include <stdint.h>

// Free bytes from GetDiskFreeSpaceA's three factors, multiplied in 64 bits; a product that
// would not fit 64 bits gives UINT64_MAX (more than any expected total).
uint64_t FreeSpaceBytes(uint32_t free_clusters, uint32_t sectors_per_cluster,
                        uint32_t bytes_per_sector);

// Whether the disk has room: 1 only when the free space is strictly greater than the expected
// total (equal is refused, so that a disk filled to the last byte is never accepted).
int HasRoomFor(uint32_t free_clusters, uint32_t sectors_per_cluster, uint32_t bytes_per_sector,
               uint32_t expected_total);

#endif
