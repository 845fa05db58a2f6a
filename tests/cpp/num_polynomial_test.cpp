#include "num/polynomial.hpp"

#include <gtest/gtest.h>

#include <random>

namespace gy {
namespace {

Fraction q(std::int64_t n, std::int64_t d = 1) { return fraction(n, d); }

FracPoly fp(std::initializer_list<Fraction> c) { return FracPoly(std::vector<Fraction>(c)); }
IntPoly ip(std::initializer_list<std::int64_t> c) {
  std::vector<Int> v;
  for (auto x : c) v.emplace_back(x);
  return IntPoly(std::move(v));
}
ModPoly mp(std::int64_t m, std::initializer_list<std::int64_t> c) {
  std::vector<Modular> v;
  for (auto x : c) v.push_back(*Modular::make(Int(x), Int(m)));
  return ModPoly(Int(m), std::move(v));
}
BiPoly bi(std::initializer_list<std::initializer_list<std::int64_t>> rows) {
  std::vector<std::vector<Fraction>> v;
  for (auto& row : rows) {
    v.emplace_back();
    for (auto x : row) v.back().push_back(q(x));
  }
  return bivariate_from_vecs(v);
}

void expect_error(const auto& r, ErrorKind kind, const std::string& message) {
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, kind);
  EXPECT_EQ(r.error().message, message);
}

TEST(Polynomial, TrimAndArithmetic) {
  FracPoly a = fp({q(1), q(2), q(0), q(0)});
  EXPECT_EQ(a.degree(), 1);
  EXPECT_EQ(FracPoly().degree(), -1);
  // Cancelling top coefficients lower the degree; a product with zero is zero.
  EXPECT_EQ(FracPoly::sub(fp({q(1), q(1), q(3)}), fp({q(0), q(0), q(3)})).degree(), 1);
  EXPECT_TRUE(FracPoly::mul(a, FracPoly()).is_zero());
  EXPECT_EQ(FracPoly::mul(fp({q(-1), q(1)}), fp({q(1), q(1)})), fp({q(-1), q(0), q(1)}));
  EXPECT_EQ(FracPoly::mul(fp({q(1, 2), q(1, 3)}), fp({q(2, 3), q(3, 4)})),
            fp({q(1, 3), q(3, 8) + q(2, 9), q(1, 4)}));
  EXPECT_EQ(FracPoly::sub(FracPoly(), fp({q(1), q(2)})), fp({q(-1), q(-2)}));
  EXPECT_EQ(neg_coefficients(std::vector<Fraction>{}).degree(), -1);
  EXPECT_EQ(-fp({q(1), q(-2)}), fp({q(-1), q(2)}));
  EXPECT_TRUE(fp({q(5)}).derivative().is_zero());
  EXPECT_EQ(fp({q(1), q(2), q(3)}).derivative(), fp({q(2), q(6)}));
  EXPECT_EQ(FracPoly().eval(q(3)), q(0));
  EXPECT_EQ(fp({q(1), q(0), q(1)}).eval(q(1, 2)), q(5, 4));
}

// Sums and quotients over denominators of tens of thousands of bits that share most of their
// factors are reduced together; each coefficient must come out as its own reduction gives it.
TEST(Polynomial, LongCommonDenominatorsReduceLikeEachCoefficient) {
  std::mt19937_64 rng(11);
  const Int big = Int::pow(Int(3), 22000) * Int::pow(Int(5), 2000);  // about 39,500 bits
  auto small = [&] { return Int(static_cast<std::int64_t>(rng() >> 1) | 1); };
  for (int round = 0; round < 4; ++round) {
    std::vector<Fraction> a, b;
    for (int i = 0; i < 24; ++i) {
      // Denominators big/3^k·2^j, numerators sometimes sharing 3s and 5s with them; a few integers.
      auto one = [&](int salt) {
        if ((i + salt + round) % 11 == 0) return Fraction(small());
        Int den = big / Int::pow(Int(3), static_cast<std::uint32_t>(rng() % 4)) * Int(1).shl(rng() % 3);
        Int num = small() * Int::pow(Int((i + salt) % 3 == 0 ? 3 : 5), static_cast<std::uint32_t>(rng() % 3));
        if (rng() % 2) num = -num;
        return *Fraction::make(num, den);
      };
      a.push_back(one(0));
      // Some coefficients cancel outright, others only in part.
      b.push_back(i % 7 == 3 ? a.back() : one(1));
    }
    const FracPoly pa(a), pb(b);
    std::vector<Fraction> sum, diff;
    for (std::size_t i = 0; i < a.size(); ++i) {
      sum.push_back(a[i] + b[i]);
      diff.push_back(a[i] - b[i]);
    }
    EXPECT_EQ(FracPoly::add(pa, pb), FracPoly(sum));
    EXPECT_EQ(FracPoly::sub(pa, pb), FracPoly(diff));
    // P_i / D with the first coefficient's gcd dividing most others (none, two or eleven apart).
    std::vector<Int> p;
    const Int shared = Int::pow(Int(3), 15000);
    for (int i = 0; i < 24; ++i) {
      const bool apart = i > 0 && i % 8 < static_cast<int>(round == 0 ? 0 : round == 1 ? 1 : 4);
      p.push_back(i == 5 ? Int(0) : small() * (apart ? Int(5) : shared) * Int::pow(Int(5), static_cast<std::uint32_t>(i % 3)));
    }
    std::vector<Fraction> each;
    for (const auto& x : p) each.push_back(*Fraction::make(x, big));
    EXPECT_EQ(reduced_fractions(p, big), FracPoly(each));
  }
  // The first coefficient shares 7s with D that the others lack; many coefficients, and a few over a
  // long D.
  const Int longer = big * Int::pow(Int(7), 12000);
  for (std::size_t n : {24, 5}) {
    std::vector<Int> p;
    for (std::size_t i = 0; i < n; ++i)
      p.push_back(small() * Int::pow(Int(3), 15000) * (i == 0 ? Int::pow(Int(7), 40) : Int(i % 2 ? 5 : 1)));
    std::vector<Fraction> each;
    for (const auto& x : p) each.push_back(*Fraction::make(x, longer));
    const FracPoly r = reduced_fractions(p, longer);
    ASSERT_EQ(r.coeffs.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      // In lowest terms, not only equal in value.
      EXPECT_EQ(r.coeffs[i].num(), each[i].num()) << n << " " << i;
      EXPECT_EQ(r.coeffs[i].den(), each[i].den()) << n << " " << i;
    }
  }
}

TEST(Polynomial, IntegerProductsAgreeWithFractions) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 40; ++round) {
    std::vector<Int> a, b;
    std::vector<Fraction> fa, fb;
    int na = 1 + static_cast<int>(rng() % 12), nb = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < na; ++i) {
      // Mix machine-sized and big coefficients so that both product paths run.
      Int x = Int(static_cast<std::int64_t>(rng() >> 1)) * (round % 3 == 0 ? Int::pow(Int(3), 50) : Int(1));
      a.push_back(x);
      fa.emplace_back(x);
    }
    for (int i = 0; i < nb; ++i) {
      Int x(static_cast<std::int64_t>(rng()));
      b.push_back(x);
      fb.emplace_back(x);
    }
    IntPoly p = IntPoly::mul(IntPoly(a), IntPoly(b));
    EXPECT_EQ(to_fractions(p), FracPoly::mul(FracPoly(fa), FracPoly(fb)));
    // The product is divisible by either factor with no remainder.
    auto back = IntPoly::div_exact(p, IntPoly(b));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, IntPoly(a));
  }
}

