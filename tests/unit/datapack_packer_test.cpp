// The in-memory packer: what it builds must read back through the package core exactly, and
// its helpers for broken packages must break them the intended way.
#include <gtest/gtest.h>

#include <string.h>

#include "datapack_fixture.h"
#include "filetime.h"
#include "listcheck.h"
#include "package.h"
#include "testpack.h"

using namespace dptest;
using datapack::PackedFile;

namespace {

struct Walk {
  int kind = 0;
  std::vector<Bytes> payloads;
  std::vector<EntryInfo> infos;
  int status = ENTRY_OK;  // of the first entry that failed
  size_t left = 0;        // bytes after the last entry read
};

Walk ReadBack(const Bytes& package, size_t entries) {
  Walk w;
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, package.data(), package.size());
  if (!ReadPackageHeader(&r, &w.kind)) return w;
  for (size_t i = 0; i < entries; ++i) {
    Entry e;
    w.status = ReadEntry(&r, nullptr, &e);
    w.infos.push_back(e.info);
    if (w.status != ENTRY_OK) break;
    w.payloads.emplace_back(e.payload, e.payload + e.length);
    FreeEntry(&e);
  }
  w.left = m.size - m.pos;
  return w;
}

Bytes Data(const Bytes& payload) {
  return Bytes(payload.begin() + FILE_HEADER_SIZE, payload.end());
}

}  // namespace

TEST(DatapackPacker, RoundTripThroughTheCoreKeepsOrderDataAndHeaders) {
  datapack::PackageSpec plan = GoodSpec({"a.txt", "b.txt", "c.txt"});
  plan.setup_program.attributes = 0x21;
  plan.setup_program.created = 0x0123456789ABCDEFull;
  plan.setup_program.accessed = 1;
  plan.setup_program.written = 0xFFFFFFFFFFFFFFFFull;
  plan.uninstaller.attributes = KEEP_ATTRIBUTES;
  plan.support[1].data.clear();  // an empty file is still an entry
  for (int kind : {KIND_INSTAL, KIND_SETUP, KIND_INSTALAR}) {
    plan.kind = kind;
    const Bytes package = Build(plan);
    ASSERT_FALSE(package.empty());
    Walk w = ReadBack(package, 6);
    EXPECT_EQ(w.kind, kind);
    ASSERT_EQ(w.payloads.size(), 6u);
    EXPECT_EQ(w.left, 0u);
    const PackedFile* files[] = {&plan.list,       &plan.setup_program, &plan.uninstaller,
                                 &plan.support[0], &plan.support[1],    &plan.support[2]};
    for (size_t i = 0; i < 6; ++i) {
      FileHeader h;
      ASSERT_TRUE(ParseFileHeader(w.payloads[i].data(), (uint32_t)w.payloads[i].size(), &h));
      EXPECT_EQ(h.attributes, files[i]->attributes) << "entry " << i + 1;
      EXPECT_EQ(h.created, files[i]->created);
      EXPECT_EQ(h.accessed, files[i]->accessed);
      EXPECT_EQ(h.written, files[i]->written);
      EXPECT_EQ(Data(w.payloads[i]), files[i]->data);
      EXPECT_EQ(w.infos[i].declared, w.payloads[i].size()) << "declared is the exact length";
    }
  }
}

TEST(DatapackPacker, SameSpecGivesSameBytesAndPayloadTotalMatchesTheList) {
  const datapack::PackageSpec plan = GoodSpec();
  EXPECT_EQ(Build(plan), Build(plan));
  EXPECT_EQ(datapack::PayloadTotal(plan), 28u * 4 + 300 + 100 + 1000 + 1500);
  datapack::ListCheck c =
      datapack::CheckList(plan.list.data.data(), plan.list.data.size(), "Setup.lst", "Setup1.exe");
  EXPECT_FALSE(c.Refused());
  EXPECT_EQ(c.expected, datapack::PayloadTotal(plan));
  EXPECT_EQ(c.names, (std::vector<std::string>{"readme.txt", "data.bin"}));
}

