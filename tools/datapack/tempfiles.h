// Temporary files beside the files datapack writes: a package is written under a temporary
// name and renamed when complete, extracted files are renamed into place only once the whole
// package has been checked. The names say whose they are,
//   .datapack-HHHHHHHH-PID-N.tmp
// HHHHHHHH a hash of the machine's name, PID the writing process, N its count, so that a later
// run can remove those a killed run left behind (SIGKILL, a power cut) without touching the
// temporaries of a run still going on, here or on another machine sharing the folder.
#ifndef DATAPACK_TEMPFILES_H
#define DATAPACK_TEMPFILES_H

#include <stdio.h>

#include <string>
#include <vector>

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

 private:
  fs::path folder_;
  std::string prefix_;          // ".datapack-HHHHHHHH-PID-"
  unsigned next_ = 0;           // N of the next name
  std::vector<fs::path> made_;  // created by this run
};

// The name of temporary file `n` of process `pid` of this machine.
std::string TemporaryName(unsigned long pid, unsigned n);

// Whether `name` (a file name) is a temporary file of a datapack process of this machine that
// has ended: its own process is still running.
bool IsStaleTemporary(const std::string& name);

// Removes the stale temporary files in `folder` (regular files only). Returns how many.
unsigned RemoveStaleTemporaries(const fs::path& folder);

}  // namespace datapack

#endif
