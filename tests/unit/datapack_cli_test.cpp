// datapack's commands end to end on real files: create, list, verify and extract round trips,
// reproducible output, refusing lists and overwrites, the sizes fixer, unsafe names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <ctype.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "commands.h"  // Printable
#include "datapack_fixture.h"
#include "filetime.h"
#include "tempfiles.h"

using namespace dptest;

namespace {

// Source files for one package: list, setup program, uninstaller, two support files in
// files/, one of them read-only; every file with its own access and write times.
struct Sources {
  TempDir dir;
  std::string list_text;

  explicit Sources(const std::string& eol = "\r\n", bool sizes_right = true) {
    fs::create_directory(dir / "files");
    WriteFile(dir / "setup.exe", Program(5000, 1));
    WriteFile(dir / "uninst.exe", Program(700, 2));
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

  // Bytes that start like a Windows program.
  static Bytes Program(size_t size, unsigned seed) {
    Bytes b = Noise(size, seed);
    b[0] = 'M';
    b[1] = 'Z';
    return b;
  }

  static void SetTimes(const fs::path& p, time_t atime, time_t mtime, long mtime_ns) {
    struct timespec ts[2] = {{atime, 0}, {mtime, mtime_ns}};
    utimensat(AT_FDCWD, p.c_str(), ts, 0);
  }

  std::vector<std::string> Create(const fs::path& out, std::vector<std::string> extra = {}) const {
    extra.insert(extra.begin(), {"--files", (dir / "files").string()});
    return CreateArgs(dir.path(), out, extra);
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
  EXPECT_NE(r.out.find("dynamic; 1 progress report\n"), std::string::npos) << r.out;
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

// Only a regular file is ever replaced, and never one of the inputs; a link leads to the file
// to replace and stays a link.
TEST(DatapackCli, OutputIsARegularFileOtherThanTheInputs) {
  struct {
    const char* what;
    const char* out;  // in the output folder, or "@name" for a source file
    int code;
    const char* words;
    rlim_t limit = RLIM_INFINITY;  // the size a file may grow to
  } cases[] = {
      {"FIFO", "fifo", 1, "fifo: is a FIFO, not a regular file"},
      {"folder", "folder", 1, "folder: is a folder, not a regular file"},
      {"socket", "socket", 1, "socket: is a socket, not a regular file"},
      {"link to a FIFO", "link-to-fifo", 1, "link-to-fifo: is a FIFO"},
      {"the setup program", "@setup.exe", 1, "is the same file as the setup program"},
      {"hard link to the list", "hard-list", 1, "is the list file"},
      {"link to a support file", "link-to-ro", 1, "is the same file as the support file"},
      {"missing folder", "none/p.001", 3, "none/p.001: folder "},
      {"link to a package", "link-to-old", 0, ""},
      {"full disk", "link-to-old", 3, "link-to-old: File too large", 20000},
  };
  for (const auto& c : cases) {
    Sources src;
    TempDir out, elsewhere;
    mkfifo((out / "fifo").c_str(), 0600);
    fs::create_directory(out / "folder");
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", (out / "socket").c_str());
    bind(sock, (struct sockaddr*)&addr, sizeof addr);
    fs::create_symlink(out / "fifo", out / "link-to-fifo");
    fs::create_hard_link(src.dir / "Setup.lst", out / "hard-list");
    fs::create_symlink(src.dir / "files/ro.dat", out / "link-to-ro");
    WriteFile(elsewhere / "old.001", std::string("old"));
    fs::create_symlink(elsewhere / "old.001", out / "link-to-old");
    const fs::path target = c.out[0] == '@' ? src.dir / (c.out + 1) : out / c.out;
    const Bytes setup = ReadFile(src.dir / "setup.exe"), list = ReadFile(src.dir / "Setup.lst");
    Result r = RunWithFileSizeLimit(src.Create(target, {"--force"}), c.limit);
    close(sock);
    if (std::string(c.what) == "missing folder") {
      EXPECT_NE(r.err.find((out / "none").string() + " does not exist"), std::string::npos)
          << r.err;
    }
    EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.err;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << c.what << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.code ? 1 : 0) << c.what << r.err;
    EXPECT_EQ(ReadFile(src.dir / "setup.exe"), setup) << c.what;
    EXPECT_EQ(ReadFile(src.dir / "Setup.lst"), list) << c.what;
    EXPECT_TRUE(fs::is_fifo(out / "fifo")) << c.what;
    EXPECT_TRUE(fs::is_symlink(out / "link-to-old")) << c.what;
    EXPECT_EQ(Listing(out.path()),
              (std::vector<std::string>{"fifo", "folder", "hard-list", "link-to-fifo",
                                        "link-to-old", "link-to-ro", "socket"}))
        << c.what << ": nothing written, no temporary left";
    EXPECT_EQ(Listing(elsewhere.path()), std::vector<std::string>{"old.001"}) << c.what;
    const Result v = RunTool({"verify", "-q", (elsewhere / "old.001").string()});
    EXPECT_EQ(v.code, c.code ? 2 : 0) << c.what << ": the link's target is the package";
  }
  // brand gives a folder in the way the same status (extract's case is in its own table).
  TempDir d;
  fs::create_directory(d / "folder");
  const Result r = RunTool({"brand", "-l", "https://example.org/", "-o", (d / "folder").string(),
                            (d / "setup.exe").string()});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("folder: is a folder, not a regular file"), std::string::npos) << r.err;
}

// A temporary file says which process wrote it: a run removes those of ended runs of this
// machine, and nothing else.
TEST(DatapackCli, StaleTemporariesOfEndedRunsAreRemoved) {
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string stale = datapack::TemporaryName((unsigned long)ended, 3);
  std::string other_host = datapack::TemporaryName((unsigned long)ended, 4);
  other_host.replace(10, 8, other_host.compare(10, 8, "00000000") ? "00000000" : "11111111");
  const std::vector<std::string> kept = {
      datapack::TemporaryName((unsigned long)getppid(), 0),  // a running process
      other_host, ".datapack-x.tmp", "_Data.001.tmp"};
  for (const char* command : {"create", "extract"}) {
    Sources src;
    TempDir out;
    if (std::string(command) == "extract") {
      ASSERT_EQ(RunTool(src.Create(out / "p.001")).code, 0);
    }
    for (const std::string& name : kept) WriteFile(out / name, std::string("theirs"));
    WriteFile(out / stale, std::string("left by a killed run"));
    fs::create_directory(out / datapack::TemporaryName((unsigned long)ended, 5));
    Result r = std::string(command) == "create"
                   ? RunTool(src.Create(out / "p.001"))
                   : RunTool({"extract", "-C", out.path().string(), (out / "p.001").string()});
    ASSERT_EQ(r.code, 0) << command << r.err;
    EXPECT_FALSE(fs::exists(out / stale)) << command;
    for (const std::string& name : kept) {
      EXPECT_EQ(ReadFile(out / name), ToBytes("theirs")) << command << " " << name;
    }
    EXPECT_TRUE(fs::is_directory(out / datapack::TemporaryName((unsigned long)ended, 5)));
  }
}

TEST(DatapackCli, RefusedListsAndMissingFilesWriteNothing) {
  struct {
    const char* what;
    std::string list;  // "" keeps the good list
    const char* remove;
    int code;
    const char* words;
    bool dangling = false;                // `remove` becomes a link to a missing file
    std::vector<std::string> extra = {};  // more options
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
       3, "RO.DAT: No such file or directory (named on list line 11; there is \"ro.dat\""},
      {"dangling link of the exact name", "", "files/ro.dat", 3,
       "ro.dat: No such file or directory (named on list line 12; it is a symbolic link to a "
       "missing file)",
       true},
      {"setup program missing", "", "setup.exe", 3, "datapack: setup program /"},
      {"uninstaller missing", "", "uninst.exe", 3, "datapack: uninstaller /"},
      {"list missing", "", "Setup.lst", 3, "datapack: list file /"},
      {"two names of one file on Windows, --force",
       "1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=1\n9=1\n10=2\n11=x,readme.txt\n12=x,README.TXT.\n",
       nullptr,
       2,
       "Setup.lst: line 12: \"README.TXT.\" is the same file on Windows as \"readme.txt\" on "
       "line 11",
       false,
       {"--force"}},
      {"superscript device name", "1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=1\n9=1\n10=1\n11=x,com\xB9.txt\n",
       nullptr, 2, "Setup.lst: line 11: file name \"com\\xb9.txt\" is a Windows device name"},
  };
  for (const auto& c : cases) {
    Sources src;
    if (!c.list.empty()) WriteFile(src.dir / "Setup.lst", c.list);
    if (c.remove) fs::remove(src.dir / c.remove);
    if (c.dangling) fs::create_symlink(src.dir / "gone", src.dir / c.remove);
    TempDir out;
    Result r = RunTool(src.Create(out / "_Data.001", c.extra));
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
    EXPECT_NE(r.out.find(": good:"), std::string::npos);
    r = RunTool({"verify", "--strict", (out / "plain").string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, (out / "plain").string() + ": failed: 1 warning with --strict\n");
    EXPECT_NE(r.err.find("plain: 1 warning, failing as --strict asks"), std::string::npos) << r.err;

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

// What packs but deserves a second look is warned about, naming the file and the line; the
// package is still written.
TEST(DatapackCli, CreateWarnsAboutPackagesThatSurprise) {
  struct {
    const char* what;
    std::function<void(Sources&)> change;
    const char* warning;  // "" for none
  } cases[] = {
      {"nothing unusual", [](Sources&) {}, ""},
      {"a support file named like the uninstaller",
       [](Sources& s) {
         fs::rename(s.dir / "files/ro.dat", s.dir / "files/KQUNINST.exe");
         s.list_text.replace(s.list_text.find("ro.dat"), 6, "KQUNINST.exe");
         WriteFile(s.dir / "Setup.lst", s.list_text);
       },
       "Setup.lst: line 12: support file \"KQUNINST.exe\" has the uninstaller's name"},
      {"an empty setup program", [](Sources& s) { WriteFile(s.dir / "setup.exe", Bytes()); },
       "setup program " /* path */},
      {"an uninstaller without MZ",
       [](Sources& s) { WriteFile(s.dir / "uninst.exe", std::string("#!/bin/sh\n")); },
       "uninst.exe: does not start with \"MZ\": not a Windows program"},
      {"a list with a byte above 0x7F",
       [](Sources& s) {
         s.list_text.replace(s.list_text.find(",readme.txt") - 1, 1, "\xe9");
         WriteFile(s.dir / "Setup.lst", s.list_text);
       },
       "Setup.lst: line 11: bytes above 0x7F"},
      {"a name cut at a space",
       [](Sources& s) {
         s.list_text.replace(s.list_text.find("ro.dat"), 6, "ro.dat old copy");
         WriteFile(s.dir / "Setup.lst", s.list_text);
       },
       "line 12: the name field \"ro.dat old copy\" is cut at its first space: the file packed "
       "and unpacked is \"ro.dat\""},
      {"lines 8 + 9 past 4 GiB",
       [](Sources& s) {
         s.list_text.replace(s.list_text.find("Size2=0"), 7, "Size2=4294967295");
         WriteFile(s.dir / "Setup.lst", s.list_text);
       },
       "lines 8 + 9 add up past 4 GiB"},
  };
  for (const auto& c : cases) {
    Sources src;
    c.change(src);
    TempDir out;
    Result r = RunTool(src.Create(out / "p.001"));
    EXPECT_EQ(r.code, 0) << c.what << r.err;
    const Result strict = RunTool(src.Create(out / "q.001", {"--strict"}));
    EXPECT_EQ(strict.code, *c.warning ? 2 : 0) << c.what << strict.err;
    EXPECT_EQ(fs::exists(out / "q.001"), !*c.warning) << c.what << ": --strict writes nothing";
    if (*c.warning) {
      EXPECT_NE(r.err.find("datapack: warning: "), std::string::npos) << c.what << r.err;
      EXPECT_NE(r.err.find(c.warning), std::string::npos) << c.what << "\n" << r.err;
    } else {
      EXPECT_EQ(r.err, "") << c.what;
    }
  }
}

// List names are bytes in the ANSI code page, read on Linux as Windows-1252: a list naming
// "\xE4rger.txt" packs the file "\u00e4rger.txt" (UTF-8 on disk), list --json gives the name
// as that text and as its bytes, extract writes that file again; the same list saved as UTF-8
// fails, as it fails in datapack.exe. Two names of one Windows file extract to two files here,
// each with a warning.
TEST(DatapackCli, ListNamesAreInTheAnsiCodePage) {
  Sources src;
  fs::rename(src.dir / "files/readme.txt", src.dir / "files/\xC3\xA4rger.txt");
  std::string list = src.list_text;
  list.replace(list.find("readme.txt"), 10, "\xE4rger.txt");
  WriteFile(src.dir / "Setup.lst", list);
  TempDir out;
  Result r = RunTool(src.Create(out / "p.001", {"--fix-sizes"}));
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTool({"list", "-J", (out / "p.001").string()});
  EXPECT_NE(r.out.find("\"name\": \"\\u00e4rger.txt\", \"name_bytes\": \"e4726765722e747874\""),
            std::string::npos)
      << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one line per package";
  r = RunTool({"extract", "-C", (out / "x").string(), (out / "p.001").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(out / "x/\xC3\xA4rger.txt"), ReadFile(src.dir / "files/\xC3\xA4rger.txt"));

  list.replace(list.find("\xE4rger.txt"), 1, "\xC3\xA4");  // the list saved as UTF-8
  WriteFile(src.dir / "Setup.lst", list);
  r = RunTool(src.Create(out / "q.001", {"--fix-sizes"}));
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("\\xc3\\xa4rger.txt: No such file or directory (named on list line 11; "
                       "list names are read in the ANSI code page, as setup.exe reads them (on "
                       "Linux Windows-1252): a list saved as UTF-8 names other files)"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(out / "q.001"));

  WriteFile(out / "twice.001", Build(GoodSpec({"README.TXT", "x.bin", "readme.txt."})));
  r = RunTool({"extract", "-C", (out / "y").string(), (out / "twice.001").string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(out / "y/README.TXT") && fs::exists(out / "y/readme.txt."));
  EXPECT_NE(r.err.find("readme.txt.: written beside \"README.TXT\": on Windows the two are one "
                       "file, and setup.exe leaves only the later entry's data"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("list line 13: \"readme.txt.\" is the same file on Windows as"),
            std::string::npos)
      << r.err;
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
    const std::string shown = c.code ? r.err : RunTool({"list", "-J", (out / "p").string()}).out;
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
  r = RunTool({"extract", "-qfC", x.path().string(), pkg});  // flags combined
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "") << "-q";
  EXPECT_EQ(ReadFile(x / "ro.dat"), ReadFile(src.dir / "files/ro.dat"));
  EXPECT_EQ(RunTool({"extract", "--force", "-C", x.path().string(), pkg}).code, 0)
      << "replacing its own read-only output";
}

// An error stream that, once the progress line passes half way, notes how many temporary
// files the extraction holds (in `seen`) and raises `sig`, as a user's Ctrl-C would.
// With `sig` 0 it makes a folder named `seen` in the extraction's folder instead, so that moving
// the files into place fails part way.
class InterruptHalfWay : public std::streambuf {
 public:
  InterruptHalfWay(int sig, fs::path dir, fs::path seen)
      : sig_(sig), dir_(std::move(dir)), seen_(std::move(seen)) {}
  const std::string& text() const { return text_; }

 protected:
  int overflow(int c) override {
    text_ += (char)c;
    const size_t at = text_.rfind(" %");
    if (at != std::string::npos && at + 2 == text_.size() && at >= 2) {
      const int percent = atoi(text_.c_str() + text_.find_last_of(' ', at - 1) + 1);
      if (percent >= 50 && sig_ == 0) {
        fs::create_directory(dir_ / seen_);
      } else if (percent >= 50) {
        size_t temps = 0;
        for (const auto& e : fs::directory_iterator(dir_))
          temps += e.path().filename().string().rfind(".datapack-", 0) == 0;
        WriteFile(seen_, std::to_string(temps));
        raise(sig_);
      }
    }
    return c;
  }

 private:
  int sig_;
  fs::path dir_, seen_;
  std::string text_;
};

// Extraction writes under temporary names and moves files into place only when the whole
// package is good: a refused, broken, blocked or interrupted run leaves the folder as it was,
// earlier copies replaced with --force included.
TEST(DatapackCli, ExtractLeavesTheFolderAsItWasUnlessTheWholePackageIsGood) {
  const std::vector<std::string> all = {"Setup.lst", "Setup1.exe", "KQUninst.exe", "a.txt",
                                        "b.txt"};
  struct {
    const char* what;
    std::vector<std::string> names;
    bool break_last;
    std::vector<std::string> before;  // files in the folder beforehand; "name/" a folder
    int code;                         // or the signal that ends the run
    int sig;
    const char* words;
    rlim_t limit = RLIM_INFINITY;    // the size a file may grow to
    const char* fresh = nullptr;     // -C this folder inside the folder, not there beforehand
    const char* intruder = nullptr;  // a folder made half way, after the names were checked
  } cases[] = {
      {"parent folder", {"..\\evil.txt"}, false, {}, 2, 0, "not a plain file name"},
      {"slash", {"a/b.txt"}, false, {}, 2, 0, "not a plain file name"},
      {"dot dot", {".."}, false, {}, 2, 0, "not a plain file name"},
      {"device", {"nul.txt"}, false, {}, 2, 0, "device name"},
      {"the uninstaller's name",
       {"a.txt", "kquninst.EXE"},
       false,
       {},
       2,
       0,
       "support file \"kquninst.EXE\" (list line 12): it would replace the uninstaller"},
      {"corrupt last entry", {"a.txt", "b.txt"}, true, {}, 2, 0, "incorrect data check"},
      {"corrupt last entry, new folders",
       {"a.txt", "b.txt"},
       true,
       {"c.txt"},
       2,
       0,
       "incorrect data check",
       RLIM_INFINITY,
       "new/deeper"},
      {"corrupt last entry, earlier copies",
       {"a.txt", "b.txt"},
       true,
       all,
       2,
       0,
       "incorrect data check"},
      {"a folder blocks a name",
       {"a.txt", "b.txt"},
       false,
       {"a.txt", "b.txt/"},
       1,
       0,
       "b.txt: is a folder"},
      {"a folder appears while unpacking, earlier copies",
       {"a.txt", "b.txt"},
       false,
       {"Setup.lst", "Setup1.exe", "KQUninst.exe", "a.txt"},
       3,
       0,
       "b.txt: cannot move the old file aside: ",
       RLIM_INFINITY,
       nullptr,
       "b.txt"},
      {"full disk, earlier copies", {"a.txt", "b.txt"}, false, all, 3, 0, "File too large", 1200},
      {"SIGINT", {"a.txt", "b.txt"}, false, all, 0, SIGINT, ""},
      {"SIGTERM", {"a.txt", "b.txt"}, false, {"a.txt"}, 0, SIGTERM, ""},
      {"SIGHUP", {"a.txt", "b.txt"}, false, {}, 0, SIGHUP, ""},
      {"SIGINT, new folders",
       {"a.txt", "b.txt"},
       false,
       {},
       0,
       SIGINT,
       "",
       RLIM_INFINITY,
       "new/deeper"},
  };
  for (const auto& c : cases) {
    Bytes p = Build(GoodSpec(c.names));
    if (c.break_last) p.back() ^= 0xFF;
    TempDir root;
    WriteFile(root / "_Data.001", p);
    const fs::path out = root / "out";
    fs::create_directory(out);
    for (const std::string& name : c.before) {
      if (name.back() == '/')
        fs::create_directory(out / name);
      else
        WriteFile(out / name, "old " + name);
    }
    std::vector<std::string> before = Listing(out);
    const fs::path target = c.fresh ? out / c.fresh : out;
    const std::vector<std::string> args = {"extract", "--force", "-C", target.string(),
                                           (root / "_Data.001").string()};
    if (c.sig) {
      const pid_t child = fork();
      if (child == 0) {
        InterruptHalfWay buffer(c.sig, target, root / "seen");
        std::ostream err(&buffer);
        std::ostringstream sink;
        datapack::Console tty{sink, err, true, "", 80, 0, 0};
        _exit(100 + datapack::RunDatapack(args, tty));
      }
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.what << " " << status;
      EXPECT_NE(ReadFile(root / "seen"), ToBytes("0")) << c.what << ": interrupted too early";
    } else if (c.intruder) {
      InterruptHalfWay buffer(0, target, c.intruder);
      std::ostream err(&buffer);
      std::ostringstream sink;
      datapack::Console tty{sink, err, true, "", 80, 0, 0};
      EXPECT_EQ(datapack::RunDatapack(args, tty), c.code) << c.what;
      EXPECT_NE(buffer.text().find(c.words), std::string::npos) << c.what << "\n" << buffer.text();
      before.push_back(c.intruder);
      std::sort(before.begin(), before.end());
    } else {
      Result r = RunWithFileSizeLimit(args, c.limit);
      EXPECT_EQ(r.code, c.code) << c.what;
      EXPECT_NE(r.err.find(c.words), std::string::npos) << c.what << "\n" << r.err;
    }
    EXPECT_EQ(Listing(out), before) << c.what;
    for (const std::string& name : c.before) {
      if (name.back() != '/') {
        EXPECT_EQ(ReadFile(out / name), ToBytes("old " + name)) << c.what;
      }
    }
  }
}

// RunTool with `input` as standard input: through a pipe (fed by a thread, as a package does
// not fit the pipe's buffer), or from a regular file standing at `skip` bytes, as after a
// redirection that something else already read from.
Result RunWithInput(const std::vector<std::string>& args, const Bytes& input, bool pipe_it,
                    size_t skip = 0) {
  std::ostringstream out, err;
  datapack::Console console{out, err, false, ""};
  int fds[2] = {-1, -1};
  FILE* in = nullptr;
  std::thread feeder;
  if (pipe_it) {
    if (pipe(fds) != 0) return {-1, "", "pipe failed"};
    feeder = std::thread([&] {
      (void)!write(fds[1], input.data(), input.size());
      close(fds[1]);
    });
    in = fdopen(fds[0], "rb");
  } else {
    in = tmpfile();
    fwrite(input.data(), 1, input.size(), in);
    fseek(in, (long)skip, SEEK_SET);
  }
  console.in = in;
  const int code = datapack::RunDatapack(args, console);
  if (feeder.joinable()) feeder.join();
  fclose(in);
  return {code, out.str(), err.str()};
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// "-" is standard input for list, verify and extract, from a pipe or a redirected file: the
// verdicts and messages, offsets and sizes included, are those of the same package read as a
// file. For create it is standard output.
TEST(DatapackCli, DashIsStandardInputOrStandardOutput) {
  Sources src;
  TempDir dir;
  ASSERT_EQ(RunTool(src.Create(dir / "p.001")).code, 0);
  const Bytes good = ReadFile(dir / "p.001");
  Bytes cut(good.begin(), good.end() - 300), trailing = good;
  trailing.insert(trailing.end(), 7, 0);
  struct {
    const char* what;
    std::vector<std::string> args;  // the package last
    const Bytes* package;
  } cases[] = {
      {"verify good", {"verify"}, &good},
      {"verify cut", {"verify"}, &cut},
      {"verify trailing bytes", {"verify", "-S"}, &trailing},
      {"list json", {"list", "-J"}, &good},
      {"list cut", {"list"}, &cut},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "q.001", *c.package);
    std::vector<std::string> args = c.args;
    args.push_back((dir / "q.001").string());
    Result file = RunTool(args);
    file.out = Replace(file.out, (dir / "q.001").string(), "-");
    file.err = Replace(file.err, (dir / "q.001").string(), "-");
    args.back() = "-";
    for (bool pipe_it : {true, false}) {
      Bytes shifted = *c.package;
      shifted.insert(shifted.begin(), 5, 'x');  // read by someone else before
      const Result r = RunWithInput(args, pipe_it ? *c.package : shifted, pipe_it, pipe_it ? 0 : 5);
      EXPECT_EQ(r.code, file.code) << c.what << pipe_it;
      EXPECT_EQ(r.out, file.out) << c.what << pipe_it;
      EXPECT_EQ(r.err, file.err) << c.what << pipe_it;
    }
  }
  // A named pipe (or bash's <(...), a /dev/fd/N) is read as "-" reads a pipe.
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const auto& c : cases) {
    WriteFile(dir / "q.001", *c.package);
    std::vector<std::string> args = c.args;
    args.push_back((dir / "q.001").string());
    const Result file = RunTool(args);
    args.back() = fifo.string();
    // The writer waits for a reader without blocking, so that a run that never opens the
    // pipe fails the test instead of hanging it.
    std::atomic<bool> ended{false};
    std::thread feeder([&] {
      int fd = -1;
      while (fd < 0 && !ended) {
        fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) usleep(1000);
      }
      if (fd < 0) return;
      fcntl(fd, F_SETFL, 0);
      (void)!write(fd, c.package->data(), c.package->size());
      close(fd);
    });
    Result piped = RunTool(args);
    ended = true;
    feeder.join();
    EXPECT_EQ(piped.code, file.code) << c.what;
    EXPECT_EQ(Replace(piped.out, fifo.string(), "F"),
              Replace(file.out, (dir / "q.001").string(), "F"))
        << c.what;
    EXPECT_EQ(Replace(piped.err, fifo.string(), "F"),
              Replace(file.err, (dir / "q.001").string(), "F"))
        << c.what;
  }

  Result r = RunWithInput({"verify", "-", "-"}, good, false);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("standard input (-) can be read only once"), std::string::npos) << r.err;

  // create -o -: the same bytes as the file, the summary on standard error; never onto a
  // terminal, and with --strict nothing when there is a warning.
  r = RunTool(src.Create("-"));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ToBytes(r.out), good);
  EXPECT_NE(r.err.find("-: 5 entries, "), std::string::npos) << r.err;
  EXPECT_TRUE(RunTool(src.Create("-", {"-q"})).err.empty());
  std::ostringstream o, e;
  datapack::Console tty{o, e, false, ""};
  tty.out_is_terminal = true;
  EXPECT_EQ(datapack::RunDatapack(src.Create("-"), tty), 1);
  EXPECT_EQ(o.str(), "");
  EXPECT_NE(e.str().find("standard output is a terminal"), std::string::npos) << e.str();
  e.str("");
  EXPECT_EQ(
      datapack::RunDatapack({"brand", "-l", "https://example.org/", "-o", "-", "setup.exe"}, tty),
      1)
      << "brand -o - is standard output too, never a terminal";
  EXPECT_NE(e.str().find("standard output is a terminal"), std::string::npos) << e.str();
  EXPECT_FALSE(fs::exists("-"));
  r = RunTool(src.Create("-", {"--strict"}));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ToBytes(r.out), good) << "through the scratch file";
  WriteFile(src.dir / "uninst.exe", std::string("#!/bin/sh\n"));
  r = RunTool(src.Create("-", {"--strict"}));
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "") << "--strict writes nothing";