TEST(DatapackPacker, CompressionOptionsAreCheckedAndLevelZeroStoresOnly) {
  datapack::PackageSpec plan = GoodSpec();
  struct {
    int level, mem, strategy;
    bool ok;
  } cases[] = {{9, 9, 0, true},  {0, 1, 0, true},   {10, 9, 0, false}, {-1, 9, 0, false},
               {9, 0, 0, false}, {9, 10, 0, false}, {9, 9, 5, false}};
  for (const auto& c : cases) {
    plan.compression = {c.level, c.mem, c.strategy};
    Bytes out;
    std::string error;
    EXPECT_EQ(datapack::BuildPackage(plan, out, error), c.ok) << c.level << "/" << c.mem;
    EXPECT_EQ(error.empty(), c.ok);
  }
  plan.compression = {0, 9, 0};
  Walk w = ReadBack(Build(plan), 5);
  ASSERT_EQ(w.payloads.size(), 5u);
  for (const EntryInfo& info : w.infos) {
    EXPECT_EQ(info.blocks[1] + info.blocks[2], 0u);
    EXPECT_EQ(info.reports, 1u) << "stored blocks make only the end report";
  }
}

TEST(DatapackPacker, StoredStreamInflatesWithOneBlockPerChunk) {
  struct {
    size_t size, block, blocks;
  } cases[] = {{0, 65535, 1},     {1, 65535, 1},   {65535, 65535, 1},
               {65536, 65535, 2}, {1000, 100, 10}, {1001, 100, 11}};
  for (const auto& c : cases) {
    Bytes payload = Noise(c.size, 9);
    Bytes stream = datapack::StoredStream(payload.data(), payload.size(), c.block);
    Bytes out(c.size + 1);
    uint32_t produced = 0;
    EntryInfo info;
    ASSERT_EQ(InflateEntryBuffer(stream.data(), (uint32_t)stream.size(), out.data(),
                                 (uint32_t)out.size(), &produced, nullptr, &info),
              ENTRY_OK)
        << c.size;
    EXPECT_EQ(produced, c.size);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin()));
    EXPECT_EQ(info.blocks[0], c.blocks);
    EXPECT_EQ(info.reports, 1u);
  }
}

TEST(DatapackPacker, CraftedRecordsFailTheWayTheyAreMeantTo) {
  const Bytes payload = datapack::MakePayload({"x", Noise(5000, 4), 0x20, 1, 2, 3});
  Bytes stream;
  std::string error;
  ASSERT_TRUE(datapack::CompressPayload(payload.data(), payload.size(), {}, stream, error));
  const uint32_t n = (uint32_t)payload.size(), s = (uint32_t)stream.size();
  Bytes bad_adler = stream;
  datapack::CorruptAdler32(bad_adler);
  Bytes tiny = datapack::StoredStream(payload.data(), 20);
  struct {
    const char* what;
    uint32_t declared, stored;
    Bytes stream;
    int status;
  } cases[] = {
      {"exact", n, s, stream, ENTRY_OK},
      {"declared larger: produced length wins", n + 100, s, stream, ENTRY_OK},
      {"declared one short", n - 1, s, stream, ENTRY_TOO_LONG},
      {"bad Adler-32", n, s, bad_adler, ENTRY_BAD_STREAM},
      {"stored size short of the stream", n, s - 5, stream, ENTRY_BAD_STREAM},
      {"payload under 28 bytes", 20, (uint32_t)tiny.size(), tiny, ENTRY_SHORT_PAYLOAD},
  };
  for (const auto& c : cases) {
    Bytes package;
    datapack::AppendPackageHeader(package, KIND_SETUP);
    datapack::AppendRecord(package, c.declared, c.stored, c.stream);
    Walk w = ReadBack(package, 1);
    EXPECT_EQ(w.status, c.status) << c.what;
    if (c.status == ENTRY_OK) {
      EXPECT_EQ(w.payloads[0], payload) << c.what;
    }
  }
  // A record claiming more stored bytes than the package holds: the stream is complete, the
  // missing bytes read as zeros.
  Bytes package;
  datapack::AppendPackageHeader(package, KIND_SETUP, 0x5A);
  EXPECT_EQ(package, (Bytes{'Z', 'K', 0x5A, KIND_SETUP}));
  datapack::AppendRecord(package, n, s + 10, stream);
  Walk w = ReadBack(package, 1);
  EXPECT_EQ(w.status, ENTRY_OK);
  EXPECT_EQ(w.infos[0].stored_read, s);
}

