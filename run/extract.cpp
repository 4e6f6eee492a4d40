// Unpacking one entry of the package to a file: the Win32 side of entry extraction. The
// portable core reads the record, inflates the stream (reporting progress) and decodes the
// file header; this file writes the data and applies the stored times and attributes.
#include "format.h"
#include "handlereader.h"
#include "package.h"
#include "paths.h"
#include "progress_win.h"
#include "run.h"
#include "internal.h"

static FILETIME ToFileTime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)t;
  ft.dwHighDateTime = (DWORD)(t >> 32);
  return ft;
}

// Makes room for the new file: a read-only or hidden file left by an earlier run would make
// CREATE_ALWAYS fail. A folder of that name (an empty support file name gives the working
// folder itself) keeps its attributes; creating the file then fails.
static void ClearOldAttributes(const char* path) {
  DWORD old = GetFileAttributesA(path);
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY)) return;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

// Writes data[0..length) to a new file at `path`. Returns 0 when the file cannot be created,
// or when writing fails or comes up short (a full disk, for one); a partly written file is
// deleted then, so that no truncated program is left for anyone to start.
static int WriteNewFile(const char* path, const unsigned char* data, uint32_t length) {
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  BOOL ok = length == 0 || WriteFile(file, data, length, &written, NULL);
  CloseHandle(file);
  if (!ok || written != length) {
    DeleteFileA(path);
    return 0;
  }
  return 1;
}

// Sets the stored times, then the stored attributes. The file is opened anew for this: closing
// a file that has just been written can itself update its last write time, which would undo
// the stored one. When the file cannot be opened again, times and attributes stay as
// created; the data is there, so the extraction still counts.
static void ApplyStoredHeader(const char* path, const struct FileHeader* header) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME created = ToFileTime(header->created);
  FILETIME accessed = ToFileTime(header->accessed);
  FILETIME written = ToFileTime(header->written);
  SetFileTime(file, &created, &accessed, &written);
  CloseHandle(file);
  if (header->attributes != KEEP_ATTRIBUTES) SetFileAttributesA(path, header->attributes);
}

// Failures close the package through FatalError, first thing.
int ExtractEntry(const char* path, struct FileDigest* written_digest) {
  struct ByteReader reader;
  InitHandleReader(&reader, g_package);
  struct Entry entry;
  // Every way reading or inflating an entry can fail means the same to the user: the package
  // is corrupt. That includes our decisions for a buffer that cannot be allocated (a declared
  // size near 4 GiB) and for a payload shorter than its 28-byte file header.
  if (ReadEntry(&reader, InflateProgressSink(), &entry) != ENTRY_OK) return ReportCorruptPackage();

  struct FileHeader header;
  if (!ParseFileHeader(entry.payload, entry.length, &header)) {
    FreeEntry(&entry);
    return ReportCorruptPackage();
  }

  ClearOldAttributes(path);
  const unsigned char* data = entry.payload + FILE_HEADER_SIZE;
  const uint32_t length = entry.length - FILE_HEADER_SIZE;
  if (written_digest) DigestBytes(data, length, written_digest);
  int written = WriteNewFile(path, data, length);
  FreeEntry(&entry);
  if (!written) return ReportFailure(FAIL_CANNOT_COPY, path);

  ApplyStoredHeader(path, &header);
  // The uninstaller stays in the Windows directory after the run; read-only and hidden keep
  // it out of the way whatever its file header says.
  if (IsUninstallerPath(path)) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  }
  return 1;
}
