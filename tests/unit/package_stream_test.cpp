// The entry decoder in pieces against the same decoder fed in one piece (InflateEntryBuffer):
// every stream is decoded with input and output pieces from one byte up, and where the
// pieces end must change nothing: status, reason, payload, produced, stream bytes used,
// blocks by type, and the progress reports in order. Block headers that straddle two pieces
// of input and full-output checks that need more input are what the small pieces exercise.
#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <random>

#include "entry_stream.h"
#include "test_util.h"

namespace {

struct Decoded {
  int status = -1;
  EntryInfo info{};
  std::string reason;  // info.reason as text ("" for none)
  Reports reports;
  Bytes out;
  size_t source_pos = 0;  // where the source was left (streaming only)
};

Decoded Whole(const Bytes& stream, uint32_t cap) {
  Decoded run;
  Recorder rec;
  Bytes out(cap ? cap : 1);
  uint32_t produced = 0;
  run.status = InflateEntryBuffer(stream.data(), (uint32_t)stream.size(), out.data(), cap,
                                  &produced, &rec.sink, &run.info);
  EXPECT_EQ(produced, run.info.produced);
  run.reason = run.info.reason ? run.info.reason : "";
  run.reports = rec.reports;
  run.out.assign(out.begin(), out.begin() + produced);
  return run;
}

struct Collector {
  Bytes data;
  size_t stop_after = SIZE_MAX;  // refuse once this many bytes have arrived
  PayloadSink sink{&Collector::Write, this};
  static int Write(void* ctx, const unsigned char* p, uint32_t n) {
    Collector* c = static_cast<Collector*>(ctx);
    EXPECT_GT(n, 0u);
    c->data.insert(c->data.end(), p, p + n);
    return c->data.size() < c->stop_after;
  }
};

struct Pieces {
  uint32_t in, out;
};
const Pieces kPieces[] = {{2, 1}, {2, 3},   {3, 1},   {4, 2},
                          {5, 7}, {17, 64}, {300, 5}, {65536, 65536}};

// The source holds `stream`; the entry's stored size is `stored` (the stream's length when 0),
// so a larger one leaves the rest to read as zeros.
Decoded Streamed(const Bytes& stream, uint32_t cap, Pieces p, int fail_at = -1,
                 uint32_t stored = 0) {
  Decoded run;
  Recorder rec;
  Collector got;
  Bytes in(p.in), out(p.out);
  StreamBuffers buf = {in.data(), p.in, out.data(), p.out};
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, stream.data(), stream.size());
  m.fail_at = fail_at;
  run.status = InflateEntryReader(&r, stored ? stored : (uint32_t)stream.size(), cap, &buf,
                                  &got.sink, &rec.sink, &run.info);
  run.reason = run.info.reason ? run.info.reason : "";
  run.reports = rec.reports;
  run.out = got.data;
  run.source_pos = m.pos;
  return run;
}

void ExpectSame(const Decoded& whole, const Decoded& s) {
  EXPECT_EQ(s.status, whole.status);
  EXPECT_EQ(s.reason, whole.reason);
  EXPECT_EQ(s.info.produced, whole.info.produced);
  EXPECT_EQ(s.info.stream_used, whole.info.stream_used);
  for (int t = 0; t < 3; t++) EXPECT_EQ(s.info.blocks[t], whole.info.blocks[t]) << "type " << t;
  EXPECT_EQ(s.info.reports, whole.info.reports);
  EXPECT_EQ(s.reports, whole.reports);
  EXPECT_TRUE(s.out == whole.out) << "payload differs";
}

// Decodes `stream` both ways with every piece size and capacities around its natural size.
void CompareAll(const Bytes& stream, uint32_t natural, const std::string& what) {
  const uint32_t caps[] = {natural,     natural + 1, natural ? natural - 1 : 0,
                           natural / 2, 0,           natural + 1000};
  for (uint32_t cap : caps) {
    const Decoded whole = Whole(stream, cap);
    for (Pieces p : kPieces) {
      SCOPED_TRACE(testing::Message()
                   << what << ", cap " << cap << ", pieces " << p.in << "/" << p.out);
      Decoded s = Streamed(stream, cap, p);
      ExpectSame(whole, s);
      EXPECT_EQ(s.info.stored_read, stream.size());
      EXPECT_EQ(s.source_pos, stream.size()) << "the stored bytes are all taken";
      if (testing::Test::HasFailure()) return;  // one broken case is enough to read
    }
  }
}

