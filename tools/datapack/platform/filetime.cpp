#include "filetime.h"

#include <stdio.h>

namespace datapack {

const uint64_t kTicksPerSecond = 10000000;  // a FILETIME counts 100 ns ticks
const int64_t kEpochSeconds = 11644473600;  // from 1601-01-01 to 1970-01-01 (the Unix epoch)

uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kEpochSeconds) return 0;
  // Past year 30828 the tick count leaves 63 bits; no file system hands out such times.
  if (seconds > (int64_t)(UINT64_MAX / kTicksPerSecond) - kEpochSeconds - 1) return UINT64_MAX;
  return (uint64_t)(seconds + kEpochSeconds) * kTicksPerSecond + nanoseconds / 100;
}

void UnixFromFileTime(uint64_t filetime, int64_t* seconds, uint32_t* nanoseconds) {
  uint64_t whole = filetime / kTicksPerSecond;
  *nanoseconds = (uint32_t)(filetime % kTicksPerSecond) * 100;
  *seconds = (int64_t)whole - kEpochSeconds;
}

// Civil date of a day count since 1970-01-01 in the proleptic Gregorian calendar (the
// well-known era arithmetic: 400-year eras of 146097 days, years starting in March so that
// the leap day falls last). Written out rather than taken from gmtime(), which mingw's runtime
// cannot do before 1970 and which differs in range between platforms.
static void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = (unsigned)(days - era * 146097);                        // [0, 146096]
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const unsigned mp = (5 * doy + 2) / 153;                                     // [0, 11]
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = (int64_t)yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

std::string FormatFileTime(uint64_t filetime) {
  int64_t seconds;
  uint32_t nanoseconds;
  UnixFromFileTime(filetime, &seconds, &nanoseconds);
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    days -= 1;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  char text[64];
  int n = snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u", (long long)year, month,
                   day, (unsigned)(rest / 3600), (unsigned)(rest / 60 % 60), (unsigned)(rest % 60));
  if (nanoseconds != 0)
    snprintf(text + n, sizeof text - (size_t)n, ".%07u", (unsigned)(nanoseconds / 100));
  return std::string(text) + "Z";
}

std::string AttributeLetters(uint32_t attributes) {
  if (attributes == 0xFFFFFFFFu) return "keep";
  static const char kLetters[] = "RHSVDAXNTPLCOIE";
  std::string out;
  for (unsigned bit = 0; kLetters[bit] != '\0'; ++bit)
    if (attributes & (1u << bit)) out += kLetters[bit];
  return out.empty() ? "-" : out;
}

std::string AttributeHex(uint32_t attributes) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", (unsigned)attributes);
  return text;
}

}  // namespace datapack
