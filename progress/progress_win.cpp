// Win32 side of progress: percentage to the bar, waits that dispatch messages.
#include "progress_win.h"

#include "decide.h"
#include "progress.h"
#include "resource.h"

// --- Module state ------------------------------------------------------------------------
// s_bar        the progress bar control; set by StartProgress, never cleared. NULL before:
//              no report reaches a bar until the list stage has started the count.
// s_count      expected total and bytes reported so far; started by StartProgress.
// s_sink       the inflater's sink; its report procedure is set by StartProgress, so that
//              InflateProgressSink hands out nothing before then.
// s_static_proc  the bar's own (static control) procedure, kept by InstallProgressBar.
static HWND s_bar = NULL;
static struct ProgressCount s_count;
static struct ProgressSink s_sink = {NULL, NULL};
static WNDPROC s_static_proc = NULL;

static void SinkReport(void *, uint32_t bytes_out, int end) {
  ReportInflateProgress(bytes_out, end);
}

void StartProgress(HWND bar, uint32_t expected_total) {
  s_bar = bar;
  StartCount(&s_count, expected_total);
  s_sink.report = SinkReport;
}

const struct ProgressSink *InflateProgressSink(void) {
  return s_sink.report ? &s_sink : NULL;
}

void ReportInflateProgress(uint32_t bytes_out, int end) {
  if (!s_bar) return;
  unsigned percent = AddInflateReport(&s_count, bytes_out, end);
  SendMessageA(s_bar, WM_SETPERCENT, percent, 0);
  // The bar invalidated itself; with no message loop running, the repaint it owes would wait
  // until the end of the run unless it is asked for now.
  SendMessageA(s_bar, WM_PAINT, 0, 0);
}

void PumpOneMessage(void) {
  MSG msg;
  if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void WaitPumping(uint32_t ms, int dispatch) {
  // Spins rather than sleeps: each turn may dispatch a message, and a sleeping thread would
  // leave the window unanswered for the whole wait.
  uint32_t start = GetTickCount();
  for (;;) {
    int over = WaitIsOver(start, GetTickCount(), ms);
    if (dispatch) PumpOneMessage();
    if (over) break;
  }
}

// TO BE REPLACED by the owner-drawn progress bar: until it exists, the bar is the plain
// static of the dialog template and shows the percentage as its text. It keeps the bar's
// contract for WM_SETPERCENT all the same, including the 10 ms wait that lets the window
// repaint and answer the user after every report.
static LRESULT CALLBACK PercentTextProc(HWND bar, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SETPERCENT) {
    char label[PERCENT_LABEL_SIZE];
    FormatPercentLabel((int)wparam, label);
    SetWindowTextA(bar, label);
    WaitPumping(10, 1);
    return 0;
  }
  return CallWindowProcA(s_static_proc, bar, message, wparam, lparam);
}

void InstallProgressBar(HWND bar) {
  if (!bar) return;
  s_static_proc = (WNDPROC)GetWindowLongPtrA(bar, GWLP_WNDPROC);
  SetWindowLongPtrA(bar, GWLP_WNDPROC, (LONG_PTR)PercentTextProc);
}
