// The list file: line endings, limits, values, fields, numbers, names, whole lists.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "listfile.h"

namespace {

struct Text {
  std::string data;
  MemoryReader m;
  ByteReader r;
  explicit Text(std::string s, int fail_at = -1) : data(std::move(s)) {
    InitMemoryReader(&m, &r, data.data(), data.size());
    m.fail_at = fail_at;
  }
};

// The lines of a list: seven unused ones, the sizes, the count, then the support lines.
std::vector<std::string> ListLines(const std::string& count, std::vector<std::string> names) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 7; i++)
    lines.push_back("Key" + std::to_string(i) + "=unused " + std::to_string(i));
  lines.push_back("Size1=1000");
  lines.push_back("Size2=  3000");
  lines.push_back("Count=" + count);
  for (const std::string& n : names) lines.push_back("File=" + n);
  return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& eol) {
  std::string s;
  for (const std::string& l : lines) s += l + eol;
  return s;
}

TEST(ListLine, EndingsAndEnd) {
  Text t("a\r\rb\n\nc\r\nd\n\re\rf\ng");
  const char* want[] = {"a", "", "b", "", "c", "d", "e", "f"};
  char line[LIST_BUFFER_SIZE];
  for (const char* w : want) {
    ASSERT_EQ(ReadListLine(&t.r, line), 1);
    EXPECT_STREQ(line, w);
  }
  EXPECT_EQ(ReadListLine(&t.r, line), 0) << "a last line without an ending is not returned";
  EXPECT_STREQ(line, "");

  Text ends_in_cr("last\r");
  ASSERT_EQ(ReadListLine(&ends_in_cr.r, line), 1);
  EXPECT_STREQ(line, "last");
  EXPECT_EQ(ReadListLine(&ends_in_cr.r, line), 0);

  Text fails_after_ending("x1\ny", 3);
  EXPECT_EQ(ReadListLine(&fails_after_ending.r, line), 0);
  EXPECT_STREQ(line, "x1") << "the line stays when the read after its ending fails";
  Text fails_inside("abc\n", 2);
  EXPECT_EQ(ReadListLine(&fails_inside.r, line), 0);
  EXPECT_STREQ(line, "");
  // The byte after a lone LF starts the next line; where it cannot be given back, that
  // line would lose its first character, so the read fails. A CR LF pair needs no step back.
  for (const char* text : {"x1\ny=2\n", "x1\r\ny=2\n"}) {
    Text no_back(text);
    no_back.r.back = [](void*) { return 0; };
    EXPECT_EQ(ReadListLine(&no_back.r, line), text[2] == '\r' ? 1 : 0) << text;
    EXPECT_STREQ(line, "x1");
  }
}

TEST(ListLine, LengthLimitNeverOverruns) {
  for (size_t len : {518, 519, 520, 2000}) {
    SCOPED_TRACE(len);
    Text t(std::string(len, 'x') + "\r\nnext=1\r\n");
    char buf[LIST_BUFFER_SIZE + 16];
    memset(buf, 0x5A, sizeof buf);
    int ok = ReadListLine(&t.r, buf);
    EXPECT_EQ(ok, len <= LIST_LINE_MAX ? 1 : 0);
    EXPECT_EQ(strlen(buf), ok ? len : 0u);
    for (size_t i = LIST_BUFFER_SIZE; i < sizeof buf; i++) ASSERT_EQ(buf[i], 0x5A);
  }
}

TEST(ListValue, KeepsTextAfterFirstEquals) {
  struct {
    const char* text;
    int ok;
    const char* value;
  } cases[] = {
      {"key=value\n", 1, "value"}, {"k=a=b\n", 1, "a=b"}, {"=\n", 1, ""},
      {"novalue\n", 0, nullptr},   {"\n", 0, nullptr},    {"k=v", 0, nullptr},
  };
  for (const auto& c : cases) {
    Text t(c.text);
    char line[LIST_BUFFER_SIZE];
    EXPECT_EQ(ReadListValue(&t.r, line), c.ok) << c.text;
    if (c.ok) {
      EXPECT_STREQ(line, c.value);
    }
  }
}

