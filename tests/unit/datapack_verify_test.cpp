// datapack verify on broken packages: the exact message the bootstrapper shows, the precise
// reason, and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "datapack_fixture.h"
#include "expected_texts.h"
#include "format.h"

using namespace dptest;

namespace {

// Offsets of the entry records of a well-formed package.
std::vector<size_t> RecordOffsets(const Bytes& p) {
  std::vector<size_t> at;
  for (size_t o = PACKAGE_HEADER_SIZE; o + ENTRY_RECORD_SIZE <= p.size();
       o += ENTRY_RECORD_SIZE + GetLE32(&p[o + 4]))
    at.push_back(o);
  return at;
}

// The package of `plan` with entry `index` (1-based) replaced by a record of the given
// stream and sizes.
Bytes WithEntry(const datapack::PackageSpec& plan, size_t index, uint32_t declared,
                const Bytes& stream) {
  Bytes p = Build(plan);
  std::vector<size_t> at = RecordOffsets(p);
  size_t begin = at[index - 1], end = index < at.size() ? at[index] : p.size();
  Bytes record;
  datapack::AppendRecord(record, declared, (uint32_t)stream.size(), stream);
  p.erase(p.begin() + (long)begin, p.begin() + (long)end);
  p.insert(p.begin() + (long)begin, record.begin(), record.end());
  return p;
}

datapack::PackageSpec WithList(const std::string& list,
                               const std::vector<std::string>& names = {"readme.txt", "data.bin"}) {
  datapack::PackageSpec plan = GoodSpec(names);
  plan.list.data = ToBytes(list);
  return plan;
}

std::string Lines(const std::string& count, const std::string& names) {
  return "1=\r\n2=\r\n3=\r\n4=\r\n5=\r\n6=\r\n7=\r\n8=3028\r\n9=0\r\n10=" + count + "\r\n" + names;
}

struct Case {
  const char* what;
  Bytes package;
  std::string message;  // stdout: the bootstrapper's message, "" for a good package
  std::string reason;   // part of stderr
  int code;
};

}  // namespace

