// plain_window.exe: a GUI program that creates and destroys one window and exits with 0 (1
// when the window could not be made), leaving the DLL search as Windows sets it up. It is the
// control for setup.exe's narrowed search: started from a folder holding a planted DLL, it
// shows that the DLLs a first window pulls in are taken from the program's folder unless the
// program narrows the search.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND window = CreateWindowExA(0, "STATIC", "plain", WS_OVERLAPPEDWINDOW, 0, 0, 40, 20, NULL, NULL,
                                instance, NULL);
  if (!window) return 1;
  DestroyWindow(window);
  return 0;
}
