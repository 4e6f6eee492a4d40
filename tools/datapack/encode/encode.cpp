#include "encode.h"

#include <string.h>
#include <zlib.h>

#include <algorithm>

#include "deflate_tokens.h"
#include "entry_stream.h"
#include "package_writer.h"
#include "parallel.h"
#include "reblock.h"

namespace datapack {

namespace {

// Relative cost of a byte through the optimal encoder and through zlib (measured per core:
// about 0.6 MB/s against 8 MB/s), so that the long tasks start first.
const uint64_t kOptimalCost = 15;
const uint64_t kZlibCost = 1;

// The zlib header for the optimal encoder's streams: deflate with a 32 KiB window, FLEVEL 3
// (maximum compression), no dictionary; 0x78DA is a multiple of 31.
const unsigned char kZlibHeader[2] = {0x78, 0xDA};

// Bytes of StoredStream(payload of `size` bytes): header, 5 bytes per block of up to 65535,
// at least one block, the Adler-32.
uint64_t StoredStreamSize(uint64_t size) {
  uint64_t blocks = size ? (size + 65534) / 65535 : 1;
  return 2 + 5 * blocks + size + 4;
}

// Sets `error` to "<what> must be <low> to <high>" when `value` is out of that range.
bool InRange(int value, int low, int high, const char* what, std::string& error) {
  if (value >= low && value <= high) return true;
  error = std::string(what) + " must be " + std::to_string(low) + " to " + std::to_string(high);
  return false;
}

// Compares what the decoder delivers with the payload.
struct Comparer {
  const std::vector<unsigned char>* payload;
  uint64_t at;
  bool same;
  static int Write(void* ctx, const unsigned char* data, uint32_t size) {
    Comparer* c = (Comparer*)ctx;
    if (c->at + size > c->payload->size() || memcmp(c->payload->data() + c->at, data, size) != 0)
      c->same = false;
    c->at += size;
    return c->same;
  }
};

}  // namespace

bool CheckCompressionOptions(const CompressionOptions& o, std::string& error) {
  if (!InRange(o.level, 0, 9, "compression level", error) ||
      !InRange(o.mem_level, 1, 9, "memory level", error))
    return false;
  if (o.strategy < Z_DEFAULT_STRATEGY || o.strategy > Z_FIXED) {
    error = "unknown compression strategy";
    return false;
  }
  return !o.best || (BestAvailable(&error) &&
                     InRange(o.blocks_per_mib, 1, kMaxBlocksPerPart, "blocks per MiB", error) &&
                     InRange(o.iterations, 1, kMaxIterations, "iterations", error));
}

std::vector<unsigned char> AssembleZlibStream(const std::vector<BitRun>& parts, uint32_t adler) {
  std::vector<unsigned char> out(kZlibHeader, kZlibHeader + 2);
  BitSink w{out};
  for (const BitRun& part : parts) {
    if (w.count) w.StoredHeader(false, 0);
    const size_t whole = (size_t)(part.bits / 8);  // bytes; the rest of the part goes bitwise
    out.insert(out.end(), part.bytes.begin(), part.bytes.begin() + whole);
    if (part.bits % 8) w.Put(part.bytes[whole], (int)(part.bits % 8));
  }
  w.Align();
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((unsigned char)(adler >> shift));
  return out;
}

EntryWork::EntryWork(std::vector<unsigned char> payload, const CompressionOptions& options,
                     bool counted)
    : payload_(std::move(payload)),
      payload_size_(payload_.size()),
      options_(options),
      counted_(counted) {
  if (options_.best) {
    size_t n = payload_.empty() ? 1 : (payload_.size() + kBestPartSize - 1) / kBestPartSize;
    parts_.resize(n);
    part_errors_.resize(n);
  }
}

size_t EntryWork::Tasks() const { return parts_.size() + (zlib_made_ ? 0 : 1); }

uint64_t EntryWork::TaskCost(size_t i) const {
  if (i == parts_.size()) return payload_.size() * kZlibCost;
  return std::min(kBestPartSize, payload_.size() - i * kBestPartSize) * kOptimalCost;
}

void EntryWork::RunTask(size_t i) {
  if (i == parts_.size()) {
    CompressPayload(payload_.data(), payload_.size(), options_, zlib_, zlib_error_);
    zlib_made_ = true;
    if (FewBlocks() && zlib_error_.empty() &&
        !ReblockZlibStream(payload_.data(), payload_.size(), zlib_.data(), zlib_.size(), rewritten_,
                           &zlib_blocks_, &rewritten_blocks_, zlib_error_))
      zlib_error_ = "internal error: " + zlib_error_;
    return;
  }
  const size_t start = i * kBestPartSize;
  const size_t end = std::min(payload_.size(), start + kBestPartSize);
  DeflateBestPart(payload_.data(), start, end, i + 1 == parts_.size(), PartOptions(i), parts_[i],
                  part_errors_[i]);
}

BestOptions EntryWork::PartOptions(size_t i) const {
  const uint64_t length = std::min<uint64_t>(kBestPartSize, payload_size_ - i * kBestPartSize);
  uint64_t share = (options_.blocks_per_mib * length + kBestPartSize - 1) / kBestPartSize;
  BestOptions o;
  o.max_blocks = (int)std::min<uint64_t>(kMaxBlocksPerPart, std::max<uint64_t>(1, share) * scale_);
  o.iterations = options_.iterations;
  return o;
}

uint32_t EntryWork::block_budget() const {
  uint32_t total = 0;
  for (size_t i = 0; i < parts_.size(); ++i) total += PartOptions(i).max_blocks;
  return total;
}

// Inflates `stream` as the bootstrapper does and compares it with the payload.
bool EntryWork::Check(const std::vector<unsigned char>& stream, uint32_t& reports) {
  if (stream.size() > UINT32_MAX || payload_.size() > UINT32_MAX) {
    error_ = "stream or payload larger than 4 GiB";
    return false;
  }
  std::vector<unsigned char> in(1 << 16), out(1 << 16);
  StreamBuffers buf = {in.data(), (uint32_t)in.size(), out.data(), (uint32_t)out.size()};
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, stream.data(), stream.size());
  Comparer c = {&payload_, 0, true};
  PayloadSink sink = {Comparer::Write, &c};
  EntryInfo info;
  int status = InflateEntryReader(&r, (uint32_t)stream.size(), (uint32_t)payload_.size(), &buf,
                                  &sink, nullptr, &info);
  if (status != ENTRY_OK || !c.same || c.at != payload_.size() ||
      info.stream_used != stream.size()) {
    error_ = "internal error: the stream made does not inflate to the payload";
    return false;
  }
  reports = info.reports;
  return true;
}

