// fuzz_reblock: the default encoder of datapack create, which reads zlib's stream back into
// tokens and writes them again as few blocks (tools/datapack/encode/reblock.h).
//
// Input: zlib level (byte 0, mod 10), memory level (byte 1), strategy (byte 2), the length to
// tile the rest up to (byte 3), then the payload bytes. Byte 3 from 0xF0 on tiles to 64 KiB +
// (byte 3 - 0xF0) x 4 KiB, up to 124 KiB: past the first of the 64 KiB chunks the rewrite
// chooses block ends among, so that the layout weighs one block against two; such an input
// costs as much as a dozen small ones. Below 0xF0, to (byte 3 mod 16) KiB. So one input in
// sixteen of a random byte 3 is large, and the rest are quick.
//
// Checks:
//   1. the payload deflated by zlib with those settings is rewritten; stock zlib and the
//      package core inflate the rewrite to the payload; the zlib header and Adler-32 are
//      zlib's; the Huffman-coded blocks are at most the budget and as many as said;
//   2. the payload bytes themselves, where they happen to be a zlib stream that stock zlib
//      inflates (written by any encoder), are rewritten the same way;
//   3. the token reader on the raw bytes stops cleanly, whatever they are, and what it reads
//      adds up.
#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "deflate_tokens.h"
#include "fuzz_util.h"
#include "package.h"
#include "package_writer.h"
#include "reblock.h"

FUZZ_DEFINE_SANITIZER_DEFAULTS

namespace {

typedef std::vector<unsigned char> Bytes;

void CheckRewrite(const Bytes& payload, const Bytes& z) {
  Bytes out;
  std::string error;
  uint32_t zlib_blocks = 0, blocks = 0;
  FUZZ_CHECK(datapack::ReblockZlibStream(payload.data(), payload.size(), z.data(), z.size(), out,
                                         &zlib_blocks, &blocks, error),
             "the rewrite refused a zlib stream: %s", error.c_str());
  FUZZ_CHECK(out.size() >= 6 && memcmp(out.data(), z.data(), 2) == 0 &&
                 memcmp(out.data() + out.size() - 4, z.data() + z.size() - 4, 4) == 0,
             "zlib's header and trailer not kept");
  std::unique_ptr<unsigned char[]> back(new unsigned char[payload.size() + 1]);
  uLongf back_size = payload.size() + 1;
  uLong used = out.size();
  int rc = uncompress2(back.get(), &back_size, out.data(), &used);
  // An empty payload's data() may be null, which memcmp must not be given even for 0 bytes.
  FUZZ_CHECK(rc == Z_OK && back_size == payload.size() && used == out.size() &&
                 (payload.empty() || memcmp(back.get(), payload.data(), payload.size()) == 0),
             "zlib inflates the rewrite to something else (rc %d, %lu of %zu bytes)", rc,
             (unsigned long)back_size, payload.size());
  ExactCopy stream(out.data(), out.size());
  std::unique_ptr<unsigned char[]> again(new unsigned char[payload.size() + 1]);
  uint32_t produced = 0;
  EntryInfo info;
  int status = InflateEntryBuffer(stream.data(), (uint32_t)out.size(), again.get(),
                                  (uint32_t)payload.size() + 1, &produced, nullptr, &info);
  FUZZ_CHECK(status == ENTRY_OK && produced == payload.size(),
             "the package core refuses the rewrite (%d: %s)", status,
             info.reason ? info.reason : "");
  const uint32_t huffman = info.blocks[1] + info.blocks[2];
  FUZZ_CHECK(huffman <= datapack::ReblockBudget(payload.size()) && huffman == blocks,
             "%u Huffman-coded blocks (said %u) for %zu bytes", huffman, blocks, payload.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int level = data[0] % 10, mem = 1 + data[1] % 9, strategy = data[2] % 5;
  const size_t want =
      data[3] >= 0xF0 ? (64 + 4 * (size_t)(data[3] - 0xF0)) << 10 : (size_t)(data[3] & 15) << 10;
  Bytes payload(data + 4, data + size);
  payload.reserve(std::max(want, payload.size()) + size);
  // Tiled, each copy marked, so that small inputs reach several 64 KiB chunks.
  for (size_t copy = 1; payload.size() < want && size > 4; ++copy) {
    const size_t at = payload.size();
    payload.insert(payload.end(), data + 4, data + size);
    payload[at] ^= (unsigned char)copy;
  }

  // 1. zlib's own stream.
  Bytes z;
  std::string error;
  FUZZ_CHECK(
      datapack::CompressPayload(payload.data(), payload.size(), {level, mem, strategy}, z, error),
      "zlib failed: %s", error.c_str());
  CheckRewrite(payload, z);

  // 2. The input's bytes as a zlib stream.
  // Only where the header says zlib; into one buffer for the whole run, which only zlib
  // writes: a fresh megabyte for every input was most of this target's time.
  Bytes raw(data + 4, data + size);
  static const std::unique_ptr<unsigned char[]> inflated(new unsigned char[1 << 20]);
  uLongf inflated_size = 1 << 20;
  uLong used = raw.size();
  if (raw.size() >= 2 && (raw[0] & 0x0F) == Z_DEFLATED && ((raw[0] << 8) | raw[1]) % 31 == 0 &&
      uncompress2(inflated.get(), &inflated_size, raw.data(), &used) == Z_OK)
    CheckRewrite(Bytes(inflated.get(), inflated.get() + inflated_size),
                 Bytes(raw.begin(), raw.begin() + used));

  // 3. The token reader on anything.
  ExactCopy copy(data + 4, size - 4);
  datapack::DeflateTokenReader r(copy.data(), size - 4);
  datapack::DeflateToken t[64];
  uint64_t total = 0;
  while (size_t n = r.Read(t, 64))
    for (size_t i = 0; i < n; ++i) {
      FUZZ_CHECK(t[i].dist == 0 ? t[i].litlen < 256
                                : t[i].litlen >= 3 && t[i].litlen <= 258 && t[i].dist <= total,
                 "token %u/%u after %llu bytes", t[i].litlen, t[i].dist, (unsigned long long)total);
      total += t[i].dist ? t[i].litlen : 1;
    }
  FUZZ_CHECK(total == r.produced() && r.used() <= size - 4 && (r.failed() || r.done()),
             "reader totals: %llu vs %llu", (unsigned long long)total,
             (unsigned long long)r.produced());
  return 0;
}
