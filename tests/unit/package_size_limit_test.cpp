// Entry sizes of 2 GiB or more: the 32-bit release can never allocate such a buffer, so every
// reader refuses them, whether or not it would have to allocate (the streaming decoder never
// does, a 64-bit build might manage to). Just below the limit, a record is read as usual.
#include <gtest/gtest.h>

#include <vector>

#include "entry_stream.h"
#include "package.h"
#include "packer.h"

namespace {

// One record: a good stream of a 40-byte payload, with the given sizes.
std::vector<unsigned char> Record(uint32_t declared, uint32_t stored_extra) {
  datapack::PackedFile file;
  file.data.assign(12, 'x');
  std::vector<unsigned char> payload = datapack::MakePayload(file), stream, out;
  std::string error;
  EXPECT_TRUE(datapack::CompressPayload(payload.data(), payload.size(),
                                        datapack::CompressionOptions(), stream, error));
  datapack::AppendRecord(out, declared ? declared : (uint32_t)payload.size(),
                         (uint32_t)stream.size() + stored_extra, stream);
  return out;
}

int Whole(const std::vector<unsigned char>& bytes, EntryInfo* info) {
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, bytes.data(), bytes.size());
  Entry e;
  int status = ReadEntry(&r, nullptr, &e);
  *info = e.info;
  FreeEntry(&e);
  return status;
}

int Streamed(const std::vector<unsigned char>& bytes, EntryInfo* info) {
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, bytes.data(), bytes.size());
  unsigned char in[64], out[64];
  const StreamBuffers buf = {in, sizeof in, out, sizeof out};
  return ReadEntryStream(&r, nullptr, &buf, nullptr, info);
}

TEST(EntrySizeLimit, SizesOf2GiBOrMoreAreRefusedByBothReaders) {
  const struct {
    uint32_t declared, stored_extra;
  } kHuge[] = {{0x80000000u, 0}, {0xFFFFFFF0u, 0}, {0xFFFFFFFFu, 0}, {0, 0x80000000u},
               {0, 0xFFFFFFC0u}};
  for (const auto& h : kHuge) {
    SCOPED_TRACE(testing::Message() << h.declared << " / +" << h.stored_extra);
    std::vector<unsigned char> bytes = Record(h.declared, h.stored_extra);
    EntryInfo whole{}, streamed{};
    EXPECT_EQ(Whole(bytes, &whole), ENTRY_NO_MEMORY);
    EXPECT_EQ(Streamed(bytes, &streamed), ENTRY_NO_MEMORY);
    EXPECT_STREQ(whole.reason, kEntryTooLarge);
    EXPECT_STREQ(streamed.reason, kEntryTooLarge);
  }
}

TEST(EntrySizeLimit, JustBelowTheLimitTheStreamDecides) {
  // Only the streaming reader here: the whole-buffer one would allocate 2 GiB. A stored size
  // past the end of the data; the stream is complete in what is there.
  std::vector<unsigned char> bytes = Record(ENTRY_SIZE_MAX, ENTRY_SIZE_MAX - 200);
  EntryInfo streamed{};
  EXPECT_EQ(Streamed(bytes, &streamed), ENTRY_OK);
  EXPECT_EQ(streamed.produced, 40u);
  EXPECT_EQ(streamed.declared, ENTRY_SIZE_MAX);
}

}  // namespace
