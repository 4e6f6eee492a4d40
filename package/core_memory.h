// Memory of the package core. The core takes no position on where memory comes from: each
// program that links it provides these two functions. setup.exe takes the system's global
// heap (it links no C runtime, so that it starts on systems without one: window/heap_win.cpp);
// datapack, the tests and the benchmarks take the C library's (core_memory_libc.cpp).
#ifndef PACKAGE_CORE_MEMORY_H
#define PACKAGE_CORE_MEMORY_H

#include <stddef.h>

// `bytes` zero-filled bytes (at least one is allocated, so 0 does not mean failure), or NULL
// when there is not that much memory.
void* PackageAllocZeroed(size_t bytes);
// Gives back what PackageAllocZeroed returned; NULL is allowed and does nothing.
void PackageFree(void* p);

#endif