Bytes Deflate(const Bytes& data, int level, int mem_level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, mem_level, strategy), Z_OK);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<unsigned char*>(data.data());
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Text-like bytes with repeats (long matches, many blocks) and stretches of noise.
Bytes Sample(std::mt19937& rng, size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; i++) {
    if (i > 300 && rng() % 50 == 0) {
      size_t back = 1 + rng() % 300, len = 3 + rng() % 40;
      for (size_t k = 0; k < len && i < size; k++, i++) b[i] = b[i - back];
      if (i >= size) break;
    }
    b[i] = (unsigned char)(rng() % 8 == 0 ? rng() : "etaoin shrdlu\n"[rng() % 14]);
  }
  return b;
}

TEST(StreamDecoder, Fixtures) {
  for (const char* name :
       {"stored_level0.zz", "fixed_chunks.zz", "dynamic_chunks.zz", "dictionary.zz", "empty.zz"}) {
    Bytes stream = ReadFixture(name);
    ASSERT_FALSE(stream.empty()) << name;
    CompareAll(stream, std::string(name) == "empty.zz" ? 0 : 3028, name);
  }
}

// Random sequences of stored, fixed and dynamic blocks, so that headers start at every bit
// offset and fall on every side of a piece boundary; then the same streams damaged.
TEST(StreamDecoder, HandLaidBlocks) {
  std::mt19937 rng(7);
  for (int n = 0; n < 300; n++) {
    BitWriter w;
    Bytes payload;
    const int blocks = 1 + (int)(rng() % 6);
    for (int b = 0; b < blocks; b++) {
      Bytes part(rng() % 12);
      for (auto& c : part) c = (unsigned char)rng();
      const bool final = b == blocks - 1;
      switch (rng() % 3) {
        case 0: w.Stored(part, final); break;
        case 1: w.Fixed(part, final); break;
        default: w.Dynamic(part, final); break;
      }
      payload.insert(payload.end(), part.begin(), part.end());
    }
    Bytes stream = ZlibWrap(w.Take(), payload);
    if (n % 3 == 0) stream.insert(stream.end(), {'t', 'a', 'i', 'l'});
    CompareAll(stream, (uint32_t)payload.size(), "blocks #" + std::to_string(n));
    Bytes cut(stream.begin(), stream.begin() + (long)(rng() % stream.size()));
    CompareAll(cut, (uint32_t)payload.size(), "cut #" + std::to_string(n));
    Bytes flipped = stream;
    flipped[2 + rng() % (flipped.size() - 2)] ^= (unsigned char)(1u << (rng() % 8));
    CompareAll(flipped, (uint32_t)payload.size(), "flipped #" + std::to_string(n));
    if (HasFailure()) return;
  }
}

// zlib's own streams over many blocks, whole, cut, and with bits flipped: flipped bits give
// every kind of data error (bad codes, distances too far back, bad lengths, bad check).
TEST(StreamDecoder, ZlibStreamsWholeAndDamaged) {
  std::mt19937 rng(11);
  struct Mode {
    int level, mem_level, strategy;
  } modes[] = {{9, 9, Z_DEFAULT_STRATEGY}, {1, 1, Z_DEFAULT_STRATEGY}, {6, 8, Z_FIXED},
               {6, 2, Z_HUFFMAN_ONLY},     {0, 8, Z_DEFAULT_STRATEGY}, {9, 1, Z_RLE}};
  for (int n = 0; n < 30; n++) {
    const Mode m = modes[n % 6];
    const Bytes data = Sample(rng, 1000 + rng() % 12000);
    const Bytes stream = Deflate(data, m.level, m.mem_level, m.strategy);
    const std::string what = "zlib #" + std::to_string(n);
    CompareAll(stream, (uint32_t)data.size(), what);
    for (int k = 0; k < 4; k++) {
      Bytes bad = stream;
      const size_t at = rng() % bad.size();
      if (k % 2) {
        bad.resize(at);
      } else {
        bad[at] ^= (unsigned char)(1u << (rng() % 8));
      }
      CompareAll(bad, (uint32_t)data.size(), what + " damaged at " + std::to_string(at));
    }
    if (HasFailure()) return;
  }
}

TEST(StreamDecoder, RandomBytes) {
  std::mt19937 rng(3);
  for (int n = 0; n < 400; n++) {
    Bytes stream(rng() % 64);
    for (auto& c : stream) c = (unsigned char)rng();
    if (n % 2 && stream.size() >= 2) {  // a valid zlib header in front of the noise
      stream[0] = 0x78;
      stream[1] = 0x9C;
    }
    CompareAll(stream, (uint32_t)(rng() % 200), "random #" + std::to_string(n));
    if (HasFailure()) return;
  }
}

