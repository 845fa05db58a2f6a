#include "pool.hpp"

#include <malloc.h>
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

// Each worker thread allocates from a heap of its own, which the C library grows a few pages at a
// time, each growth a change of the address space that stalls every other thread's page faults.
// Growing heaps this much at once keeps workers building puzzles side by side from queueing on it.
constexpr int kHeapGrowth = 64 << 20;
// Setting the growth fixes the size from which blocks are mapped on their own, which the library
// would otherwise raise as it sees large blocks freed; it is set to the most it would raise it to.
constexpr int kOwnMappingBytes = 32 << 20;

struct Pool {
  std::size_t threads;
  oneapi::tbb::task_arena arena;
  Pool() : threads(configured_threads()), arena(static_cast<int>(threads)) {
#if defined(__GLIBC__)
    mallopt(M_TOP_PAD, kHeapGrowth);
    mallopt(M_MMAP_THRESHOLD, kOwnMappingBytes);
#endif
    arena.initialize();
  }
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
