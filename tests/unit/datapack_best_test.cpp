// datapack create's encoders beyond plain zlib: the default rewrite of zlib's stream into few
// blocks, and --best (the streams it assembles, the block budget, the choice against zlib and
// stored blocks); packages that do not depend on the number of threads.
#include <gtest/gtest.h>
#include <zlib.h>

#include "datapack_fixture.h"
#include "deflate_best.h"
#include "encode.h"
#include "package_walk.h"
#include "reblock.h"
#include "test_util.h"

namespace {

using dptest::Bytes;
using dptest::RunTool;
using dptest::TempDir;

// Inflates a whole stream as the bootstrapper does.
struct Inflated {
  int status;
  Bytes out;
  Reports reports;
  EntryInfo info;
};

Inflated InflateAll(const Bytes& stream, uint32_t cap) {
  Inflated r;
  Recorder rec;
  r.out.assign(cap ? cap : 1, 0);
  uint32_t produced = 0;
  r.status = InflateEntryBuffer(stream.data(), (uint32_t)stream.size(), r.out.data(), cap,
                                &produced, &rec.sink, &r.info);
  r.out.resize(produced);
  r.reports = rec.reports;
  return r;
}

// Parts as the optimal encoder hands them over: each starts at bit 0, may end inside a
// byte, and may hold stored blocks aligned relative to its own start.
TEST(AssembleZlibStream, PartsJoinOnByteBoundaries) {
  BitWriter w;
  w.Fixed(B("abc"), false);  // 3 + 3 * 8 + 7 = 34 bits: ends inside a byte
  datapack::BitRun fixed{w.Take(), 34};
  w = {};
  w.Stored(B("xyz"), false);  // 3 + 5 padding + 32 + 24 = 64 bits
  datapack::BitRun stored{w.Take(), 64};
  w = {};
  w.Fixed(B("!"), true);  // 3 + 8 + 7 = 18 bits
  datapack::BitRun last{w.Take(), 18};

  const Bytes payload = B("abcxyz!");
  Bytes z = datapack::AssembleZlibStream({fixed, stored, last}, Adler32Of(payload));
  EXPECT_EQ(z[0] * 256 + z[1], 0x78DA);
  EXPECT_EQ((z[0] * 256 + z[1]) % 31, 0);
  Inflated r = InflateAll(z, (uint32_t)payload.size());
  ASSERT_EQ(r.status, ENTRY_OK);
  EXPECT_EQ(r.out, payload);
  EXPECT_EQ(r.info.stream_used, z.size());
  EXPECT_EQ(r.info.blocks[0], 2u) << "the stored part and one empty block to realign";
  EXPECT_EQ(r.info.blocks[1], 2u);
  EXPECT_EQ(r.reports, (Reports{{3, 0}, {7, 0}, {7, 1}})) << "the realigning block makes none";

  // Parts that end on a byte boundary need nothing between them.
  z = datapack::AssembleZlibStream({stored, stored, last}, Adler32Of(B("xyzxyz!")));
  r = InflateAll(z, 7);
  ASSERT_EQ(r.status, ENTRY_OK);
  EXPECT_EQ(r.out, B("xyzxyz!"));
  EXPECT_EQ(r.info.blocks[0], 2u);
  EXPECT_EQ(z.size(), 2u + 8 + 8 + 3 + 4);
}

// Data that compresses, in the manner of text and code: words and repeats.
Bytes Compressible(size_t size, unsigned seed) {
  Bytes b = dptest::Noise(size, seed);
  for (size_t i = 4096; i < size; i += 97) b[i] = b[i - 4000];
  return b;
}

class Best : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!datapack::BestAvailable(&why)) GTEST_SKIP() << why;
  }
};

datapack::CompressionOptions BestOptions(int max_blocks = 1) {
  datapack::CompressionOptions o;
  o.best = true;
  o.iterations = 1;  // the block structure does not depend on it; time does
  o.blocks_per_mib = max_blocks;
  return o;
}

datapack::EntryWork Encode(const Bytes& payload, const datapack::CompressionOptions& o,
                           bool counted = true) {
  datapack::EntryWork w(payload, o, counted);
  while (!w.done()) {
    for (size_t i = 0; i < w.Tasks(); ++i) w.RunTask(i);
    w.Finish();
  }
  return w;
}

