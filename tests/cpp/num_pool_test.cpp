#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
}  // namespace gy
