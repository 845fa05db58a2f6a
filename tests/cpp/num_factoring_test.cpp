#include "num/factoring.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>

namespace gy {
namespace {

IntPoly ip(std::initializer_list<std::int64_t> c) {
  std::vector<Int> v;
  for (auto x : c) v.emplace_back(x);
  return IntPoly(std::move(v));
}
FracPoly fp(std::initializer_list<std::int64_t> c) { return to_fractions(ip(c)); }
ModPoly mp(const Int& m, const IntPoly& f) {
  std::vector<Modular> v;
  for (const auto& x : f.coeffs) v.emplace_back(reduce_mod(x, m), m);
  return ModPoly(m, std::move(v));
}
IntPoly values(const ModPoly& f) {
  std::vector<Int> v;
  for (const auto& x : f.coeffs) v.push_back(x.value);
  return IntPoly(std::move(v));
}
IntPoly mul_all(const std::vector<IntPoly>& fs) {
  IntPoly r = ip({1});
  for (const auto& f : fs) r = IntPoly::mul(r, f);
  return r;
}

// Runs f on a thread that has not drawn before.
template <class F>
auto in_fresh_thread(F f) {
  decltype(f()) result;
  std::thread([&] { result = f(); }).join();
  return result;
}

std::vector<std::string> texts(const std::vector<FracPoly>& fs) {
  std::vector<std::string> r;
  for (const auto& f : fs) r.push_back(f.to_string());
  return r;
}
// Factors up to sign, as a sorted list of texts.
std::vector<std::string> factor_set(const std::vector<FracPoly>& fs) {
  std::vector<std::string> r;
  for (const auto& f : fs) r.push_back((f.lead().sign() < 0 ? -f : f).to_string());
  std::sort(r.begin(), r.end());
  return r;
}
std::vector<std::string> factor_set(const std::vector<IntPoly>& fs) {
  std::vector<FracPoly> v;
  for (const auto& f : fs) v.push_back(to_fractions(f));
  return factor_set(v);
}

// x^(2^m) polynomial whose roots are ±√q1 ± √q2 ± …: A(x)² − q·B(x)² from P(x + √q) = A + √q·B.
IntPoly swinnerton_dyer(const std::vector<std::int64_t>& qs) {
  IntPoly P = ip({0, 1});
  for (auto q : qs) {
    IntPoly A, B;
    for (std::size_t i = P.coeffs.size(); i-- > 0;) {
      IntPoly nA = IntPoly::add(IntPoly::add(IntPoly::mul(A, ip({0, 1})), B.scale(Int(q))), IntPoly::constant(P.coeffs[i]));
      B = IntPoly::add(A, IntPoly::mul(B, ip({0, 1})));
      A = std::move(nA);
    }
    P = IntPoly::sub(IntPoly::mul(A, A), IntPoly::mul(B, B).scale(Int(q)));
  }
  return P;
}

// P(a·x).
IntPoly substitute_scaled(const IntPoly& P, std::int64_t a) {
  std::vector<Int> c;
  Int power(1);
  for (const auto& x : P.coeffs) {
    c.push_back(x * power);
    power *= Int(a);
  }
  return IntPoly(std::move(c));
}

IntPoly cyclotomic(int n) {
  std::vector<Int> c(static_cast<std::size_t>(n) + 1, Int(0));
  c[0] = Int(-1);
  c.back() = Int(1);
  IntPoly r(std::move(c));
  for (int d = 1; d < n; ++d)
    if (n % d == 0) r = *IntPoly::div_exact(r, cyclotomic(d));
  return r;
}

// The checks every result of factor meets: primitive integer factors of positive degree whose
// product is the primitive squarefree part of f, with its sign: one factor negative exactly when
// f leads negatively. And together as many real roots as f.
void expect_sound(const FracPoly& f, const std::vector<FracPoly>& factors) {
  FracPoly product = fp({1});
  int negative = 0;
  for (const auto& h : factors) {
    ASSERT_GE(h.degree(), 1);
    Int content;
    for (const auto& c : h.coeffs) {
      ASSERT_TRUE(c.is_integer()) << h;
      content = Int::gcd(content, c.num());
    }
    EXPECT_TRUE(content.is_one()) << h;
    negative += h.lead().sign() < 0;
    product = FracPoly::mul(product, h);
  }
  const FracPoly squarefree = *FracPoly::div_exact(f, *FracPoly::gcd(f, f.derivative())->monic());
  EXPECT_EQ(product, to_fractions(primitive_integer(squarefree)));
  EXPECT_EQ(negative, f.lead().sign() < 0 ? 1 : 0);
  // Every real root lies within 1 + max |a_i / a_n|.
  Fraction bound(Int(1));
  for (const auto& c : f.coeffs) bound = std::max(bound, c.div(f.lead())->abs() + Fraction(Int(1)));
  std::uint32_t total = 0;
  for (const auto& h : factors) total += *count_real_roots(h, bound.neg(), bound);
  EXPECT_EQ(total, *count_real_roots(f, bound.neg(), bound));
}

TEST(Factoring, WorkedExamples) {
  EXPECT_EQ(texts(*in_fresh_thread([] { return factor(fp({-1, 0, 1})); })), (std::vector<std::string>{"x + 1", "x + -1"}));
  EXPECT_EQ(texts(*in_fresh_thread([] { return factor(fp({-2, 0, 2})); })), (std::vector<std::string>{"x + 1", "x + -1"}));
  // The leading coefficient's sign goes to the first factor found.
  EXPECT_EQ(texts(*in_fresh_thread([] { return factor(fp({4, 0, -1})); })), (std::vector<std::string>{"-1x + 2", "x + 2"}));
  EXPECT_EQ(factor_set(*factor(fp({1, -1, -1, 1}))), (std::vector<std::string>{"x + -1", "x + 1"}));
  EXPECT_EQ(texts(*factor(fp({-1, 0, 3}))), (std::vector<std::string>{"3x² + -1"}));
  EXPECT_EQ(texts(*factor(fp({1, 0, 1}))), (std::vector<std::string>{"x² + 1"}));
  EXPECT_EQ(texts(*factor(fp({4, 6}))), (std::vector<std::string>{"3x + 2"}));
  EXPECT_EQ(factor_set(*factor(FracPoly(std::vector<Fraction>{fraction(-1, 2), Fraction(), fraction(1, 2)}))),
            (std::vector<std::string>{"x + -1", "x + 1"}));
  EXPECT_TRUE(factor(fp({-7}))->empty());
  auto zero = factor(FracPoly());
  ASSERT_FALSE(zero);
  EXPECT_EQ(zero.error(), Error::range("monic() of zero polynomial"));
}

TEST(Factoring, ChoosePrime) {
  EXPECT_EQ(*choose_prime(ip({-1, 0, 1})), Int(3));
  EXPECT_EQ(*choose_prime(ip({-1, 0, 3})), Int(5));    // 3 divides the leading coefficient
  EXPECT_EQ(*choose_prime(ip({-1, 0, 15})), Int(7));
  EXPECT_EQ(*choose_prime(ip({3, 0, 1})), Int(5));     // x² + 3 is a square modulo 3
  EXPECT_EQ(*choose_prime(ip({5})), Int(3));
  EXPECT_EQ(choose_prime(IntPoly()).error(), Error::other("choose_prime of zero polynomial"));
}

TEST(Factoring, SplittingModuloAPrime) {
  const Int three(3);
  EXPECT_EQ(factor_mod_p(mp(Int(2), ip({1, 1})), 1, Int(2)).error(), Error::range("p=2 not implemented"));
  EXPECT_EQ(factor_mod_p(mp(three, ip({1, 0, 1})), std::uint64_t{1} << 62, three).error(),
            Error::range("no factors of degree 4611686018427387904 in a polynomial of degree 2"));
  // x² − 1 modulo 3 from the initial state: the first draw is 0, so a = x splits off x + 2. One
  // draw of two state steps.
  auto r = in_fresh_thread([&] {
    auto f = factor_mod_p(mp(three, ip({-1, 0, 1})), 1, three);
    std::uint64_t x = 0x2545F4914F6CDD1Dull;
    for (int i = 0; i < 2; ++i) x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    EXPECT_EQ(xorshift_state, x);
    return f;
  });
  ASSERT_TRUE(r);
  ASSERT_EQ(r->size(), 2u);
  EXPECT_EQ(values((*r)[0]), ip({2, 1}));
  EXPECT_EQ(values((*r)[1]), ip({1, 1}));
  // Modulo 5 and 7 each residue takes three steps, whatever the number of tries.
  for (std::int64_t p : {5, 7}) {
    const std::size_t steps = in_fresh_thread([&] {
      (void)factor_mod_p(mp(Int(p), ip({-1, 0, 1})), 1, Int(p));
      std::uint64_t x = 0x2545F4914F6CDD1Dull;
      std::size_t n = 0;
      while (x != xorshift_state && n < 10000) x ^= x << 13, x ^= x >> 7, x ^= x << 17, ++n;
      return n;
    });
    EXPECT_GT(steps, 0u);
    EXPECT_EQ(steps % 3, 0u) << "p = " << p;
  }

  // Products of distinct monic factors of one degree, scaled by a constant: the split gives back
  // the product, each factor of that degree, all monic but the last, which carries the constant.
  std::mt19937_64 rng(11);
  for (std::uint64_t p : {5ull, 7ull, 101ull, 4294967311ull}) {  // the last is above 2^32
    const Int P(p);
    for (std::uint64_t d : {1ull, 2ull, 3ull}) {
      // Distinct irreducibles of degree d; up to degree 3 that is a monic polynomial without roots.
      const ModPoly x = mp(P, ip({0, 1}));
      std::vector<ModPoly> parts;
      for (int tries = 0; parts.size() < 3 && tries < 2000; ++tries) {
        std::vector<Int> c;
        for (std::uint64_t i = 0; i < d; ++i) c.emplace_back(rng() % p);
        c.emplace_back(1);
        ModPoly cand = mp(P, IntPoly(c));
        if (d > 1 && gcd_mod(cand, *ModPoly::sub(*powmod(P, x, P, cand), x))->degree() != 0) continue;
        if (std::find(parts.begin(), parts.end(), cand) == parts.end()) parts.push_back(cand);
      }
      ASSERT_EQ(parts.size(), 3u);
      ModPoly f = mp(P, ip({3}));
      for (const auto& q : parts) f = *ModPoly::mul(f, q);
      auto split = factor_mod_p(f, d, P);
      ASSERT_TRUE(split) << split.error().message;
      ASSERT_EQ(split->size(), 3u);
      ModPoly prod = ModPoly::one_mod(P);
      for (std::size_t i = 0; i < split->size(); ++i) {
        const ModPoly& q = (*split)[i];
        EXPECT_EQ(q.degree(), static_cast<std::int64_t>(d));
        EXPECT_EQ(q.lead().value, i + 1 < split->size() ? Int(1) : Int(3));
        prod = *ModPoly::mul(prod, q);
      }
      EXPECT_EQ(prod, f);
    }
  }
}

// Reduced modular factors of F for a prime p at which all of them have degree at most 2: the
// linear part by gcd(x^p − x, F), the rest split as quadratics.
std::vector<ModPoly> small_degree_factors(const IntPoly& F, const Int& p) {
  ModPoly f = *mp(p, F).monic();
  ModPoly x = mp(p, ip({0, 1}));
  ModPoly lin = *gcd_mod(f, *ModPoly::sub(*powmod(p, x, p, f), x));
  lin = *lin.monic();
  std::vector<ModPoly> out;
  if (lin.degree() > 0) out = *factor_mod_p(lin, 1, p);
  ModPoly rest = *ModPoly::div_exact(f, lin);
  if (rest.degree() > 0) {
    std::vector<ModPoly> quadratics = *factor_mod_p(rest, 2, p);
    out.insert(out.end(), quadratics.begin(), quadratics.end());
  }
  for (auto& q : out) q = *q.monic();
  return out;
}

TEST(Factoring, HenselLiftReproducesIntegerFactors) {
  // F = 3·A·B·C with monic integer factors: the lifts of their residues are the factors
  // themselves modulo p^k, in the same order.
  const std::vector<IntPoly> parts = {ip({-2, 0, 1}), ip({7, 1}), ip({5, -3, 0, 1}), ip({123456789, 1, 1})};
  IntPoly F = mul_all(parts).scale(Int(3));
  const Int p = *choose_prime(F);
  std::vector<ModPoly> residues;
  for (const auto& q : parts) residues.push_back(mp(p, q));
  for (std::int64_t k : {1, 2, 7, 40}) {
    auto lifted = hensel_lift(F, residues, p, Int(k));
    ASSERT_TRUE(lifted) << lifted.error().message;
    const Int pk = Int::pow(p, static_cast<std::uint32_t>(k));
    ASSERT_EQ(lifted->size(), parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ((*lifted)[i].modulus, pk);
      EXPECT_EQ((*lifted)[i], mp(pk, parts[i]));
    }
  }
  EXPECT_EQ(hensel_lift(F, residues, p, Int(1) + Int(UINT32_MAX)).error(), Error::exponent_too_large());
  EXPECT_EQ(hensel_lift(F, residues, p, Int(1).shl(30)).error(), Error::exponent_too_large());
  EXPECT_EQ(hensel_lift(IntPoly(), residues, p, Int(3)).error(), Error::other("hensel_lift of zero polynomial"));
  EXPECT_EQ(hensel_lift(F, {mp(Int(5), parts[0]), mp(Int(7), parts[1])}, Int(5), Int(2)).error(),
            Modular::different_moduli());
  // Factors given as multiples lift to the same monic factors; factors of something else fail.
  std::vector<ModPoly> multiples = residues;
  multiples[1] = *multiples[1].scale(Modular(Int(2), p));
  EXPECT_EQ(*hensel_lift(F, multiples, p, Int(5)), *hensel_lift(F, residues, p, Int(5)));
  residues.pop_back();
  EXPECT_EQ(hensel_lift(F, residues, p, Int(5)).error(),
            Error::range("the factors do not multiply to the polynomial modulo the prime"));
}

TEST(Factoring, RecombinationOrder) {
  // Sizes in turn; within a size, subsets in decreasing lexicographic order.
  const Int P = Int::pow(Int(5), 6);
  auto lin = [&](std::int64_t a) { return mp(P, ip({-a, 1})); };
  EXPECT_EQ(factor_set(*combine_factors(ip({-6, 11, -6, 1}), {lin(1), lin(2), lin(3)}, P)),
            factor_set(std::vector<IntPoly>{ip({-3, 1}), ip({-2, 1}), ip({-1, 1})}));
  auto three = *combine_factors(ip({-6, 11, -6, 1}), {lin(1), lin(2), lin(3)}, P);
  EXPECT_EQ(three, (std::vector<IntPoly>{ip({-3, 1}), ip({-2, 1}), ip({-1, 1})}));

  // (x² − 2)(x² − 3) modulo 23^k splits into four roots ±a, ±b; with the factors ordered
  // [x − b, x − a, x + a, x + b] the pairs {1, 2} and {0, 3} are the true ones, and {1, 2} comes
  // first.
  const Int p(23);
  const IntPoly F = IntPoly::mul(ip({-2, 0, 1}), ip({-3, 0, 1}));
  const Int Pk = Int::pow(p, 8);
  std::vector<ModPoly> roots = *hensel_lift(F, {mp(p, ip({-5, 1})), mp(p, ip({5, 1})), mp(p, ip({-7, 1})), mp(p, ip({7, 1}))}, p, Int(8));
  auto found = combine_factors(F, {roots[2], roots[0], roots[1], roots[3]}, Pk);
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, (std::vector<IntPoly>{ip({-2, 0, 1}), ip({-3, 0, 1})}));
  found = combine_factors(F, {roots[0], roots[2], roots[3], roots[1]}, Pk);
  EXPECT_EQ(*found, (std::vector<IntPoly>{ip({-3, 0, 1}), ip({-2, 0, 1})}));

