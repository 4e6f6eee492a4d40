// Inflating one entry's stream with the bootstrapper's progress report points.
//
// zlib reports nothing per block by itself, so the stream is inflated in steps with the
// Z_BLOCK flush: inflate() then returns at every block boundary (and once right after the
// two-byte zlib header). At each such stop the header of the block that follows is peeked
// at in the input buffer, so that at the next stop it is known whether the block that just
// ended was Huffman-coded (a report point) or stored (none).
#include <string.h>
#include <zlib.h>

#include "inflate_blocks.h"
#include "package.h"

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
  if (InitInflater(&s) != Z_OK) {
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
      if (block == BLOCK_FIXED || block == BLOCK_DYNAMIC) ReportProgress(sink, info, done, 0);
      if (block >= BLOCK_STORED && block <= BLOCK_DYNAMIC) info->blocks[block]++;
      if (s.data_type & DT_LAST_BLOCK) {
        // The final block's output is all in the buffer; the Adler-32 comes next, and the
        // end report must not wait for it.
        ReportProgress(sink, info, done, 1);
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
    } else {
      status = InflateFailure(ret, &s, info);
    }
    info->produced = done;
    break;
  }
  info->stream_used = in_len - s.avail_in;
  if (produced) *produced = info->produced;
  inflateEnd(&s);  // s.msg points at zlib's constant strings, still valid afterwards
  return status;
}
