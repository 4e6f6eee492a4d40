// The entry decoder: one zlib inflate stream per entry, stepped with Z_BLOCK, reports at the
// ends of Huffman-coded blocks and at the stream's end.
//
// zlib reports nothing per block by itself, so the stream is inflated in steps with the
// Z_BLOCK flush: inflate() then returns at every block boundary (and once right after the
// two-byte zlib header). At each such stop the header of the block that follows is peeked
// at in the input, so that at the next stop it is known whether the block that just ended
// was Huffman-coded (a report point) or stored (none).
//
// The stored bytes come either from a ByteReader in pieces (datapack: an entry of any size
// passes through a fixed amount of memory) or from one buffer that holds them all
// (setup.exe, which reads each entry whole); the payload goes to a PayloadSink in pieces, or
// stays where it was inflated. The whole buffer is just the one-piece case, which needs care
// only where pieces end:
//  - the block-header peek reads the last byte zlib consumed, which lies in the previous
//    piece once the input has been refilled: the input buffer keeps a copy of it in its
//    first byte, just before the new bytes;
//  - a stop for want of input or output room is only the end of a piece, not a verdict:
//    the loop refills or empties and goes on, so that zlib's answers are those it gives
//    the whole stream;
//  - the full-output check hands zlib one spare byte and may need further pieces of input
//    before zlib can say whether the stream wanted more room.
#include <string.h>
#include <zlib.h>

#include "core_memory.h"
#include "inflate_entry.h"

enum {
  NO_BLOCK = -1,     // between the header and the first block, after the last, or unknown
  BLOCK_STORED = 0,  // deflate BTYPE values
  BLOCK_FIXED = 1,
  BLOCK_DYNAMIC = 2
};