// The product by the definition.
IntPoly naive_product(const IntPoly& a, const IntPoly& b) {
  std::vector<Int> c(a.coeffs.size() + b.coeffs.size() - 1);
  for (std::size_t i = 0; i < a.coeffs.size(); ++i)
    for (std::size_t j = 0; j < b.coeffs.size(); ++j) c[i + j] += a.coeffs[i] * b.coeffs[j];
  return IntPoly(std::move(c));
}

TEST(Polynomial, KroneckerProductsAgreeWithTheDefinition) {
  // Lengths on both sides of the cutoffs, machine and big coefficients of both signs, zeros, and
  // values at 2^k ± 1 whose products fill their slots up to the sign bit; one side's coefficients
  // at times far shorter than the other's, multiplied term by term where that costs less.
  std::mt19937_64 rng(13);
  for (int round = 0; round < 300; ++round) {
    const std::size_t na = 1 + rng() % 90, nb = 1 + rng() % 90;
    const int a_bits = static_cast<int>(rng() % 4 == 0 ? 1 + rng() % 62 : 1 + rng() % 400);
    const int b_bits = rng() % 3 == 0 ? static_cast<int>(1 + rng() % 4000) : a_bits;
    int bits = a_bits;
    auto coefficient = [&] {
      switch (rng() % 6) {
        case 0: return Int(0);
        case 1: return Int(1).shl(static_cast<std::uint64_t>(bits)) - Int(1);
        case 2: return -Int(1).shl(static_cast<std::uint64_t>(bits));
        default: {
          Int x(static_cast<std::int64_t>(rng() >> 1));
          for (int k = 63; k < bits; k += 63) x = x.shl(63) + Int(static_cast<std::int64_t>(rng() >> 1));
          return rng() % 2 ? -x : x;
        }
      }
    };
    std::vector<Int> a(na), b(nb);
    for (auto& x : a) x = coefficient();
    bits = b_bits;
    for (auto& x : b) x = coefficient();
    a.back() = Int(1) + a.back().abs();
    b.back() = -(Int(1) + b.back().abs());
    const IntPoly pa(a), pb(b);
    ASSERT_EQ(IntPoly::mul(pa, pb), naive_product(pa, pb)) << na << " " << nb << " " << a_bits << " " << b_bits;
    ASSERT_EQ(IntPoly::mul(pa, pa), naive_product(pa, pa)) << na << " " << a_bits;  // a square
    // The GMP entry point, aliasing-free output of the full length.
    std::vector<__mpz_struct> za(na), zb(nb), out(na + nb - 1);
    for (std::size_t i = 0; i < na; ++i) mpz_init_set(&za[i], a[i].view().get());
    for (std::size_t i = 0; i < nb; ++i) mpz_init_set(&zb[i], b[i].view().get());
    for (auto& x : out) mpz_init_set_si(&x, 99);
    mul_kronecker(za, zb, out);
    const IntPoly want = naive_product(pa, pb);
    for (std::size_t i = 0; i < out.size(); ++i)
      EXPECT_EQ(Int::from_mpz(&out[i]), i < want.coeffs.size() ? want.coeffs[i] : Int(0));
    for (auto* v : {&za, &zb, &out})
      for (auto& x : *v) mpz_clear(&x);
  }
}

