// ByteReader over a Win32 file handle; see handlereader.h.
#include "handlereader.h"

static int ReadHandle(void* ctx, void* buf, uint32_t want, uint32_t* got) {
  DWORD done = 0;
  BOOL ok = ReadFile((HANDLE)ctx, buf, want, &done, NULL);
  *got = done;
  return ok ? 1 : 0;
}

static int BackOneByte(void* ctx) {
  // The list file is far below 4 GiB, so the new low position can never be 0xFFFFFFFF and
  // that value means failure.
  return SetFilePointer((HANDLE)ctx, -1, NULL, FILE_CURRENT) != INVALID_SET_FILE_POINTER;
}

void InitHandleReader(struct ByteReader* r, HANDLE file) {
  r->ctx = file;
  r->read = ReadHandle;
  r->back = BackOneByte;
}
