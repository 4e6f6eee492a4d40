// The list file's text rules and its reading step by step.
#include "listfile.h"

#include <stdint.h>
#include <string.h>

int ReadListLine(struct ByteReader* r, char* line) {
  uint32_t len = 0;
  for (;;) {
    unsigned char c;
    uint32_t got = 0;
    if (!r->read(r->ctx, &c, 1, &got) || got == 0) {
      line[0] = '\0';
      return 0;
    }
    if (c == '\r' || c == '\n') {
      line[len] = '\0';
      unsigned char partner = c == '\r' ? '\n' : '\r';
      if (!r->read(r->ctx, &c, 1, &got)) return 0;
      if (got == 0 || c == partner) return 1;
      // The byte starts the next line: give it back. If that fails the next line would
      // silently lose its first character, so it counts as a failed read.
      return r->back(r->ctx) ? 1 : 0;
    }
    if (len == LIST_LINE_MAX) {
      line[0] = '\0';
      return 0;
    }
    line[len++] = (char)c;
  }
}

// ReadListValue with the reason for a failure: LIST_UNREADABLE_LINE or LIST_NO_EQUALS.
static int ReadValue(struct ByteReader* r, char* line) {
  if (!ReadListLine(r, line)) return LIST_UNREADABLE_LINE;
  int eq = FindChar(line, '=', 0);
  if (eq < 0) return LIST_NO_EQUALS;
  memmove(line, line + eq + 1, strlen(line + eq + 1) + 1);
  return LIST_OK;
}

int ReadListValue(struct ByteReader* r, char* line) { return ReadValue(r, line) == LIST_OK; }

int SplitField(char* field, char* rest) {
  int comma = FindChar(rest, ',', 0);
  size_t len = comma < 0 ? strlen(rest) : (size_t)comma;
  if (len > LIST_FIELD_MAX) return 0;
  memcpy(field, rest, len);
  field[len] = '\0';
  if (comma < 0) {
    rest[0] = '\0';
  } else {
    memmove(rest, rest + comma + 1, strlen(rest + comma + 1) + 1);
  }
  return 1;
}

int FindChar(const char* s, char c, int from_end) {
  int found = -1;
  for (int i = 0; s[i]; i++) {
    if (s[i] != c) continue;
    found = i;
    if (!from_end) break;
  }
  return found;
}

uint32_t ParseListNumber(const char* value) {
  const char* p = value;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') p++;
  int negative = 0;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint32_t n = 0;
  // Wrapping is the format's rule: sizes up to 4294967295 are written as plain digits.
  for (; *p >= '0' && *p <= '9'; p++) n = n * 10u + (uint32_t)(*p - '0');
  return negative ? 0u - n : n;
}

