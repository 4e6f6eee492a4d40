// The default encoder of `datapack create`: zlib's matches, rewritten as few blocks.
//
// The bootstrapper waits at least 10 ms at the end of every Huffman-coded block (its progress
// report), while inflating a whole MiB takes a few milliseconds. zlib ends a block whenever
// its symbol buffer fills (16 K symbols at memory level 8, 32 K at 9: some tens of KiB of
// output), and no setting of zlib lifts that. So zlib compresses as usual and its stream is
// read back into literals and matches (deflate_tokens.h) and written again:
//   - as at most one Huffman-coded block per MiB of payload (rounded up), ending at token
//     boundaries near multiples of 64 KiB chosen, by dynamic programming over those
//     candidates, to make the stream smallest within that budget; a block spans at most
//     2 MiB, and entries are planned in independent windows of 64 MiB;
//   - each block dynamic (length-limited Huffman codes from its own counts, package-merge:
//     never over 15 bits, the code length code never over 7), fixed, or stored where that
//     is smaller (a stored block makes no report); a Huffman-coded block must save 64 bytes
//     to be worth its report, as --best weighs stored entries;
//   - the zlib header and Adler-32 trailer as zlib wrote them, since the payload is the same.
// Integer arithmetic only, so that every build (x86_64 Linux, i686 and x86_64 Windows) makes
// the same bytes from the same zlib stream.
#ifndef DATAPACK_REBLOCK_H
#define DATAPACK_REBLOCK_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace datapack {

// Huffman-coded blocks the rewritten stream of a `size`-byte payload may have: one per MiB,
// rounded up, at least one.
uint32_t ReblockBudget(uint64_t size);

// Rewrites `zlib_stream`, a complete zlib stream of `payload` (`size` bytes, also the source
// of stored blocks), into `out` (replaced) with at most ReblockBudget(size) Huffman-coded
// blocks. `zlib_blocks` and `blocks` (may be null) get the Huffman-coded blocks of the
// stream read and of the one written.
// Returns false with `error` set when the stream is not a zlib stream of `size` bytes (or
// has a preset dictionary). Deterministic: the same input gives the same bytes everywhere.
bool ReblockZlibStream(const unsigned char* payload, size_t size, const unsigned char* zlib_stream,
                       size_t stream_size, std::vector<unsigned char>& out, uint32_t* zlib_blocks,
                       uint32_t* blocks, std::string& error);

// Code lengths of at most `limit` bits for symbols 0..n-1 that minimise the sum of
// count x length (package-merge); 0 for a symbol of count 0. A lone used symbol gets length 1
// (an incomplete code: the caller decides whether to add a second). Needs the used symbols
// to be at most 2^limit.
void LimitedCodeLengths(const uint32_t* counts, int n, int limit, uint8_t* lengths);

}  // namespace datapack

#endif
