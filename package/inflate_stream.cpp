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
  int mute;          // a zero tail was skipped: what follows is not the payload, keep it back
};

// Hands the pending bytes to the sink. Returns 0 when the sink says stop.
static int Flush(struct Drain *d) {
  if (d->pending && !d->mute && d->out && d->out->write &&
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

// ---- Missing stored bytes that can never end the stream
//
// Once the source has ended, the rest of the stored bytes read as zeros, possibly a gigabyte
// of them. Inside a Huffman-coded block zeros decode as the block's all-zeros code, over and
// over: end-of-block (the next header read from zeros then fails within a few bytes, or ends
// the stream), or else a literal or a copy, repeated until the input or the room for output
// runs out, with no block boundary and no end. That repetition is periodic: every p zero
// bytes yield the same D payload bytes and bring the inflater back to the same state, bit
// position included, apart from its counters and its window's contents, which matter only at
// a stream end that never comes. So decoding Z zero bytes into R bytes of room ends as
// decoding Z - q*p into R - q*D does, q periods later: the decoder takes q periods off both,
// decodes the rest, and adds them back to the counters. Same status, reason and counters as
// decoding it all, with work bounded by the period instead of by the record's sizes, which a
// package of a hundred bytes can set to a gigabyte each.
enum {
  ZERO_TAIL_MIN_ROOM = 1 << 20,  // less output room than this is decoded as it is
  PROBE_WARM_UP = 16,     // zero bytes that finish the code in progress and a first copy
  PROBE_WINDOW = 160,     // zero bytes whose output is measured
  PROBE_MAX_PERIOD = 48,  // a copy's codes and extra bits take at most 48 bits: 8 copies, 48 bytes
  PROBE_ROOM = 4096,      // output room for one zero byte (8 bits make at most four 2-bit
                          // copies of 258 bytes, plus the code held from before)
  PROBES_MAX = 4,         // tries per entry (zeros may first finish a dynamic block header or a
  PROBE_SPACING = 1024    // stored block), this many zero bytes apart
};

struct ZeroTail {
  uint32_t period_in;   // zero bytes per period
  uint32_t period_out;  // payload bytes per period
  uint32_t probe_out;   // payload bytes the whole probe made
};

// Feeds zeros, one byte at a time, to a copy of `s`, which has taken every byte the source
// delivered. Returns 1 and fills `t` when the copy stays among a Huffman block's codes (no
// block boundary, no end, no error) and its output repeats with a period of at most
// PROBE_MAX_PERIOD zero bytes over the whole window; 0 otherwise (or when no copy can be made).
static int ProbeZeroTail(z_stream *s, struct ZeroTail *t) {
  static const unsigned char zero[1] = {0};
  unsigned char room[PROBE_ROOM];
  uint32_t at[PROBE_WINDOW + 1];  // output after the warm-up and i zero bytes
  z_stream c;
  if (inflateCopy(&c, s) != Z_OK) return 0;
  uint32_t total = 0;
  int ok = 1;
  for (int b = 0; ok && b < PROBE_WARM_UP + PROBE_WINDOW; b++) {
    if (b >= PROBE_WARM_UP) at[b - PROBE_WARM_UP] = total;
    c.next_in = (Bytef *)zero;
    c.avail_in = 1;
    c.next_out = room;
    c.avail_out = sizeof room;
    int ret = inflate(&c, Z_BLOCK);
    total += (uint32_t)(sizeof room - c.avail_out);
    // inflateMark() is negative outside a Huffman block's codes (between blocks, in a stored
    // block), where zeros do not repeat a code.
    ok = ret == Z_OK && c.avail_in == 0 && c.avail_out > 0 && !(c.data_type & DT_BOUNDARY) &&
         inflateMark(&c) >= 0;
  }
  inflateEnd(&c);
  if (!ok) return 0;
  at[PROBE_WINDOW] = total;
  for (uint32_t p = 1; p <= PROBE_MAX_PERIOD; p++) {
    const uint32_t d = at[p] - at[0];
    uint32_t i = 0;
    while (i + p <= PROBE_WINDOW && at[i + p] - at[i] == d) i++;
    if (d > 0 && i + p > PROBE_WINDOW) {
      t->period_in = p;
      t->period_out = d;
      t->probe_out = total;
      return 1;
    }
  }
  return 0;
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
  struct Drain d = {buf, out, 0, 0, 0};
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
  uint32_t cap = out_cap;  // out_cap less the payload of skipped periods
  uint32_t skipped_in = 0, skipped_out = 0;
  int probes = 0;
  uint32_t next_probe = 0;  // stream offset of the next try
  for (;;) {
    Refill(&f, &s);
    if (d.pending == buf->out_size && !Flush(&d)) {
      status = ENTRY_SINK_STOPPED;
      break;
    }
    // Only zeros left to decode, and room enough for that to cost: skip whole periods.
    const uint32_t consumed = f.fed - s.avail_in;
    if (f.source_done && !d.mute && probes < PROBES_MAX && consumed >= f.delivered &&
        consumed >= next_probe && cap - d.total > ZERO_TAIL_MIN_ROOM) {
      probes++;
      next_probe = consumed + PROBE_SPACING;
      struct ZeroTail t;
      const uint32_t zeros = f.in_len - consumed, room = cap - d.total;
      // Left to decode after the skip: enough for the probe's run again and two periods
      // more, so that the end comes where the repetition has settled, as it would.
      const uint32_t keep_in = PROBE_WARM_UP + PROBE_WINDOW + 2 * PROBE_MAX_PERIOD;
      if (zeros > keep_in && ProbeZeroTail(&s, &t) &&
          room / 2 > t.probe_out + 2 * t.period_out + 1024) {
        const uint32_t keep_out = t.probe_out + 2 * t.period_out + 1024;
        const uint32_t by_in = (zeros - keep_in) / t.period_in;
        const uint32_t by_out = (room - keep_out) / t.period_out;
        const uint32_t q = by_in < by_out ? by_in : by_out;
        if (q > 0) {
          // What was produced so far is the payload's beginning; what follows is not.
          if (!Flush(&d)) {
            status = ENTRY_SINK_STOPPED;
            break;
          }
          d.mute = 1;
          skipped_in = q * t.period_in;
          skipped_out = q * t.period_out;
          const uint32_t left = zeros - skipped_in;  // zero bytes still to decode
          if (s.avail_in > left) s.avail_in = left;
          f.in_len = consumed + left;
          f.fed = consumed + s.avail_in;
          cap -= skipped_out;
          continue;
        }
      }
    }
    uint32_t room = buf->out_size - d.pending;
    if (room > cap - d.total) room = cap - d.total;
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
      if (huffman) ReportProgress(sink, info, d.total + skipped_out, 0);
      if (block >= BLOCK_STORED && block <= BLOCK_DYNAMIC) info->blocks[block]++;
      if (last) {
        ReportProgress(sink, info, d.total + skipped_out, 1);
        block = NO_BLOCK;
      } else {
        Refill(&f, &s);
        block = PeekBlockType(&s);
      }
      continue;
    }
    // Refilled and emptied before the call, so a Z_BUF_ERROR means what it means for the
    // whole stream: no input left at all, or no room left within out_cap (cap).
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
  info->produced = d.total + skipped_out;
  info->stream_used = f.fed - s.avail_in + skipped_in;
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
