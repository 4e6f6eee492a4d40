// The working folder's path handling and the uninstaller rule. Portable (no <windows.h>):
// setup.exe uses them and the native unit tests call them directly.
#ifndef RUN_PATHS_H
#define RUN_PATHS_H

#include <stddef.h>
#include <stdint.h>

// Whether GetTempPathA's reported length leaves the run without a temporary folder, so that
// the Windows directory must be used: below 3 characters (0 is a failed call), or 260 and
// more, which is the size a path that did not fit the 260-byte buffer would need (nothing
// usable has then been written).
int TempPathUnusable(uint32_t reported_length);

// Appends a backslash to `path` (NUL-terminated, `size` bytes) unless it already ends with
// one. Returns 0 when there is no room (path unchanged), else 1.
int EnsureTrailingBackslash(char* path, size_t size);

// The path handling of DirectoryExists. Removes one trailing backslash from `path` (in the
// caller's string: the working folder is shortened on purpose and gets its backslash back
// later). If the path then holds no backslash, returns -1: such a path counts as existing.
// Otherwise puts the folder part, ending with a backslash (so that "C:" stays the root
// "C:\"), into parent[parent_size] and returns the offset in `path` of the leaf, the part
// after the last backslash. A folder part that does not fit parent_size also gives -1.
int SplitFolderPath(char* path, char* parent, size_t parent_size);

// Whether `path` names the uninstaller: its last 12 characters are exactly "KQUninst.exe"
// (case-sensitive). A shorter path never matches.
int IsUninstallerPath(const char* path);

#endif