// A product whose coefficients would pass the size limit of integers is refused before anything is
// formed, with the refusal of the largest coefficient product, at every length and for squares.
TEST(Polynomial, ProductsPastTheSizeLimitAreRefusedAsIntegerProducts) {
  const Int big = Int(1).shl(Int::kMaxBits / 2);  // 2^27 + 1 bits: two of them pass the limit
  std::string want;
  try {
    (void)(big * big);
  } catch (const MemoryRefusal& e) {
    want = e.what();
  }
  ASSERT_EQ(want, "a product of 268435457 bits or more exceeds the limit of 268435456 bits of an integer");
  for (const std::size_t n : {std::size_t{2}, std::size_t{8}, std::size_t{60}}) {
    std::vector<Int> c(n, Int(3));
    c[n / 2] = big;
    const IntPoly a(c), b(std::vector<Int>(n, -big));
    for (const auto& [x, y] : {std::pair{&a, &b}, std::pair{&a, &a}}) {
      try {
        (void)IntPoly::mul(*x, *y);
        ADD_FAILURE() << n << " terms were multiplied";
      } catch (const MemoryRefusal& e) {
        EXPECT_EQ(e.what(), want) << n;
      }
    }
  }
  // One side far shorter than the other, multiplied term by term: the same refusal.
  const Int long_one = Int(1).shl(Int::kMaxBits - 64), short_one = Int(1).shl(127);
  try {
    (void)(long_one * short_one);
  } catch (const MemoryRefusal& e) {
    want = e.what();
  }
  ASSERT_EQ(want, "a product of 268435520 bits or more exceeds the limit of 268435456 bits of an integer");
  for (const std::size_t n : {std::size_t{8}, std::size_t{60}}) {
    std::vector<Int> c(n, Int(3));
    c[n / 2] = long_one;
    const IntPoly a(c), b(std::vector<Int>(n, short_one));
    try {
      (void)IntPoly::mul(a, b);
      ADD_FAILURE() << n << " terms were multiplied";
    } catch (const MemoryRefusal& e) {
      EXPECT_EQ(e.what(), want) << n;
    }
  }
}

