// What both entry decoders (inflate_entry.cpp, whole buffers; inflate_stream.cpp, pieces) know
// of deflate blocks at inflate()'s Z_BLOCK stops. Internal to package/.
#ifndef PACKAGE_INFLATE_BLOCKS_H
#define PACKAGE_INFLATE_BLOCKS_H

#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include "core_memory.h"
#include "package.h"

enum {
  NO_BLOCK = -1,      // between the header and the first block, after the last, or unknown
  BLOCK_STORED = 0,   // deflate BTYPE values
  BLOCK_FIXED = 1,
  BLOCK_DYNAMIC = 2,
  BLOCK_INVALID = 3,  // inflate() rejects it at its next step
  // strm.data_type bits on return from inflate()
  DT_UNUSED_BITS = 7,   // unused bits in the last consumed byte (< 8 at a block boundary)
  DT_LAST_BLOCK = 64,   // the final block's header has been read
  DT_BOUNDARY = 128     // stopped at a block boundary, or just after the zlib header
};

// The type of the block that starts at the current bit position of `s`, which is stopped at
// a block boundary. The block header's three bits (BFINAL, then BTYPE) begin in the unused
// high bits of the last consumed byte (s->next_in[-1], which the caller keeps readable) and
// may run on into the next byte, which zlib has not taken yet. Returns NO_BLOCK when the
// input ends before the header does: inflate() then fails for want of input, so the type
// never matters.
static inline int PeekBlockType(const z_stream *s) {
  int unused = s->data_type & DT_UNUSED_BITS;
  unsigned bits = 0;
  if (unused) bits = (unsigned)s->next_in[-1] >> (8 - unused);
  if (unused < 3) {
    if (s->avail_in == 0) return NO_BLOCK;
    bits |= (unsigned)s->next_in[0] << unused;
  }
  return (int)((bits >> 1) & 3);
}

// zlib's state comes from the package core's memory like every other allocation of the core,
// not from zlib's default, the C library (which setup.exe does not link).
static inline voidpf InflaterAlloc(voidpf, uInt items, uInt size) {
  if (size && items > SIZE_MAX / size) return Z_NULL;
  return PackageAllocZeroed((size_t)items * size);
}

static inline void InflaterFree(voidpf, voidpf p) { PackageFree(p); }

// inflateInit() on a cleared stream that allocates through the package core's memory.
static inline int InitInflater(z_stream *s) {
  memset(s, 0, sizeof *s);
  s->zalloc = InflaterAlloc;
  s->zfree = InflaterFree;
  return inflateInit(s);
}

// Counts a report in `info` and hands it to the sink, when there is one.
static inline void ReportProgress(const struct ProgressSink *sink, struct EntryInfo *info,
                                  uint32_t bytes_out, int end) {
  info->reports++;
  if (sink && sink->report) sink->report(sink->ctx, bytes_out, end);
}

// The outcome of an inflate() return that ends decoding, other than the stream's end and a
// stop for want of output room (which each decoder classifies itself): sets info->reason.
static inline int InflateFailure(int ret, const z_stream *s, struct EntryInfo *info) {
  if (ret == Z_BUF_ERROR) {
    info->reason = "stream ends before its end";
    return ENTRY_BAD_STREAM;
  }
  if (ret == Z_NEED_DICT) {
    info->reason = "stream needs a preset dictionary";
    return ENTRY_BAD_STREAM;
  }
  if (ret == Z_MEM_ERROR) {
    info->reason = "out of memory for the inflater";
    return ENTRY_NO_MEMORY;
  }
  info->reason = s->msg ? s->msg : "stream is not valid zlib data";
  return ENTRY_BAD_STREAM;
}

#endif
