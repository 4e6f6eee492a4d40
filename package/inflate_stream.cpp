// Streaming twin of inflate_entry.cpp: one zlib inflate stream per entry, stepped with Z_BLOCK,
// reports at the ends of Huffman-coded blocks and at the stream's end, but fed from a
// ByteReader in pieces and emptied into a PayloadSink in pieces.
//
// What the whole-buffer decoder can take for granted needs care here:
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

#include "entry_stream.h"
#include "inflate_blocks.h"


// The stored bytes of one entry, read from the source piece by piece.
struct Feed {
  struct ByteReader *r;
  const struct StreamBuffers *buf;
  uint32_t in_len;     // stream bytes in all (the entry's stored size)
  uint32_t fed;        // of them, handed to zlib or skipped so far
  uint32_t delivered;  // of them, delivered by the source
  int source_done;     // the source ended or failed: the rest reads as zeros
};

// Fills dst[0..want) from the source; what it does not deliver reads as zeros, as in
// ReadEntry's zero-filled buffer. After a short or failed read the source is not asked again.
static void Take(struct Feed *f, unsigned char *dst, uint32_t want) {
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
static void Refill(struct Feed *f, z_stream *s) {
  if (s->avail_in || f->fed == f->in_len) return;
  unsigned char *b = f->buf->in;
  b[0] = f->fed ? s->next_in[-1] : 0;  // the last consumed byte, for PeekBlockType
  uint32_t n = f->buf->in_size - 1;
  if (n > f->in_len - f->fed) n = f->in_len - f->fed;
  Take(f, b + 1, n);
  s->next_in = b + 1;
  s->avail_in = n;
  f->fed += n;
}

// Reads and drops the rest of the entry's stored bytes, so that the source is left after
// them (ReadEntry reads them all before inflating).
static void Skip(struct Feed *f) {
  while (f->fed < f->in_len && !f->source_done) {
    uint32_t n = f->buf->in_size;
    if (n > f->in_len - f->fed) n = f->in_len - f->fed;
    Take(f, f->buf->in, n);
    f->fed += n;
  }
}

// PeekBlockType (inflate_blocks.h) is called only after the input has been refilled, so that
// only the true end of the stored bytes gives NO_BLOCK.

// The output buffer and where its bytes go.
struct Drain {
  const struct StreamBuffers *buf;
  const struct PayloadSink *out;
  uint32_t total;    // payload bytes produced
  uint32_t pending;  // of them, still in buf->out
};

// Hands the pending bytes to the sink. Returns 0 when the sink says stop.
static int Flush(struct Drain *d) {
  if (d->pending && d->out && d->out->write &&
      !d->out->write(d->out->ctx, d->buf->out, d->pending))
    return 0;
  d->pending = 0;
  return 1;
}


// The output is full at its capacity and zlib made no progress: too long, or starved of
// input? One spare byte of room answers it. The whole-buffer decoder asks in one call, which
// runs on (also past the spare byte) until it needs more room, reaches a block boundary or
// the end, or fails; here a call may also stop where a piece of input ends, and is then
// continued with the next piece, so that as much of the stream is consumed.
static int ClassifyFullStop(z_stream *s, struct Feed *f, struct EntryInfo *info) {
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
  if (s->avail_out == 0) {
    info->reason = "stream produces more than the declared inflated size";
    return ENTRY_TOO_LONG;
  }
  info->reason = (ret == Z_DATA_ERROR && s->msg) ? s->msg : "stream ends before its end";
  return ENTRY_BAD_STREAM;
}

int InflateEntryReader(struct ByteReader *r, uint32_t in_len, uint32_t out_cap,
                       const struct StreamBuffers *buf, const struct PayloadSink *out,
                       const struct ProgressSink *sink, struct EntryInfo *info) {
  struct EntryInfo scratch;
  if (!info) info = &scratch;
  info->produced = 0;
  info->stream_used = 0;
  info->stored_read = 0;
  memset(info->blocks, 0, sizeof info->blocks);
  info->reports = 0;
  info->reason = NULL;

  struct Feed f = {r, buf, in_len, 0, 0, 0};
  struct Drain d = {buf, out, 0, 0};
  z_stream s;
  if (InitInflater(&s) != Z_OK) {
    Skip(&f);
    info->stored_read = f.delivered;
    info->reason = "out of memory for the inflater";
    return ENTRY_NO_MEMORY;
  }
  s.next_in = buf->in + 1;
  s.avail_in = 0;

  int block = NO_BLOCK;  // type of the block being decoded
  int status;
  for (;;) {
    Refill(&f, &s);
    if (d.pending == buf->out_size && !Flush(&d)) {
      status = ENTRY_SINK_STOPPED;
      break;
    }
    uint32_t room = buf->out_size - d.pending;
    if (room > out_cap - d.total) room = out_cap - d.total;
    s.next_out = buf->out + d.pending;
    s.avail_out = room;
    int ret = inflate(&s, Z_BLOCK);
    uint32_t made = room - s.avail_out;
    d.pending += made;
    d.total += made;
    if (ret == Z_OK) {
      // The end of a piece of input or output, or a block boundary.
      if (!(s.data_type & DT_BOUNDARY)) continue;
      const int huffman = block == BLOCK_FIXED || block == BLOCK_DYNAMIC;
      const int last = (s.data_type & DT_LAST_BLOCK) != 0;
      if ((huffman || last) && !Flush(&d)) {
        status = ENTRY_SINK_STOPPED;
        break;
      }
      if (huffman) ReportProgress(sink, info, d.total, 0);
      if (block >= BLOCK_STORED && block <= BLOCK_DYNAMIC) info->blocks[block]++;
      if (last) {
        ReportProgress(sink, info, d.total, 1);
        block = NO_BLOCK;
      } else {
        Refill(&f, &s);
        block = PeekBlockType(&s);
      }
      continue;
    }
    // Refilled and emptied before the call, so a Z_BUF_ERROR means what it means for the
    // whole stream: no input left at all, or no room left within out_cap.
    if (ret == Z_STREAM_END) {
      status = ENTRY_OK;
    } else if (ret == Z_BUF_ERROR && s.avail_out == 0) {
      status = ClassifyFullStop(&s, &f, info);
    } else {
      status = InflateFailure(ret, &s, info);
    }
    // What was produced before a failure is delivered too, as the whole-buffer decoder
    // leaves it in its buffer.
    if (!Flush(&d)) status = ENTRY_SINK_STOPPED;
    break;
  }
  info->produced = d.total;
  info->stream_used = f.fed - s.avail_in;
  inflateEnd(&s);  // s.msg points at zlib's constant strings, still valid afterwards
  if (status == ENTRY_SINK_STOPPED) {
    info->reason = "the payload's receiver stopped the decoding";
  } else {
    Skip(&f);
  }
  info->stored_read = f.delivered;
  return status;
}

// The same record reading and messages as ReadEntry's.
static int ReadRecordField(struct ByteReader *r, struct EntryInfo *info, uint32_t *value) {
  unsigned char b[4];
  uint32_t got = 0;
  if (!r->read(r->ctx, b, 4, &got)) {
    info->reason = "reading the entry record failed";
    return ENTRY_READ_FAILED;
  }
  if (got < 4) {
    info->reason = "package ends inside an entry record";
    return ENTRY_TRUNCATED_RECORD;
  }
  *value = GetLE32(b);
  return ENTRY_OK;
}

int ReadEntryStream(struct ByteReader *r, const struct ProgressSink *sink,
                    const struct StreamBuffers *buf, const struct PayloadSink *out,
                    struct EntryInfo *info) {
  memset(info, 0, sizeof *info);
  int status = ReadRecordField(r, info, &info->declared);
  if (status == ENTRY_OK) status = ReadRecordField(r, info, &info->stored);
  if (status != ENTRY_OK) return status;
  if (!EntrySizesFit(info->declared, info->stored)) {
    info->reason = kEntryTooLarge;
    return ENTRY_NO_MEMORY;
  }
  status = InflateEntryReader(r, info->stored, info->declared, buf, out, sink, info);
  if (status == ENTRY_OK && info->produced < FILE_HEADER_SIZE) {
    info->reason = "payload is shorter than its 28-byte file header";
    status = ENTRY_SHORT_PAYLOAD;
  }
  return status;
}
