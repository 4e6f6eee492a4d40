// Code pages through iconv, which knows Windows code page N as "CPN" (glibc: 1250 to 1258,
// 874, 932, 936, 949, 950).
#include <errno.h>
#include <iconv.h>

#include <string>

#include "codepage.h"

namespace datapack {

namespace {

iconv_t Open(unsigned codepage) {
  return iconv_open(("CP" + std::to_string(codepage)).c_str(), "UTF-32LE");
}

}  // namespace

bool CodePageKnown(unsigned codepage) {
  iconv_t cd = Open(codepage);
  if (cd == (iconv_t)-1) return false;
  iconv_close(cd);
  return true;
}

bool CodePageChar(unsigned codepage, char32_t c, std::string& bytes) {
  iconv_t cd = Open(codepage);
  if (cd == (iconv_t)-1) return false;
  char in[4] = {char(c & 0xFF), char(c >> 8 & 0xFF), char(c >> 16 & 0xFF), char(c >> 24)};
  char out[8];
  char* in_at = in;
  char* out_at = out;
  size_t in_left = sizeof in, out_left = sizeof out;
  // Without //TRANSLIT iconv refuses (EILSEQ) what the code page lacks instead of guessing.
  bool ok = iconv(cd, &in_at, &in_left, &out_at, &out_left) != (size_t)-1 && in_left == 0;
  iconv_close(cd);
  if (ok) bytes.assign(out, size_t(out_at - out));
  return ok && !bytes.empty();
}

}  // namespace datapack
