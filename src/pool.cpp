#include "pool.hpp"

#include <cxxabi.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "num/error.hpp"
#include "num/interrupt.hpp"

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

std::size_t configured() {
  static const std::size_t threads = configured_threads();
  return threads;
}

std::int64_t now_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// ---------------------------------------------------------------------------------------------
// Waiting on a word

using Word = std::atomic<std::uint32_t>;
static_assert(sizeof(Word) == sizeof(std::uint32_t));

// Sleeps while word holds value, at most timeout_ns when that is not negative; may return early.
void wait_while(Word& word, std::uint32_t value, std::int64_t timeout_ns = -1) {
  timespec t;
  timespec* limit = nullptr;
  if (timeout_ns >= 0) {
    t.tv_sec = static_cast<time_t>(timeout_ns / 1'000'000'000);
    t.tv_nsec = static_cast<long>(timeout_ns % 1'000'000'000);
    limit = &t;
  }
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, limit, nullptr, 0);
}

// Wakes up to count sleepers of word. Only the address is used: the word may be gone already.
void wake(Word& word, int count) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// A lock held for a few instructions at a time: a thread waiting for it spins, giving way to other
// threads after a while, instead of going to sleep and being woken.
class SpinLock {
 public:
  void lock() noexcept {
    for (unsigned spins = 0; held_.exchange(true, std::memory_order_acquire);)
      while (held_.load(std::memory_order_relaxed)) {
        if (++spins < 64)
          cpu_relax();
        else
          sched_yield();
      }
  }
  void unlock() noexcept { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

// ---------------------------------------------------------------------------------------------
// Registrations, filled before any thread of the pool exists

constexpr std::size_t kMaxThreadStates = 16;
std::atomic<void (*)()> thread_states[kMaxThreadStates];
std::atomic<std::size_t> thread_state_count{0};

struct ForkHooks {
  void (*prepare)();
  void (*parent)();
  void (*child)();
};
constexpr std::size_t kMaxForkHooks = 4;
ForkHooks fork_hooks[kMaxForkHooks];
std::atomic<std::size_t> fork_hook_count{0};
std::mutex fork_hook_lock;

thread_local bool prepared = false;

// ---------------------------------------------------------------------------------------------
// The pool

// One parallel loop. Its chunks are split into as many lanes, runs of consecutive chunks, as threads
// may work on it: each thread takes the chunks of its own lane in order, and then those left in the
// others, until none is left or the loop stops. (A thread that keeps to neighbouring chunks reads and
// writes memory the way the hardware prefetches it.) The job lives on the calling thread's stack,
// which does not return before every worker has left it.
struct Job {
  static constexpr std::size_t kMaxLanes = 64;

  Job(ChunkFn f, void* c, std::size_t n, std::size_t chunk_count, Watch* w)
      : fn(f), context(c), chunks(chunk_count), base(n / chunk_count), extra(n % chunk_count), watch(w) {}

  // Splits the chunks into one lane for the caller and one for each helper.
  void make_lanes(std::size_t helpers) {
    lane_count = std::min(helpers + 1, kMaxLanes);
    for (std::size_t l = 0; l < lane_count; ++l) {
      lanes[l].next.store(l * chunks / lane_count, std::memory_order_relaxed);
      lanes[l].end = (l + 1) * chunks / lane_count;
    }
  }

  // The chunks handed out, once no thread works on the loop.
  std::size_t handed_out() const {
    std::size_t n = 0;
    for (std::size_t l = 0; l < lane_count; ++l) {
      const std::size_t begin = l * chunks / lane_count;
      n += std::min(lanes[l].next.load(std::memory_order_relaxed), lanes[l].end) - begin;
    }
    return n;
  }

  ChunkFn fn;
  void* context;
  std::size_t chunks;
  std::size_t base, extra;  // chunk k has base + (k < extra) indices
  Watch* watch;
  std::uint32_t max_helpers = 0;
  std::uint32_t joined = 0;  // helpers that joined, under the pool's lock: the next one's lane
  Job* next_job = nullptr;
  // The workers inside the loop, and kCallerAsleep while the caller sleeps until they have left.
  static constexpr std::uint32_t kCallerAsleep = 0x80000000u;
  Word helpers{0};
  std::atomic<bool> stop{false};       // hand out no more chunks
  std::atomic<bool> failed{false};
  std::exception_ptr error;            // the first exception of a chunk, written by its thread
  std::size_t lane_count = 1;
  struct alignas(64) Lane {
    std::atomic<std::size_t> next{0};  // its next chunk
    std::size_t end = 0;
  };
  Lane lanes[kMaxLanes];

  // Whether a helper may still join.
  bool open() const { return !stop.load(std::memory_order_relaxed) && joined < max_helpers; }
};

struct Task {
  void (*run)(void*) = nullptr;
  void* context = nullptr;
};

struct Pool {
  explicit Pool(std::size_t threads)
      : job_workers(threads - 1), wanted(std::max<std::size_t>(threads - 1, 1)) {}

  const std::size_t job_workers;  // workers that take the chunks of loops
  const std::size_t wanted;       // workers to start: one for background tasks also when alone

  std::mutex start_lock;
  std::atomic<std::size_t> started{0};
  std::int64_t last_attempt_ns = 0;  // under start_lock

  SpinLock lock;  // the lists below
  Job* jobs = nullptr;  // newest first
  std::deque<Task> tasks;
  Word epoch{0};     // moves on whenever work is published
  Word sleepers{0};  // workers asleep on epoch, or about to be

  Word gate{0};     // 1 while a fork waits for the pool to rest
  Word running{0};  // threads counted as working for the pool (outside waits and rests)
};

std::atomic<Pool*> current_pool{nullptr};
std::atomic<std::size_t> thread_limit{0};

void register_fork_handlers();

Pool& pool() {
  if (Pool* p = current_pool.load(std::memory_order_acquire)) return *p;
  register_fork_handlers();
  auto* made = new Pool(configured());
  Pool* expected = nullptr;
  if (current_pool.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return *made;
  delete made;
  return *expected;
}

// ---------------------------------------------------------------------------------------------
// Counting the threads at work, for a fork

// How deeply this thread is inside pool work, and the pool it counts in (null while it does not
// count: outside pool work, waiting for other threads, or resting for a fork).
thread_local unsigned work_depth = 0;
thread_local Pool* counted_in = nullptr;

void count_out(Pool& s) {
  s.running.fetch_sub(1, std::memory_order_seq_cst);
  if (s.gate.load(std::memory_order_seq_cst)) wake(s.running, 1);
  counted_in = nullptr;
}

// Counts this thread in, first waiting for a fork in progress to end.
void count_in(Pool& s) {
  for (;;) {
    s.running.fetch_add(1, std::memory_order_seq_cst);
    if (!s.gate.load(std::memory_order_seq_cst)) {
      counted_in = &s;
      return;
    }
    s.running.fetch_sub(1, std::memory_order_seq_cst);
    wake(s.running, 1);
    while (s.gate.load(std::memory_order_acquire)) wait_while(s.gate, 1);
  }
}

// At a point between chunks: lets a fork in progress go ahead.
void rest(Pool& s) {
  if (counted_in != &s) return;
  count_out(s);
  count_in(s);
}

class Working {
 public:
  explicit Working(Pool& s) {
    if (work_depth++ == 0) count_in(s);
  }
  ~Working() {
    if (--work_depth == 0 && counted_in) count_out(*counted_in);
  }
  Working(const Working&) = delete;
  Working& operator=(const Working&) = delete;
};

// A thread waiting for the chunks of other threads does not count; one nested in a chunk of an outer
// loop counts again before it goes back to that chunk.
class Waiting {
 public:
  Waiting() : was_(counted_in) {
    if (was_) count_out(*was_);
  }
  ~Waiting() {
    if (was_ && work_depth > 1) count_in(*was_);
  }
  Waiting(const Waiting&) = delete;
  Waiting& operator=(const Waiting&) = delete;

 private:
  Pool* was_;
};

// ---------------------------------------------------------------------------------------------
// Loops

void run_chunk(Job& job, std::size_t k) {
  const std::size_t lo = k * job.base + std::min(k, job.extra);
  const std::size_t hi = lo + job.base + (k < job.extra ? 1 : 0);
  try {
    WorkFor on(job.watch);
    job.fn(job.context, lo, hi);
  } catch (...) {
    // No allocation: the pointer shares the exception object in flight.
    if (!job.failed.exchange(true, std::memory_order_acq_rel)) job.error = std::current_exception();
    job.stop.store(true, std::memory_order_relaxed);
  }
}

// Runs chunks of the job, those of lane `home` first, until none is left to hand out or the job
// stops.
void work_on(Pool* s, Job& job, std::size_t home) {
  for (std::size_t tried = 0; tried < job.lane_count; ++tried) {
    Job::Lane& lane = job.lanes[(home + tried) % job.lane_count];
    for (;;) {
      if (s && s->gate.load(std::memory_order_relaxed)) rest(*s);
      if (job.stop.load(std::memory_order_relaxed)) return;
      // On the calling thread this asks the host now and then; on a worker it reads the stop flag.
      if (job.watch && job.watch->due()) {
        job.stop.store(true, std::memory_order_relaxed);
        return;
      }
      const std::size_t k = lane.next.fetch_add(1, std::memory_order_relaxed);
      if (k >= lane.end) break;
      run_chunk(job, k);
    }
  }
}

// The end of a loop on its calling thread, once no other thread works for it.
void finish(Job& job) {
  if (job.error) std::rethrow_exception(job.error);
  if (job.handed_out() < job.chunks) throw Interrupted{};
}

// On the calling thread, once it has no chunk left to run: waits until the workers have left the
// job, looking for a while (their last chunks are usually short) and then asleep. The host's stop
// requests are answered meanwhile, and reach the chunks in flight through the watch they work under.
void wait_for_helpers(Job& job) {
  constexpr std::int64_t kLookNs = 50'000;
  constexpr std::int64_t kWatchedWaitNs = 10'000'000;
  Waiting waiting;
  const std::int64_t until = now_ns() + kLookNs;
  while (job.helpers.load(std::memory_order_acquire) != 0) {
    for (int i = 0; i < 64; ++i) cpu_relax();
    if (now_ns() < until) continue;
    const std::uint32_t h = job.helpers.fetch_or(Job::kCallerAsleep, std::memory_order_acq_rel) | Job::kCallerAsleep;
    if (h != Job::kCallerAsleep) wait_while(job.helpers, h, job.watch ? kWatchedWaitNs : -1);
    job.helpers.fetch_and(~Job::kCallerAsleep, std::memory_order_acq_rel);
    if (job.watch) job.watch->due();
  }
}

void help(Pool& s, Job& job, std::size_t home) {
  {
    Working here(s);
    work_on(&s, job, home);
  }
  // The last to leave wakes the caller if it sleeps; the job may be gone once the count is down.
  if (job.helpers.fetch_sub(1, std::memory_order_acq_rel) == (Job::kCallerAsleep | 1)) wake(job.helpers, 1);
}

// Takes a loop to help or a background task; false when there is none.
bool take_work(Pool& s, bool takes_jobs) {
  Job* job = nullptr;
  std::size_t home = 0;
  Task task;
  {
    std::lock_guard hold(s.lock);
    if (takes_jobs)
      for (Job* j = s.jobs; j; j = j->next_job)
        if (j->open()) {
          j->helpers.fetch_add(1, std::memory_order_relaxed);
          home = ++j->joined;
          job = j;
          break;
        }
    if (!job && !s.tasks.empty()) {
      task = s.tasks.front();
      s.tasks.pop_front();
    }
  }
  if (job) {
    help(s, *job, home);
    return true;
  }
  if (task.run) {
    Working here(s);
    try {
      task.run(task.context);
    } catch (...) {
      // A background task has no one to report to.
    }
    return true;
  }
  return false;
}

// How long an idle worker looks for new work before it sleeps, giving way to other threads
// meanwhile: loops called back to back (a step after a step) then find it awake, and a waiting
// worker takes no time a thread with work could use.
constexpr std::int64_t kSpinNs = 500'000;

bool spin_for_work(Pool& s, std::uint32_t seen) {
  const std::int64_t until = now_ns() + kSpinNs;
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (s.epoch.load(std::memory_order_relaxed) != seen) return true;
      cpu_relax();
    }
    if (now_ns() >= until) return false;
    sched_yield();
  }
}

[[noreturn]] void serve(Pool& s, bool takes_jobs) {
  for (;;) {
    const std::uint32_t seen = s.epoch.load(std::memory_order_seq_cst);
    if (take_work(s, takes_jobs) || spin_for_work(s, seen)) continue;
    s.sleepers.fetch_add(1, std::memory_order_seq_cst);
    if (s.epoch.load(std::memory_order_seq_cst) == seen) wait_while(s.epoch, seen);
    s.sleepers.fetch_sub(1, std::memory_order_seq_cst);
  }
}

void publish(Pool& s, std::uint32_t wanted) {
  s.epoch.fetch_add(1, std::memory_order_seq_cst);
  if (s.sleepers.load(std::memory_order_seq_cst)) wake(s.epoch, static_cast<int>(std::min<std::uint32_t>(wanted, INT_MAX)));
}

// ---------------------------------------------------------------------------------------------
// Starting the workers

constexpr std::size_t kStackBytes = std::size_t{4} << 20;
// Besides its stack a worker takes a heap of its own from the C library at its first allocation,
// which reserves 64 MiB of address space (twice that while it is made), and a few pages of
// per-thread state: this much address space must be free before a worker is started, so that a
// pool under a tight limit starts fewer workers instead of leaving the host no room.
constexpr std::size_t kWorkerRoom = kStackBytes + (std::size_t{129} << 20);
// A pool short of workers tries to start the rest at most this often.
constexpr std::int64_t kRetryNs = 100'000'000;

struct Launch {
  Pool* pool;
  bool takes_jobs;
  Word joined{0};
};

// The C library gives a worker a heap of its own, and grows it a page at a time as the worker's
// allocations need more, each growth a change of the address space that stalls every other thread's
// page faults: workers building puzzles side by side queue on it. Allocating and freeing this much in
// blocks it takes from the heap grows the heap once; it gives the pages back at once (keeping only
// the address space the heap had reserved from the start) and later grows into that room without a
// change of the address space.
void grow_own_heap() {
#if !defined(__SANITIZE_ADDRESS__)  // whose allocator stands in for the library's
  constexpr std::size_t kBlock = (std::size_t{120} << 10) - 64;  // below the size the library maps on its own
  constexpr std::size_t kBlocks = 400;                            // 48 MB
  void* blocks[kBlocks];
  std::size_t n = 0;
  while (n < kBlocks && (blocks[n] = std::malloc(kBlock))) ++n;
  // In the order made, so that the blocks merge into one free stretch that is given back once.
  for (std::size_t i = 0; i < n; ++i) std::free(blocks[i]);
#endif
}

void* worker_main(void* arg) {
  auto* launch = static_cast<Launch*>(arg);
  Pool& s = *launch->pool;
  const bool takes_jobs = launch->takes_jobs;
  prepare_thread();
  grow_own_heap();
  // The launcher may go on as soon as it sees the word: nothing of it is touched after the store.
  launch->joined.store(1, std::memory_order_release);
  wake(launch->joined, 1);
  serve(s, takes_jobs);
}

// Whether the address space of one more worker is free now.
bool room_for_worker() {
  void* p = mmap(nullptr, kWorkerRoom, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return false;
  munmap(p, kWorkerRoom);
  return true;
}

// Starts one worker and waits until it has made its per-thread state; false when it cannot start.
bool launch_worker(Pool& s, bool takes_jobs) {
  Launch launch{&s, takes_jobs};
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, kStackBytes);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  // Workers take no signal meant for the process: the host's threads handle those.
  sigset_t blocked, previous;
  sigfillset(&blocked);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS}) sigdelset(&blocked, sig);
  pthread_sigmask(SIG_SETMASK, &blocked, &previous);
  pthread_t thread;
  const int made = pthread_create(&thread, &attr, worker_main, &launch);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_attr_destroy(&attr);
  if (made != 0) return false;
  while (launch.joined.load(std::memory_order_acquire) == 0) wait_while(launch.joined, 0);
  return true;
}

