// Checking lists as the bootstrapper reads them: what stops it (with the right line), what
// breaks the installation, what is only worth a warning; and the sizes rewriter.
#include <gtest/gtest.h>

#include "datapack_fixture.h"
#include "listcheck.h"
#include "listfile.h"

using datapack::Severity;

namespace {

// Seven unused lines, two sizes and a count, CR LF ended, followed by `tail`.
std::string Head(const std::string& count, const std::string& tail) {
  std::string s;
  for (int i = 1; i <= 7; ++i) s += "K" + std::to_string(i) + "=v\r\n";
  return s + "Size1=100\r\nSize2=20\r\nFiles=" + count + "\r\n" + tail;
}

datapack::ListCheck Check(const std::string& text) {
  return datapack::CheckList((const unsigned char*)text.data(), text.size(), "Setup.lst",
                             "Setup1.exe");
}

}  // namespace

TEST(DatapackListCheck, IssuesCarryTheirLineAndSeverity) {
  const std::string long_line = "K=" + std::string(518, 'x');  // 520 characters
  const std::string ok_long = "K=" + std::string(517, 'x');    // 519 characters: fine
  struct {
    const char* what;
    std::string text;
    Severity severity;
    uint32_t line;
    const char* words;  // part of the issue's text
  } cases[] = {
      {"list ends early", "A=1\r\nB=2\r\n", Severity::kFail, 3, "ends before this line"},
      {"empty line among the first ten", "A=1\r\n\r\n" + Head("1", "F=x,a.txt\r\n").substr(5),
       Severity::kFail, 2, "empty line"},
      {"no equals sign", Head("1", "F x,a.txt\r\n"), Severity::kFail, 11, "no \"=\""},
      {"count 0", Head("0", ""), Severity::kFail, 10, "reads as 0"},
      {"count without digits", Head("none", ""), Severity::kFail, 10, "reads as 0"},
      {"fewer name lines than the count", Head("2", "F=x,a.txt\r\n"), Severity::kFail, 12,
       "ends before"},
      {"last needed line unterminated", Head("1", "F=x,a.txt"), Severity::kFail, 11,
       "no line ending"},
      {"line over 519 characters", long_line + "\r\n" + Head("1", "F=x,a\r\n"), Severity::kFail, 1,
       "longer than 519"},
      {"name with a folder", Head("1", "F=x,..\\evil.exe\r\n"), Severity::kFail, 11,
       "not a plain file name"},
      {"name of 26 characters", Head("1", "F=x," + std::string(26, 'n') + "\r\n"), Severity::kFail,
       11, "longer than 25"},
      {"first field of 28 characters", Head("1", "F=" + std::string(28, 'f') + ",a\r\n"),
       Severity::kFail, 11, "first field"},
      {"name field of 28 characters", Head("1", "F=x," + std::string(28, 'n') + " 1\r\n"),
       Severity::kFail, 11, "file name field is longer"},
      {"no comma: empty name", Head("2", "F=x,a\r\nF=b\r\n"), Severity::kFail, 12, "no file name"},
      {"empty second field", Head("2", "F=x,a\r\nF=doc,,0\r\n"), Severity::kFail, 12,
       "no file name (the value's second comma-separated field is empty or missing)"},
      {"wildcard in the name", Head("1", "F=x,a*b\r\n"), Severity::kFail, 11, "does not allow"},
      {"device name", Head("1", "F=x,con.txt\r\n"), Severity::kFail, 11, "device name"},
      {"device name to Windows 95", Head("1", "F=x,clock$\r\n"), Severity::kFail, 11,
       "device name"},
      {"superscript port number", Head("1", "F=x,LPT\xB2.txt\r\n"), Severity::kFail, 11,
       "device name"},
      {"replaces the setup program", Head("1", "F=x,SETUP1.EXE\r\n"), Severity::kRefuse, 11,
       "setup program"},
      {"replaces the list", Head("1", "F=x,setup.lst\r\n"), Severity::kWarn, 11, "list file"},
      {"named twice", Head("3", "F=x,a\r\nF=x,b\r\nF=x,A\r\n"), Severity::kRefuse, 13,
       "as \"a\" on line 11: setup.exe unpacks this entry over the file of line 11, and its "
       "clean-up deletes that name twice"},
      {"one file once the dot goes", Head("2", "F=x,trail.\r\nF=x,TRAIL \r\n"), Severity::kRefuse,
       12, "same file on Windows as \"trail.\" on line 11"},
      {"like the setup program once the dot goes", Head("1", "F=x,setup1.exe.\r\n"),
       Severity::kRefuse, 11, "replace the setup program"},
      {"trailing dot", Head("1", "F=x,a.\r\n"), Severity::kWarn, 11, "trailing dot"},
      {"negative count", Head("-3", ""), Severity::kWarn, 10, "negative"},
  };
  for (const auto& c : cases) {
    datapack::ListCheck check = Check(c.text);
    ASSERT_FALSE(check.issues.empty()) << c.what;
    const datapack::ListIssue& issue = check.issues.back();
    EXPECT_EQ(issue.severity, c.severity) << c.what;
    EXPECT_EQ(issue.line, c.line) << c.what;
    EXPECT_NE(issue.text.find(c.words), std::string::npos) << c.what << ": " << issue.text;
    EXPECT_EQ(check.Refused(), c.severity != Severity::kWarn) << c.what;
  }
  datapack::ListCheck fine = Check(ok_long + "\r\n" + Head("1", "F=x,a.txt\r\n").substr(6));
  EXPECT_TRUE(fine.issues.empty());
}

