// Fatal errors, the message catalogue and the clean-up of unpacked files.
//
// Every failure of the run ends here, the same way: message box, clean-up, window destroyed.
#include "buffers.h"
#include "failure.h"
#include "format.h"
#include "resource.h"
#include "run.h"
#include "internal.h"

// --- Module state ------------------------------------------------------------------------
// g_instance      set by AttachSetupWindow (window initialisation); never cleared. Its
//                 resources hold the message catalogue.
// g_setup_window  set by AttachSetupWindow; never cleared: after FatalError or the watch's
//                 end the program only returns to the message loop and exits.
HINSTANCE g_instance = NULL;
HWND g_setup_window = NULL;

void AttachSetupWindow(HINSTANCE instance, HWND window) {
  g_instance = instance;
  g_setup_window = window;
}

// The TextLoader (failure.h) over the string table.
static int LoadTableText(unsigned id, char* buf, int size) {
  int len = LoadStringA(g_instance, id, buf, size);
  if (len > 0) return len;
  buf[0] = '\0';
  return 0;
}

int LoadCatalogueText(UINT id, char* text) { return LoadTableText(id, text, TEXT_LOAD_SIZE); }

int FatalError(const char* text) {
  ClosePackage();
  char caption[TEXT_LOAD_SIZE];
  LoadCatalogueText(IDS_TITLE, caption);
  MessageBoxA(g_setup_window, text, caption, MB_OK | MB_ICONERROR);
  CleanUpFiles();
  // The window is a modeless dialog: EndDialog only hides it and records the result. The
  // WM_DESTROY sent next runs the window's destruction steps at once (quit message posted),
  // even when this runs inside WM_INITDIALOG, before the window has been fully created.
  EndDialog(g_setup_window, 2);
  SendMessageA(g_setup_window, WM_DESTROY, 0, 0);
  return 0;
}

int ReportFailure(int failure, const char* arg) {
  char message[MESSAGE_BUFFER_SIZE];
  ComposeFailure(failure, arg, LoadTableText, message);
  return FatalError(message);
}

int ReportCorruptPackage(void) { return ReportFailure(FAIL_CORRUPT_PACKAGE, NULL); }

// Resets the attributes first: a support file may have been unpacked read-only, and
// DeleteFileA refuses read-only files. Failures mean the file is not there; nothing to do.
static void ForceDelete(const char* path) {
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path);
}

void CleanUpFiles(void) {
  char path[MESSAGE_BUFFER_SIZE];
  if (g_file_table) {
    for (uint32_t i = 0; i < g_file_slots; ++i) {
      // A slot not yet filled (the list failed part-way) or holding an empty name would
      // make the path the working folder itself.
      if (g_file_table[i][0] == '\0') continue;
      BuildPath(path, g_working_folder, g_file_table[i], NULL);
      ForceDelete(path);
    }
    GlobalFree(g_file_table);
    g_file_table = NULL;
    g_file_slots = 0;
  }
  if (g_base_name) {
    BuildPath(path, g_working_folder, g_base_name, LIST_SUFFIX);
    ForceDelete(path);
  }
}
