// Inflation of one entry stream: outcomes and the exact progress report sequence, on streams
// laid out bit by bit, on streams from another compressor, and on zlib's own.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>

#include "test_util.h"

namespace {

struct Outcome {
  int status;
  uint32_t produced;
  Reports reports;
  EntryInfo info;
  Bytes out;
};

Outcome Inflate(const Bytes& stream, uint32_t cap) {
  Outcome o{};
  Recorder rec;
  o.out.assign(cap + 1, 0xEE);  // one guard byte past the capacity
  o.status = InflateEntryBuffer(stream.data(), (uint32_t)stream.size(), o.out.data(), cap,
                                &o.produced, &rec.sink, &o.info);
  o.reports = rec.reports;
  EXPECT_EQ(o.out[cap], 0xEE) << "wrote past the output buffer";
  EXPECT_EQ(o.info.reports, o.reports.size());
  o.out.resize(o.produced);
  return o;
}

const Bytes kStored = B("stored bytes");                  // 12
const Bytes kFixed = {'f', 'i', 'x', 0x90, 0xFF};         // 5; 9-bit fixed codes too
const Bytes kDynamic = {'d', 'y', 'n', 0xFF, 0x00, 'c'};  // 6; the 9-bit code of 255 too

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct StreamCase {
  const char* name;
  Bytes stream;
  uint32_t cap;
  int status;
  uint32_t produced;
  Reports reports;
  uint32_t blocks[3];
};

std::vector<StreamCase> StreamCases() {
  std::vector<StreamCase> cases;
  auto add = [&](const char* name, BitWriter w, const Bytes& payload, int cap_delta, int status,
                 Reports reports, std::array<uint32_t, 3> blocks, Bytes tail = {}) {
    Bytes z = ZlibWrap(w.Take(), payload);
    z.insert(z.end(), tail.begin(), tail.end());
    StreamCase c{name,
                 z,
                 (uint32_t)((int)payload.size() + cap_delta),
                 status,
                 status == ENTRY_OK ? (uint32_t)payload.size() : 0,
                 reports,
                 {blocks[0], blocks[1], blocks[2]}};
    cases.push_back(c);
  };
  BitWriter w;
  w.Stored(kStored, true);
  add("stored final", w, kStored, 0, ENTRY_OK, {{12, 1}}, {1, 0, 0});
  w = {};
  w.Fixed(kFixed, true);
  add("fixed final", w, kFixed, 0, ENTRY_OK, {{5, 0}, {5, 1}}, {0, 1, 0});
  w = {};
  w.Dynamic(kDynamic, true);
  add("dynamic final", w, kDynamic, 0, ENTRY_OK, {{6, 0}, {6, 1}}, {0, 0, 1});
  w = {};
  w.Stored(kStored, false);
  w.Fixed(kFixed, false);
  w.Dynamic(kDynamic, false);
  w.Stored(kStored, true);
  Bytes mixed = Cat({kStored, kFixed, kDynamic, kStored});
  add("mixed, stored final", w, mixed, 0, ENTRY_OK, {{17, 0}, {23, 0}, {35, 1}}, {2, 1, 1});
  w = {};
  w.Dynamic(kDynamic, false);
  w.Stored(kStored, false);
  w.Fixed(kFixed, true);
  mixed = Cat({kDynamic, kStored, kFixed});
  add("mixed, fixed final", w, mixed, 0, ENTRY_OK, {{6, 0}, {23, 0}, {23, 1}}, {1, 1, 1});
  add("room to spare", w, mixed, 1, ENTRY_OK, {{6, 0}, {23, 0}, {23, 1}}, {1, 1, 1});
  add("one byte too long", w, mixed, -1, ENTRY_TOO_LONG, {{6, 0}}, {1, 0, 1});
  add("trailing bytes ignored", w, mixed, 0, ENTRY_OK, {{6, 0}, {23, 0}, {23, 1}}, {1, 1, 1},
      B("tail"));
  w = {};
  w.Fixed({}, false);
  w.Stored(B("xyz"), true);
  add("empty fixed block", w, B("xyz"), 0, ENTRY_OK, {{0, 0}, {3, 1}}, {1, 1, 0});
  w = {};
  w.Fixed({}, true);
  add("empty payload", w, {}, 0, ENTRY_OK, {{0, 0}, {0, 1}}, {0, 1, 0});
  w = {};
  w.Stored(kStored, true);
  add("stored, one byte too long", w, kStored, -1, ENTRY_TOO_LONG, {}, {0, 0, 0});
  w = {};
  w.Dynamic(kDynamic, true);
  add("dynamic, one byte too long", w, kDynamic, -1, ENTRY_TOO_LONG, {}, {0, 0, 0});
  w = {};
  w.Fixed(kFixed, true);
  add("fixed, nothing fits", w, kFixed, -5, ENTRY_TOO_LONG, {}, {0, 0, 0});
  w = {};
  w.Fixed(kFixed, false);
  add("no final block", w, kFixed, 0, ENTRY_BAD_STREAM, {{5, 0}}, {0, 1, 0});
  w = {};
  w.Bits(1, 1);
  w.Bits(3, 2);
  add("block type 3", w, {}, 0, ENTRY_BAD_STREAM, {}, {0, 0, 0});
  return cases;
}

TEST(InflateEntry, HandMadeStreams) {
  for (const StreamCase& c : StreamCases()) {
    SCOPED_TRACE(c.name);
    Outcome o = Inflate(c.stream, c.cap);
    EXPECT_EQ(o.status, c.status);
    if (c.status == ENTRY_OK) {
      EXPECT_EQ(o.produced, c.produced);
    }
    EXPECT_EQ(o.reports, c.reports);
    for (int t = 0; t < 3; t++) EXPECT_EQ(o.info.blocks[t], c.blocks[t]) << "type " << t;
    EXPECT_EQ(o.info.reason == nullptr, c.status == ENTRY_OK);
  }
}

// Each block type follows blocks that leave the bit position at every offset within a byte,
// so that its header is read from the last consumed byte alone or across into the next.
TEST(InflateEntry, BlockHeadersAtEveryBitOffset) {
  for (int lead_dynamic = 0; lead_dynamic < 2; lead_dynamic++) {
    for (int k = 0; k < 8; k++) {
      for (int last = 0; last < 3; last++) {
        SCOPED_TRACE(testing::Message()
                     << "dynamic " << lead_dynamic << " k " << k << " last " << last);
        BitWriter w;
        Bytes payload;
        Reports want;
        for (int i = 0; i < k; i++) {
          Bytes one = {(unsigned char)('a' + i)};
          if (lead_dynamic)
            w.Dynamic(one, false);
          else
            w.Fixed(one, false);
          payload.push_back(one[0]);
          want.push_back({(uint32_t)payload.size(), 0});
        }
        const Bytes end = B("end");
        if (last == 0) w.Stored(end, true);
        if (last == 1) w.Fixed(end, true);
        if (last == 2) w.Dynamic(end, true);
        payload.insert(payload.end(), end.begin(), end.end());
        if (last) want.push_back({(uint32_t)payload.size(), 0});
        want.push_back({(uint32_t)payload.size(), 1});
        Outcome o = Inflate(ZlibWrap(w.Take(), payload), (uint32_t)payload.size());
        EXPECT_EQ(o.status, ENTRY_OK);
        EXPECT_EQ(o.out, payload);
        EXPECT_EQ(o.reports, want);
      }
    }
  }
}

TEST(InflateEntry, Failures) {
  BitWriter w;
  w.Fixed(kFixed, true);
  const Bytes good = ZlibWrap(w.Take(), kFixed);
  const Reports both = {{5, 0}, {5, 1}};

  Bytes bad_check = good;
  bad_check.back() ^= 1;
  Outcome o = Inflate(bad_check, 5);
  EXPECT_EQ(o.status, ENTRY_BAD_STREAM);
  EXPECT_STREQ(o.info.reason, "incorrect data check");
  EXPECT_EQ(o.reports, both) << "the end report comes before the Adler-32 is checked";

  // Cut at every length: only the whole stream succeeds, and the reports stop where the
  // data does.
  for (size_t len = 0; len < good.size(); len++) {
    SCOPED_TRACE(len);
    o = Inflate(Bytes(good.begin(), good.begin() + len), 5);
    EXPECT_EQ(o.status, ENTRY_BAD_STREAM);
    EXPECT_EQ(o.reports, len >= good.size() - 4 ? both : Reports{});
  }

  // A preset dictionary request: FDICT set, dictionary id, then data.
  o = Inflate({0x78, 0x20, 0, 0, 0, 1, 0x03, 0x00}, 16);
  EXPECT_EQ(o.status, ENTRY_BAD_STREAM);
  EXPECT_STREQ(o.info.reason, "stream needs a preset dictionary");
  EXPECT_TRUE(o.reports.empty());

  o = Inflate({0x1F, 0x8B, 8, 0, 0, 0, 0, 0}, 16);  // a gzip header is not a zlib one
  EXPECT_EQ(o.status, ENTRY_BAD_STREAM);
  EXPECT_NE(o.info.reason, nullptr);
}

// When the output is full just as the input runs out, the answer depends on whether the
// stream still had output to give (too long) or was merely cut (bad stream).
TEST(InflateEntry, FullOutputAtEndOfInput) {
  BitWriter w;
  w.Fixed(B("abc"), false, false);  // 3 + 24 bits: 5 zero pad bits, a prefix of end-of-block
  Bytes z = ZlibWrap(w.Take(), {});
  z.resize(z.size() - 4);
  EXPECT_EQ(Inflate(z, 3).status, ENTRY_BAD_STREAM);
  w = {};
  w.Fixed(B("abcd"), false, false);
  z = ZlibWrap(w.Take(), {});
  z.resize(z.size() - 4);
  EXPECT_EQ(Inflate(z, 3).status, ENTRY_TOO_LONG);
}

TEST(InflateEntry, ZeroSizes) {
  EXPECT_EQ(Inflate({}, 10).status, ENTRY_BAD_STREAM);
  BitWriter w;
  w.Stored(B("x"), true);
  EXPECT_EQ(Inflate(ZlibWrap(w.Take(), B("x")), 0).status, ENTRY_TOO_LONG);
  // NULL buffers are acceptable when their sizes are 0.
  uint32_t produced = 7;
  EXPECT_EQ(InflateEntryBuffer(nullptr, 0, nullptr, 0, &produced, nullptr, nullptr),
            ENTRY_BAD_STREAM);
  EXPECT_EQ(produced, 0u);
}

struct FixtureCase {
  const char* file;
  int status;
  Reports reports;
  uint32_t huffman_blocks[2];
};

// Streams from another compressor, with a sync flush at chosen offsets: every flush ends a
// block and adds an empty stored one.
TEST(InflateEntry, OtherCompressorsStreams) {
  const Bytes payload = ReadFixture("payload.bin");
  ASSERT_EQ(payload.size(), 3028u);
  const FixtureCase cases[] = {
      {"stored_level0.zz", ENTRY_OK, {{3028, 1}}, {0, 0}},
      {"fixed_chunks.zz", ENTRY_OK, {{1000, 0}, {2000, 0}, {3028, 0}, {3028, 1}}, {3, 0}},
      {"dynamic_chunks.zz", ENTRY_OK, {{1500, 0}, {3028, 0}, {3028, 1}}, {0, 2}},
      {"dictionary.zz", ENTRY_BAD_STREAM, {}, {0, 0}},
  };
  for (const FixtureCase& c : cases) {
    SCOPED_TRACE(c.file);
    Bytes stream = ReadFixture(c.file);
    ASSERT_FALSE(stream.empty());
    Outcome o = Inflate(stream, 4000);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.reports, c.reports);
    EXPECT_EQ(o.info.blocks[1], c.huffman_blocks[0]);
    EXPECT_EQ(o.info.blocks[2], c.huffman_blocks[1]);
    if (c.status == ENTRY_OK) {
      EXPECT_EQ(o.out, payload);
      EXPECT_GE(o.info.blocks[0], 1u);
      EXPECT_EQ(o.info.stream_used, stream.size());
    }
  }
  Outcome o = Inflate(ReadFixture("empty.zz"), 0);
  EXPECT_EQ(o.status, ENTRY_OK);
  EXPECT_EQ(o.reports, (Reports{{0, 0}, {0, 1}}));
}