  // One lifted factor and a modulus too small to rebuild F: sizes beyond the number of factors
  // have no subsets and the search ends with F itself.
  const IntPoly G = ip({11, 7, 0, 0, 0, 0, 1});
  EXPECT_EQ(*combine_factors(G, {mp(Int(3), G)}, Int(3)), (std::vector<IntPoly>{G}));
  EXPECT_EQ(combine_factors(G, {mp(Int(3), G)}, Int(0)).error(), Error::division("Division by zero"));
}

// The search of combine_factors without its shortcuts: subsets of every size in order, leaving
// out only those that overlap a factor already found (they cannot divide what is left) or fail the
// constant-term test, each tried by division with remainder.
std::vector<IntPoly> plain_search(IntPoly g, const std::vector<ModPoly>& lifted, const Int& P) {
  std::vector<IntPoly> found;
  const std::size_t r = lifted.size();
  std::vector<bool> used(r, false);
  auto sym = [&](const Int& v) { return v + v >= P ? v - P : v; };
  for (std::size_t s = 1; 2 * static_cast<std::int64_t>(s) <= g.degree(); ++s) {
    std::vector<std::size_t> chosen;
    std::function<void(std::size_t, std::size_t, Int)> step = [&](std::size_t i, std::size_t need, Int c0) {
      if (need == 0) {
        const Int& c = g.lead();
        if (!g.coeffs[0].is_zero()) {
          Int h0 = sym(reduce_mod(c0 * c, P));
          if (h0.is_zero() || !((c * g.coeffs[0]) % h0).is_zero()) return;
        }
        ModPoly h = ModPoly::one_mod(P);
        for (auto k : chosen) h = *ModPoly::mul(h, lifted[k]);
        std::vector<Int> hv;
        const ModPoly scaled = *h.scale(Modular(reduce_mod(c, P), P));
        for (const auto& x : scaled.coeffs) hv.push_back(sym(x.value));
        IntPoly hi(std::move(hv));
        auto qr = IntPoly::div_rem(g.scale(c), hi);
        if (!qr || !qr->second.is_zero()) return;
        IntPoly hp = primitive_part(hi);
        found.push_back(hp);
        g = *IntPoly::div_exact(g, hp);
        for (auto k : chosen) used[k] = true;
        return;
      }
      if (r - i < need) return;
      step(i + 1, need, c0);
      if (used[i]) return;
      chosen.push_back(i);
      step(i + 1, need - 1, reduce_mod(c0 * lifted[i].coeffs[0].value, P));
      chosen.pop_back();
    };
    step(0, s, Int(1));
  }
  if (g.degree() >= 1) found.push_back(g);
  return found;
}

TEST(Factoring, RecombinationAgreesWithThePlainSearch) {
  // At a prime where every factor splits into quadratics: SD(2,3,5,7,11)·SD(13,17,19), 16 + 4
  // factors, searched in order; SD(2,3,5,7,11)·SD(13,17,19,23), 24 factors, and three SD(…) of
  // degree 16 taken at 2x, 3x and x, 24 factors again and a leading coefficient 6^16, where the
  // subsets of size 5 are too many for the ordered search.
  using Roots = std::vector<std::vector<std::int64_t>>;
  for (const Roots& sets : {Roots{{2, 3, 5, 7, 11}, {13, 17, 19}}, Roots{{2, 3, 5, 7, 11}, {13, 17, 19, 23}},
                            Roots{{2, 3, 5, 7}, {11, 13, 17, 19}, {23, 29, 31, 37}}}) {
    IntPoly F = ip({1});
    for (std::size_t i = 0; i < sets.size(); ++i)
      F = IntPoly::mul(F, substitute_scaled(swinnerton_dyer(sets[i]), sets.size() == 3 && i < 2 ? 2 + static_cast<std::int64_t>(i) : 1));
    const std::size_t quadratics = static_cast<std::size_t>(F.degree()) / 2;
    Int p(29);
    std::vector<ModPoly> residues;
    for (;; p += Int(2)) {
      bool prime = true;
      for (std::int64_t q = 3; q * q <= *p.to_i64(); q += 2) prime = prime && *p.to_i64() % q != 0;
      if (!prime) continue;
      ModPoly f = mp(p, F);
      if (f.degree() != F.degree() || gcd_mod(f, mp(p, primitive_integer(to_fractions(F).derivative())))->degree() != 0) continue;
      residues = small_degree_factors(F, p);
      if (residues.size() == quadratics) break;
    }
    const std::int64_t k = 400 / 5 + 1;  // far above the coefficient bound
    const Int P = Int::pow(p, static_cast<std::uint32_t>(k));
    auto lifted = *hensel_lift(F, residues, p, Int(k));
    auto ours = combine_factors(F, lifted, P);
    ASSERT_TRUE(ours) << ours.error().message;
    // The ordered search over 24 factors takes minutes under the sanitizers; the smaller case
    // still compares there.
    if (!std::getenv("GYRELLE_SANITIZED") || residues.size() < 24) {
      EXPECT_EQ(*ours, plain_search(F, lifted, P));
    }
    EXPECT_EQ(ours->size(), sets.size());
  }
}

// The exponent of the search bound: the least k with p^k > 2·|lc|·B, B bounding the coefficients
// of a factor of degree ⌊n/2⌋ from the binomials of m − 1 and the 2-norm rounded up.
std::uint32_t search_exponent(const IntPoly& F, const Int& p) {
  const std::int64_t m = F.degree() / 2;
  Int S;
  for (const auto& c : F.coeffs) S += c * c;
  Int r = S, previous(-1);
  while (r.sign() > 0 && !(r == previous)) {
    previous = r;
    r = (r * r + S - Int(1)) / (Int(2) * r) + Int(1);
  }
  const Int lc = F.lead().abs();
  const Int B = Int::binomial(m - 1, m / 2 - 1) * lc + Int::binomial(m - 1, m / 2) * r;
  const Int T = Int(2) * lc * B;
  std::uint32_t k = 1;
  while (!(Int::pow(p, k) > T)) ++k;
  return k;
}

// The factors of f as the plain search finds them, in a thread that has not drawn before: the
// first usable prime, distinct-degree parts by gcd(x^(p^i) − x, r), each split by factor_mod_p and
// made monic, the lifts to the search bound, and every subset tried in order.
std::vector<FracPoly> plain_factors(const FracPoly& f) {
  return in_fresh_thread([&] {
    const IntPoly F = primitive_integer(f);
    const Int p = *choose_prime(F);
    ModPoly r = *mp(p, F).monic();
    const ModPoly x = mp(p, ip({0, 1}));
    std::vector<ModPoly> modular;
    ModPoly h = x;
    for (std::uint64_t i = 1; 2 * static_cast<std::int64_t>(i) <= r.degree(); ++i) {
      h = *powmod(p, h, p, r);
      ModPoly g = *gcd_mod(*ModPoly::sub(h, x), r);
      if (g.degree() > 0) {
        const std::vector<ModPoly> split = *factor_mod_p(*g.monic(), i, p);
        for (const auto& q : split) modular.push_back(*q.monic());
        r = *ModPoly::div_exact(r, g);
        h = ModPoly::div_rem(h, r)->second;
      }
    }
    if (r.degree() > 0) modular.push_back(*r.monic());
    const std::uint32_t k = search_exponent(F, p);
    const std::vector<ModPoly> lifted = *hensel_lift(F, modular, p, Int(k));
    std::vector<FracPoly> out;
    for (const auto& g : plain_search(F, lifted, Int::pow(p, k))) out.push_back(to_fractions(g));
    return out;
  });
}

TEST(Factoring, EveryRoadKeepsTheOrderOfTheSearch) {
  // Through x^d, Capelli's theorem and Eisenstein's criterion; a prime with fewer factors than the
  // first; the lattice before the search: the factors, their order and signs are the plain
  // search's at the first prime.
  auto x_n = [](int n, std::int64_t c) {
    std::vector<Int> v(static_cast<std::size_t>(n) + 1, Int(0));
    v[0] = Int(c);
    v.back() = Int(1);
    return IntPoly(std::move(v));
  };
  const std::vector<IntPoly> cases = {
      x_n(64, -16),
      x_n(48, -81).scale(Int(-1)),
      x_n(36, 4),
      IntPoly::mul(x_n(57, -2), ip({3, 1})),
      IntPoly::mul(x_n(57, -5), ip({-2, 1})).scale(Int(-3)),
      mul_all({swinnerton_dyer({2, 3, 5, 7}), ip({-11, 0, 1}), ip({-13, 0, 1})}),
      mul_all({x_n(20, -3), x_n(15, 2), ip({1, 1})}),
  };
  for (const IntPoly& F : cases) {
    const FracPoly f = to_fractions(F);
    const auto ours = in_fresh_thread([&] { return *factor(f); });
    EXPECT_EQ(texts(ours), texts(plain_factors(f))) << F;
    expect_sound(f, ours);
  }
}

TEST(Factoring, HardFamiliesFinishQuickly) {
  // Irreducible x^500 − 3 splits into 46 factors modulo its first prime, x^840 − 4 into 39; the
  // product of 24 Eisenstein polynomials of degree 10 into many more: each took minutes or more
  // through the subset search.
  const double stretch = std::getenv("GYRELLE_SANITIZED") ? 20 : 1;
  auto timed = [&](const IntPoly& F, double limit) {
    const auto start = std::chrono::steady_clock::now();
    auto r = factor(to_fractions(F));
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(spent, limit * stretch) << F.degree();
    return *r;
  };
  auto x_n = [](int n, std::int64_t c) {
    std::vector<Int> v(static_cast<std::size_t>(n) + 1, Int(0));
    v[0] = Int(c);
    v.back() = Int(1);
    return IntPoly(std::move(v));
  };
  EXPECT_EQ(timed(x_n(500, -3), 1).size(), 1u);
  EXPECT_EQ(factor_set(timed(x_n(840, -4), 2)), factor_set(std::vector<IntPoly>{x_n(420, -2), x_n(420, 2)}));
  std::mt19937_64 rng(24);
  std::vector<IntPoly> parts;
  while (parts.size() < 24) {
    std::vector<Int> c{Int(2 * (1 + static_cast<std::int64_t>(rng() % 5)) * (rng() % 2 ? 1 : -1))};
    for (int i = 1; i < 10; ++i) c.emplace_back(2 * (static_cast<std::int64_t>(rng() % 11) - 5));
    if (c[0].abs() % Int(4) == Int(0)) continue;
    c.emplace_back(1);
    parts.emplace_back(std::move(c));
  }
  const IntPoly product = mul_all(parts);
  const auto found = timed(product, 2);
  EXPECT_EQ(factor_set(found), factor_set(parts));
  FracPoly back = fp({1});
  for (const auto& h : found) back = FracPoly::mul(back, h);
  EXPECT_EQ(back, to_fractions(product));
}

TEST(Factoring, SwinnertonDyerPolynomialsAreIrreducible) {
  EXPECT_EQ(swinnerton_dyer({2, 3, 5}), ip({576, 0, -960, 0, 352, 0, -40, 0, 1}));
  const std::vector<std::int64_t> qs = {2, 3, 5, 7, 11, 13};
  for (std::size_t m = 1; m <= qs.size(); ++m) {
    const IntPoly F = swinnerton_dyer(std::vector<std::int64_t>(qs.begin(), qs.begin() + static_cast<std::ptrdiff_t>(m)));
    auto r = factor(to_fractions(F));
    ASSERT_TRUE(r) << r.error().message;
    ASSERT_EQ(r->size(), 1u) << "degree " << F.degree();
    EXPECT_EQ((*r)[0], to_fractions(F));
  }
}

TEST(Factoring, CyclotomicFactors) {
  for (int n = 1; n <= 60; ++n) {
    std::vector<std::int64_t> c(static_cast<std::size_t>(n) + 1, 0);
    c[0] = -1;
    c.back() = 1;
    std::vector<Fraction> fc;
    for (auto x : c) fc.push_back(fraction(x, 1));
    FracPoly f(fc);
    auto r = factor(f);
    ASSERT_TRUE(r) << r.error().message;
    std::vector<IntPoly> want;
    for (int d = 1; d <= n; ++d)
      if (n % d == 0) want.push_back(cyclotomic(d));
    EXPECT_EQ(factor_set(*r), factor_set(want)) << "n = " << n;
    if (n % 12 == 0) expect_sound(f, *r);
  }
}

TEST(Factoring, CyclotomicProductsKeepTheOrderOfTheSearch) {
  // Products of cyclotomic polynomials are split from the orders of their modular roots; the
  // factors come in the order, and with the sign, that the subset search gives them in a thread
  // that has not drawn before. A product with another factor takes the search itself.
  auto x_n = [](int n, std::int64_t c) {
    std::vector<Int> v(static_cast<std::size_t>(n) + 1, Int(0));
    v[0] = Int(c);
    v.back() = Int(1);
    return IntPoly(std::move(v));
  };
  auto fresh = [](const IntPoly& f) { return texts(*in_fresh_thread([&] { return factor(to_fractions(f)); })); };
  using T = std::vector<std::string>;
  EXPECT_EQ(fresh(x_n(12, -1)), (T{"x² + x + 1", "x² + -1x + 1", "x + 1", "x + -1", "x⁴ + -1x² + 1", "x² + 1"}));
  EXPECT_EQ(fresh(x_n(30, -1)), (T{"x⁴ + x³ + x² + x + 1", "x⁴ + -1x³ + x² + -1x + 1", "x + 1", "x + -1",
                                   "x⁸ + -1x⁷ + x⁵ + -1x⁴ + x³ + -1x + 1", "x⁸ + x⁷ + -1x⁵ + -1x⁴ + -1x³ + x + 1",
                                   "x² + x + 1", "x² + -1x + 1"}));
  EXPECT_EQ(fresh(x_n(24, -1).scale(Int(-1))), (T{"-1x² + -1x + -1", "x² + -1x + 1", "x + 1", "x + -1",
                                                  "x⁴ + -1x² + 1", "x⁴ + 1", "x² + 1", "x⁸ + -1x⁴ + 1"}));
  EXPECT_EQ(fresh(x_n(20, 1)), (T{"x⁴ + 1", "x¹⁶ + -1x¹² + x⁸ + -1x⁴ + 1"}));
  EXPECT_EQ(fresh(IntPoly::mul(x_n(15, -1), ip({3, 1, 1}))),
            (T{"x⁴ + x³ + x² + x + 1", "x² + x + 3", "x + -1", "x⁸ + -1x⁷ + x⁵ + -1x⁴ + x³ + -1x + 1", "x² + x + 1"}));
  EXPECT_EQ(fresh(IntPoly::mul(x_n(18, -1), ip({1, 1}))),
            (T{"x⁶ + x³ + 1", "x⁶ + -1x³ + 1", "x² + x + 1", "x² + -1x + 1", "x + 1", "x + -1"}));
  // Large cases: every divisor's cyclotomic polynomial, and one irreducible of degree 996.
  for (int n : {360, 720}) {
    auto r = factor(to_fractions(x_n(n, -1)));
    ASSERT_TRUE(r);
    std::size_t divisors = 0;
    for (int d = 1; d <= n; ++d) divisors += n % d == 0;
    EXPECT_EQ(r->size(), divisors);
    expect_sound(to_fractions(x_n(n, -1)), *r);
  }
  const IntPoly phi997 = cyclotomic(997);
  EXPECT_EQ(*factor(to_fractions(phi997)), std::vector<FracPoly>{to_fractions(phi997)});
}

TEST(Factoring, KnownIrreduciblesWithLargeCoefficients) {
  // Eisenstein polynomials at the prime 2^61 − 1, a Swinnerton-Dyer factor and a linear factor
  // with a 67-bit root; products with repetitions and a negative sign.
  const Int q = Int(1).shl(61) - Int(1);
  auto eisenstein = [&](std::vector<std::int64_t> middle, std::int64_t unit) {
    std::vector<Int> c;
    c.push_back(q * Int(unit));
    for (auto m : middle) c.push_back(q * Int(m));
    c.push_back(Int(1));
    return IntPoly(std::move(c));
  };
  const IntPoly A = eisenstein({3, -5, 0, 7}, 11), B = eisenstein({-1, 2}, -13);
  const IntPoly C = swinnerton_dyer({2, 3, 7});
  const IntPoly D(std::vector<Int>{-Int(1).shl(66) - Int(7), Int(3)});
  const std::vector<IntPoly> parts = {A, B, C, D};
  const auto want = factor_set(parts);

  FracPoly f = to_fractions(mul_all(parts));
  auto r = factor(f);
  ASSERT_TRUE(r) << r.error().message;
  EXPECT_EQ(factor_set(*r), want);
  expect_sound(f, *r);

  FracPoly repeated = to_fractions(mul_all({A, A, B, C, C, C, D}).scale(Int(-6)));
  r = factor(repeated);
  ASSERT_TRUE(r) << r.error().message;
  EXPECT_EQ(factor_set(*r), want);
  expect_sound(repeated, *r);
}

TEST(Factoring, RandomProductsOfSmallFactors) {
  // Linear, quadratic and cubic factors whose irreducibility is known: a quadratic without a
  // square discriminant, a cubic without a rational root.
  std::mt19937_64 rng(5);
  auto coeff = [&] { return static_cast<std::int64_t>(rng() % 41) - 20; };
  auto has_rational_root = [](const IntPoly& f) {
    const Int a0 = f.coeffs[0].abs(), an = f.lead().abs();
    if (a0.is_zero()) return true;
    for (std::int64_t n = 1; n <= *a0.to_i64(); ++n)
      for (std::int64_t d = 1; d <= *an.to_i64(); ++d)
        if (*a0.to_i64() % n == 0 && *an.to_i64() % d == 0)
          for (int s : {1, -1})
            if (sign_at(f, fraction(s * n, d)) == 0) return true;
    return false;
  };
  for (int round = 0; round < 40; ++round) {
    std::vector<IntPoly> parts;
    std::set<std::string> seen;
    const int count = 2 + static_cast<int>(rng() % 5);
    while (static_cast<int>(parts.size()) < count) {
      const int deg = 1 + static_cast<int>(rng() % 3);
      std::vector<Int> c;
      for (int i = 0; i < deg; ++i) c.emplace_back(coeff());
      std::int64_t lead = 1 + static_cast<std::int64_t>(rng() % 4);
      c.emplace_back(lead);
      IntPoly f = primitive_part(IntPoly(c));
      if (f.degree() != deg) continue;
      if (deg == 2) {
        Int disc = f.coeffs[1] * f.coeffs[1] - Int(4) * f.coeffs[0] * f.coeffs[2];
        std::int64_t dv = *disc.to_i64(), s = 0;
        while (s * s < dv) ++s;
        if (dv >= 0 && s * s == dv) continue;
      }
      if (deg == 3 && has_rational_root(f)) continue;
      if (!seen.insert(f.to_string()).second) continue;
      parts.push_back(f);
    }
    IntPoly F = mul_all(parts);
    if (rng() % 3 == 0) F = IntPoly::mul(F, parts[0]);  // a repeated factor
    FracPoly f = to_fractions(F);
    auto r = factor(f);
    ASSERT_TRUE(r) << r.error().message;
    EXPECT_EQ(factor_set(*r), factor_set(parts)) << F;
    expect_sound(f, *r);
  }
}

TEST(Factoring, ThreadsAgreeOnTheFactors) {
  // Each thread has its own draws: after different warm-ups the order may differ, the factors not.
  const FracPoly f = to_fractions(IntPoly::mul(swinnerton_dyer({2, 3}), mul_all({cyclotomic(15), cyclotomic(7), ip({-9, 0, 1})})));
  auto run = [&](int warmup) {
    return in_fresh_thread([&] {
      for (int i = 0; i < warmup; ++i) (void)factor(fp({-30, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}));
      return *factor(f);
    });
  };
  const auto a = run(0), b = run(3), c = run(7);
  EXPECT_EQ(factor_set(a), factor_set(b));
  EXPECT_EQ(factor_set(a), factor_set(c));
  EXPECT_EQ(a.size(), 5u);
}

TEST(Factoring, RefusesOversizedInput) {
  std::vector<Fraction> c(static_cast<std::size_t>(kFactorMaxDegree) + 2, Fraction());
  c.front() = fraction(1, 1);
  c.back() = fraction(1, 1);
  auto r = factor(FracPoly(c));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), Error::range("polynomial degree 1025 exceeds the factoring limit of 1024"));
  FracPoly big(std::vector<Fraction>{Fraction(Int(1).shl(kFactorMaxBits)), fraction(1, 1)});
  r = factor(big);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::Range);
}

}  // namespace
}  // namespace gy
