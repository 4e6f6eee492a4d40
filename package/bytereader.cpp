// The memory ByteReader: datapack reads whole packages into memory, and the tests use
// fail_at to make a source break at a chosen offset.
#include "bytereader.h"

#include <string.h>

static int MemoryRead(void* ctx, void* buf, uint32_t want, uint32_t* got) {
  struct MemoryReader* m = (struct MemoryReader*)ctx;
  size_t left = m->pos < m->size ? m->size - m->pos : 0;
  size_t n = want < left ? want : left;
  int ok = 1;
  if (m->fail_at >= 0) {
    const size_t fail = (size_t)m->fail_at, before = m->pos < fail ? fail - m->pos : 0;
    // A read that would need the byte at fail_at (or beyond) delivers what lies before it
    // and then fails, as a disk read does when it meets a bad sector.
    if (m->pos >= fail || want > before) {
      if (n > before) n = before;
      ok = 0;
    }
  }
  if (n) memcpy(buf, m->data + m->pos, n);
  m->pos += n;
  *got = (uint32_t)n;
  return ok;
}

static int MemoryBack(void* ctx) {
  struct MemoryReader* m = (struct MemoryReader*)ctx;
  if (m->pos == 0) return 0;
  m->pos--;
  return 1;
}

void InitMemoryReader(struct MemoryReader* m, struct ByteReader* r, const void* data, size_t size) {
  m->data = (const unsigned char*)data;
  m->size = size;
  m->pos = 0;
  m->fail_at = -1;
  r->ctx = m;
  r->read = MemoryRead;
  r->back = MemoryBack;
}
