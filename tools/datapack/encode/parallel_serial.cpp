// RunTasks where there are no threads: one task after the other on the calling thread.
#include "parallel.h"

namespace datapack {

unsigned DefaultThreads() { return 1; }

void RunTasks(size_t count, unsigned, const std::function<void(size_t)>& task,
              const std::function<void()>& tick) {
  for (size_t i = 0; i < count; ++i) {
    task(i);
    if (tick) tick();
  }
}

}  // namespace datapack
