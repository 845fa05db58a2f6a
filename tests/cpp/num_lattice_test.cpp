#include "num/lattice.hpp"

#include <gtest/gtest.h>

#include <random>

#include "num/fraction.hpp"
#include "num/int.hpp"

namespace gy {
namespace {

using Rows = std::vector<LatticeRow>;

// The coordinates of v in the basis of square, invertible rows, by Gaussian elimination over the
// rationals.
std::vector<Fraction> coordinates(const Rows& rows, const LatticeRow& v) {
  const std::size_t n = rows.size();
  // Solve c·B = v, that is Bᵀ·c = v.
  std::vector<std::vector<Fraction>> a(n, std::vector<Fraction>(n + 1));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) a[i][j] = Fraction(Int(rows[j][i]));
    a[i][n] = Fraction(Int(v[i]));
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    while (a[pivot][c].is_zero()) ++pivot;
    std::swap(a[pivot], a[c]);
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c || a[r][c].is_zero()) continue;
      const Fraction f = *a[r][c].div(a[c][c]);
      for (std::size_t k = c; k <= n; ++k) a[r][k] = a[r][k] - f * a[c][k];
    }
  }
  std::vector<Fraction> x(n);
  for (std::size_t i = 0; i < n; ++i) x[i] = *a[i][n].div(a[i][i]);
  return x;
}

Int determinant(const Rows& rows) {
  // Bareiss' fraction-free elimination.
  const std::size_t n = rows.size();
  std::vector<std::vector<Int>> a(n, std::vector<Int>(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) a[i][j] = Int(rows[i][j]);
  Int sign(1), previous(1);
  for (std::size_t k = 0; k + 1 < n; ++k) {
    if (a[k][k].is_zero()) {
      std::size_t r = k + 1;
      while (r < n && a[r][k].is_zero()) ++r;
      if (r == n) return Int(0);
      std::swap(a[r], a[k]);
      sign = -sign;
    }
    for (std::size_t i = k + 1; i < n; ++i)
      for (std::size_t j = k + 1; j < n; ++j) a[i][j] = (a[i][j] * a[k][k] - a[i][k] * a[k][j]) / previous;
    previous = a[k][k];
  }
  return sign * a[n - 1][n - 1];
}

long double squared(const LatticeRow& v) {
  long double s = 0;
  for (auto x : v) s += static_cast<long double>(x) * static_cast<long double>(x);
  return s;
}

TEST(Lattice, ReductionKeepsTheLatticeAndFindsAPlantedShortVector) {
  // A basis with a short vector planted among long random ones, mixed by unimodular operations:
  // the reduced basis spans the same lattice (same determinant up to sign) and starts short.
  std::mt19937_64 rng(11);
  for (int round = 0; round < 20; ++round) {
    const std::size_t n = 4 + rng() % 9;
    Rows rows(n, LatticeRow(n));
    for (auto& row : rows)
      for (auto& x : row) x = static_cast<std::int64_t>(rng() % 2000001) - 1000000;
    for (auto& x : rows[0]) x = static_cast<std::int64_t>(rng() % 7) - 3;
    const LatticeRow planted = rows[0];
    for (int step = 0; step < 40; ++step) {
      const std::size_t i = rng() % n, j = rng() % n;
      if (i == j) continue;
      const std::int64_t c = static_cast<std::int64_t>(rng() % 5) - 2;
      for (std::size_t t = 0; t < n; ++t) rows[i][t] += c * rows[j][t];
    }
    const Int before = determinant(rows);
    ASSERT_FALSE(before.is_zero());
    ASSERT_TRUE(lll_reduce(rows));
    EXPECT_EQ(determinant(rows).abs(), before.abs());
    EXPECT_LE(squared(rows[0]), squared(planted) * static_cast<long double>(1u << (n - 1)));
    // Every vector up to the planted one's length stays in the kept span.
    const std::size_t m = short_span(rows, squared(planted));
    ASSERT_GE(m, 1u);
    const std::vector<Fraction> c = coordinates(rows, planted);
    for (std::size_t i = m; i < n; ++i) EXPECT_TRUE(c[i].is_zero()) << "round " << round;
  }
}

TEST(Lattice, TrailingRowsAreDroppedOnlyWhenProvenLong) {
  // Orthogonal rows of squared lengths 1, 4, 9: a row goes only when its square exceeds the bound
  // (rounded up to an integer).
  const Rows rows = {{1, 0, 0}, {0, 2, 0}, {0, 0, 3}};
  EXPECT_EQ(short_span(rows, 9.0L), 3u);
  EXPECT_EQ(short_span(rows, 8.5L), 3u);
  EXPECT_EQ(short_span(rows, 8.0L), 2u);
  EXPECT_EQ(short_span(rows, 4.0L), 2u);
  EXPECT_EQ(short_span(rows, 3.0L), 1u);
  EXPECT_EQ(short_span(rows, 0.0L), 0u);
  // Nearly dependent rows: the second's Gram–Schmidt norm is tiny though the row is long, so it
  // stays for any bound above that norm, proven or not; once reduced, the long third row goes.
  Rows skew = {{1000000007, 1000000009, 0}, {1000000008, 1000000010, 0}, {0, 0, 100}};
  EXPECT_GE(short_span(skew, 50.0L), 2u);
  ASSERT_TRUE(lll_reduce(skew));
  EXPECT_EQ(short_span(skew, 50.0L), 2u);
  // A vector with a non-zero coefficient on a dropped row is longer than the bound.
  Rows random_rows(6, LatticeRow(6));
  std::mt19937_64 rng(3);
  for (auto& row : random_rows)
    for (auto& x : row) x = static_cast<std::int64_t>(rng() % 201) - 100;
  ASSERT_TRUE(lll_reduce(random_rows));
  const long double bound = squared(random_rows[2]);
  const std::size_t m = short_span(random_rows, bound);
  for (std::size_t i = 0; i < random_rows.size(); ++i)
    if (squared(random_rows[i]) <= bound) {
      const std::vector<Fraction> c = coordinates(random_rows, random_rows[i]);
      for (std::size_t j = m; j < c.size(); ++j) EXPECT_TRUE(c[j].is_zero());
    }
}

}  // namespace
}  // namespace gy
