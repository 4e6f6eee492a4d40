// The link label IDC_LINK: a static of the setup window that shows a web address, drawn in
// dark red, bold and underlined, narrowed to its text and centred, with the hand cursor over
// it and the address opened by the shell on a click. Contracts in window.h.
#include "window.h"  // <windows.h>, which <shellapi.h> needs first

#include <shellapi.h>

#include "linkgeometry.h"
#include "progress_win.h"  // CreateBoldFont
#include "resource.h"

// Dark red: readable on the dialog's grey and recognisable as a link without the blue the
// system may also use for the selection.
static const COLORREF kLinkColour = RGB(192, 0, 0);
enum {
  LINK_POINTS = 8,             // the dialog's own size
  LINK_CLICK_TEXT_SIZE = 260,  // what a click reads: an address the shell accepts
  LINK_FIT_TEXT_SIZE = 520     // what fitting reads: the general text buffer
};

// --- Module state ------------------------------------------------------------------------
// s_label_proc  the static control's own procedure; kept by KeepLinkLabelProc during
//               WM_INITDIALOG, never cleared: LinkLabelProc forwards to it for as long as it
//               is installed, and putting it back on WM_DESTROY twice is harmless.
// s_link_font   bold underlined MS Sans Serif; created by FitLinkLabel, deleted and set back
//               to NULL by ReleaseLinkLabel, so a second WM_DESTROY deletes nothing. While it
//               is NULL the label keeps the dialog's font.
// s_dialog_font the font the dialog gave the label; kept by FitLinkLabel when it gives the
//               label the link font, given back by ReleaseLinkLabel before that is deleted.
static WNDPROC s_label_proc = NULL;
static HFONT s_link_font = NULL;
static HFONT s_dialog_font = NULL;

// The hand over the label. The class cursor is what the static's default handling sets, so
// it is swapped in only for the length of this message: the class is shared by every static
// of the process (the icon, the message text), which keep their own cursor.
static LRESULT OnLinkSetCursor(HWND label, WPARAM wparam, LPARAM lparam) {
  HCURSOR hand = LoadCursorA(g_program_instance, MAKEINTRESOURCEA(IDR_HANDCURSOR));
  ULONG_PTR previous = SetClassLongPtrA(label, GCLP_HCURSOR, (LONG_PTR)hand);
  CallWindowProcA(s_label_proc, label, WM_SETCURSOR, wparam, lparam);
  SetClassLongPtrA(label, GCLP_HCURSOR, (LONG_PTR)previous);
  return 1;
}

// Opens the address in the user's browser. A failure is not reported: the address is only
// a convenience, and a message box here would stop the run, which may be unpacking.
static void OpenLink(HWND label) {
  char address[LINK_CLICK_TEXT_SIZE];
  if (GetWindowTextA(label, address, sizeof address) <= 0) return;
  ShellExecuteA(GetParent(label), NULL, address, NULL, NULL, SW_SHOWNORMAL);
}

static LRESULT CALLBACK LinkLabelProc(HWND label, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETCURSOR: return OnLinkSetCursor(label, wparam, lparam);

    case WM_LBUTTONDOWN:
      // The click still reaches the static afterwards (it notifies its parent, which takes
      // no action), so the label behaves as any static otherwise.
      OpenLink(label);
      return CallWindowProcA(s_label_proc, label, message, wparam, lparam);

    default: return CallWindowProcA(s_label_proc, label, message, wparam, lparam);
  }
}

void KeepLinkLabelProc(HWND label) {
  if (label) s_label_proc = (WNDPROC)GetWindowLongPtrA(label, GWLP_WNDPROC);
}

void InstallLinkLabel(HWND label) {
  if (label && s_label_proc) SetWindowLongPtrA(label, GWLP_WNDPROC, (LONG_PTR)LinkLabelProc);
}

void FitLinkLabel(HWND window, HWND label) {
  if (!label) return;
  RECT outer;
  GetWindowRect(window, &outer);
  RECT box;
  GetWindowRect(label, &box);
  POINT top_left = {box.left, box.top};
  ScreenToClient(window, &top_left);

  char text[LINK_FIT_TEXT_SIZE];
  int length = GetWindowTextA(label, text, sizeof text);
  if (length < 0) length = 0;
  SIZE size = {0, 0};
  HDC dc = GetDC(label);
  if (dc) {
    if (!s_link_font) s_link_font = CreateBoldFont(dc, LINK_POINTS, TRUE);
    HGDIOBJ old = s_link_font ? SelectObject(dc, s_link_font) : NULL;
    GetTextExtentPoint32A(dc, text, length, &size);
    if (old) SelectObject(dc, old);
    ReleaseDC(label, dc);
  }
  // Also the label's own font: a static that selects its own font after asking its parent
  // for colours (Wine's does) would otherwise draw the address in the dialog's plain font,
  // narrower than the label it was measured for.
  if (s_link_font) {
    s_dialog_font = (HFONT)SendMessageA(label, WM_GETFONT, 0, 0);
    SendMessageA(label, WM_SETFONT, (WPARAM)s_link_font, FALSE);
  }
  // As wide as the text, so that the hand and the click cover the text and nothing beside.
  MoveWindow(label, LinkLabelLeft(outer.right - outer.left, size.cx), top_left.y, size.cx,
             box.bottom - box.top, TRUE);
}

INT_PTR LinkLabelColours(HWND window, HDC dc, LPARAM control) {
  if (s_link_font) SelectObject(dc, s_link_font);
  // The default procedure sets the dialog's background colour and returns its brush; only
  // the text colour is the link's own.
  INT_PTR brush = (INT_PTR)DefWindowProcA(window, WM_CTLCOLORSTATIC, (WPARAM)dc, control);
  SetTextColor(dc, kLinkColour);
  return brush;
}

void ReleaseLinkLabel(HWND label) {
  if (label && s_label_proc) SetWindowLongPtrA(label, GWLP_WNDPROC, (LONG_PTR)s_label_proc);
  if (s_link_font) {
    // Never leave the label holding a deleted font: it may still paint for the rest of the
    // run (a click on the window ends the program only when the run is over).
    if (label) SendMessageA(label, WM_SETFONT, (WPARAM)s_dialog_font, FALSE);
    DeleteObject(s_link_font);
    s_link_font = NULL;
  }
}