TEST_F(Best, BlocksPerMibAndNeverLargerThanZlib) {
  const Bytes payload = Compressible(2 * datapack::kBestPartSize + 300000, 5);
  datapack::EntryWork def = Encode(payload, datapack::CompressionOptions());
  for (int max_blocks : {1, 3}) {
    SCOPED_TRACE(max_blocks);
    datapack::EntryWork w = Encode(payload, BestOptions(max_blocks));
    ASSERT_TRUE(w.ok()) << w.error();
    EXPECT_LE(w.stream().size(), def.stream().size());
    Inflated r = InflateAll(w.stream(), (uint32_t)payload.size());
    ASSERT_EQ(r.status, ENTRY_OK);
    EXPECT_TRUE(r.out == payload);
    EXPECT_EQ(w.reports(), r.info.reports);
    const uint32_t huffman = r.info.blocks[1] + r.info.blocks[2];
    if (w.kind() == datapack::StreamKind::kOptimal) {
      EXPECT_GE(huffman, 3u) << "one part per MiB, each at least one block";
      // Parts of 1 MiB, 1 MiB and 0.29 MiB: max_blocks each for the first two, the third
      // its share rounded up; doubled by a round that had to beat zlib.
      EXPECT_EQ(w.block_budget(), (max_blocks == 1 ? 3u : 7u) * (w.more_blocks() ? 2 : 1));
      EXPECT_LE(huffman, w.block_budget());
    }
    EXPECT_LT(r.info.reports, def.reports()) << "fewer waits than zlib's many blocks";
  }
}

TEST_F(Best, TinyEntriesThatBarelyShrinkAreStored) {
  // 40 random bytes: compression saves nothing worth a report.
  Bytes noise(68);
  uint32_t x = 99;
  for (auto& c : noise) c = (unsigned char)((x = x * 1103515245u + 12345u) >> 24);
  datapack::EntryWork w = Encode(noise, BestOptions());
  ASSERT_TRUE(w.ok());
  EXPECT_EQ(w.kind(), datapack::StreamKind::kStored);
  EXPECT_EQ(w.reports(), 1u);
  EXPECT_EQ(InflateAll(w.stream(), 68).out, noise);

  // Text that halves: worth its report.
  const Bytes text = Compressible(3000, 2);
  w = Encode(text, BestOptions());
  EXPECT_NE(w.kind(), datapack::StreamKind::kStored);
  EXPECT_EQ(w.reports(), 2u);

  // The list's reports cost nothing (the bar is not counting yet): there only size counts.
  w = Encode(noise, BestOptions(), false);
  EXPECT_LE(w.stream().size(), Encode(noise, datapack::CompressionOptions()).stream().size());
}

// The same package whatever the number of threads, and within the budget of about one
// report per MiB plus two per entry: by default and with --best.
TEST(CreateModes, SameBytesOnAnyNumberOfThreadsWithinTheBudget) {
  TempDir dir;
  std::vector<std::string> names;
  for (int i = 0; i < 6; ++i) {
    names.push_back("f" + std::to_string(i) + ".bin");
    const size_t size = i == 0 ? datapack::kBestPartSize + 200000 : 500 + 9000 * (size_t)i;
    dptest::WriteFile(dir / names.back(), Compressible(size, 10 + (unsigned)i));
  }
  dptest::WriteFile(dir / "setup.exe", Compressible(20000, 1));
  dptest::WriteFile(dir / "uninst.exe", Compressible(30, 3));
  dptest::WriteFile(dir / "Setup.lst", datapack::MakeListFile(0, 0, names));
  for (bool best : {false, true}) {
    if (best && !datapack::BestAvailable()) continue;
    SCOPED_TRACE(best ? "--best" : "default");
    std::vector<Bytes> packages;
    for (const char* jobs : {"1", "4"}) {
      const std::string out = (dir / (std::string("p") + jobs)).string();
      std::vector<std::string> args =
          dptest::CreateArgs(dir.path(), out, {"-f", "--fix-sizes", "--epoch", "0", "-j", jobs});
      if (best) args.insert(args.end(), {"--best", "--iterations", "1"});
      dptest::Result r = RunTool(args);
      ASSERT_EQ(r.code, 0) << r.err;
      EXPECT_NE(r.out.find("streams:"), std::string::npos) << r.out;
      packages.push_back(dptest::ReadFile(out));
    }
    EXPECT_TRUE(packages[0] == packages[1]) << "-j1 and -j4 differ";

    MemoryReader m;
    ByteReader reader;
    InitMemoryReader(&m, &reader, packages[0].data(), packages[0].size());
    datapack::PackageReport rep;
    ASSERT_TRUE(datapack::InspectPackage(reader, packages[0].size(), {}, rep)) << rep.reason;
    for (size_t i = 1; i < rep.entries.size(); ++i) {
      const double mib = (double)rep.entries[i].info.declared / (1 << 20);
      EXPECT_LE(rep.entries[i].info.reports, mib + 2) << "entry " << i;
    }
    EXPECT_EQ(rep.entries[2].info.reports, 1u) << "the 30-byte uninstaller is stored";
  }
}

