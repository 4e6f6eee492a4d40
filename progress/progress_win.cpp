// Win32 side of progress: percentage to the bar, waits that dispatch messages.
#include "progress_win.h"

#include "progress.h"
#include "resource.h"  // WM_SETPERCENT

// --- Module state ------------------------------------------------------------------------
// s_bar        the progress bar control; set by StartProgress, never cleared. NULL before:
//              no report reaches a bar until the list stage has started the count.
// s_count      expected total and bytes reported so far; started by StartProgress.
// s_sink       the inflater's sink; its report procedure is set by StartProgress, so that
//              InflateProgressSink hands out nothing before then.
static HWND s_bar = NULL;
static struct ProgressCount s_count;
static struct ProgressSink s_sink = {NULL, NULL};

static void SinkReport(void*, uint32_t bytes_out, int end) {
  ReportInflateProgress(bytes_out, end);
}

void StartProgress(HWND bar, uint32_t expected_total) {
  s_bar = bar;
  StartCount(&s_count, expected_total);
  s_sink.report = SinkReport;
}

const struct ProgressSink* InflateProgressSink(void) { return s_sink.report ? &s_sink : NULL; }

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