// A source that fails or ends early: missing bytes read as zeros, as with ReadEntry's buffer,
// and only what arrived counts as read.
TEST(StreamDecoder, FailingSource) {
  std::mt19937 rng(5);
  const Bytes data = Sample(rng, 20000);
  const Bytes stream = Deflate(data, 9, 9, Z_DEFAULT_STRATEGY);
  for (int fail_at :
       {0, 1, 2, 100, (int)stream.size() / 2, (int)stream.size() - 4, (int)stream.size() - 1}) {
    Bytes zeros = stream;
    std::fill(zeros.begin() + fail_at, zeros.end(), 0);
    const Decoded whole = Whole(zeros, (uint32_t)data.size());
    for (Pieces p : kPieces) {
      SCOPED_TRACE(testing::Message() << "fail at " << fail_at << ", pieces " << p.in);
      Decoded s = Streamed(stream, (uint32_t)data.size(), p, fail_at);
      ExpectSame(whole, s);
      EXPECT_EQ(s.info.stored_read, (uint32_t)fail_at);
    }
  }
}

TEST(StreamDecoder, SinkStops) {
  std::mt19937 rng(9);
  const Bytes data = Sample(rng, 50000);
  const Bytes stream = Deflate(data, 9, 9, Z_DEFAULT_STRATEGY);
  Bytes in(4096), out(1000);
  StreamBuffers buf = {in.data(), 4096, out.data(), 1000};
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, stream.data(), stream.size());
  Collector got;
  got.stop_after = 2500;
  EntryInfo info;
  EXPECT_EQ(InflateEntryReader(&r, (uint32_t)stream.size(), (uint32_t)data.size(), &buf, &got.sink,
                               nullptr, &info),
            ENTRY_SINK_STOPPED);
  EXPECT_EQ(got.data.size(), 3000u) << "three output pieces, the last refused";
  EXPECT_TRUE(std::equal(got.data.begin(), got.data.end(), data.begin()));
  EXPECT_LT(m.pos, stream.size()) << "the rest of the entry is not read after a stop";
  EXPECT_NE(info.reason, nullptr);
}

std::vector<uint32_t> Fields(const EntryInfo& i) {
  return {i.declared,  i.stored,    i.stored_read, i.produced, i.stream_used,
          i.blocks[0], i.blocks[1], i.blocks[2],   i.reports};
}

// Whole entries from a package: ReadEntryStream against ReadEntry, record by record, with
// the source cut or failing at every offset of a small package.
TEST(StreamDecoder, EntriesAgainstReadEntry) {
  std::mt19937 rng(13);
  Bytes package;
  const uint32_t sizes[] = {28, 5000, 10, 300};
  for (uint32_t size : sizes) {
    Bytes payload = Sample(rng, size);
    Bytes stream = Deflate(payload, 9, 9, Z_DEFAULT_STRATEGY);
    uint32_t declared = size == 300 ? 299 : size;  // the last one is too long
    Bytes rec = EntryRecord(declared, stream, (uint32_t)stream.size() + (size == 10 ? 3 : 0));
    if (size == 10) rec.insert(rec.end(), {1, 2, 3});  // ignored trailing bytes
    package.insert(package.end(), rec.begin(), rec.end());
  }
  for (int cut = 0; cut <= (int)package.size(); cut += (cut < 40 ? 1 : 37)) {
    for (int failing = 0; failing < 2; failing++) {
      SCOPED_TRACE(testing::Message() << "cut " << cut << (failing ? " (read fails)" : ""));
      Bytes data = failing ? package : Bytes(package.begin(), package.begin() + cut);
      MemoryReader mw, ms;
      ByteReader rw, rs;
      InitMemoryReader(&mw, &rw, data.data(), data.size());
      InitMemoryReader(&ms, &rs, data.data(), data.size());
      if (failing) mw.fail_at = ms.fail_at = cut;
      Bytes in(7), out(5);
      StreamBuffers buf = {in.data(), 7, out.data(), 5};
      for (int i = 0; i < 5; i++) {
        Recorder rw_rec, rs_rec;
        Collector got;
        Entry e;
        EntryInfo info;
        const int want = ReadEntry(&rw, &rw_rec.sink, &e);
        const int status = ReadEntryStream(&rs, &rs_rec.sink, &buf, &got.sink, &info);
        EXPECT_EQ(status, want) << "entry " << i;
        EXPECT_EQ(Fields(info), Fields(e.info)) << "entry " << i;
        EXPECT_STREQ(info.reason, e.info.reason);
        EXPECT_EQ(rs_rec.reports, rw_rec.reports);
        EXPECT_EQ(ms.pos, mw.pos) << "both leave the source at the next record";
        if (want == ENTRY_OK) {
          EXPECT_TRUE(got.data == Bytes(e.payload, e.payload + e.length));
        }
        FreeEntry(&e);
        if (want == ENTRY_TRUNCATED_RECORD || want == ENTRY_READ_FAILED) break;
      }
      if (HasFailure()) return;
    }
  }
}