Bytes Random(size_t size) {
  Bytes b(size);
  uint32_t x = 99;
  for (auto& c : b) c = (unsigned char)((x = x * 1103515245u + 12345u) >> 24);
  return b;
}

// Any zlib stream rewritten: the same bytes, the header and trailer as zlib wrote them, at
// most one Huffman-coded block per MiB (rounded up), no more than zlib made.
TEST(FewBlocks, RewritesZlibStreamsWithinTheBudget) {
  Bytes same(70000, 'x');  // one distance code only
  Bytes letters(3000);     // literals only (Huffman-only strategy): no distance code at all
  for (size_t i = 0; i < letters.size(); ++i) letters[i] = (unsigned char)('a' + (i * 7919) % 26);
  struct {
    const char* what;
    Bytes payload;
    int level, mem, strategy;
    uint32_t max_huffman;  // Huffman-coded blocks at most
  } cases[] = {
      {"2.3 MiB, zlib's smallest blocks", Compressible(2 * 1048576 + 300000, 7), 9, 1, 0, 3},
      {"exactly 1 MiB", Compressible(1048576, 8), 9, 9, 0, 1},
      {"random: zlib stores it", Random(200000), 9, 9, 0, 0},
      {"level 0: stored blocks become Huffman-coded", Compressible(100000, 9), 0, 9, 0, 1},
      {"fixed blocks", Compressible(5000, 2), 9, 9, Z_FIXED, 1},
      {"one distance code", same, 9, 9, 0, 1},
      {"no matches", letters, 9, 9, Z_HUFFMAN_ONLY, 1},
      {"one byte", Bytes(1, 'a'), 9, 9, 0, 1},
      {"one byte stored at memory level 9 (zlib's bound is short)", Bytes(1, 'a'), 0, 9, 0, 1},
      {"empty", Bytes(), 9, 9, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes z, out;
    std::string error;
    ASSERT_TRUE(datapack::CompressPayload(c.payload.data(), c.payload.size(),
                                          {c.level, c.mem, c.strategy}, z, error));
    uint32_t zlib_blocks = 0, blocks = 0;
    ASSERT_TRUE(datapack::ReblockZlibStream(c.payload.data(), c.payload.size(), z.data(), z.size(),
                                            out, &zlib_blocks, &blocks, error))
        << error;
    Inflated r = InflateAll(out, (uint32_t)c.payload.size());
    ASSERT_EQ(r.status, ENTRY_OK) << r.info.reason;
    EXPECT_TRUE(r.out == c.payload);
    EXPECT_EQ(r.info.stream_used, out.size());
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + 2) == Bytes(z.begin(), z.begin() + 2));
    EXPECT_TRUE(Bytes(out.end() - 4, out.end()) == Bytes(z.end() - 4, z.end()));
    const uint32_t huffman = r.info.blocks[1] + r.info.blocks[2];
    EXPECT_LE(huffman, c.max_huffman);
    EXPECT_LE(huffman, std::max(zlib_blocks, 1u));
    EXPECT_EQ(r.info.reports, huffman + 1);
    EXPECT_EQ(blocks, huffman);
  }
  // The budget: one block per MiB begun, exactly 1 MiB still one.
  const struct {
    uint64_t size;
    uint32_t budget;
  } budgets[] = {{0, 1},       {1, 1},       {1048575, 1}, {1048576, 1},
                 {1048577, 2}, {2097152, 2}, {2097153, 3}, {5ull << 30, 5120}};
  for (const auto& b : budgets) EXPECT_EQ(datapack::ReblockBudget(b.size), b.budget) << b.size;
  // A stream that is not one of the payload's is refused, not rewritten.
  Bytes z, out;
  std::string error;
  ASSERT_TRUE(datapack::CompressPayload(same.data(), same.size(), {}, z, error));
  EXPECT_FALSE(datapack::ReblockZlibStream(same.data(), same.size() - 1, z.data(), z.size(), out,
                                           nullptr, nullptr, error));
  z[2] ^= 0x06;  // the first block's type becomes 3 (invalid)
  EXPECT_FALSE(datapack::ReblockZlibStream(same.data(), same.size(), z.data(), z.size(), out,
                                           nullptr, nullptr, error));
}

