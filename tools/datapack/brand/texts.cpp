#include "texts.h"

#include <stdio.h>

#include <algorithm>

#include "buffers.h"  // TEXT_LOAD_SIZE
#include "codepage.h"
#include "failure.h"   // LoadCompiledText
#include "messages.h"  // PLACEHOLDER, TEXT_PREPARING
#include "resource.h"

namespace datapack {

const TextKey kTextKeys[] = {
    {"title", IDS_TITLE},           {"window-message", 0},
    {"need-win32", IDS_NEED_WIN32}, {"no-temp", IDS_NO_TEMP},
    {"no-package", IDS_NO_PACKAGE}, {"corrupt-package", IDS_CORRUPT_HEAD},
    {"no-list", IDS_NO_LIST},       {"corrupt-list", IDS_LIST_CORRUPT},
    {"no-space", IDS_NO_SPACE},     {"cannot-copy", IDS_CANNOT_COPY},
    {"cannot-run", IDS_CANNOT_RUN},
};
const size_t kTextKeyCount = sizeof kTextKeys / sizeof kTextKeys[0];

bool DecodeUtf8(const std::string& in, std::u32string& out) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    unsigned char c = in[i];
    int extra = c < 0x80             ? 0
                : (c & 0xE0) == 0xC0 ? 1
                : (c & 0xF0) == 0xE0 ? 2
                : (c & 0xF8) == 0xF0 ? 3
                                     : -1;
    if (extra < 0 || i + extra >= in.size() + (extra == 0)) return false;
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = in[i + k];
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.push_back(cp);
    i += size_t(extra) + 1;
  }
  return true;
}

std::u16string Utf16(const std::u32string& in) {
  std::u16string out;
  for (char32_t c : in) {
    if (c < 0x10000) {
      out.push_back(char16_t(c));
    } else {
      out.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

namespace {

const uint32_t kRtString = 6;
const size_t kTextMax = TEXT_LOAD_SIZE - 1;  // bytes in the user's code page

std::string Utf8(const std::u16string& in) {
  std::string s;
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < in.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
    if (c < 0x80) {
      s += char(c);
    } else if (c < 0x800) {
      s += char(0xC0 | c >> 6);
      s += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      s += char(0xE0 | c >> 12);
      s += char(0x80 | (c >> 6 & 0x3F));
      s += char(0x80 | (c & 0x3F));
    } else {
      s += char(0xF0 | c >> 18);
      s += char(0x80 | (c >> 12 & 0x3F));
      s += char(0x80 | (c >> 6 & 0x3F));
      s += char(0x80 | (c & 0x3F));
    }
  }
  return s;
}

// A string table block's 16 texts; false when it is damaged.
bool ReadBlock(const Bytes& data, std::vector<std::u16string>& table) {
  table.assign(16, std::u16string());
  size_t at = 0;
  for (auto& entry : table) {
    if (at + 2 > data.size()) break;
    size_t n = Get16(data, at);
    at += 2;
    if (at + 2 * n > data.size()) return false;
    for (size_t i = 0; i < n; ++i) entry.push_back(char16_t(Get16(data, at + 2 * i)));
    at += 2 * n;
  }
  return true;
}

std::string CodePoint(char32_t c) {
  char buf[16];
  snprintf(buf, sizeof buf, "U+%04X", unsigned(c));
  return buf;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 2)) ++n;
  return n;
}

// Advance widths of 8-point MS Sans Serif at 96 dpi, rounded up; a character of two bytes
// in the code page is a full-width East Asian one.
int Advance(char32_t c, size_t bytes) {
  if (bytes > 1) return 12;
  if (c == ' ') return 3;
  if (c < 0x80) {
    const std::string narrow = "ijl.,:;'!|", slim = "frtI()[]-/", wide = "mw", widest = "MW";
    if (narrow.find(char(c)) != std::string::npos) return 2;
    if (slim.find(char(c)) != std::string::npos) return 4;
    if (wide.find(char(c)) != std::string::npos) return 8;
    if (widest.find(char(c)) != std::string::npos) return 10;
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return 6;
    if (c >= 'A' && c <= 'Z') return 7;
    return 5;
  }
  return 7;
}

}  // namespace

std::string DefaultText(const TextKey& key) {
  if (key.id == 0) return TEXT_PREPARING;
  char text[TEXT_LOAD_SIZE];
  LoadCompiledText(key.id, text, sizeof text);
  return text;
}

int MessageLines(const std::u32string& text, unsigned codepage) {
  const int kWidth = 277;  // 185 dialog units of 6 / 4 pixels
  int lines = 1, x = 0;
  size_t i = 0;
  while (i < text.size()) {
    // The next unit that cannot be broken: a word with the spaces before it, or one
    // character of two bytes.
    std::string bytes;
    int spaces = 0, word = 0;
    size_t j = i;
    while (j < text.size() && text[j] == ' ') spaces += Advance(text[j++], 1);
    while (j < text.size() && text[j] != ' ') {
      size_t n = CodePageChar(codepage, text[j], bytes) ? bytes.size() : 1;
      if (n > 1) {
        if (word == 0) word = Advance(text[j++], n);
        break;
      }
      word += Advance(text[j++], n);
    }
    if (x > 0 && x + spaces + word > kWidth) {
      ++lines;  // the spaces at the break vanish
      x = word;
    } else {
      x += spaces + word;
    }
    while (x > kWidth) {  // a word wider than the line is broken inside it
      ++lines;
      x -= kWidth;
    }
    i = j;
  }
  return lines;
}

