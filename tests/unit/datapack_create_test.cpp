// datapack create on real files: reproducible output, what it replaces and refuses, the sizes
// fixer, its warnings, list names and the package kind.
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
#include "datapack_sources.h"
#include "filetime.h"
#include "tempfiles.h"

using namespace dptest;

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