TEST(Polynomial, Division) {
  for (auto r : {FracPoly::div_rem(fp({q(1)}), FracPoly()).error()}) EXPECT_EQ(r.message, "Division by zero");
  expect_error(IntPoly::div_rem(ip({1}), IntPoly()), ErrorKind::Division, "Division by zero");
  expect_error(ModPoly::div_rem(mp(5, {1}), ModPoly(Int(5), {})), ErrorKind::Division, "Division by zero");

  auto zero = FracPoly::div_rem(FracPoly(), fp({q(1), q(1)}));
  ASSERT_TRUE(zero.has_value());
  EXPECT_TRUE(zero->first.is_zero() && zero->second.is_zero());

  // a = q·b + r with deg r < deg b, for a non-monic divisor.
  FracPoly a = fp({q(3), q(-1), q(0), q(5), q(2, 7)}), b = fp({q(1), q(0), q(3, 2)});
  auto qr = FracPoly::div_rem(a, b);
  ASSERT_TRUE(qr.has_value());
  EXPECT_LT(qr->second.degree(), b.degree());
  EXPECT_EQ(FracPoly::add(FracPoly::mul(qr->first, b), qr->second), a);

  EXPECT_EQ(*FracPoly::div_exact(fp({q(-1), q(0), q(1)}), fp({q(-1), q(1)})), fp({q(1), q(1)}));
  expect_error(FracPoly::div_exact(fp({q(1), q(0), q(1)}), fp({q(-1), q(1)})), ErrorKind::Division,
               "not divisible");
  EXPECT_EQ(*FracPoly::div_exact(fp({q(2), q(4)}), fp({q(4)})), fp({q(1, 2), q(1)}));

  // Over the integers the quotient and remainder must be integral.
  auto iq = IntPoly::div_rem(ip({0, 2}), ip({2}));
  ASSERT_TRUE(iq.has_value());
  EXPECT_EQ(iq->first, ip({0, 1}));
  EXPECT_TRUE(iq->second.is_zero());
  expect_error(IntPoly::div_rem(ip({0, 1}), ip({0, 2})), ErrorKind::Division, "Not divisible");
  expect_error(ip({1, 3}).div_scalar_exact(Int(2)), ErrorKind::Division, "Not divisible");
  expect_error(ip({1, 3}).div_scalar_exact(Int(0)), ErrorKind::Range, "Division by zero");

  // Bivariate division by a polynomial whose leading coefficient is a polynomial in y.
  BiPoly A = bi({{0, 1}, {0}, {1}});  // x² + y
  BiPoly B = bi({{1}, {0, 1}});       // y·x + 1
  auto bq = BiPoly::div_rem(A, B);
  ASSERT_FALSE(bq.has_value());  // the quotient needs 1/y
}

