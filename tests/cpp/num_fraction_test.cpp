#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

#include "num/fraction.hpp"

namespace gy {
namespace {

Fraction frac(const Int& n, const Int& d) { return *Fraction::make(n, d); }
Int two_pow(std::uint64_t k) { return Int(1).shl(k); }

bool lowest_terms(const Fraction& f) { return f.den().sign() > 0 && Int::gcd(f.num(), f.den()).is_one(); }

class Gen {
 public:
  explicit Gen(unsigned seed) : rng_(seed) {}
  Int integer() {
    switch (rng_() % 8) {
      case 0: return Int(0);
      case 1: return Int(INT64_MAX) - Int(static_cast<std::int64_t>(rng_() % 2));
      case 2: return Int(INT64_MIN) + Int(static_cast<std::int64_t>(rng_() % 2));
      case 3: return Int::pow(Int(3), 1 + rng_() % 120) * Int(rng_() % 2 ? 1 : -1);
      default: return Int(static_cast<std::int64_t>(rng_() % 2001) - 1000);
    }
  }
  Fraction next() {
    Int d = integer();
    if (d.is_zero()) d = Int(1);
    return frac(integer(), d);
  }

 private:
  std::mt19937_64 rng_;
};

TEST(Fraction, ConstructionReducesAndRejectsZero) {
  EXPECT_EQ(frac(6, -4).to_string(), "-3/2");
  EXPECT_EQ(frac(0, -5).den(), Int(1));
  EXPECT_EQ(Fraction::make(1, 0).error(), Error::range("Division by zero"));
  Fraction m = frac(INT64_MIN, -1);
  EXPECT_EQ(m.num(), -Int(INT64_MIN));
  EXPECT_EQ(frac(INT64_MIN, INT64_MIN), fraction(1, 1));
  EXPECT_EQ(fraction(-1, 2).to_string(), "-1/2");
  EXPECT_EQ(fraction(3, 1).to_string(), "3");
  EXPECT_EQ(fraction(0, 7).to_string(), "0");
  try {
    fraction(1, 0);
    FAIL();
  } catch (const Panic& p) {
    EXPECT_STREQ(p.what(), "fraction(): zero denominator: Range(\"Division by zero\")");
  }
}

TEST(Fraction, FieldIdentitiesOverRandomValues) {
  Gen g(7);
  int rounds = std::getenv("GYRELLE_SANITIZED") ? 1500 : 15000;
  for (int i = 0; i < rounds; ++i) {
    Fraction a = g.next(), b = g.next(), c = g.next();
    Fraction s = a + b;
    ASSERT_TRUE(lowest_terms(s)) << a << " + " << b;
    ASSERT_TRUE(lowest_terms(a - c)) << a << " - " << c;
    ASSERT_EQ(s - b, a);
    ASSERT_EQ((a + b) + c, a + (b + c));
    ASSERT_EQ(a * (b + c), a * b + a * c);
    Fraction p = a * b;
    ASSERT_TRUE(lowest_terms(p)) << a << " * " << b;
    // An unreduced sum equals, compares and reduces to the reduced one.
    Fraction u = a;
    u.add(b, false);
    ASSERT_EQ(u, s);
    ASSERT_EQ(u <=> c, s <=> c);
    u.reduce();
    ASSERT_EQ(u.num(), s.num());
    ASSERT_EQ(u.den(), s.den());
    if (!b.is_zero()) {
      Fraction q = *a.div(b);
      ASSERT_TRUE(lowest_terms(q));
      ASSERT_EQ(q * b, a);
    }
    // Order agrees with the sign of the difference.
    ASSERT_EQ(a <=> b, (a - b).sign() <=> 0);
    ASSERT_EQ(a - a, Fraction());
    ASSERT_EQ((-a).abs(), a.abs());
  }
}

TEST(Fraction, SumsOfLargeDenominatorsSharingFactorsMatchGmp) {
  // Denominators built from one pool of prime powers share large factors, or none, or divide each
  // other, or are 1; sums, differences and quotients must come out in lowest terms exactly as GMP's
  // rationals do.
  std::mt19937_64 rng(13);
  const Int primes[] = {Int(2), Int(3), Int(5), Int(7), Int(11), Int(1000003)};
  auto draw = [&] {
    Int d(1);
    for (const Int& p : primes) d *= Int::pow(p, static_cast<std::uint32_t>(rng() % 14));
    Int n = Int::pow(Int(3), static_cast<std::uint32_t>(rng() % 90)) * Int(static_cast<std::int64_t>(rng() % 20001) - 10000);
    return frac(n, d);
  };
  // GMP's rational sum, difference or quotient, as (numerator, denominator).
  auto reference = [](const Fraction& a, const Fraction& b, auto op) {
    mpq_t x, y, r;
    mpq_inits(x, y, r, nullptr);
    mpz_set(mpq_numref(x), a.num().view().get());
    mpz_set(mpq_denref(x), a.den().view().get());
    mpz_set(mpq_numref(y), b.num().view().get());
    mpz_set(mpq_denref(y), b.den().view().get());
    op(r, x, y);
    std::pair out{Int::from_mpz(mpq_numref(r)), Int::from_mpz(mpq_denref(r))};
    mpq_clears(x, y, r, nullptr);
    return out;
  };
  for (int i = 0; i < 3000; ++i) {
    Fraction a = draw(), b = i % 7 == 0 ? draw() * frac(Int(1), Int(primes[i % 6])) : draw();
    if (i % 5 == 1) b = Fraction(b.num());
    if (i % 5 == 2) a = Fraction(a.num() * Int::pow(Int(7), 40));
    for (bool subtract : {false, true}) {
      auto [n, d] = reference(a, b, subtract ? mpq_sub : mpq_add);
      Fraction s = subtract ? a - b : a + b;
      Fraction t = a;
      if (subtract)
        t -= b;
      else
        t += b;
      ASSERT_EQ(s.num(), n) << a << (subtract ? " - " : " + ") << b;
      ASSERT_EQ(s.den(), d) << a << (subtract ? " - " : " + ") << b;
      ASSERT_EQ(t.num(), n);
      ASSERT_EQ(t.den(), d);
    }
    if (b.is_zero()) continue;
    auto [n, d] = reference(a, b, mpq_div);
    const Fraction q = *a.div(b);
    ASSERT_EQ(q.num(), n) << a << " / " << b;
    ASSERT_EQ(q.den(), d) << a << " / " << b;
  }
}

// A sum with an integer and a quotient by a huge value whose lowest terms need no gcd of the huge
// parts take a pass over them, not gcds: -3/(-33313 + 2.1^9589049) took seconds when it did.
TEST(Fraction, ArithmeticWithCoprimePartsSkipsLargeGcds) {
  const auto start = std::chrono::steady_clock::now();
  const Fraction big = *fraction(21, 10).pow(Int(9589049));
  const Fraction sum = fraction(-33313, 1) + big;
  const Fraction q = *fraction(-3, 1).div(sum);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(sum.den(), big.den());
  EXPECT_EQ(q.num(), Int(-3) * big.den());
  EXPECT_EQ(q.den(), sum.num());
  EXPECT_LT(took.count(), std::getenv("GYRELLE_SANITIZED") ? 40.0 : 2.0);
}

TEST(Fraction, DivisionAndPowers) {
  Fraction x = fraction(5, 3);
  Status st = x.div_assign(Fraction());
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error(), Error::range("Division by zero"));
  EXPECT_EQ(x, fraction(5, 3));
  EXPECT_EQ(*x.div(fraction(1, 1)), x);
  EXPECT_EQ(*x.div(fraction(-2, 7)), fraction(-35, 6));
  EXPECT_EQ(*frac(Int::pow(Int(2), 80), 3).div(frac(-Int::pow(Int(2), 79), 9)), fraction(-6, 1));

