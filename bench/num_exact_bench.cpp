// Exact arithmetic: integer and fraction kernels, polynomial products and divisions, subresultant
// gcds and resultants, and Sturm root counting at the sizes number fields meet.
#include <benchmark/benchmark.h>

#include <random>

#include "num/fraction.hpp"
#include "num/int.hpp"
#include "num/polynomial.hpp"

namespace gy {
namespace {

FracPoly random_poly(std::mt19937_64& rng, int degree, int den) {
  std::vector<Fraction> c;
  for (int i = 0; i <= degree; ++i)
    c.push_back(fraction(static_cast<std::int64_t>(rng() % 2001) - 1000, 1 + static_cast<std::int64_t>(rng() % den)));
  if (c.back().is_zero()) c.back() = fraction(1, 1);
  return FracPoly(std::move(c));
}

void BM_IntMulBig(benchmark::State& st) {
  Int a = Int::pow(Int(3), static_cast<std::uint32_t>(st.range(0))), b = Int::pow(Int(7), static_cast<std::uint32_t>(st.range(0)));
  for (auto _ : st) benchmark::DoNotOptimize(a * b);
}
BENCHMARK(BM_IntMulBig)->Arg(40)->Arg(1000)->Arg(20000);

void BM_FractionAdd(benchmark::State& st) {
  Fraction a = fraction(12345, 678), b = fraction(-98765, 4321);
  for (auto _ : st) benchmark::DoNotOptimize(a + b);
}
BENCHMARK(BM_FractionAdd);

void BM_PolyMul(benchmark::State& st) {
  std::mt19937_64 rng(1);
  FracPoly a = random_poly(rng, static_cast<int>(st.range(0)), 50), b = random_poly(rng, static_cast<int>(st.range(0)), 50);
  for (auto _ : st) benchmark::DoNotOptimize(FracPoly::mul(a, b));
}
BENCHMARK(BM_PolyMul)->Arg(4)->Arg(16)->Arg(64);

// The reduction of a product modulo a monic defining polynomial, as number-field products do.
void BM_PolyRemMonic(benchmark::State& st) {
  std::mt19937_64 rng(2);
  int n = static_cast<int>(st.range(0));
  FracPoly f = random_poly(rng, n, 1);
  f = *f.monic();
  FracPoly a = FracPoly::mul(random_poly(rng, n - 1, 9), random_poly(rng, n - 1, 9));
  for (auto _ : st) benchmark::DoNotOptimize(FracPoly::rem(a, f));
}
BENCHMARK(BM_PolyRemMonic)->Arg(4)->Arg(12)->Arg(32);

void BM_Gcd(benchmark::State& st) {
  std::mt19937_64 rng(3);
  int n = static_cast<int>(st.range(0));
  FracPoly g = random_poly(rng, n / 2, 1);
  FracPoly a = FracPoly::mul(g, random_poly(rng, n / 2, 1)), b = FracPoly::mul(g, random_poly(rng, n / 2, 1));
  for (auto _ : st) benchmark::DoNotOptimize(FracPoly::gcd(a, b));
}
BENCHMARK(BM_Gcd)->Arg(4)->Arg(8)->Arg(16);

// res_x(m(x), m2(y − x)): the join of two fields of degrees n and n.
void BM_Resultant(benchmark::State& st) {
  int n = static_cast<int>(st.range(0));
  std::vector<std::vector<Fraction>> a(static_cast<std::size_t>(n + 1)), b;
  a[0] = {fraction(-2, 1)};
  for (int i = 1; i < n; ++i) a[static_cast<std::size_t>(i)] = {};
  a[static_cast<std::size_t>(n)] = {fraction(1, 1)};
  // (y − x)^n − 3 expanded in x.
  FracPoly ymx = FracPoly(std::vector<Fraction>{fraction(0, 1), fraction(1, 1)});
  BiPoly lin = bivariate_from_vecs({{fraction(0, 1), fraction(1, 1)}, {fraction(-1, 1)}});
  BiPoly p = lift_constants(FracPoly::constant(fraction(1, 1)));
  for (int i = 0; i < n; ++i) p = BiPoly::mul(p, lin);
  p = BiPoly::sub(p, lift_constants(FracPoly::constant(fraction(3, 1))));
  BiPoly m = bivariate_from_vecs(a);
  for (auto _ : st) benchmark::DoNotOptimize(resultant(m, p));
}
BENCHMARK(BM_Resultant)->Arg(2)->Arg(3)->Arg(4)->Arg(6);

void BM_CountRealRoots(benchmark::State& st) {
  int n = static_cast<int>(st.range(0));
  FracPoly w = FracPoly::constant(fraction(1, 1));
  for (int k = 1; k <= n; ++k) w = FracPoly::mul(w, FracPoly(std::vector<Fraction>{fraction(-k, 3), fraction(1, 1)}));
  Fraction lo = fraction(1, 2), hi = fraction(5, 6);
  for (auto _ : st) benchmark::DoNotOptimize(count_real_roots(w, lo, hi));
}
BENCHMARK(BM_CountRealRoots)->Arg(4)->Arg(12)->Arg(24);

}  // namespace
}  // namespace gy
