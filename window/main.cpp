// Entry of setup.exe: creates the setup window and runs the message loop.
#include "resource.h"
#include "window.h"

// --- Module state ------------------------------------------------------------------------
// g_program_instance  set by WinMain before the window exists; never cleared.
HINSTANCE g_program_instance = NULL;

// The command line is ignored: the bootstrapper has no options and passes nothing on.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_program_instance = instance;
  // The whole run, up to the launch of the setup program, happens inside this call
  // (WM_INITDIALOG); the loop below starts only afterwards.
  HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), NULL, SetupDialogProc, 0);
  if (!window) return 0;  // no template or no window: nothing would ever post the quit

  MSG msg;
  msg.wParam = 0;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    if (IsDialogMessageA(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  // The quit message's wParam: always 0, whatever happened (failures were shown to the user).
  return (int)msg.wParam;
}
