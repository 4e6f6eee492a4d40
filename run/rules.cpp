// The run's portable decisions; each header beside this file (diskspace.h, paths.h,
// filetable.h, digest.h, watchrule.h) gives the contracts of its topic.
#include "digest.h"
#include "diskspace.h"
#include "filetable.h"
#include "paths.h"
#include "watchrule.h"

#include <string.h>
#include <zlib.h>

#include "buffers.h"
#include "bytereader.h"
#include "format.h"
#include "listfile.h"

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

int TempPathUnusable(uint32_t reported_length) {
  // Our decision for a path that does not fit: the call then reports the size it needs and
  // leaves the buffer without a usable path, so the Windows directory serves as for a
  // failed call.
  return reported_length < 3 || reported_length >= PATH_LIMIT;
}

int EnsureTrailingBackslash(char* path, size_t size) {
  size_t len = strlen(path);
  if (len > 0 && path[len - 1] == '\\') return 1;
  if (len + 2 > size) return 0;
  path[len] = '\\';
  path[len + 1] = '\0';
  return 1;
}

int SplitFolderPath(char* path, char* parent, size_t parent_size) {
  size_t len = strlen(path);
  if (len > 0 && path[len - 1] == '\\') path[--len] = '\0';
  int last = FindChar(path, '\\', 1);
  if (last < 0) return -1;
  size_t folder_len = (size_t)last;
  if (folder_len + 2 > parent_size) return -1;
  memcpy(parent, path, folder_len);
  parent[folder_len] = '\0';
  EnsureTrailingBackslash(parent, parent_size);
  return (int)(folder_len + 1);
}

int IsUninstallerPath(const char* path) {
  const size_t name_len = sizeof(UNINSTALLER_NAME) - 1;  // 12
  size_t len = strlen(path);
  return len >= name_len && strcmp(path + len - name_len, UNINSTALLER_NAME) == 0;
}

uint32_t FileTableBytes(uint32_t slots) {
  if (slots > 0x7FFFFFFFu / SUPPORT_SLOT_SIZE) return 0;
  return slots * SUPPORT_SLOT_SIZE;
}

void DigestBytes(const void* data, uint32_t length, struct FileDigest* digest) {
  digest->length = length;
  digest->adler = (uint32_t)adler32(adler32(0L, Z_NULL, 0), (const Bytef*)data, length);
}

int ContentMatches(struct ByteReader* r, const struct FileDigest* digest) {
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

int SetupProgramStillRuns(uint32_t wait_result) { return wait_result == WATCH_WAIT_TIMEOUT; }
