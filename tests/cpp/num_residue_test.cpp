#include "num/residue.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace gy {
namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

// Small, medium and the largest moduli: the last ones leave no room for unreduced sums and make the
// Kronecker slots wider than a word.
const u64 kPrimes[] = {2, 3, 7, 65521, 2147483647, 4294967291};

WordPoly random_poly(std::mt19937_64& rng, const Zp& F, std::size_t length) {
  WordPoly a(length);
  for (auto& x : a) x = rng() % F.p;
  if (!a.empty() && a.back() == 0) a.back() = 1;
  return a;
}

// The product by the definition, every term reduced at once.
WordPoly naive_mul(const Zp& F, const WordPoly& a, const WordPoly& b) {
  if (a.empty() || b.empty()) return {};
  WordPoly r(a.size() + b.size() - 1, 0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) r[i + j] = F.add(r[i + j], static_cast<u64>(static_cast<u128>(a[i]) * b[j] % F.p));
  trim(r);
  return r;
}

TEST(Residue, ReductionsAgreeWithDivision) {
  std::mt19937_64 rng(1);
  for (u64 p : kPrimes) {
    const Zp F(p);
    for (int i = 0; i < 20000; ++i) {
      const u64 x = i < 4 ? ~u64{0} - static_cast<u64>(i) : rng();
      const u128 y = static_cast<u128>(rng()) << 64 | rng();
      ASSERT_EQ(F.reduce(x), x % p);
      ASSERT_EQ(F.reduce(y), static_cast<u64>(y % p));
      const u64 a = rng() % p;
      if (a != 0) {
        ASSERT_EQ(F.mul(a, F.inv(a)), 1u % p);
      }
    }
    EXPECT_GE(F.lazy_terms(), 1u);
  }
}

TEST(Residue, ProductsAndDivisionsAcrossTheirThresholds) {
  std::mt19937_64 rng(2);
  for (u64 p : kPrimes) {
    const Zp F(p);
    for (std::size_t n : {1, 5, 31, 32, 33, 80, 200}) {
      const WordPoly a = random_poly(rng, F, n), b = random_poly(rng, F, n + rng() % 40);
      ASSERT_EQ(mul(F, a, b), naive_mul(F, a, b)) << "p = " << p << ", n = " << n;
      ASSERT_EQ(mul(F, a, a), naive_mul(F, a, a));
      // a·b + r divided by b gives a back and the remainder r.
      const WordPoly r = random_poly(rng, F, b.size() - 1);
      WordPoly ab = mul(F, a, b);
      if (ab.size() < r.size()) ab.resize(r.size(), 0);
      for (std::size_t i = 0; i < r.size(); ++i) ab[i] = F.add(ab[i], r[i]);
      trim(ab);
      WordPoly q, rest = ab;
      divrem(F, rest, b, &q);
      WordPoly r_trimmed = r;
      trim(r_trimmed);
      EXPECT_EQ(q, a);
      EXPECT_EQ(rest, r_trimmed);
    }
  }
}

TEST(Residue, FixedModulusMatchesDivision) {
  std::mt19937_64 rng(3);
  for (u64 p : {3ull, 101ull, 2147483647ull}) {
    const Zp F(p);
    for (std::size_t n : {1, 10, 47, 48, 49, 130}) {
      WordPoly f = random_poly(rng, F, n + 1);
      f.back() = 1;
      const WordPolyModulus mod(F, f);
      for (int t = 0; t < 5; ++t) {
        const WordPoly a = random_poly(rng, F, n), b = random_poly(rng, F, n);
        EXPECT_EQ(mod.mulmod(a, b), rem(F, mul(F, a, b), f));
        const WordPoly big = random_poly(rng, F, 3 * n + 2);
        EXPECT_EQ(mod.rem(big), rem(F, big, f));
      }
      // a^e by repeated products, and e = 0.
      const WordPoly a = random_poly(rng, F, n);
      WordPoly power = rem(F, WordPoly{1}, f);
      for (int e = 1; e <= 13; ++e) power = mod.mulmod(power, a);
      EXPECT_EQ(mod.powmod(a, Int(13)), power);
      EXPECT_EQ(mod.powmod(a, Int(0)), rem(F, WordPoly{1}, f));
    }
  }
}