TEST(ListFields, SplitAndFind) {
  char field[LIST_FIELD_SIZE], rest[LIST_BUFFER_SIZE];
  strcpy(rest, "x,readme.txt,1234");
  ASSERT_EQ(SplitField(field, rest), 1);
  EXPECT_STREQ(field, "x");
  EXPECT_STREQ(rest, "readme.txt,1234");
  strcpy(rest, "single");
  ASSERT_EQ(SplitField(field, rest), 1);
  EXPECT_STREQ(field, "single");
  EXPECT_STREQ(rest, "");

  const std::string f27(27, 'f');
  strcpy(rest, (f27 + ",r").c_str());
  ASSERT_EQ(SplitField(field, rest), 1);
  EXPECT_EQ(field, f27);
  strcpy(field, "kept");
  strcpy(rest, (f27 + "f,r").c_str());
  EXPECT_EQ(SplitField(field, rest), 0);
  EXPECT_STREQ(field, "kept");
  EXPECT_EQ(rest, f27 + "f,r");

  EXPECT_EQ(FindChar("a,b,c", ',', 0), 1);
  EXPECT_EQ(FindChar("a,b,c", ',', 1), 3);
  EXPECT_EQ(FindChar("abc", ',', 0), -1);
  EXPECT_EQ(FindChar("", ',', 1), -1);
}