// Package-merge: optimal lengths within the limit, complete codes (Kraft sum exactly 1).
TEST(FewBlocks, LimitedCodeLengths) {
  uint32_t fib[30];
  fib[0] = fib[1] = 1;
  for (int i = 2; i < 30; ++i) fib[i] = fib[i - 1] + fib[i - 2];  // needs 29 bits unlimited
  struct {
    std::vector<uint32_t> counts;
    int limit;
    std::vector<int> lengths;  // known answer, or empty: check the limit and Kraft sum
  } cases[] = {
      {{5, 0, 1, 1, 2}, 15, {1, 0, 3, 3, 2}},
      {{1, 1, 2, 4}, 2, {2, 2, 2, 2}},
      {{0, 7, 0}, 15, {0, 1, 0}},
      {std::vector<uint32_t>(fib, fib + 30), 15, {}},
      {std::vector<uint32_t>(fib, fib + 19), 7, {}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> got(c.counts.size());
    datapack::LimitedCodeLengths(c.counts.data(), (int)c.counts.size(), c.limit, got.data());
    if (!c.lengths.empty()) {
      EXPECT_EQ(std::vector<int>(got.begin(), got.end()), c.lengths);
      continue;
    }
    uint64_t kraft = 0;
    for (uint8_t l : got) {
      EXPECT_LE(l, c.limit);
      EXPECT_GE(l, 1);
      kraft += uint64_t(1) << (c.limit - l);
    }
    EXPECT_EQ(kraft, uint64_t(1) << c.limit) << "limit " << c.limit;
  }
}

// The default entry encoder: few blocks, or zlib's own stream where it is as few and smaller,
// or stored where that spares a report for a few bytes.
TEST(FewBlocks, EntryChoosesAmongZlibFewBlocksAndStored) {
  datapack::CompressionOptions o;
  o.few_blocks = true;
  struct {
    Bytes payload;
    bool counted;
    datapack::StreamKind kind;
    uint32_t max_reports;
  } cases[] = {
      {Compressible(1500000, 3), true, datapack::StreamKind::kFewBlocks, 3},
      {Random(68), true, datapack::StreamKind::kFewBlocks, 1},  // of stored blocks
      {Compressible(3000, 2), true, datapack::StreamKind::kFewBlocks, 2},
  };
  for (const auto& c : cases) {
    datapack::EntryWork w = Encode(c.payload, o, c.counted);
    ASSERT_TRUE(w.ok()) << w.error();
    EXPECT_EQ(w.kind(), c.kind) << c.payload.size();
    EXPECT_LE(w.reports(), c.max_reports) << c.payload.size();
    EXPECT_TRUE(InflateAll(w.stream(), (uint32_t)c.payload.size()).out == c.payload);
  }
}

// verify and extract inflate entries piece by piece: a file larger than the pieces comes out
// whole, and one whose stream turns out broken at its very end (after most of it was written)
// leaves nothing behind.
TEST(StreamingExtract, LargeEntriesWholeOrNothing) {
  datapack::PackageSpec plan = dptest::GoodSpec({"small.txt", "large.bin"});
  plan.support[1].data = Compressible(700 << 10, 8);
  plan.list.data = dptest::ToBytes(datapack::MakeListFile((uint32_t)datapack::PayloadTotal(plan), 0,
                                                          {"small.txt", "large.bin"}));
  const Bytes good = dptest::Build(plan);
  ASSERT_FALSE(good.empty());
  TempDir root;
  dptest::WriteFile(root / "good", good);
  dptest::Result r = RunTool({"verify", (root / "good").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("progress reports: at least"), std::string::npos) << r.out;
  r = RunTool({"extract", "-q", "-C", (root / "out").string(), (root / "good").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(dptest::ReadFile(root / "out" / "large.bin") == plan.support[1].data);

  Bytes broken = good;
  broken.back() ^= 0xFF;  // the large entry is the last: its Adler-32
  dptest::WriteFile(root / "broken", broken);
  r = RunTool({"extract", "-C", (root / "bad").string(), (root / "broken").string()});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("incorrect data check"), std::string::npos) << r.err;
  EXPECT_FALSE(dptest::fs::exists(root / "bad"));  // nothing written, the folder made for it gone
}

TEST(BestCommandLine, Refusals) {
  const std::vector<std::string> base = {"create", "-l", "a", "-s", "b", "-u", "c", "-k", "Setup"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(args);
  };
  dptest::Result r = with({"--max-blocks-per-mib", "2"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("need --best"), std::string::npos) << r.err;
  EXPECT_EQ(with({"--best", "--max-blocks-per-mib", "0"}).code, 1);
  EXPECT_EQ(with({"--best", "--iterations", "101"}).code, 1);
  EXPECT_EQ(with({"-j", "0"}).code, 1);
}

}  // namespace
