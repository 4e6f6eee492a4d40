// setup.exe's memory and string routines (window/cstring.c) against the host's C library:
// every overlap of a move in both directions, and comparisons whose bytes lie at and above
// 0x80, where a signed char would order them below plain ASCII.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

extern "C" {
void* setup_memmove(void* dst, const void* src, size_t n);
void* setup_memcpy(void* dst, const void* src, size_t n);
void* setup_memset(void* dst, int c, size_t n);
int setup_memcmp(const void* a, const void* b, size_t n);
size_t setup_strlen(const char* s);
int setup_strcmp(const char* a, const char* b);
}

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(SetupCString, MoveAndCopyMatchTheCLibraryAtEveryOverlap) {
  enum { SIZE = 40 };
  unsigned char start[SIZE];
  for (int i = 0; i < SIZE; i++) start[i] = (unsigned char)(i * 37 + 11);
  for (size_t n = 0; n <= 24; n++)
    for (size_t from = 0; from + n <= SIZE; from++)
      for (size_t to = 0; to + n <= SIZE; to++) {
        unsigned char ours[SIZE], theirs[SIZE];
        memcpy(ours, start, SIZE);
        memcpy(theirs, start, SIZE);
        ASSERT_EQ(setup_memmove(ours + to, ours + from, n), ours + to);
        memmove(theirs + to, theirs + from, n);
        ASSERT_EQ(memcmp(ours, theirs, SIZE), 0) << n << " bytes from " << from << " to " << to;
      }
  unsigned char src[SIZE], ours[SIZE + 2], theirs[SIZE + 2];
  for (int i = 0; i < SIZE; i++) src[i] = (unsigned char)(0xF0 - i);
  memset(ours, 0x5A, sizeof ours);
  memset(theirs, 0x5A, sizeof theirs);
  ASSERT_EQ(setup_memcpy(ours + 1, src, SIZE), ours + 1);
  memcpy(theirs + 1, src, SIZE);
  EXPECT_EQ(memcmp(ours, theirs, sizeof ours), 0);
  ASSERT_EQ(setup_memset(ours + 1, 0x1FF, 7), ours + 1);  // only the low byte is written
  memset(theirs + 1, 0x1FF, 7);
  EXPECT_EQ(memcmp(ours, theirs, sizeof ours), 0);
}

TEST(SetupCString, ComparisonsOrderBytesAsUnsignedLikeTheCLibrary) {
  const unsigned char bytes[] = {0x00, 0x01, 0x41, 0x7E, 0x7F, 0x80, 0x81, 0xC4, 0xFE, 0xFF};
  for (unsigned char a : bytes)
    for (unsigned char b : bytes) {
      // The difference in the middle, after an equal first byte, and again as strings.
      const unsigned char x[3] = {'s', a, 'z'}, y[3] = {'s', b, 'a'};
      EXPECT_EQ(Sign(setup_memcmp(x, y, 3)), Sign(memcmp(x, y, 3))) << +a << " " << +b;
      EXPECT_EQ(Sign(setup_memcmp(x, y, 1)), 0);
      const std::string s = std::string("s") + (char)a + "z", t = std::string("s") + (char)b;
      EXPECT_EQ(Sign(setup_strcmp(s.c_str(), t.c_str())), Sign(strcmp(s.c_str(), t.c_str())))
          << +a << " " << +b;
      EXPECT_EQ(setup_strlen(s.c_str()), strlen(s.c_str()));
    }
}

}  // namespace
