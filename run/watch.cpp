// The watch of the launched setup program: every WM_TIMER of the setup window comes here.
//
// States: launched and visible (until the first tick), running and hidden (every tick that
// finds the program still active hides the window again; it is never shown again), and
// finishing (the tick that finds it ended cleans up and destroys the window).
#include "progress_win.h"
#include "resource.h"
#include "run.h"
#include "watchrule.h"
#include "internal.h"

static_assert(WATCH_WAIT_TIMEOUT == WAIT_TIMEOUT, "watchrule.h's WAIT_TIMEOUT");

void OnWatchTimer(HWND window) {
  if (SetupProgramStillRuns(WaitForSingleObject(g_process.hProcess, 0))) {
    ShowWindow(window, SW_HIDE);
    return;
  }
  // Stopped before the waits below, so that no further tick is dispatched inside them.
  KillTimer(window, ID_WATCH_TIMER);
  SetCurrentDirectoryA(g_start_folder);
  // Give the ended program's process time to release its files before they are deleted.
  WaitPumping(200, 1);
  CleanUpFiles();
  WaitPumping(100, 1);
  // A plain delete: a setup program whose stored attributes made it read-only stays.
  DeleteFileA(g_program_path);
  EndDialog(window, 1);
  // Destruction posts the quit message (the window's WM_DESTROY), and the program exits.
  DestroyWindow(window);
}
