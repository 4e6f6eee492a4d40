// Looking at the setup window's owner-drawn controls from outside: setup.exe held still with
// its window on screen, screen pixels compared with pictures drawn here, the pointer's image
// as the X server shows it, and a stand-in for the user's web browser.
//
// The window is held still by a run that fails: its package's setup program entry is damaged,
// so the run stops in its failure message box, which is owned by the still visible setup
// window and whose modal loop keeps dispatching the window's messages. Nothing is unpacked
// but the list file, and the Windows folder is not touched.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// The address setup.exe was built with (the CMake cache variable SETUP_LINK_URL).
std::string LinkUrl();

// ---- Pictures -----------------------------------------------------------------------------

// Pixels of a rectangle as COLORREF values (0x00BBGGRR), row by row from the top.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;
  COLORREF at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// What the screen shows in `rect` (screen coordinates), read from the display (GetDC(NULL)),
// so it is what the user sees. False when the display cannot be read.
bool CaptureScreen(const RECT& rect, Picture* out);

// A picture of width x height drawn by `paint` into a 32-bit memory context compatible with
// the screen (the colours come out as the screen would show them).
Picture DrawPicture(int width, int height, const std::function<void(HDC)>& paint);

// Number of pixels that differ (pictures of different sizes differ everywhere); `where`, when
// given, describes the first one.
int CountDifferences(const Picture& seen, const Picture& expected, std::string* where = nullptr);

// Captures `rect` until it shows `expected` or timeout_ms has passed (a window of another
// process repaints in its own time). Returns the last capture's difference count; *seen
// receives the last capture.
int WaitForPicture(const RECT& rect, const Picture& expected, Picture* seen,
                   DWORD timeout_ms = 10000);

// MS Sans Serif at `points` for this display's dots per inch, as setup.exe makes its fonts.
HFONT MakeSansSerif(int points, bool bold, bool underline);

// Width and height of `text` in `font` on the screen.
SIZE TextSize(HFONT font, const std::string& text);

// A window's client area in screen coordinates.
RECT ClientOnScreen(HWND window);

// ---- setup.exe held still -----------------------------------------------------------------

class StalledSetup {
 public:
  // Writes the package into the scenario's start folder and starts setup.exe (or `exe`, a
  // branded copy) there with `options` (TMP/TEMP default to the scenario's). WaitStalled
  // says when it did not start.
  StalledSetup(const Scenario& scenario, StartOptions options = {}, const std::string& exe = "");
  // Answers the box if it is still up, so the run can clean up and end.
  ~StalledSetup();
  StalledSetup(const StalledSetup&) = delete;
  StalledSetup& operator=(const StalledSetup&) = delete;

  // Waits until the failure box and the setup window are both up, then moves the box where
  // it covers nothing of the setup window and puts the setup window above other programs'
  // windows (topmost). False (with the reason in *why) otherwise.
  bool WaitStalled(std::string* why);

  const Process& process() const { return process_; }
  HWND window() const { return window_; }
  HWND box() const { return box_; }
  HWND bar() const;   // IDC_PROGRESS
  HWND link() const;  // IDC_LINK

  // Sends WM_SETPERCENT to the bar and waits until it has been handled (its handler waits
  // 10 ms dispatching messages). False when the bar did not answer.
  bool SetPercent(int value) const;

  // Answers the failure box and waits for setup.exe to end. True with its exit code.
  bool Finish(DWORD* exit_code);

 private:
  Process process_;
  HWND window_ = nullptr;
  HWND box_ = nullptr;
};

// ---- The pointer as the X server shows it -------------------------------------------------

// A cursor image as rows of characters: 'X' opaque black, '.' opaque white, ' ' transparent,
// '?' anything else; with its hot spot.
struct CursorShape {
  std::vector<std::string> rows;
  int hot_x = 0;
  int hot_y = 0;
  bool operator==(const CursorShape& o) const {
    return rows == o.rows && hot_x == o.hot_x && hot_y == o.hot_y;
  }
};

// Whether tests/e2e/cursor_probe.py runs this test program (it sets E2E_CURSOR_PROBE_DIR).
// Only it can read the pointer's image: Wine keeps a cursor's bits in the process that made
// it, so no Windows call of another process can read setup.exe's cursor.
bool CursorProbeAvailable();

// Asks the probe for the pointer's current image. False when there is no probe or it did
// not answer within timeout_ms.
bool ReadScreenCursor(CursorShape* shape, DWORD timeout_ms = 10000);

// The cursor resource `id` of the program file `exe`, as the same kind of rows: a monochrome
// cursor's AND and XOR masks (AND 1 = transparent; else XOR 1 = white, 0 = black).
bool LoadCursorShape(const std::string& exe, int id, CursorShape* shape);

// ---- A stand-in browser -------------------------------------------------------------------

// While it lives, the shell opens http and https addresses with fakesetup.exe "<address>"
// (HKLM\Software\Classes\<scheme>\shell\open\command: Wine ignores the per-user classes),
// so a test can read from fakesetup's record what was opened and how. The handler that stood
// there before is kept beside it and put back when this goes, also when the test failed (and
// by the next stand-in, had the test program died). It is prefix-wide: only tests that hold
// the setup_exe resource lock (the only ones that can open an address) may use it.
class BrowserStandIn {
 public:
  BrowserStandIn();
  ~BrowserStandIn();
  BrowserStandIn(const BrowserStandIn&) = delete;
  BrowserStandIn& operator=(const BrowserStandIn&) = delete;
  bool ok() const { return ok_; }

 private:
  struct Saved {
    std::string scheme;
    std::string created;  // the outermost key this made, "" if none
  };
  std::vector<Saved> saved_;
  bool ok_ = false;
};

}  // namespace e2e