TEST(DatapackVerify, ShowsTheBootstrappersMessageAndThePreciseReason) {
  const datapack::PackageSpec good = GoodSpec();
  const Bytes package = Build(good);
  const std::vector<size_t> at = RecordOffsets(package);
  ASSERT_EQ(at.size(), 5u);

  std::vector<Case> cases;
  cases.push_back({"good", package, "", "", 0});
  Bytes p = package;
  p[1] = 'Q';
  cases.push_back({"bad signature", p, kCorruptText, "signature is 0x5A 0x51 at offset 0", 2});
  for (unsigned char kind : {0, 4, 255}) {
    p = package;
    p[3] = kind;
    cases.push_back({"bad kind", p, kCorruptText, "kind byte is " + std::to_string(kind), 2});
  }
  cases.push_back({"header cut", Bytes(package.begin(), package.begin() + 3), kCorruptText,
                   "3 bytes long, shorter than its 4-byte header", 2});
  cases.push_back({"record cut in its stored size",
                   Bytes(package.begin(), package.begin() + (long)at[1] + 6), kCorruptText,
                   "entry 2 (setup program Setup1.exe): entry record is cut short at offset " +
                       std::to_string(at[1]) + ": the package ends after 6 of its 8 bytes",
                   2});
  cases.push_back({"support entry missing", Bytes(package.begin(), package.begin() + (long)at[4]),
                   kCorruptText, "entry 5 (support file data.bin): entry record is cut short", 2});
  // Cut inside a stream: the cut is the reason given, and no offset past the end is named.
  cases.push_back({"stream cut", Bytes(package.begin(), package.begin() + (long)at[4] + 20),
                   kCorruptText,
                   "entry 5 (support file data.bin): the package is cut short: it ends " +
                       std::to_string(GetLE32(&package[at[4] + 4]) - 12) +
                       " bytes before the end of this entry's stored stream (record at offset " +
                       std::to_string(at[4]) + "; what is there: ",
                   2});
  p = package;
  p[at[4] - 1] ^= 0xFF;  // last byte of entry 4's stream: its Adler-32
  cases.push_back({"bad Adler-32", p, kCorruptText,
                   "entry 4 (support file readme.txt): stream is not valid zlib data "
                   "(incorrect data check) at offset " +
                       std::to_string(at[4]),
                   2});
  {
    Bytes payload = datapack::MakePayload(good.uninstaller), stream;
    std::string error;
    datapack::CompressPayload(payload.data(), payload.size(), {}, stream, error);
    cases.push_back({"declared too small", WithEntry(good, 3, (uint32_t)payload.size() - 1, stream),
                     kCorruptText, "entry 3 (uninstaller KQUninst.exe): stream is longer", 2});
    Bytes shortp(payload.begin(), payload.begin() + 27);
    cases.push_back({"payload under 28 bytes",
                     WithEntry(good, 2, 27, datapack::StoredStream(shortp.data(), 27)),
                     kCorruptText, "entry 2 (setup program Setup1.exe): payload is shorter", 2});
  }
  cases.push_back(
      {"list line without =", Build(WithList(Lines("2", "a=x,readme.txt\r\nno equals\r\n"))),
       kListCorruptText, "list line 12: no \"=\"", 2});
  cases.push_back({"empty line 4", Build(WithList("1=\r\n2=\r\n3=\r\n\r\n5=\r\n")),
                   kListCorruptText, "list line 4: empty line", 2});
  cases.push_back({"count 0", Build(WithList(Lines("0", ""))), kListCorruptText,
                   "list line 10: the number of support files reads as 0", 2});
  cases.push_back(
      {"unsafe name", Build(WithList(Lines("2", "a=x,..\\..\\evil.exe\r\nb=x,data.bin\r\n"))),
       kListCorruptText, "list line 11: file name \"..\\..\\evil.exe\" is not a plain", 2});
  cases.push_back(
      {"empty name",
       Build(WithList(Lines("2", "a=x,readme.txt\r\nb=nocomma\r\n"), {"readme.txt", ""})),
       std::string(kCannotCopyPrefix) + "%TEMP%\\",
       "entry 5 (support file with an empty name): cannot be created: list line 12", 2});
  {
    // Inflating comes before creating the file: a broken stream under an empty name is
    // reported as corruption.
    Bytes q = Build(WithList(Lines("2", "a=x,readme.txt\r\nb=nocomma\r\n"), {"readme.txt", ""}));
    q.back() ^= 0xFF;
    cases.push_back(
        {"broken entry with an empty name", q, kCorruptText, "incorrect data check", 2});
  }
  // Stored and inflated buffers that a 32-bit bootstrapper cannot hold together, each size
  // well below 2 GiB: refused before anything is read of the stream.
  p = package;
  PutLE32(&p[at[2]], 0x80000000u - GetLE32(&p[at[2] + 4]));
  cases.push_back({"sizes adding up to 2 GiB", p, kCorruptText,
                   "entry 3 (uninstaller KQUninst.exe): not enough memory for the entry (stored "
                   "and inflated sizes add up to 2 GiB or more",
                   2});
  // Found by fuzzing: listing it once inflated 1.7 GB of zeros from its second entry.
  cases.push_back({"137-byte fuzz finding",
                   ReadFile(fs::path(TEST_DATA_DIR) / "list_bad_then_zero_tail_bomb.001"),
                   kCorruptText, "entry 1 (list file Setup.lst): stream is not valid zlib data",
                   2});

  // Names from a package reach the terminal escaped, whatever they hold.
  const std::string hostile =
      "a\x1b[2J\x9b"
      "1mb\xe9.txt";
  cases.push_back({"terminal codes in a name",
                   Build(WithList(Lines("2", "a=x,readme.txt\r\nb=x," + hostile + "\r\n"),
                                  {"readme.txt", hostile})),
                   std::string(kCannotCopyPrefix) + "%TEMP%\\a\\x1b[2J\\x9b1mb\\xe9.txt",
                   "entry 5 (support file a\\x1b[2J\\x9b1mb\\xe9.txt): cannot be created", 2});

  TempDir dir;
  auto printable = [](const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char ch) { return ch == '\n' || (ch >= 0x20 && ch < 0x7F); });
  };
  for (const Case& c : cases) {
    const fs::path file = dir / "pkg.001";
    WriteFile(file, c.package);
    const Result listed = RunTool({"list", file.string()});
    EXPECT_TRUE(printable(listed.out) && printable(listed.err)) << c.what << listed.out;
    Result r = RunTool({"verify", file.string()});
    EXPECT_TRUE(printable(r.out) && printable(r.err)) << c.what << r.out << r.err;
    EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.err;
    if (c.code == 0) {
      EXPECT_NE(r.out.find("good"), std::string::npos) << c.what;
      EXPECT_NE(r.out.find("ends at 100 %"), std::string::npos) << c.what;
      EXPECT_EQ(r.err, "") << c.what;
      continue;
    }
    EXPECT_EQ(r.out, c.message + "\n") << c.what;
    EXPECT_EQ(r.err.rfind("datapack: " + file.string() + ": ", 0), 0u) << c.what << "\n" << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.what << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    // list reads on past the failure where it can, and ends with the same verdict.
    Result l = RunTool({"list", file.string()});
    EXPECT_EQ(l.code, c.code) << c.what << "\n" << l.err;
    EXPECT_NE(l.err.find(c.reason), std::string::npos) << c.what << "\n" << l.err;
  }
}

