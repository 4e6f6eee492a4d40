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

#endif
