// The Win32 side of progress: sending the percentage to the bar window as the inflater
// reports, and the timed waits that keep the window responsive while the run never returns
// to its message loop. The arithmetic is in progress.h.
//
// Everything runs on the window's thread. Any message handler may run inside WaitPumping,
// that is in the middle of an entry's inflation or of the bar's own percentage handler.
#ifndef PROGRESS_PROGRESS_WIN_H
#define PROGRESS_PROGRESS_WIN_H

#include <windows.h>

#include <stdint.h>

#include "package.h"

// Attaches the bar, sets the expected total (list line 8 + line 9) and installs
// ReportInflateProgress as the inflater's progress sink. Called once, by the list stage;
// before it no reports are made and nothing is counted.
void StartProgress(HWND bar, uint32_t expected_total);

// The sink to hand to ReadEntry: NULL before StartProgress (no reports), afterwards one that
// calls ReportInflateProgress.
const struct ProgressSink* InflateProgressSink(void);

// One inflater report: bytes_out payload bytes produced so far for the current entry, end = 1
// on its last report. With a bar attached, sends it the overall percentage (WM_SETPERCENT,
// handled before this returns) and then WM_PAINT, so that the bar repaints now although no
// message loop runs. An expected total of 0 shows 100 %.
void ReportInflateProgress(uint32_t bytes_out, int end);

// Returns after at least `ms` milliseconds, spinning without sleeping. When `dispatch` is
// nonzero, dispatches at most one pending message per turn (PumpOneMessage). At least one
// turn is always made.
void WaitPumping(uint32_t ms, int dispatch);

// Removes the thread's next pending message, if any, and translates and dispatches it.
// No dialog keyboard handling; a quit message taken out this way has no further effect.
void PumpOneMessage(void);

// Bold MS Sans Serif of `points` points on `dc`'s device, underlined or not: the bar's label
// and the window's link label (progressbar.cpp). NULL when it cannot be made.
HFONT CreateBoldFont(HDC dc, int points, BOOL underline);

// --- The progress bar (progressbar.cpp) ---------------------------------------------------
//
// The template's static control IDC_PROGRESS becomes the bar: InstallProgressBar replaces its
// window procedure outright (the static's own is never called again; what the bar does not
// handle goes to DefWindowProcA). The bar then:
//   WM_SETPERCENT (wParam = value): clamps the value to 0..100, makes the label "N%",
//     invalidates itself and waits 10 ms dispatching messages (WaitPumping(10, 1)), which
//     normally lets the repaint happen; result 0. Every value costs the wait, also an
//     unchanged one.
//   WM_PAINT: draws off-screen and copies the result in one BitBlt: the filled part (left of
//     BarSplit) in the selection colour (COLOR_HIGHLIGHT), the rest in the selection-text
//     colour (COLOR_HIGHLIGHTTEXT), the label centred across both, each side in the other
//     colour; result 0. The label font (MS Sans Serif, bold, BAR_LABEL_POINTS) is made at
//     the first paint and kept until WM_DESTROY.
//   WM_ERASEBKGND: nothing, result 1 (painting covers everything; no flicker).
//   WM_NCMOUSEMOVE: the wait cursor, result 1.
// One bar per process: its percentage, label and font are module state. A NULL bar is
// ignored.
void InstallProgressBar(HWND bar);

#endif
