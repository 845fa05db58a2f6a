#include "gather.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

namespace gy {
namespace {

std::vector<GatherKernel> every_kernel() {
  std::vector<GatherKernel> kernels;
  for (GatherKernel k : {GatherKernel::scalar, GatherKernel::avx2, GatherKernel::avx512})
    if (gather_kernel_available(k)) kernels.push_back(k);
  return kernels;
}

// Random permutation rows of n slots, some full shuffles and some with a few slots exchanged.
template <class T>
std::vector<T> random_table(std::size_t moves, std::size_t n, std::mt19937_64& rng) {
  std::vector<T> table(moves * n);
  for (std::size_t m = 0; m < moves; ++m) {
    std::vector<T> p(n);
    std::iota(p.begin(), p.end(), T{0});
    if (m % 2 == 0)
      std::shuffle(p.begin(), p.end(), rng);
    else
      for (int k = 0; k < 5; ++k) std::swap(p[rng() % n], p[rng() % n]);
    std::copy(p.begin(), p.end(), table.begin() + m * n);
  }
  return table;
}

TEST(GatherKernels, FusedSolvedTestMatchesASeparatePass) {
  std::mt19937_64 rng(3);
  for (std::size_t n : {5, 16, 33, 54, 64, 65, 128, 129, 200, 256}) {
    constexpr std::size_t kMoves = 4, kRows = 50;
    const auto table = random_table<std::uint8_t>(kMoves, n, rng);
    const ShufflePlan plan = make_shuffle_plan(table, n);
    std::vector<std::uint8_t> colors8(n);
    std::vector<std::uint16_t> colors16(n);
    for (std::size_t j = 0; j < n; ++j) colors16[j] = colors8[j] = static_cast<std::uint8_t>(j % 6);
    // Rows that a move of the table solves: the inverse of that move applied to the identity, and
    // some with equal colours exchanged.
    std::vector<std::uint8_t> src(kRows * n);
    std::vector<std::uint32_t> moves(kRows);
    for (std::size_t r = 0; r < kRows; ++r) {
      moves[r] = static_cast<std::uint32_t>(rng() % kMoves);
      const std::uint8_t* p = table.data() + moves[r] * n;
      for (std::size_t j = 0; j < n; ++j) src[r * n + p[j]] = static_cast<std::uint8_t>(j);
      if (r % 3 == 1 && n > 6) std::swap(src[r * n + p[0]], src[r * n + p[6]]);
      if (r % 3 == 2) std::swap(src[r * n + p[0]], src[r * n + p[n - 1]]);
    }
    std::vector<std::uint8_t> want(kRows * n + 64, 0xEE), want_solved(kRows);
    gather_byte_rows(plan, table, n, src.data(), want.data(), moves.data(), false, kRows, GatherKernel::scalar);
    solved_byte_rows(colors8, n, want.data(), kRows, want_solved.data(), GatherKernel::scalar);
    EXPECT_EQ(want_solved[0], 1) << n;
    for (GatherKernel k : every_kernel()) {
      std::vector<std::uint8_t> flags(kRows, 0xEE);
      solved_rows<std::uint8_t>({colors16, colors8}, n, want.data(), kRows, flags.data(), k);
      EXPECT_EQ(flags, want_solved) << n;
    }
    for (const SlotColors& colors : {SlotColors{colors16, colors8}, SlotColors{colors16, {}}})
      for (GatherKernel k : every_kernel()) {
        std::vector<std::uint8_t> got(kRows * n + 64, 0xEE), solved(kRows, 0xEE);
        gather_rows<std::uint8_t, std::uint8_t, std::uint8_t>({table.data(), n, table.data(), &plan}, src.data(),
                                                              got.data(), {moves.data(), false}, kRows, &colors,
                                                              solved.data(), k);
        EXPECT_EQ(got, want) << n;
        EXPECT_EQ(solved, want_solved) << n;
      }
    // Wider rows take the same road slot by slot.
    const std::vector<std::uint16_t> wide_table(table.begin(), table.end()), wide_src(src.begin(), src.end());
    std::vector<std::uint16_t> wide(kRows * n);
    std::vector<std::uint8_t> wide_solved(kRows);
    const SlotColors colors{colors16, {}};
    gather_rows<std::uint16_t, std::uint16_t, std::uint16_t>({wide_table.data(), n}, wide_src.data(), wide.data(),
                                                             {moves.data(), false}, kRows, &colors, wide_solved.data());
    EXPECT_TRUE(std::equal(wide.begin(), wide.end(), want.begin())) << n;
    EXPECT_EQ(wide_solved, want_solved) << n;
  }
}

TEST(GatherKernels, WalksMatchOneGatherAfterAnother) {
  std::mt19937_64 rng(9);
  for (std::size_t n : {3, 16, 32, 40, 54, 64, 65, 100, 256}) {
    constexpr std::size_t kMoves = 5, kSteps = 70;
    const auto table = random_table<std::uint8_t>(kMoves, n, rng);
    const ShufflePlan plan = make_shuffle_plan(table, n);
    const GatherTable<std::uint8_t> bytes{table.data(), n, table.data(), &plan};
    std::vector<std::uint8_t> start(n);
    for (auto& v : start) v = static_cast<std::uint8_t>(rng());
    std::vector<std::uint32_t> moves(kSteps);
    for (auto& m : moves) m = static_cast<std::uint32_t>(rng() % kMoves);
    // One gather after another, slot by slot.
    std::vector<std::uint8_t> want(kSteps * n), row = start, next(n);
    for (std::size_t j = 0; j < kSteps; ++j) {
      gather_byte_rows(plan, table, n, row.data(), next.data(), &moves[j], true, 1, GatherKernel::scalar);
      row = next;
      std::copy(row.begin(), row.end(), want.begin() + j * n);
    }
    for (GatherKernel k : every_kernel()) {
      std::vector<std::uint8_t> walked = start, spare(n), trail(kSteps * n + 64, 0xEE);
      gather_walk<std::uint8_t, std::uint8_t>(bytes, walked.data(), moves.data(), kSteps, trail.data(), spare.data(), k);
      EXPECT_EQ(walked, row) << n;
      EXPECT_TRUE(std::equal(want.begin(), want.end(), trail.begin())) << n;
      EXPECT_EQ(trail[kSteps * n], 0xEE) << n;
      walked = start;
      gather_walk<std::uint8_t, std::uint8_t>(bytes, walked.data(), moves.data(), kSteps, nullptr, spare.data(), k);
      EXPECT_EQ(walked, row) << n;
    }
    const std::vector<std::uint32_t> wide_table(table.begin(), table.end());
    std::vector<std::uint16_t> wide(start.begin(), start.end()), spare(n);
    gather_walk<std::uint16_t, std::uint32_t>({wide_table.data(), n}, wide.data(), moves.data(), kSteps, nullptr,
                                              spare.data());
    EXPECT_TRUE(std::equal(wide.begin(), wide.end(), row.begin())) << n;
  }
}

TEST(GatherKernels, OneHotAndEqualRowsOnEveryKernel) {
  std::mt19937_64 rng(5);
  for (std::size_t n : {1, 7, 54, 63, 64, 65, 130, 256})
    for (std::size_t width : {1, 2, 6, 8, 9, 12, 40}) {
      constexpr std::size_t kRows = 9;
      std::vector<std::uint8_t> values(kRows * n), slots(kRows * n);
      // Values past the width (which leave their facelet's bytes zero) now and then.
      for (auto& v : values) v = static_cast<std::uint8_t>(rng() % (width + 2));
      for (std::size_t r = 0; r < kRows; ++r) {
        std::iota(slots.begin() + r * n, slots.begin() + (r + 1) * n, 0);
        std::shuffle(slots.begin() + r * n, slots.begin() + (r + 1) * n, rng);
      }
      std::vector<std::uint8_t> colors8(n);
      std::vector<std::uint16_t> colors16(n);
      for (std::size_t j = 0; j < n; ++j) colors16[j] = colors8[j] = static_cast<std::uint8_t>(rng() % width);
      const std::size_t bytes = kRows * n * width;
      std::vector<std::uint8_t> want(bytes + 64, 0xEE), want_colors(bytes + 64, 0xEE);
      std::fill_n(want.begin(), bytes, 0);
      std::fill_n(want_colors.begin(), bytes, 0);
      for (std::size_t k = 0; k < kRows * n; ++k) {
        if (values[k] < width) want[k * width + values[k]] = 1;
        want_colors[k * width + colors8[slots[k]]] = 1;
      }
      for (GatherKernel kernel : every_kernel()) {
        std::vector<std::uint8_t> got(bytes + 64, 0xEE), got_colors(bytes + 64, 0xEE);
        one_hot_rows<std::uint8_t>(values.data(), n, width, kRows, got.data(), nullptr, kernel);
        ASSERT_EQ(got, want) << n << " " << width;
        for (const SlotColors& colors : {SlotColors{colors16, colors8}, SlotColors{colors16, {}}}) {
          std::fill(got_colors.begin(), got_colors.end(), 0xEE);
          one_hot_rows<std::uint8_t>(slots.data(), n, width, kRows, got_colors.data(), &colors, kernel);
          ASSERT_EQ(got_colors, want_colors) << n << " " << width;
        }
      }
      const std::vector<std::uint32_t> wide(values.begin(), values.end());
      std::vector<std::uint8_t> got(bytes + 64, 0xEE);
      one_hot_rows<std::uint32_t>(wide.data(), n, width, kRows, got.data());
      ASSERT_EQ(got, want) << n << " " << width;
    }

  for (std::size_t n : {3, 54, 64, 65, 200}) {
    std::vector<std::uint8_t> goal(n), rows(4 * n);
    for (auto& g : goal) g = static_cast<std::uint8_t>(rng());
    for (std::size_t r = 0; r < 4; ++r) std::copy(goal.begin(), goal.end(), rows.begin() + r * n);
    rows[n + n - 1] ^= 1;
    rows[3 * n] ^= 0x80;
    for (GatherKernel kernel : every_kernel()) {
      std::vector<std::uint8_t> same(4, 0xEE);
      equal_rows<std::uint8_t>(goal.data(), n, rows.data(), 4, same.data(), kernel);
      EXPECT_EQ(same, (std::vector<std::uint8_t>{1, 0, 1, 0})) << n;
    }
  }
}

}  // namespace
}  // namespace gy
