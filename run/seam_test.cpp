// The e2e build's BeforeProgramHold (internal.h). Another program of the user could replace
// the unpacked setup program before setup.exe holds it; no test can hit that moment from
// outside, so here the x86_64 setup.exe, which exists only for the tests, does the replacing
// itself when told to: with SETUP_TEST_REPLACE_PROGRAM naming a file, that file's bytes are
// copied over the setup program. Without the variable nothing happens.
#include "internal.h"

void BeforeProgramHold(const char* program_path) {
  char replacement[MESSAGE_BUFFER_SIZE];
  DWORD length =
      GetEnvironmentVariableA("SETUP_TEST_REPLACE_PROGRAM", replacement, sizeof replacement);
  if (length == 0 || length >= sizeof replacement) return;
  CopyFileA(replacement, program_path, FALSE);
}

// With SETUP_TEST_TEMP_PATH_LENGTH set, GetTempPathA reports that length and writes nothing,
// as Windows does for a temporary folder path that does not fit the buffer.
DWORD TempPathForRun(DWORD size, char* path) {
  char length[16];
  DWORD got = GetEnvironmentVariableA("SETUP_TEST_TEMP_PATH_LENGTH", length, sizeof length);
  if (got == 0 || got >= sizeof length) return GetTempPathA(size, path);
  DWORD reported = 0;
  for (const char* c = length; *c >= '0' && *c <= '9'; c++) reported = reported * 10 + (*c - '0');
  return reported;
}
