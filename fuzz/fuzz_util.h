// Shared pieces of the fuzz targets: invariant checks that stop the fuzzer with a readable
// message, exactly-sized heap copies (so that AddressSanitizer sees a read one byte past the
// data), a recording progress sink and the sanitizer settings every target runs with.
#ifndef FUZZ_FUZZ_UTIL_H
#define FUZZ_FUZZ_UTIL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <utility>
#include <vector>

#include "bytereader.h"
#include "package.h"

// A broken invariant is a finding like a crash: libFuzzer catches the abort and saves the
// input. The message says which rule broke; the stack trace says where.
#define FUZZ_CHECK(cond, ...)                                                            \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      fprintf(stderr, "\ninvariant broken at %s:%d: %s\n  ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                                      \
      fprintf(stderr, "\n");                                                             \
      abort();                                                                           \
    }                                                                                    \
  } while (0)

// A heap block of exactly `size` bytes holding a copy of `data`: libFuzzer's own buffer may
// sit inside a larger allocation, where an over-read would go unnoticed.
class ExactCopy {
 public:
  ExactCopy(const void* data, size_t size) : bytes_(new unsigned char[size]), size_(size) {
    if (size) memcpy(bytes_.get(), data, size);
  }
  // An output buffer of `size` bytes, each set to `fill` (a value the code under test would
  // not leave there by chance).
  ExactCopy(size_t size, unsigned char fill) : bytes_(new unsigned char[size]), size_(size) {
    memset(bytes_.get(), fill, size);
  }
  const unsigned char* data() const { return bytes_.get(); }
  unsigned char* data() { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  size_t size_;
};

// A MemoryReader over an exact copy of the bytes.
struct ExactReader {
  ExactReader(const void* data, size_t size) : copy(data, size) {
    InitMemoryReader(&memory, &reader, copy.data(), copy.size());
  }
  ExactReader(const ExactReader&) = delete;
  ExactReader& operator=(const ExactReader&) = delete;
  ExactCopy copy;
  MemoryReader memory;
  ByteReader reader;
};

struct Report {
  uint32_t bytes;
  int end;
  bool operator==(const Report& o) const { return bytes == o.bytes && end == o.end; }
};

// Records every progress report of one entry.
struct ReportLog {
  std::vector<Report> reports;
  ProgressSink sink{&ReportLog::Add, this};
  static void Add(void* ctx, uint32_t bytes_out, int end) {
    static_cast<ReportLog*>(ctx)->reports.push_back({bytes_out, end});
  }
};

// Prints a report list after a broken comparison, so the finding can be read off the log.
inline void PrintReports(const char* label, const std::vector<Report>& reports) {
  fprintf(stderr, "%s:", label);
  for (const Report& r : reports) fprintf(stderr, " (%u,%d)", r.bytes, r.end);
  fprintf(stderr, "\n");
}

// Largest calloc the code under test gets (alloc_limit.cpp): an entry's declared and stored
// sizes come straight from the input and may be anything up to 4 GiB.
enum { FUZZ_ALLOC_LIMIT = 1 << 20 };

#define FUZZ_DEFINE_SANITIZER_DEFAULTS \
  extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

#endif
