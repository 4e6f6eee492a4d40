// A second, independent reading of a zlib stream's block structure, for the fuzz targets.
//
// The package core learns where Huffman-coded blocks end by stepping zlib block by block and
// peeking at the next block's three header bits itself; a slip there (a header split across
// bytes, an empty block, a stored block before the final one) would move or lose progress
// reports without any crash. This model decodes the deflate data on its own, bit by bit, and
// records every block's type and the output count at its end, so that a fuzz target can name
// the exact report sequence a stream must give and compare.
//
// It counts output but keeps none (distances are only checked against what was produced), and
// it does not check the Adler-32. It accepts what zlib accepts: the 32 KiB window whatever the
// stream's header declares (zlib only refuses a declared window above 32 KiB), incomplete
// literal/length and distance codes that consist of a single 1-bit code, and a distance code
// without any code as long as no distance is needed.
#ifndef FUZZ_DEFLATE_MODEL_H
#define FUZZ_DEFLATE_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct ModelBlock {
  int type;          // deflate BTYPE: 0 stored, 1 fixed Huffman, 2 dynamic Huffman
  bool final;        // BFINAL was set
  uint64_t end_out;  // output bytes produced by the stream up to the end of this block
};

struct ModelResult {
  bool ok = false;                 // the zlib header and every block up to the final one
                                   // decoded (the Adler-32 is not looked at)
  std::vector<ModelBlock> blocks;  // blocks fully decoded, in order (also on failure)
  uint64_t produced = 0;           // output count where decoding stopped
};

// Decodes the zlib stream in[0..len). Stops after the final block, at the first invalid
// field, at the end of the input, or when the output would exceed out_limit bytes (ok is then
// false).
ModelResult ModelZlibStream(const unsigned char* in, size_t len, uint64_t out_limit);

#endif