TEST(DatapackListCheck, NamesAreTheSecondFieldCutAtItsFirstSpace) {
  datapack::ListCheck c = Check(
      Head("4", "F=x,readme.txt,1234\r\nF=x,my file.txt\r\nF==,eq=ok.txt\r\nF=,b.dat,,\r\nextra"));
  EXPECT_TRUE(c.issues.empty());
  EXPECT_EQ(c.names, (std::vector<std::string>{"readme.txt", "my", "eq=ok.txt", "b.dat"}));
  EXPECT_EQ(c.expected, 120u);
  EXPECT_EQ(c.count, 4);
  EXPECT_TRUE(c.readable);
}

TEST(DatapackListCheck, NothingAfterTheFirstFailure) {
  datapack::ListCheck c = Check(Head("3", "F=x,a\r\nF=x\r\nF=x,A\r\n"));
  ASSERT_EQ(c.issues.size(), 1u);
  EXPECT_EQ(c.Failure(), &c.issues[0]);
  EXPECT_EQ(c.issues[0].line, 12u);
  EXPECT_EQ(datapack::IssueText(c.issues[0]).rfind("line 12: ", 0), 0u);
}

TEST(DatapackListCheck, SizeMismatchWordsSayWhereTheBarStops) {
  EXPECT_EQ(datapack::SizeMismatchText(1000, 1000), "");
  EXPECT_NE(datapack::SizeMismatchText(1000, 500).find("stop at 50 %"), std::string::npos);
  EXPECT_NE(datapack::SizeMismatchText(1000, 1001).find("before the last file"), std::string::npos);
  EXPECT_NE(datapack::SizeMismatchText(0, 10).find("from the start"), std::string::npos);
  EXPECT_NE(datapack::SizeMismatchText(10, 1ull << 32).find("32-bit"), std::string::npos);
}

TEST(DatapackListCheck, RewriteSizesKeepsKeysEndingsAndTheRest) {
  struct {
    std::string before, after;
  } cases[] = {
      {Head("1", "F=x,a\r\n"), Head("1", "F=x,a\r\n")},
      {"1=\n2=\n3=\n4=\n5=\n6=\n7=\nS1=5 bytes\nS2=junk=more\nN=1\r",
       "1=\n2=\n3=\n4=\n5=\n6=\n7=\nS1=4294967295\nS2=0\nN=1\r"},
      {"1=\r2=\r3=\r4=\r5=\r6=\r7=\rA=\n\rB=9\n\r",
       "1=\r2=\r3=\r4=\r5=\r6=\r7=\rA=4294967295\n\rB=0\n\r"},
  };
  // The first case's expected text has its sizes rewritten the same way.
  cases[0].after.replace(cases[0].after.find("Size1=100"), 9, "Size1=4294967295");
  cases[0].after.replace(cases[0].after.find("Size2=20"), 8, "Size2=0");
  for (const auto& c : cases) {
    dptest::Bytes list = dptest::ToBytes(c.before);
    std::string error;
    ASSERT_TRUE(datapack::RewriteListSizes(list, 4294967295u, 0, error)) << error;
    EXPECT_EQ(std::string(list.begin(), list.end()), c.after);
  }
  for (std::string bad : {std::string("1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=\n"),
                          std::string("1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=\nnine\n"),
                          std::string("1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=\n9=")}) {
    dptest::Bytes list = dptest::ToBytes(bad);
    std::string error;
    EXPECT_FALSE(datapack::RewriteListSizes(list, 1, 2, error)) << bad;
    EXPECT_NE(error.find("line 9"), std::string::npos) << error;
    EXPECT_EQ(list, dptest::ToBytes(bad)) << "left unchanged";
  }
}

TEST(DatapackListCheck, DeviceNames) {
  for (const char* name :
       {"CON", "con.txt", "Nul", "aux.dat.x", "COM1", "lpt9.txt", "CONIN$", "nul. ", "Com1 .bin",
        "COM\xB9", "lpt\xB3.txt", "com\xB2 ", "Clock$.dat", "conout$"})
    EXPECT_TRUE(datapack::IsDeviceName(name)) << name;
  for (const char* name : {"CONSOLE", "com0", "COM10", "lpt", "xcon", "readme.txt", "", "COM\xB4",
                           "LPT\xBC", "CLOCK", "CONIN$$"})
    EXPECT_FALSE(datapack::IsDeviceName(name)) << name;
}

TEST(DatapackListCheck, NamesWindowsTakesForOneFile) {
  struct {
    const char *a, *b;
    bool same;
  } cases[] = {
      {"README.TXT", "readme.txt", true},
      {"trail.", "trail", true},
      {"a b .. ", "A B", true},
      {"a.txt", "a.txt", true},
      {"a.txt", "a.txt2", false},
      {".", "", true},
      {"a b", "ab", false},
      {"\xC4.txt", "\xE4.txt", false},  // ASCII letters only
      {"x.", "x..y", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameWindowsName(c.a, c.b) != 0, c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameWindowsName(c.b, c.a) != 0, c.same) << c.b << " / " << c.a;
  }
}
