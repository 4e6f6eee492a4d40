// A stand-in setup program for the sample package: it shows what the bootstrapper unpacked
// next to it, waits a few seconds (long enough to see the bootstrapper hide) and exits.
// Real packages carry their vendor's installer here.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static void ListFolder(char* text, size_t size) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("*", &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    size_t used = strlen(text);
    if (used + strlen(found.cFileName) + 4 >= size) break;
    snprintf(text + used, size - used, "  %s\n", found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Closes the box on its own so that unattended runs (the README's main job) finish.
static VOID CALLBACK CloseBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = FindWindowA("#32770", "Demo setup");
  if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  char text[2048];
  snprintf(text, sizeof text, "The demo setup program is running in\n%s\n\nwith these files:\n",
           folder);
  ListFolder(text, sizeof text);
  SetTimer(NULL, 0, 3000, CloseBox);
  MessageBoxA(NULL, text, "Demo setup", MB_OK | MB_ICONINFORMATION);
  return 0;
}
