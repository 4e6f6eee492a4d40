// The setup run's decisions that carry arithmetic or text handling, as small pure functions:
// the disk space check, message composition, the choice of working folder, folder path
// splitting, the uninstaller rule, the file table's size, the check of the unpacked setup
// program, waiting arithmetic and the progress label. Portable (no <windows.h>): setup.exe uses them and the native unit tests
// call them directly.
#ifndef RUN_DECIDE_H
#define RUN_DECIDE_H

#include <stddef.h>
#include <stdint.h>

enum {
  PATH_LIMIT = 260,           // characters the Windows calls of the run accept for a path
  TEXT_LOAD_SIZE = 260,       // bytes for one text loaded from the message catalogue
  MESSAGE_MAX = 519,          // characters in a composed message (or a path being built)
  MESSAGE_BUFFER_SIZE = 520,  // the general message and path buffer
  PERCENT_LABEL_SIZE = 8      // "100%" and its terminating zero fit with room to spare
};

// --- Disk space -------------------------------------------------------------------------

// Free bytes from GetDiskFreeSpaceA's three factors, multiplied in 64 bits; a product that
// would not fit 64 bits gives UINT64_MAX (more than any expected total).
uint64_t FreeSpaceBytes(uint32_t free_clusters, uint32_t sectors_per_cluster,
                        uint32_t bytes_per_sector);

// Whether the disk has room: 1 only when the free space is strictly greater than the expected
// total (equal is refused, so that a disk filled to the last byte is never accepted).
int HasRoomFor(uint32_t free_clusters, uint32_t sectors_per_cluster, uint32_t bytes_per_sector,
               uint32_t expected_total);

// --- Messages ---------------------------------------------------------------------------

// Every way the run can fail, each with its own message.
enum RunFailure {
  FAIL_NEED_WIN32,       // Win32s or a system older than version 4
  FAIL_NO_TEMP,          // the working folder cannot be created
  FAIL_NO_PACKAGE,       // "_Data.001" cannot be opened
  FAIL_CORRUPT_PACKAGE,  // bad header, entry record or stream
  FAIL_NO_LIST,          // the unpacked list file cannot be opened; arg: the base name
  FAIL_LIST_CORRUPT,     // a needed list line is missing or malformed, or the count is 0
  FAIL_NO_SPACE,         // the disk has too little room
  FAIL_CANNOT_COPY,      // a file cannot be created or written; arg: its path
  FAIL_CANNOT_RUN        // the setup program cannot be started; arg: its path
};

// Loads catalogue text `id` into buf[size], NUL-terminated; returns its length (0 when the
// text is missing, buf then empty). setup.exe passes LoadStringA; tests pass a table.
typedef int (*TextLoader)(void *ctx, unsigned id, char *buf, int size);

// Composes the message for `failure` into out[MESSAGE_BUFFER_SIZE] from the catalogue texts
// (each loaded into TEXT_LOAD_SIZE bytes), the package name and `arg` (see RunFailure; NULL
// is taken as empty). The result is cut at MESSAGE_MAX characters. Returns its length.
size_t ComposeFailure(int failure, const char *arg, TextLoader load, void *ctx, char *out);

// Appends `text` to the NUL-terminated `buf` of `size` bytes, cutting it so that the result
// still fits. Returns the new length.
size_t AppendText(char *buf, size_t size, const char *text);

// --- Folders and paths ------------------------------------------------------------------

// Whether GetTempPathA's reported length leaves the run without a temporary folder, so that
// the Windows directory must be used: below 3 characters (0 is a failed call), or 260 and
// more, which is the size a path that did not fit the 260-byte buffer would need (nothing
// usable has then been written).
int TempPathUnusable(uint32_t reported_length);

// Appends a backslash to `path` (NUL-terminated, `size` bytes) unless it already ends with
// one. Returns 0 when there is no room (path unchanged), else 1.
int EnsureTrailingBackslash(char *path, size_t size);

// The path handling of DirectoryExists. Removes one trailing backslash from `path` (in the
// caller's string: the working folder is shortened on purpose and gets its backslash back
// later). If the path then holds no backslash, returns -1: such a path counts as existing.
// Otherwise puts the folder part, ending with a backslash (so that "C:" stays the root
// "C:\"), into parent[parent_size] and returns the offset in `path` of the leaf, the part
// after the last backslash. A folder part that does not fit parent_size also gives -1.
int SplitFolderPath(char *path, char *parent, size_t parent_size);

// Whether `path` names the uninstaller: its last 12 characters are exactly "KQUninst.exe"
// (case-sensitive). A shorter path never matches.
int IsUninstallerPath(const char *path);

// --- File table -------------------------------------------------------------------------

// Bytes of a file table of `slots` 26-byte slots; 0 for no slots, and 0 when the table would
// exceed 2^31 - 1 bytes, which no 32-bit process can allocate (and which would wrap a 32-bit
// size in the multiplication).
uint32_t FileTableBytes(uint32_t slots);

// --- Setup program check ----------------------------------------------------------------

struct ByteReader;

// What was written to a file: the number of bytes and their Adler-32 (zlib's, seeded with 1).
struct FileDigest {
  uint32_t length;  // bytes
  uint32_t adler;   // Adler-32 of those bytes
};

// The digest of data[0..length).
void DigestBytes(const void *data, uint32_t length, struct FileDigest *digest);

// Reads `r` to its end and says whether it delivered exactly digest->length bytes with
// digest->adler as their Adler-32: 1 when they match, 0 when they differ or a read fails.
// Reading stops at the first byte past digest->length, so that a much longer file is not
// read through.
int ContentMatches(struct ByteReader *r, const struct FileDigest *digest);

// --- Waiting and progress ---------------------------------------------------------------

// Whether a wait that began at tick `start` and lasts `ms` milliseconds is over at tick `now`.
// Tick counts wrap every 49.7 days; the difference is taken modulo 2^32, so a wrap during
// the wait does not end or prolong it.
int WaitIsOver(uint32_t start, uint32_t now, uint32_t ms);

// The progress bar's label: the value clamped to 0..100, in decimal, followed by "%", in
// label[PERCENT_LABEL_SIZE]. Returns the clamped value.
int FormatPercentLabel(int value, char *label);

#endif
