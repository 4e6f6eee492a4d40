// Entry of setup.exe: creates the setup window and runs the message loop.
#include "resource.h"
#include "window.h"

// --- Module state ------------------------------------------------------------------------
// g_program_instance  set by WinMain before the window exists; never cleared.
HINSTANCE g_program_instance = NULL;

// LOAD_LIBRARY_SEARCH_SYSTEM32, spelt out: older SDK headers lack it.
static const DWORD kSearchSystem32 = 0x00000800;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryAFn)(LPCSTR);

// The bootstrapper is started from wherever it was downloaded to, a folder that holds other
// downloads too. A DLL planted there under the name of one that Windows, the shell or a
// library loads later by bare name would run inside this process, which may be elevated.
// So, before anything can load a DLL, the search is narrowed: to the system folder where the
// system offers that (Windows 8, and Vista, 7 and 2008 with update KB2533623), else at least
// the current directory is taken out of it (XP SP1 and later). Both are looked up at run
// time, so that Windows 95, 98, ME, NT 4 and 2000, which have neither, still start the
// program; they keep their usual search.
//
// Vista and Server 2008 (6.0) get only the narrower fix: there the system-folder-only search
// makes some shell operations fail (ShellExecuteA, which the link label needs, loads helpers
// by bare name that it then no longer finds). Taking the current directory out breaks
// nothing there, but the program's own folder stays searched on 6.0.
static void RestrictDllSearch(void) {
  HMODULE kernel = GetModuleHandleA("KERNEL32");
  if (!kernel) return;
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version;
  BOOL is_vista = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                  version.dwMajorVersion == 6 && version.dwMinorVersion == 0;
  SetDefaultDllDirectoriesFn set_default =
      (SetDefaultDllDirectoriesFn)(void (*)(void))GetProcAddress(kernel,
                                                                 "SetDefaultDllDirectories");
  if (set_default && !is_vista && set_default(kSearchSystem32)) return;
  SetDllDirectoryAFn set_dll_directory =
      (SetDllDirectoryAFn)(void (*)(void))GetProcAddress(kernel, "SetDllDirectoryA");
  if (set_dll_directory) set_dll_directory("");
}

// The command line is ignored: the bootstrapper has no options and passes nothing on.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();  // first: nothing may load a DLL before the search is narrowed
  g_program_instance = instance;
  // The whole run, up to the launch of the setup program, happens inside this call
  // (WM_INITDIALOG); the loop below starts only afterwards.
  HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), NULL, SetupDialogProc, 0);
  if (!window) return 0;  // no template or no window: nothing would ever post the quit

  // GetMessageA gives -1 on an error; the loop ends then too, as nothing better can be done.
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    if (IsDialogMessageA(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  // Always 0, whatever happened: failures were shown to the user. Not the last message's
  // wParam, which after an error is that of whatever message came before it.
  return 0;
}

// The program's entry point, in place of the C runtime's start-up code, which the link leaves
// out (-nostdlib: no C runtime at all, see window/CMakeLists.txt). Nothing here needs what
// that code prepares: no static constructors or destructors, no atexit, no command-line
// parsing, no data imported from DLLs. ExitProcess: there is no runtime to return to.
extern "C" void WinMainCRTStartup(void) {
  char no_arguments[1] = {'\0'};
  ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, no_arguments, SW_SHOWDEFAULT));
}
