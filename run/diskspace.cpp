// The disk space check; see diskspace.h.
#include "diskspace.h"

uint64_t FreeSpaceBytes(uint32_t free_clusters, uint32_t sectors_per_cluster,
                        uint32_t bytes_per_sector) {
  // Two 32-bit factors always fit 64 bits; the third may not (in theory), so saturate:
  // more free bytes than 2^64 - 1 is room for any 32-bit total.
  uint64_t cluster_bytes = (uint64_t)sectors_per_cluster * bytes_per_sector;
  if (cluster_bytes != 0 && free_clusters > UINT64_MAX / cluster_bytes) return UINT64_MAX;
  return cluster_bytes * free_clusters;
}

int HasRoomFor(uint32_t free_clusters, uint32_t sectors_per_cluster, uint32_t bytes_per_sector,
               uint32_t expected_total) {
  return FreeSpaceBytes(free_clusters, sectors_per_cluster, bytes_per_sector) > expected_total;
}
