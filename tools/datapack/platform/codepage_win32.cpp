// Code pages through the system's own tables: what WideCharToMultiByte gives is what the
// loader gives setup.exe.
#include <windows.h>

#include <string>

#include "codepage.h"

namespace datapack {

bool CodePageKnown(unsigned codepage) { return IsValidCodePage(codepage) != 0; }

bool CodePageChar(unsigned codepage, char32_t c, std::string& bytes) {
  wchar_t wide[2];
  int units = 1;
  if (c >= 0x10000) {
    wide[0] = wchar_t(0xD800 + ((c - 0x10000) >> 10));
    wide[1] = wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    units = 2;
  } else {
    wide[0] = wchar_t(c);
  }
  char out[8];
  BOOL used_default = FALSE;
  // WC_NO_BEST_FIT_CHARS: "a" for "ä" would read as success here but shows the user a
  // different text.
  int n = WideCharToMultiByte(codepage, WC_NO_BEST_FIT_CHARS, wide, units, out, sizeof out, nullptr,
                              &used_default);
  if (n <= 0 || used_default) return false;
  bytes.assign(out, size_t(n));
  return true;
}

}  // namespace datapack
