// SHA-256 as FIPS 180-4 states it; see sha256.h. Whole blocks are hashed straight from the
// caller's buffer (setup.exe's memcpy is a plain byte loop, too slow for a whole package).
#include "sha256.h"

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t GetBE32(const unsigned char* p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

inline void PutBE32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

// The compression function over `count` whole blocks at `p`.
void HashBlocks(uint32_t* state, const unsigned char* p, size_t count) {
  for (; count; --count, p += SHA256_BLOCK) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = GetBE32(p + 4 * i);
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 =
          h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
      uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace

void Sha256Init(struct Sha256* h) {
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  for (int i = 0; i < 8; ++i) h->state[i] = kInitial[i];
  h->length = 0;
  h->pending_size = 0;
}

void Sha256Update(struct Sha256* h, const void* data, size_t size) {
  const unsigned char* p = (const unsigned char*)data;
  h->length += size;
  if (h->pending_size) {
    while (size && h->pending_size < SHA256_BLOCK) {
      h->pending[h->pending_size++] = *p++;
      --size;
    }
    if (h->pending_size < SHA256_BLOCK) return;
    HashBlocks(h->state, h->pending, 1);
    h->pending_size = 0;
  }
  size_t whole = size / SHA256_BLOCK;
  HashBlocks(h->state, p, whole);
  p += whole * SHA256_BLOCK;
  size -= whole * SHA256_BLOCK;
  while (size--) h->pending[h->pending_size++] = *p++;
}

void Sha256Final(struct Sha256* h, unsigned char digest[SHA256_SIZE]) {
  const uint64_t bits = h->length * 8;
  // A 1 bit, zeros up to 8 bytes short of a block's end, then the length in bits, big-endian;
  // a block that has no room for the length is followed by one more.
  unsigned char* pad = h->pending;
  uint32_t n = h->pending_size;
  pad[n++] = 0x80;
  if (n > SHA256_BLOCK - 8) {
    while (n < SHA256_BLOCK) pad[n++] = 0;
    HashBlocks(h->state, pad, 1);
    n = 0;
  }
  while (n < SHA256_BLOCK - 8) pad[n++] = 0;
  PutBE32(pad + 56, (uint32_t)(bits >> 32));
  PutBE32(pad + 60, (uint32_t)bits);
  HashBlocks(h->state, pad, 1);
  for (int i = 0; i < 8; ++i) PutBE32(digest + 4 * i, h->state[i]);
  h->pending_size = 0;
}

void Sha256Bytes(const void* data, size_t size, unsigned char digest[SHA256_SIZE]) {
  struct Sha256 h;
  Sha256Init(&h);
  Sha256Update(&h, data, size);
  Sha256Final(&h, digest);
}
