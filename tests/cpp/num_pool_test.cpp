#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

#include "num/interrupt.hpp"
#include "pool.hpp"

namespace gy {
namespace {

TEST(Pool, CoversEveryIndexOnce) {
  ASSERT_GE(pool::thread_count(), 1u);
  std::vector<std::atomic<int>> hits(10007);
  pool::for_each_index(hits.size(), 13, [&](std::size_t i) { hits[i].fetch_add(1); });
  for (auto& h : hits) EXPECT_EQ(h.load(), 1);
  std::atomic<std::size_t> total{0};
  pool::for_ranges(0, 4, [&](std::size_t lo, std::size_t hi) { total += hi - lo; });
  EXPECT_EQ(total.load(), 0u);
}

TEST(Pool, NestedLoopsComplete) {
  std::atomic<long> sum{0};
  pool::for_each_index(64, 1, [&](std::size_t i) {
    pool::for_each_index(64, 1, [&](std::size_t j) { sum += static_cast<long>(i * j); });
  });
  EXPECT_EQ(sum.load(), (63L * 64 / 2) * (63L * 64 / 2));
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A check that asks to stop once its time has come.
struct StopAt {
  Clock::time_point when;
  static bool check(void* self) { return Clock::now() >= static_cast<StopAt*>(self)->when; }
};

TEST(Pool, AStopEndsALoopWhoseLastChunkIsLong) {
  if (pool::thread_count() < 2) GTEST_SKIP() << "one thread";
  const auto caller = std::this_thread::get_id();
  // The long chunk is the first that a worker takes, or, in the second round, one of the caller's:
  // it runs until the stop reaches its poll point, so the loop ends only through the stop. The
  // caller must notice the stop itself in the first round, while it waits.
  for (const bool long_on_caller : {false, true}) {
    std::atomic<bool> taken{false};
    std::atomic<int> finished{0};
    StopAt stop{Clock::now() + std::chrono::milliseconds(100)};
    Watch watch(&StopAt::check, &stop);
    const auto start = Clock::now();
    try {
      pool::for_each_index(64, 1, [&](std::size_t) {
        const bool here = std::this_thread::get_id() == caller;
        if (here == long_on_caller && !taken.exchange(true)) {
          while (seconds_since(start) < 10) poll_interrupt();
        } else {
          // The caller's short chunks wait for a worker to take the long one.
          while (!taken && seconds_since(start) < 5) std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        ++finished;
      });
      ADD_FAILURE() << "the loop was not stopped";
    } catch (const Interrupted&) {
    }
    const double took = seconds_since(start);
    EXPECT_LT(took, 0.1 + (std::getenv("GYRELLE_SANITIZED") ? 1.0 : 0.2)) << long_on_caller;
    EXPECT_GE(took, 0.1) << long_on_caller;
    EXPECT_TRUE(taken.load()) << long_on_caller;
    EXPECT_LT(finished.load(), 64);
  }
}

TEST(Pool, TheFirstExceptionOfAChunkReachesTheCaller) {
  // Chunks throw on every thread; no more are handed out after the first, and one exception comes
  // back to the caller. A failed allocation comes back as itself.
  std::atomic<int> ran{0};
  EXPECT_THROW(pool::for_each_index(100000, 1,
                                    [&](std::size_t i) {
                                      ++ran;
                                      if (i % 7 == 3) throw std::runtime_error("chunk failed");
                                    }),
               std::runtime_error);
  EXPECT_LT(ran.load(), 100000);
  EXPECT_THROW(pool::for_each_index(64, 1, [&](std::size_t i) {
                 if (i == 63) throw std::bad_alloc();
               }),
               std::bad_alloc);
  // Without a stop or an exception, a watched loop runs every chunk.
  Watch watch(nullptr, nullptr);
  std::atomic<int> count{0};
  pool::for_each_index(1000, 3, [&](std::size_t) { ++count; });
  EXPECT_EQ(count.load(), 1000);
}

TEST(Pool, LimitedLoopsRunOnTheCallerAlone) {
  const auto caller = std::this_thread::get_id();
  std::atomic<int> elsewhere{0};
  pool::Limit one(1);
  pool::for_each_index(1000, 1, [&](std::size_t) { elsewhere += std::this_thread::get_id() != caller; });
  EXPECT_EQ(elsewhere.load(), 0);
}

template <class T>
void check_first_not_below(std::mt19937& rng) {
  for (std::size_t size : {0u, 1u, 63u, 64u, 65u, 1000u, 65536u, 65537u, 300001u}) {
    std::vector<T> values(size);
    const T limit = 200;
    for (auto& v : values) v = static_cast<T>(rng() % limit);
    // None, then planted values at and past the limit in turn, the earliest of them found.
    EXPECT_EQ(pool::first_not_below(std::span<const T>(values), limit), std::nullopt) << size;
    for (int planted = 0; planted < 6 && size; ++planted) {
      values[rng() % size] = static_cast<T>(limit + (rng() % 2 ? 0 : 37));
      const auto expected = static_cast<std::size_t>(
          std::find_if(values.begin(), values.end(), [&](T v) { return v >= limit; }) - values.begin());
      EXPECT_EQ(pool::first_not_below(std::span<const T>(values), limit), expected) << size;
      EXPECT_EQ(pool::first_not_below(std::span<const T>(values), std::uint64_t{std::numeric_limits<T>::max()} + 1),
                std::nullopt);
    }
  }
}

TEST(Pool, FirstNotBelowFindsTheEarliest) {
  std::mt19937 rng(5);
  check_first_not_below<std::uint8_t>(rng);
  check_first_not_below<std::uint16_t>(rng);
  check_first_not_below<std::uint32_t>(rng);
  // One value past the limit at each place of the first runs, and about the edges of tasks.
  std::vector<std::uint32_t> values(200000, 3);
  std::vector<std::size_t> places(130);
  for (std::size_t p = 0; p < places.size(); ++p) places[p] = p;
  for (std::size_t p : {65535u, 65536u, 65537u, 131071u, 131072u, 199999u}) places.push_back(p);
  for (std::size_t p : places) {
    values[p] = 9;
    EXPECT_EQ(pool::first_not_below(std::span<const std::uint32_t>(values), 9), p);
    values[p] = 3;
  }
  // The largest value of the type, against the largest limit it can fail.
  const std::vector<std::uint32_t> top{1, 0xFFFFFFFFu, 2};
  EXPECT_EQ(pool::first_not_below(std::span<const std::uint32_t>(top), 0xFFFFFFFFu), 1u);
}

}  // namespace
}  // namespace gy