  EXPECT_EQ(fraction(2, 3).pow(Int(-1)).error(), Error::range(""));
  EXPECT_EQ(*Fraction().pow(Int(0)), fraction(1, 1));
  EXPECT_EQ(*fraction(-2, 3).pow(Int(3)), fraction(-8, 27));
  EXPECT_EQ(*fraction(-1, 1).pow(Int::pow(Int(10), 30) + Int(1)), fraction(-1, 1));
  EXPECT_EQ(*Fraction().pow(Int::pow(Int(10), 30)), Fraction());
  EXPECT_EQ(*fraction(3, 2).pow(Int(100)), frac(Int::pow(Int(3), 100), Int::pow(Int(2), 100)));
  EXPECT_EQ(fraction(1, 2).pow(Int::pow(Int(2), 40)).error(), Error::exponent_too_large());
  EXPECT_EQ(fraction(3, 1).pow(Int::pow(Int(10), 30)).error(), Error::exponent_too_large());
}

TEST(Fraction, FloatConversionRoundsCorrectly) {
  EXPECT_EQ(fraction(1, 10).to_f64(), 0.1);
  EXPECT_EQ(fraction(1, 3).to_f64(), 1.0 / 3.0);
  EXPECT_EQ(fraction(-2, 3).to_f64(), -2.0 / 3.0);
  EXPECT_EQ(Fraction().to_f64(), 0.0);
  EXPECT_FALSE(std::signbit(Fraction().to_f64()));
  // Ties go to even.
  EXPECT_EQ(Fraction(two_pow(53) + Int(1)).to_f64(), 9007199254740992.0);
  EXPECT_EQ(Fraction(two_pow(53) + Int(3)).to_f64(), 9007199254740996.0);
  EXPECT_EQ(Fraction(two_pow(1100)).to_f64(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(Fraction(-two_pow(1100)).to_f64(), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(frac(1, two_pow(1100)).to_f64(), 0.0);
  EXPECT_TRUE(std::signbit(frac(-1, two_pow(1100)).to_f64()));
  // The top of the range: the largest double, and the first value that rounds up to infinity.
  Int top = two_pow(1024) - two_pow(971);
  EXPECT_EQ(Fraction(top).to_f64(), std::numeric_limits<double>::max());
  EXPECT_EQ(Fraction(top + two_pow(969)).to_f64(), std::numeric_limits<double>::max());
  EXPECT_EQ(Fraction(top + two_pow(970)).to_f64(), std::numeric_limits<double>::infinity());
  // Subnormal results are rounded once, to the nearest subnormal.
  double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_EQ(frac(1, two_pow(1074)).to_f64(), tiny);
  EXPECT_EQ(frac(1, two_pow(1030)).to_f64(), std::ldexp(1.0, -1030));
  EXPECT_EQ(frac(1, two_pow(1075)).to_f64(), 0.0);        // a tie, to even
  EXPECT_EQ(frac(3, two_pow(1075)).to_f64(), 2 * tiny);   // a tie, to even
  EXPECT_EQ(frac(two_pow(200) + Int(1), two_pow(1275)).to_f64(), tiny);
  EXPECT_EQ(frac(1, two_pow(1022)).to_f64(), std::numeric_limits<double>::min());
  EXPECT_EQ(frac(1, 3 * two_pow(1030)).to_f64(), std::ldexp(1.0, -1030) / 3);
  // Machine division of two exact doubles is the correctly rounded reference.
  std::mt19937_64 rng(3);
  for (int i = 0; i < 20000; ++i) {
    std::int64_t n = static_cast<std::int64_t>(rng() >> 11) - (std::int64_t{1} << 52);
    std::int64_t d = static_cast<std::int64_t>(rng() >> (11 + rng() % 50)) + 1;
    ASSERT_EQ(fraction(n, d).to_f64(), static_cast<double>(n) / static_cast<double>(d)) << n << "/" << d;
  }
  // Conversion of a machine integer rounds once; so does ldexp of an exact double, at every scale.
  for (int i = 0; i < 20000; ++i) {
    auto n = static_cast<std::int64_t>(rng());
    ASSERT_EQ(Fraction(Int(n)).to_f64(), static_cast<double>(n)) << n;
    std::int64_t m = n >> 10;
    int j = static_cast<int>(rng() % 2400) - 1250;
    Fraction f = j >= 0 ? Fraction(Int(m).shl(j)) : frac(m, two_pow(-j));
    ASSERT_EQ(f.to_f64(), std::ldexp(static_cast<double>(m), j)) << m << " * 2^" << j;
  }
}

// Long parts are rounded from their leading bits unless the value lies too near a rounding boundary:
// the same value with short parts (the exact road) and with both parts long agree, ties and values a
// hair from them included.
TEST(Fraction, FloatConversionOfLongPartsMatchesTheExactRoad) {
  std::mt19937_64 rng(11);
  auto random_int = [&](std::uint64_t bits) {
    Int x(1);
    while (x.bit_length() < bits) x = x.shl(32) + Int(static_cast<std::int64_t>(rng() >> 32));
    return x;
  };
  for (int i = 0; i < 3000; ++i) {
    const std::uint64_t db = 64 + rng() % 400;
    const Int b = random_int(db);
    const Int scale = random_int(520 + rng() % 600) + Int(1);
    Int a;
    if (i % 3 == 0) {
      // (2m + 1 + σ/b)/2^s: a tie between two doubles, or a hair above or below it.
      const Int m = Int(static_cast<std::int64_t>((rng() >> 11) | (std::uint64_t{1} << 52)));
      const std::uint64_t s = rng() % 1100;
      const Fraction x = Fraction::make_unreduced(
          (m.shl(1) + Int(1)) * b + Int(static_cast<std::int64_t>(rng() % 3) - 1), b.shl(s));
      const Fraction y = Fraction::make_unreduced(x.num() * scale, x.den() * scale);
      ASSERT_EQ(y.to_f64(), x.to_f64()) << x;
      continue;
    }
    a = random_int(std::max<std::uint64_t>(1, db + rng() % 2200 - std::min<std::uint64_t>(db, 1100))) * Int(rng() % 2 ? 1 : -1);
    const Fraction x = Fraction::make_unreduced(a, b);
    const Fraction y = Fraction::make_unreduced(a * scale, b * scale);
    const double want = x.to_f64();
    ASSERT_EQ(y.to_f64(), want) << x;
    ASSERT_EQ(std::signbit(y.to_f64()), std::signbit(want)) << x;
  }
}

TEST(Fraction, DyadicBetween) {
  auto db = [](Fraction a, Fraction b) { return dyadic_between(a, b).to_string(); };
  EXPECT_EQ(db(fraction(0, 1), fraction(1, 1)), "1/2");
  EXPECT_EQ(db(fraction(1, 1), fraction(0, 1)), "1/2");
  EXPECT_EQ(db(fraction(0, 1), fraction(3, 1)), "2");
  EXPECT_EQ(db(fraction(-3, 1), fraction(0, 1)), "-2");
  EXPECT_EQ(db(fraction(1, 3), fraction(1, 3)), "1/3");
  EXPECT_EQ(db(fraction(1, 3), fraction(1, 2)), "3/8");
  Gen g(11);
  for (int i = 0; i < 3000; ++i) {
    Fraction a = g.next(), b = g.next();
    if (a == b) continue;
    Fraction m = dyadic_between(a, b);
    Fraction lo = a < b ? a : b, hi = a < b ? b : a;
    ASSERT_TRUE(lo < m && m < hi) << a << " " << b << " -> " << m;
    // The denominator is a power of two no finer than the gap needs.
    const Int& d = m.den();
    ASSERT_EQ(Int::gcd(d, two_pow(d.bit_length())), d);
    ASSERT_TRUE(d.is_one() || frac(2, d) >= hi - lo);
  }
  // A gap of 2^-500 around a large value.
  Fraction a = frac(Int::pow(Int(3), 300), two_pow(500)), b = a + frac(1, two_pow(500));
  Fraction m = dyadic_between(a, b);
  EXPECT_TRUE(a < m && m < b);
}

TEST(Fraction, HashFollowsValue) {
  struct H {
    std::vector<unsigned char> b;
    void write(const void* p, std::size_t n) {
      auto* c = static_cast<const unsigned char*>(p);
      b.insert(b.end(), c, c + n);
    }
  };
  H x, y;
  fraction(2, 4).hash(x);
  (frac(Int::pow(Int(2), 70), Int::pow(Int(2), 71))).hash(y);
  EXPECT_EQ(x.b, y.b);
}

}  // namespace
}  // namespace gy
