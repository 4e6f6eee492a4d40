// Package header, entry records read from a byte source, file headers, names.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "test_util.h"

namespace {

struct Source {
  Bytes data;  // the reader's own copy
  MemoryReader m;
  ByteReader r;
  explicit Source(Bytes bytes, int fail_at = -1) : data(std::move(bytes)) {
    InitMemoryReader(&m, &r, data.data(), data.size());
    m.fail_at = fail_at;
  }
};

// A payload: file header (attributes 0x21, times 1, 2, 3) and `body`.
Bytes Payload(const std::string& body) {
  Bytes p(FILE_HEADER_SIZE, 0);
  PutLE32(&p[0], 0x21);
  p[4] = 1;
  p[12] = 2;
  p[20] = 3;
  Bytes b = B(body);
  p.insert(p.end(), b.begin(), b.end());
  return p;
}

Bytes FixedStream(const Bytes& payload) {
  BitWriter w;
  w.Fixed(payload, true);
  return ZlibWrap(w.Take(), payload);
}

TEST(PackageHeader, KindsAndNames) {
  struct {
    Bytes bytes;
    int ok;
    int kind;
  } cases[] = {
      {{'Z', 'K', 0, 1}, 1, 1},
      {{'Z', 'K', 0xFF, 2}, 1, 2},
      {{'Z', 'K', 0, 3}, 1, 3},
      {{'Z', 'K', 0, 0}, 0, 0},
      {{'Z', 'K', 0, 4}, 0, 0},
      {{'Z', 'K', 0, 0xFF}, 0, 0},
      {{'K', 'Z', 0, 1}, 0, 0},
      {{'z', 'K', 0, 1}, 0, 0},
      {{'Z', 'K', 0}, 0, 0},
      {{'Z'}, 0, 0},
      {{}, 0, 0},
  };
  for (const auto& c : cases) {
    Source s(c.bytes);
    int kind = -1;
    EXPECT_EQ(ReadPackageHeader(&s.r, &kind), c.ok) << testing::PrintToString(c.bytes);
    if (c.ok) {
      EXPECT_EQ(kind, c.kind);
    }
  }
  Source failing({'Z', 'K', 0, 1}, 3);
  int kind;
  EXPECT_EQ(ReadPackageHeader(&failing.r, &kind), 0);

  EXPECT_STREQ(BaseNameForKind(1), "Instal");
  EXPECT_STREQ(BaseNameForKind(2), "Setup");
  EXPECT_STREQ(BaseNameForKind(3), "Instalar");
  EXPECT_EQ(BaseNameForKind(0), nullptr);
  EXPECT_EQ(BaseNameForKind(4), nullptr);
  EXPECT_STREQ(ProgramStem("Instalar"), "Instal");
  EXPECT_STREQ(ProgramStem("Setup"), "Setup");
  EXPECT_STREQ(ProgramStem("Instal"), "Instal");
  EXPECT_STREQ(ProgramStem("instalar"), "instalar");
}

TEST(FileHeader, Decodes) {
  Bytes p(FILE_HEADER_SIZE);
  for (size_t i = 0; i < p.size(); i++) p[i] = (unsigned char)(i + 1);
  FileHeader h;
  ASSERT_EQ(ParseFileHeader(p.data(), (uint32_t)p.size(), &h), 1);
  EXPECT_EQ(h.attributes, 0x04030201u);
  EXPECT_EQ(h.created, 0x0C0B0A0908070605ull);
  EXPECT_EQ(h.accessed, 0x14131211100F0E0Dull);
  EXPECT_EQ(h.written, 0x1C1B1A1918171615ull);
  EXPECT_EQ(ParseFileHeader(p.data(), FILE_HEADER_SIZE - 1, &h), 0);
}

// Every prefix of an entry record: cut in the sizes it is a truncated record; cut in the
// stream the rest reads as zeros and fails; once the stream is whole, the cut trailing bytes
// do not matter.
TEST(ReadEntry, TruncatedAtEveryByte) {
  const Bytes payload = Payload("file data");
  Bytes stream = FixedStream(payload);
  const size_t stream_len = stream.size();
  stream.insert(stream.end(), {'t', 'a', 'i', 'l'});
  const Bytes record = EntryRecord(100, stream, (uint32_t)stream.size());
  for (size_t len = 0; len <= record.size(); len++) {
    SCOPED_TRACE(len);
    Bytes cut(record.begin(), record.begin() + len);
    Source s(cut);
    Entry e;
    int want = len < 8                ? ENTRY_TRUNCATED_RECORD
               : len < 8 + stream_len ? ENTRY_BAD_STREAM
                                      : ENTRY_OK;
    EXPECT_EQ(ReadEntry(&s.r, nullptr, &e), want);
    if (len >= 8) {
      EXPECT_EQ(e.info.stored_read, len - 8);
    }
    if (want == ENTRY_OK) {
      EXPECT_EQ(Bytes(e.payload, e.payload + e.length), payload);
      EXPECT_EQ(e.info.stream_used, stream_len);
    } else {
      EXPECT_EQ(e.payload, nullptr);
      EXPECT_NE(e.info.reason, nullptr);
    }
    FreeEntry(&e);
  }
}

TEST(ReadEntry, SourceFailures) {
  const Bytes payload = Payload("abc");
  Bytes stream = FixedStream(payload);
  const size_t stream_len = stream.size();
  stream.insert(stream.end(), 6, 'x');
  const Bytes record = EntryRecord(64, stream, (uint32_t)stream.size());
  struct {
    int fail_at;
    int status;
  } cases[] = {
      {0, ENTRY_READ_FAILED}, {2, ENTRY_READ_FAILED},
      {6, ENTRY_READ_FAILED}, {8, ENTRY_BAD_STREAM},  // nothing of the stream arrives: all zeros
      {10, ENTRY_BAD_STREAM}, {(int)(8 + stream_len), ENTRY_OK},  // only the ignored tail is lost
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail_at);
    Source s(record, c.fail_at);
    Entry e;
    EXPECT_EQ(ReadEntry(&s.r, nullptr, &e), c.status);
    FreeEntry(&e);
  }
}

