// Writes the fuzz targets' seed corpora: make_seeds <folder> creates <folder>/entry,
// <folder>/list, <folder>/package and <folder>/reblock.
//
// A fuzzer that starts from valid inputs spends its time past the first checks. The seeds are
// small and varied rather than many: streams with every block type in several orders (so
// block headers land at every bit position and across byte boundaries), streams from zlib at
// each level and strategy and from another compressor (the unit test fixtures), lists with
// each line ending and the awkward lines the format allows, and whole packages built by
// datapack's own packer. Broken variants (cut short, wrong check value, too small a declared
// size, trailing bytes) start the fuzzer on the failure paths too.
#include <stdio.h>
#include <sys/stat.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "testpack.h"
#include "test_util.h"

namespace {

std::string g_root;

void Write(const std::string& target, const std::string& name, const Bytes& data) {
  std::string path = g_root + "/" + target + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f || (!data.empty() && fwrite(data.data(), 1, data.size(), f) != data.size()) ||
      fclose(f) != 0) {
    fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    exit(1);
  }
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A payload: the 28-byte file header and `n` bytes of text that compresses somewhat.
Bytes Payload(size_t n, uint32_t attributes = 0x20) {
  datapack::PackedFile f;
  f.attributes = attributes;
  f.created = 0x01D9000000000000ull;
  f.accessed = f.created + 1;
  f.written = f.created + 2;
  static const char kWords[] = "setup package entry stream block list file bar ";
  for (size_t i = 0; i < n; i++)
    f.data.push_back((unsigned char)kWords[(i * 7 + i / 13) % (sizeof kWords - 1)]);
  return datapack::MakePayload(f);
}

Bytes Slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + from, b.begin() + from + n);
}

