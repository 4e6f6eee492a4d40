// The setup window's dialog procedure: one small handler per message.
#include "buffers.h"
#include "failure.h"
#include "progress_win.h"
#include "resource.h"
#include "run.h"
#include "window.h"

// --- Module state ------------------------------------------------------------------------
// s_previous_cursor  the cursor before the wait cursor went up; set by WM_INITDIALOG, put
//                    back by WM_DESTROY (which may come twice; putting it back twice is
//                    harmless).
static HCURSOR s_previous_cursor = NULL;

static HCURSOR WaitCursor(void) { return LoadCursorA(NULL, IDC_WAIT); }

// Win32s (platform 0) and Windows NT 3.x lack what the run and the setup programs need.
static int SystemSupported(void) {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  return version.dwPlatformId != VER_PLATFORM_WIN32s && version.dwMajorVersion >= 4;
}

static void CentreOnScreen(HWND window) {
  RECT outer;
  GetWindowRect(window, &outer);
  int x = GetSystemMetrics(SM_CXSCREEN) / 2 - (outer.right - outer.left) / 2;
  int y = GetSystemMetrics(SM_CYSCREEN) / 2 - (outer.bottom - outer.top) / 2;
  // SWP_FRAMECHANGED: the caption's text was just set; have the frame redrawn with it.
  SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
}

// Runs the whole setup: when this returns, the setup program has been launched (1) or the
// run has failed and the window has been told to quit (0).
static INT_PTR OnInitDialog(HWND window) {
  s_previous_cursor = SetCursor(WaitCursor());
  // Before anything can fail: message boxes are owned by this window.
  AttachSetupWindow(g_program_instance, window);
  KeepLinkLabelProc(GetDlgItem(window, IDC_LINK));

  if (!SystemSupported()) {
    ReportFailure(FAIL_NEED_WIN32, NULL);
    return 0;  // nothing else: the disk is not touched
  }

  InstallLinkLabel(GetDlgItem(window, IDC_LINK));
  InstallProgressBar(GetDlgItem(window, IDC_PROGRESS));
  FitLinkLabel(window, GetDlgItem(window, IDC_LINK));

  char title[TEXT_LOAD_SIZE];
  LoadCatalogueText(IDS_TITLE, title);
  SetWindowTextA(window, title);
  CentreOnScreen(window);
  return StartRun(window) ? 1 : 0;
}

static INT_PTR OnDestroy(HWND window) {
  ReleaseLinkLabel(GetDlgItem(window, IDC_LINK));
  SetCursor(s_previous_cursor);
  PostQuitMessage(0);
  return 1;
}

// Keeps the wait cursor over the window's client area and over the controls that let the
// mouse through (icon, message text): the class cursor is the wait cursor only while the
// default procedure picks the cursor, so other windows of the dialog class are not affected.
static INT_PTR OnSetCursor(HWND window, WPARAM wparam, LPARAM lparam) {
  ULONG_PTR previous = SetClassLongPtrA(window, GCLP_HCURSOR, (LONG_PTR)WaitCursor());
  DefWindowProcA(window, WM_SETCURSOR, wparam, lparam);
  SetClassLongPtrA(window, GCLP_HCURSOR, (LONG_PTR)previous);
  return 1;
}

static INT_PTR OnCtlColorStatic(HWND window, WPARAM wparam, LPARAM lparam) {
  if ((HWND)lparam == GetDlgItem(window, IDC_LINK)) {
    return LinkLabelColours(window, (HDC)wparam, lparam);
  }
  // Any other static keeps its default drawing. Not 0: the dialog manager takes the value
  // as the background brush of the icon and the message text.
  return 1;
}

INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      // The run lives here, so that the window is on screen while files are unpacked.
      return OnInitDialog(window);

    case WM_TIMER:
      // The only timer is the watch of the launched setup program.
      OnWatchTimer(window);
      return 0;

    case WM_DESTROY:
      // Also sent directly (FatalError, a click on the window) to end the program at once.
      return OnDestroy(window);

    case WM_CLOSE:
      // Not closable (the task bar's close command, for one): the bootstrapper stays until
      // the setup program has ended, so that it can clean up after it.
      return 1;

    case WM_LBUTTONDOWN:
      // A click on the window's own surface (the icon and message text let clicks through;
      // the link label and the progress bar keep theirs) ends the program at once.
      SendMessageA(window, WM_DESTROY, 0, 0);
      return 1;

    case WM_SETCURSOR:
      // The wait cursor, while the run is busy, over everything but the link label.
      return OnSetCursor(window, wparam, lparam);

    case WM_NCMOUSEMOVE:
      // The frame and caption get the wait cursor too.
      SetCursor(WaitCursor());
      return 1;

    case WM_ACTIVATEAPP:
      // Coming back from another application: the run may be inside a long inflation, so
      // repaint everything now rather than when a message loop gets to it.
      if (wparam) {
        RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      }
      return 0;

    case WM_CTLCOLORSTATIC:
      // The link label's font and colour; the brush is returned as the result itself.
      return OnCtlColorStatic(window, wparam, lparam);

    default: return 0;
  }
}
