// Helpers for the package tests: a deflate bit writer that lays out stored, fixed and dynamic
// blocks exactly (so that every block boundary, and so every progress report, is known), a
// zlib wrapper, a recording progress sink and fixture loading.
#ifndef TESTS_UNIT_TEST_UTIL_H
#define TESTS_UNIT_TEST_UTIL_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "package.h"

using Bytes = std::vector<unsigned char>;

inline Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Writes deflate's bit stream: fields least significant bit first, Huffman codes most
// significant bit first.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; i++) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; i--) Bit((code >> i) & 1);
  }
  void Align() {
    while (used_) Bit(0);
  }
  // A stored block: header bits, padding to a byte, LEN, NLEN, the bytes.
  void Stored(const Bytes& data, bool final) {
    Bits(final, 1);
    Bits(0, 2);
    Align();
    Bits((uint32_t)data.size(), 16);
    Bits(~(uint32_t)data.size() & 0xFFFF, 16);
    for (unsigned char c : data) Bits(c, 8);
  }
  // A fixed-Huffman block of literals only.
  void Fixed(const Bytes& data, bool final, bool end_of_block = true) {
    Bits(final, 1);
    Bits(1, 2);
    for (unsigned char c : data) {
      if (c < 144)
        Code(0x30 + c, 8);
      else
        Code(0x190 + (c - 144), 9);
    }
    if (end_of_block) Code(0, 7);
  }
  // A dynamic-Huffman block of literals only, with a code of its own: symbols 0..254 take
  // 8 bits, 255 and end-of-block 9 bits, one distance code of 1 bit.
  void Dynamic(const Bytes& data, bool final) {
    Bits(final, 1);
    Bits(2, 2);
    Bits(257 - 257, 5);  // HLIT: 257 length/literal codes
    Bits(1 - 1, 5);      // HDIST: 1 distance code
    Bits(18 - 4, 4);     // HCLEN: 18 code length code lengths
    // Code length code: 8 -> "0", 1 -> "10", 9 -> "11", in the format's permuted order
    // 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1.
    static const int order_len[18] = {0, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    for (int len : order_len) Bits(len, 3);
    for (int sym = 0; sym < 255; sym++) Code(0, 1);  // length 8
    Code(3, 2);                                      // 255: length 9
    Code(3, 2);                                      // 256: length 9
    Code(2, 2);                                      // distance 0: length 1
    for (unsigned char c : data) {
      if (c < 255)
        Code(c, 8);
      else
        Code(510, 9);
    }
    Code(511, 9);  // end of block
  }
  Bytes Take() {
    Align();
    return std::move(out_);
  }

 private:
  void Bit(int b) {
    if (used_ == 0) out_.push_back(0);
    out_.back() |= (unsigned char)(b << used_);
    used_ = (used_ + 1) & 7;
  }
  Bytes out_;
  int used_ = 0;
};

inline uint32_t Adler32Of(const Bytes& data) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// A zlib stream around raw deflate data whose output is `payload`.
inline Bytes ZlibWrap(const Bytes& deflate, const Bytes& payload) {
  Bytes z = {0x78, 0x01};
  z.insert(z.end(), deflate.begin(), deflate.end());
  uint32_t adler = Adler32Of(payload);
  for (int shift = 24; shift >= 0; shift -= 8) z.push_back((unsigned char)(adler >> shift));
  return z;
}

// Records every progress report.
struct Recorder {
  std::vector<std::pair<uint32_t, int>> reports;
  ProgressSink sink{&Recorder::Add, this};
  static void Add(void* ctx, uint32_t bytes_out, int end) {
    static_cast<Recorder*>(ctx)->reports.emplace_back(bytes_out, end);
  }
};

using Reports = std::vector<std::pair<uint32_t, int>>;

// An entry record: inflated size, stored size, stream.
inline Bytes EntryRecord(uint32_t declared, const Bytes& stream, uint32_t stored) {
  Bytes r(8);
  PutLE32(&r[0], declared);
  PutLE32(&r[4], stored);
  r.insert(r.end(), stream.begin(), stream.end());
  return r;
}

inline Bytes ReadFixture(const std::string& name) {
  Bytes data;
  FILE* f = fopen((std::string(TEST_DATA_DIR) + "/" + name).c_str(), "rb");
  if (!f) return data;
  int c;
  while ((c = fgetc(f)) != EOF) data.push_back((unsigned char)c);
  fclose(f);
  return data;
}

#endif
