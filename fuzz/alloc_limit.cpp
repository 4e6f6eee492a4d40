// The package core sizes its two entry buffers from the entry record, up to 4 GiB each. In
// the fuzz targets every calloc above FUZZ_ALLOC_LIMIT fails instead (the targets link with
// -Wl,--wrap=calloc): that drives the core's out-of-memory path on every large size, and
// spares each run the cost of sanitizer bookkeeping for megabytes it never touches. zlib's
// state, which the core allocates for it the same way, stays far below the limit.
#include <stddef.h>

#include "fuzz_util.h"

extern "C" void* __real_calloc(size_t count, size_t size);

extern "C" void* __wrap_calloc(size_t count, size_t size) {
  if (size && count > FUZZ_ALLOC_LIMIT / size) return NULL;
  return __real_calloc(count, size);
}