TEST(ReadEntry, EntriesBackToBackWithReports) {
  const Bytes a = Payload("first"), b = Payload("second entry");
  Bytes pkg = EntryRecord((uint32_t)a.size(), FixedStream(a), (uint32_t)FixedStream(a).size());
  BitWriter w;
  w.Stored(b, true);
  Bytes sb = ZlibWrap(w.Take(), b);
  sb.push_back(0x55);  // a trailing byte inside the stored size
  Bytes rb = EntryRecord(1000, sb, (uint32_t)sb.size());
  pkg.insert(pkg.end(), rb.begin(), rb.end());

  Source s(pkg);
  Recorder rec;
  Entry e;
  ASSERT_EQ(ReadEntry(&s.r, &rec.sink, &e), ENTRY_OK);
  EXPECT_EQ(e.length, a.size());
  FreeEntry(&e);
  ASSERT_EQ(ReadEntry(&s.r, &rec.sink, &e), ENTRY_OK);
  EXPECT_EQ(Bytes(e.payload, e.payload + e.length), b);
  EXPECT_EQ(e.info.declared, 1000u);
  FileHeader h;
  ASSERT_EQ(ParseFileHeader(e.payload, e.length, &h), 1);
  EXPECT_EQ(h.attributes, 0x21u);
  EXPECT_EQ(h.written, 3u);
  FreeEntry(&e);
  EXPECT_EQ(rec.reports, (Reports{{33, 0}, {33, 1}, {40, 1}}));
  EXPECT_EQ(ReadEntry(&s.r, &rec.sink, &e), ENTRY_TRUNCATED_RECORD);  // the package ends
}

TEST(ReadEntry, PayloadSizes) {
  for (size_t len : {0, 1, 27, 28, 29}) {
    SCOPED_TRACE(len);
    Bytes payload(len, 'p');
    Bytes stream = FixedStream(payload);
    Bytes record = EntryRecord((uint32_t)len, stream, (uint32_t)stream.size());
    Source s(record);
    Entry e;
    EXPECT_EQ(ReadEntry(&s.r, nullptr, &e), len < 28 ? ENTRY_SHORT_PAYLOAD : ENTRY_OK);
    EXPECT_EQ(e.payload == nullptr, len < 28);
    FreeEntry(&e);
  }
  // A stored size far beyond the source: the missing bytes are zeros after a whole stream.
  Bytes stream = FixedStream(Payload("x"));
  Bytes record = EntryRecord(29, stream, (uint32_t)stream.size() + (1u << 20));
  Source s(record);
  Entry e;
  EXPECT_EQ(ReadEntry(&s.r, nullptr, &e), ENTRY_OK);
  EXPECT_EQ(e.info.stored_read, stream.size());
  FreeEntry(&e);
  Source empty(EntryRecord(29, {}, 0));
  EXPECT_EQ(ReadEntry(&empty.r, nullptr, &e), ENTRY_BAD_STREAM);
}

#if !defined(__SANITIZE_ADDRESS__)
// A declared size near 4 GiB cannot be allocated in setup.exe's 32-bit address space. A
// 64-bit test process could get it lazily, so its address space is capped for the test.
TEST(ReadEntry, HugeDeclaredSizeIsOutOfMemory) {
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit cap = old;
  cap.rlim_cur = 2ull << 30;
  if (old.rlim_max != RLIM_INFINITY && old.rlim_max < cap.rlim_cur) cap.rlim_cur = old.rlim_max;
  if (setrlimit(RLIMIT_AS, &cap) != 0) GTEST_SKIP() << "cannot cap the address space";
  Bytes stream = FixedStream(Payload("x"));
  Bytes record = EntryRecord(0xFFFFFFF0u, stream, (uint32_t)stream.size());
  Source s(record);
  Entry e;
  int status = ReadEntry(&s.r, nullptr, &e);
  setrlimit(RLIMIT_AS, &old);
  EXPECT_EQ(status, ENTRY_NO_MEMORY);
  EXPECT_EQ(e.payload, nullptr);
  EXPECT_EQ(e.info.declared, 0xFFFFFFF0u);
}
#endif

}  // namespace
