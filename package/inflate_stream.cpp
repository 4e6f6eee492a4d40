// The entry decoder's streaming entry points (entry_stream.h), and what only a source that
// ends early needs: skipping the zeros that stand for its missing bytes. setup.exe reads
// each entry whole and links none of this.
#include <string.h>
#include <zlib.h>

#include "entry_stream.h"
#include "inflate_entry.h"

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
  PROBE_WARM_UP = 16,            // zero bytes that finish the code in progress and a first copy
  PROBE_WINDOW = 160,            // zero bytes whose output is measured
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
static int ProbeZeroTail(z_stream* s, struct ZeroTail* t) {
  static const unsigned char zero[1] = {0};
  unsigned char room[PROBE_ROOM];
  uint32_t at[PROBE_WINDOW + 1];  // output after the warm-up and i zero bytes
  z_stream c;
  if (inflateCopy(&c, s) != Z_OK) return 0;
  uint32_t total = 0;
  int ok = 1;
  for (int b = 0; ok && b < PROBE_WARM_UP + PROBE_WINDOW; b++) {
    if (b >= PROBE_WARM_UP) at[b - PROBE_WARM_UP] = total;
    c.next_in = (Bytef*)zero;
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

// Where only zeros are left to decode (the source ended) and room enough for that to cost,
// skips whole periods of their repetition. Returns TAIL_SKIPPED when it did (the feed then
// ends `t->in` bytes earlier, the capacity is `t->out` bytes smaller and the payload's
// receiver is muted), TAIL_SINK_STOPPED when the receiver refused the payload's beginning,
// else TAIL_NONE.
static int SkipZeroTail(z_stream* s, struct Feed* f, struct Drain* d, struct TailSkip* t) {
  const uint32_t consumed = f->fed - s->avail_in;
  if (!f->source_done || d->mute || t->probes >= PROBES_MAX || consumed < f->delivered ||
      consumed < t->next_probe || t->cap - d->total <= ZERO_TAIL_MIN_ROOM)
    return TAIL_NONE;
  t->probes++;
  t->next_probe = consumed + PROBE_SPACING;
  struct ZeroTail z;
  const uint32_t zeros = f->in_len - consumed, room = t->cap - d->total;
  // Left to decode after the skip: enough for the probe's run again and two periods more,
  // so that the end comes where the repetition has settled, as it would.
  const uint32_t keep_in = PROBE_WARM_UP + PROBE_WINDOW + 2 * PROBE_MAX_PERIOD;
  if (zeros <= keep_in || !ProbeZeroTail(s, &z)) return TAIL_NONE;
  const uint32_t keep_out = z.probe_out + 2 * z.period_out + 1024;
  if (room / 2 <= keep_out) return TAIL_NONE;
  const uint32_t by_in = (zeros - keep_in) / z.period_in;
  const uint32_t by_out = (room - keep_out) / z.period_out;
  const uint32_t q = by_in < by_out ? by_in : by_out;
  if (q == 0) return TAIL_NONE;
  // What was produced so far is the payload's beginning; what follows is not.
  if (!FlushDrain(d)) return TAIL_SINK_STOPPED;
  d->mute = 1;
  t->in = q * z.period_in;
  t->out = q * z.period_out;
  const uint32_t left = zeros - t->in;  // zero bytes still to decode
  if (s->avail_in > left) s->avail_in = left;
  f->in_len = consumed + left;
  f->fed = consumed + s->avail_in;
  t->cap -= t->out;
  return TAIL_SKIPPED;
}

int InflateEntryReader(struct ByteReader* r, uint32_t in_len, uint32_t out_cap,
                       const struct StreamBuffers* buf, const struct PayloadSink* out,
                       const struct ProgressSink* sink, struct EntryInfo* info) {
  struct Feed f = {r, buf->in, buf->in_size, in_len, 0, 0, 0};
  struct Drain d = {buf->out, buf->out_size, out, 0, 0, 0, 0};
  int status = InflateFeed(&f, &d, out_cap, SkipZeroTail, sink, info);
  if (status == ENTRY_SINK_STOPPED)
    info->reason = "the payload's receiver stopped the decoding";
  else
    SkipRestOfFeed(&f);
  info->stored_read = f.delivered;
  return status;
}

int ReadEntryStream(struct ByteReader* r, const struct ProgressSink* sink,
                    const struct StreamBuffers* buf, const struct PayloadSink* out,
                    struct EntryInfo* info) {
  int status = ReadEntryRecord(r, info);
  if (status != ENTRY_OK) return status;
  status = InflateEntryReader(r, info->stored, info->declared, buf, out, sink, info);
  return CheckPayloadLength(status, info);
}
