// The watch's reading of a wait on the setup program's process handle. Portable (no
// <windows.h>): setup.exe passes what WaitForSingleObject returned, and the native unit tests
// call it directly.
#ifndef RUN_WATCHRULE_H
#define RUN_WATCHRULE_H

#include <stdint.h>

enum { WATCH_WAIT_TIMEOUT = 0x102 };  // WAIT_TIMEOUT: the handle is not signalled yet

// Whether the setup program still runs, from a zero-time wait on its process handle: only
// WATCH_WAIT_TIMEOUT says so. Signalled means it ended. Not its exit code: a program may end
// with 259, the value of STILL_ACTIVE, and would then look running for ever. Any other result,
// a failed wait among them, counts as ended too: the handle can then tell nothing more, and
// taking it as running would leave the bootstrapper hidden and polling for ever.
int SetupProgramStillRuns(uint32_t wait_result);

#endif
