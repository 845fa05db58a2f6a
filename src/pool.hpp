// The one process-wide worker pool. Every parallel loop of the system runs in it; its size comes
// from RAYON_NUM_THREADS (a positive integer) or else the CPUs this process may use, read once.
//
// The workers start at the first parallel loop, one after another, each only once the address space
// it needs has been found free, and each makes its per-thread state (the C++ runtime's exception
// state, the ThreadState of every module) before it takes work: a worker never has to allocate in
// order to fail. A pool none of whose workers can start refuses the loop with MemoryRefusal, and the
// next loop tries again; one that started only some of them runs on those, adding the rest later.
//
// A loop's calling thread works on its chunks too and, once none is left to hand out, waits for the
// ones in flight. Chunks run under the calling thread's watch (num/interrupt.hpp); a stop request of
// that watch or an exception of a chunk ends the handing out, and the first exception (Interrupted
// for a stop) is rethrown on the calling thread once no other thread works for the loop. While it
// waits, the calling thread keeps asking its watch, so that a stop is answered even while the last
// long chunks run elsewhere. A caller's loop is isolated: while it waits it runs only its own chunks.
//
// Around a fork the pool is brought to rest (every thread between two chunks) and the child starts a
// fresh pool on first use.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

namespace gy::pool {

// The number of threads that work on a loop, the caller included (read once, never fails).
std::size_t thread_count();

// Calls fn(context, lo, hi) over disjoint subranges covering [0, n), each at most `grain` long, n >
// grain, on the pool (see above).
using ChunkFn = void (*)(void* context, std::size_t lo, std::size_t hi);
void run_chunks(std::size_t n, std::size_t grain, ChunkFn fn, void* context);

// Calls body(lo, hi) over disjoint subranges covering [0, n), each at most `grain` long, in parallel.
template <class F>
void for_ranges(std::size_t n, std::size_t grain, F&& body) {
  if (n == 0) return;
  if (grain == 0) grain = 1;
  if (n <= grain) {
    body(std::size_t{0}, n);
    return;
  }
  using Body = std::remove_reference_t<F>;
  run_chunks(
      n, grain, [](void* f, std::size_t lo, std::size_t hi) { (*static_cast<Body*>(f))(lo, hi); },
      const_cast<void*>(static_cast<const void*>(std::addressof(body))));
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

// Runs run(context) once on a worker, in the background, after the loops waiting then. With a
// pool of one thread a worker is started for this alone. Throws std::bad_alloc when the task cannot
// be queued or no worker can start; a task still queued at a fork is dropped in the child.
void enqueue(void (*run)(void* context), void* context);

// Lets a fork in progress go ahead: a background task calls it between its pieces of work.
void fork_point();

// While it lives, this thread does not count as working for the pool: a fork waits for the pool to
// rest but not for this thread, which is waiting for something outside the pool (the host's lock).
// Loops it starts meanwhile count as its own. Leaving, a thread that was inside pool work waits for a
// fork in progress to end.
class Outside {
 public:
  Outside() noexcept;
  ~Outside();
  Outside(const Outside&) = delete;
  Outside& operator=(const Outside&) = delete;

 private:
  void* pool_;       // the pool this thread counted in, or null
  unsigned depth_;  // how deep in pool work it was
};

// Per-thread state of a module (thread_local objects, whose first use on a thread allocates): a
// namespace-scope ThreadState makes it on every worker when the worker joins the pool, and on each
// calling thread before its first loop, so that no thread allocates it once memory has run out.
class ThreadState {
 public:
  explicit ThreadState(void (*make)()) noexcept;
};

// Makes this thread's per-thread state now (a no-op the second time).
void prepare_thread();

// Handlers run around every fork of the process: prepare() once the pool rests, parent() in the
// forking process and child() in the new one after it. For state that background work shares with
// its callers. At most a few may be registered.
void at_fork(void (*prepare)(), void (*parent)(), void (*child)());

// At most `threads` threads (the caller included) work on the loops started while it lives; for
// tests and benchmarks that compare thread counts. Not meant to be nested or used concurrently.
class Limit {
 public:
  explicit Limit(std::size_t threads) noexcept;
  ~Limit();
  Limit(const Limit&) = delete;
  Limit& operator=(const Limit&) = delete;

 private:
  std::size_t previous_;
};

}  // namespace gy::pool