void start_workers(Pool& s) {
  std::lock_guard hold(s.start_lock);
  std::size_t have = s.started.load(std::memory_order_relaxed);
  if (have >= s.wanted) return;
  const std::int64_t now = now_ns();
  if (have > 0 && now - s.last_attempt_ns < kRetryNs) return;
  s.last_attempt_ns = now;
  while (have < s.wanted && room_for_worker() && launch_worker(s, have < s.job_workers))
    s.started.store(++have, std::memory_order_release);
}

// The pool with at least one worker started, or MemoryRefusal.
Pool& started_pool() {
  Pool& s = pool();
  if (s.started.load(std::memory_order_acquire) < s.wanted) start_workers(s);
  if (s.started.load(std::memory_order_acquire) == 0)
    throw MemoryRefusal("the worker pool found no room to start its threads");
  return s;
}

// ---------------------------------------------------------------------------------------------
// Fork

std::mutex fork_lock;
Pool* forking_thread_counted = nullptr;  // under fork_lock

void before_fork() {
  fork_lock.lock();
  if (Pool* s = current_pool.load(std::memory_order_acquire)) {
    // A thread that forks from inside pool work (a signal handler run at a poll point) rests too.
    forking_thread_counted = counted_in == s ? s : nullptr;
    if (forking_thread_counted) count_out(*s);
    s->gate.store(1, std::memory_order_seq_cst);
    for (std::uint32_t r; (r = s->running.load(std::memory_order_seq_cst)) != 0;) wait_while(s->running, r);
  }
  const std::size_t n = std::min(fork_hook_count.load(std::memory_order_acquire), kMaxForkHooks);
  for (std::size_t i = 0; i < n; ++i)
    if (fork_hooks[i].prepare) fork_hooks[i].prepare();
}

