// The program's entry and its only top-level window, the setup window: a modeless dialog
// built from the template IDD_SETUP. The whole run happens inside the window's WM_INITDIALOG;
// afterwards the message loop serves the watch timer until the window is destroyed.
#ifndef WINDOW_WINDOW_H
#define WINDOW_WINDOW_H

#if defined(UNICODE) || defined(_UNICODE)
#error "setup.exe is an ANSI program: build it without UNICODE"
#endif

#include <windows.h>

// The program's instance, for its resources; set by WinMain before the window is created.
extern HINSTANCE g_program_instance;

// The setup window's dialog procedure. WM_INITDIALOG checks the operating system, dresses
// and centres the window and runs the setup (StartRun); it returns 1 when the setup program
// was launched, else 0. WM_TIMER goes to the watch of the launched program. WM_DESTROY
// posts the quit message that ends the message loop; WM_CLOSE is ignored, and a click on the
// window's own surface destroys it at once (without cleaning up). The wait cursor is kept
// over the window.
INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// --- The link label IDC_LINK (linklabel.cpp) -----------------------------------------------
// Called by SetupDialogProc in this order; each does nothing for a NULL label.

// WM_INITDIALOG, before the operating system check: keeps the static's own procedure.
void KeepLinkLabelProc(HWND label);

// WM_INITDIALOG, after the check: installs LinkLabelProc (once a procedure has been kept).
// LinkLabelProc shows the hand cursor (resource IDR_HANDCURSOR) over the label, and on a left
// click opens the label's text (up to 259 characters) with ShellExecuteA (owner: the setup
// window, default verb, SW_SHOWNORMAL), silently ignoring a failure, then lets the static
// handle the click; everything else goes to the static's own procedure.
void InstallLinkLabel(HWND label);

// WM_INITDIALOG: creates the link font (MS Sans Serif, 8 points for the label's context,
// bold, underlined), makes it the label's font (WM_SETFONT), measures the label's text in it
// and moves the label to exactly that width, its height and top unchanged, at
// x = W / 2 - w / 2 in the window's client coordinates, W being the window's outer width
// (each halving truncating).
void FitLinkLabel(HWND window, HWND label);

// WM_CTLCOLORSTATIC for the label: selects the link font into dc (while it exists), lets
// DefWindowProcA choose the background, sets the text colour to dark red RGB(192, 0, 0),
// and returns the brush, which the dialog procedure returns as its result.
INT_PTR LinkLabelColours(HWND window, HDC dc, LPARAM control);

// WM_DESTROY: puts the static's own procedure and the dialog's font back and deletes the
// link font. Safe to call again (the window may receive WM_DESTROY twice): the font is
// deleted only once.
void ReleaseLinkLabel(HWND label);

#endif
