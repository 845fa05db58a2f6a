// Factoring the polynomials that field joins produce: Swinnerton-Dyer polynomials (irreducible,
// but split into linear and quadratic factors modulo every prime) of degree 8 to 64, and x^n − 1
// with its cyclotomic factors.
#include <benchmark/benchmark.h>

#include "num/factoring.hpp"

namespace gy {
namespace {

// The polynomial whose roots are ±√2 ± √3 ± … over the first `count` primes: from P(x + √q) =
// A(x) + √q·B(x), the next one is A² − q·B².
FracPoly swinnerton_dyer(int count) {
  static const std::int64_t primes[] = {2, 3, 5, 7, 11, 13, 17};
  const IntPoly x(std::vector<Int>{Int(0), Int(1)});
  IntPoly P = x;
  for (int k = 0; k < count; ++k) {
    const Int q(primes[k]);
    IntPoly A, B;
    for (std::size_t i = P.coeffs.size(); i-- > 0;) {
      IntPoly nA = IntPoly::add(IntPoly::add(IntPoly::mul(A, x), B.scale(q)), IntPoly::constant(P.coeffs[i]));
      B = IntPoly::add(A, IntPoly::mul(B, x));
      A = std::move(nA);
    }
    P = IntPoly::sub(IntPoly::mul(A, A), IntPoly::mul(B, B).scale(q));
  }
  return to_fractions(P);
}

void BM_FactorSwinnertonDyer(benchmark::State& st) {
  const FracPoly f = swinnerton_dyer(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    auto r = factor(f);
    if (!r || r->size() != 1) st.SkipWithError("not irreducible");
    benchmark::DoNotOptimize(r);
  }
  st.SetLabel("degree " + std::to_string(f.degree()));
}
BENCHMARK(BM_FactorSwinnertonDyer)->DenseRange(3, 6)->Unit(benchmark::kMillisecond);

void BM_FactorXnMinus1(benchmark::State& st) {
  std::vector<Fraction> c(static_cast<std::size_t>(st.range(0)) + 1, Fraction());
  c.front() = fraction(-1, 1);
  c.back() = fraction(1, 1);
  const FracPoly f(std::move(c));
  for (auto _ : st) benchmark::DoNotOptimize(factor(f));
}
BENCHMARK(BM_FactorXnMinus1)->Arg(12)->Arg(24)->Arg(30)->Arg(36)->Arg(48)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gy