TEST(DatapackPacker, MakeListFileIsReadWithEveryLineEnding) {
  for (const char* eol : {"\r\n", "\n", "\r", "\n\r"}) {
    std::string text = datapack::MakeListFile(4000000000u, 294967295u, {"a.txt", "b"}, eol);
    datapack::ListCheck c = datapack::CheckList((const unsigned char*)text.data(), text.size(),
                                                "Setup.lst", "Setup1.exe");
    EXPECT_TRUE(c.issues.empty());
    EXPECT_EQ(c.size1, 4000000000u);
    EXPECT_EQ(c.expected, 4000000000u + 294967295u) << "the sum wraps like the bootstrapper's";
    EXPECT_EQ(c.count, 2);
    EXPECT_EQ(c.names, (std::vector<std::string>{"a.txt", "b"}));
  }
}

TEST(DatapackFileTime, KnownAnswers) {
  struct {
    int64_t seconds;
    uint32_t nanoseconds;
    uint64_t filetime;
    const char* text;
  } cases[] = {
      {0, 0, 116444736000000000ull, "1970-01-01T00:00:00Z"},
      {-11644473600ll, 0, 0, "1601-01-01T00:00:00Z"},
      {-1, 0, 116444735990000000ull, "1969-12-31T23:59:59Z"},
      {951827696, 500000000, 125963012965000000ull, "2000-02-29T12:34:56.5000000Z"},
      {1709294400, 123, 133537680000000001ull, "2024-03-01T12:00:00.0000001Z"},
      {4102444800ll, 0, 157469184000000000ull, "2100-01-01T00:00:00Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(datapack::FileTimeFromUnix(c.seconds, c.nanoseconds), c.filetime) << c.text;
    EXPECT_EQ(datapack::FormatFileTime(c.filetime), c.text);
    int64_t s;
    uint32_t ns;
    datapack::UnixFromFileTime(c.filetime, &s, &ns);
    EXPECT_EQ(s, c.seconds);
    EXPECT_EQ(ns, c.nanoseconds / 100 * 100);
  }
  EXPECT_EQ(datapack::FileTimeFromUnix(-11644473601ll, 0), 0u) << "before 1601 clamps";
  EXPECT_EQ(datapack::FormatFileTime(UINT64_MAX), "60056-05-28T05:36:10.9551615Z");
}

TEST(DatapackFileTime, AttributeLettersAndHex) {
  struct {
    uint32_t bits;
    const char *letters, *hex;
  } cases[] = {{0, "-", "0x00000000"},       {0x20, "A", "0x00000020"},
               {0x23, "RHA", "0x00000023"},  {0x07, "RHS", "0x00000007"},
               {0x80, "N", "0x00000080"},    {0xFFFFFFFF, "keep", "0xFFFFFFFF"},
               {0x10000, "-", "0x00010000"}, {0x4000, "E", "0x00004000"}};
  for (const auto& c : cases) {
    EXPECT_EQ(datapack::AttributeLetters(c.bits), c.letters);
    EXPECT_EQ(datapack::AttributeHex(c.bits), c.hex);
  }
}
