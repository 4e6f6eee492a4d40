// The entry decoder, streaming: the stored stream is read in pieces and the payload handed
// over in pieces, so that an entry of any size passes through a fixed amount of memory.
//
// It is the one decoder of the package core: setup.exe's whole-buffer readers (package.h:
// ReadEntry, InflateEntryBuffer) feed it their buffer in one piece and let it inflate in
// place; datapack's verify and extract feed it pieces. Where the buffers end never changes
// zlib's decoding, so both give the same status, reports and counters.
#ifndef PACKAGE_ENTRY_STREAM_H
#define PACKAGE_ENTRY_STREAM_H

#include <stdint.h>

#include "bytereader.h"
#include "package.h"

// Status beyond EntryStatus: the payload sink asked to stop (streaming only).
enum { ENTRY_SINK_STOPPED = 64 };

// Where the streaming decoder delivers the payload (file header included), in order.
struct PayloadSink {
  // Takes the next `size` (>= 1) payload bytes. They are delivered as they are inflated,
  // before the stream is known to be good: only the final status says whether they form a
  // payload the bootstrapper accepts. Returns 1 to go on, 0 to stop (ENTRY_SINK_STOPPED).
  int (*write)(void* ctx, const unsigned char* data, uint32_t size);
  void* ctx;
};

// Working memory, owned by the caller: the sizes set how often the source is read and the
// sink called, never the outcome.
struct StreamBuffers {
  unsigned char* in;   // in_size bytes
  uint32_t in_size;    // >= 2: one byte of it keeps the last byte zlib consumed
  unsigned char* out;  // out_size bytes
  uint32_t out_size;   // >= 1
};

// Inflates the next `in_len` bytes of `r` as InflateEntryBuffer inflates a buffer holding
// them, with room for `out_cap` payload bytes: same status, same reports in the same order,
// same `info` (produced, stream_used, blocks, reports, reason). As in ReadEntry, bytes the
// source does not deliver (it ends or fails) count as zeros, and all `in_len` bytes are taken
// from the source also when the stream ends before them, so that `r` is left after them;
// info->stored_read receives how many it delivered. `out` may be NULL (the payload is then
// only counted). Returns an EntryStatus, or ENTRY_SINK_STOPPED (info->reason says so;
// the rest of the stored bytes are then not read).
// Zeros standing for missing bytes can repeat one code without end (a literal or a copy per
// few bits, up to the room for output): where more than 1 MiB of room is left, the decoder
// measures that repetition and works out where it stops instead of inflating it, with the
// same status and `info`. Such an entry always fails; the sink then receives only the
// payload's beginning, produced before the skip (info->produced counts it all).
int InflateEntryReader(struct ByteReader* r, uint32_t in_len, uint32_t out_cap,
                       const struct StreamBuffers* buf, const struct PayloadSink* out,
                       const struct ProgressSink* sink, struct EntryInfo* info);

// ReadEntry in pieces: reads the next entry record from `r`, then its stream through
// InflateEntryReader. Fills `info` as ReadEntry fills e->info and returns the same status,
// ENTRY_SHORT_PAYLOAD included, except that it never allocates (ENTRY_NO_MEMORY only for
// sizes adding up to more than ENTRY_SIZE_MAX, which ReadEntry refuses before allocating) and may
// return ENTRY_SINK_STOPPED.
int ReadEntryStream(struct ByteReader* r, const struct ProgressSink* sink,
                    const struct StreamBuffers* buf, const struct PayloadSink* out,
                    struct EntryInfo* info);

#endif
