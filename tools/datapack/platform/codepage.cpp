#include "codepage.h"

namespace datapack {

uint32_t UnicodeFrom1252(unsigned char byte) {
  // 0x80..0x9F are where Windows-1252 differs from Latin-1.
  static const uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

std::string Utf8From1252(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    const uint32_t u = UnicodeFrom1252(c);
    if (u < 0x80) {
      out += (char)u;
    } else if (u < 0x800) {
      out += (char)(0xC0 | (u >> 6));
      out += (char)(0x80 | (u & 0x3F));
    } else {
      out += (char)(0xE0 | (u >> 12));
      out += (char)(0x80 | ((u >> 6) & 0x3F));
      out += (char)(0x80 | (u & 0x3F));
    }
  }
  return out;
}

}  // namespace datapack
