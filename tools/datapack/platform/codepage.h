// Code pages, the two ways datapack meets them.
// Names inside a package are bytes in the ANSI code page of the Windows that unpacks them
// (the bootstrapper uses the ANSI functions). Linux has no ANSI code page: there datapack reads
// such bytes as Windows-1252, the code page of Western European Windows (and of Wine with an
// English or Western European locale), so that a list finds, and extract writes, the files a
// Windows machine of that code page would (codepage.cpp).
// The texts of setup.exe's resources are UTF-16: Windows turns them into the user's ANSI code
// page when the program loads them, and a character the code page lacks comes out as '?' (or a
// look-alike). What a code page holds is found per platform, chosen in CMake
// (codepage_posix.cpp, codepage_win32.cpp).
#ifndef DATAPACK_CODEPAGE_H
#define DATAPACK_CODEPAGE_H

#include <stdint.h>

#include <string>

namespace datapack {

// The Unicode character of a Windows-1252 byte. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same number, as
// Windows maps them.
uint32_t UnicodeFrom1252(unsigned char byte);

// Windows-1252 text as UTF-8.
std::string Utf8From1252(const std::string& text);

// False when this system cannot convert to Windows code page `codepage` at all.
bool CodePageKnown(unsigned codepage);

// The bytes (one, or two in the East Asian code pages) code page `codepage` holds for code
// point `c`, exactly, never a look-alike. False when it has none.
bool CodePageChar(unsigned codepage, char32_t c, std::string& bytes);

}  // namespace datapack

#endif
