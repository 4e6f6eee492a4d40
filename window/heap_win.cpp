// The package core's memory in setup.exe: the system's global heap, zero-filled (GPTR), as
// the program takes all its memory; no C runtime is linked.
#include <windows.h>

#include "core_memory.h"

void* PackageAllocZeroed(size_t bytes) { return (void*)GlobalAlloc(GPTR, bytes ? bytes : 1); }

void PackageFree(void* p) {
  if (p) GlobalFree((HGLOBAL)p);
}
