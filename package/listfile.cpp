// The list file's text rules and the bootstrapper's reading of lines 1 to 10 + count.
#include "listfile.h"

#include <stdint.h>
#include <string.h>

#include "core_memory.h"

int ReadListLine(struct ByteReader *r, char *line) {
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
static int ReadValue(struct ByteReader *r, char *line) {
  if (!ReadListLine(r, line)) return LIST_UNREADABLE_LINE;
  int eq = FindChar(line, '=', 0);
  if (eq < 0) return LIST_NO_EQUALS;
  memmove(line, line + eq + 1, strlen(line + eq + 1) + 1);
  return LIST_OK;
}

int ReadListValue(struct ByteReader *r, char *line) {
  return ReadValue(r, line) == LIST_OK;
}

int SplitField(char *field, char *rest) {
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

int FindChar(const char *s, char c, int from_end) {
  int found = -1;
  for (int i = 0; s[i]; i++) {
    if (s[i] != c) continue;
    found = i;
    if (!from_end) break;
  }
  return found;
}

uint32_t ParseListNumber(const char *value) {
  const char *p = value;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') p++;
  int negative = 0;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint32_t n = 0;
  // Wrapping is the format's rule: sizes up to 4294967295 are written as plain digits.
  for (; *p >= '0' && *p <= '9'; p++) n = n * 10u + (uint32_t)(*p - '0');
  return negative ? 0u - n : n;
}

int IsDeviceName(const char *name) {
  // Windows drops trailing spaces and dots from a name before it looks, and takes the part
  // before the first dot, without spaces at its end, as the device ("Com1.bin", "NUL .txt").
  size_t len = strlen(name);
  while (len > 0 && (name[len - 1] == ' ' || name[len - 1] == '.')) len--;
  size_t base = 0;
  while (base < len && name[base] != '.') base++;
  while (base > 0 && name[base - 1] == ' ') base--;
  if (base < 3 || base > 4) return 0;
  char upper[5];
  for (size_t i = 0; i < base; i++) {
    char c = name[i];
    upper[i] = c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
  }
  upper[base] = '\0';
  static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  if (base == 3) {
    for (const char *device : kDevices)
      if (strcmp(upper, device) == 0) return 1;
    return 0;
  }
  // COM1..COM9 and LPT1..LPT9; COM0 and COM10 are ordinary names.
  upper[3] = upper[3] >= '1' && upper[3] <= '9' ? 'n' : '\0';
  return strcmp(upper, "COMn") == 0 || strcmp(upper, "LPTn") == 0;
}

int IsPlainFileName(const char *name) {
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

int TakeSupportName(char *value, char *name) {
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

static int Stop(struct ListSummary *s, int error, uint32_t line) {
  s->error = error;
  s->error_line = line;
  return error;
}

int ReadListSummary(struct ByteReader *r, struct ListSummary *s) {
  char line[LIST_BUFFER_SIZE];
  uint32_t n;  // 1-based number of the line being read
  int err;
  memset(s, 0, sizeof *s);
  for (n = 1; n <= LIST_COUNT_LINE; n++) {
    if ((err = ReadValue(r, line)) != LIST_OK) return Stop(s, err, n);
    if (n == LIST_FIRST_SIZE_LINE) s->size1 = ParseListNumber(line);
    if (n == LIST_FIRST_SIZE_LINE + 1) s->size2 = ParseListNumber(line);
    if (n == LIST_COUNT_LINE) s->count = (int32_t)ParseListNumber(line);
  }
  s->expected = s->size1 + s->size2;
  if (s->count == 0) return Stop(s, LIST_ZERO_COUNT, LIST_COUNT_LINE);

  // The table grows as names arrive rather than being sized by the count up front, so that
  // a list claiming two billion files fails at its first missing line, not in the allocator.
  uint32_t capacity = 0;
  for (; s->count > 0 && s->names < (uint32_t)s->count; n++) {
    if ((err = ReadValue(r, line)) != LIST_OK) return Stop(s, err, n);
    if (s->names == capacity) {
      uint32_t grown = capacity ? capacity * 2 : 16;
      if (grown > (uint32_t)s->count) grown = (uint32_t)s->count;
      // On a 32-bit build grown * 26 could wrap around to a small size.
      void *p = (uint64_t)grown * SUPPORT_SLOT_SIZE > (uint64_t)SIZE_MAX
                    ? NULL
                    : PackageAllocZeroed((size_t)grown * SUPPORT_SLOT_SIZE);
      if (!p) return Stop(s, LIST_NO_MEMORY, n);
      if (s->names) memcpy(p, s->name, (size_t)s->names * SUPPORT_SLOT_SIZE);
      PackageFree(s->name);
      s->name = (char(*)[SUPPORT_SLOT_SIZE])p;
      capacity = grown;
    }
    if (!TakeSupportName(line, s->name[s->names])) return Stop(s, LIST_BAD_NAME, n);
    s->names++;
  }
  return LIST_OK;
}

void FreeListSummary(struct ListSummary *s) {
  PackageFree(s->name);
  s->name = NULL;
  s->names = 0;
}

const char *ListErrorText(int error) {
  switch (error) {
    case LIST_OK: return "ok";
    case LIST_UNREADABLE_LINE: return "line missing, without line ending, or longer than 519 characters";
    case LIST_NO_EQUALS: return "line without \"=\"";
    case LIST_ZERO_COUNT: return "count of support files is 0";
    case LIST_BAD_NAME: return "support file name too long or not a plain file name";
    case LIST_NO_MEMORY: return "not enough memory for the file table";
    default: return "unknown list error";
  }
}
