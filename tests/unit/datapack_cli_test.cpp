// datapack's commands end to end on real files: create, list, verify and extract round trips,
// reproducible output, refusing lists and overwrites, the sizes fixer, unsafe names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>

#include "datapack_fixture.h"
#include "filetime.h"

using namespace dptest;

namespace {

// Source files for one package: list, setup program, uninstaller, two support files in
// files/, one of them read-only; every file with its own access and write times.
struct Sources {
  TempDir dir;
  std::string list_text;

  explicit Sources(const std::string& eol = "\r\n", bool sizes_right = true) {
    fs::create_directory(dir / "files");
    WriteFile(dir / "setup.exe", Noise(5000, 1));
    WriteFile(dir / "uninst.exe", Noise(700, 2));
    WriteFile(dir / "files/readme.txt", std::string("Read me.\r\n"));
    WriteFile(dir / "files/ro.dat", Noise(70000, 3));
    const uint32_t total = 4 * 28 + 5000 + 700 + 10 + 70000;
    list_text =
        datapack::MakeListFile(sizes_right ? total : 0, 0, {"readme.txt", "ro.dat"}, eol.c_str());
    WriteFile(dir / "Setup.lst", list_text);
    const char* names[] = {"Setup.lst", "setup.exe", "uninst.exe", "files/readme.txt",
                           "files/ro.dat"};
    for (int i = 0; i < 5; ++i) SetTimes(dir / names[i], 1000000000 + i, 1100000000 + i, 500000000);
    chmod((dir / "files/ro.dat").c_str(), 0444);
  }

  static void SetTimes(const fs::path& p, time_t atime, time_t mtime, long mtime_ns) {
    struct timespec ts[2] = {{atime, 0}, {mtime, mtime_ns}};
    utimensat(AT_FDCWD, p.c_str(), ts, 0);
  }

