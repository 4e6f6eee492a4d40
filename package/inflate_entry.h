// Inside the entry decoder: its input and output (inflate_entry.cpp, shared with the
// streaming entry points in inflate_stream.cpp) and what it knows of deflate blocks at
// inflate()'s Z_BLOCK stops. Internal to package/.
#ifndef PACKAGE_INFLATE_ENTRY_H
#define PACKAGE_INFLATE_ENTRY_H

#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include "core_memory.h"
#include "entry_stream.h"
#include "package.h"

enum {
  NO_BLOCK = -1,     // between the header and the first block, after the last, or unknown
  BLOCK_STORED = 0,  // deflate BTYPE values
  BLOCK_FIXED = 1,
  BLOCK_DYNAMIC = 2,
  BLOCK_INVALID = 3,  // inflate() rejects it at its next step
  // strm.data_type bits on return from inflate()
  DT_UNUSED_BITS = 7,  // unused bits in the last consumed byte (< 8 at a block boundary)
  DT_LAST_BLOCK = 64,  // the final block's header has been read
  DT_BOUNDARY = 128    // stopped at a block boundary, or just after the zlib header
};

// The type of the block that starts at the current bit position of `s`, which is stopped at
// a block boundary. The block header's three bits (BFINAL, then BTYPE) begin in the unused
// high bits of the last consumed byte (s->next_in[-1], which the caller keeps readable) and
// may run on into the next byte, which zlib has not taken yet. Returns NO_BLOCK when the
// input ends before the header does: inflate() then fails for want of input, so the type
// never matters.
static inline int PeekBlockType(const z_stream* s) {
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
static inline int InitInflater(z_stream* s) {
  memset(s, 0, sizeof *s);
  s->zalloc = InflaterAlloc;
  s->zfree = InflaterFree;
  return inflateInit(s);
}

// Counts a report in `info` and hands it to the sink, when there is one.
static inline void ReportProgress(const struct ProgressSink* sink, struct EntryInfo* info,
                                  uint32_t bytes_out, int end) {
  info->reports++;
  if (sink && sink->report) sink->report(sink->ctx, bytes_out, end);
}

// The outcome of an inflate() return that ends decoding, other than the stream's end and a
// stop for want of output room (which each decoder classifies itself): sets info->reason.
static inline int InflateFailure(int ret, const z_stream* s, struct EntryInfo* info) {
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

// ---- The decoder's input and output

// The stored bytes of one entry: read from the source piece by piece, or all in one buffer.
struct Feed {
  struct ByteReader* r;        // NULL: the stored bytes are all in `whole`
  const unsigned char* whole;  // in_len bytes (r == NULL)
  unsigned char* in;           // in_size bytes for pieces from `r`
  uint32_t in_size;
  uint32_t in_len;     // stream bytes in all (the entry's stored size)
  uint32_t fed;        // of them, handed to zlib or skipped so far
  uint32_t delivered;  // of them, delivered by the source
  int source_done;     // the source ended or failed: the rest reads as zeros
};

// The output buffer and where its bytes go.
struct Drain {
  unsigned char* buf;  // out_size bytes
  uint32_t out_size;
  const struct PayloadSink* out;  // may be NULL: the payload is only counted
  uint32_t total;                 // payload bytes produced
  uint32_t pending;               // of them, still in buf
  int mute;      // a zero tail was skipped: what follows is not the payload, keep it back
  int in_place;  // buf holds the whole payload: it is never handed over nor reused
};

// What the zero-tail skip has taken off the stream and the payload.
struct TailSkip {
  uint32_t in, out;     // zero bytes and payload bytes of the skipped periods
  uint32_t cap;         // the output capacity less `out`
  int probes;           // tries so far
  uint32_t next_probe;  // stream offset of the next try
};

enum { TAIL_NONE, TAIL_SKIPPED, TAIL_SINK_STOPPED };

// Tried before every inflate() step where stored bytes can be missing: may take whole
// periods of zeros off the feed (inflate_stream.cpp). Returns a TAIL_ value.
typedef int (*TailSkipper)(z_stream* s, struct Feed* f, struct Drain* d, struct TailSkip* t);

// Reads and drops the rest of the feed's stored bytes, so that the source is left after them.
void SkipRestOfFeed(struct Feed* f);

// Hands the drain's pending bytes to its sink. Returns 0 when the sink says stop.
int FlushDrain(struct Drain* d);

// Inflates the feed into the drain with room for `out_cap` payload bytes, reporting to `sink`.
// Sets info's produced, stream_used, blocks, reports and reason (not declared, stored,
// stored_read). `skip_tail` may be NULL. Returns an EntryStatus or ENTRY_SINK_STOPPED.
int InflateFeed(struct Feed* f, struct Drain* d, uint32_t out_cap, TailSkipper skip_tail,
                const struct ProgressSink* sink, struct EntryInfo* info);

#endif
