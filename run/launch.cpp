// Unpacking the remaining entries and launching the setup program.
#include <string.h>

#include "format.h"
#include "package.h"
#include "progress_win.h"
#include "resource.h"
#include "run.h"
#include "runstate.h"

// --- Module state ------------------------------------------------------------------------
// g_program_path  working folder + program stem + "1.exe"; set by UnpackAndLaunch before the
//                 setup program is unpacked, never cleared. The watch deletes this file once
//                 the program has ended.
// g_process       the launched setup program; filled by CreateProcessA in UnpackAndLaunch,
//                 polled by the watch. Its handles are never closed: the process ends soon
//                 after the program it watches.
char g_program_path[MESSAGE_BUFFER_SIZE];
PROCESS_INFORMATION g_process;

// 0x04000220: a fresh error mode (the bootstrapper's must not leak into the installer), a
// process group of its own, normal priority.
static const DWORD kLaunchFlags =
    CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;

static_assert(kLaunchFlags == 0x04000220, "creation flags of the setup program");
static_assert(sizeof(void *) != 4 || sizeof(STARTUPINFOA) == 68,
              "the 32-bit STARTUPINFOA the setup program is started with");

static const UINT kWatchPeriod = 200;  // ms between two looks at the setup program

static int UnpackAll(void) {
  BuildPath(g_program_path, g_working_folder, ProgramStem(g_base_name), PROGRAM_SUFFIX);
  if (!ExtractEntry(g_program_path)) return 0;

  // The uninstaller goes to the Windows directory, where it stays after the run.
  char windows_dir[MESSAGE_BUFFER_SIZE];
  char path[MESSAGE_BUFFER_SIZE];
  windows_dir[0] = '\0';
  GetWindowsDirectoryA(windows_dir, PATH_LIMIT);
  BuildPath(path, windows_dir, "\\", UNINSTALLER_NAME);
  if (!ExtractEntry(path)) return 0;

  for (uint32_t i = 0; i < g_file_slots; ++i) {
    BuildPath(path, g_working_folder, g_file_table[i], NULL);
    if (!ExtractEntry(path)) return 0;
  }
  return 1;
}

static BOOL Launch(void) {
  // The setup program gets an empty command line whatever the bootstrapper was given. The
  // buffer is writable, as CreateProcess's contract asks of the command line.
  char command_line[1] = {'\0'};
  char desktop[1] = {'\0'};
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;  // 68 bytes in the 32-bit build
  startup.lpDesktop = desktop;
  memset(&g_process, 0, sizeof g_process);
  return CreateProcessA(g_program_path, command_line, NULL, NULL, FALSE, kLaunchFlags, NULL,
                        NULL, &startup, &g_process);
}

int UnpackAndLaunch(void) {
  if (!UnpackAll()) return 0;
  ClosePackage();

  // The setup program inherits this as its current directory and finds its support files
  // beside it. The result is not checked: a failure shows up as a failed start below.
  SetCurrentDirectoryA(g_working_folder);
  if (Launch()) {
    // Let the new program put up its first window before the watch starts.
    WaitPumping(400, 1);
    SetTimer(g_setup_window, ID_WATCH_TIMER, kWatchPeriod, NULL);
    return 1;
  }

  // Back to the start folder: the working folder is not ours to keep as current directory
  // once the run has given up.
  SetCurrentDirectoryA(g_start_folder);
  CleanUpFiles();
  WaitPumping(100, 1);
  // A plain delete: a setup program whose stored attributes made it read-only stays.
  DeleteFileA(g_program_path);
  return ReportFailure(FAIL_CANNOT_RUN, g_program_path);
}
