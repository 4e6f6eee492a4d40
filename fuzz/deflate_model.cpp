// Canonical Huffman decoding one bit at a time: slow, short and easy to check against the
// deflate format's description, which is what a reference wants to be.
#include "deflate_model.h"

namespace {

enum { MAX_BITS = 15, MAX_LIT = 288, MAX_DIST = 32 };

struct BitSource {
  const unsigned char* in;
  size_t len;
  size_t pos = 0;        // next byte to take
  uint32_t buf = 0;      // bits taken but not used, least significant first
  int count = 0;         // number of bits in buf
  bool starved = false;  // a read went past the end of the input

  // The next n (0..16) bits, first bit least significant; 0 once the input is exhausted.
  uint32_t Take(int n) {
    while (count < n) {
      if (pos == len) {
        starved = true;
        return 0;
      }
      buf |= (uint32_t)in[pos++] << count;
      count += 8;
    }
    uint32_t v = buf & ((1u << n) - 1);
    buf >>= n;
    count -= n;
    return v;
  }
  void ToByteBoundary() {
    buf >>= count & 7;
    count -= count & 7;
  }
};

struct Huffman {
  uint16_t count[MAX_BITS + 1];  // codes of each length
  uint16_t symbol[MAX_LIT];      // symbols ordered by code
};

// Builds the decoding tables for lengths[0..n). Returns whether the code is one zlib
// decodes: not over-subscribed, and complete unless it has at most one code, of length 1
// (allowed for literal/length and distance codes, never for the code length code). A code
// with no symbols at all is accepted here and fails at its first use, as in zlib.
bool Build(Huffman& h, const uint16_t* lengths, int n, bool code_length_code) {
  for (int len = 0; len <= MAX_BITS; len++) h.count[len] = 0;
  for (int s = 0; s < n; s++) h.count[lengths[s]]++;
  int max = 0;
  for (int len = 1; len <= MAX_BITS; len++)
    if (h.count[len]) max = len;
  if (max == 0) {
    h.count[0] = 0;
    return !code_length_code;
  }
  int left = 1;
  for (int len = 1; len <= MAX_BITS; len++) {
    left <<= 1;
    left -= h.count[len];
    if (left < 0) return false;
  }
  if (left > 0 && (code_length_code || max != 1)) return false;
  uint16_t offs[MAX_BITS + 2];
  offs[1] = 0;
  for (int len = 1; len <= MAX_BITS; len++) offs[len + 1] = (uint16_t)(offs[len] + h.count[len]);
  for (int s = 0; s < n; s++)
    if (lengths[s]) h.symbol[offs[lengths[s]]++] = (uint16_t)s;
  h.count[0] = 0;
  return true;
}

// The next symbol, or -1 for a bit pattern the code does not assign (or the input's end).
int Decode(BitSource& b, const Huffman& h) {
  int code = 0, first = 0, index = 0;
  for (int len = 1; len <= MAX_BITS; len++) {
    code |= (int)b.Take(1);
    if (b.starved) return -1;
    int count = h.count[len];
    if (code - first < count) return h.symbol[index + (code - first)];
    index += count;
    first += count;
    first <<= 1;
    code <<= 1;
  }
  return -1;
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct Decoder {
  BitSource bits;
  uint64_t out = 0;
  uint64_t out_limit;

  bool Stored() {
    bits.ToByteBoundary();
    uint32_t len = bits.Take(16);
    uint32_t nlen = bits.Take(16);
    if (bits.starved || len != (~nlen & 0xFFFF)) return false;
    // The bit buffer is empty at a byte boundary after two whole 16-bit fields.
    if (bits.len - bits.pos < len || out + len > out_limit) return false;
    bits.pos += len;
    out += len;
    return true;
  }

  bool Codes(const Huffman& lit, const Huffman& dist) {
    for (;;) {
      int sym = Decode(bits, lit);
      if (sym < 0 || sym > 285) return false;  // 286, 287 exist only in the fixed code
      if (sym < 256) {
        if (++out > out_limit) return false;
        continue;
      }
      if (sym == 256) return true;
      sym -= 257;
      uint32_t length = kLengthBase[sym] + bits.Take(kLengthExtra[sym]);
      int d = Decode(bits, dist);
      if (d < 0 || d > 29) return false;
      uint32_t distance = kDistBase[d] + bits.Take(kDistExtra[d]);
      if (bits.starved || distance > out) return false;  // deflate's distances reach 32 KiB at most
      out += length;
      if (out > out_limit) return false;
    }
  }

  bool Fixed() {
    static Huffman lit, dist;
    static bool built = false;
    if (!built) {
      uint16_t l[MAX_LIT];
      int s = 0;
      for (; s < 144; s++) l[s] = 8;
      for (; s < 256; s++) l[s] = 9;
      for (; s < 280; s++) l[s] = 7;
      for (; s < MAX_LIT; s++) l[s] = 8;
      Build(lit, l, MAX_LIT, false);
      for (s = 0; s < MAX_DIST; s++) l[s] = 5;
      Build(dist, l, MAX_DIST, false);
      built = true;
    }
    return Codes(lit, dist);
  }

  bool Dynamic() {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
    const int nlen = (int)bits.Take(5) + 257;
    const int ndist = (int)bits.Take(5) + 1;
    const int ncode = (int)bits.Take(4) + 4;
    if (bits.starved || nlen > 286 || ndist > 30) return false;
    uint16_t lengths[MAX_LIT + MAX_DIST] = {0};
    for (int i = 0; i < ncode; i++) lengths[kOrder[i]] = (uint16_t)bits.Take(3);
    Huffman lencode, lit, dist;
    if (bits.starved || !Build(lencode, lengths, 19, true)) return false;
    int i = 0;
    while (i < nlen + ndist) {
      int sym = Decode(bits, lencode);
      if (sym < 0) return false;
      if (sym < 16) {
        lengths[i++] = (uint16_t)sym;
        continue;
      }
      uint16_t value = 0;
      int repeat;
      if (sym == 16) {
        if (i == 0) return false;
        value = lengths[i - 1];
        repeat = 3 + (int)bits.Take(2);
      } else if (sym == 17) {
        repeat = 3 + (int)bits.Take(3);
      } else {
        repeat = 11 + (int)bits.Take(7);
      }
      if (bits.starved || i + repeat > nlen + ndist) return false;
      while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0) return false;  // no end-of-block code
    if (!Build(lit, lengths, nlen, false) || !Build(dist, lengths + nlen, ndist, false))
      return false;
    return Codes(lit, dist);
  }
};

}  // namespace

ModelResult ModelZlibStream(const unsigned char* in, size_t len, uint64_t out_limit) {
  ModelResult r;
  if (len < 2) return r;
  unsigned cmf = in[0], flg = in[1];
  if ((cmf & 15) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 32)) return r;
  Decoder d{BitSource{in + 2, len - 2}, 0, out_limit};
  for (;;) {
    bool final = d.bits.Take(1) != 0;
    int type = (int)d.bits.Take(2);
    if (d.bits.starved) break;
    bool good = type == 0 ? d.Stored() : type == 1 ? d.Fixed() : type == 2 ? d.Dynamic() : false;
    if (!good || d.bits.starved) break;
    r.blocks.push_back({type, final, d.out});
    if (final) {
      r.ok = true;
      break;
    }
  }
  r.produced = d.out;
  return r;
}
