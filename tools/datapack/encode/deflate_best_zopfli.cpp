// The optimal encoder on zopfli's lower-level interface: ZopfliDeflatePart on one part, with
// block splitting capped at the part's block budget.
#include <stdlib.h>
#include <zopfli/deflate.h>
#include <zopfli/zopfli.h>

#include "deflate_best.h"

namespace datapack {

bool BestAvailable(std::string* why) {
  if (why) why->clear();
  return true;
}

bool DeflateBestPart(const unsigned char* in, size_t start, size_t end, bool final,
                     const BestOptions& options, BitRun& out, std::string& error) {
  if (options.max_blocks < 1 || options.max_blocks > kMaxBlocksPerPart || options.iterations < 1 ||
      options.iterations > kMaxIterations) {
    error = "optimal encoder options out of range";
    return false;
  }
  ZopfliOptions z;
  ZopfliInitOptions(&z);
  z.numiterations = options.iterations;
  // blocksplittingmax counts blocks, not splits; 0 would mean no limit at all.
  z.blocksplitting = options.max_blocks > 1;
  z.blocksplittingmax = options.max_blocks;
  unsigned char bp = 0;  // bit position in the last output byte; 0 = the byte is full
  unsigned char* data = nullptr;
  size_t size = 0;
  // btype 2 lets zopfli pick stored, fixed or dynamic per block, whichever is smallest.
  ZopfliDeflatePart(&z, 2, final ? 1 : 0, in, start, end, &bp, &data, &size);
  out.bytes.assign(data, data + size);
  free(data);
  out.bits = bp ? (uint64_t)(size - 1) * 8 + bp : (uint64_t)size * 8;
  return true;
}

}  // namespace datapack