void after_fork_in_parent() {
  for (std::size_t i = std::min(fork_hook_count.load(std::memory_order_acquire), kMaxForkHooks); i-- > 0;)
    if (fork_hooks[i].parent) fork_hooks[i].parent();
  if (Pool* s = current_pool.load(std::memory_order_acquire)) {
    s->gate.store(0, std::memory_order_seq_cst);
    wake(s->gate, INT_MAX);
    if (forking_thread_counted) count_in(*s);
  }
  fork_lock.unlock();
}

void after_fork_in_child() {
  for (std::size_t i = std::min(fork_hook_count.load(std::memory_order_acquire), kMaxForkHooks); i-- > 0;)
    if (fork_hooks[i].child) fork_hooks[i].child();
  // The workers are not in this process: a fresh pool is made on first use, and the old one, whose
  // locks and lists the vanished threads may have held, is left alone but for its gate.
  if (Pool* old = current_pool.exchange(nullptr, std::memory_order_acq_rel)) old->gate.store(0);
  fork_lock.unlock();
}

void register_fork_handlers() {
  static const bool registered = pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) == 0;
  (void)registered;
}

}  // namespace

std::size_t thread_count() { return configured(); }

void run_chunks(std::size_t n, std::size_t grain, ChunkFn fn, void* context) {
  prepare_thread();
  const std::size_t chunks = n / grain + (n % grain != 0 ? 1 : 0);
  std::size_t threads = configured();
  if (const std::size_t limit = thread_limit.load(std::memory_order_relaxed)) threads = std::min(threads, limit);
  Job job(fn, context, n, chunks, current_watch());
  if (threads <= 1) {
    job.make_lanes(0);
    work_on(nullptr, job, 0);
    finish(job);
    return;
  }
  Pool& s = started_pool();
  const std::size_t helpers =
      std::min({threads - 1, chunks - 1, std::min(s.started.load(std::memory_order_acquire), s.job_workers)});
  job.max_helpers = static_cast<std::uint32_t>(std::min<std::size_t>(helpers, UINT32_MAX));
  job.make_lanes(helpers);
  Working here(s);
  {
    std::lock_guard hold(s.lock);
    job.next_job = s.jobs;
    s.jobs = &job;
  }
  if (job.max_helpers) publish(s, job.max_helpers);
  work_on(&s, job, 0);
  {
    std::lock_guard hold(s.lock);
    Job** at = &s.jobs;
    while (*at != &job) at = &(*at)->next_job;
    *at = job.next_job;
  }
  if (job.helpers.load(std::memory_order_acquire) != 0) wait_for_helpers(job);
  finish(job);
}

