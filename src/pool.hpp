// The one process-wide worker pool. Every parallel loop of the system runs in it; its size comes
// from RAYON_NUM_THREADS (a positive integer) or else the CPUs this process may use, read once when
// the pool is first used. A caller's loop is isolated: while it waits it runs only its own tasks.
#pragma once

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

namespace gy::pool {

// The arena, created on first use.
oneapi::tbb::task_arena& arena();

// The number of worker threads of the pool (creates it on first call).
std::size_t thread_count();

// Runs f() inside the pool's arena, isolated from other callers' work.
template <class F>
decltype(auto) run(F&& f) {
  return arena().execute([&]() -> decltype(auto) { return oneapi::tbb::this_task_arena::isolate(f); });
}

// Calls body(lo, hi) over disjoint subranges covering [0, n), each at most `grain` long, in parallel.
template <class F>
void for_ranges(std::size_t n, std::size_t grain, F&& body) {
  if (n == 0) return;
  if (grain == 0) grain = 1;
  if (n <= grain) {
    body(std::size_t{0}, n);
    return;
  }
  run([&] {
    oneapi::tbb::parallel_for(
        oneapi::tbb::blocked_range<std::size_t>(0, n, grain),
        [&](const oneapi::tbb::blocked_range<std::size_t>& r) { body(r.begin(), r.end()); },
        oneapi::tbb::simple_partitioner());
  });
}

// Calls body(i) for every i in [0, n) in parallel; `grain` indices go to one task at least.
template <class F>
void for_each_index(std::size_t n, std::size_t grain, F&& body) {
  for_ranges(n, grain, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t i = lo; i < hi; ++i) body(i);
  });
}

// The index of the first value not below `limit`, searched in parallel; absent when there is none.
template <class T>
std::optional<std::size_t> first_not_below(std::span<const T> values, std::uint64_t limit) {
  static_assert(std::is_unsigned_v<T>);
  if (limit > std::numeric_limits<T>::max()) return std::nullopt;
  const T bound = static_cast<T>(limit);
  // Runs of this many values are tested without a branch (the compiler tests several at a time);
  // a run that holds one is searched value by value.
  constexpr std::size_t kRun = 64;
  std::atomic<std::size_t> first{values.size()};
  for_ranges(values.size(), std::size_t{1} << 16, [&](std::size_t lo, std::size_t hi) {
    if (lo >= first.load(std::memory_order_relaxed)) return;
    const T* v = values.data();
    for (; lo + kRun <= hi; lo += kRun) {
      unsigned over = 0;
      for (std::size_t r = 0; r < kRun; ++r) over |= v[lo + r] >= bound;
      if (over) break;
    }
    for (std::size_t i = lo; i < hi; ++i)
      if (v[i] >= bound) {
        std::size_t seen = first.load(std::memory_order_relaxed);
        while (i < seen && !first.compare_exchange_weak(seen, i, std::memory_order_relaxed)) {
        }
        return;
      }
  });
  const std::size_t i = first.load();
  if (i == values.size()) return std::nullopt;
  return i;
}

}  // namespace gy::pool