int IsDeviceName(const char* name) {
  // Windows drops trailing spaces and dots from a name before it looks, and takes the part
  // before the first dot, without spaces at its end, as the device ("Com1.bin", "NUL .txt").
  size_t len = strlen(name);
  while (len > 0 && (name[len - 1] == ' ' || name[len - 1] == '.')) len--;
  size_t base = 0;
  while (base < len && name[base] != '.') base++;
  while (base > 0 && name[base - 1] == ' ') base--;
  if (base < 3 || base > 7) return 0;
  char upper[8];
  for (size_t i = 0; i < base; i++) {
    char c = name[i];
    upper[i] = c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
  }
  upper[base] = '\0';
  // COM1..COM9 and LPT1..LPT9 compare as COMn and LPTn; COM0 and COM10 are ordinary names.
  // Windows takes the superscripts 1, 2 and 3 for digits too: the ANSI (code page 1252)
  // bytes 0xB9, 0xB2 and 0xB3 of "COM\xB9" reach it as U+00B9 and so on.
  if (base == 4) {
    const unsigned char d = (unsigned char)upper[3];
    upper[3] = (d >= '1' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3 ? 'n' : '?';
  }
  // CLOCK$ is the clock device of Windows 95 and 98 (writing to it sets the time);
  // CONIN$ and CONOUT$ are the console, to a program that opens them by name from the
  // working folder, as the setup program does with its files.
  static const char* const kDevices[] = {"CON",  "PRN",    "AUX",    "NUL",    "COMn",
                                         "LPTn", "CLOCK$", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (strcmp(upper, device) == 0) return 1;
  return 0;
}

// The length of a name as Windows stores it: trailing spaces and dots dropped.
static size_t StoredLength(const char* name) {
  size_t len = strlen(name);
  while (len > 0 && (name[len - 1] == ' ' || name[len - 1] == '.')) len--;
  return len;
}

int SameWindowsName(const char* a, const char* b) {
  const size_t len = StoredLength(a);
  if (StoredLength(b) != len) return 0;
  for (size_t i = 0; i < len; i++) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = (char)(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = (char)(y - 'a' + 'A');
    if (x != y) return 0;
  }
  return 1;
}

int IsPlainFileName(const char* name) {
  if (!name[0]) return 0;
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
  // A separator or drive colon would let a list place files outside the working folder
  // (the bootstrapper joins folder and name without looking).
  if (FindChar(name, '\\', 0) >= 0 || FindChar(name, '/', 0) >= 0 || FindChar(name, ':', 0) >= 0)
    return 0;
  // A device name opens the device, in any folder: "NUL" would be "unpacked" with success
  // and no file, and COMn or LPTn would send the data to a port, where writing can block.
  return !IsDeviceName(name);
}

int TakeSupportName(char* value, char* name) {
  char field[LIST_FIELD_SIZE];
  if (!SplitField(field, value) || !SplitField(field, value)) return 0;
  int space = FindChar(field, ' ', 0);
  if (space >= 0) field[space] = '\0';
  size_t len = strlen(field);
  if (len > SUPPORT_NAME_MAX) return 0;
  if (field[0] && !IsPlainFileName(field)) return 0;
  memset(name, 0, SUPPORT_SLOT_SIZE);
  memcpy(name, field, len);
  return 1;
}

void StartListReader(struct ListReader* l, struct ByteReader* r) {
  memset(l, 0, sizeof *l);
  l->r = r;
}

// The next line's value into value[LIST_BUFFER_SIZE], counting the line.
static int NextValue(struct ListReader* l, char* value) {
  l->line++;
  return ReadValue(l->r, value);
}

int ReadListSizes(struct ListReader* l) {
  char value[LIST_BUFFER_SIZE];
  while (l->line < LIST_COUNT_LINE - 1) {
    int err = NextValue(l, value);
    if (err != LIST_OK) return err;
    if (l->line == LIST_FIRST_SIZE_LINE) l->size1 = ParseListNumber(value);
    if (l->line == LIST_FIRST_SIZE_LINE + 1) l->size2 = ParseListNumber(value);
  }
  l->expected = l->size1 + l->size2;
  return LIST_OK;
}

int ReadListCount(struct ListReader* l) {
  char value[LIST_BUFFER_SIZE];
  int err = NextValue(l, value);
  if (err != LIST_OK) return err;
  l->count = (int32_t)ParseListNumber(value);
  if (l->count == 0) return LIST_ZERO_COUNT;
  l->slots = l->count > 0 ? (uint32_t)l->count : 0;
  return LIST_OK;
}

int ReadListName(struct ListReader* l, char* slot) {
  char value[LIST_BUFFER_SIZE];
  int err = NextValue(l, value);
  if (err != LIST_OK) return err;
  return TakeSupportName(value, slot) ? LIST_OK : LIST_BAD_NAME;
}

const char* ListErrorText(int error) {
  switch (error) {
    case LIST_OK: return "ok";
    case LIST_UNREADABLE_LINE:
      return "line missing, without line ending, or longer than 519 characters";
    case LIST_NO_EQUALS: return "line without \"=\"";
    case LIST_ZERO_COUNT: return "count of support files is 0";
    case LIST_BAD_NAME: return "support file name too long or not a plain file name";
    default: return "unknown list error";
  }
}
