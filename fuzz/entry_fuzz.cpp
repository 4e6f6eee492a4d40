// fuzz_entry: one entry record and its stream, as ReadEntry reads it from the package, and
// the same stream inflated on its own into output buffers of other sizes.
//
// Input: inflated size (u32), stored size (u32), stream bytes (the rest).
//
// Besides memory safety this checks what nothing else would notice: the progress report
// points. The same stream is inflated three ways (by ReadEntry with the declared size as
// capacity, into a 1 MiB buffer, into a small buffer chosen by the first input byte), and the
// three report sequences must agree: a smaller buffer can only cut the sequence short, at
// exactly the reports whose count still fits. The 1 MiB run is also compared with an
// independent decoding of the stream's block structure (deflate_model.h). Finally the
// streaming decoder (entry_stream.h, datapack's) reads the same record with pieces of input
// and output from one byte up, also from a source that fails part-way and into a payload
// receiver that stops it: everything but the pieces must be ReadEntry's.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "deflate_model.h"
#include "entry_stream.h"
#include "format.h"
#include "fuzz_util.h"
#include "package.h"

FUZZ_DEFINE_SANITIZER_DEFAULTS

namespace {

// The output buffer of the run that sees everything a stream makes: a global, so that it
// costs nothing per run and a write past its end still meets AddressSanitizer's redzone.
// Deflate expands at most about 1032 times, so a few kilobytes of input fit.
unsigned char g_full_out[1 << 20];
const uint32_t kFullCap = sizeof g_full_out;
// ReadEntry's buffers are calloc'd: larger ones fail, the only way to ENTRY_NO_MEMORY here.
const uint32_t kAllocLimit = FUZZ_ALLOC_LIMIT;
static_assert(sizeof g_full_out >= FUZZ_ALLOC_LIMIT,
              "no entry buffer is larger than the full run's");
// Largest declared size the streaming decoder is compared at (see step 5).
const uint32_t kStreamedLimit = 256u << 10;

struct Run {
  int status = ENTRY_OK;  // InflateEntryBuffer's status
  uint32_t cap = 0;
  uint32_t produced = 0;
  EntryInfo info{};
  std::vector<Report> reports;
};

// The rules every inflation obeys, whatever the stream: reports never fall, at most one end
// report and only as the last, the counters agree with the reports made, nothing beyond the
// buffer. `stream_len` is the input length given to the inflater.
void CheckRun(const Run& r, uint32_t stream_len) {
  FUZZ_CHECK(r.reports.size() == r.info.reports, "%zu reports made, info says %u", r.reports.size(),
             r.info.reports);
  FUZZ_CHECK(r.produced <= r.cap, "produced %u > capacity %u", r.produced, r.cap);
  FUZZ_CHECK(r.info.produced == r.produced, "info.produced %u, produced %u", r.info.produced,
             r.produced);
  FUZZ_CHECK(r.info.stream_used <= stream_len, "used %u of %u stream bytes", r.info.stream_used,
             stream_len);
  FUZZ_CHECK((r.status == ENTRY_OK) == (r.info.reason == nullptr), "status %d, reason %s", r.status,
             r.info.reason ? r.info.reason : "(none)");
  uint32_t ends = 0, block_ends = 0, last = 0;
  for (size_t i = 0; i < r.reports.size(); i++) {
    const Report& p = r.reports[i];
    FUZZ_CHECK(p.end == 0 || p.end == 1, "end flag %d", p.end);
    FUZZ_CHECK(p.bytes >= last, "report %zu falls from %u to %u", i, last, p.bytes);
    FUZZ_CHECK(p.bytes <= r.produced, "report %zu of %u bytes, only %u produced", i, p.bytes,
               r.produced);
    last = p.bytes;
    if (p.end) {
      ends++;
      FUZZ_CHECK(i + 1 == r.reports.size(), "end report %zu is not the last of %zu", i,
                 r.reports.size());
    } else {
      block_ends++;
    }
  }
  FUZZ_CHECK(ends <= 1, "%u end reports", ends);
  // A block-end report is made exactly when a fixed or dynamic block has been counted.
  FUZZ_CHECK(block_ends == r.info.blocks[1] + r.info.blocks[2],
             "%u block-end reports for %u fixed + %u dynamic blocks", block_ends, r.info.blocks[1],
             r.info.blocks[2]);
  if (r.status == ENTRY_OK) {
    FUZZ_CHECK(ends == 1, "success without an end report");
    FUZZ_CHECK(r.reports.back().bytes == r.produced, "end report %u, payload %u",
               r.reports.back().bytes, r.produced);
    FUZZ_CHECK(r.info.blocks[0] + r.info.blocks[1] + r.info.blocks[2] >= 1,
               "success without a block");
  }
  // Once the final block is out, no more output is wanted: the stream can only still fail
  // its Adler-32 or end too early.
  if (ends == 1 && r.status != ENTRY_OK)
    FUZZ_CHECK(r.status == ENTRY_BAD_STREAM, "status %d after the end report", r.status);
  if (r.status == ENTRY_TOO_LONG)
    FUZZ_CHECK(r.produced == r.cap, "too long with %u of %u bytes", r.produced, r.cap);
}

// Inflates the stream into `out`, or into a new buffer of exactly `cap` bytes.
Run Inflate(const ExactCopy& stream, uint32_t cap, unsigned char* out = nullptr) {
  Run r;
  r.cap = cap;
  std::unique_ptr<unsigned char[]> buffer(out ? nullptr : new unsigned char[cap]);
  ReportLog log;
  r.status = InflateEntryBuffer(stream.data(), (uint32_t)stream.size(), out ? out : buffer.get(),
                                cap, &r.produced, &log.sink, &r.info);
  r.reports = log.reports;
  CheckRun(r, (uint32_t)stream.size());
  return r;
}

// What inflating into a buffer of `cap` bytes must give, knowing the run into a buffer of
// full.cap >= cap bytes. Up to the point where the smaller buffer is full both runs do the
// same; a buffer that holds everything full produced changes nothing, and one that does not
// stops that run as too long, after exactly the reports whose count still fits.
void CheckAgainstLarger(const Run& small, const Run& full, const char* what) {
  if (small.cap >= full.produced) {
    if (small.reports != full.reports) {
      PrintReports("with the larger buffer", full.reports);
      PrintReports("with the smaller one", small.reports);
    }
    FUZZ_CHECK(small.status == full.status && small.produced == full.produced &&
                   small.reports == full.reports,
               "%s: capacity %u (>= %u produced): status %d/%d, produced %u/%u", what, small.cap,
               full.produced, small.status, full.status, small.produced, full.produced);
    return;
  }
  std::vector<Report> fitting;
  for (const Report& p : full.reports)
    if (p.bytes <= small.cap) fitting.push_back(p);
  if (small.status != ENTRY_TOO_LONG || small.produced != small.cap || small.reports != fitting) {
    PrintReports("with the larger buffer", full.reports);
    PrintReports("with the smaller one", small.reports);
  }
  FUZZ_CHECK(small.status == ENTRY_TOO_LONG && small.produced == small.cap,
             "%s: capacity %u < %u produced, status %d, produced %u", what, small.cap,
             full.produced, small.status, small.produced);
  FUZZ_CHECK(small.reports == fitting, "%s: reports are not those of the larger buffer that fit",
             what);
}

// The reports the block structure calls for: one per Huffman-coded block at its end, then
// the end report with the payload length. The model reads the blocks independently of zlib;
// over the blocks both got through, the types counted and the reports made must be exactly
// the model's, also when the stream fails later (a wrong Adler-32, a bad code further on).
// Where the model stops earlier (it gives up on an output beyond the 1 MiB buffer, where zlib
// stops as too long), its reports must still begin the run's.
void CheckAgainstModel(const Run& full, const ExactCopy& stream) {
  const ModelResult m = ModelZlibStream(stream.data(), stream.size(), full.cap);
  // The model reads every stream zlib accepts.
  if (full.status == ENTRY_OK)
    FUZZ_CHECK(m.ok && m.produced == full.produced, "model: ok %d, produced %llu of %u", m.ok,
               (unsigned long long)m.produced, full.produced);
  const size_t counted = full.info.blocks[0] + full.info.blocks[1] + full.info.blocks[2];
  const size_t n = counted < m.blocks.size() ? counted : m.blocks.size();
  std::vector<Report> expected;
  uint32_t types[3] = {0, 0, 0};
  for (size_t i = 0; i < n; i++) {
    const ModelBlock& b = m.blocks[i];
    types[b.type]++;
    if (b.type != 0) expected.push_back({(uint32_t)b.end_out, 0});
    if (b.final) expected.push_back({(uint32_t)b.end_out, 1});
  }
  std::vector<Report> made = full.reports;
  if (counted > n) made.resize(expected.size() < made.size() ? expected.size() : made.size());
  if (made != expected) {
    PrintReports("the blocks call for", expected);
    PrintReports("reported", full.reports);
  }
  FUZZ_CHECK(made == expected, "reports differ from the stream's blocks (%zu counted, model %zu)",
             counted, m.blocks.size());
  if (counted == n) {
    for (int t = 0; t < 3; t++)
      FUZZ_CHECK(types[t] == full.info.blocks[t], "%u blocks of type %d counted, stream has %u",
                 full.info.blocks[t], t, types[t]);
  }
}

// A payload receiver that keeps what it is given and refuses once `stop_after` bytes came.
struct Collector {
  std::vector<unsigned char> data;
  size_t stop_after = SIZE_MAX;
  bool refused = false;
  PayloadSink sink{&Collector::Write, this};
  static int Write(void* ctx, const unsigned char* p, uint32_t n) {
    Collector* c = static_cast<Collector*>(ctx);
    FUZZ_CHECK(n > 0 && !c->refused, "write of %u bytes%s", n,
               c->refused ? " after a refusal" : "");
    c->data.insert(c->data.end(), p, p + n);
    c->refused = c->data.size() >= c->stop_after;
    return !c->refused;
  }
};

bool SameReason(const char* a, const char* b) {
  return (!a && !b) || (a && b && strcmp(a, b) == 0);
}

// ReadEntry and ReadEntryStream on the same bytes from sources that fail at `fail_at` (-1:
// never), the stream read `in_size` bytes and written `out_size` bytes at a time. Returns
// the streamed run's payload length, or UINT32_MAX when ReadEntry ran out of memory (the
// streaming decoder never allocates, so there is nothing to compare).
uint32_t CompareStreaming(const uint8_t* data, size_t size, int fail_at, uint32_t in_size,
                          uint32_t out_size) {
  ExactReader whole_src(data, size), stream_src(data, size);
  whole_src.memory.fail_at = stream_src.memory.fail_at = fail_at;
  ReportLog whole_log, stream_log;
  Entry e;
  const int whole = ReadEntry(&whole_src.reader, &whole_log.sink, &e);

  ExactCopy in(in_size, 0xA5), out(out_size, 0x5A);
  const StreamBuffers buf = {in.data(), in_size, out.data(), out_size};
  Collector got;
  EntryInfo info;
  const int streamed =
      ReadEntryStream(&stream_src.reader, &stream_log.sink, &buf, &got.sink, &info);
  FUZZ_CHECK(got.data.size() == info.produced, "%zu payload bytes handed over, %u produced",
             got.data.size(), info.produced);
  if (whole == ENTRY_NO_MEMORY) {
    FreeEntry(&e);
    return UINT32_MAX;
  }
  const EntryInfo& w = e.info;
  FUZZ_CHECK(streamed == whole && SameReason(info.reason, w.reason),
             "pieces %u/%u, fail_at %d: status %d (%s), ReadEntry %d (%s)", in_size, out_size,
             fail_at, streamed, info.reason ? info.reason : "-", whole, w.reason ? w.reason : "-");
  FUZZ_CHECK(info.declared == w.declared && info.stored == w.stored &&
                 info.stored_read == w.stored_read && info.produced == w.produced &&
                 info.stream_used == w.stream_used && info.reports == w.reports &&
                 memcmp(info.blocks, w.blocks, sizeof info.blocks) == 0,
             "pieces %u/%u, fail_at %d: stored_read %u/%u, produced %u/%u, used %u/%u, "
             "reports %u/%u",
             in_size, out_size, fail_at, info.stored_read, w.stored_read, info.produced, w.produced,
             info.stream_used, w.stream_used, info.reports, w.reports);
  if (stream_log.reports != whole_log.reports) {
    PrintReports("ReadEntry", whole_log.reports);
    PrintReports("streamed", stream_log.reports);
  }
  FUZZ_CHECK(stream_log.reports == whole_log.reports, "pieces %u/%u: reports differ", in_size,
             out_size);
  if (whole == ENTRY_OK && e.length != 0)
    FUZZ_CHECK(memcmp(got.data.data(), e.payload, e.length) == 0, "pieces %u/%u: payload differs",
               in_size, out_size);
  // Both leave the source after the entry's stored bytes.
  FUZZ_CHECK(stream_src.memory.pos == whole_src.memory.pos, "source left at %zu, ReadEntry at %zu",
             stream_src.memory.pos, whole_src.memory.pos);
  FreeEntry(&e);
  return info.produced;
}

// A receiver that stops the streaming decoder after `stop_after` bytes: the decoding ends
// there, having made a beginning of the full run's reports and payload.
void CheckStopped(const uint8_t* data, size_t size, uint32_t in_size, uint32_t out_size,
                  uint32_t produced, uint32_t stop_after) {
  Collector all, some;
  some.stop_after = stop_after;
  ReportLog all_log, some_log;
  ExactCopy in(in_size, 0xA5), out(out_size, 0x5A);
  const StreamBuffers buf = {in.data(), in_size, out.data(), out_size};
  EntryInfo all_info, some_info;
  ExactReader src1(data, size), src2(data, size);
  const int status = ReadEntryStream(&src1.reader, &all_log.sink, &buf, &all.sink, &all_info);
  const int stopped = ReadEntryStream(&src2.reader, &some_log.sink, &buf, &some.sink, &some_info);
  FUZZ_CHECK(all.data.size() == produced, "a second run produced %zu, not %u", all.data.size(),
             produced);
  FUZZ_CHECK((stopped == ENTRY_SINK_STOPPED) == (produced >= stop_after) &&
                 (stopped == ENTRY_SINK_STOPPED || stopped == status),
             "receiver stopping at %u of %u bytes: status %d, unstopped %d", stop_after, produced,
             stopped, status);
  FUZZ_CHECK(some.data.size() <= all.data.size() &&
                 std::equal(some.data.begin(), some.data.end(), all.data.begin()),
             "stopped run's payload is not a beginning of the full one");
  FUZZ_CHECK(
      some_log.reports.size() <= all_log.reports.size() &&
          std::equal(some_log.reports.begin(), some_log.reports.end(), all_log.reports.begin()),
      "stopped run's reports are not a beginning of the full ones");
  if (stopped == ENTRY_SINK_STOPPED) FUZZ_CHECK(some_info.reason, "stopped without a reason");
}

// Chooses from `options` by part of a hash of the input: the streaming runs vary with every
// input without spending input bytes that the stream itself needs.
uint32_t Pick(uint64_t hash, int shift, const std::vector<uint32_t>& options) {
  return options[(hash >> shift) % options.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 1. As the package reader meets it.
  ExactReader source(data, size);
  ReportLog log;
  Entry e;
  const int status = ReadEntry(&source.reader, &log.sink, &e);
  if (size < ENTRY_RECORD_SIZE) {
    FUZZ_CHECK(status == ENTRY_TRUNCATED_RECORD, "%zu record bytes gave status %d", size, status);
    FUZZ_CHECK(log.reports.empty() && !e.payload, "reports or payload from a cut record");
  }
  const uint32_t declared = size >= 4 ? GetLE32(data) : 0;
  const uint32_t stored = size >= 8 ? GetLE32(data + 4) : 0;
  const uint32_t available = size > 8 ? (uint32_t)(size - 8) : 0;
  Run entry;  // the inflation inside ReadEntry
  if (size >= ENTRY_RECORD_SIZE) {
    FUZZ_CHECK(e.info.declared == declared && e.info.stored == stored, "record fields misread");
    FUZZ_CHECK(status != ENTRY_TRUNCATED_RECORD && status != ENTRY_READ_FAILED,
               "status %d with a whole record in memory", status);
    FUZZ_CHECK((status == ENTRY_NO_MEMORY) == (declared > kAllocLimit || stored > kAllocLimit),
               "status %d for buffers of %u and %u bytes", status, stored, declared);
    if (status == ENTRY_NO_MEMORY) {
      FUZZ_CHECK(log.reports.empty() && e.info.stored_read == 0,
                 "read or inflated without buffers");
    } else {
      FUZZ_CHECK(e.info.stored_read == (stored < available ? stored : available),
                 "stored_read %u of %u stored, %u available", e.info.stored_read, stored,
                 available);
      entry.status = status == ENTRY_SHORT_PAYLOAD ? ENTRY_OK : status;
      entry.cap = declared;
      entry.produced = e.info.produced;
      entry.info = e.info;
      if (status == ENTRY_SHORT_PAYLOAD) entry.info.reason = nullptr;  // inflation went well
      entry.reports = log.reports;
      CheckRun(entry, stored);
      FUZZ_CHECK((status == ENTRY_SHORT_PAYLOAD) ==
                     (entry.status == ENTRY_OK && entry.produced < FILE_HEADER_SIZE),
                 "status %d for a payload of %u bytes", status, entry.produced);
    }
  }
  if (status == ENTRY_OK) {
    FUZZ_CHECK(e.payload && e.length == e.info.produced, "payload %p of %u bytes", (void*)e.payload,
               e.length);
    FUZZ_CHECK(e.length <= declared, "payload %u > declared %u", e.length, declared);
    FUZZ_CHECK(e.length >= FILE_HEADER_SIZE, "payload %u shorter than its header", e.length);
    FileHeader h;
    FUZZ_CHECK(ParseFileHeader(e.payload, e.length, &h), "file header refused");
    FUZZ_CHECK(h.attributes == GetLE32(e.payload) && h.written >> 32 == GetLE32(e.payload + 24),
               "file header misread");
    // Every payload byte must be readable: a short buffer shows up here under ASan.
    unsigned sum = 0;
    for (uint32_t i = 0; i < e.length; i++) sum += e.payload[i];
    (void)sum;
  } else {
    FUZZ_CHECK(!e.payload, "payload kept after status %d", status);
  }
  FreeEntry(&e);

  // 2. The stream bytes on their own, into a buffer that holds anything they can make.
  const size_t skip = size < ENTRY_RECORD_SIZE ? size : ENTRY_RECORD_SIZE;
  const ExactCopy stream(data + skip, size - skip);
  const Run full = Inflate(stream, kFullCap, g_full_out);
  CheckAgainstModel(full, stream);

  // 3. The same into a small buffer: a share of what it produced, by the first input byte.
  const uint32_t share = size ? data[0] : 0;
  const uint32_t cap =
      full.status == ENTRY_OK ? (uint32_t)((uint64_t)full.produced * share / 255) : share * 16;
  CheckAgainstLarger(Inflate(stream, cap), full, "small buffer");

  // 4. ReadEntry inflated the first `stored` stream bytes (zeros beyond what the input has)
  // into `declared` bytes. Where its input equals the stream's, or holds all the stream used
  // on its way to a good end, it must have done just what a buffer of that size does (its
  // buffers are never larger than the 1 MiB run's, FUZZ_ALLOC_LIMIT).
  const bool same_input =
      stored == available || (full.status == ENTRY_OK && full.info.stream_used <= stored);
  if (size >= ENTRY_RECORD_SIZE && status != ENTRY_NO_MEMORY && same_input)
    CheckAgainstLarger(entry, full, "ReadEntry");

  // 5. The streaming decoder against ReadEntry: the smallest pieces, then pieces, a failing
  // source and a stopping receiver chosen by the input's hash.
  // Its cost grows with the pieces made, so it is left out where a tiny input declares a
  // large payload or stands for many stored bytes it does not have (zeros, which some
  // codes turn into a byte per bit).
  if (declared > kStreamedLimit || stored > available + kStreamedLimit / 64) return 0;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (size_t i = 0; i < size; i++) hash = (hash ^ data[i]) * 1099511628211ull;
  const uint32_t produced = CompareStreaming(data, size, -1, 2, 1);
  const uint32_t in_size = Pick(hash, 0, {2, 3, 5, 16, 257, 4096, 65536});
  const uint32_t out_size = Pick(hash, 8, {1, 2, 7, 28, 258, 4096, 65536});
  const int fail_at = (hash >> 16) % 4 ? -1 : (int)((hash >> 20) % (size + 1));
  CompareStreaming(data, size, fail_at, in_size, out_size);
  if (produced != UINT32_MAX && produced > 0)
    CheckStopped(data, size, in_size, out_size, produced,
                 1 + (uint32_t)((hash >> 40) % ((uint64_t)produced + 1)));
  return 0;
}