  TempDir x;  // last: reading the sources changes their access times
  r = RunWithInput({"extract", "-q", "-C", x.path().string(), "-"}, good, true);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(x / "ro.dat"), ReadFile(src.dir / "files/ro.dat"));
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
      {{"-h", "extract"}, 0, true, "-C, --directory DIR"},
      {{"--help", "brand", "-o", "x"}, 0, true, "Usage: datapack brand"},
      {{"help", "extract"}, 0, true, "-C, --directory DIR"},
      {{"list", "--help"}, 0, true, "--json"},
      {{"--version"}, 0, true, "datapack "},
      {{}, 1, false, "Usage: datapack"},
      {{"pack"}, 1, false, "unknown command 'pack'"},
      {{"help", "pack"}, 1, false, "'pack' (commands: create, list, verify, extract, brand)"},
      {{"help", "help"}, 0, true, "Usage: datapack COMMAND"},
      {{"create", "-l", "a", "-s", "b", "-u", "c", "-k", "Setup", "--epoch", "99999999999999"},
       1,
       false,
       "--epoch must be -11644473600 (1601"},
      {{"create", "-l", "a", "-s", "b", "-u", "c", "-k", "Setup", "--epoch", "1.5"},
       1,
       false,
       "--epoch must be a whole number"},
      {{"create"}, 1, false, "--list FILE is required"},
      {{"create", "-l", "a", "-s", "b", "-u", "c", "-k", "Setup", "--level", "10"},
       1,
       false,
       "--level"},
      {{"create", "-l", "a", "-s", "b", "-u", "c", "stray"}, 1, false, "unexpected operand"},
      {{"verify", "--bogus"}, 1, false, "unknown option '--bogus'"},
      {{"extract", "-C"}, 1, false, "needs a value"},
      {{"extract", "-C", ""}, 1, false, "the folder name after -C is empty"},
      {{"extract", "a", "b"}, 1, false, "one package at a time"},
      {{"list", "-j"}, 1, false, "unknown option '-j'"},
      {{"verify", "-s"}, 1, false, "unknown option '-s'"},
      {{"extract", "-qx"}, 1, false, "unknown option '-x' in '-qx'"},
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
  struct {
    const char* what;
    bool terminal;
    std::vector<std::string> extra;
    unsigned delay_ms;  // progress_delay_ms
    bool shown;
  } cases[] = {
      {"terminal", true, {}, 0, true},
      {"not a terminal", false, {}, 0, false},
      {"-q", true, {"-q"}, 0, false},
      {"work shorter than the delay", true, {}, 60000, false},
  };
  for (const auto& c : cases) {
    std::ostringstream o, e;
    datapack::Console tty{o, e, c.terminal, "", 40, c.delay_ms, 0};
    ASSERT_EQ(datapack::RunDatapack(src.Create(out / "p", c.extra), tty), 0) << c.what;
    fs::remove(out / "p");
    const std::string err = e.str();
    if (!c.shown) {
      EXPECT_EQ(err, "") << c.what;
      continue;
    }
    EXPECT_NE(err.find("\rdatapack: creating "), std::string::npos) << c.what;
    EXPECT_NE(err.find("... 100 %"), std::string::npos) << c.what << ": the label is cut";
    EXPECT_EQ(err.back(), '\r') << "the line is blanked at the end";
    std::stringstream lines(err);
    for (std::string line; std::getline(lines, line, '\r');)
      EXPECT_LT(line.size(), 40u) << "within the terminal's width: " << line;
  }
}

