// Temporary files beside the files datapack writes: a package or a branded copy is written
// under a temporary name and renamed when complete, extracted files are renamed into place only
// once the whole package has been checked. The names say whose they are,
//   .datapack-HHHHHHHH-PID-N.tmp
// HHHHHHHH a hash of the machine's name, PID the writing process, N its count, so that a later
// run can remove those a killed run left behind (SIGKILL, a power cut) without touching the
// temporaries of a run still going on, here or on another machine sharing the folder.
#ifndef DATAPACK_TEMPFILES_H
#define DATAPACK_TEMPFILES_H

#include <stdio.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"
#include "platform.h"

namespace datapack {

// The temporary files of one run in one folder. An interrupt removes them (platform.h);
// so does the destructor, for every one not moved away meanwhile.
class TempSeries {
 public:
  explicit TempSeries(const fs::path& folder);
  ~TempSeries();
  TempSeries(const TempSeries&) = delete;
  TempSeries& operator=(const TempSeries&) = delete;

  // Creates the next temporary file. Returns nullptr with `error` set on failure.
  FILE* Create(fs::path& path, std::string& error);
  // Leaves the file at `path`, one of this series, where it is when the series ends.
  void Keep(const fs::path& path);

 private:
  fs::path folder_;
  std::string prefix_;          // ".datapack-HHHHHHHH-PID-"
  unsigned next_ = 0;           // N of the next name
  std::vector<fs::path> made_;  // created by this run
};

// The name of temporary file `n` of process `pid` of this machine.
std::string TemporaryName(unsigned long pid, unsigned n);

// Removes the stale temporary files in `folder` (regular files only). Returns how many.
unsigned RemoveStaleTemporaries(const fs::path& folder);

// Refuses, before anything is written, an output that is not a regular file (`note` follows
// that reason), already exists without `force`, lies in a folder that does not exist, or is
// one of the inputs under another name (same file; each input with the reason to print then).
// `name` is the output as given and `target` the name the write replaces: `name` itself, or
// where its chain of symbolic links ends. Returns kExitOk, or the exit status after printing
// why, the output shown as `shown`.
int CheckOutput(Console& console, const std::string& shown, const fs::path& name,
                const fs::path& target, bool force, const std::string& note,
                const std::vector<std::pair<fs::path, std::string>>& inputs);

// Writes `target` under a temporary name beside it and moves that into place once complete
// and on the disk, so that `target` is never seen half written; stale temporaries there go
// first. `write` fills the open file, and `ready` (when given) may still refuse the finished
// file; each returns kExitOk or the exit status after printing why. Returns kExitOk, or the
// exit status after printing why, the output shown as `shown`.
int WriteThroughTemporary(Console& console, const std::string& shown, const fs::path& target,
                          bool force, const std::function<int(FILE*)>& write,
                          const std::function<int()>& ready = nullptr);

}  // namespace datapack

#endif