TEST(Polynomial, MonicPowAndText) {
  expect_error(FracPoly().monic(), ErrorKind::Range, "monic() of zero polynomial");
  expect_error(ModPoly(Int(7), {}).monic(), ErrorKind::Range, "monic() of zero polynomial");
  EXPECT_EQ(*fp({q(1), q(2)}).monic(), fp({q(1, 2), q(1)}));
  EXPECT_EQ(*mp(7, {1, 3}).monic(), mp(7, {5, 1}));

  EXPECT_EQ(*FracPoly().pow(Int(0)), fp({q(1)}));
  EXPECT_TRUE(FracPoly().pow(Int(3))->is_zero());
  expect_error(fp({q(1), q(1)}).pow(Int(-1)), ErrorKind::Range, "");
  EXPECT_EQ(*fp({q(1), q(1)}).pow(Int(3)), fp({q(1), q(3), q(3), q(1)}));
  EXPECT_EQ(*fp({q(2, 3)}).pow(Int(2)), fp({q(4, 9)}));
  EXPECT_FALSE(fp({q(1), q(1)}).pow(Int::pow(Int(2), 40)).has_value());

  EXPECT_EQ(FracPoly().to_string(), "0");
  EXPECT_EQ(FracPoly::x().to_string(), "x");
  EXPECT_EQ(fp({q(1)}).to_string(), "1");
  EXPECT_EQ(fp({q(0), q(-1)}).to_string(), "-1x");
  EXPECT_EQ(fp({q(-1), q(0), q(1)}).to_string(), "x\u00B2 + -1");
  EXPECT_EQ(fp({q(2), q(-3), q(1)}).to_string(), "x\u00B2 + -3x + 2");
  EXPECT_EQ(fp({q(0), q(1), q(1, 2)}).to_string(), "1/2x\u00B2 + x");
  EXPECT_EQ(fp({q(3, 2)}).to_string(), "3/2");
  EXPECT_EQ(fp({q(-2), q(0), q(0), q(1)}).to_string(), "x\u00B3 + -2");
  EXPECT_EQ((*FracPoly::x().pow(Int(12))).to_string(), "x\u00B9\u00B2");
  EXPECT_EQ((*FracPoly::x().pow(Int(10))).to_string(), "x\u00B9\u2070");
}

TEST(Polynomial, Residues) {
  ModPoly one = ModPoly::one_mod(Int(1));
  EXPECT_TRUE(one.is_zero());
  EXPECT_EQ(one.modulus, Int(1));
  EXPECT_EQ(ModPoly::one_mod(Int(5)), mp(5, {1}));

  Modular a = *Modular::make(Int(3), Int(5)), b = *Modular::make(Int(3), Int(7));
  for (auto r : {Modular::mul(a, b), Modular::sub(a, b), Modular::div(a, b)})
    expect_error(r, ErrorKind::Type, "Numbers have different moduli");
  expect_error(ModPoly::mul(mp(5, {1, 1}), mp(7, {1, 1})), ErrorKind::Type, "Numbers have different moduli");
  expect_error(gcd_mod(mp(5, {-1, 0, 1}), mp(7, {-1, 1})), ErrorKind::Type, "Numbers have different moduli");
  EXPECT_EQ(Modular::make(Int(-3), Int(5))->value, Int(2));
  expect_error(Modular::make(Int(1), Int(0)), ErrorKind::Division, "Division by zero");

  Modular four = *Modular::make(Int(4), Int(6)), two = *Modular::make(Int(2), Int(6));
  auto r = Modular::div(four, two);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(reduce_mod(r->value * Int(2), Int(6)), Int(4));
  expect_error(Modular::div(*Modular::make(Int(3), Int(6)), two), ErrorKind::Division, "Not divisible");
  Modular z = *Modular::make(Int(0), Int(7));
  EXPECT_TRUE(Modular::div(z, z)->is_zero());
  // Inverses modulo a prime.
  for (int v = 1; v < 13; ++v) {
    Modular x = *Modular::make(Int(v), Int(13));
    Modular inv = *Modular::div(*Modular::make(Int(1), Int(13)), x);
    EXPECT_EQ(Modular::mul(x, inv)->value, Int(1));
  }

  EXPECT_EQ(*gcd_mod(mp(5, {-1, 0, 1}), mp(5, {-1, 1})), mp(5, {4, 1}));
  // x^(p) ≡ x modulo (p, f) when f splits into distinct linear factors over F_p.
  ModPoly f = *ModPoly::mul(*ModPoly::mul(mp(7, {-1, 1}), mp(7, {-2, 1})), mp(7, {-3, 1}));
  ModPoly x = mp(7, {0, 1});
  EXPECT_EQ(*powmod(Int(7), x, Int(7), f), x);
  EXPECT_EQ(*powmod(Int(7), x, Int(0), f), mp(7, {1}));
}

