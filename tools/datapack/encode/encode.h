// Making each entry's stream, and choosing it, for `datapack create` and BuildPackage.
//
// encode/ owns the streams and records of a package: the token reader and re-blocking
// (deflate_tokens.h, reblock.h), the optimal encoder (deflate_best.h), the tasks and their
// threads (parallel.h), the records (package_writer.h). It includes only platform/.
//
// Plain: zlib's deflate as it comes (level 9 and memory level 9 unless told otherwise); what
// BuildPackage makes unless asked, and `create --level/--mem-level`.
//
// few_blocks (`datapack create`'s default): zlib's stream rewritten with at most one
// Huffman-coded block per MiB (reblock.h), at about zlib's speed, in every build. Kept
// instead: zlib's own stream when it has no more blocks than the rewrite and is smaller;
// stored blocks under the same rule as --best's below.
//
// --best weighs what the user waits for. The bootstrapper's bar waits at least 10 ms at every
// progress report (one per Huffman-coded block, one at the end of each entry), which is far
// longer than inflating a block takes. So, per entry, three candidates:
//   - the optimal encoder's stream (deflate_best.h): parts of 1 MiB, each at most
//     blocks_per_mib Huffman-coded blocks (one by default);
//   - zlib's stream with the same settings as the default, kept when it is smaller, so that
//     --best never makes a larger stream than the default does. Few Huffman tables lose to
//     zlib's many on some files (code mixed with data); before giving in, the optimal
//     encoder tries again with twice, then four times the blocks per part, still far fewer
//     than zlib's several per 100 KiB;
//   - stored blocks only, which make no report of their own: kept for an entry the bar
//     counts when they spare at least one report and cost at most
//     max(64 bytes, 1 % of the payload) more than the better of the two others.
// Every stream chosen is inflated again with the package core's decoder, which checks that it
// gives the payload back and counts the reports it will cost.
#ifndef DATAPACK_ENCODE_H
#define DATAPACK_ENCODE_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "deflate_best.h"

namespace datapack {

// How payloads are deflated. The defaults are datapack's: the smallest output zlib makes.
struct CompressionOptions {
  int level = 9;            // zlib level 0..9; 0 writes stored blocks only
  int mem_level = 9;        // zlib memLevel 1..9
  int strategy = 0;         // Z_DEFAULT_STRATEGY (0), Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE or Z_FIXED
  bool few_blocks = false;  // rewrite zlib's stream into few blocks (see above)
  bool best = false;        // choose among the three candidates above (needs BestAvailable())
  // With best: Huffman-coded blocks allowed per MiB of payload, 1..kMaxBlocksPerPart. A part
  // of 1 MiB gets that many, a shorter one its share rounded up (at least 1), so that small
  // entries do not pay for splits meant for large ones.
  int blocks_per_mib = 1;
  int iterations = 5;  // with best: the optimal encoder's rounds, 1..kMaxIterations
};

// Returns false with `error` set when an option is out of range, or --best is asked of a
// build without the optimal encoder.
bool CheckCompressionOptions(const CompressionOptions& options, std::string& error);

enum class StreamKind { kZlib, kOptimal, kStored, kFewBlocks };
const int kStreamKinds = 4;

// The work for one payload, cut into tasks that may run on different threads.
//   EntryWork w(payload, options, true);
//   while (!w.done()) {
//     for (size_t i = 0; i < w.Tasks(); ++i) w.RunTask(i);   // any order, any threads
//     w.Finish();                                             // may ask for another round
//   }
//   if (w.ok()) use w.stream(), w.kind(), w.reports();
class EntryWork {
 public:
  // `counted`: the progress bar counts this entry's reports (every entry but the list), so
  // a report saved is worth a few bytes.
  EntryWork(std::vector<unsigned char> payload, const CompressionOptions& options, bool counted);

  size_t Tasks() const;               // of the current round
  uint64_t TaskCost(size_t i) const;  // rough relative cost, to start long tasks first
  void RunTask(size_t i);             // distinct tasks may run at the same time
  // After every task of the round has run: assembles, chooses, checks, and frees the
  // payload; or sets up another round of the optimal encoder with more blocks per part.
  void Finish();

  bool done() const { return done_; }
  bool ok() const { return error_.empty(); }
  // The Huffman-coded blocks the optimal stream was allowed in all (its final round), and
  // whether that took more rounds than the first because zlib's stream was smaller.
  uint32_t block_budget() const;
  bool more_blocks() const { return scale_ > 1; }
  const std::string& error() const { return error_; }
  const std::vector<unsigned char>& stream() const { return stream_; }
  StreamKind kind() const { return kind_; }
  uint32_t reports() const { return reports_; }  // progress reports inflating it makes
  uint64_t payload_size() const { return payload_size_; }

 private:
  bool Check(const std::vector<unsigned char>& stream, uint32_t& reports);
  bool FewBlocks() const { return options_.few_blocks && !options_.best; }
  void MaybeStore();

  std::vector<unsigned char> payload_;
  uint64_t payload_size_;
  CompressionOptions options_;
  bool counted_;
  BestOptions PartOptions(size_t i) const;

  int scale_ = 1;   // the block budget's multiple in this round: 1, 2, 4
  int rounds_ = 0;  // rounds finished
  bool done_ = false;
  std::vector<BitRun> parts_;  // --best: the optimal encoder's parts
  std::vector<std::string> part_errors_;
  bool zlib_made_ = false;           // zlib_ (or zlib_error_) is there
  std::vector<unsigned char> zlib_;  // zlib's stream
  std::string zlib_error_;
  std::vector<unsigned char> rewritten_;  // few_blocks: zlib's stream in few blocks
  uint32_t zlib_blocks_ = 0;              // Huffman-coded blocks of zlib's stream
  uint32_t rewritten_blocks_ = 0;         // and of rewritten_
  std::vector<unsigned char> stream_;     // the chosen one
  StreamKind kind_ = StreamKind::kZlib;
  uint32_t reports_ = 0;
  std::string error_;
};

// Runs the tasks of all `works` on up to `threads` threads, the costliest first, then
// finishes every work. `tick` (may be empty) is called now and then on the calling thread.
// The streams do not depend on `threads`.
void EncodeAll(const std::vector<EntryWork*>& works, unsigned threads,
               const std::function<void()>& tick);

// A zlib stream around deflate parts that each start at bit 0: the two-byte header, the
// parts in order, the Adler-32 of the payload. A part that ends inside a byte is followed by
// an empty stored block, so that the next part starts on a byte boundary as it was made to
// (stored blocks inside a part are aligned relative to its own start); such a block makes no
// report.
std::vector<unsigned char> AssembleZlibStream(const std::vector<BitRun>& parts, uint32_t adler);

}  // namespace datapack

#endif