Bytes Compress(const Bytes& payload, int level, int window_bits, int strategy) {
  z_stream s{};
  Bytes out(compressBound((uLong)payload.size()) + 64);
  if (deflateInit2(&s, level, Z_DEFLATED, window_bits, 8, strategy) != Z_OK) exit(1);
  s.next_in = (Bytef*)payload.data();
  s.avail_in = (uInt)payload.size();
  s.next_out = out.data();
  s.avail_out = (uInt)out.size();
  if (deflate(&s, Z_FINISH) != Z_STREAM_END) exit(1);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

void Entry(const std::string& name, const Bytes& stream, uint32_t declared) {
  Write("entry", name, EntryRecord(declared, stream, (uint32_t)stream.size()));
}

void EntrySeeds() {
  // Laid out block by block: every order of stored, fixed and dynamic blocks around a final
  // one of each type, with block lengths that move the next header to other bit positions.
  const Bytes p = Payload(60);
  const char* kTypes = "sfd";
  int n = 0;
  for (int first = 0; first < 3; first++)
    for (int second = -1; second < 3; second++)
      for (int last = 0; last < 3; last++) {
        BitWriter w;
        size_t cut1 = 11 + (size_t)n % 7, cut2 = 37 + (size_t)n % 5;
        std::string name = "blocks_";
        const int types[3] = {first, second, last};
        size_t from = 0;
        const size_t cuts[3] = {cut1, cut2, p.size()};
        for (int k = 0; k < 3; k++) {
          if (types[k] < 0) continue;
          Bytes part = Slice(p, from, cuts[k] - from);
          from = cuts[k];
          bool final = k == 2;
          if (types[k] == 0) w.Stored(part, final);
          if (types[k] == 1) w.Fixed(part, final);
          if (types[k] == 2) w.Dynamic(part, final);
          name += kTypes[types[k]];
        }
        Entry(name, ZlibWrap(w.Take(), p), (uint32_t)p.size());
        n++;
      }
  // A block header may start at any bit of a byte, and from 6 on it runs into the next byte.
  // After a fixed or dynamic block of k literals whose codes are 9 bits long (the others 8),
  // the next header starts k bits further on: k = 0..7 puts it at every position, followed
  // by each block type.
  for (int prev = 1; prev <= 2; prev++)
    for (int k = 0; k < 8; k++)
      for (int next = 0; next < 3; next++) {
        Bytes body(20, 'a');
        for (int i = 0; i < k; i++) body[(size_t)i] = prev == 1 ? 0xC8 : 0xFF;  // 9-bit codes
        Bytes payload = Payload(0);
        const size_t first_len = payload.size() + body.size();
        payload.insert(payload.end(), body.begin(), body.end());
        const Bytes tail = {'n', 'e', 'x', 't'}, last = {'e', 'n', 'd'};
        payload.insert(payload.end(), tail.begin(), tail.end());
        payload.insert(payload.end(), last.begin(), last.end());
        BitWriter w;
        if (prev == 1)
          w.Fixed(Slice(payload, 0, first_len), false);
        else
          w.Dynamic(Slice(payload, 0, first_len), false);
        if (next == 0) w.Stored(tail, false);
        if (next == 1) w.Fixed(tail, false);
        if (next == 2) w.Dynamic(tail, false);
        w.Fixed(last, true);
        Entry(std::string("header_at_") + kTypes[prev] + std::to_string(k) + kTypes[next],
              ZlibWrap(w.Take(), payload), (uint32_t)payload.size());
      }
  {
    // Empty blocks: they end at the same count as the block before them.
    BitWriter w;
    w.Fixed(Slice(p, 0, 30), false);
    w.Fixed({}, false);
    w.Stored({}, false);
    w.Dynamic({}, false);
    w.Stored(Slice(p, 30, 30), false);
    w.Fixed(Slice(p, 60, p.size() - 60), true);
    Entry("blocks_empty_between", ZlibWrap(w.Take(), p), (uint32_t)p.size());
  }

  // zlib at every level and strategy, and with windows below 32 KiB.
  const Bytes big = Payload(900);
  for (int level = 0; level <= 9; level += 3)
    Entry("zlib_level" + std::to_string(level), Compress(big, level, 15, Z_DEFAULT_STRATEGY),
          (uint32_t)big.size());
  const int kStrategies[] = {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (int st : kStrategies)
    Entry("zlib_strategy" + std::to_string(st), Compress(big, 6, 15, st), (uint32_t)big.size());
  Entry("zlib_window9", Compress(big, 9, 9, Z_DEFAULT_STRATEGY), (uint32_t)big.size());
  Entry("zlib_header_only", Compress(Payload(0), 9, 15, Z_DEFAULT_STRATEGY), FILE_HEADER_SIZE);

  // Another compressor's streams (the unit test fixtures), whole and broken.
  const Bytes fixture_payload = ReadFixture("payload.bin");
  const char* kFixtures[] = {"stored_level0.zz", "fixed_chunks.zz", "dynamic_chunks.zz",
                             "dictionary.zz", "empty.zz"};
  for (const char* f : kFixtures) {
    Bytes z = ReadFixture(f);
    if (z.empty() || fixture_payload.empty()) {
      fprintf(stderr, "make_seeds: fixture %s or payload.bin missing\n", f);
      exit(1);
    }
    Entry(std::string("fixture_") + f, z, (uint32_t)fixture_payload.size());
  }
  const Bytes z = ReadFixture("fixed_chunks.zz");
  const uint32_t size = (uint32_t)fixture_payload.size();
  Entry("broken_too_small", z, size - 1);
  Bytes bad = z;
  datapack::CorruptAdler32(bad);
  Entry("broken_adler", bad, size);
  Write("entry", "broken_cut_stream",
        EntryRecord(size, Slice(z, 0, z.size() / 2), (uint32_t)z.size()));
  Bytes tail = z;
  tail.insert(tail.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  Write("entry", "trailing_bytes", EntryRecord(size, tail, (uint32_t)tail.size()));
  Write("entry", "stored_size_short", EntryRecord(size, z, (uint32_t)z.size() - 3));
  Write("entry", "record_only", EntryRecord(0, {}, 0));
}

void ListSeeds() {
  const std::vector<std::string> names = {"readme.txt", "data.cab", "a"};
  const char* kEols[][2] = {{"crlf", "\r\n"}, {"lf", "\n"}, {"cr", "\r"}, {"lfcr", "\n\r"}};
  for (auto& eol : kEols) {
    Write("list", std::string("good_") + eol[0],
          Text(datapack::MakeListFile(1234, 5678, names, eol[1])));
  }
  Write("list", "one_name", Text(datapack::MakeListFile(100, 0, {"x.dll"})));

  // The first ten lines by hand, then whatever support lines a case needs.
  auto head = [](const std::string& size1, const std::string& size2, const std::string& count) {
    std::string s;
    for (int i = 1; i <= 7; i++) s += "Key" + std::to_string(i) + "=v\r\n";
    return s + "Size1=" + size1 + "\r\nSize2=" + size2 + "\r\nFiles=" + count + "\r\n";
  };
  Write("list", "numbers_odd", Text(head(" 42abc", "\t+7", "2") + "a=x,b c,1\r\nb=x,y=z,2\r\n"));
  Write("list", "numbers_wrap", Text(head("4294967295", "99999999999", "-1")));
  Write("list", "count_zero", Text(head("1", "2", "abc")));
  Write("list", "count_negative", Text(head("1", "2", "-5")));
  Write("list", "two_equals", Text(head("1=2", "3", "1") + "F=1,name=odd.txt,0\r\n"));
  Write("list", "no_comma", Text(head("1", "2", "1") + "F=novalue\r\n"));
  Write("list", "unterminated", Text(head("1", "2", "1") + "F=1,last.txt,0"));
  Write("list", "empty_line", Text("K=1\r\n\r\n" + head("1", "2", "1")));
  Write("list", "mixed_endings", Text("A=1\rB=2\nC=3\r\nD=4\n\rE=5\r\rF=6\n\nG=7\r\n"));
  Write("list", "line_519", Text(head("1", "2", "1") + "F=1," + std::string(512, 'n') + "\n"));
  Write("list", "line_520", Text(head("1", "2", "1") + "F=1," + std::string(513, 'n') + "\n"));
  Write("list", "fields_27_28",
        Text(head("1", "2", "2") + "F=" + std::string(27, 'f') + "," + std::string(25, 'n') +
             " tail,9\r\nF=" + std::string(28, 'f') + ",x,0\r\n"));
  Write("list", "name_26", Text(head("1", "2", "1") + "F=1," + std::string(26, 'n') + ",0\r\n"));
  Write("list", "name_paths",
        Text(head("1", "2", "4") + "F=1,..,0\nF=1,a\\b,0\nF=1,c:d,0\nF=1,e/f,0\n"));
}

// A package with `support` support files, packed with `options`, its list ending lines with
// `eol`. The list's sizes add up to the payloads unless `expected_delta` says otherwise.
Bytes Package(int kind, int support, const datapack::CompressionOptions& options,
              const char* eol = "\r\n", int64_t expected_delta = 0) {
  datapack::PackageSpec plan;
  plan.kind = kind;
  plan.compression = options;
  plan.setup_program.data = Slice(Payload(200), FILE_HEADER_SIZE, 200);
  plan.uninstaller.data = Slice(Payload(80), FILE_HEADER_SIZE, 80);
  plan.uninstaller.attributes = KEEP_ATTRIBUTES;
  std::vector<std::string> names;
  for (int i = 0; i < support; i++) {
    datapack::PackedFile f;
    f.name = "file" + std::to_string(i) + ".dat";
    f.data = Slice(Payload(40 * (size_t)i), FILE_HEADER_SIZE, 40 * (size_t)i);
    names.push_back(f.name);
    plan.support.push_back(f);
  }
  uint64_t total = datapack::PayloadTotal(plan) + expected_delta;
  std::string list =
      datapack::MakeListFile((uint32_t)(total / 3), (uint32_t)(total - total / 3), names, eol);
  plan.list.data = Text(list);
  Bytes out;
  std::string error;
  if (!datapack::BuildPackage(plan, out, error)) {
    fprintf(stderr, "make_seeds: %s\n", error.c_str());
    exit(1);
  }
  return out;
}

void PackageSeeds() {
  datapack::CompressionOptions best, stored, fixed, huffman;
  stored.level = 0;
  fixed.strategy = Z_FIXED;
  huffman.strategy = Z_HUFFMAN_ONLY;
  Write("package", "setup_3_files", Package(KIND_SETUP, 3, best));
  Write("package", "instal_stored_lf", Package(KIND_INSTAL, 2, stored, "\n"));
  Write("package", "instalar_fixed_cr", Package(KIND_INSTALAR, 1, fixed, "\r"));
  Write("package", "setup_huffman_lfcr", Package(KIND_SETUP, 2, huffman, "\n\r"));
  Write("package", "sizes_short", Package(KIND_SETUP, 1, best, "\r\n", -100));
  Write("package", "sizes_long", Package(KIND_SETUP, 1, best, "\r\n", 5000));

  Bytes p = Package(KIND_SETUP, 2, best);
  Bytes cut = Slice(p, 0, p.size() - 7);
  Write("package", "cut_short", cut);
  p.insert(p.end(), {1, 2, 3});
  Write("package", "trailing_bytes", p);
  p = Package(KIND_SETUP, 1, best);
  p[3] = 9;
  Write("package", "bad_kind", p);
  // Found by fuzzing: a timeout, 1.7 GB inflated from the zeros standing for the second
  // entry's missing stored bytes. It must be answered at once; the entry alone as well.
  const Bytes bomb = ReadFixture("list_bad_then_zero_tail_bomb.001");
  Write("package", "zero_tail_bomb", bomb);
  Write("entry", "zero_tail_bomb", Slice(bomb, 95, bomb.size() - 95));

  // A list naming no support files (negative count), and one whose name is empty.
  for (int variant = 0; variant < 2; variant++) {
    Bytes pkg;
    datapack::AppendPackageHeader(pkg, KIND_SETUP);
    std::string list;
    for (int i = 1; i <= 7; i++) list += "K=1\r\n";
    list += variant == 0 ? "S=308\r\nS=0\r\nN=-1\r\n" : "S=308\r\nS=0\r\nN=1\r\nF=nocomma\r\n";
    datapack::PackedFile lf;
    lf.data = Text(list);
    std::vector<Bytes> payloads = {datapack::MakePayload(lf), Payload(200), Payload(0)};
    if (variant == 1) payloads.push_back(Payload(5));
    for (const Bytes& pl : payloads) {
      Bytes z = Compress(pl, 9, 15, Z_DEFAULT_STRATEGY);
      datapack::AppendRecord(pkg, (uint32_t)pl.size(), (uint32_t)z.size(), z);
    }
    Write("package", variant == 0 ? "count_negative" : "empty_name", pkg);
  }
}

// fuzz_reblock: zlib settings, a length to tile to, a payload; one payload that is itself a
// zlib stream (from the unit test fixtures, another compressor's among them).
void ReblockSeeds() {
  const std::string text =
      "Key1=\r\nKey2=\r\nSize1=12345\r\nFiles=2\r\nFile1=1,readme.txt,0\r\n"
      "The quick brown fox jumps over the lazy dog. The quick brown fox jumps again.\r\n";
  struct {
    const char* name;
    unsigned char level, mem, strategy, tile;  // tile: byte 3, see reblock_fuzz.cpp
  } settings[] = {{"level9_mem8", 9, 8, 0, 0},
                  {"level9_mem1_tiled", 9, 1, 0, 0xF0 + 15},  // 124 KiB
                  {"fixed_tiled", 6, 9, Z_FIXED, 0xF0 + 2},   // 72 KiB
                  {"huffman_only", 9, 9, Z_HUFFMAN_ONLY, 3},  // 3 KiB
                  {"rle", 9, 9, Z_RLE, 1},
                  {"level0_tiled", 0, 9, 0, 0xF0 + 0}};  // 64 KiB
  for (const auto& s : settings) {
    Bytes b = {s.level, s.mem, s.strategy, s.tile};
    b.insert(b.end(), text.begin(), text.end());
    Write("reblock", s.name, b);
  }
  Write("reblock", "empty_payload", Bytes{9, 8, 0, 0});
  for (const char* fixture : {"dynamic_chunks.zz", "fixed_chunks.zz", "stored_level0.zz"}) {
    Bytes b = {9, 9, 0, 0};
    Bytes z = ReadFixture(fixture);
    b.insert(b.end(), z.begin(), z.end());
    Write("reblock", std::string("stream_") + fixture, b);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  g_root = argv[1];
  mkdir(g_root.c_str(), 0777);
  for (const char* t : {"entry", "list", "package", "reblock"})
    mkdir((g_root + "/" + t).c_str(), 0777);
  EntrySeeds();
  ListSeeds();
  PackageSeeds();
  ReblockSeeds();
  return 0;
}
