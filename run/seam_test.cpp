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
