// The optimal encoder where zopfli is missing (the Windows builds): --best says so and stops.
#include "deflate_best.h"

namespace datapack {

namespace {

const char kMissing[] =
    "this datapack was built without zopfli, so --best is not available; the Linux build "
    "has it (install libzopfli-dev and rebuild)";

}  // namespace

bool BestAvailable(std::string* why) {
  if (why) *why = kMissing;
  return false;
}

bool DeflateBestPart(const unsigned char*, size_t, size_t, bool, const BestOptions&, BitRun& out,
                     std::string& error) {
  out = BitRun();
  error = kMissing;
  return false;
}

}  // namespace datapack
