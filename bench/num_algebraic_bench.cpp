// Algebraic numbers at the sizes puzzles meet: sqrt(5) (degree 2), sqrt(2) + sqrt(3) (degree 4) and
// the cube root of the tribonacci constant (degree 9); roots of large radicands, cancelling powers
// and comparisons across fields. "Cold" runs start from a freshly built field, so they pay the
// refinements; "warm" runs reuse a field whose interval is already narrow.
#include <benchmark/benchmark.h>

#include <vector>

#include "exact.hpp"

namespace gy {
namespace {

Fraction q(std::int64_t n, std::int64_t d = 1) { return fraction(n, d); }
AlgebraicNumber ok(Result<AlgebraicNumber> r) { return expect(std::move(r), "bench arithmetic"); }
AlgebraicNumber rat(Fraction c) { return AlgebraicNumber::rational(QQ(), std::move(c)); }
AlgebraicNumber sqrt_of(std::int64_t n) { return ok(AlgebraicNumber::constant(QQ(), n).root(Int(2))); }

FieldRef sqrt5_field() { return expect(NumberField::make(FracPoly({q(-5), q(0), q(1)}), q(0), q(6)), "field"); }

// The tribonacci constant t (t³ = t² + t + 1) and its cube root.
AlgebraicNumber tribonacci() {
  FieldRef f = expect(NumberField::make(FracPoly({q(-1), q(-1), q(-1), q(1)}), q(1), q(2)), "field");
  return ok(AlgebraicNumber::generator(f));
}
AlgebraicNumber cbrt_tribonacci() { return ok(tribonacci().root(Int(3))); }

// sqrt(2) + sqrt(3), in their common field.
AlgebraicNumber sqrt2_plus_sqrt3() {
  std::vector<AlgebraicNumber> v{sqrt_of(2), sqrt_of(3)};
  expect(common_field(v), "join");
  return ok(v[0].add(v[1]));
}

// A few numbers of x's field with mixed coefficients, built from powers of x.
std::vector<AlgebraicNumber> samples(const AlgebraicNumber& x) {
  std::vector<AlgebraicNumber> out;
  AlgebraicNumber p = x;
  for (int i = 1; i <= 8; ++i) {
    out.push_back(ok(p.add(rat(q(i, 3)))));
    p = ok(p.mul(ok(x.add(rat(q(-1, i + 1))))));
  }
  return out;
}

AlgebraicNumber subject(int which) {
  switch (which) {
    case 0: return ok(AlgebraicNumber::generator(sqrt5_field()));
    case 1: return sqrt2_plus_sqrt3();
    default: return cbrt_tribonacci();
  }
}
const char* kNames[] = {"sqrt5", "sqrt2+sqrt3", "cbrt(tribonacci)"};

void BM_SignWarm(benchmark::State& st) {
  auto xs = samples(subject(static_cast<int>(st.range(0))));
  for (auto& x : xs) (void)x.sign();
  std::size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(*xs[i++ & 7].sign());
  st.SetLabel(kNames[st.range(0)]);
}
BENCHMARK(BM_SignWarm)->DenseRange(0, 2);

// sqrt(5) − L(40)/F(40), about 4e-17 apart (Lucas over Fibonacci numbers), in a fresh field.
void BM_SignNearZeroCold(benchmark::State& st) {
  for (auto _ : st) {
    AlgebraicNumber s = ok(AlgebraicNumber::generator(sqrt5_field()));
    benchmark::DoNotOptimize(*ok(s.sub(rat(q(228826127, 102334155)))).sign());
  }
}
BENCHMARK(BM_SignNearZeroCold);

void BM_ToF64Warm(benchmark::State& st) {
  auto xs = samples(subject(static_cast<int>(st.range(0))));
  for (auto& x : xs) (void)x.to_f64();
  std::size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(*xs[i++ & 7].to_f64());
  st.SetLabel(kNames[st.range(0)]);
}
BENCHMARK(BM_ToF64Warm)->DenseRange(0, 2);

void BM_ToF64Cold(benchmark::State& st) {
  for (auto _ : st) {
    AlgebraicNumber s = ok(AlgebraicNumber::generator(sqrt5_field()));
    benchmark::DoNotOptimize(*ok(s.add(rat(q(1, 2)))).to_f64());
  }
}
BENCHMARK(BM_ToF64Cold);

void BM_Mul(benchmark::State& st) {
  auto xs = samples(subject(static_cast<int>(st.range(0))));
  std::size_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(ok(xs[i & 7].mul(xs[(i + 3) & 7])));
    ++i;
  }
  st.SetLabel(kNames[st.range(0)]);
}
BENCHMARK(BM_Mul)->DenseRange(0, 2);

void BM_Inverse(benchmark::State& st) {
  auto xs = samples(subject(static_cast<int>(st.range(0))));
  std::size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(ok(xs[i++ & 7].inverse()));
  st.SetLabel(kNames[st.range(0)]);
}
BENCHMARK(BM_Inverse)->DenseRange(0, 2);

void BM_RootSqrt5(benchmark::State& st) {
  AlgebraicNumber five = AlgebraicNumber::constant(QQ(), 5);
  for (auto _ : st) benchmark::DoNotOptimize(ok(five.root(Int(2))));
}
BENCHMARK(BM_RootSqrt5)->Unit(benchmark::kMicrosecond);

// sqrt(5 + 2·sqrt(6)) = sqrt(2) + sqrt(3): a degree-4 root isolated from its neighbour.
void BM_RootNested(benchmark::State& st) {
  AlgebraicNumber v = ok(rat(q(5)).add(ok(rat(q(2)).mul(sqrt_of(6)))));
  for (auto _ : st) benchmark::DoNotOptimize(ok(v.root(Int(2))));
}
BENCHMARK(BM_RootNested)->Unit(benchmark::kMicrosecond);

void BM_RootCbrtTribonacci(benchmark::State& st) {
  AlgebraicNumber t = tribonacci();
  for (auto _ : st) benchmark::DoNotOptimize(ok(t.root(Int(3))));
}
BENCHMARK(BM_RootCbrtTribonacci)->Unit(benchmark::kMicrosecond);

// 2^20.01 = (2^2001)^(1/100): the root, then the first sign of it, of its hundredth power minus
// 2^2001 (zero, by its value) and of its difference from 2^20, and its float; each from a fresh field,
// whose interval starts as [0, 2^2001 + 1].
AlgebraicNumber radical() { return ok(rat(Fraction(Int(1).shl(2001))).root(Int(100))); }

void BM_RootOfLargeRadicand(benchmark::State& st) {
  for (auto _ : st) benchmark::DoNotOptimize(radical());
}
BENCHMARK(BM_RootOfLargeRadicand)->Unit(benchmark::kMillisecond);

void BM_SignOfRootCold(benchmark::State& st) {
  for (auto _ : st) {
    AlgebraicNumber r = radical();
    benchmark::DoNotOptimize(*ok(r.sub(rat(Fraction(Int(1).shl(20))))).sign());
  }
}
BENCHMARK(BM_SignOfRootCold)->Unit(benchmark::kMillisecond);

void BM_ToF64OfRootCold(benchmark::State& st) {
  for (auto _ : st) benchmark::DoNotOptimize(*radical().to_f64());
}
BENCHMARK(BM_ToF64OfRootCold)->Unit(benchmark::kMillisecond);

// (sqrt(2) − 1)^200 ≈ 2.8e-77: coefficients near 2^254 cancel, so the float needs about 600 bits of
// sqrt(2).
void BM_ToF64CancellingCold(benchmark::State& st) {
  for (auto _ : st) {
    AlgebraicNumber s = sqrt_of(2);
    AlgebraicNumber x = ok(AlgebraicNumber::pow(s.field(), ok(s.sub(rat(q(1)))), Int(200)));
    benchmark::DoNotOptimize(*x.to_f64());
  }
}
BENCHMARK(BM_ToF64CancellingCold)->Unit(benchmark::kMicrosecond);

// Comparisons without a common field: 2^(1/32) against 3^(1/9) (a join would have degree 288);
// sqrt(2) against the 128th power of 2^(1/256), equal (minimal polynomials and one root); sqrt(2)
// against a rational 1e-30 away. Fresh fields every time.
void BM_CompareAcrossFields(benchmark::State& st) {
  const char* labels[] = {"2^(1/32) vs 3^(1/9)", "2^(1/256)^128 vs sqrt2", "sqrt2 vs sqrt2 + 1e-30 in another field"};
  for (auto _ : st) {
    AlgebraicNumber a, b;
    switch (st.range(0)) {
      case 0:
        a = ok(rat(q(2)).root(Int(32)));
        b = ok(rat(q(3)).root(Int(9)));
        break;
      case 1:
        a = ok(rat(q(2)).root(Int(256)));
        for (int i = 0; i < 7; ++i) a = ok(a.mul(a));
        b = sqrt_of(2);
        break;
      default:
        a = sqrt_of(2);
        b = ok(ok(sqrt_of(8).mul(rat(q(1, 2)))).add(rat(*Fraction::make(Int(1), Int::pow(Int(10), 30)))));
        break;
    }
    benchmark::DoNotOptimize(*a.cmp(b));
  }
  st.SetLabel(labels[st.range(0)]);
}
BENCHMARK(BM_CompareAcrossFields)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// Joins: a rational beside sqrt(5); (5 + 3·sqrt(5))/10 beside sqrt(5) of another equal field;
// sqrt(2) beside sqrt(3) (a new field of degree 4); the cube root of the tribonacci constant beside
// sqrt(2) (degree 18).
void BM_CommonField(benchmark::State& st) {
  std::vector<AlgebraicNumber> base;
  AlgebraicNumber s5 = sqrt_of(5);
  switch (st.range(0)) {
    case 0: base = {rat(q(3, 7)), s5}; break;
    case 1: base = {ok(ok(rat(q(5)).add(ok(rat(q(3)).mul(s5)))).div(rat(q(10)))), sqrt_of(5)}; break;
    case 2: base = {sqrt_of(2), sqrt_of(3)}; break;
    default: base = {cbrt_tribonacci(), sqrt_of(2)}; break;
  }
  const char* labels[] = {"rational+sqrt5", "equal fields", "sqrt2+sqrt3", "cbrt(tribonacci)+sqrt2"};
  for (auto _ : st) {
    std::vector<AlgebraicNumber> v = base;
    expect(common_field(v), "join");
    benchmark::DoNotOptimize(v);
  }
  st.SetLabel(labels[st.range(0)]);
}
BENCHMARK(BM_CommonField)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace gy
