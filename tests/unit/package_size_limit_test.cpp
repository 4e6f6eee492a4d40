// Entry sizes adding up to 2 GiB or more: the 32-bit release can never allocate both buffers,
// so every reader refuses them, whether or not it would have to allocate (the streaming
// decoder never does, a 64-bit build might manage to). Just below the limit, a record is read
// as usual.
#include <gtest/gtest.h>

#include <vector>

#include "entry_stream.h"
#include "entrylimit.h"
#include "package.h"
#include "package_writer.h"

namespace {

// One record: a good stream of a 40-byte payload, with the given sizes (0: the true one).
std::vector<unsigned char> Record(uint32_t declared, uint32_t stored) {
  datapack::PackedFile file;
  file.data.assign(12, 'x');
  std::vector<unsigned char> payload = datapack::MakePayload(file), stream, out;
  std::string error;
  EXPECT_TRUE(datapack::CompressPayload(payload.data(), payload.size(),
                                        datapack::CompressionOptions(), stream, error));
  datapack::AppendRecord(out, declared ? declared : (uint32_t)payload.size(),
                         stored ? stored : (uint32_t)stream.size(), stream);
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

TEST(EntrySizeLimit, SizesAddingUpTo2GiBAreRefusedByBothReaders) {
  const struct {
    uint32_t declared, stored;
  } kHuge[] = {{0x80000000u, 0},          {0xFFFFFFF0u, 0},      {0xFFFFFFFFu, 0},
               {0, 0x80000000u},          {0, 0xFFFFFFC0u},      {0x40000000u, 0x40000000u},
               {0x7FFFFF00u, 0x100u},     {0x100u, 0x7FFFFF00u}, {0xFFFFFFFFu, 0xFFFFFFFFu},
               {1788172700u, 1651010408u}};  // found by fuzzing: 7 s of zeros to inflate
  for (const auto& h : kHuge) {
    SCOPED_TRACE(testing::Message() << h.declared << " + " << h.stored);
    std::vector<unsigned char> bytes = Record(h.declared, h.stored);
    EntryInfo whole{}, streamed{};
    EXPECT_EQ(Whole(bytes, &whole), ENTRY_NO_MEMORY);
    EXPECT_EQ(Streamed(bytes, &streamed), ENTRY_NO_MEMORY);
    EXPECT_STREQ(whole.reason, kEntryTooLarge);
    EXPECT_STREQ(streamed.reason, kEntryTooLarge);
    EXPECT_NE(datapack::EntrySizeRefusal(h.stored, h.declared), "") << "create writes none";
    // Decided on the record alone: nothing of the stream was read.
    EXPECT_EQ(whole.stored_read, 0u);
    EXPECT_EQ(streamed.stored_read, 0u);
  }
}

TEST(EntrySizeLimit, JustBelowTheLimitTheStreamDecides) {
  // Only the streaming reader here: the whole-buffer one would allocate 2 GiB. A stored size
  // past the end of the data; the stream is complete in what is there.
  const uint32_t kStored[] = {0x1000u, 0x40000000u, 0x7FFFFF00u};
  // Before compressing, create checks the inflated size alone (stored 0): a file whose
  // payload reaches the limit by itself is refused before anything is read.
  EXPECT_EQ(datapack::EntrySizeRefusal(0, ENTRY_SIZE_MAX), "");
  EXPECT_NE(datapack::EntrySizeRefusal(0, uint64_t(ENTRY_SIZE_MAX) + 1), "");
  EXPECT_NE(datapack::EntrySizeRefusal(0, uint64_t(5) << 30), "") << "past 32 bits";
  for (uint32_t stored : kStored) {
    SCOPED_TRACE(stored);
    std::vector<unsigned char> bytes = Record(ENTRY_SIZE_MAX - stored, stored);
    EntryInfo streamed{};
    EXPECT_EQ(Streamed(bytes, &streamed), ENTRY_OK);
    EXPECT_EQ(streamed.produced, 40u);
    EXPECT_EQ(streamed.declared, ENTRY_SIZE_MAX - stored);
    EXPECT_EQ(datapack::EntrySizeRefusal(stored, ENTRY_SIZE_MAX - stored), "")
        << "create writes it";
  }
}

}  // namespace