// zlib's own deflate with several strategies on data big enough for many blocks: the
// reports are one per Huffman block plus the end report, rising, the last at the full size.
TEST(InflateEntry, ZlibRoundTrips) {
  Bytes data(300000);
  uint32_t x = 12345;
  for (size_t i = 0; i < data.size(); i++) {
    x = x * 1103515245u + 12345u;
    data[i] = (unsigned char)("abcdefgh"[(x >> 16) & 7] + (i % 4096 < 64 ? (x >> 24) : 0));
  }
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
    SCOPED_TRACE(strategy);
    z_stream s{};
    ASSERT_EQ(deflateInit2(&s, 6, Z_DEFLATED, 15, 8, strategy), Z_OK);
    Bytes z(deflateBound(&s, data.size()));
    s.next_in = data.data();
    s.avail_in = (uInt)data.size();
    s.next_out = z.data();
    s.avail_out = (uInt)z.size();
    ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    z.resize(s.total_out);
    deflateEnd(&s);

    Outcome o = Inflate(z, (uint32_t)data.size());
    ASSERT_EQ(o.status, ENTRY_OK);
    EXPECT_EQ(o.out, data);
    uint32_t huffman = o.info.blocks[1] + o.info.blocks[2];
    EXPECT_GT(huffman, 1u);
    ASSERT_EQ(o.reports.size(), huffman + 1);
    for (size_t i = 0; i + 1 < o.reports.size(); i++) {
      EXPECT_EQ(o.reports[i].second, 0);
      EXPECT_LE(o.reports[i].first, o.reports[i + 1].first);
    }
    EXPECT_EQ(o.reports.back(), std::make_pair((uint32_t)data.size(), 1));
  }
}

}  // namespace
