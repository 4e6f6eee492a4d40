// The source files of one package, shared by the command-line tests of datapack: list,
// setup program, uninstaller and two support files, with their own times and attributes.
#ifndef TESTS_UNIT_DATAPACK_SOURCES_H
#define TESTS_UNIT_DATAPACK_SOURCES_H

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "datapack_fixture.h"

namespace dptest {

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

inline std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline struct stat Stat(const fs::path& p) {
  struct stat st {};
  stat(p.c_str(), &st);
  return st;
}

}  // namespace dptest

#endif
