// Stopping long work at the host's request (Ctrl-C). The host puts a Watch on the thread that makes
// a call; the poll points of long loops ask it, cheaply, whether the call is to stop, and unwind with
// Interrupted when it is. Workers of the pool take on the watch of the call they work for, so a stop
// reaches every task of the call.
#pragma once

#include <atomic>
#include <cstdint>

namespace gy {

// Thrown by a poll point once the call is to stop. It is no error of the work: nothing in the core
// catches it but the pool, which carries it to the calling thread, and the host turns it into its own
// interruption. Loops poll only where unwinding leaves their objects as a failed call would.
struct Interrupted {};

// One call's stop request, shared with the workers that help it.
class Watch {
 public:
  // The host's test, run on the thread that made the watch (and only there) at most once every
  // interval: true when the call is to stop. A null test never stops the call by itself.
  using Check = bool (*)(void* context);
  static constexpr std::int64_t kIntervalNs = 20'000'000;

  // Puts this watch on the calling thread for its lifetime; the thread's previous watch comes back
  // when it ends.
  Watch(Check check, void* context) noexcept;
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  void request_stop() noexcept { stop_.store(true, std::memory_order_relaxed); }
  bool stop_requested() const noexcept { return stop_.load(std::memory_order_relaxed); }

  // Runs the host's test when it is due and this is the watch's own thread; whether the call is to
  // stop.
  bool due() noexcept;
  // The same, the test run now whatever the time.
  bool check_now() noexcept;

 private:
  Check check_;
  void* context_;
  Watch* previous_;
  const void* owner_;
  std::int64_t next_ns_;
  std::atomic<bool> stop_{false};
};

// The watch of the call this thread works for, or null.
Watch* current_watch() noexcept;

// Makes `w` the watch of this thread until it ends (a pool task working for another thread's call).
class WorkFor {
 public:
  explicit WorkFor(Watch* w) noexcept;
  ~WorkFor();
  WorkFor(const WorkFor&) = delete;
  WorkFor& operator=(const WorkFor&) = delete;

 private:
  Watch* previous_;
};

// A poll point: throws Interrupted when the call this thread works for is to stop. A thread with no
// watch never stops. Costs a thread-local read and, on the calling thread, a coarse clock read.
void poll_interrupt();

}  // namespace gy
