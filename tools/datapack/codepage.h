// The user's ANSI code page, as setup.exe meets it: Windows turns the UTF-16 texts of its
// resources into that code page when the program loads them, and a character the code page
// lacks comes out as '?' (or a look-alike). One implementation per platform, chosen in CMake
// (codepage_posix.cpp, codepage_win32.cpp).
#ifndef DATAPACK_CODEPAGE_H
#define DATAPACK_CODEPAGE_H

#include <string>

namespace datapack {

// False when this system cannot convert to Windows code page `codepage` at all.
bool CodePageKnown(unsigned codepage);

// The bytes (one, or two in the East Asian code pages) code page `codepage` holds for code
// point `c`, exactly, never a look-alike. False when it has none.
bool CodePageChar(unsigned codepage, char32_t c, std::string& bytes);

}  // namespace datapack

#endif
