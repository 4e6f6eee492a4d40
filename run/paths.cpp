// Folders and paths; see paths.h.
#include "paths.h"

#include <string.h>

#include "buffers.h"
#include "format.h"
#include "listfile.h"  // FindChar

int TempPathUnusable(uint32_t reported_length) {
  // Our decision for a path that does not fit: the call then reports the size it needs and
  // leaves the buffer without a usable path, so the Windows directory serves as for a
  // failed call.
  return reported_length < 3 || reported_length >= PATH_LIMIT;
}

int EnsureTrailingBackslash(char *path, size_t size) {
  size_t len = strlen(path);
  if (len > 0 && path[len - 1] == '\\') return 1;
  if (len + 2 > size) return 0;
  path[len] = '\\';
  path[len + 1] = '\0';
  return 1;
}

int SplitFolderPath(char *path, char *parent, size_t parent_size) {
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

int IsUninstallerPath(const char *path) {
  const size_t name_len = sizeof(UNINSTALLER_NAME) - 1;  // 12
  size_t len = strlen(path);
  return len >= name_len && strcmp(path + len - name_len, UNINSTALLER_NAME) == 0;
}
