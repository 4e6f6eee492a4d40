// Unpacking the remaining entries and launching the setup program.
#include <string.h>

#include "format.h"
#include "handlereader.h"
#include "package.h"
#include "progress_win.h"
#include "resource.h"
#include "run.h"
#include "internal.h"

// --- Module state ------------------------------------------------------------------------
// g_program_path  working folder + program stem + "1.exe"; set by UnpackAndLaunch before the
//                 setup program is unpacked, never cleared. The watch deletes this file once
//                 the program has ended.
// g_process       the launched setup program; filled by CreateProcessA in UnpackAndLaunch,
//                 polled by the watch. Its handles are never closed: the process ends soon
//                 after the program it watches.
// g_program_hold  a read handle on the setup program that lets others only read it; taken by
//                 UnpackAll right after the program is unpacked, closed by Launch as soon as
//                 CreateProcessA has returned (or by UnpackAndLaunch when the run stops
//                 before that). INVALID_HANDLE_VALUE when not held.
char g_program_path[MESSAGE_BUFFER_SIZE];
PROCESS_INFORMATION g_process;
static HANDLE g_program_hold = INVALID_HANDLE_VALUE;

// 0x04000220: a fresh error mode (the bootstrapper's must not leak into the installer), a
// process group of its own, normal priority.
static const DWORD kLaunchFlags =
    CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;

static_assert(kLaunchFlags == 0x04000220, "creation flags of the setup program");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68,
              "the 32-bit STARTUPINFOA the setup program is started with");

static const UINT kWatchPeriod = 200;  // ms between two looks at the setup program

// The working folder is the temporary folder, which any program of the user can write, and the
// bootstrapper may run elevated: between unpacking the setup program and starting it, someone
// else could put their own program in its place. Holding it open with read sharing only makes
// every attempt to open it for writing, to delete it or to rename it fail, while
// CreateProcessA, which only reads and maps the file, can still start it. Returns 0 when it
// cannot be held: another handle has write or delete access to it, so what would be started
// cannot be vouched for.
//
// The hold comes only after the file has been written, closed, opened again for its times
// and given its attributes; in those gaps it could already have been replaced, and the hold
// would then protect the replacement. So the held file is read back and must be, byte count
// and checksum, what was written (`written`); anything else is not started (returns 0).
static int HoldProgram(const struct FileDigest* written) {
  g_program_hold =
      CreateFileA(g_program_path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (g_program_hold == INVALID_HANDLE_VALUE) return 0;
  struct ByteReader reader;
  InitHandleReader(&reader, g_program_hold);
  return ContentMatches(&reader, written);
}

static void ReleaseProgram(void) {
  if (g_program_hold == INVALID_HANDLE_VALUE) return;
  CloseHandle(g_program_hold);
  g_program_hold = INVALID_HANDLE_VALUE;
}

// Unpacks the entries after the list file in package order (format.h's EntryRole: the setup
// program, the uninstaller, the support files), each step with its own destination and checks.
// Returns 1 when everything is unpacked; 0 when an extraction failed (already reported); -1
// when the setup program could not be held or is no longer what was written (not yet
// reported: the caller treats it as a failed start, with the same message and clean-up).
static int UnpackAll(void) {
  BuildPath(g_program_path, g_working_folder, ProgramStem(g_base_name), PROGRAM_SUFFIX);
  struct FileDigest written;
  if (!ExtractEntry(g_program_path, &written)) return 0;
  BeforeProgramHold(g_program_path);
  if (!HoldProgram(&written)) return -1;

  // The uninstaller goes to the Windows directory, where it stays after the run.
  char windows_dir[MESSAGE_BUFFER_SIZE];
  char path[MESSAGE_BUFFER_SIZE];
  windows_dir[0] = '\0';
  GetWindowsDirectoryA(windows_dir, PATH_LIMIT);
  BuildPath(path, windows_dir, "\\", UNINSTALLER_NAME);
  if (!ExtractEntry(path, NULL)) return 0;

  for (uint32_t i = 0; i < g_file_slots; ++i) {
    BuildPath(path, g_working_folder, g_file_table[i], NULL);
    if (!ExtractEntry(path, NULL)) return 0;
  }
  return 1;
}

// The setup program did not start: clean up and say so. Returns 0.
static int CannotRun(void) {
  ClosePackage();
  // Back to the start folder: the working folder is not ours to keep as current directory
  // once the run has given up.
  SetCurrentDirectoryA(g_start_folder);
  CleanUpFiles();
  WaitPumping(100, 1);
  // A plain delete: a setup program whose stored attributes made it read-only stays.
  DeleteFileA(g_program_path);
  return ReportFailure(FAIL_CANNOT_RUN, g_program_path);
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
  // The hold (HoldProgram) is still on: the file cannot change until the new process has
  // opened and mapped it.
  BOOL started = CreateProcessA(g_program_path, command_line, NULL, NULL, FALSE, kLaunchFlags, NULL,
                                NULL, &startup, &g_process);
  // The started process has its own mapping of the file; a failed start must be free to
  // delete it below.
  ReleaseProgram();
  return started;
}

int UnpackAndLaunch(void) {
  int unpacked = UnpackAll();
  if (unpacked <= 0) {
    ReleaseProgram();
    if (unpacked == 0) return 0;
    return CannotRun();
  }
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

  return CannotRun();
}
