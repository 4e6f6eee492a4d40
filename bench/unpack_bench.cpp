// unpack_bench: what unpacking a package costs apart from the bootstrapper's mandated waits.
//
//   unpack_bench decode PACKAGE [ROUNDS]
//     Decodes every entry's stream three ways, in alternation, ROUNDS times (default 7), and
//     prints for each way the sum over the entries of its fastest time, in CPU time of this
//     thread and in wall time:
//       stepped   InflateEntryBuffer as setup.exe runs it: Z_BLOCK steps, block-type peeks,
//                 and a progress sink that counts the bar's percentage (AddInflateReport);
//       oneshot   zlib's uncompress() of the same stream into the same buffer;
//       streamed  InflateEntryReader, the streaming decoder of datapack verify/extract,
//                 with its 256 KiB pieces.
//   unpack_bench write PACKAGE DIR [ROUNDS]
//     Unpacks as setup.exe does, without its waits: each entry read whole, inflated, its file
//     data written to a new file in DIR and closed; then the files are removed. Prints the
//     fastest round in wall time. This plus 10 ms per report is the floor of a real run.
//
// Output is key=value lines, for bench/run.
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "entry_stream.h"
#include "package.h"
#include "progress.h"

namespace {

struct Stream {
  std::vector<unsigned char> bytes;
  uint32_t declared;
};

double Now(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

bool ReadWhole(const char* path, std::vector<unsigned char>& data) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  unsigned char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

// Every record of the package, back to back after its 4-byte header.
bool Streams(const std::vector<unsigned char>& pkg, std::vector<Stream>& out) {
  size_t at = PACKAGE_HEADER_SIZE;
  while (at + ENTRY_RECORD_SIZE <= pkg.size()) {
    Stream s;
    s.declared = GetLE32(&pkg[at]);
    uint32_t stored = GetLE32(&pkg[at + 4]);
    at += ENTRY_RECORD_SIZE;
    if (stored > pkg.size() - at) return false;
    s.bytes.assign(pkg.begin() + at, pkg.begin() + at + stored);
    at += stored;
    out.push_back(std::move(s));
  }
  return at == pkg.size() && !out.empty();
}

void CountReport(void* ctx, uint32_t bytes_out, int end) {
  AddInflateReport((ProgressCount*)ctx, bytes_out, end);
}

int Discard(void*, const unsigned char*, uint32_t) { return 1; }

struct Best {
  double cpu = 1e30, wall = 1e30;
  void Take(double c, double w) {
    if (c < cpu) cpu = c;
    if (w < wall) wall = w;
  }
};

int Decode(const char* path, int rounds) {
  std::vector<unsigned char> pkg;
  std::vector<Stream> streams;
  if (!ReadWhole(path, pkg) || !Streams(pkg, streams)) {
    fprintf(stderr, "unpack_bench: %s: not a package\n", path);
    return 1;
  }
  pkg = std::vector<unsigned char>();
  uint32_t largest = 0;
  uint64_t payload = 0, reports = 0;
  for (const Stream& s : streams) {
    if (s.declared > largest) largest = s.declared;
    payload += s.declared;
  }
  std::vector<unsigned char> out(largest ? largest : 1), in_piece(256 << 10), out_piece(256 << 10);
  const StreamBuffers buf = {in_piece.data(), (uint32_t)in_piece.size(), out_piece.data(),
                             (uint32_t)out_piece.size()};
  // The three ways one entry after the other, in an order that turns with the round, and
  // the fastest time per entry and way over the rounds: neighbours in time share the
  // machine's load, which on a shared machine varies more than the ways differ.
  enum { kStepped, kOneshot, kStreamed, kWays };
  std::vector<Best> best(streams.size() * kWays);
  for (int r = 0; r < rounds; ++r) {
    uint64_t counted = 0;
    for (size_t e = 0; e < streams.size(); ++e) {
      const Stream& s = streams[e];
      for (int k = 0; k < kWays; ++k) {
        const int way = (k + r + (int)e) % kWays;
        const double c0 = Now(CLOCK_THREAD_CPUTIME_ID), w0 = Now(CLOCK_MONOTONIC);
        int status;
        if (way == kStepped) {
          ProgressCount count;
          StartCount(&count, s.declared);
          ProgressSink sink = {CountReport, &count};
          EntryInfo info;
          uint32_t produced;
          status = InflateEntryBuffer(s.bytes.data(), (uint32_t)s.bytes.size(), out.data(),
                                      s.declared, &produced, &sink, &info);
          counted += info.reports;
        } else if (way == kOneshot) {
          uLongf len = s.declared;
          status = uncompress(out.data(), &len, s.bytes.data(), (uLong)s.bytes.size()) == Z_OK
                       ? ENTRY_OK
                       : ENTRY_BAD_STREAM;
        } else {
          MemoryReader m;
          ByteReader reader;
          InitMemoryReader(&m, &reader, s.bytes.data(), s.bytes.size());
          PayloadSink discard = {Discard, nullptr};
          EntryInfo info;
          status = InflateEntryReader(&reader, (uint32_t)s.bytes.size(), s.declared, &buf, &discard,
                                      nullptr, &info);
        }
        best[e * kWays + way].Take(Now(CLOCK_THREAD_CPUTIME_ID) - c0, Now(CLOCK_MONOTONIC) - w0);
        if (status != ENTRY_OK)
          return fprintf(stderr, "unpack_bench: entry %zu does not decode\n", e + 1), 1;
      }
    }
    reports = counted;
  }
  Best stepped{0, 0}, oneshot{0, 0}, streamed{0, 0};
  Best* sums[kWays] = {&stepped, &oneshot, &streamed};
  for (size_t e = 0; e < streams.size(); ++e)
    for (int way = 0; way < kWays; ++way) {
      sums[way]->cpu += best[e * kWays + way].cpu;
      sums[way]->wall += best[e * kWays + way].wall;
    }
  printf("entries=%zu\npayload=%llu\nreports=%llu\n", streams.size(), (unsigned long long)payload,
         (unsigned long long)reports);
  printf("stepped_cpu=%.6f\nstepped_wall=%.6f\n", stepped.cpu, stepped.wall);
  printf("oneshot_cpu=%.6f\noneshot_wall=%.6f\n", oneshot.cpu, oneshot.wall);
  printf("streamed_cpu=%.6f\nstreamed_wall=%.6f\n", streamed.cpu, streamed.wall);
  return 0;
}

int Write(const char* path, const std::string& dir, int rounds) {
  Best best;
  for (int r = 0; r < rounds; ++r) {
    FILE* f = fopen(path, "rb");
    if (!f) return fprintf(stderr, "unpack_bench: cannot open %s\n", path), 1;
    setvbuf(f, nullptr, _IOFBF, 1 << 16);
    ByteReader reader = {f,
                         [](void* ctx, void* b, uint32_t want, uint32_t* got) {
                           *got = (uint32_t)fread(b, 1, want, (FILE*)ctx);
                           return ferror((FILE*)ctx) ? 0 : 1;
                         },
                         nullptr};
    std::vector<std::string> names;
    double w0 = Now(CLOCK_MONOTONIC), c0 = Now(CLOCK_PROCESS_CPUTIME_ID);
    int kind;
    if (!ReadPackageHeader(&reader, &kind)) return fprintf(stderr, "unpack_bench: bad header\n"), 1;
    for (;;) {
      Entry e;
      int status = ReadEntry(&reader, nullptr, &e);
      if (status == ENTRY_TRUNCATED_RECORD) break;  // the end of the package
      if (status != ENTRY_OK) return fprintf(stderr, "unpack_bench: a bad entry\n"), 1;
      names.push_back(dir + "/entry" + std::to_string(names.size()));
      FILE* o = fopen(names.back().c_str(), "wb");
      if (!o) return fprintf(stderr, "unpack_bench: cannot write in %s\n", dir.c_str()), 1;
      fwrite(e.payload + FILE_HEADER_SIZE, 1, e.length - FILE_HEADER_SIZE, o);
      fclose(o);
      FreeEntry(&e);
    }
    best.Take(Now(CLOCK_PROCESS_CPUTIME_ID) - c0, Now(CLOCK_MONOTONIC) - w0);
    fclose(f);
    for (const std::string& n : names) unlink(n.c_str());
  }
  printf("write_cpu=%.6f\nwrite_wall=%.6f\n", best.cpu, best.wall);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "decode") == 0)
    return Decode(argv[2], argc > 3 ? atoi(argv[3]) : 7);
  if (argc >= 4 && strcmp(argv[1], "write") == 0)
    return Write(argv[2], argv[3], argc > 4 ? atoi(argv[4]) : 3);
  fprintf(stderr,
          "usage: unpack_bench decode PACKAGE [ROUNDS]\n"
          "       unpack_bench write PACKAGE DIR [ROUNDS]\n");
  return 2;
}
