// The package core's memory from the C library: datapack, the tests and the benchmarks.
#include <stdlib.h>

#include "core_memory.h"

void* PackageAllocZeroed(size_t bytes) { return calloc(bytes ? bytes : 1, 1); }

void PackageFree(void* p) { free(p); }