// Inverses near the word limit, where the lazy sums come closest to overflowing, for quotients of
// every degree (a short a gives a long one).
TEST(Residue, InversesNearTheWordLimit) {
  std::mt19937_64 rng(11);
  for (std::uint64_t q : {word_prime(0), word_prime(5000), std::uint64_t{10007}}) {
    const Zp F(q);
    for (std::size_t n : {1, 2, 7, 60, 250}) {
      WordPoly f = random_poly(rng, F, n + 1);
      f.back() = 1;
      for (std::size_t m : {std::size_t{1}, std::size_t{2}, n / 3 + 1, n}) {
        WordPoly a = random_poly(rng, F, m);
        if (n > 2) a.back() = F.p - 1;
        trim(a);
        const auto inv = inverse_mod(F, a, f);
        if (degree(gcd(F, a, f)) != 0) {
          EXPECT_FALSE(inv) << q << " " << n << " " << m;
          continue;
        }
        ASSERT_TRUE(inv) << q << " " << n << " " << m;
        EXPECT_EQ(rem(F, mul(F, *inv, a), f), WordPoly{1}) << q << " " << n << " " << m;
      }
      EXPECT_FALSE(inverse_mod(F, mul(F, f, WordPoly{3, 1}), mul(F, f, WordPoly{5, 1})));
    }
  }
}

// The lock-step quotients against the plain inverse's: random groups of every size, a short a (a
// long first quotient), b of 1, 0 or a random one, the largest primes (the lanes' sums come closest
// to 2^64), sequences that skip a degree in every lane (answered) or in one lane only, and a lane
// whose a and f share a factor (both refused, not answered).
TEST(Residue, LockStepQuotientsMatchThePlainOnes) {
  std::mt19937_64 rng(12);
  const bool lanes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  for (std::size_t n : {2, 3, 17, 60, 250}) {
    for (std::size_t count : {1, 5, 8}) {
      for (std::size_t da : {std::size_t{1}, n / 2, n - 1}) {
        for (int variant = 0; variant < 4; ++variant) {
          std::vector<Zp> F;
          std::vector<WordPoly> a(count), f(count), b(count), out(count);
          for (std::size_t i = 0; i < count; ++i) {
            const Zp& Fi = F.emplace_back(word_prime(i * 37 + static_cast<std::size_t>(variant)));
            f[i] = random_poly(rng, Fi, n + 1);
            f[i].back() = 1;
            a[i] = random_poly(rng, Fi, da + 1);
            a[i].back() = Fi.p - 1 - i;
            b[i] = i % 3 == 0 ? WordPoly{1} : i % 3 == 1 ? WordPoly{} : random_poly(rng, Fi, n);
          }
          const std::size_t bad = count - 1;
          const bool skips = (variant == 1 || variant == 3) && da >= 2;
          for (std::size_t i = variant == 1 ? bad : 0; skips && i < count; ++i) {
            // f ≡ q·a + r with deg r = da − 2: the sequence skips a degree.
            WordPoly r = random_poly(rng, F[i], da - 1), q = random_poly(rng, F[i], n - da + 1);
            q.back() = F[i].inv(a[i].back());
            f[i] = mul(F[i], q, a[i]);
            for (std::size_t k = 0; k < r.size(); ++k) f[i][k] = F[i].add(f[i][k], r[k]);
          }
          if (variant == 2) {
            // a and f share x + 3.
            const WordPoly g = {3, 1};
            f[bad] = monic(F[bad], mul(F[bad], random_poly(rng, F[bad], n), g));
            a[bad] = mul(F[bad], random_poly(rng, F[bad], da), g);
          }
          for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(f[i].size(), n + 1);
            ASSERT_EQ(f[i].back(), 1u);
          }
          const bool done = quotient_mod_lanes(F.data(), b.data(), a.data(), f.data(), count, out.data());
          for (std::size_t i = 0; i < count && done; ++i) {
            const auto plain = inverse_mod(F[i], a[i], f[i]);
            ASSERT_TRUE(plain) << n << " " << count << " " << da << " " << variant;
            EXPECT_EQ(out[i], rem(F[i], mul(F[i], b[i], *plain), f[i])) << n << " " << count << " " << da << " " << variant << " " << i;
          }
          const std::string at = std::to_string(n) + " " + std::to_string(count) + " " + std::to_string(da) + " " + std::to_string(variant);
          if (variant == 2 || (variant == 1 && skips && count > 1)) {
            EXPECT_FALSE(done) << at;
          } else if (lanes && da < n) {
            EXPECT_TRUE(done) << at;
          }
        }
      }
    }
  }
}

