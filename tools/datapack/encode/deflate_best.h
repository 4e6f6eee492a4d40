// The optimal deflate encoder behind `datapack create --best`: zopfli's optimal parsing,
// applied to parts of 1 MiB of input at a time, each part giving at most a chosen number of
// Huffman-coded blocks.
//
// Why parts: the bootstrapper waits at least 10 ms at the end of every Huffman-coded block
// (its progress report), while inflating a megabyte takes a few milliseconds; so a package
// unpacks fastest with few, large blocks. One block per MiB keeps the waits at about one per
// MiB of payload, and parts are independent units of work for the threads of `create`.
//
// One implementation per build, chosen in CMake: deflate_best_zopfli.cpp where zopfli is
// found (Linux), deflate_best_none.cpp elsewhere (the Windows builds), which says that the
// encoder is missing.
#ifndef DATAPACK_DEFLATE_BEST_H
#define DATAPACK_DEFLATE_BEST_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace datapack {

const size_t kBestPartSize = size_t(1) << 20;  // input bytes per part (the last may be shorter)

struct BestOptions {
  int max_blocks = 1;  // Huffman-coded blocks per part, 1..kMaxBlocksPerPart (1: no splitting)
  int iterations = 5;  // optimisation rounds per block, 1..kMaxIterations; more gain little
};
const int kMaxBlocksPerPart = 64;
const int kMaxIterations = 100;

// Deflate bits: `bits` bits, least significant bit of bytes[0] first.
struct BitRun {
  std::vector<unsigned char> bytes;
  uint64_t bits = 0;
};

// Whether this build has the optimal encoder; when it has not, `why` says so in words for
// the user.
bool BestAvailable(std::string* why = nullptr);

// Deflates in[start, end) into raw deflate blocks, bytes in[0, start) serving as the history
// that matches may reach back into (as a stream decoded up to `start` has them). The blocks
// start at bit 0 of `out`; `final` marks the last of them as the stream's final block.
// Besides Huffman-coded blocks the part may hold stored blocks, where they are smaller.
// Deterministic: the same arguments give the same bits on any thread.
// Returns false with `error` set when the encoder is not available or the options are out
// of range.
bool DeflateBestPart(const unsigned char* in, size_t start, size_t end, bool final,
                     const BestOptions& options, BitRun& out, std::string& error);

}  // namespace datapack

#endif
