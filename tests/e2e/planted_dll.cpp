// planted_dll.dll: stands in for a DLL that someone put into the folder setup.exe starts from,
// under the name of one that Windows loads by bare name (the tests copy it as uxtheme.dll,
// which Wine's user32 loads when a process creates its first window). Being loaded is all it
// does: it creates "<its own path>.loaded", so that a test can tell that it ran.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatA(path, ".loaded");
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  // Loading fails after the mark: the real DLL's functions are not there, and a process that
  // went on with this one would only crash later, less clearly.
  return FALSE;
}