TEST(Residue, InversesAndSquarefreeness) {
  std::mt19937_64 rng(4);
  const Zp F(10007);
  const WordPoly g = {3, 1};  // x + 3
  for (std::size_t n : {2, 9, 60}) {
    WordPoly f = random_poly(rng, F, n + 1);
    f.back() = 1;
    const WordPoly a = random_poly(rng, F, n);
    if (degree(gcd(F, a, f)) != 0) continue;
    auto inv = inverse_mod(F, a, f);
    ASSERT_TRUE(inv);
    EXPECT_EQ(rem(F, mul(F, *inv, a), f), WordPoly{1});
    // A common factor leaves no inverse.
    EXPECT_FALSE(inverse_mod(F, mul(F, a, g), mul(F, f, g)));
    EXPECT_FALSE(is_squarefree(F, mul(F, f, mul(F, g, g))));
  }
  EXPECT_TRUE(is_squarefree(F, WordPoly{5}));
  EXPECT_FALSE(is_squarefree(F, WordPoly{}));
  // x^p − x has a zero derivative's counterpart: x^p alone is not squarefree modulo p.
  WordPoly xp(8, 0);
  xp[7] = 1;
  EXPECT_FALSE(is_squarefree(Zp(7), xp));
}

// Consecutive points take their weights from factorials: the same polynomials as the points in
// another order, which take them one by one, and the values come back at every point.
TEST(Residue, InterpolationAtConsecutivePoints) {
  std::mt19937_64 rng(9);
  for (u64 p : {u64{7}, u64{65521}, u64{4294967291}}) {
    const Zp F(p);
    for (std::size_t n : {1, 2, 5, 6, 41}) {
      for (u64 start : {u64{0}, u64{1}, u64{1000}}) {
        if (start + n > p) continue;
        std::vector<u64> ys(n);
        for (std::size_t i = 0; i < n; ++i) ys[i] = start + i;
        std::vector<std::vector<u64>> values{random_poly(rng, F, n), random_poly(rng, F, n)};
        std::vector<u64> back(ys.rbegin(), ys.rend());
        std::vector<std::vector<u64>> back_values;
        for (const auto& v : values) back_values.emplace_back(v.rbegin(), v.rend());
        const auto got = interpolate(F, ys, values);
        EXPECT_EQ(got, interpolate(F, back, back_values)) << p << " " << n << " " << start;
        for (std::size_t k = 0; k < values.size(); ++k)
          for (std::size_t i = 0; i < n; ++i) {
            u64 at = 0;
            for (std::size_t j = got[k].size(); j-- > 0;) at = F.add(F.mul(at, ys[i] % p), got[k][j]);
            EXPECT_EQ(at, values[k][i]);
          }
      }
    }
  }
}