// The type of the block that starts at the current bit position of `s`, which is stopped at
// a block boundary. The block header's three bits (BFINAL, then BTYPE) begin in the unused
// high bits of the last consumed byte (s->next_in[-1], which the feed keeps readable) and
// may run on into the next byte, which zlib has not taken yet. Returns NO_BLOCK when the
// input ends before the header does: inflate() then fails for want of input, so the type
// never matters. (BTYPE 3 is invalid; inflate() rejects it at its next step.)
static int PeekBlockType(const z_stream* s) {
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
static voidpf InflaterAlloc(voidpf, uInt items, uInt size) {
  if (size && items > SIZE_MAX / size) return Z_NULL;
  return PackageAllocZeroed((size_t)items * size);
}

static void InflaterFree(voidpf, voidpf p) { PackageFree(p); }

// Counts a report in `info` and hands it to the sink, when there is one.
static void ReportProgress(const struct ProgressSink* sink, struct EntryInfo* info,
                           uint32_t bytes_out, int end) {
  info->reports++;
  if (sink && sink->report) sink->report(sink->ctx, bytes_out, end);
}

// Fills dst[0..want) from the source; what it does not deliver reads as zeros, as in
// ReadEntry's zero-filled buffer. After a short or failed read the source is not asked again.
static void Take(struct Feed* f, unsigned char* dst, uint32_t want) {
  uint32_t got = 0;
  if (!f->source_done) {
    int ok = f->r->read(f->r->ctx, dst, want, &got);
    if (got > want) got = want;
    f->delivered += got;
    if (!ok || got < want) f->source_done = 1;
  }
  if (got < want) memset(dst + got, 0, want - got);
}

// Gives zlib the next piece once it has taken all of the previous one.
static void Refill(struct Feed* f, z_stream* s) {
  if (s->avail_in || f->fed == f->in_len) return;
  if (!f->r) {  // one piece: the last consumed byte stays readable in place
    s->next_in = f->in;
    s->avail_in = f->in_len;
    f->fed = f->in_len;
    return;
  }
  unsigned char* b = f->in;
  b[0] = f->fed ? s->next_in[-1] : 0;  // the last consumed byte, for PeekBlockType
  uint32_t n = f->in_size - 1;
  if (n > f->in_len - f->fed) n = f->in_len - f->fed;
  Take(f, b + 1, n);
  s->next_in = b + 1;
  s->avail_in = n;
  f->fed += n;
}

// ReadEntry reads all stored bytes before inflating; a feed from a source reads the rest
// after a verdict, for the same place in the source.
void SkipRestOfFeed(struct Feed* f) {
  while (f->fed < f->in_len && !f->source_done) {
    uint32_t n = f->in_size;
    if (n > f->in_len - f->fed) n = f->in_len - f->fed;
    Take(f, f->in, n);
    f->fed += n;
  }
}

int FlushDrain(struct Drain* d) {
  if (d->in_place) return 1;
  if (d->pending && !d->mute && d->out && d->out->write &&
      !d->out->write(d->out->ctx, d->buf, d->pending))
    return 0;
  d->pending = 0;
  return 1;
}

// The output is full at its capacity and zlib made no progress: too long, or starved of
// input? One spare byte of room answers it. The whole-buffer decoder asks in one call, which
// runs on (also past the spare byte) until it needs more room, reaches a block boundary or
// the end, or fails; here a call may also stop where a piece of input ends, and is then
// continued with the next piece, so that as much of the stream is consumed.
static int ClassifyFullStop(z_stream* s, struct Feed* f, struct EntryInfo* info) {
  unsigned char spare;
  int ret;
  s->next_out = &spare;
  s->avail_out = 1;
  for (;;) {
    ret = inflate(s, Z_BLOCK);
    const int piece_end = ret == Z_BUF_ERROR || (ret == Z_OK && !(s->data_type & DT_BOUNDARY));
    if (!piece_end || s->avail_in || f->fed == f->in_len) break;
    Refill(f, s);
  }
  if (s->avail_out == 0)
    return FailEntry(info, ENTRY_TOO_LONG, "stream produces more than the declared inflated size");
  return FailEntry(info, ENTRY_BAD_STREAM,
                   (ret == Z_DATA_ERROR && s->msg) ? s->msg : "stream ends before its end");
}

// Classifies an inflate() return that ends decoding and sets info->reason for a failure.
// Refilled and emptied before the call, so a Z_BUF_ERROR means what it means for the whole
// stream: no input left at all, or no room left within the capacity.
static int FinalStatus(int ret, z_stream* s, struct Feed* f, struct EntryInfo* info) {
  switch (ret) {
    case Z_STREAM_END: return ENTRY_OK;
    case Z_BUF_ERROR:
      if (s->avail_out == 0) return ClassifyFullStop(s, f, info);
      return FailEntry(info, ENTRY_BAD_STREAM, "stream ends before its end");
    case Z_NEED_DICT: return FailEntry(info, ENTRY_BAD_STREAM, "stream needs a preset dictionary");
    case Z_MEM_ERROR: return FailEntry(info, ENTRY_NO_MEMORY, "out of memory for the inflater");
    default:
      return FailEntry(info, ENTRY_BAD_STREAM, s->msg ? s->msg : "stream is not valid zlib data");
  }
}

int InflateFeed(struct Feed* f, struct Drain* d, uint32_t out_cap, TailSkipper skip_tail,
                const struct ProgressSink* sink, struct EntryInfo* info) {
  info->produced = 0;
  info->stream_used = 0;
  memset(info->blocks, 0, sizeof info->blocks);
  info->reports = 0;
  info->reason = NULL;
  z_stream s;
  memset(&s, 0, sizeof s);
  s.zalloc = InflaterAlloc;
  s.zfree = InflaterFree;
  if (inflateInit(&s) != Z_OK)
    return FailEntry(info, ENTRY_NO_MEMORY, "out of memory for the inflater");
  int block = NO_BLOCK;             // type of the block being decoded
  int status = ENTRY_SINK_STOPPED;  // a break without a verdict: the sink said stop
  struct TailSkip t = {0, 0, out_cap, 0, 0};
  for (;;) {
    Refill(f, &s);
    if (d->pending == d->out_size && !FlushDrain(d)) break;
    if (skip_tail) {
      const int tail = skip_tail(&s, f, d, &t);
      if (tail == TAIL_SINK_STOPPED) break;
      if (tail == TAIL_SKIPPED) continue;
    }
    uint32_t room = d->out_size - d->pending;
    if (room > t.cap - d->total) room = t.cap - d->total;
    s.next_out = d->buf + d->pending;
    s.avail_out = room;
    int ret = inflate(&s, Z_BLOCK);
    uint32_t made = room - s.avail_out;
    d->pending += made;
    d->total += made;
    if (ret != Z_OK) {
      status = FinalStatus(ret, &s, f, info);
      // What was produced before a failure is delivered too.
      if (!FlushDrain(d)) status = ENTRY_SINK_STOPPED;
      break;
    }
    // The end of a piece of input or output, or a block boundary.
    if (!(s.data_type & DT_BOUNDARY)) continue;
    const int huffman = block == BLOCK_FIXED || block == BLOCK_DYNAMIC;
    const int last = (s.data_type & DT_LAST_BLOCK) != 0;
    if ((huffman || last) && !FlushDrain(d)) break;
    if (huffman) ReportProgress(sink, info, d->total + t.out, 0);
    if (block >= BLOCK_STORED && block <= BLOCK_DYNAMIC) info->blocks[block]++;
    if (last) {
      // The final block's output is all delivered; the Adler-32 comes next, and the end
      // report must not wait for it.
      ReportProgress(sink, info, d->total + t.out, 1);
      block = NO_BLOCK;
    } else {
      Refill(f, &s);
      block = PeekBlockType(&s);
    }
  }
  info->produced = d->total + t.out;
  info->stream_used = f->fed - s.avail_in + t.in;
  inflateEnd(&s);  // s.msg points at zlib's constant strings, still valid afterwards
  return status;
}

int InflateEntryBuffer(const unsigned char* in, uint32_t in_len, unsigned char* out,
                       uint32_t out_cap, uint32_t* produced, const struct ProgressSink* sink,
                       struct EntryInfo* info) {
  static unsigned char none;  // zlib refuses a NULL output pointer even for an empty buffer
  struct EntryInfo scratch;
  if (!info) info = &scratch;
  struct Feed f = {NULL, (unsigned char*)in, in_len, in_len, 0, in_len, 1};
  struct Drain d = {out_cap ? out : &none, out_cap, NULL, 0, 0, 0, 1};
  int status = InflateFeed(&f, &d, out_cap, NULL, sink, info);
  if (produced) *produced = info->produced;
  return status;
}
