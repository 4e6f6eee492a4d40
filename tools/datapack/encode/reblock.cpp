#include "reblock.h"

#include <string.h>

#include <algorithm>

#include "deflate_tokens.h"

namespace datapack {

namespace {

const size_t kReblockChunk = size_t(64) << 10;          // block ends are chosen at these steps
const uint64_t kReblockBlockBytes = uint64_t(1) << 20;  // payload per Huffman-coded block
const int kMaxCodeBits = 15;          // deflate's limit for literal/length and distance codes
const int kMaxCodeLengthBits = 7;     // and for the code length code (3-bit lengths)
const size_t kMaxBlockChunks = 32;    // a block spans at most 2 MiB of payload
const size_t kWindowChunks = 1024;    // blocks are planned 64 MiB at a time
const uint64_t kReportBits = 64 * 8;  // what a Huffman-coded block must save to be one

// Symbol counts of a run of tokens, zero when value-initialised (Histogram()). End-of-block
// is not counted: every block has one.
struct Histogram {
  uint32_t litlen[kLitLenSymbols];
  uint32_t dist[kDistSymbols];
  uint64_t extra_bits;  // of lengths and distances: the same in any block layout
  uint64_t tokens;

  void Add(const Histogram& h) {
    for (int i = 0; i < kLitLenSymbols; ++i) litlen[i] += h.litlen[i];
    for (int i = 0; i < kDistSymbols; ++i) dist[i] += h.dist[i];
    extra_bits += h.extra_bits;
    tokens += h.tokens;
  }
  void Count(const DeflateToken& t) {
    ++tokens;
    if (!t.dist) {
      ++litlen[t.litlen];
      return;
    }
    int ls = LengthSymbol(t.litlen), ds = DistanceSymbol(t.dist);
    ++litlen[ls];
    ++dist[ds];
    extra_bits += LengthExtraBits(ls) + DistanceExtraBits(ds);
  }
};

// A dynamic block's codes: lengths as sent, and the header that sends them.
struct DynamicCode {
  uint8_t lengths[kLitLenSymbols + kDistSymbols];  // literal/length, then distance
  int nlen, ndist;                                 // HLIT + 257, HDIST + 1
  uint8_t cl[19];                                  // the code length code
  int ncl;                                         // HCLEN + 4
};

// Gives a code of fewer than two used symbols a second one (and a first): two codes of
// length 1 make a complete code, which every inflater takes; zlib's encoder does the same.
void AtLeastTwoCodes(uint8_t* lengths, int n, int preferred) {
  int used = 0;
  for (int i = 0; i < n; ++i) used += lengths[i] != 0;
  if (used >= 2) return;
  if (!lengths[preferred]) lengths[preferred] = 1, ++used;
  for (int i = 0; used < 2; ++i)
    if (!lengths[i]) lengths[i] = 1, ++used;
}

// Deflate's run-length coding of the code lengths, HLIT + HDIST values as one sequence:
// emit(symbol 0..18, extra bits value).
template <typename Emit>
void RunLengths(const uint8_t* v, int total, Emit emit) {
  for (int i = 0; i < total;) {
    int run = 1;
    while (i + run < total && v[i + run] == v[i]) ++run;
    int left = run;
    if (v[i] == 0) {
      for (; left >= 11; left -= std::min(left, 138)) emit(18, std::min(left, 138) - 11);
      if (left >= 3) emit(17, left - 3), left = 0;
    } else {
      emit(v[i], 0), --left;
      for (; left >= 3; left -= std::min(left, 6)) emit(16, std::min(left, 6) - 3);
    }
    for (; left > 0; --left) emit(v[i], 0);
    i += run;
  }
}

// Builds `code` for the counts `h`; returns the block's size in bits, header included.
uint64_t PlanDynamic(const Histogram& h, DynamicCode& code) {
  uint32_t lit[kLitLenSymbols];
  memcpy(lit, h.litlen, sizeof lit);
  lit[kEndOfBlock] = 1;
  uint8_t* ll = code.lengths;
  uint8_t dl[kDistSymbols];
  LimitedCodeLengths(lit, kLitLenSymbols, kMaxCodeBits, ll);
  LimitedCodeLengths(h.dist, kDistSymbols, kMaxCodeBits, dl);
  AtLeastTwoCodes(ll, kLitLenSymbols, kEndOfBlock);
  AtLeastTwoCodes(dl, kDistSymbols, 0);
  code.nlen = kLitLenSymbols;
  while (ll[code.nlen - 1] == 0) --code.nlen;  // never below 257: end-of-block has a code
  code.ndist = kDistSymbols;
  while (dl[code.ndist - 1] == 0) --code.ndist;
  memcpy(ll + code.nlen, dl, code.ndist);

  uint32_t cl_counts[19] = {0};
  RunLengths(ll, code.nlen + code.ndist, [&](int s, int) { ++cl_counts[s]; });
  LimitedCodeLengths(cl_counts, 19, kMaxCodeLengthBits, code.cl);
  AtLeastTwoCodes(code.cl, 19, 0);
  code.ncl = 19;
  while (code.ncl > 4 && code.cl[kCodeLengthOrder[code.ncl - 1]] == 0) --code.ncl;

  uint64_t bits = 3 + 5 + 5 + 4 + 3 * (uint64_t)code.ncl + h.extra_bits;
  for (int s = 0; s < 19; ++s)
    bits += (uint64_t)cl_counts[s] * (code.cl[s] + CodeLengthExtraBits(s));
  for (int s = 0; s < kLitLenSymbols; ++s) bits += (uint64_t)lit[s] * ll[s];
  for (int s = 0; s < kDistSymbols; ++s) bits += (uint64_t)h.dist[s] * dl[s];
  return bits;
}

uint64_t FixedBits(const Histogram& h) {
  uint64_t bits = 3 + 7 + h.extra_bits;  // header, end-of-block
  for (int s = 0; s < kLitLenSymbols; ++s) bits += (uint64_t)h.litlen[s] * FixedLength(s);
  for (int s = 0; s < kDistSymbols; ++s) bits += (uint64_t)h.dist[s] * 5;
  return bits;
}

// Stored blocks of 65535 bytes at most, 5 header bytes each, and about one byte of padding.
uint64_t StoredBits(uint64_t bytes) {
  uint64_t blocks = bytes ? (bytes + 65534) / 65535 : 1;
  return 8 * bytes + 40 * blocks + 8;
}

enum BlockKind : uint8_t { kStoredBlock, kFixedBlock, kDynamicBlock };  // deflate's BTYPE

struct Segment {
  size_t first, end;  // chunks [first, end)
  BlockKind kind;
};

// The cheapest layout of chunks [0, n) of `chunks` with at most `budget` Huffman-coded
// blocks, each block at most kMaxBlockChunks chunks; appended to `out` (chunk numbers
// offset by `base`). `starts[c]` is the payload offset where chunk c's tokens begin.
void PlanWindow(const Histogram* chunks, const uint64_t* starts, size_t n, uint32_t budget,
                size_t base, std::vector<Segment>& out) {
  const size_t width = n + 1;
  const uint64_t kNone = UINT64_MAX;
  // cost[b * width + j]: fewest bits for chunks [0, j) with at most b Huffman-coded blocks.
  std::vector<uint64_t> cost((budget + 1) * width, kNone);
  std::vector<uint32_t> from((budget + 1) * width, 0);
  std::vector<uint8_t> kind((budget + 1) * width, kStoredBlock);
  for (uint32_t b = 0; b <= budget; ++b) cost[b * width] = 0;
  DynamicCode code;
  for (size_t j = 1; j <= n; ++j) {
    Histogram h = Histogram();
    for (size_t i = j; i-- > 0 && j - i <= kMaxBlockChunks;) {
      h.Add(chunks[i]);
      const uint64_t stored = StoredBits(starts[j] - starts[i]);
      uint64_t huffman = PlanDynamic(h, code);
      BlockKind hk = kDynamicBlock;
      const uint64_t fixed = FixedBits(h);
      if (fixed < huffman) huffman = fixed, hk = kFixedBlock;
      huffman += kReportBits;
      // Chunks [i, j) as one more block after the best layout of [0, i) with `before` bits.
      auto consider = [&](uint32_t b, uint64_t before, uint64_t bits, BlockKind k) {
        if (before == kNone || before + bits >= cost[b * width + j]) return;
        cost[b * width + j] = before + bits;
        from[b * width + j] = (uint32_t)i;
        kind[b * width + j] = k;
      };
      for (uint32_t b = 0; b <= budget; ++b) {
        consider(b, cost[b * width + i], stored, kStoredBlock);  // takes none of the budget
        if (b) consider(b, cost[(b - 1) * width + i], huffman, hk);
      }
    }
  }
  std::vector<Segment> plan;
  uint32_t b = budget;
  for (size_t j = n; j > 0;) {
    const size_t i = from[b * width + j];
    const BlockKind k = (BlockKind)kind[b * width + j];
    plan.push_back({base + i, base + j, k});
    if (k != kStoredBlock) --b;
    j = i;
  }
  out.insert(out.end(), plan.rbegin(), plan.rend());
}

// Hands out the tokens of a stream one by one, read a batch at a time.
struct TokenSource {
  DeflateTokenReader reader;
  DeflateToken batch[4096];
  size_t have = 0, at = 0;
  TokenSource(const unsigned char* data, size_t size) : reader(data, size) {}
  bool Next(DeflateToken& t) {
    if (at == have) {
      have = reader.Read(batch, sizeof batch / sizeof batch[0]);
      at = 0;
      if (!have) return false;
    }
    t = batch[at++];
    return true;
  }
};

// Writes `tokens` tokens from `src` with the given codes (literal/length codes over 286
// symbols, distance codes over 30), then end-of-block.
bool WriteTokens(TokenSource& src, uint64_t tokens, const uint8_t* ll, const uint16_t* lc,
                 const uint8_t* dl, const uint16_t* dc, BitSink& w) {
  DeflateToken t;
  for (uint64_t k = 0; k < tokens; ++k) {
    if (!src.Next(t)) return false;
    if (!t.dist) {
      w.Put(lc[t.litlen], ll[t.litlen]);
      continue;
    }
    const int ls = LengthSymbol(t.litlen), ds = DistanceSymbol(t.dist);
    w.Put(lc[ls], ll[ls]);
    w.Put(t.litlen - LengthBase(ls), LengthExtraBits(ls));
    w.Put(dc[ds], dl[ds]);
    w.Put(t.dist - DistanceBase(ds), DistanceExtraBits(ds));
  }
  w.Put(lc[kEndOfBlock], ll[kEndOfBlock]);
  return true;
}

}  // namespace

uint32_t ReblockBudget(uint64_t size) {
  uint64_t blocks = (size + kReblockBlockBytes - 1) / kReblockBlockBytes;
  return (uint32_t)std::max<uint64_t>(1, blocks);
}

void LimitedCodeLengths(const uint32_t* counts, int n, int limit, uint8_t* lengths) {
  memset(lengths, 0, (size_t)n);
  // Used symbols by count, then by symbol: ties broken the same way everywhere.
  std::vector<std::pair<uint32_t, int>> leaves;
  leaves.reserve((size_t)n);
  for (int s = 0; s < n; ++s)
    if (counts[s]) leaves.push_back({counts[s], s});
  const size_t m = leaves.size();
  if (m == 0) return;
  if (m == 1) {
    lengths[leaves[0].second] = 1;
    return;
  }
  std::sort(leaves.begin(), leaves.end());
  // Package-merge: level `limit` (deepest) holds the leaves; each level above holds the
  // leaves merged with pairs of the level below. The 2m - 2 cheapest items of the top level
  // decide every length: an item taken at a level takes its two children at the next one,
  // and a leaf's length is the number of levels where it is taken.
  std::vector<std::vector<uint64_t>> weight(limit);
  std::vector<std::vector<uint8_t>> is_leaf(limit);
  // A level holds the m leaves and at most m - 1 packages: room for all of them at once,
  // since this runs for every block the layout weighs.
  for (int level = 0; level < limit; ++level) {
    weight[level].reserve(2 * m);
    is_leaf[level].reserve(2 * m);
  }
  for (size_t i = 0; i < m; ++i) weight[limit - 1].push_back(leaves[i].first);
  is_leaf[limit - 1].assign(m, 1);
  for (int level = limit - 2; level >= 0; --level) {
    const std::vector<uint64_t>& below = weight[level + 1];
    size_t li = 0, pi = 0;
    const size_t packages = below.size() / 2;
    while (li < m || pi < packages) {
      uint64_t pw = pi < packages ? below[2 * pi] + below[2 * pi + 1] : UINT64_MAX;
      if (li < m && leaves[li].first <= pw) {
        weight[level].push_back(leaves[li++].first);
        is_leaf[level].push_back(1);
      } else {
        weight[level].push_back(pw);
        is_leaf[level].push_back(0);
        ++pi;
      }
    }
  }
  size_t take = 2 * m - 2;
  for (int level = 0; level < limit && take; ++level) {
    size_t leaf_count = 0;
    for (size_t i = 0; i < take; ++i) leaf_count += is_leaf[level][i];
    for (size_t i = 0; i < leaf_count; ++i) lengths[leaves[i].second]++;
    take = 2 * (take - leaf_count);
  }
}

bool ReblockZlibStream(const unsigned char* payload, size_t size, const unsigned char* z,
                       size_t z_size, std::vector<unsigned char>& out, uint32_t* zlib_blocks,
                       uint32_t* blocks, std::string& error) {
  out.clear();
  if (z_size < 2 + 4 || (z[0] & 0x0F) != 8 || (z[0] >> 4) > 7 || ((z[0] << 8) | z[1]) % 31 != 0 ||
      (z[1] & 0x20)) {
    error = "not a zlib stream without a dictionary";
    return false;
  }
  // Pass 1: the counts of every 64 KiB chunk, a chunk holding the tokens that start in it.
  const size_t nchunks = size ? (size + kReblockChunk - 1) / kReblockChunk : 0;
  std::vector<Histogram> chunks(nchunks);
  std::vector<uint64_t> starts(nchunks + 1, size);  // where each chunk's first token starts
  {
    TokenSource src(z + 2, z_size - 2);
    const DeflateTokenReader& r = src.reader;
    size_t filled = 0;  // chunks whose start is known
    uint64_t pos = 0;
    for (DeflateToken t; src.Next(t); pos += t.dist ? t.litlen : 1) {
      const size_t c = (size_t)(pos / kReblockChunk);
      if (c >= nchunks) continue;  // more than `size` bytes: refused below
      for (; filled <= c; ++filled) starts[filled] = pos;
      chunks[c].Count(t);
    }
    if (r.failed() || !r.done() || r.produced() != size || 2 + r.used() + 4 != z_size) {
      error = r.failed() ? std::string("cannot read the zlib stream: ") + r.error()
                         : "the zlib stream does not hold the payload";
      return false;
    }
    if (zlib_blocks) *zlib_blocks = r.huffman_blocks();
  }

  // The layout: windows of 64 MiB, each with its share of the budget (they are whole MiB
  // but the last, so the shares add up to the entry's budget).
  std::vector<Segment> plan;
  for (size_t w = 0; w < nchunks; w += kWindowChunks) {
    const size_t n = std::min(kWindowChunks, nchunks - w);
    PlanWindow(
        chunks.data() + w, starts.data() + w, n,
        ReblockBudget(std::min<uint64_t>(size - w * kReblockChunk, kWindowChunks * kReblockChunk)),
        w, plan);
  }

  // Pass 2: write it, reading the tokens again (keeping them would take 4 bytes per token).
  out.assign(z, z + 2);
  out.reserve(z_size);  // the rewrite is about as long as zlib's stream
  BitSink w{out};
  TokenSource src(z + 2, z_size - 2);
  if (plan.empty()) w.StoredHeader(true, 0);  // nothing to hold: one empty stored block
  for (size_t s = 0; s < plan.size(); ++s) {
    const Segment& seg = plan[s];
    const bool last = s + 1 == plan.size();
    Histogram h = Histogram();
    for (size_t c = seg.first; c < seg.end; ++c) h.Add(chunks[c]);
    if (seg.kind == kStoredBlock) {
      DeflateToken t;
      for (uint64_t k = 0; k < h.tokens; ++k)
        if (!src.Next(t)) break;
      uint64_t at = starts[seg.first];
      const uint64_t end = starts[seg.end];
      do {
        const uint32_t len = (uint32_t)std::min<uint64_t>(end - at, 65535);
        w.StoredHeader(last && at + len == end, len);
        out.insert(out.end(), payload + at, payload + at + len);
        at += len;
      } while (at < end);
      continue;
    }
    // Room for the fixed code's 288 and 32 symbols: its unused 286 and 287 have length 8,
    // which moves every length-9 code.
    uint8_t ll[288 + kDistSymbols] = {0}, dl[32] = {0};
    uint16_t lc[288], dc[32];
    w.Put(last ? 1 : 0, 1);
    w.Put(seg.kind, 2);
    if (seg.kind == kFixedBlock) {
      for (int i = 0; i < 288; ++i) ll[i] = (uint8_t)FixedLength(i);
      for (int i = 0; i < 32; ++i) dl[i] = 5;
    } else {
      DynamicCode code;
      PlanDynamic(h, code);
      memcpy(ll, code.lengths, (size_t)code.nlen);
      memcpy(dl, code.lengths + code.nlen, (size_t)code.ndist);
      w.Put((uint32_t)(code.nlen - 257), 5);
      w.Put((uint32_t)(code.ndist - 1), 5);
      w.Put((uint32_t)(code.ncl - 4), 4);
      for (int i = 0; i < code.ncl; ++i) w.Put(code.cl[kCodeLengthOrder[i]], 3);
      uint16_t clc[19];
      CanonicalCodes(code.cl, 19, clc);
      RunLengths(code.lengths, code.nlen + code.ndist, [&](int sym, int extra) {
        w.Put(clc[sym], code.cl[sym]);
        w.Put((uint32_t)extra, CodeLengthExtraBits(sym));
      });
    }
    CanonicalCodes(ll, 288, lc);  // a dynamic code's lengths end in zeros: no codes there
    CanonicalCodes(dl, 32, dc);
    if (!WriteTokens(src, h.tokens, ll, lc, dl, dc, w)) {
      error = "the zlib stream reads differently the second time";
      return false;
    }
  }
  w.Align();
  if (blocks) {
    *blocks = 0;
    for (const Segment& seg : plan) *blocks += seg.kind != kStoredBlock;
  }
  out.insert(out.end(), z + z_size - 4, z + z_size);  // zlib's Adler-32 of the same payload
  return true;
}

}  // namespace datapack
