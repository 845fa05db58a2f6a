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

// Operands: small (machine words) or 256-bit. Each iteration does one operation on values that
// change every time, so nothing is hoisted.
Int operand(bool big, std::uint64_t seed) {
  if (!big) return Int(static_cast<std::int64_t>(seed % 1000003) + 17);
  Int x = Int(static_cast<std::int64_t>(seed | 1));
  for (int i = 0; i < 3; ++i) x = x * Int(static_cast<std::int64_t>((seed * 0x9E3779B97F4A7C15ull) >> 2)) + Int(7);
  return x;
}

template <class Op>
void int_op(benchmark::State& st, Op op) {
  bool big = st.range(0) == 256;
  std::vector<Int> a, b;
  for (std::uint64_t i = 0; i < 64; ++i) {
    a.push_back(operand(big, i * 7919 + 1));
    b.push_back(operand(big, i * 104729 + 3));
  }
  std::size_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(op(a[i & 63], b[i & 63]));
    ++i;
  }
}
void BM_IntAdd(benchmark::State& st) { int_op(st, [](const Int& x, const Int& y) { return x + y; }); }
void BM_IntMul(benchmark::State& st) { int_op(st, [](const Int& x, const Int& y) { return x * y; }); }
void BM_IntDivRem(benchmark::State& st) { int_op(st, [](const Int& x, const Int& y) { return Int::div_rem(x, y); }); }
void BM_IntGcd(benchmark::State& st) { int_op(st, [](const Int& x, const Int& y) { return Int::gcd(x, y); }); }
BENCHMARK(BM_IntAdd)->Arg(64)->Arg(256);
BENCHMARK(BM_IntMul)->Arg(64)->Arg(256);
BENCHMARK(BM_IntDivRem)->Arg(64)->Arg(256);
BENCHMARK(BM_IntGcd)->Arg(64)->Arg(256);

// The baseline for the small path: int64_t with overflow checks.
void BM_Int64Checked(benchmark::State& st) {
  std::vector<std::int64_t> a, b;
  for (std::int64_t i = 0; i < 64; ++i) {
    a.push_back(i * 7919 + 18);
    b.push_back(i * 104729 + 20);
  }
  std::size_t i = 0;
  for (auto _ : st) {
    std::int64_t r;
    bool o = __builtin_mul_overflow(a[i & 63], b[i & 63], &r);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(o);
    ++i;
  }
}
BENCHMARK(BM_Int64Checked);

void BM_IntMulHuge(benchmark::State& st) {
  Int a = Int::pow(Int(3), static_cast<std::uint32_t>(st.range(0))), b = Int::pow(Int(7), static_cast<std::uint32_t>(st.range(0)));
  for (auto _ : st) benchmark::DoNotOptimize(a * b);
}
BENCHMARK(BM_IntMulHuge)->Arg(1000)->Arg(20000);

template <class Op>
void fraction_op(benchmark::State& st, Op op) {
  bool big = st.range(0) == 256;
  std::vector<Fraction> a, b;
  for (std::uint64_t i = 0; i < 64; ++i) {
    a.push_back(*Fraction::make(operand(big, i * 31 + 1), operand(big, i * 37 + 2)));
    b.push_back(*Fraction::make(operand(big, i * 41 + 3), operand(big, i * 43 + 4)));
  }
  std::size_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(op(a[i & 63], b[i & 63]));
    ++i;
  }
}
void BM_FractionAdd(benchmark::State& st) { fraction_op(st, [](const Fraction& x, const Fraction& y) { return x + y; }); }
void BM_FractionMul(benchmark::State& st) { fraction_op(st, [](const Fraction& x, const Fraction& y) { return x * y; }); }
BENCHMARK(BM_FractionAdd)->Arg(64)->Arg(256);
BENCHMARK(BM_FractionMul)->Arg(64)->Arg(256);

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

// A degree-16 polynomial with random 64-bit coefficients over [-1, 1].
void BM_CountRealRoots64Bit(benchmark::State& st) {
  std::mt19937_64 rng(5);
  std::vector<Fraction> c;
  for (int i = 0; i <= 16; ++i) c.emplace_back(Int(static_cast<std::int64_t>(rng())));
  FracPoly p(std::move(c));
  for (auto _ : st) benchmark::DoNotOptimize(count_real_roots(p, fraction(-1, 1), fraction(1, 1)));
}
BENCHMARK(BM_CountRealRoots64Bit);

}  // namespace
}  // namespace gy
