#include "memory.hpp"

#include <oneapi/tbb/scalable_allocator.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>

#include "pool.hpp"

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace gy {
namespace {

// Freed blocks past this size are kept by the allocator for reuse instead of going back to the
// system at once.
constexpr std::intptr_t kKeptBlockBytes = std::intptr_t{1} << 20;

// A large page, and the size from which a block is laid out in whole large pages.
constexpr std::size_t kLargePage = std::size_t{1} << 21;
constexpr std::size_t kLargeBlock = 2 * kLargePage;

// The allocator's locks are its own and know nothing of fork: a fork waits for the calls in progress
// and holds new ones back until it is done, so that the child never finds one of them taken.
using Word = std::atomic<std::uint32_t>;
Word allocations_held{0};  // 1 while a fork holds new calls back
Word allocating{0};        // calls in progress

void sleep_while(Word& word, std::uint32_t value) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}
void wake_all(Word& word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

class AllocatorCall {
 public:
  AllocatorCall() {
    for (;;) {
      allocating.fetch_add(1, std::memory_order_seq_cst);
      if (!allocations_held.load(std::memory_order_seq_cst)) return;
      leave();
      while (allocations_held.load(std::memory_order_acquire)) sleep_while(allocations_held, 1);
    }
  }
  ~AllocatorCall() { leave(); }
  AllocatorCall(const AllocatorCall&) = delete;
  AllocatorCall& operator=(const AllocatorCall&) = delete;

 private:
  static void leave() {
    allocating.fetch_sub(1, std::memory_order_seq_cst);
    if (allocations_held.load(std::memory_order_seq_cst)) wake_all(allocating);
  }
};

void hold_allocations() {
  allocations_held.store(1, std::memory_order_seq_cst);
  for (std::uint32_t n; (n = allocating.load(std::memory_order_seq_cst)) != 0;) sleep_while(allocating, n);
}

void release_allocations() {
  allocations_held.store(0, std::memory_order_seq_cst);
  wake_all(allocations_held);
}

void lock_warmers();
void unlock_warmers();
void reset_warmers();

bool configure_allocator() {
  scalable_allocation_mode(TBBMALLOC_SET_HUGE_SIZE_THRESHOLD, kKeptBlockBytes);
  pool::at_fork(
      [] {
        hold_allocations();
        lock_warmers();
      },
      [] {
        unlock_warmers();
        release_allocations();
      },
      [] {
        reset_warmers();
        release_allocations();
      });
  return true;
}

bool configured() {
  static const bool done = configure_allocator();
  return done;
}

// The most a warmer backs in one piece: stopping waits for no more than this.
constexpr std::size_t kWarmPiece = kLargePage;

// Faults [data, data + bytes) in as written, without writing; false where the system has no way to.
bool populate(std::byte* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(data) + bytes;
  return madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0 || errno != EINVAL;
#else
  (void)data;
  (void)bytes;
  return false;
#endif
}

}  // namespace

// Every warmer's state is listed, so that a fork can find them all: the child has no job backing
// pages, and its warmers must know it.
struct PageWarmer::State {
  State();
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  std::mutex lock;
  std::condition_variable idle;
  std::deque<std::pair<std::byte*, std::size_t>> ranges;
  bool queued = false;    // a job is on the pool, or about to be
  bool in_hand = false;   // the job is backing a piece
  State* previous = nullptr;  // in the list of warmers, under warmers_lock
  State* next = nullptr;
};

namespace {

std::mutex warmers_lock;
PageWarmer::State* warmers = nullptr;

void lock_warmers() {
  warmers_lock.lock();
  for (PageWarmer::State* s = warmers; s; s = s->next) s->lock.lock();
}

void unlock_warmers() {
  for (PageWarmer::State* s = warmers; s; s = s->next) s->lock.unlock();
  warmers_lock.unlock();
}

// In the child of a fork: the jobs that were queued or backing pages are gone with the workers.
void reset_warmers() {
  for (PageWarmer::State* s = warmers; s; s = s->next) {
    s->ranges.clear();
    s->queued = false;
    s->in_hand = false;
  }
  unlock_warmers();
}

// The job on the pool: backs the queued ranges piece by piece until none is left, letting a fork go
// ahead between pieces.
void warm_queued(const std::shared_ptr<PageWarmer::State>& s) {
  static std::atomic<bool> supported{true};
  std::unique_lock hold(s->lock);
  while (!s->ranges.empty()) {
    auto& [data, bytes] = s->ranges.front();
    const std::size_t piece = std::min(bytes, kWarmPiece);
    std::byte* at = data;
    data += piece;
    bytes -= piece;
    if (bytes == 0) s->ranges.pop_front();
    s->in_hand = true;
    hold.unlock();
    if (supported.load(std::memory_order_relaxed) && !populate(at, piece))
      supported.store(false, std::memory_order_relaxed);
    hold.lock();
    s->in_hand = false;
    s->idle.notify_all();
    hold.unlock();
    pool::fork_point();
    hold.lock();
  }
  s->queued = false;
}

void run_warm_job(void* context) {
  std::unique_ptr<std::shared_ptr<PageWarmer::State>> s(static_cast<std::shared_ptr<PageWarmer::State>*>(context));
  warm_queued(*s);
}

}  // namespace

PageWarmer::State::State() {
  (void)configured();
  std::lock_guard hold(warmers_lock);
  next = warmers;
  if (next) next->previous = this;
  warmers = this;
}

PageWarmer::State::~State() {
  std::lock_guard hold(warmers_lock);
  (previous ? previous->next : warmers) = next;
  if (next) next->previous = previous;
}

PageWarmer::PageWarmer() noexcept = default;
PageWarmer::PageWarmer(PageWarmer&& o) noexcept : state_(std::exchange(o.state_, nullptr)) {}
PageWarmer& PageWarmer::operator=(PageWarmer&& o) noexcept {
  stop();
  state_ = std::exchange(o.state_, nullptr);
  return *this;
}
PageWarmer::~PageWarmer() { stop(); }

void PageWarmer::warm(void* data, std::size_t bytes) noexcept {
  if (bytes == 0) return;
  try {
    if (!state_) state_ = std::make_shared<State>();
    std::lock_guard hold(state_->lock);
    state_->ranges.emplace_back(static_cast<std::byte*>(data), bytes);
    if (state_->queued) return;
    auto job = std::make_unique<std::shared_ptr<State>>(state_);
    pool::enqueue(run_warm_job, job.get());
    job.release();
    state_->queued = true;
  } catch (...) {
    // Without room for the request the pages are faulted in when written, as ever.
  }
}

bool PageWarmer::busy() const noexcept {
  if (!state_) return false;
  std::lock_guard hold(state_->lock);
  return state_->in_hand || !state_->ranges.empty();
}

void PageWarmer::stop() noexcept {
  if (!state_) return;
  std::unique_lock hold(state_->lock);
  state_->ranges.clear();
  state_->idle.wait(hold, [&] { return !state_->in_hand; });
}

bool in_large_pages(std::size_t bytes) { return bytes >= kLargeBlock; }

bool address_space_room(std::size_t bytes) {
#if defined(__linux__)
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  // The size of the address space in pages, the first field of statm.
  const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[64] = {};
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return false;
  const std::uint64_t used = std::strtoull(text, nullptr, 10) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  return used <= limit.rlim_cur && bytes <= limit.rlim_cur - used;
#else
  (void)bytes;
  return true;
#endif
}

void* allocate_bytes(std::size_t bytes) {
  (void)configured();
  // A large block starts and ends on large pages, so that every page of it can be a large one.
  const bool large = in_large_pages(bytes) && bytes <= SIZE_MAX - kLargePage;
  const std::size_t size = large ? (bytes + kLargePage - 1) & ~(kLargePage - 1) : bytes ? bytes : 1;
  void* p = nullptr;
  {
    AllocatorCall call;
    p = scalable_aligned_malloc(size, large ? kLargePage : 64);
  }
  if (!p) throw std::bad_alloc();
  prefer_large_pages(p, size);
  return p;
}

void release_bytes(void* block) noexcept {
  if (!block) return;
  AllocatorCall call;
  scalable_aligned_free(block);
}

void prefer_large_pages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t large = kLargePage;
  if (bytes < kLargeBlock) return;
  auto begin = reinterpret_cast<std::uintptr_t>(data), end = begin + bytes;
  std::uintptr_t first = (begin + large - 1) & ~(large - 1), last = end & ~(large - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace gy
