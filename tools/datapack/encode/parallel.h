// Running independent tasks on several threads, for `datapack create`.
//
// One implementation per build, chosen in CMake by whether std::thread compiles:
// parallel_threads.cpp (Linux, the x86_64 Windows build), parallel_serial.cpp (the i686
// Windows build, whose win32-thread-model compiler has no std::thread). Results never depend
// on the number of threads: every task writes only its own slot.
#ifndef DATAPACK_PARALLEL_H
#define DATAPACK_PARALLEL_H

#include <stddef.h>

#include <functional>

namespace datapack {

// Threads to use when the user names no number: the processors the system reports (at
// least 1); 1 where there are no threads.
unsigned DefaultThreads();

// Runs task(i) for every i in [0, count) on up to `threads` threads, the calling thread
// among them, taking the tasks in index order. `tick` (may be empty) is called on the calling
// thread after each task that thread ran, so that it may show progress. Returns when every
// task has finished.
void RunTasks(size_t count, unsigned threads, const std::function<void(size_t)>& task,
              const std::function<void()>& tick);

}  // namespace datapack

#endif
