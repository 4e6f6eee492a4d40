// Shared by the datapack tests: temporary folders, files, running datapack commands in-process
// and a small package description to start from.
#ifndef TESTS_UNIT_DATAPACK_FIXTURE_H
#define TESTS_UNIT_DATAPACK_FIXTURE_H

#include <stdio.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "testpack.h"

namespace dptest {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "datapack-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    path_ = mkdtemp(buf.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline void WriteFile(const fs::path& p, const Bytes& data) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write((const char*)data.data(), (std::streamsize)data.size());
}

inline void WriteFile(const fs::path& p, const std::string& text) { WriteFile(p, ToBytes(text)); }

inline Bytes ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct Result {
  int code;
  std::string out;
  std::string err;
};

// Runs `datapack ARGS...` in-process; `epoch` stands for the SOURCE_DATE_EPOCH variable.
inline Result RunTool(const std::vector<std::string>& args, const std::string& epoch = "") {
  std::ostringstream out, err;
  datapack::Console console{out, err, false, epoch};
  int code = datapack::RunDatapack(args, console);
  return {code, out.str(), err.str()};
}

// `datapack create` of `dir`'s Setup.lst, setup.exe and uninst.exe into `out`, then `extra`.
inline std::vector<std::string> CreateArgs(const fs::path& dir, const fs::path& out,
                                           const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"create",
                                   "-l",
                                   (dir / "Setup.lst").string(),
                                   "-s",
                                   (dir / "setup.exe").string(),
                                   "-u",
                                   (dir / "uninst.exe").string(),
                                   "-o",
                                   out.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// RunTool in a child process whose files may not grow past `limit` bytes (RLIMIT_FSIZE, with
// SIGXFSZ ignored): every write past it fails as on a full disk, with EFBIG.
inline Result RunWithFileSizeLimit(const std::vector<std::string>& args, rlim_t limit) {
  int pipes[2][2];
  if (pipe(pipes[0]) != 0 || pipe(pipes[1]) != 0) return {-1, "", "pipe failed"};
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    Result r = RunTool(args);
    (void)!write(pipes[0][1], r.out.data(), r.out.size());
    (void)!write(pipes[1][1], r.err.data(), r.err.size());
    _exit(r.code);
  }
  close(pipes[0][1]);
  close(pipes[1][1]);
  auto drain = [](int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, (size_t)n);
    close(fd);
    return text;
  };
  Result r{-1, drain(pipes[0][0]), drain(pipes[1][0])};
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
  return r;
}

// Bytes that do not compress to nothing, different for each seed.
inline Bytes Noise(size_t size, unsigned seed) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = (unsigned char)(x % 7 == 0 ? x >> 8 : 'a' + x % 26);
  }
  return b;
}

// A package the bootstrapper accepts: a 300-byte setup program, a 100-byte uninstaller and
// the named support files, with a list whose sizes add up.
inline datapack::PackageSpec GoodSpec(const std::vector<std::string>& names = {"readme.txt",
                                                                               "data.bin"}) {
  datapack::PackageSpec plan;
  plan.kind = KIND_SETUP;
  plan.setup_program.data = Noise(300, 1);
  plan.uninstaller.data = Noise(100, 2);
  for (size_t i = 0; i < names.size(); ++i)
    plan.support.push_back({names[i], Noise(1000 + 500 * i, 3 + (unsigned)i)});
  const std::string list = datapack::MakeListFile((uint32_t)datapack::PayloadTotal(plan), 0, names);
  plan.list.data = ToBytes(list);
  return plan;
}

inline Bytes Build(const datapack::PackageSpec& plan) {
  Bytes out;
  std::string error;
  if (!datapack::BuildPackage(plan, out, error)) out.clear();
  return out;
}

}  // namespace dptest

#endif