TEST(RemainderSequence, GcdAndResultant) {
  EXPECT_EQ(*FracPoly::gcd(fp({q(-1), q(0), q(1)}), fp({q(-1), q(1)})), fp({q(-1), q(1)}));
  EXPECT_EQ(*FracPoly::gcd(fp({q(2), q(-3), q(1)}), fp({q(-1), q(0), q(1)})), fp({q(-3), q(3)}));
  EXPECT_EQ(*FracPoly::gcd(FracPoly(), fp({q(1), q(1)})), fp({q(1), q(1)}));
  EXPECT_EQ(*FracPoly::gcd(fp({q(1), q(1)}), FracPoly()), fp({q(1), q(1)}));
  EXPECT_TRUE(FracPoly::gcd(FracPoly(), FracPoly())->is_zero());

  // A common factor of high degree survives the sequence, up to a constant.
  FracPoly common = fp({q(3), q(-1), q(0), q(2), q(1)});
  FracPoly u = FracPoly::mul(common, fp({q(1), q(5), q(1, 2)}));
  FracPoly v = FracPoly::mul(common, fp({q(-7), q(1)}));
  EXPECT_EQ(*FracPoly::gcd(u, v)->monic(), *common.monic());

  BiPoly a = bi({{0, -1}, {0}, {1}});  // x² − y
  BiPoly b = bi({{-1}, {1}});          // x − 1
  EXPECT_EQ(*resultant(a, b), fp({q(1), q(-1)}));
  EXPECT_EQ(*resultant(b, a), fp({q(1), q(-1)}));
  // (x − y)(x + 1) and (x − y)(x − 2) share x − y.
  BiPoly c = bi({{0, -1}, {1, -1}, {1}});
  BiPoly d = bi({{0, 2}, {-2, -1}, {1}});
  EXPECT_TRUE(resultant(c, d)->is_zero());
  // Eliminating x from x² − 2 and y − x² + ... : res_x(x² − 2, y − x) = y² − 2.
  EXPECT_EQ(*resultant(bi({{-2}, {0}, {1}}), bi({{0, 1}, {-1}})), fp({q(-2), q(0), q(1)}));
  // res_x(x² − 2, x² − 3 − y)... the sign follows the odd degree product when swapped.
  BiPoly lin = bi({{0, 1}, {1}});  // x + y
  BiPoly cube = bi({{-2}, {0}, {0}, {1}});
  EXPECT_EQ(*resultant(lin, cube), FracPoly::sub(FracPoly(), *resultant(cube, lin)));
}