TEST(Residue, WordPrimesDescendBelow2To31) {
  u64 last = u64{1} << 31;
  for (std::size_t i = 0; i < 1100; i += i < 20 ? 1 : 97) {
    const u64 p = word_prime(i);
    EXPECT_LT(p, last);
    for (u64 q = 2; q * q <= p; q += q == 2 ? 1 : 2) ASSERT_NE(p % q, 0u) << p;
    last = p;
  }
  EXPECT_EQ(word_prime(0), 2147483647u);
  EXPECT_EQ(word_prime(1), 2147483629u);
}

IntPoly ip(std::initializer_list<std::int64_t> c) {
  std::vector<Int> v;
  for (auto x : c) v.emplace_back(x);
  return IntPoly(std::move(v));
}

TEST(Residue, RationalInversesModuloAPolynomial) {
  // M irreducible of degree 12 (Eisenstein at 7); a with coefficients of about 200 bits.
  std::mt19937_64 rng(5);
  std::vector<Int> eis{Int(7)};
  for (int i = 1; i < 12; ++i) eis.push_back(Int(7 * (static_cast<std::int64_t>(rng() % 2001) - 1000)));
  eis.push_back(Int(1));
  const IntPoly M(eis);
  std::vector<Int> ac;
  for (int i = 0; i < 12; ++i) ac.push_back(Int(static_cast<std::int64_t>(rng() >> 1)).shl(140) - Int(static_cast<std::int64_t>(rng() >> 2)));
  const IntPoly a(ac);
  int offered = 0;
  auto u = inverse_mod_rational(a, M, [&](const FracPoly& candidate) {
    ++offered;
    return FracPoly::rem(FracPoly::mul(to_fractions(a), candidate), to_fractions(M)).value() == to_fractions(ip({1}));
  });
  ASSERT_TRUE(u);
  EXPECT_GE(offered, 1);
  EXPECT_EQ(*FracPoly::rem(FracPoly::mul(to_fractions(a), *u), to_fractions(M)), to_fractions(ip({1})));
  // A refused candidate asks for more primes, and a common factor gives none.
  int refusals = 2;
  auto again = inverse_mod_rational(a, M, [&](const FracPoly&) { return refusals-- <= 0; });
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *u);
  EXPECT_FALSE(inverse_mod_rational(ip({-1, 1}), ip({1, 0, -1}), [](const FracPoly&) { return true; }));
}

// The remainder tree against one reduction per modulus, and its Chinese remaindering against the
// residues it came from: long and short, negative and zero integers; moduli that fill partial leaves
// and carry odd nodes up; a product shorter and longer than the integers.
TEST(Residue, ModuliTreeAgreesWithPlainReduction) {
  std::mt19937_64 rng(11);
  for (std::size_t count : {1u, 7u, 9u, 24u, 333u, 1030u}) {
    std::vector<u64> moduli;
    for (std::size_t i = 0; i < count; ++i) moduli.push_back(word_prime(i * 3));
    const ModuliTree tree(moduli, true);
    ASSERT_EQ(tree.size(), count);
    std::vector<Int> xs{Int(0), Int(-1), Int(static_cast<std::int64_t>(rng() >> 1))};
    for (unsigned bits : {200u, 5000u, 70000u}) {
      Int x = Int(1);
      while (x.bit_length() < bits) x = x.shl(63) + Int(static_cast<std::int64_t>(rng() >> 1));
      xs.push_back(x);
      xs.push_back(-x);
      xs.push_back(x.shl(static_cast<unsigned>(rng() % 64)) + Int(1));
    }
    for (const Int& x : xs) {
      std::vector<u64> out(2 * count, 7);
      tree.reduce(x, out.data(), 2);
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(out[2 * i], mod_word(x, moduli[i])) << count << " moduli, " << x.bit_length() << " bits";
        ASSERT_EQ(out[2 * i + 1], 7u);
      }
    }
    // With the long integers (down the tree) and without them (limb by limb).
    for (std::size_t size : {xs.size(), xs.size() - 3}) {
      const IntPoly f(std::vector<Int>(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(size)));
      const std::vector<WordPoly> polys = tree.reduce(f);
      for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(polys[i], to_word_poly(f, Zp(moduli[i])));
    }
    // Residues to their integer in [0, M) and back.
    std::vector<u64> r(count);
    for (std::size_t i = 0; i < count; ++i) r[i] = rng() % moduli[i];
    r[0] = moduli[0] - 1;
    Mpz x;
    tree.combine(r.data(), x);
    ASSERT_GE(mpz_sgn(x.get()), 0);
    ASSERT_LT(mpz_cmp(x.get(), tree.product()), 0);
    for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(mpz_fdiv_ui(x.get(), moduli[i]), r[i]);
    Mpz m(1ul);
    for (u64 q : moduli) mpz_mul_ui(m.get(), m.get(), q);
    ASSERT_EQ(mpz_cmp(m.get(), tree.product()), 0);
  }
}

}  // namespace
}  // namespace gy