void enqueue(void (*run)(void*), void* context) {
  Pool& s = started_pool();
  {
    std::lock_guard hold(s.lock);
    s.tasks.push_back({run, context});
  }
  publish(s, 1);
}

void fork_point() {
  if (Pool* s = counted_in; s && s->gate.load(std::memory_order_relaxed)) rest(*s);
}

Outside::Outside() noexcept : pool_(counted_in), depth_(std::exchange(work_depth, 0)) {
  if (pool_) count_out(*static_cast<Pool*>(pool_));
}

Outside::~Outside() {
  work_depth = depth_;
  if (pool_) count_in(*static_cast<Pool*>(pool_));
}

ThreadState::ThreadState(void (*make)()) noexcept {
  const std::size_t i = thread_state_count.fetch_add(1, std::memory_order_acq_rel);
  if (i < kMaxThreadStates) thread_states[i].store(make, std::memory_order_release);
}

void prepare_thread() {
  if (prepared) return;
  // The C++ runtime's exception state of this thread: the first exception thrown on a thread would
  // otherwise allocate it, and fail to when that exception is the report of memory running out. (The
  // call is declared free of effects, so its result is stored where the compiler must keep it.)
  abi::__cxa_eh_globals* volatile globals = abi::__cxa_get_globals();
  (void)globals;
  (void)current_watch();
  const std::size_t n = std::min(thread_state_count.load(std::memory_order_acquire), kMaxThreadStates);
  for (std::size_t i = 0; i < n; ++i)
    if (auto make = thread_states[i].load(std::memory_order_acquire)) make();
  prepared = true;
}

void at_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
  register_fork_handlers();
  std::lock_guard hold(fork_hook_lock);
  const std::size_t i = fork_hook_count.load(std::memory_order_relaxed);
  if (i >= kMaxForkHooks) panic("too many fork handlers");
  fork_hooks[i] = {prepare, parent, child};
  fork_hook_count.store(i + 1, std::memory_order_release);
}

Limit::Limit(std::size_t threads) noexcept
    : previous_(thread_limit.exchange(std::max<std::size_t>(threads, 1), std::memory_order_relaxed)) {}

Limit::~Limit() { thread_limit.store(previous_, std::memory_order_relaxed); }

}  // namespace gy::pool
