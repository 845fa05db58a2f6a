#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <vector>

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