bool ParseTexts(const std::string& file, unsigned codepage, Texts& texts, std::string& error) {
  texts = Texts();
  std::vector<bool> seen(kTextKeyCount, false);
  size_t start = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (int number = 1; start < file.size(); ++number) {
    size_t end = file.find('\n', start);
    if (end == std::string::npos) end = file.size();
    std::string line = file.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = "line " + std::to_string(number) + ": ";
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      error = where + "not key=value";
      return false;
    }
    std::string key = line.substr(first, eq - first);
    key.erase(key.find_last_not_of(" \t") + 1);
    const std::string value = line.substr(eq + 1);
    size_t k = 0;
    while (k < kTextKeyCount && key != kTextKeys[k].key) ++k;
    if (k == kTextKeyCount) {
      error = where + "unknown key '" + key + "' (datapack help brand lists the keys)";
      return false;
    }
    if (seen[k]) {
      error = where + key + " is given a second time";
      return false;
    }
    seen[k] = true;
    std::u32string chars;
    if (!DecodeUtf8(value, chars)) {
      error = where + key + " is not UTF-8 text";
      return false;
    }
    if (chars.empty()) {
      error = where + key + " is empty";
      return false;
    }
    for (char32_t c : chars) {
      if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029) {
        error = where + key + " holds control character " + CodePoint(c);
        return false;
      }
    }
    const size_t wanted = Count(DefaultText(kTextKeys[k]), PLACEHOLDER);
    const size_t holds = Count(value, PLACEHOLDER);
    if (holds != wanted) {
      error = where + key +
              (wanted == 0  ? " names no file: it takes no " PLACEHOLDER
               : holds == 0 ? " lacks " PLACEHOLDER ", where the file's name goes"
                            : " holds " PLACEHOLDER " more than once; the name goes in once");
      return false;
    }
    size_t bytes = 0;
    std::string one;
    std::u32string missing;  // warned about once per line
    for (char32_t c : chars) {
      if (CodePageChar(codepage, c, one)) {
        bytes += one.size();
        continue;
      }
      bytes += 1;  // shown as '?'
      if (missing.find(c) != std::u32string::npos) continue;
      missing.push_back(c);
      texts.warnings.push_back(where + key + ": character " + CodePoint(c) +
                               " is not in code page " + std::to_string(codepage) +
                               "; users of that code page see '?' or a look-alike");
    }
    if (bytes > kTextMax) {
      error = where + key + " takes " + std::to_string(bytes) + " bytes in code page " +
              std::to_string(codepage) + "; setup.exe holds at most " + std::to_string(kTextMax);
      return false;
    }
    if (kTextKeys[k].id == 0) {
      texts.message = Utf16(chars);
      const int lines = MessageLines(chars, codepage);
      if (lines > kMessageLinesShown)
        texts.warnings.push_back(where + key + " may need " + std::to_string(lines) +
                                 " lines; the window shows " + std::to_string(kMessageLinesShown) +
                                 " and cuts off the rest: shorten it");
    } else {
      texts.strings.push_back({kTextKeys[k].id, Utf16(chars)});
    }
  }
  return true;
}

bool ReplaceStrings(std::vector<Resource>& resources,
                    const std::vector<std::pair<uint32_t, std::u16string>>& strings,
                    std::string& error) {
  for (const auto& s : strings) {
    // A block of 16 strings per resource: name id / 16 + 1, each a length and its UTF-16
    // code units, no terminating zero.
    const uint32_t block = s.first / 16 + 1;
    auto r = std::find_if(resources.begin(), resources.end(), [&](const Resource& res) {
      return res.type.text.empty() && res.type.id == kRtString && res.name.text.empty() &&
             res.name.id == block;
    });
    if (r == resources.end()) {
      error = "it has no message texts (string table): it is not the setup bootstrapper";
      return false;
    }
    std::vector<std::u16string> table;
    if (!ReadBlock(r->data, table)) {
      error = "its string table is damaged";
      return false;
    }
    table[s.first % 16] = s.second;
    Bytes data;
    for (const auto& entry : table) {
      Append16(data, uint32_t(entry.size()));
      for (char16_t c : entry) Append16(data, c);
    }
    r->data = data;
  }
  return true;
}

bool IsUtf8Text(const std::string& text) {
  std::u32string chars;
  if (!DecodeUtf8(text, chars)) return false;
  for (char32_t c : chars)
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
  return true;
}

bool ReadStubTexts(const Bytes& setup, std::vector<std::pair<uint32_t, std::string>>& texts,
                   std::string& error) {
  texts.clear();
  PeImage pe;
  std::vector<Resource> resources;
  if (!ReadPeImage(setup, pe, error, PeRead::kInspect) ||
      !ParseResources(pe.resources, pe.resource_rva, 0, resources, error))
    return false;
  for (const Resource& r : resources) {
    if (!r.type.text.empty() || r.type.id != kRtString || !r.name.text.empty()) continue;
    std::vector<std::u16string> table;
    if (!ReadBlock(r.data, table)) {
      error = "its string table is damaged";
      return false;
    }
    for (size_t i = 0; i < table.size(); ++i)
      if (!table[i].empty()) texts.push_back({(r.name.id - 1) * 16 + uint32_t(i), Utf8(table[i])});
  }
  if (texts.empty())
    error = "it has no message texts (string table): it is not the setup bootstrapper";
  return !texts.empty();
}

}  // namespace datapack
