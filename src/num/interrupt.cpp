#include "num/interrupt.hpp"

#include <time.h>

namespace gy {
namespace {

thread_local Watch* watch_of_thread = nullptr;
// Any per-thread address tells threads apart.
thread_local char thread_mark;

std::int64_t coarse_now_ns() noexcept {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

// The first test is due one interval after the first poll: a call that never polls reads no clock.
Watch::Watch(Check check, void* context) noexcept
    : check_(check), context_(context), previous_(watch_of_thread), owner_(&thread_mark), next_ns_(0) {
  watch_of_thread = this;
}

Watch::~Watch() { watch_of_thread = previous_; }

bool Watch::check_now() noexcept {
  if (stop_requested()) return true;
  if (!check_ || owner_ != &thread_mark) return false;
  next_ns_ = coarse_now_ns() + kIntervalNs;
  if (check_(context_)) request_stop();
  return stop_requested();
}

bool Watch::due() noexcept {
  if (stop_requested()) return true;
  if (!check_ || owner_ != &thread_mark) return false;
  const std::int64_t now = coarse_now_ns();
  if (next_ns_ == 0) next_ns_ = now + kIntervalNs;
  if (now < next_ns_) return false;
  return check_now();
}

Watch* current_watch() noexcept { return watch_of_thread; }

WorkFor::WorkFor(Watch* w) noexcept : previous_(watch_of_thread) { watch_of_thread = w; }
WorkFor::~WorkFor() { watch_of_thread = previous_; }

void poll_interrupt() {
  if (Watch* w = watch_of_thread; w && w->due()) throw Interrupted{};
}

}  // namespace gy
