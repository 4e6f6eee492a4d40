// Time stamps and attribute bits as the package stores them, and their readable forms.
// A package's file header holds Windows FILETIMEs (100 ns ticks since 1601-01-01 UTC) and
// Windows attribute bits whatever system built it; these helpers are pure arithmetic, so the
// listing shows the same text on Linux and Windows.
#ifndef DATAPACK_FILETIME_H
#define DATAPACK_FILETIME_H

#include <stdint.h>

#include <string>

namespace datapack {

// FILETIME for a Unix time in seconds plus nanoseconds (nanoseconds below 100 are dropped).
// Times before 1601 clamp to 0.
uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);

// The inverse: seconds since 1970 (negative before it) and the remaining nanoseconds
// (0..999999900).
void UnixFromFileTime(uint64_t filetime, int64_t* seconds, uint32_t* nanoseconds);

// ISO 8601 in UTC: "2024-03-01T12:00:00Z", with seven fraction digits ("…:00.1234567Z")
// only when the time is not a whole second. Every FILETIME value has a form (0 is
// "1601-01-01T00:00:00Z"; the largest lies in year 58457).
std::string FormatFileTime(uint64_t filetime);

// Windows attribute bits as letters, one per set bit in the order R H S V D A X N T P L C O I E
// (read-only, hidden, system, volume, directory, archive, device, normal, temporary, sparse,
// reparse point, compressed, offline, not indexed, encrypted); "-" when none is set; "keep" for
// 0xFFFFFFFF, the value that leaves the unpacked file's attributes as created. Bits without a
// letter are only visible in the hexadecimal form.
std::string AttributeLetters(uint32_t attributes);

// "0x00000021".
std::string AttributeHex(uint32_t attributes);

// Attribute bits datapack chooses and tests for.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrArchive = 0x20;

}  // namespace datapack

#endif