TEST(ListNumber, WrapsLikeThirtyTwoBits) {
  struct {
    const char* text;
    uint32_t value;
  } cases[] = {
      {"42", 42},
      {" 42abc", 42},
      {"-5", 0u - 5u},
      {"abc", 0},
      {"", 0},
      {"+7", 7},
      {"\t\n\v\f\r 9", 9},
      {"- 5", 0},
      {"--5", 0},
      {"12 34", 12},
      {"4294967295", 0xFFFFFFFFu},
      {"4294967296", 0},
      {"99999999999", 1215752191u},
      {"-4294967295", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseListNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(SupportName, TakesSecondFieldAndRefusesUnsafe) {
  const std::string n25(25, 'n'), f27(27, 'f');
  struct {
    std::string value;
    int ok;
    const char* name;
  } cases[] = {
      {"x,readme.txt,1234", 1, "readme.txt"},
      {"x,my file.txt", 1, "my"},
      {"no comma", 1, ""},
      {"x,", 1, ""},
      {"x," + n25, 1, n25.c_str()},
      {"x," + n25 + "n", 0, nullptr},
      {"x," + n25 + " a", 1, n25.c_str()},
      {"x," + n25 + " and more", 0, nullptr},  // the field overflows before the cut
      {f27 + ",a.dll", 1, "a.dll"},
      {f27 + "f,a.dll", 0, nullptr},
      {"x," + f27, 0, nullptr},        // fits the field, not the slot
      {"x," + f27 + "f", 0, nullptr},  // too long for the field before the cut
      {"x,...", 1, "..."},
      {"x,..\\evil.exe", 0, nullptr},
      {"x,sub/f.txt", 0, nullptr},
      {"x,C:f.txt", 0, nullptr},
      {"x,f.txt:stream", 0, nullptr},
      {"x,.", 0, nullptr},
      {"x,..", 0, nullptr},
      {"x,.. rest", 0, nullptr},
      // Windows opens device names as the device in any folder, with any extension.
      {"x,NUL", 0, nullptr},
      {"x,aux", 0, nullptr},
      {"x,Com1.bin", 0, nullptr},
      {"x,lpt9.txt.gz", 0, nullptr},
      {"x,con.", 0, nullptr},
      {"x,PRN..", 0, nullptr},
      {"x,COM0", 1, "COM0"},
      {"x,com10.bin", 1, "com10.bin"},
      {"x,CONSOLE", 1, "CONSOLE"},
      {"x,nul_.txt", 1, "nul_.txt"},
      {"x,.nul", 1, ".nul"},
      {"x,lpt", 1, "lpt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    char value[LIST_BUFFER_SIZE];
    char slots[2][SUPPORT_SLOT_SIZE];
    memset(slots, 0x5A, sizeof slots);
    strcpy(value, c.value.c_str());
    EXPECT_EQ(TakeSupportName(value, slots[0]), c.ok);
    if (c.ok) {
      EXPECT_STREQ(slots[0], c.name);
    }
    for (int i = 0; i < SUPPORT_SLOT_SIZE; i++) ASSERT_EQ(slots[1][i], 0x5A);
  }
  EXPECT_EQ(IsPlainFileName(""), 0);
  EXPECT_EQ(IsPlainFileName("a.txt"), 1);
  // Spaces never reach a name from a list (it is cut at the first), but the rule trims
  // them as Windows does.
  for (const char* device : {"NUL ", "aux. .", "NUL .txt", "Com1 .bin", "lPt5 . "})
    EXPECT_EQ(IsPlainFileName(device), 0) << '"' << device << '"';
  EXPECT_EQ(IsPlainFileName("N UL"), 1);
}

// A whole list read through the steps, as far as they go.
struct WholeList {
  ListReader l;
  int error;
  std::vector<std::string> names;
  explicit WholeList(ByteReader* r) {
    StartListReader(&l, r);
    error = ReadListSizes(&l);
    if (error == LIST_OK) error = ReadListCount(&l);
    for (uint32_t i = 0; error == LIST_OK && i < l.slots; i++) {
      char slot[SUPPORT_SLOT_SIZE];
      error = ReadListName(&l, slot);
      if (error == LIST_OK) names.push_back(slot);
    }
  }
};

TEST(ListReader, SameResultForEveryLineEnding) {
  for (const char* eol : {"\r\n", "\n", "\r", "\n\r"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(eol)));
    Text t(Join(ListLines("2", {"a,one.dll,1", "b,two.txt"}), eol) + "trailing garbage");
    WholeList w(&t.r);
    ASSERT_EQ(w.error, LIST_OK) << w.l.line;
    EXPECT_EQ(w.l.size1, 1000u);
    EXPECT_EQ(w.l.size2, 3000u);
    EXPECT_EQ(w.l.expected, 4000u);
    EXPECT_EQ(w.l.count, 2);
    EXPECT_EQ(w.names, (std::vector<std::string>{"one.dll", "two.txt"}));
    EXPECT_EQ(w.l.line, 12u);
  }
}

TEST(ListReader, MalformedLists) {
  auto with = [](int line, const std::string& text) {
    std::vector<std::string> l = ListLines("2", {"a,one.dll", "b,two.dll"});
    l[line - 1] = text;
    return Join(l, "\r\n");
  };
  std::string full = Join(ListLines("2", {"a,one.dll", "b,two.dll"}), "\r\n");
  struct {
    std::string text;
    int error;
    uint32_t line;
  } cases[] = {
      {"", LIST_UNREADABLE_LINE, 1},
      {with(3, ""), LIST_NO_EQUALS, 3},
      {with(8, "no equals"), LIST_NO_EQUALS, 8},
      {with(5, std::string(520, 'k') + "=1"), LIST_UNREADABLE_LINE, 5},
      {with(10, "Count=0"), LIST_ZERO_COUNT, 10},
      {with(10, "Count=none"), LIST_ZERO_COUNT, 10},
      {with(12, ""), LIST_NO_EQUALS, 12},
      {with(11, "File=a,..\\up.dll"), LIST_BAD_NAME, 11},
      {with(12, "File=a," + std::string(26, 'n')), LIST_BAD_NAME, 12},
      {full.substr(0, full.size() - 2), LIST_UNREADABLE_LINE, 12},  // last line unterminated
      {Join(ListLines("3", {"a,one.dll", "b,two.dll"}), "\n"), LIST_UNREADABLE_LINE, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Text t(c.text);
    WholeList w(&t.r);
    EXPECT_EQ(w.error, c.error);
    EXPECT_EQ(w.l.line, c.line);
  }
}

TEST(ListReader, CountsAndSizes) {
  // A negative count names no support files; the sizes wrap when added.
  std::vector<std::string> l = ListLines("-3", {});
  l[7] = "Size1=4294967295";
  l[8] = "Size2=2";
  Text t(Join(l, "\n"));
  WholeList negative(&t.r);
  ASSERT_EQ(negative.error, LIST_OK);
  EXPECT_EQ(negative.l.count, -3);
  EXPECT_EQ(negative.l.slots, 0u);
  EXPECT_EQ(negative.l.expected, 1u);

  // Line 10 read as a wrapping 32-bit number and then as signed: its sign decides.
  struct {
    const char* count;
    uint32_t slots;
  } counts[] = {{"3", 3}, {"2147483647", 0x7FFFFFFFu}, {"2147483648", 0}, {"4294967291", 0}};
  for (const auto& c : counts) {
    Text big(Join(ListLines(c.count, {}), "\n"));
    ListReader r;
    StartListReader(&r, &big.r);
    ASSERT_EQ(ReadListSizes(&r), LIST_OK);
    EXPECT_EQ(ReadListCount(&r), LIST_OK) << c.count;
    EXPECT_EQ(r.slots, c.slots) << c.count;
  }

  std::vector<std::string> names;
  for (int i = 0; i < 40; i++) names.push_back("x,f" + std::to_string(i) + ".dat");
  Text many(Join(ListLines("40", names), "\n"));
  WholeList w(&many.r);
  ASSERT_EQ(w.error, LIST_OK);
  ASSERT_EQ(w.names.size(), 40u);
  EXPECT_EQ(w.names[0], "f0.dat");
  EXPECT_EQ(w.names[39], "f39.dat");
}

}  // namespace
