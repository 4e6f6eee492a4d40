// Inflating one entry's stream with the bootstrapper's progress report points.
//
// zlib reports nothing per block by itself, so the stream is inflated in steps with the
// Z_BLOCK flush: inflate() then returns at every block boundary (and once right after the
// two-byte zlib header). At each such stop the header of the block that follows is peeked
// at in the input buffer, so that at the next stop it is known whether the block that just
// ended was Huffman-coded (a report point) or stored (none).
#include <string.h>
#include <zlib.h>

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
// high bits of the last consumed byte and may run on into the next byte, which zlib has not
// taken yet. Returns NO_BLOCK when the input ends before the header does: inflate() then
// fails for want of input, so the type never matters.
static int PeekBlockType(const z_stream *s) {
  int unused = s->data_type & DT_UNUSED_BITS;
  unsigned bits = 0;
  if (unused) bits = (unsigned)s->next_in[-1] >> (8 - unused);
  if (unused < 3) {
    if (s->avail_in == 0) return NO_BLOCK;
    bits |= (unsigned)s->next_in[0] << unused;
  }
  return (int)((bits >> 1) & 3);
}

static void Report(const struct ProgressSink *sink, struct EntryInfo *info, uint32_t bytes_out,
                   int end) {
  info->reports++;
  if (sink && sink->report) sink->report(sink->ctx, bytes_out, end);
}

// Called when inflate() could make no progress although the output buffer is full: tells
// whether the stream wants to produce more (too long for the declared size) or is starved
// of input (a missing end). Handing zlib one spare byte answers it exactly; the stream is
// failing either way, so disturbing its state costs nothing.
static int ClassifyFullStop(z_stream *s, struct EntryInfo *info) {
  unsigned char spare;
  s->next_out = &spare;
  s->avail_out = 1;
  int ret = inflate(s, Z_BLOCK);
  if (s->avail_out == 0) {
    info->reason = "stream produces more than the declared inflated size";
    return ENTRY_TOO_LONG;
  }
  info->reason = (ret == Z_DATA_ERROR && s->msg) ? s->msg : "stream ends before its end";
  return ENTRY_BAD_STREAM;
}

int InflateEntryStream(const unsigned char *in, uint32_t in_len, unsigned char *out,
                       uint32_t out_cap, uint32_t *produced, const struct ProgressSink *sink,
                       struct EntryInfo *info) {
  // zlib refuses a NULL output pointer even for an empty buffer.
  static unsigned char none;
  struct EntryInfo scratch;
  if (!info) info = &scratch;
  info->produced = 0;
  info->stream_used = 0;
  memset(info->blocks, 0, sizeof info->blocks);
  info->reports = 0;
  info->reason = NULL;
  if (produced) *produced = 0;

  z_stream s;
  memset(&s, 0, sizeof s);
  if (inflateInit(&s) != Z_OK) {
    info->reason = "out of memory for the inflater";
    return ENTRY_NO_MEMORY;
  }
  s.next_in = (Bytef *)(in_len ? in : &none);
  s.avail_in = in_len;
  s.next_out = out_cap ? out : &none;
  s.avail_out = out_cap;

  int block = NO_BLOCK;  // type of the block being decoded
  int status;
  for (;;) {
    int ret = inflate(&s, Z_BLOCK);
    uint32_t done = out_cap - s.avail_out;
    if (ret == Z_OK) {
      // Every Z_OK return has consumed input or produced output, so this loop ends.
      if (!(s.data_type & DT_BOUNDARY)) continue;
      if (block == BLOCK_FIXED || block == BLOCK_DYNAMIC) Report(sink, info, done, 0);
      if (block >= BLOCK_STORED && block <= BLOCK_DYNAMIC) info->blocks[block]++;
      if (s.data_type & DT_LAST_BLOCK) {
        // The final block's output is all in the buffer; the Adler-32 comes next, and the
        // end report must not wait for it.
        Report(sink, info, done, 1);
        block = NO_BLOCK;
      } else {
        block = PeekBlockType(&s);
      }
      continue;
    }
    if (ret == Z_STREAM_END) {
      status = ENTRY_OK;
    } else if (ret == Z_BUF_ERROR && s.avail_out == 0) {
      status = ClassifyFullStop(&s, info);
    } else if (ret == Z_BUF_ERROR) {
      status = ENTRY_BAD_STREAM;
      info->reason = "stream ends before its end";
    } else if (ret == Z_NEED_DICT) {
      status = ENTRY_BAD_STREAM;
      info->reason = "stream needs a preset dictionary";
    } else if (ret == Z_MEM_ERROR) {
      status = ENTRY_NO_MEMORY;
      info->reason = "out of memory for the inflater";
    } else {
      status = ENTRY_BAD_STREAM;
      info->reason = s.msg ? s.msg : "stream is not valid zlib data";
    }
    info->produced = done;
    break;
  }
  info->stream_used = in_len - s.avail_in;
  if (produced) *produced = info->produced;
  inflateEnd(&s);  // s.msg points at zlib's constant strings, still valid afterwards
  return status;
}
