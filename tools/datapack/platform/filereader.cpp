#include "filereader.h"

#include <errno.h>

namespace datapack {

static int FileRead(void* ctx, void* buf, uint32_t want, uint32_t* got) {
  FileReader* f = (FileReader*)ctx;
  size_t n = want ? fread(buf, 1, want, f->file) : 0;
  *got = (uint32_t)n;
  if (n < want && ferror(f->file)) {
    f->failed = true;
    f->error = errno;
    return 0;
  }
  return 1;
}

static int FileBack(void* ctx) {
  FileReader* f = (FileReader*)ctx;
  return fseek(f->file, -1, SEEK_CUR) == 0;
}

void InitFileReader(FileReader* f, ByteReader* r, FILE* file) {
  f->file = file;
  f->failed = false;
  f->error = 0;
  r->ctx = f;
  r->read = FileRead;
  r->back = FileBack;
}

}  // namespace datapack
