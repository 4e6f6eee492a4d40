// datapack extract on real files: what it never overwrites, and the folder left as it was
// unless the whole package is good.
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