TEST(RemainderSequence, LinearRemainderVanishesAtTheCommonRoot) {
  // (x − 1)(x − 2) and (x − y)(x + 5): at y = 1 and y = 2 they share the root x = y, and the
  // remainder of degree one there is a multiple of x − y.
  const BiPoly a = bi({{2}, {-3}, {1}}), b = bi({{0, -5}, {5, -1}, {1}});
  BiPoly linear;
  const FracPoly r = *resultant(a, b, &linear);
  EXPECT_EQ(r, *resultant(a, b));
  ASSERT_EQ(linear.degree(), 1);
  for (std::int64_t y : {1, 2}) {
    EXPECT_TRUE(r.eval(q(y)).is_zero());
    const Fraction s1 = linear.coeffs[1].eval(q(y)), s0 = linear.coeffs[0].eval(q(y));
    ASSERT_FALSE(s1.is_zero());
    EXPECT_EQ(*s0.neg().div(s1), q(y));
  }
  // A first operand of degree one is the remainder itself; a sequence that never meets degree
  // one leaves none.
  BiPoly first;
  (void)resultant(bi({{0, -1}, {0}, {1}}), bi({{-1}, {1}}), &first);
  EXPECT_EQ(first, bi({{-1}, {1}}));
  BiPoly none = bi({{1}});
  (void)resultant(bi({{1, 0, -1}, {0}, {0}, {0}, {1}}), bi({{0, 1}, {0}, {1}}), &none);  // x⁴ − y² + 1, x² + y
  EXPECT_NE(none.degree(), 1);
}

// det of the Sylvester matrix of two rational polynomials, by Gaussian elimination.
Fraction sylvester(const FracPoly& a, const FracPoly& b) {
  std::size_t m = static_cast<std::size_t>(a.degree()), n = static_cast<std::size_t>(b.degree());
  std::size_t size = m + n;
  std::vector<std::vector<Fraction>> mat(size, std::vector<Fraction>(size));
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t i = 0; i <= m; ++i) mat[r][r + i] = a.coeffs[m - i];
  for (std::size_t r = 0; r < m; ++r)
    for (std::size_t i = 0; i <= n; ++i) mat[n + r][r + i] = b.coeffs[n - i];
  Fraction det = q(1);
  for (std::size_t c = 0; c < size; ++c) {
    std::size_t piv = c;
    while (piv < size && mat[piv][c].is_zero()) ++piv;
    if (piv == size) return q(0);
    if (piv != c) {
      std::swap(mat[piv], mat[c]);
      det = det.neg();
    }
    det = det * mat[c][c];
    for (std::size_t r = c + 1; r < size; ++r) {
      Fraction f = *mat[r][c].div(mat[c][c]);
      for (std::size_t k = c; k < size; ++k) mat[r][k] -= f * mat[c][k];
    }
  }
  return det;
}

FracPoly at_y(const BiPoly& p, const Fraction& y) {
  std::vector<Fraction> c;
  for (const auto& x : p.coeffs) c.push_back(x.eval(y));
  return FracPoly(std::move(c));
}

TEST(RemainderSequence, ResultantIsTheSylvesterDeterminant) {
  EXPECT_EQ(*resultant(bi({{0, 1}, {0}, {0}, {1}}), bi({{0}, {0}, {1}})), fp({q(0), q(0), q(1)}));
  std::mt19937_64 rng(11);
  for (int round = 0; round < 60; ++round) {
    auto random_bi = [&](int deg) {
      std::vector<std::vector<Fraction>> rows(static_cast<std::size_t>(deg + 1));
      for (auto& row : rows)
        for (int j = 0; j < 3; ++j) row.push_back(q(static_cast<std::int64_t>(rng() % 7) - 3));
      // Sparse rows make the sequence skip degrees.
      for (int i = 1; i < deg; ++i)
        if (rng() % 2) rows[static_cast<std::size_t>(i)].clear();
      rows.back() = {q(1 + static_cast<std::int64_t>(rng() % 3))};
      return bivariate_from_vecs(rows);
    };
    BiPoly a = random_bi(1 + static_cast<int>(rng() % 5)), b = random_bi(1 + static_cast<int>(rng() % 5));
    FracPoly r = *resultant(a, b);
    for (std::int64_t y = -2; y <= 2; ++y)
      EXPECT_EQ(r.eval(q(y)), sylvester(at_y(a, q(y)), at_y(b, q(y)))) << a.degree() << " " << b.degree();
  }
}

