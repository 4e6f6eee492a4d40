/* The C library's memory and string routines that setup.exe's code and zlib call: the
 * compiler emits calls to memcpy, memmove, memset and memcmp for copies and clears of its
 * own, zlib copies with memcpy, and the portable package core uses strlen and strcmp.
 * setup.exe links no C runtime (msvcrt.dll is not part of every system it starts on), so they
 * are defined here.
 *
 * Built freestanding, without built-ins and without loop-to-call rewriting
 * (window/CMakeLists.txt): otherwise the compiler may turn these very loops back into calls
 * to themselves. */
#include <stddef.h>

void* memmove(void* dst, const void* src, size_t n) {
  unsigned char* d = (unsigned char*)dst;
  const unsigned char* s = (const unsigned char*)src;
  if (d < s) {
    while (n--) *d++ = *s++;
  } else {
    while (n--) d[n] = s[n];
  }
  return dst;
}

/* Copies of regions that do not overlap are a case of memmove. */
void* memcpy(void* dst, const void* src, size_t n) { return memmove(dst, src, n); }

void* memset(void* dst, int c, size_t n) {
  unsigned char* d = (unsigned char*)dst;
  while (n--) *d++ = (unsigned char)c;
  return dst;
}

int memcmp(const void* a, const void* b, size_t n) {
  const unsigned char *p = (const unsigned char*)a, *q = (const unsigned char*)b;
  for (; n; n--, p++, q++) {
    if (*p != *q) return *p - *q;
  }
  return 0;
}

size_t strlen(const char* s) {
  const char* p = s;
  while (*p) p++;
  return (size_t)(p - s);
}

int strcmp(const char* a, const char* b) {
  const unsigned char *p = (const unsigned char*)a, *q = (const unsigned char*)b;
  while (*p && *p == *q) p++, q++;
  return *p - *q;
}