// Stored bytes the source does not have read as zeros, and inside a Huffman block whose
// all-zeros code is a literal or a copy they decode without end: the streaming decoder works
// out where that stops instead of inflating it all, and must still give what decoding every
// zero gives: status, reason, produced, stream bytes used, no further reports; the payload it
// hands over is a beginning of the true one, and far shorter.
TEST(StreamDecoder, EndlessZeroTailsAgainstDecodingThemAll) {
  std::mt19937 rng(21);
  Bytes mostly_b(300000);
  for (unsigned char& c : mostly_b) c = rng() % 16 ? 'b' : (unsigned char)rng();
  Bytes abc(1 << 20);
  for (size_t i = 0; i < abc.size(); i++) abc[i] = "abc"[i % 3];
  const Bytes fuzz_entry = ReadFixture("list_bad_then_zero_tail_bomb.001");
  auto head = [](Bytes b, size_t n) {
    b.resize(n);
    return b;
  };
  const Bytes run = Deflate(Bytes(1 << 20, 'a'), 9, 8, Z_DEFAULT_STRATEGY);
  const Bytes abc_z = Deflate(abc, 9, 8, Z_DEFAULT_STRATEGY);
  const Bytes b_z = Deflate(mostly_b, 9, 8, Z_HUFFMAN_ONLY);
  const struct {
    const char* what;
    Bytes present;    // what the source has of the stream
    uint32_t stored;  // the stored size (the rest reads as zeros)
  } kTails[] = {
      // copies of 258 bytes from every 2 bits
      {"run, cut after its code lengths", head(run, 20), 6000},
      {"repeated abc, cut half-way", head(abc_z, abc_z.size() / 2), 9000},
      // a literal from every bit
      {"literals only, cut half-way", head(b_z, b_z.size() / 2), 800000},
      {"found by fuzzing", Bytes(fuzz_entry.begin() + 103, fuzz_entry.end()), 2000000},
  };
  for (const auto& t : kTails) {
    const Bytes& present = t.present;
    Bytes zeros = present;
    zeros.resize(t.stored, 0);
    // Decoded to its end with room to spare the tail runs out of input; around that length,
    // and well below it, the room runs out first.
    const Decoded free_run = Whole(zeros, 64u << 20);
    ASSERT_EQ(free_run.status, ENTRY_BAD_STREAM) << t.what;
    const uint32_t all = free_run.info.produced;
    ASSERT_GT(all, 4u << 20) << t.what;
    for (uint32_t cap : {all + 1000, all + 1, all, all - 1, all - 257, all - 258, all / 2 + 77,
                         (uint32_t)(3 << 20)}) {
      const Decoded whole = Whole(zeros, cap);
      for (Pieces p : {Pieces{3, 2}, Pieces{4096, 1000}, Pieces{65536, 65536}}) {
        SCOPED_TRACE(testing::Message() << t.what << ", cap " << cap << " of " << all << ", pieces "
                                        << p.in << "/" << p.out);
        const Decoded s = Streamed(present, cap, p, -1, t.stored);
        EXPECT_EQ(s.status, whole.status);
        EXPECT_STREQ(s.info.reason, whole.info.reason);
        EXPECT_EQ(s.info.produced, whole.info.produced);
        EXPECT_EQ(s.info.stream_used, whole.info.stream_used);
        EXPECT_EQ(s.info.stored_read, present.size());
        EXPECT_EQ(s.info.reports, whole.info.reports);
        EXPECT_EQ(s.reports, whole.reports);
        EXPECT_LT(s.out.size(), whole.out.size() / 4) << "the tail was decoded, not skipped";
        EXPECT_TRUE(std::equal(s.out.begin(), s.out.end(), whole.out.begin()));
        // The skip comes at the first try, once the present bytes and at most one piece of
        // zeros are decoded; nothing decoded after it reaches the receiver, not even the
        // zeros kept to end the stream where it would end.
        Bytes up_to_skip = present;
        up_to_skip.resize(std::min<size_t>(present.size() + p.in, t.stored), 0);
        EXPECT_LE(s.out.size(), Whole(up_to_skip, cap).info.produced);
        if (HasFailure()) return;
      }
    }
  }
}

}  // namespace
