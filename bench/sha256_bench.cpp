// sha256_bench: the package core's SHA-256 (the pin check of setup.exe) on a file held in
// memory, for bench/pin, which sets it against sha256sum on the same file.
//
//   sha256_bench FILE [ROUNDS]
//     Hashes FILE's bytes ROUNDS times (default 5) and prints the digest and the fastest
//     round in CPU seconds of this thread, as key=value lines (sha256=..., cpu=..., bytes=...).
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <vector>

#include "sha256.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: sha256_bench FILE [ROUNDS]\n");
    return 1;
  }
  const int rounds = argc > 2 ? atoi(argv[2]) : 5;
  FILE* f = fopen(argv[1], "rb");
  if (!f) {
    perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> data;
  unsigned char buf[1 << 16];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) data.insert(data.end(), buf, buf + n);
  fclose(f);
  unsigned char digest[SHA256_SIZE];
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    timespec t0, t1;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    Sha256Bytes(data.data(), data.size(), digest);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    const double s = (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
    if (s < best) best = s;
  }
  printf("sha256=");
  for (unsigned char c : digest) printf("%02x", c);
  printf("\ncpu=%.6f\nbytes=%zu\n", best, data.size());
  return 0;
}
