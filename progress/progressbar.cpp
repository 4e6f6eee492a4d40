// The owner-drawn progress bar: the template's static IDC_PROGRESS with its procedure
// replaced. Contract in progress_win.h; the numbers come from bargeometry.h.
//
// Why it paints itself: the common controls' progress bar would add COMCTL32 to the imports
// and cannot show the percentage across its fill; a static that only changes its text would
// flash on every report, and the run reports every few milliseconds while unpacking.
#include "progress_win.h"

#include "bargeometry.h"
#include "progress.h"  // FormatPercentLabel
#include "resource.h"  // WM_SETPERCENT

// --- Module state ------------------------------------------------------------------------
// s_percent  the value shown, 0..100; set by WM_SETPERCENT, 0 until the first one.
// s_label    "N%" for s_percent; set with it. The template's text is "0%" as well.
// s_font     the label's font; created by the first WM_PAINT, deleted (and set back to NULL)
//            by WM_DESTROY. NULL also when creating it failed: the label then falls back to
//            the memory context's default font, and the next paint tries again.
static int s_percent = 0;
static char s_label[PERCENT_LABEL_SIZE] = "0%";
static HFONT s_font = NULL;

HFONT CreateBoldFont(HDC dc, int points, BOOL underline) {
  int height = CharHeightForPoints(points, GetDeviceCaps(dc, LOGPIXELSY));
  return CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, underline, FALSE, ANSI_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
}

// One colour pass: fills `part` with `back` and draws the whole label at `at` in `fore`,
// clipped to `part`. Two passes over complementary parts make the label change colour
// exactly at the split, even in the middle of a character.
static void DrawPart(HDC dc, const RECT* part, struct TextOrigin at, COLORREF fore, COLORREF back) {
  SetTextColor(dc, fore);
  SetBkColor(dc, back);
  ExtTextOutA(dc, at.x, at.y, ETO_OPAQUE | ETO_CLIPPED, part, s_label, lstrlenA(s_label), NULL);
}

static LRESULT OnSetPercent(HWND bar, WPARAM value) {
  // The value is an int sent through WPARAM: a negative one arrives sign-extended on 64-bit
  // builds and as a large unsigned on 32-bit ones; the cast back to int undoes both.
  s_percent = FormatPercentLabel((int)value, s_label);
  InvalidateRect(bar, NULL, TRUE);
  // Every report passes here, so this wait is what keeps the window answering while the run
  // never returns to its message loop. It usually lets the repaint through, too.
  WaitPumping(10, 1);
  return 0;
}

static LRESULT OnPaint(HWND bar) {
  COLORREF selection_text = GetSysColor(COLOR_HIGHLIGHTTEXT);
  COLORREF selection = GetSysColor(COLOR_HIGHLIGHT);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(bar, &ps);
  if (!dc) return 0;
  if (!s_font) s_font = CreateBoldFont(dc, BAR_LABEL_POINTS, FALSE);
  RECT client;
  GetClientRect(bar, &client);
  // Drawn off-screen and copied in one piece, so the screen never shows a half-drawn bar.
  // The bitmap is compatible with the window's context: one made for the memory context
  // would be monochrome.
  HDC mem = NULL;
  HBITMAP bitmap = NULL;
  if (client.right > 0 && client.bottom > 0) {
    mem = CreateCompatibleDC(dc);
    bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
  }
  if (mem && bitmap) {
    HGDIOBJ old_bitmap = SelectObject(mem, bitmap);
    HGDIOBJ old_font = s_font ? SelectObject(mem, s_font) : NULL;
    SIZE text = {0, 0};
    GetTextExtentPoint32A(mem, s_label, lstrlenA(s_label), &text);
    struct TextOrigin at = BarLabelOrigin(client.right, client.bottom, text.cx, text.cy);
    RECT filled = client;
    filled.right = BarSplit(client.right, s_percent);
    RECT empty = client;
    empty.left = filled.right;
    DrawPart(mem, &filled, at, selection_text, selection);
    DrawPart(mem, &empty, at, selection, selection_text);
    BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
    if (old_font) SelectObject(mem, old_font);
    SelectObject(mem, old_bitmap);
  }
  // Short of GDI memory (Windows 9x has little) the bar skips this paint and keeps its old
  // picture; the next report paints again.
  if (bitmap) DeleteObject(bitmap);
  if (mem) DeleteDC(mem);
  EndPaint(bar, &ps);
  return 0;
}

static LRESULT CALLBACK ProgressBarProc(HWND bar, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETPERCENT:
      // From ReportInflateProgress, once per inflater report.
      return OnSetPercent(bar, wparam);

    case WM_PAINT:
      // Also sent directly after every report, since no message loop runs during the run.
      return OnPaint(bar);

    case WM_ERASEBKGND:
      // Painting covers the whole client area; erasing first is what would make it flicker.
      return 1;

    case WM_NCMOUSEMOVE:
      // The sunken edge is non-client area: keep the wait cursor there as over the window.
      SetCursor(LoadCursorA(NULL, IDC_WAIT));
      return 1;

    case WM_DESTROY:
      if (s_font) {
        DeleteObject(s_font);
        s_font = NULL;
      }
      return DefWindowProcA(bar, message, wparam, lparam);

    default:
      // Not the static's own procedure: it would paint the template text over the bar.
      return DefWindowProcA(bar, message, wparam, lparam);
  }
}

void InstallProgressBar(HWND bar) {
  if (!bar) return;
  SetWindowLongPtrA(bar, GWLP_WNDPROC, (LONG_PTR)ProgressBarProc);
}
