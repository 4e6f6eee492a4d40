// RunTasks on std::thread: workers take the next index from a shared counter.
#include <atomic>
#include <thread>
#include <vector>

#include "parallel.h"

namespace datapack {

unsigned DefaultThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

void RunTasks(size_t count, unsigned threads, const std::function<void(size_t)>& task,
              const std::function<void()>& tick) {
  std::atomic<size_t> next(0);
  auto work = [&](bool caller) {
    for (size_t i; (i = next.fetch_add(1)) < count;) {
      task(i);
      if (caller && tick) tick();
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads && t < count; ++t) helpers.emplace_back(work, false);
  work(true);
  for (std::thread& h : helpers) h.join();
}

}  // namespace datapack
