#include "deflate_tokens.h"

#include <string.h>

namespace datapack {

namespace {

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Symbol lookups, made once: by length, and by distance - 1 (first 256 directly, beyond
// that by (distance - 1) >> 7, as every distance code past 256 spans a multiple of 128).
struct SymbolTables {
  uint8_t length[259];
  uint8_t dist_low[256];
  uint8_t dist_high[256];
  SymbolTables() {
    for (int s = 0; s < 29; ++s)
      for (int l = kLengthBase[s]; l < kLengthBase[s] + (1 << kLengthExtra[s]) && l <= 258; ++l)
        length[l] = (uint8_t)s;
    length[258] = 28;  // 258 has a code of its own; 227 + 31 under code 284 is not used
    for (int s = 0; s < 30; ++s)
      for (int d = kDistBase[s]; d < kDistBase[s] + (1 << kDistExtra[s]); ++d) {
        if (d <= 256)
          dist_low[d - 1] = (uint8_t)s;
        else
          dist_high[(d - 1) >> 7] = (uint8_t)s;
      }
  }
};

const SymbolTables& Tables() {
  static const SymbolTables t;
  return t;
}

}  // namespace

const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

int LengthSymbol(int length) { return 257 + Tables().length[length]; }
int DistanceSymbol(int dist) {
  return dist <= 256 ? Tables().dist_low[dist - 1] : Tables().dist_high[(dist - 1) >> 7];
}
int LengthExtraBits(int symbol) { return symbol > 256 ? kLengthExtra[symbol - 257] : 0; }
int LengthBase(int symbol) { return kLengthBase[symbol - 257]; }
int DistanceExtraBits(int symbol) { return kDistExtra[symbol]; }
int DistanceBase(int symbol) { return kDistBase[symbol]; }
int CodeLengthExtraBits(int symbol) {
  return symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0;
}
int FixedLength(int symbol) { return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8; }

void CanonicalCodes(const uint8_t* lengths, int n, uint16_t* codes) {
  int count[16] = {0}, next[16] = {0};
  for (int i = 0; i < n; ++i) count[lengths[i]]++;
  count[0] = 0;
  for (int l = 2; l <= 15; ++l) next[l] = (next[l - 1] + count[l - 1]) << 1;
  for (int s = 0; s < n; ++s) {
    const int l = lengths[s];
    uint32_t c = l ? (uint32_t)next[l]++ : 0, rev = 0;
    for (int i = 0; i < l; ++i) rev |= ((c >> i) & 1) << (l - 1 - i);
    codes[s] = (uint16_t)rev;
  }
}

DeflateTokenReader::DeflateTokenReader(const unsigned char* data, size_t size)
    : data_(data), size_(size) {}

bool DeflateTokenReader::Fail(const char* why) {
  if (!error_) error_ = why;
  state_ = kDone;
  return false;
}

bool DeflateTokenReader::Need(int n) {
  while (bit_count_ <= 56 && pos_ < size_) {
    bits_ |= (uint64_t)data_[pos_++] << bit_count_;
    bit_count_ += 8;
  }
  return bit_count_ >= n || Fail("stream ends before its end");
}

uint32_t DeflateTokenReader::Take(int n) {
  uint32_t v = (uint32_t)(bits_ & ((uint64_t(1) << n) - 1));
  bits_ >>= n;
  bit_count_ -= n;
  return v;
}

bool DeflateTokenReader::Decode(const Code& code, int& symbol) {
  Need(0);
  uint16_t e = code.table[bits_ & ((1u << code.bits) - 1)];
  int length = e & 15;
  if (length == 0) return Fail("invalid code");
  if (length > bit_count_) return Fail("stream ends before its end");
  Take(length);
  symbol = e >> 4;
  return true;
}

// A complete code, or one code of length 1 (which zlib's inflate accepts too), or none at
// all (a distance code of a block without matches); the table is at least 1 bit wide.
bool DeflateTokenReader::Build(const uint8_t* lengths, int n, Code& code) {
  int count[16] = {0};
  for (int i = 0; i < n; ++i) count[lengths[i]]++;
  count[0] = 0;
  int max = 0, used = 0;
  for (int l = 1; l <= 15; ++l)
    if (count[l]) max = l, used += count[l];
  int left = 1;
  for (int l = 1; l <= 15; ++l) {
    left = (left << 1) - count[l];
    if (left < 0) return false;  // over-subscribed
  }
  if (left > 0 && !(used == 1 && max == 1) && used != 0) return false;  // incomplete
  code.bits = max ? max : 1;
  code.table.assign(size_t(1) << code.bits, 0);
  uint16_t codes[288];
  CanonicalCodes(lengths, n, codes);
  for (int s = 0; s < n; ++s)
    for (uint32_t k = codes[s], l = lengths[s]; l && k < code.table.size(); k += 1u << l)
      code.table[k] = (uint16_t)((s << 4) | l);
  return true;
}

bool DeflateTokenReader::ReadDynamicHeader() {
  if (!Need(14)) return false;
  int nlen = (int)Take(5) + 257, ndist = (int)Take(5) + 1, ncode = (int)Take(4) + 4;
  if (nlen > kLitLenSymbols || ndist > kDistSymbols)
    return Fail("too many length or distance symbols");
  uint8_t cl[19] = {0};
  for (int i = 0; i < ncode; ++i) {
    if (!Need(3)) return false;
    cl[kCodeLengthOrder[i]] = (uint8_t)Take(3);
  }
  // Unlike the other two, the code length code must be complete.
  Code clc;
  int used = 0;
  for (uint8_t l : cl) used += l != 0;
  if (used == 1 || !Build(cl, 19, clc)) return Fail("invalid code lengths set");
  uint8_t lengths[kLitLenSymbols + kDistSymbols];
  for (int i = 0; i < nlen + ndist;) {
    int sym;
    if (!Decode(clc, sym)) return false;
    if (sym < 16) {
      lengths[i++] = (uint8_t)sym;
      continue;
    }
    const int extra = CodeLengthExtraBits(sym);
    if (!Need(extra)) return false;
    int repeat = (sym == 18 ? 11 : 3) + (int)Take(extra), value = 0;
    if (sym == 16) {
      if (i == 0) return Fail("invalid bit length repeat");
      value = lengths[i - 1];
    }
    if (i + repeat > nlen + ndist) return Fail("invalid bit length repeat");
    while (repeat--) lengths[i++] = (uint8_t)value;
  }
  if (lengths[kEndOfBlock] == 0) return Fail("invalid code -- missing end-of-block");
  if (!Build(lengths, nlen, litlen_)) return Fail("invalid literal/lengths set");
  if (!Build(lengths + nlen, ndist, dist_)) return Fail("invalid distances set");
  return true;
}

bool DeflateTokenReader::BeginBlock() {
  if (!Need(3)) return false;
  final_ = Take(1) != 0;
  switch (Take(2)) {
    case 0: {
      Take(bit_count_ % 8);  // to the byte boundary
      if (!Need(32)) return false;
      uint32_t len = Take(16), nlen = Take(16);
      if (len != (~nlen & 0xFFFF)) return Fail("invalid stored block lengths");
      stored_left_ = len;
      state_ = kStored;
      return true;
    }
    case 1: {
      uint8_t lengths[288 + 32];
      for (int i = 0; i < 288; ++i) lengths[i] = (uint8_t)FixedLength(i);
      memset(lengths + 288, 5, 32);
      Build(lengths, 288, litlen_);
      Build(lengths + 288, 32, dist_);
      break;
    }
    case 2:
      if (!ReadDynamicHeader()) return false;
      break;
    default: return Fail("invalid block type");
  }
  ++huffman_;
  state_ = kHuffman;
  return true;
}

size_t DeflateTokenReader::Read(DeflateToken* out, size_t max) {
  size_t n = 0;
  while (n < max && state_ != kDone) {
    if (state_ == kHeader) {
      if (!BeginBlock()) break;
    } else if (state_ == kStored) {
      while (n < max && stored_left_) {
        if (!Need(8)) return n;
        out[n++] = {(uint16_t)Take(8), 0};
        --stored_left_;
        ++produced_;
      }
      if (!stored_left_) state_ = final_ ? kDone : kHeader;
    } else {
      int sym;
      if (!Decode(litlen_, sym)) break;
      if (sym < 256) {
        out[n++] = {(uint16_t)sym, 0};
        ++produced_;
      } else if (sym == kEndOfBlock) {
        state_ = final_ ? kDone : kHeader;
      } else {
        if (sym >= kLitLenSymbols) return Fail("invalid literal/length code"), n;
        if (!Need(kLengthExtra[sym - 257])) break;
        int length = kLengthBase[sym - 257] + (int)Take(kLengthExtra[sym - 257]);
        int dsym;
        if (!Decode(dist_, dsym)) break;
        if (dsym >= kDistSymbols) return Fail("invalid distance code"), n;
        if (!Need(13)) break;
        int dist = kDistBase[dsym] + (int)Take(kDistExtra[dsym]);
        if ((uint64_t)dist > produced_) return Fail("invalid distance too far back"), n;
        out[n++] = {(uint16_t)length, (uint16_t)dist};
        produced_ += length;
      }
    }
  }
  return n;
}

}  // namespace datapack