namespace gy {
namespace {

Fraction random_fraction(std::mt19937_64& rng, int bits, bool fractional) {
  Int num = Int(static_cast<std::int64_t>(rng() % (u64{1} << bits))) - Int(std::int64_t{1} << (bits - 1));
  Int den = fractional ? Int(static_cast<std::int64_t>(rng() % 97 + 1)) : Int(1);
  return expect(Fraction::make(num, den), "positive denominator");
}

// m(y − t·x) for m lowest degree first, as a field join forms it.
BiPoly shifted(const FracPoly& m, std::int64_t t) {
  const BiPoly lin = bivariate_from_vecs({{Fraction(), Fraction(Int(1))}, {Fraction(Int(-t))}});
  BiPoly acc;
  for (std::size_t j = m.coeffs.size(); j-- > 0;) {
    acc = BiPoly::mul(acc, lin);
    if (acc.coeffs.empty()) acc.coeffs.emplace_back();
    acc.coeffs[0] = FracPoly::add(acc.coeffs[0], FracPoly::constant(m.coeffs[j]));
    acc.trim();
  }
  return acc;
}

void expect_same_resultant(const BiPoly& a, const BiPoly& b, const std::string& what) {
  BiPoly lin_old, lin_new;
  const FracPoly old = expect(resultant(a, b, &lin_old), "resultant");
  const auto fresh = resultant_by_primes(a, b, &lin_new);
  ASSERT_TRUE(fresh.has_value()) << what;
  EXPECT_EQ(old.to_string(), fresh->to_string()) << what;
  ASSERT_EQ(lin_old.coeffs.size(), lin_new.coeffs.size()) << what;
  for (std::size_t i = 0; i < lin_old.coeffs.size(); ++i)
    EXPECT_EQ(lin_old.coeffs[i].to_string(), lin_new.coeffs[i].to_string()) << what << " linear x^" << i;
}

// The resultant and the remainder of degree one from primes against the subresultant sequence over
// the rationals: joins of x^k − c with dense and sparse fractional polynomials, dense bivariate
// pairs, and pairs whose sequences skip degrees.
TEST(Residue, ResultantByPrimesMatchesSequence) {
  std::mt19937_64 rng(29);
  for (int round = 0; round < 24; ++round) {
    const std::size_t k = 2 + rng() % 6, d = 2 + rng() % 7;
    std::vector<Fraction> ca(k + 1, Fraction()), cb(d + 1);
    ca[k] = Fraction(Int(round % 3 == 0 ? 3 : 1));
    ca[0] = random_fraction(rng, 10 + round, round % 2 == 0);
    for (auto& c : cb) c = (round % 4 == 1 && rng() % 2) ? Fraction() : random_fraction(rng, 8 + 2 * round, true);
    cb[d] = random_fraction(rng, 6, true);
    if (cb[d].is_zero()) cb[d] = Fraction(Int(1));
    const BiPoly a = lift_constants(FracPoly(ca));
    const BiPoly b = shifted(FracPoly(cb), 1 + round % 3);
    expect_same_resultant(a, b, "join " + std::to_string(round));
  }
  for (int round = 0; round < 12; ++round) {
    auto random_bi = [&](std::size_t dx, std::size_t dy, bool sparse) {
      std::vector<std::vector<Fraction>> rows(dx + 1);
      for (auto& row : rows) {
        row.resize(dy + 1);
        for (auto& c : row) c = sparse && rng() % 3 ? Fraction() : random_fraction(rng, 12, round % 2 == 1);
      }
      rows[dx][0] = Fraction(Int(1 + static_cast<std::int64_t>(rng() % 5)));
      return bivariate_from_vecs(rows);
    };
    const BiPoly a = random_bi(2 + rng() % 5, rng() % 3, round % 3 == 2);
    const BiPoly b = random_bi(2 + rng() % 5, 1 + rng() % 3, round % 3 == 2);
    expect_same_resultant(a, b, "dense " + std::to_string(round));
  }
  // A join of radicals as an expression forms it: 122^(1/10) with (1/10)^(7/5) / 6.
  {
    std::vector<Fraction> ca(11), cb(6);
    ca[10] = cb[5] = Fraction(Int(1));
    ca[0] = Fraction(Int(-122));
    cb[0] = expect(Fraction::make(Int(-1), Int::pow(Int(6), 5) * Int::pow(Int(10), 7)), "positive denominator");
    expect_same_resultant(lift_constants(FracPoly(ca)), shifted(FracPoly(cb), 1), "radicals");
  }
  // x^4 + y and x^6 + x^2 + y: the sequence skips from degree 4 to 2 and below.
  expect_same_resultant(bivariate_from_vecs({{Fraction(), Fraction(Int(1))}, {}, {}, {}, {Fraction(Int(1))}}),
                        bivariate_from_vecs({{Fraction(), Fraction(Int(1))}, {}, {Fraction(Int(1))}, {}, {}, {}, {Fraction(Int(1))}}),
                        "sparse");
}

// Pairs whose sample points all miss the degree one that the sequence over the rationals meets, so the
// run's reference lacks it: x^3 + c(y)·x + y and x^2 − 2 leave the remainder (c + 2)·x + y, and
// c + 2 vanishes at y = 1..4, or modulo the first three primes. Such a run gives no answer, or the
// right one; never the remainder of degree one left out.
TEST(Residue, ResultantByPrimesDistrustsAnUnluckyReference) {
  auto f = [](std::int64_t c) { return Fraction(Int(c)); };
  const Int primes = Int(static_cast<std::int64_t>(word_prime(0))) * Int(static_cast<std::int64_t>(word_prime(1))) *
                     Int(static_cast<std::int64_t>(word_prime(2)));
  const std::vector<std::vector<Fraction>> coefficient_of_x = {
      {f(22), f(-50), f(35), f(-10), f(1)},  // (y − 1)(y − 2)(y − 3)(y − 4) − 2
      {Fraction(primes - Int(2))},
  };
  const BiPoly b = bivariate_from_vecs({{f(-2)}, {}, {f(1)}});
  for (const auto& c : coefficient_of_x) {
    const BiPoly a = bivariate_from_vecs({{Fraction(), f(1)}, c, {}, {f(1)}});
    BiPoly lin_old, lin_new;
    const FracPoly old = expect(resultant(a, b, &lin_old), "resultant");
    ASSERT_EQ(lin_old.degree(), 1);
    const auto fresh = resultant_by_primes(a, b, &lin_new);
    if (!fresh) continue;
    EXPECT_EQ(old.to_string(), fresh->to_string());
    ASSERT_EQ(lin_new.degree(), 1);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(lin_old.coeffs[i].to_string(), lin_new.coeffs[i].to_string());
  }
}

}  // namespace
}  // namespace gy
