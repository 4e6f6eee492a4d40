// Start of the run: the working folder, the package file and its header, the list file.
#include "format.h"
#include "handlereader.h"
#include "package.h"
#include "paths.h"
#include "pin.h"
#include "progress_win.h"
#include "run.h"
#include "internal.h"

// --- Module state ------------------------------------------------------------------------
// g_start_folder    the current directory when the run began; set by StartRun, never cleared.
//                   The launch and the watch change back to it before deleting files.
// g_working_folder  where the list file, the setup program and the support files go; set by
//                   StartRun, always ending with a backslash once the package is opened.
// g_package         the open package, positioned after the last entry read; opened by
//                   StartRun, closed by ClosePackage (end of unpacking, or FatalError).
// g_base_name       "Instal", "Setup" or "Instalar" from the header's kind byte; set by
//                   StartRun, never cleared. NULL until then, which tells CleanUpFiles that
//                   no list file can have been unpacked.
char g_start_folder[MESSAGE_BUFFER_SIZE];
char g_working_folder[MESSAGE_BUFFER_SIZE];
HANDLE g_package = INVALID_HANDLE_VALUE;
const char* g_base_name = NULL;

void ClosePackage(void) {
  if (g_package == INVALID_HANDLE_VALUE) return;
  CloseHandle(g_package);
  g_package = INVALID_HANDLE_VALUE;
}

void BuildPath(char* path, const char* folder, const char* name, const char* suffix) {
  path[0] = '\0';
  AppendText(path, MESSAGE_BUFFER_SIZE, folder);
  AppendText(path, MESSAGE_BUFFER_SIZE, name);
  AppendText(path, MESSAGE_BUFFER_SIZE, suffix);
}

int DirectoryExists(char* path) {
  char parent[MESSAGE_BUFFER_SIZE];
  int leaf = SplitFolderPath(path, parent, sizeof parent);
  if (leaf < 0) return 1;
  // The leaf is searched for from inside its parent, and the current directory is put back
  // afterwards: the run's own current directory must stay the start folder, where
  // "_Data.001" is looked up. A failed change to the parent is not checked; the leaf is then
  // looked up in the current directory.
  char saved[MESSAGE_BUFFER_SIZE];
  saved[0] = '\0';
  GetCurrentDirectoryA(PATH_LIMIT, saved);
  SetCurrentDirectoryA(parent);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path + leaf, &found);
  SetCurrentDirectoryA(saved);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return 1;
}

// Fills g_working_folder: the temporary folder, or the Windows directory when there is none.
static void ChooseWorkingFolder(void) {
  DWORD len = TempPathForRun(PATH_LIMIT, g_working_folder);
  // TempPathUnusable also covers a temporary folder path longer than the buffer: the call
  // then only reports the size it needs, so the Windows directory is used instead.
  if (TempPathUnusable(len)) {
    g_working_folder[0] = '\0';
    GetWindowsDirectoryA(g_working_folder, PATH_LIMIT);
  }
}

// Whether the open package is the one this setup.exe was pinned to (format.h), when it was:
// 1 when it carries no pin (the package is then not read here at all), or when the whole
// file, read through the open handle, has the pinned length and SHA-256; the handle is then
// back at the start. 0 for any other bytes, a read failure or a damaged pin. The handle
// allows no writer, so the bytes hashed are the bytes unpacked afterwards.
static int PackageIsPinnedOne(void) {
  HRSRC found = FindResourceA(g_instance, MAKEINTRESOURCEA(PIN_RESOURCE_ID),
                              MAKEINTRESOURCEA(PIN_RESOURCE_TYPE));
  if (!found) return 1;
  HGLOBAL loaded = LoadResource(g_instance, found);
  const void* data = loaded ? LockResource(loaded) : NULL;
  struct PackagePin pin;
  if (!data || !ParsePackagePin(data, SizeofResource(g_instance, found), &pin)) return 0;
  struct ByteReader reader;
  InitHandleReader(&reader, g_package);
  // The bar stays at 0 % meanwhile; a message between pieces keeps the window answering.
  if (!PackageMatchesPin(&reader, &pin, PumpOneMessage)) return 0;
  return SetFilePointer(g_package, 0, NULL, FILE_BEGIN) == 0;
}

static int OpenPackage(void) {
  // No sharing: nobody may change the package while it is read, and a second copy of the
  // bootstrapper started meanwhile fails here with the could-not-find message.
  g_package = CreateFileA(PACKAGE_FILE_NAME, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, NULL);
  if (g_package == INVALID_HANDLE_VALUE) return ReportFailure(FAIL_NO_PACKAGE, NULL);
  if (!PackageIsPinnedOne()) return ReportCorruptPackage();

  struct ByteReader reader;
  InitHandleReader(&reader, g_package);
  int kind = 0;
  if (!ReadPackageHeader(&reader, &kind)) return ReportCorruptPackage();
  g_base_name = BaseNameForKind(kind);
  return 1;
}

int StartRun(HWND window) {
  g_setup_window = window;  // the same window AttachSetupWindow was given
  g_start_folder[0] = '\0';
  GetCurrentDirectoryA(PATH_LIMIT, g_start_folder);

  ChooseWorkingFolder();
  if (!DirectoryExists(g_working_folder)) {
    // Only the last level is created: a temporary folder whose parent is missing is a broken
    // system setting, not something to repair here. A folder created here is left behind.
    if (!CreateDirectoryA(g_working_folder, NULL)) return ReportFailure(FAIL_NO_TEMP, NULL);
  }
  // DirectoryExists removed the backslash; file names are appended directly to this folder.
  EnsureTrailingBackslash(g_working_folder, sizeof g_working_folder);

  // "_Data.001" has no folder: it is looked up in the current directory, normally the one
  // the bootstrapper was started from.
  if (!OpenPackage()) return 0;

  char list_path[MESSAGE_BUFFER_SIZE];
  BuildPath(list_path, g_working_folder, g_base_name, LIST_SUFFIX);
  if (!ExtractEntry(list_path, NULL)) return 0;
  return RunListStage();
}