  std::vector<std::string> Create(const fs::path& out, std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {"create",
                                     "-l",
                                     (dir / "Setup.lst").string(),
                                     "-s",
                                     (dir / "setup.exe").string(),
                                     "-u",
                                     (dir / "uninst.exe").string(),
                                     "--files",
                                     (dir / "files").string(),
                                     "-o",
                                     out.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
};

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct stat Stat(const fs::path& p) {
  struct stat st {};
  stat(p.c_str(), &st);
  return st;
}

}  // namespace

TEST(DatapackCli, CreateListVerifyExtractKeepBytesTimesAndAttributes) {
  Sources src;
  TempDir out;
  Result r = RunTool(src.Create(out / "_Data.001"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Listing(out.path()), std::vector<std::string>{"_Data.001"}) << "no temporary left";

  r = RunTool({"list", "--json", (out / "_Data.001").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* part :
       {"\"kind\": 2", "\"base_name\": \"Setup\"",
        "\"role\": \"setup_program\", \"name\": \"Setup1.exe\"",
        "\"role\": \"uninstaller\", \"name\": \"KQUninst.exe\"",
        "\"role\": \"support_file\", \"name\": \"ro.dat\"",
        "\"hex\": \"0x00000001\", \"letters\": \"R\"",
        "\"hex\": \"0x00000020\", \"letters\": \"A\"",
        "\"accessed\": \"2001-09-09T01:46:43Z\", \"written\": \"2004-11-09T11:33:23.5000000Z\"",
        "\"final_percent\": 100", "\"trailing_bytes\": 0", "\"warnings\": []"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  r = RunTool({"list", (out / "_Data.001").string()});
  EXPECT_NE(r.out.find("entry 5 at offset"), std::string::npos);
  EXPECT_NE(r.out.find("support file ro.dat"), std::string::npos);
  EXPECT_NE(r.out.find("the bar ends at 100 %"), std::string::npos);

  r = RunTool({"verify", (out / "_Data.001").string()});
  EXPECT_EQ(r.code, 0) << r.err;

  TempDir x;
  r = RunTool({"extract", "-C", (x / "sub").string(), (out / "_Data.001").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  const fs::path xd = x / "sub";
  EXPECT_EQ(Listing(xd), (std::vector<std::string>{"KQUninst.exe", "Setup.lst", "Setup1.exe",
                                                   "readme.txt", "ro.dat"}));
  const std::pair<const char*, const char*> same[] = {{"Setup.lst", "Setup.lst"},
                                                      {"Setup1.exe", "setup.exe"},
                                                      {"KQUninst.exe", "uninst.exe"},
                                                      {"readme.txt", "files/readme.txt"},
                                                      {"ro.dat", "files/ro.dat"}};
  for (const auto& [unpacked, source] : same) {
    EXPECT_EQ(ReadFile(xd / unpacked), ReadFile(src.dir / source)) << unpacked;
    struct stat a = Stat(xd / unpacked), b = Stat(src.dir / source);
    EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec) << unpacked;
    EXPECT_EQ(a.st_mtim.tv_nsec, b.st_mtim.tv_nsec) << unpacked;
    EXPECT_EQ(a.st_atim.tv_sec, b.st_atim.tv_sec) << unpacked;
  }
  EXPECT_EQ(Stat(xd / "ro.dat").st_mode & 0222, 0u) << "read-only clears the write bits";
  EXPECT_NE(Stat(xd / "readme.txt").st_mode & 0200, 0u);
}

TEST(DatapackCli, SameInputsGiveTheSameBytes) {
  Sources src;
  TempDir out;
  ASSERT_EQ(RunTool(src.Create(out / "a")).code, 0);
  ASSERT_EQ(RunTool(src.Create(out / "b")).code, 0);
  EXPECT_EQ(ReadFile(out / "a"), ReadFile(out / "b")) << "packing must not change access times";

  // With SOURCE_DATE_EPOCH the files' own times no longer matter.
  ASSERT_EQ(RunTool(src.Create(out / "c"), "1700000000").code, 0);
  Sources::SetTimes(src.dir / "setup.exe", 5, 6, 7);
  ASSERT_EQ(RunTool(src.Create(out / "d"), "1700000000").code, 0);
  ASSERT_EQ(RunTool(src.Create(out / "e", {"--epoch", "1700000000"})).code, 0);
  EXPECT_EQ(ReadFile(out / "c"), ReadFile(out / "d"));
  EXPECT_EQ(ReadFile(out / "c"), ReadFile(out / "e"));
  Result r = RunTool({"list", "--json", (out / "d").string()});
  // Five entries, three times each. (Counted by the whole time string: the package's own
  // path, random per run, is in the listing too.)
  size_t times = 0;
  for (size_t at = 0; (at = r.out.find("\"2023-11-14T22:13:20Z\"", at)) != std::string::npos; ++at)
    ++times;
  EXPECT_EQ(times, 15u);

  // And without it they do.
  ASSERT_EQ(RunTool(src.Create(out / "f")).code, 0);
  EXPECT_NE(ReadFile(out / "a"), ReadFile(out / "f"));
  EXPECT_EQ(RunTool(src.Create(out / "g"), "soon").code, 1);
}

TEST(DatapackCli, ExistingOutputIsOnlyReplacedWithForce) {
  Sources src;
  TempDir out;
  WriteFile(out / "_Data.001", std::string("precious"));
  Result r = RunTool(src.Create(out / "_Data.001"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("_Data.001: already exists (--force replaces it)"), std::string::npos);
  EXPECT_EQ(ReadFile(out / "_Data.001"), ToBytes("precious"));
  r = RunTool(src.Create(out / "_Data.001", {"--force"}));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(RunTool({"verify", "-q", (out / "_Data.001").string()}).code, 0);
  EXPECT_EQ(Listing(out.path()), std::vector<std::string>{"_Data.001"});
}

TEST(DatapackCli, RefusedListsAndMissingFilesWriteNothing) {
  struct {
    const char* what;
    std::string list;  // "" keeps the good list
    const char* remove;
    int code;
    const char* words;
  } cases[] = {
      {"count 0", "1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=1\n9=1\n10=0\n", nullptr, 2,
       "Setup.lst: line 10: the number of support files reads as 0"},
      {"line without =", "1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=1\n9=1\n10=2\n11=x,readme.txt\nro.dat\n",
       nullptr, 2, "Setup.lst: line 12: no \"=\""},
      {"unsafe name", "1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=1\n9=1\n10=1\n11=x,../ro.dat\n", nullptr, 2,
       "Setup.lst: line 11: file name \"../ro.dat\" is not a plain file name"},
      {"support file missing", "", "files/ro.dat", 3,
       "ro.dat: No such file or directory (named on list line 12)"},
      {"name in another case", "1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=1\n9=1\n10=1\n11=x,RO.DAT\n", nullptr,
       3, "RO.DAT: No such file or directory (named on list line 11) (there is \"ro.dat\""},
      {"setup program missing", "", "setup.exe", 3, "setup.exe: No such file"},
  };
  for (const auto& c : cases) {
    Sources src;
    if (!c.list.empty()) WriteFile(src.dir / "Setup.lst", c.list);
    if (c.remove) fs::remove(src.dir / c.remove);
    TempDir out;
    Result r = RunTool(src.Create(out / "_Data.001"));
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << c.what << "\n" << r.err;
    EXPECT_TRUE(fs::is_empty(out.path())) << c.what;
  }
}

TEST(DatapackCli, SizeMismatchIsWarnedAndFixedKeepingLineEndings) {
  for (const char* eol : {"\r\n", "\n"}) {
    Sources src(eol, false);
    TempDir out;
    Result r = RunTool(src.Create(out / "plain"));
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("warning: "), std::string::npos);
    EXPECT_NE(r.err.find("from the start (--fix-sizes rewrites them)"), std::string::npos) << r.err;
    r = RunTool({"verify", (out / "plain").string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("list lines 8 + 9 give 0 bytes"), std::string::npos);

    r = RunTool(src.Create(out / "fixed", {"--fix-sizes"}));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("lines 8 and 9 set to 75822 and 0"), std::string::npos) << r.err;
    r = RunTool({"verify", (out / "fixed").string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "") << "no warning left";
    ASSERT_EQ(RunTool({"extract", "-C", (out / "x").string(), (out / "fixed").string()}).code, 0);
    std::string expected = src.list_text;
    expected.replace(expected.find("Size1=0"), 7, "Size1=75822");
    EXPECT_EQ(ReadFile(out / "x/Setup.lst"), ToBytes(expected));
    EXPECT_EQ(ReadFile(src.dir / "Setup.lst"), ToBytes(src.list_text)) << "source untouched";
  }
}

TEST(DatapackCli, KindComesFromTheOptionOrTheListName) {
  Sources src;
  TempDir out;
  struct {
    std::vector<std::string> extra;
    const char* list_name;
    int code;
    const char* words;
  } cases[] = {
      {{"--kind", "Instalar"}, "Setup.lst", 0, "\"name\": \"Instal1.exe\""},
      {{"-k", "1"}, "Setup.lst", 0, "\"name\": \"Instal.lst\""},
      {{}, "instalar.lst", 0, "\"base_name\": \"Instalar\""},
      {{}, "Setup.lst", 0, "\"name\": \"Setup.lst\""},
      {{}, "product.lst", 1, "--kind is required"},
      {{"--kind", "Install"}, "Setup.lst", 1, "--kind must be"},
  };
  for (const auto& c : cases) {
    if (!fs::exists(src.dir / c.list_name))
      fs::copy_file(src.dir / "Setup.lst", src.dir / c.list_name);
    std::vector<std::string> args = src.Create(out / "p", c.extra);
    args[2] = (src.dir / c.list_name).string();
    args.push_back("--force");
    Result r = RunTool(args);
    EXPECT_EQ(r.code, c.code) << c.list_name << r.err;
    const std::string shown = c.code ? r.err : RunTool({"list", "-j", (out / "p").string()}).out;
    EXPECT_NE(shown.find(c.words), std::string::npos) << c.list_name << "\n" << shown;
  }
}

TEST(DatapackCli, ExtractNeverOverwritesUnlessForced) {
  Sources src;
  TempDir out;
  ASSERT_EQ(RunTool(src.Create(out / "_Data.001")).code, 0);
  const std::string pkg = (out / "_Data.001").string();
  TempDir x;
  WriteFile(x / "ro.dat", std::string("mine"));
  chmod((x / "ro.dat").c_str(), 0444);
  Result r = RunTool({"extract", "-C", x.path().string(), pkg});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("ro.dat: already exists (--force replaces it)"), std::string::npos) << r.err;
  EXPECT_EQ(Listing(x.path()), std::vector<std::string>{"ro.dat"}) << "nothing else written";
  EXPECT_EQ(ReadFile(x / "ro.dat"), ToBytes("mine"));
  r = RunTool({"extract", "--force", "-C", x.path().string(), pkg});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(x / "ro.dat"), ReadFile(src.dir / "files/ro.dat"));
  EXPECT_EQ(RunTool({"extract", "--force", "-C", x.path().string(), pkg}).code, 0)
      << "replacing its own read-only output";
}

TEST(DatapackCli, ExtractRefusesUnsafeNamesAndBrokenPackagesLeavingNothing) {
  struct {
    const char* what;
    std::vector<std::string> names;
    bool break_last;
    const char* words;
  } cases[] = {
      {"parent folder", {"..\\evil.txt"}, false, "not a plain file name"},
      {"slash", {"a/b.txt"}, false, "not a plain file name"},
      {"dot dot", {".."}, false, "not a plain file name"},
      {"device", {"nul.txt"}, false, "device name"},
      {"corrupt last entry", {"a.txt", "b.txt"}, true, "incorrect data check"},
  };
  for (const auto& c : cases) {
    datapack::PackageSpec plan = GoodSpec(c.names);
    Bytes p = Build(plan);
    if (c.break_last) p.back() ^= 0xFF;
    TempDir root;
    WriteFile(root / "_Data.001", p);
    Result r = RunTool({"extract", "-C", (root / "out").string(), (root / "_Data.001").string()});
    EXPECT_EQ(r.code, 2) << c.what;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << c.what << "\n" << r.err;
    EXPECT_TRUE(fs::is_empty(root / "out")) << c.what;
    EXPECT_EQ(Listing(root.path()), (std::vector<std::string>{"_Data.001", "out"})) << c.what;
  }
}

TEST(DatapackCli, HelpVersionAndUsageErrors) {
  struct {
    std::vector<std::string> args;
    int code;
    bool on_out;
    const char* words;
  } cases[] = {
      {{"--help"}, 0, true, "  3  I/O error"},
      {{"help"}, 0, true, "  2  invalid package"},
      {{"help", "create"}, 0, true, "Usage: datapack create"},
      {{"create", "--help"}, 0, true, "--fix-sizes"},
      {{"verify", "-h"}, 0, true, "Usage: datapack verify"},
      {{"help", "extract"}, 0, true, "-C, --directory DIR"},
      {{"list", "--help"}, 0, true, "--json"},
      {{"--version"}, 0, true, "datapack "},
      {{}, 1, false, "Usage: datapack"},
      {{"pack"}, 1, false, "unknown command 'pack'"},
      {{"help", "pack"}, 1, false, "unknown command 'pack'"},
      {{"create"}, 1, false, "--list FILE is required"},
      {{"create", "-l", "a", "-s", "b", "-u", "c", "-k", "Setup", "--level", "10"},
       1,
       false,
       "--level"},
      {{"create", "-l", "a", "-s", "b", "-u", "c", "stray"}, 1, false, "unexpected operand"},
      {{"verify", "--bogus"}, 1, false, "unknown option '--bogus'"},
      {{"extract", "-C"}, 1, false, "needs a value"},
      {{"list", "a", "b"}, 1, false, "one package at a time"},
      {{"verify", "--strict=yes"}, 1, false, "takes no value"},
  };
  for (const auto& c : cases) {
    Result r = RunTool(c.args);
    EXPECT_EQ(r.code, c.code) << c.words;
    const std::string& text = c.on_out ? r.out : r.err;
    EXPECT_NE(text.find(c.words), std::string::npos) << c.words << "\n" << text;
  }
}

TEST(DatapackCli, ProgressLineOnlyOnATerminalAndErasedAfterwards) {
  Sources src;
  TempDir out;
  std::ostringstream o, e;
  datapack::Console tty{o, e, true, ""};
  ASSERT_EQ(datapack::RunDatapack(src.Create(out / "p"), tty), 0);
  const std::string err = e.str();
  EXPECT_NE(err.find("\rdatapack: creating "), std::string::npos);
  EXPECT_NE(err.find("100 %"), std::string::npos);
  EXPECT_EQ(err.back(), '\r') << "the line is blanked at the end";
  EXPECT_EQ(RunTool(src.Create(out / "q")).err, "") << "no progress when not a terminal";
}

#ifdef DATAPACK_EXE
// The built program itself: exit statuses and the split of standard output and error.
TEST(DatapackExe, ExitStatusesOfTheRealProgram) {
  TempDir dir;
  Bytes good = Build(GoodSpec());
  Bytes bad = good;
  bad[0] = 'X';
  WriteFile(dir / "good.001", good);
  WriteFile(dir / "bad.001", bad);
  struct {
    std::string args;
    int code;
    const char* out;
  } cases[] = {
      {"verify good.001", 0, "good.001: good"},
      {"verify bad.001", 2, "Setup program cannot continue because file _Data.001 is corrupted.\n"},
      {"verify absent.001", 3, ""},
      {"list --nope", 1, ""},
  };
  for (const auto& c : cases) {
    const std::string cmd =
        "cd '" + dir.path().string() + "' && '" DATAPACK_EXE "' " + c.args + " >out.txt 2>err.txt";
    int status = system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.args;
    EXPECT_EQ(WEXITSTATUS(status), c.code) << c.args;
    const Bytes out = ReadFile(dir / "out.txt");
    const std::string text(out.begin(), out.end());
    EXPECT_EQ(text.rfind(c.out, 0), 0u) << c.args << ": " << text;
    if (c.code != 0) {
      EXPECT_FALSE(ReadFile(dir / "err.txt").empty()) << c.args;
    }
  }
}
#endif