void EntryWork::Finish() {
  ++rounds_;
  if (!zlib_error_.empty()) error_ = zlib_error_;
  for (const std::string& e : part_errors_)
    if (error_.empty() && !e.empty()) error_ = e;
  if (!error_.empty()) {
    done_ = true;
    return;
  }
  kind_ = StreamKind::kZlib;
  if (options_.best) {
    const uLong adler = adler32_z(adler32(0L, Z_NULL, 0), payload_.data(), payload_.size());
    std::vector<unsigned char> optimal = AssembleZlibStream(parts_, (uint32_t)adler);
    for (BitRun& part : parts_) part = BitRun();
    // Equal sizes: the optimal stream, whose blocks are fewer.
    if (optimal.size() <= zlib_.size()) {
      stream_.swap(optimal);
      kind_ = StreamKind::kOptimal;
    } else if (rounds_ < 3 && PartOptions(0).max_blocks < kMaxBlocksPerPart) {
      scale_ *= 2;
      return;  // another round
    }
  }
  if (FewBlocks()) {
    // zlib's own stream when it has no more blocks and is smaller.
    if (zlib_blocks_ > rewritten_blocks_ || rewritten_.size() <= zlib_.size()) {
      stream_.swap(rewritten_);
      kind_ = StreamKind::kFewBlocks;
    }
    rewritten_ = std::vector<unsigned char>();
  }
  if (kind_ == StreamKind::kZlib) stream_ = std::move(zlib_);
  zlib_ = std::vector<unsigned char>();
  done_ = true;
  if (Check(stream_, reports_) && (options_.best || FewBlocks())) MaybeStore();
  payload_ = std::vector<unsigned char>();
}

// Stored blocks make no report of their own: worth a few bytes in an entry the bar counts.
void EntryWork::MaybeStore() {
  if (!counted_ || reports_ <= 1) return;
  const uint64_t slack = std::max<uint64_t>(64, payload_.size() / 100);
  if (StoredStreamSize(payload_.size()) > stream_.size() + slack) return;
  std::vector<unsigned char> stored = StoredStream(payload_.data(), payload_.size());
  uint32_t reports = 0;
  if (Check(stored, reports)) {
    stream_.swap(stored);
    kind_ = StreamKind::kStored;
    reports_ = reports;
  }
}

void EncodeAll(const std::vector<EntryWork*>& works, unsigned threads,
               const std::function<void()>& tick) {
  struct Task {
    EntryWork* work;
    size_t index;
    uint64_t cost;
  };
  for (std::vector<EntryWork*> round = works; !round.empty();) {
    std::vector<Task> tasks;
    for (EntryWork* w : round)
      for (size_t i = 0; i < w->Tasks(); ++i) tasks.push_back({w, i, w->TaskCost(i)});
    std::stable_sort(tasks.begin(), tasks.end(),
                     [](const Task& a, const Task& b) { return a.cost > b.cost; });
    RunTasks(
        tasks.size(), threads, [&](size_t i) { tasks[i].work->RunTask(tasks[i].index); }, tick);
    RunTasks(
        round.size(), threads, [&](size_t i) { round[i]->Finish(); }, tick);
    round.erase(std::remove_if(round.begin(), round.end(), [](EntryWork* w) { return w->done(); }),
                round.end());
  }
}

}  // namespace datapack
