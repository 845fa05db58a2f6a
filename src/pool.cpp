#include "pool.hpp"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace gy::pool {
namespace {

std::size_t configured_threads() {
  if (const char* env = std::getenv("RAYON_NUM_THREADS")) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(env, &end, 10);
    if (errno == 0 && end != env && *end == '\0' && v > 0 && v <= 4096) return static_cast<std::size_t>(v);
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  unsigned hw = std::thread::hardware_concurrency();
  return hw ? hw : 1;
}

struct Pool {
  std::size_t threads;
  oneapi::tbb::task_arena arena;
  Pool() : threads(configured_threads()), arena(static_cast<int>(threads)) { arena.initialize(); }
};

Pool& pool() {
  // Leaked on purpose: worker threads may still be winding down when static destructors run.
  static Pool* p = new Pool();
  return *p;
}

}  // namespace

oneapi::tbb::task_arena& arena() { return pool().arena; }

std::size_t thread_count() { return pool().threads; }

}  // namespace gy::pool
