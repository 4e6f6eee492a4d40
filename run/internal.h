// State and steps shared by the files of the setup run; not for use outside run/.
// Each variable is defined, and documented (who sets it, who clears it), in the file that
// owns it.
#ifndef RUN_INTERNAL_H
#define RUN_INTERNAL_H

#include <windows.h>

#include "buffers.h"
#include "listfile.h"

// fatal.cpp
extern HINSTANCE g_instance;
extern HWND g_setup_window;

// start.cpp
extern char g_start_folder[MESSAGE_BUFFER_SIZE];
extern char g_working_folder[MESSAGE_BUFFER_SIZE];
extern HANDLE g_package;
extern const char* g_base_name;

// liststage.cpp
extern char (*g_file_table)[SUPPORT_SLOT_SIZE];
extern uint32_t g_file_slots;

// launch.cpp
extern char g_program_path[MESSAGE_BUFFER_SIZE];
extern PROCESS_INFORMATION g_process;

// Closes the package handle if it is open and marks it closed, so it is never closed twice.
void ClosePackage(void);

// Builds folder + name + suffix (suffix may be NULL) into path[MESSAGE_BUFFER_SIZE]. The
// buffer is twice the longest path Windows accepts, so a real path is never cut; an overlong
// one is cut and then fails to open like any path that is too long.
void BuildPath(char* path, const char* folder, const char* name, const char* suffix);

// The list stage: reads the list file, checks disk space, starts the progress count, fills
// the file table, then carries on with UnpackAndLaunch. Returns its result.
int RunListStage(void);

// Called with the setup program's path between its unpacking and its hold, to let the e2e
// tests replace it there (seam_test.cpp, x86_64 build only). Does nothing in the release
// (seam_none.cpp).
void BeforeProgramHold(const char* program_path);

// GetTempPathA for the working folder. Windows reports the size a temporary folder path needs
// when it does not fit `size`, writing nothing usable; Wine refuses such a path with 0
// instead, so the e2e build's seam can report a length given by the tests (seam_test.cpp).
// The release calls GetTempPathA (seam_none.cpp).
DWORD TempPathForRun(DWORD size, char* path);

// Unpacks the setup program, the uninstaller and the support files, closes the package and
// launches the setup program. Returns 1 when it was launched.
int UnpackAndLaunch(void);

#endif
