// The warning for an entry too large for the 32-bit setup.exe to hold in memory, and the
// refusal for one that no reader accepts at all.
//
// setup.exe allocates an entry's stored stream and its inflated payload at once, so in its
// 32-bit address space an entry whose two buffers together come near the space's largest
// free blocks fails to allocate, and the bootstrapper then calls the package corrupt.
// bench/entry-limit measures where that happens; the threshold keeps a margin below it,
// because other systems load other DLLs into the same space.
#ifndef DATAPACK_ENTRYLIMIT_H
#define DATAPACK_ENTRYLIMIT_H

#include <stdint.h>

#include <string>

#include "format.h"

namespace datapack {

// Measured under 32-bit Wine (bench/entry-limit), in MiB of stored plus inflated bytes: the
// largest entry the release unpacked, and the smallest one it failed to allocate.
constexpr uint64_t kLargestUnpackedMiB = 1028;
constexpr uint64_t kSmallestFailedMiB = 1092;
// Where create and verify start to warn: a quarter below what unpacked, since other systems
// (other DLLs, injected ones) leave less contiguous room in the same 2 GiB.
constexpr uint64_t kLargeEntryWarnAt = uint64_t(768) << 20;

// The warning for an entry with these sizes, or "" when it is below the threshold.
inline std::string LargeEntryWarning(uint64_t stored, uint64_t inflated) {
  const uint64_t both = stored + inflated;
  if (both < kLargeEntryWarnAt) return "";
  return "stored and inflated sizes together " + std::to_string(both >> 20) +
         " MiB: the 32-bit setup.exe holds both in memory at once; measured under 32-bit Wine "
         "it unpacked entries of up to " +
         std::to_string(kLargestUnpackedMiB) +
         " MiB and failed, reporting a corrupt package, from " +
         std::to_string(kSmallestFailedMiB) + " MiB (this warning starts at " +
         std::to_string(kLargeEntryWarnAt >> 20) + " MiB: other systems leave less room)";
}

// Why create must not write an entry of these sizes, or "" when they fit: every reader
// (setup.exe, datapack verify) calls an entry whose stored and inflated sizes reach 2 GiB
// together a corrupt package (EntrySizesFit). Before compressing, `stored` 0 tests the
// inflated size alone.
inline std::string EntrySizeRefusal(uint64_t stored, uint64_t inflated) {
  if (stored <= UINT32_MAX && inflated <= UINT32_MAX &&
      EntrySizesFit((uint32_t)inflated, (uint32_t)stored))
    return "";
  return (stored ? "stored and inflated sizes together reach "
                 : "inflated size (the file and its 28-byte header) reaches ") +
         std::to_string(stored + inflated) +
         " bytes, 2 GiB or more: setup.exe and 'datapack verify' call such an entry a corrupt "
         "package, so it is not written";
}

}  // namespace datapack

#endif
