// The release's seams (internal.h): nothing happens between unpacking the setup program and
// holding it, and the temporary folder is what Windows says.
#include "internal.h"

void BeforeProgramHold(const char*) {}

DWORD TempPathForRun(DWORD size, char* path) { return GetTempPathA(size, path); }