// p(x)·d^deg against the exact rational value, for dense polynomials and sparse ones of high degree
// (which take powers instead of Horner's rule), at integer, dyadic and other points.
TEST(RootCounting, ScaledValues) {
  std::mt19937_64 rng(9);
  auto small = [&] { return static_cast<std::int64_t>(rng() % 2001) - 1000; };
  for (int round = 0; round < 200; ++round) {
    const std::size_t deg = round % 2 ? 1 + rng() % 8 : 20 + rng() % 100;
    std::vector<Int> c(deg + 1);
    for (std::size_t i = 0; i <= deg; ++i)
      if (round % 2 || rng() % 10 == 0) c[i] = Int(small());
    c[deg] = Int(small() | 1);
    IntPoly p(c);
    const std::int64_t dens[] = {1, 1024, 999, 3};
    Fraction x = q(small(), dens[round % 4]);
    FracPoly exact;
    for (const auto& v : p.coeffs) exact.coeffs.emplace_back(v);
    Fraction want = exact.eval(x) * *Fraction(x.den()).pow(Int(static_cast<std::int64_t>(p.degree())));
    ASSERT_TRUE(want.is_integer());
    EXPECT_EQ(scaled_value(p, x), want.num()) << p << " at " << x;
    EXPECT_EQ(sign_at(p, x), want.sign());
  }
}

TEST(RootCounting, SturmCounts) {
  FracPoly p = fp({q(-2), q(0), q(1)});
  EXPECT_EQ(*count_real_roots(p, q(1), q(2)), 1u);
  EXPECT_EQ(*count_real_roots(p, q(-2), q(2)), 2u);
  EXPECT_EQ(*count_real_roots(p, q(0), q(1)), 0u);
  FracPoly s = fp({q(-1), q(0), q(1)});
  EXPECT_EQ(*count_real_roots(s, q(1), q(2)), 1u);
  EXPECT_EQ(*count_real_roots(s, q(0), q(1)), 1u);
  EXPECT_EQ(*count_real_roots(s, q(-1), q(1)), 2u);
  EXPECT_EQ(*count_real_roots(fp({q(3)}), q(-5), q(5)), 0u);
  EXPECT_EQ(*count_real_roots(FracPoly(), q(-5), q(5)), 1u);
  EXPECT_EQ(*count_real_roots(s, q(2), q(1)), 0u);

  // Repeated roots count once; narrow rational intervals separate close roots.
  FracPoly rep = FracPoly::mul(FracPoly::mul(fp({q(-1), q(1)}), fp({q(-1), q(1)})), fp({q(-101, 100), q(1)}));
  EXPECT_EQ(*count_real_roots(rep, q(0), q(2)), 2u);
  EXPECT_EQ(*count_real_roots(rep, q(1001, 1000), q(1011, 1000)), 1u);
  EXPECT_EQ(*sturm_variations(FracPoly(), q(0)), 0u);
  // A multiple root at either end of the interval is one root, not a wrapped count.
  FracPoly cube = *fp({q(-1), q(1)}).pow(Int(3));
  EXPECT_EQ(*count_real_roots(cube, q(1), q(2)), 1u);
  EXPECT_EQ(*count_real_roots(cube, q(0), q(1)), 1u);
  EXPECT_EQ(*count_real_roots(FracPoly::mul(cube, fp({q(-2), q(1)})), q(1), q(2)), 2u);
  EXPECT_EQ(*count_real_roots(*fp({q(0), q(1)}).pow(Int(2)), q(0), q(0)), 1u);

  // The Wilkinson-like product (x−1)…(x−10) with every root isolated by half-integers.
  FracPoly w = fp({q(1)});
  for (int k = 1; k <= 10; ++k) w = FracPoly::mul(w, fp({q(-k), q(1)}));
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(*count_real_roots(w, q(2 * k - 1, 2), q(2 * k + 1, 2)), 1u);
  EXPECT_EQ(*count_real_roots(w, q(0), q(11)), 10u);
  // x^4 + 1 has no real roots.
  EXPECT_EQ(*count_real_roots(fp({q(1), q(0), q(0), q(0), q(1)}), q(-100), q(100)), 0u);
}

}  // namespace
}  // namespace gy
