// datapack's commands end to end on real files: the create, list, verify and extract round
// trip, "-" and pipes, help and usage errors, the progress line, escaped names, and the real
// program's exit statuses. Each command's own cases are in datapack_<command>_test.cpp.
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