// Names and arguments reach the terminal with every byte outside printable ASCII (controls,
// DEL, and the code-page bytes above it) as \xHH, checked against the C library's isprint.
TEST(DatapackCli, EveryByteOutsidePrintableAsciiIsEscaped) {
  for (int b = 0; b < 256; ++b) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", b);
    const std::string want = isprint(b) ? std::string(1, (char)b) : hex;
    EXPECT_EQ(datapack::Printable("<" + std::string(1, (char)b) + ">"), "<" + want + ">") << b;
  }
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
    const char* err = "";
  } cases[] = {
      {"verify good.001", 0, "good.001: good"},
      {"verify bad.001", 2, "Setup program cannot continue because file _Data.001 is corrupted.\n"},
      {"verify absent.001", 3, ""},
      {"list --nope", 1, ""},
      {"list --json good.001 >/dev/full", 3, "",
       "datapack: write error: No space left on device\n"},
      {"verify good.001 >/dev/full", 3, "", "datapack: write error: No space left on device\n"},
      {"verify good.001 bad.001", 2, "good.001: good"},
      {"verify - <good.001", 0, "-: good"},
      {"list -J - <bad.001", 2, "{\"package\": \"-\", \"status\": 2, \"readable\": true, "},
      {"verify bad.001 absent.001 good.001", 3, "bad.001: Setup program cannot continue"},
      {"verify -qS good.001 good.001", 0, ""},
      {"list -qJ absent.001 good.001", 3,
       "{\"package\": \"absent.001\", \"status\": 3, \"readable\": false, \"error\": "
       "{\"reason\": \"No such file or directory\"}}\n{\"package\": \"good.001\", \"status\": 0, "},
  };
  for (const auto& c : cases) {
    const bool redirected = c.args.find('>') != std::string::npos;
    const std::string cmd = "cd '" + dir.path().string() + "' && '" DATAPACK_EXE "' " + c.args +
                            (redirected ? "" : " >out.txt") + " 2>err.txt";
    fs::remove(dir / "out.txt");
    int status = system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.args;
    EXPECT_EQ(WEXITSTATUS(status), c.code) << c.args;
    const Bytes out = ReadFile(dir / "out.txt");
    const std::string text(out.begin(), out.end());
    // `out` is how the output begins; a row that expects none wants nothing at all.
    if (*c.out)
      EXPECT_EQ(text.compare(0, strlen(c.out), c.out), 0) << c.args << ": " << text;
    else
      EXPECT_EQ(text, "") << c.args;
    if (c.code != 0) {
      EXPECT_FALSE(ReadFile(dir / "err.txt").empty()) << c.args;
    }
    if (*c.err) {
      EXPECT_EQ(ReadFile(dir / "err.txt"), ToBytes(c.err)) << c.args;
    }
  }
}
#endif
