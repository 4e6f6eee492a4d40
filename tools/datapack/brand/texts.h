// `datapack brand --texts FILE`: every text setup.exe shows, from a packager's file.
//
// The file is UTF-8, one `key=value` line per text; blank lines and lines whose first
// non-blank character is '#' are comments; a byte order mark at the start is skipped. The
// value is everything after the first '=', spaces included (the English title begins with
// one). Keys left out keep the stub's text. The keys (kTextKeys) name the window's title
// (also every message box's caption), the window's message, the refusal on old systems and
// each failure message; a failure message that names a file holds the placeholder "%1"
// exactly once, where setup.exe puts the name (FillTemplate, res/failure.h).
//
// Setup.exe is an ANSI program: Windows converts the UTF-16 resource texts to the user's
// code page as it loads them. So each text is measured, and checked, in the code page the
// packager names (--codepage): its length in that code page's bytes must fit the program's
// 260-byte text buffers, and every character the code page lacks gets a warning.
#ifndef DATAPACK_TEXTS_H
#define DATAPACK_TEXTS_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pe_image.h"

namespace datapack {

// One replaceable text: the key of the texts file, and where setup.exe keeps the text.
struct TextKey {
  const char* key;
  uint32_t id;  // string table id (res/resource.h); 0 for the window's message (the dialog)
};
extern const TextKey kTextKeys[];
extern const size_t kTextKeyCount;

// The English text of `key` as the unbranded stub has it.
std::string DefaultText(const TextKey& key);

// What a texts file asks for.
struct Texts {
  std::vector<std::pair<uint32_t, std::u16string>> strings;  // string table id, text
  std::u16string message;             // the window's message; empty keeps the stub's
  std::vector<std::string> warnings;  // "line N: ...", for the user; branding goes on
};

// Reads a texts file (its bytes) for code page `codepage` (CodePageKnown). False with
// `error` ("line N: ...") on a line that is not `key=value`, an unknown or repeated key, bad
// UTF-8, a control character, an empty text, a placeholder missing, doubled or where the
// message names no file, or a text longer than 259 bytes in that code page.
bool ParseTexts(const std::string& file, unsigned codepage, Texts& texts, std::string& error);

// Lines the window's message takes in its static control (185 x 35 dialog units of 8-point
// MS Sans Serif: 277 x 56 pixels at 96 dpi, 4 lines of 13 pixels), estimated from the
// font's advance widths, a little on the wide side, wrapped as the control wraps: at spaces,
// and between two characters of two bytes (East Asian text has no spaces).
int MessageLines(const std::u32string& text, unsigned codepage);
constexpr int kMessageLinesShown = 4;

// The string table `resources` holds, with `strings` put in. False with `error` when the
// stub has no string table block for an id.
bool ReplaceStrings(std::vector<Resource>& resources,
                    const std::vector<std::pair<uint32_t, std::u16string>>& strings,
                    std::string& error);

// UTF-8 to code points; false for malformed input, overlong forms and surrogates.
bool DecodeUtf8(const std::string& in, std::u32string& out);
// Code points to UTF-16, with surrogate pairs above U+FFFF.
std::u16string Utf16(const std::u32string& in);

// True when `text` is well-formed UTF-8 without control characters.
bool IsUtf8Text(const std::string& text);

// The string table texts of setup.exe image `setup` (branded or not, signed too: it is only
// read), as UTF-8, by id. False with `error` when it is no Windows program or has no string
// table.
bool ReadStubTexts(const Bytes& setup, std::vector<std::pair<uint32_t, std::string>>& texts,
                   std::string& error);

}  // namespace datapack

#endif