TEST(DatapackVerify, WarningsPassUnlessStrict) {
  struct {
    const char* what;
    std::function<void(datapack::PackageSpec&, Bytes&)> change;
    const char* warning;
  } cases[] = {
      {"bytes after the last entry", [](datapack::PackageSpec&, Bytes& p) { p.push_back(0); },
       "1 byte after the last entry"},
      {"sizes do not add up",
       [](datapack::PackageSpec& s, Bytes& p) {
         s.list.data = ToBytes(datapack::MakeListFile(6024, 0, {"readme.txt", "data.bin"}));
         p = Build(s);
       },
       "stop at 50 %"},
      {"two names of one file on Windows",
       [](datapack::PackageSpec& s, Bytes& p) {
         s.support[1].name = "readme.txt";
         s.list.data = ToBytes(datapack::MakeListFile((uint32_t)datapack::PayloadTotal(s), 0,
                                                      {"readme.txt", "README.TXT"}));
         p = Build(s);
       },
       "line 12: \"README.TXT\" is the same file on Windows as \"readme.txt\" on line 11: "
       "setup.exe unpacks this entry over the file of line 11, and its clean-up deletes that "
       "name twice"},
      {"an entry too large for the 32-bit bootstrapper to hold",
       [](datapack::PackageSpec&, Bytes& p) {
         // Only the declared size grows: the stream stays small and complete.
         PutLE32(&p[RecordOffsets(p).back()], 1536u << 20);
       },
       "entry 5 (support file data.bin): stored and inflated sizes together 1536 MiB"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    datapack::PackageSpec plan = GoodSpec();
    Bytes p = Build(plan);
    c.change(plan, p);
    WriteFile(dir / "_Data.001", p);
    Result loose = RunTool({"verify", (dir / "_Data.001").string()});
    EXPECT_EQ(loose.code, 0) << c.what;
    EXPECT_NE(loose.err.find(std::string("warning: ")), std::string::npos) << c.what;
    EXPECT_NE(loose.err.find(c.warning), std::string::npos) << c.what << "\n" << loose.err;
    Result strict = RunTool({"verify", "--strict", (dir / "_Data.001").string()});
    EXPECT_EQ(strict.code, 2) << c.what;
  }
}

TEST(DatapackVerify, MissingOrUnreadablePackageIsAnIoError) {
  TempDir dir;
  Result r = RunTool({"verify", (dir / "absent.001").string()});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("absent.001: "), std::string::npos);
  r = RunTool({"verify", dir.path().string()});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("not a regular file"), std::string::npos);
  EXPECT_EQ(r.out, "");
}
