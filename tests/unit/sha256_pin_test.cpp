// SHA-256 against the published vectors and, for every length from 0 to 130 bytes, against
// Python's hashlib; the pin resource and the check of a package against it.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "bytereader.h"
#include "pin.h"
#include "sha256.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string Hex(const unsigned char* d, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[d[i] >> 4];
    s += kDigits[d[i] & 15];
  }
  return s;
}

std::string Sha(const Bytes& data) {
  unsigned char d[SHA256_SIZE];
  Sha256Bytes(data.data(), data.size(), d);
  return Hex(d, sizeof d);
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Byte i of the lengths test: every value, not a repeating pattern of block size.
unsigned char PatternByte(size_t i) { return (unsigned char)(i * 167 + 13); }

TEST(Sha256, PublishedVectors) {
  const struct {
    Bytes data;
    const char* digest;
  } cases[] = {
      {Text(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {Text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),  // 448 bits
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {Text("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
            "klmnopqrlmnopqrsmnopqrstnopqrstu"),  // 896 bits
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {Bytes(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Sha(c.data), c.digest) << c.data.size() << " bytes";
}

TEST(Sha256, EveryLengthUpTo130BytesMatchesHashlib) {
  // Lengths around one and two blocks cross every padding case: the length field fits after
  // the 1 bit (up to 55 bytes in the last block), or needs a block of its own.
  FILE* p = popen(
      "python3 -c 'import hashlib\n"
      "for n in range(131): print(hashlib.sha256(bytes((i * 167 + 13) % 256 for i in "
      "range(n))).hexdigest())'",
      "r");
  ASSERT_NE(p, nullptr);
  std::vector<std::string> expected;
  char line[128];
  while (fgets(line, sizeof line, p)) expected.push_back(std::string(line, 64));
  ASSERT_EQ(pclose(p), 0) << "python3 with hashlib is needed as the reference";
  ASSERT_EQ(expected.size(), 131u);
  Bytes data;
  for (size_t n = 0; n <= 130; ++n) {
    EXPECT_EQ(Sha(data), expected[n]) << n << " bytes";
    data.push_back(PatternByte(n));
  }
}

TEST(Sha256, PiecesOfAnySizeGiveTheWholeDigest) {
  Bytes data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = PatternByte(i);
  const std::string whole = Sha(data);
  for (size_t piece : {1u, 3u, 63u, 64u, 65u, 130u, 999u}) {
    Sha256 h;
    Sha256Init(&h);
    for (size_t at = 0; at < data.size(); at += piece)
      Sha256Update(&h, data.data() + at, std::min(piece, data.size() - at));
    unsigned char d[SHA256_SIZE];
    Sha256Final(&h, d);
    EXPECT_EQ(Hex(d, sizeof d), whole) << "pieces of " << piece;
  }
}

PackagePin PinOf(const Bytes& data) {
  PackagePin pin;
  pin.length = data.size();
  Sha256Bytes(data.data(), data.size(), pin.digest);
  return pin;
}

TEST(PackagePin, ResourceRoundTripAndDamage) {
  const PackagePin pin = PinOf(Text("ZK\0\2 a package"));
  unsigned char res[PIN_RESOURCE_SIZE];
  FormatPackagePin(&pin, res);
  EXPECT_EQ(std::string((const char*)res, 4), "ZKPN");
  PackagePin back{};
  ASSERT_EQ(ParsePackagePin(res, sizeof res, &back), 1);
  EXPECT_EQ(back.length, pin.length);
  EXPECT_EQ(Hex(back.digest, 32), Hex(pin.digest, 32));

  struct {
    size_t at;
    unsigned char value;
    size_t size;
    const char* what;
  } damage[] = {{0, 'X', PIN_RESOURCE_SIZE, "signature"},
                {PIN_ALGORITHM_AT, 2, PIN_RESOURCE_SIZE, "unknown algorithm"},
                {0, 'Z', PIN_RESOURCE_SIZE - 1, "one byte short"},
                {0, 'Z', PIN_RESOURCE_SIZE + 1, "one byte long"}};
  for (const auto& d : damage) {
    Bytes copy(res, res + sizeof res);
    copy.push_back(0);
    copy[d.at] = d.value;
    EXPECT_EQ(ParsePackagePin(copy.data(), d.size, &back), 0) << d.what;
  }
}

int MatchesPin(const Bytes& data, const PackagePin& pin, int fail_at = -1) {
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, data.data(), data.size());
  m.fail_at = fail_at;
  return PackageMatchesPin(&r, &pin, nullptr);
}

TEST(PackagePin, OnlyThePinnedBytesMatch) {
  // Larger than the check's read piece, so that a change past the first piece must be seen.
  Bytes package(200000);
  for (size_t i = 0; i < package.size(); ++i) package[i] = PatternByte(i);
  const PackagePin pin = PinOf(package);
  EXPECT_EQ(MatchesPin(package, pin), 1);

  for (size_t at : {size_t(0), size_t(70000), package.size() - 1}) {
    Bytes changed = package;
    changed[at] ^= 1;
    EXPECT_EQ(MatchesPin(changed, pin), 0) << "byte " << at << " changed";
  }
  Bytes longer = package;
  longer.push_back(0);
  EXPECT_EQ(MatchesPin(longer, pin), 0) << "one byte appended";
  Bytes shorter(package.begin(), package.end() - 1);
  EXPECT_EQ(MatchesPin(shorter, pin), 0) << "one byte cut";
  EXPECT_EQ(MatchesPin(package, pin, 150000), 0) << "a read failure";

  // The length alone decides nothing: same length, other bytes.
  PackagePin other = pin;
  other.digest[31] ^= 0x80;
  EXPECT_EQ(MatchesPin(package, other), 0);
}

}  // namespace
