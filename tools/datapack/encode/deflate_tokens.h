// Reading a deflate stream back into what its encoder chose: literals and matches; and the
// pieces of deflate's format that datapack's block writers share with this reader.
//
// The default encoder of `datapack create` (reblock.h) takes zlib's matching as it is and only
// rewrites the blocks, so it needs zlib's tokens, which zlib does not hand out. This reader
// decodes them from zlib's own output: stored, fixed and dynamic blocks, the bytes of a stored
// block given back as literals. It checks what it reads as inflate does (codes neither
// over-subscribed nor incomplete, except a code of one symbol; distances within the output so
// far and the 32 KiB window) and stops at the first fault, so that any input is safe to read.
#ifndef DATAPACK_DEFLATE_TOKENS_H
#define DATAPACK_DEFLATE_TOKENS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace datapack {

struct DeflateToken {
  uint16_t litlen;  // the literal byte (dist 0), or the match length 3..258
  uint16_t dist;    // 0 for a literal, else the match distance 1..32768
};

// Deflate's alphabet sizes: literal/length symbols 0..285 (256 ends a block), distances 0..29.
const int kLitLenSymbols = 286;
const int kDistSymbols = 30;
const int kEndOfBlock = 256;
// The order in which a dynamic block's header gives the code length code's lengths.
extern const uint8_t kCodeLengthOrder[19];

// The symbols and extra bits of a token, as a block writer needs them.
int LengthSymbol(int length);     // 257..285 for 3..258
int DistanceSymbol(int dist);     // 0..29 for 1..32768
int LengthExtraBits(int symbol);  // of a literal/length symbol (0 for literals)
int LengthBase(int symbol);
int DistanceExtraBits(int symbol);
int DistanceBase(int symbol);
int CodeLengthExtraBits(int symbol);  // of a code length symbol: 2, 3, 7 for 16, 17, 18
int FixedLength(int symbol);          // the fixed code's length of literal/length 0..287

// Canonical codes for `lengths` (0 for an unused symbol), bit-reversed, since deflate sends a
// code's most significant bit first into a stream read least significant bit first.
void CanonicalCodes(const uint8_t* lengths, int n, uint16_t* codes);

// Deflate's bits, least significant first, appended to `out`.
struct BitSink {
  std::vector<unsigned char>& out;
  uint64_t acc = 0;
  int count = 0;                     // bits in acc, fewer than 8 between calls
  void Put(uint32_t value, int n) {  // n <= 32
    acc |= (uint64_t)value << count;
    count += n;
    while (count >= 8) {
      out.push_back((unsigned char)acc);
      acc >>= 8;
      count -= 8;
    }
  }
  void Align() {
    if (count) Put(0, 8 - count);
  }
  // A stored block's header; its `len` bytes follow in `out`, on the byte boundary it ends at.
  void StoredHeader(bool final, uint32_t len) {
    Put(final ? 1 : 0, 3);  // BFINAL, BTYPE 00
    Align();
    Put(len, 16);
    Put(~len & 0xFFFF, 16);
  }
};

// Reads raw deflate data (no zlib header) token by token.
//   DeflateTokenReader r(data, size);
//   DeflateToken t[4096];
//   while (size_t n = r.Read(t, 4096)) ...;
//   if (r.failed()) ... else r.used() bytes of data made the stream.
class DeflateTokenReader {
 public:
  DeflateTokenReader(const unsigned char* data, size_t size);

  // Reads up to `max` tokens into `out`; returns how many. 0 once the final block has ended
  // or at a fault (failed()).
  size_t Read(DeflateToken* out, size_t max);

  bool failed() const { return error_ != nullptr; }
  const char* error() const { return error_; }  // what is wrong, or nullptr
  bool done() const { return state_ == kDone; }
  uint64_t produced() const { return produced_; }       // bytes the tokens so far stand for
  uint32_t huffman_blocks() const { return huffman_; }  // fixed and dynamic blocks begun
  // Bytes of data read: up to the end of the final block once done().
  size_t used() const { return pos_ - bit_count_ / 8; }

 private:
  // A canonical Huffman code as a table indexed by the next `bits` bits of input: entry
  // (symbol << 4) | code length, 0 where no code starts.
  struct Code {
    std::vector<uint16_t> table;
    int bits = 0;
  };
  enum State { kHeader, kStored, kHuffman, kDone };

  bool Fail(const char* why);
  bool Need(int n);  // at least n (<= 32) bits buffered; false (and failed) at the end
  uint32_t Take(int n);
  bool Decode(const Code& code, int& symbol);
  static bool Build(const uint8_t* lengths, int n, Code& code);
  bool BeginBlock();
  bool ReadDynamicHeader();

  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;         // next byte of data_ to enter the bit buffer
  uint64_t bits_ = 0;      // buffered bits, the next one lowest
  int bit_count_ = 0;      // how many
  State state_ = kHeader;  // what comes next
  bool final_ = false;     // the current block is the last
  uint32_t stored_left_ = 0;
  uint64_t produced_ = 0;
  uint32_t huffman_ = 0;
  const char* error_ = nullptr;
  Code litlen_, dist_;
};

}  // namespace datapack

#endif
