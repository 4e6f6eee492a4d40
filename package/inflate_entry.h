// Inside the entry decoder: its input and output (inflate_entry.cpp, shared with the
// streaming entry points in inflate_stream.cpp). Internal to package/.
#ifndef PACKAGE_INFLATE_ENTRY_H
#define PACKAGE_INFLATE_ENTRY_H

#include <stdint.h>
#include <zlib.h>

#include "entry_stream.h"
#include "package.h"

// strm.data_type bits on return from inflate()
enum {
  DT_UNUSED_BITS = 7,  // unused bits in the last consumed byte (< 8 at a block boundary)
  DT_LAST_BLOCK = 64,  // the final block's header has been read
  DT_BOUNDARY = 128    // stopped at a block boundary, or just after the zlib header
};

// Sets info->reason and returns `status`.
static inline int FailEntry(struct EntryInfo* info, int status, const char* reason) {
  info->reason = reason;
  return status;
}

// ---- The decoder's input and output

// The stored bytes of one entry: read from the source piece by piece, or all in one buffer.
struct Feed {
  struct ByteReader* r;  // NULL: `in` holds all in_len stored bytes
  unsigned char* in;     // in_size bytes for pieces from `r`
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
