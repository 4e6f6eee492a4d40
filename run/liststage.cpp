// The list stage: sizes, disk space, progress count and the file table from the list file.
#include <string.h>

#include "diskspace.h"
#include "filetable.h"
#include "format.h"
#include "handlereader.h"
#include "listfile.h"
#include "progress_win.h"
#include "resource.h"
#include "run.h"
#include "internal.h"

// --- Module state ------------------------------------------------------------------------
// g_file_table  one zero-filled slot per support file, each a NUL-terminated name of at most
//               25 characters; allocated and filled by RunListStage, released and cleared
//               by CleanUpFiles. NULL when the list names no support files.
// g_file_slots  slots in g_file_table; set with it, cleared with it.
char (*g_file_table)[SUPPORT_SLOT_SIZE] = NULL;
uint32_t g_file_slots = 0;

// The list file while it is read; only RunListStage and its helpers use it.
static HANDLE s_list = INVALID_HANDLE_VALUE;

// Closes the list before reporting: FatalError's clean-up deletes the list file, which an
// open handle without sharing would prevent.
static int ListFailure(int failure) {
  CloseHandle(s_list);
  s_list = INVALID_HANDLE_VALUE;
  return ReportFailure(failure, NULL);
}

// Refuses to unpack when the working folder's disk cannot hold the expected total. When the
// query itself fails (older systems accept only a drive's root directory here, not a
// folder), there is nothing to compare and unpacking goes ahead.
static int CheckDiskSpace(uint32_t expected_total) {
  DWORD sectors_per_cluster, bytes_per_sector, free_clusters, total_clusters;
  if (!GetDiskFreeSpaceA(g_working_folder, &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                         &total_clusters)) {
    return 1;
  }
  if (HasRoomFor(free_clusters, sectors_per_cluster, bytes_per_sector, expected_total)) return 1;
  return ListFailure(FAIL_NO_SPACE);
}

// Allocates the file table and fills it from the support file lines, in list order (which is
// the order of the entries in the package).
static int ReadFileTable(struct ListReader* list) {
  if (list->slots == 0) return 1;  // a negative count: setup program and uninstaller only
  uint32_t bytes = FileTableBytes(list->slots);
  // Our decision: a table that cannot be allocated (a count no real list has) is reported
  // as a corrupt list rather than written through a null pointer.
  g_file_table = bytes ? (char(*)[SUPPORT_SLOT_SIZE])GlobalAlloc(GPTR, bytes) : NULL;
  if (!g_file_table) return ListFailure(FAIL_LIST_CORRUPT);
  g_file_slots = list->slots;
  for (uint32_t i = 0; i < list->slots; ++i) {
    // The reader refuses fields and names too long for their buffers, and names that would
    // leave the working folder ("..", "a\b", "C:x") or open a device. The slot is only
    // written with a complete name, so the clean-up never deletes a half-copied one.
    if (ReadListName(list, g_file_table[i]) != LIST_OK) return ListFailure(FAIL_LIST_CORRUPT);
  }
  return 1;
}

int RunListStage(void) {
  char list_path[MESSAGE_BUFFER_SIZE];
  BuildPath(list_path, g_working_folder, g_base_name, LIST_SUFFIX);
  s_list =
      CreateFileA(list_path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (s_list == INVALID_HANDLE_VALUE) return ReportFailure(FAIL_NO_LIST, g_base_name);
  struct ByteReader reader;
  InitHandleReader(&reader, s_list);
  struct ListReader list;
  StartListReader(&list, &reader);

  // A line that cannot be read, a line without "=", a count of 0 or an unusable name: the
  // list is corrupt, whichever step finds it.
  if (ReadListSizes(&list) != LIST_OK) return ListFailure(FAIL_LIST_CORRUPT);
  if (!CheckDiskSpace(list.expected)) return 0;
  if (ReadListCount(&list) != LIST_OK) return ListFailure(FAIL_LIST_CORRUPT);

  // From here on every inflated byte counts; the list file itself, unpacked before, does not.
  StartProgress(GetDlgItem(g_setup_window, IDC_PROGRESS), list.expected);
  if (!ReadFileTable(&list)) return 0;

  CloseHandle(s_list);
  s_list = INVALID_HANDLE_VALUE;
  return UnpackAndLaunch();
}
