#include "exact.hpp"
#include "num/factoring.hpp"
#include "num/interrupt.hpp"

#include <gmp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <tuple>

namespace gy {
namespace {

Fraction q(std::int64_t n, std::int64_t d = 1) { return fraction(n, d); }
FracPoly fp(std::initializer_list<Fraction> c) { return FracPoly(std::vector<Fraction>(c)); }

FieldRef field(FracPoly m, Fraction lo, Fraction hi) { return expect(NumberField::make(std::move(m), lo, hi), "test field"); }
// sqrt(2) as the generator of x² − 2 in [0, 3].
FieldRef sqrt2_field() { return field(fp({q(-2), q(0), q(1)}), q(0), q(3)); }
// The generator of x^n − c in [1, 2].
FieldRef pure_field(std::int64_t c, std::size_t n) {
  std::vector<Fraction> m(n + 1);
  m[0] = q(-c);
  m[n] = q(1);
  return field(FracPoly(m), q(1), q(2));
}
AlgebraicNumber gen(const FieldRef& f) { return expect(AlgebraicNumber::generator(f), "generator"); }
AlgebraicNumber num(const FieldRef& f, std::initializer_list<Fraction> c) {
  return expect(AlgebraicNumber::from_polynomial(f, std::vector<Fraction>(c)), "number");
}
AlgebraicNumber rat(Fraction c) { return AlgebraicNumber::rational(QQ(), std::move(c)); }
AlgebraicNumber ok(Result<AlgebraicNumber> r) { return expect(std::move(r), "arithmetic"); }
AlgebraicNumber root(const AlgebraicNumber& v, std::int64_t k) { return expect(v.root(Int(k)), "root"); }
AlgebraicNumber sqrt_of(std::int64_t n) { return root(AlgebraicNumber::constant(QQ(), n), 2); }
bool squares_to(const AlgebraicNumber& x, std::int64_t n) { return ok(x.mul(x)).eq(AlgebraicNumber::constant(QQ(), n)); }

std::vector<AlgebraicNumber> joined(std::vector<AlgebraicNumber> v) {
  expect(common_field(v), "common field");
  for (const auto& x : v) EXPECT_EQ(x.field(), v[0].field());
  return v;
}

void expect_error(const auto& r, ErrorKind kind, const std::string& message) {
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, kind);
  EXPECT_EQ(r.error().message, message);
}

// floor(sqrt(n) · 2^bits) / 2^bits and the next step up: an independent enclosure of sqrt(n).
std::pair<Fraction, Fraction> sqrt_bounds(unsigned n, unsigned bits) {
  Mpz x(n);
  mpz_mul_2exp(x.get(), x.get(), 2 * bits);
  mpz_sqrt(x.get(), x.get());
  Int lo = x.to_int();
  Int den = Int(1).shl(bits);
  return {*Fraction::make(lo, den), *Fraction::make(lo + Int(1), den)};
}

TEST(NumberField, ConstructionTextAndRefinement) {
  FieldRef qq = QQ();
  EXPECT_EQ(qq, QQ());
  ASSERT_TRUE(qq->refine());
  EXPECT_EQ(qq->to_string(), "Q(root of x + -1 in [1,1])");
  EXPECT_TRUE(gen(qq).eq(AlgebraicNumber::one(qq)));  // the generator of the rationals is 1

  FieldRef f = sqrt2_field();
  EXPECT_EQ(gen(f).to_string(), "x in Q(root of x² + -2 in [0,3])");
  ASSERT_TRUE(f->refine());  // split point 2
  EXPECT_EQ(f->to_string(), "Q(root of x² + -2 in [0,2])");

  FracPoly m = fp({q(-2), q(0), q(1)});
  for (auto [lo, hi] : {std::pair(q(-3), q(3)), std::pair(q(2), q(3)), std::pair(q(3), q(0))})
    expect_error(NumberField::make(m, lo, hi), ErrorKind::Other, "Interval must contain exactly one root");
  EXPECT_EQ(NumberField::make(fp({q(5)}), q(0), q(1)).error().kind, ErrorKind::Range);
  EXPECT_EQ(NumberField::make(FracPoly(), q(0), q(1)).error().kind, ErrorKind::Range);
  std::vector<Fraction> big(kMaxFieldDegree + 2);
  big[0] = q(-2);
  big.back() = q(1);
  EXPECT_EQ(NumberField::make(FracPoly(big), q(0), q(2)).error().kind, ErrorKind::Range);

  // An end that is the root collapses the interval onto it; so does a split point that is.
  for (auto [lo, hi] : {std::pair(q(2), q(7)), std::pair(q(-5), q(2)), std::pair(q(0), q(4))}) {
    FieldRef a = field(fp({q(-2), q(1)}), lo, hi);
    ASSERT_TRUE(a->refine());
    EXPECT_EQ(field_interval_read(*a), std::pair(q(2), q(2)));
    ASSERT_TRUE(a->refine());
    EXPECT_EQ(field_interval_read(*a), std::pair(q(2), q(2)));
  }
  // Every step keeps sqrt(3) inside and narrows.
  FieldRef d = field(fp({q(-3), q(0), q(1)}), q(-1), q(100));
  Fraction width = q(101);
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(d->refine());
    auto [lo, hi] = field_interval_read(*d);
    EXPECT_TRUE((lo < q(0) || lo * lo < q(3)) && hi * hi > q(3));
    EXPECT_LT(hi - lo, width);
    width = hi - lo;
  }
}

TEST(NumberField, Equality) {
  FieldRef a = sqrt2_field();
  FracPoly m = fp({q(-2), q(0), q(1)});
  EXPECT_TRUE(*NumberField::eq(a, a));
  EXPECT_TRUE(*NumberField::eq(a, field(m, q(1), q(2))));
  EXPECT_FALSE(*NumberField::eq(a, field(m, q(-2), q(-1))));
  EXPECT_FALSE(*NumberField::eq(field(m, q(-2), q(0)), field(m, q(0), q(2))));  // overlap holds no root
  EXPECT_FALSE(*NumberField::eq(a, field(fp({q(-3), q(0), q(1)}), q(0), q(3))));
  EXPECT_FALSE(*NumberField::eq(a, QQ()));
  // Intervals that touch only at a shared end that is the root.
  EXPECT_TRUE(*NumberField::eq(field(fp({q(-2), q(1)}), q(0), q(2)), field(fp({q(-2), q(1)}), q(2), q(5))));
}

// Random elements of the tribonacci field x³ − x² − x − 1 (alpha ≈ 1.839) and of a field whose
// minimal polynomial x³ − 2/3·x + 1/6 has fractional coefficients.
// The power table x^i mod m, built over the integers, against the remainders over the rationals:
// leading coefficients sharing factors with the rest (so that rows need fewer of them), sparse and
// dense polynomials, and products of the generator's powers through it.
TEST(NumberField, PowerTableMatchesRemainders) {
  std::mt19937_64 rng(11);
  std::vector<FracPoly> polys = {fp({q(-3), q(0), q(0), q(0), q(0), q(0), q(0), q(1000)}),
                                 fp({q(7, 4), q(0), q(5, 6), q(0), q(1, 9)}),
                                 fp({q(-1), q(-1), q(-1), q(1)}), fp({q(5), q(-12)})};
  for (int n : {6, 9, 13, 30}) {
    std::vector<Fraction> c(static_cast<std::size_t>(n) + 1);
    for (auto& x : c) x = q(static_cast<std::int64_t>(rng() % 4001) * 6 - 12000, 1 + static_cast<std::int64_t>(rng() % 3));
    c.back() = q(720 * (n % 2 ? -1 : 1), n % 3 ? 1 : 7);
    polys.emplace_back(std::move(c));
  }
  for (const FracPoly& m : polys) {
    FieldRef f = expect(NumberField::make_isolated(m, q(0), q(1)), "field");
    const std::vector<FracPoly>& table = f->power_table();
    const std::size_t d = static_cast<std::size_t>(m.degree());
    ASSERT_EQ(table.size(), 2 * d + 1);
    FracPoly xi = fp({q(1)});
    for (std::size_t i = 0; i <= 2 * d; ++i) {
      EXPECT_EQ(table[i], expect(FracPoly::rem(xi, m), "remainder")) << m.to_string() << " at " << i;
      xi = FracPoly::mul(xi, fp({q(0), q(1)}));
    }
    const AlgebraicNumber x = gen(f);
    AlgebraicNumber p = x;
    for (std::size_t i = 2; i < 2 * d; ++i) {
      p = ok(p.mul(x));
      if (i >= d / 2) {
        EXPECT_EQ(ok(p.mul(p)).value(), expect(FracPoly::rem(FracPoly::mul(table[i], table[i]), m), "remainder"));
      }
    }
  }
}

TEST(AlgebraicNumber, FieldIdentities) {
  FieldRef f = field(fp({q(-1), q(-1), q(-1), q(1)}), q(1), q(2));
  FieldRef g = field(fp({q(1, 6), q(-2, 3), q(0), q(1)}), q(1, 6), q(1, 3));
  std::mt19937_64 rng(11);
  for (const FieldRef& k : {f, g}) {
    auto draw = [&] {
      std::vector<Fraction> c;
      for (int i = 0; i < 3; ++i) c.push_back(q(static_cast<std::int64_t>(rng() % 41) - 20, 1 + static_cast<std::int64_t>(rng() % 9)));
      return expect(AlgebraicNumber::from_polynomial(k, c), "number");
    };
    AlgebraicNumber one = AlgebraicNumber::one(k);
    for (int round = 0; round < 60; ++round) {
      AlgebraicNumber x = draw(), y = draw(), z = draw();
      // The product agrees with the remainder of the plain product.
      EXPECT_EQ(ok(x.mul(y)).value(), *FracPoly::rem(FracPoly::mul(x.value(), y.value()), k->minimal_polynomial()));
      if (!x.is_zero()) {
        EXPECT_TRUE(ok(ok(x.inverse()).mul(x)).eq(one));
        EXPECT_TRUE(ok(ok(y.div(x)).mul(x)).eq(y));
      }
      EXPECT_TRUE(ok(x.mul(ok(y.add(z)))).eq(ok(ok(x.mul(y)).add(ok(x.mul(z))))));
      EXPECT_TRUE(ok(x.sub(x)).is_zero());
      // Floats follow the arithmetic; intervals enclose the float.
      double fx = *x.to_f64(), fy = *y.to_f64();
      EXPECT_NEAR(*ok(x.mul(y)).to_f64(), fx * fy, 1e-9 * (1 + std::fabs(fx * fy)));
      auto [lo, hi] = *x.interval();
      EXPECT_TRUE(lo.to_f64() <= fx && fx <= hi.to_f64());
    }
  }
  AlgebraicNumber a = gen(f), one = AlgebraicNumber::one(f);
  // x³ = x² + x + 1 through the table; the generator's inverse; powers.
  EXPECT_EQ(num(f, {q(0), q(0), q(0), q(1)}).value(), fp({q(1), q(1), q(1)}));
  EXPECT_TRUE(ok(ok(a.inverse()).mul(a)).eq(one));
  EXPECT_TRUE(ok(AlgebraicNumber::pow(f, a, Int(5))).eq(ok(ok(ok(ok(a.mul(a)).mul(a)).mul(a)).mul(a))));
  EXPECT_TRUE(ok(AlgebraicNumber::pow(f, a, Int(0))).eq(one));
  expect_error(AlgebraicNumber::pow(f, a, Int(-1)), ErrorKind::Range, "");
  EXPECT_EQ(AlgebraicNumber::pow(f, a, Int(1).shl(40)).error().message, "exponent too large");
  EXPECT_TRUE(ok(AlgebraicNumber::pow(f, rat(q(-1, 2)), Int(3))).eq(rat(q(-1, 8))));
  // Horner evaluation over the field: (x + 1)(x − 1) at the generator.
  FieldPoly p = *field_polynomial_from_vecs(f, {{q(-1)}, {}, {q(1)}});
  EXPECT_TRUE(ok(eval_algebraic(f, p, a)).eq(ok(ok(a.mul(a)).sub(one))));
  EXPECT_TRUE(ok(eval_algebraic(f, FieldPoly(), a)).is_zero());
}

// Fields of polynomials in x^s, and numbers x^i·A(x^s): their products (shortened by s) agree with
// the remainders of the plain products, over every route of reduction and both orders of i + j.
TEST(AlgebraicNumber, ProductsInFieldsOfPowers) {
  std::mt19937_64 rng(5);
  auto big = [&](std::size_t limbs) {
    Mpz x;
    mpz_set_ui(x.get(), 0);
    for (std::size_t i = 0; i < limbs; ++i) {
      mpz_mul_2exp(x.get(), x.get(), 64);
      mpz_add_ui(x.get(), x.get(), rng());
    }
    if (rng() % 2) mpz_neg(x.get(), x.get());
    return x.to_int();
  };
  // (s, degree of m(y), monic, limbs of m's coefficients)
  for (auto [s, n, monic, mlimbs] : {std::tuple{3, 10, true, 1}, std::tuple{2, 5, true, 40}, std::tuple{5, 4, false, 2},
                                     std::tuple{2, 14, false, 1}}) {
    std::vector<Fraction> c(static_cast<std::size_t>(s * n) + 1);
    for (int k = 0; k < n; ++k) c[static_cast<std::size_t>(s * k)] = Fraction(big(static_cast<std::size_t>(mlimbs)));
    c.back() = monic ? q(1) : q(7, 3);
    const FracPoly m{std::move(c)};
    FieldRef f = expect(NumberField::make_isolated(m, q(0), q(1)), "field");
    auto draw = [&](std::size_t i, std::size_t limbs) {
      std::vector<Fraction> v(static_cast<std::size_t>(s * n));
      for (std::size_t k = i; k < v.size(); k += static_cast<std::size_t>(s))
        if (rng() % 4) v[k] = expect(Fraction::make(big(limbs), big(1 + limbs / 2) + Int(1)), "fraction");
      return expect(AlgebraicNumber::from_polynomial(f, v), "number");
    };
    for (std::size_t limbs : {1, 60}) {
      for (std::size_t i = 0; i < static_cast<std::size_t>(s); ++i) {
        const AlgebraicNumber x = draw(i, limbs), y = draw(static_cast<std::size_t>(s) - 1 - i + (i % 2), limbs);
        EXPECT_EQ(ok(x.mul(y)).value(), expect(FracPoly::rem(FracPoly::mul(x.value(), y.value()), m), "remainder"))
            << s << " " << n << " " << limbs << " " << i;
        EXPECT_EQ(ok(x.mul(x)).value(), expect(FracPoly::rem(FracPoly::mul(x.value(), x.value()), m), "remainder"));
      }
    }
  }
}

TEST(AlgebraicNumber, FieldRuleAndDivisionByZero) {
  FieldRef a = sqrt2_field();
  FieldRef b = field(fp({q(-3), q(0), q(1)}), q(0), q(3));
  expect_error(gen(a).add(gen(b)), ErrorKind::Range,
               "AlgebraicNumbers must have same field (" + a->to_string() + " != " + b->to_string() + ")");
  EXPECT_FALSE(gen(a).eq(gen(b)));
  // A rational takes the other field, in either order.
  EXPECT_EQ(ok(rat(q(1, 2)).add(gen(a))).field(), a);
  EXPECT_EQ(ok(gen(a).add(rat(q(1, 2)))).field(), a);
  EXPECT_TRUE(rat(q(2)).eq(AlgebraicNumber::constant(b, 2)));
  // A copy in a separately built equal field.
  FieldRef a2 = field(fp({q(-2), q(0), q(1)}), q(1), q(2));
  EXPECT_TRUE(num(a, {q(1), q(5)}).eq(num(a2, {q(1), q(5)})));
  EXPECT_FALSE(num(a, {q(1), q(5)}).eq(num(a2, {q(1), q(4)})));

  expect_error(AlgebraicNumber::zero(a).inverse(), ErrorKind::Range, "Division by zero: 0 in " + a->to_string());
  expect_error(gen(a).div(AlgebraicNumber::constant(QQ(), 0)), ErrorKind::Range,
               "Division by zero: 0 in " + QQ()->to_string());
  EXPECT_TRUE(ok(AlgebraicNumber::constant(a, 4).inverse()).eq(rat(q(1, 4))));
}

TEST(AlgebraicNumber, SignsNearZero) {
  // sqrt(2) − p/q has the sign of 2q² − p²; the convergents come within 1/(2√2·q²).
  AlgebraicNumber s = gen(sqrt2_field());
  for (std::int64_t p = 1, d = 1; p < 3'000'000'000LL; std::tie(p, d) = std::pair(p + 2 * d, p + d)) {
    int expected = (Int(2) * Int(d) * Int(d) - Int(p) * Int(p)).sign();
    EXPECT_EQ(*ok(s.sub(rat(q(p, d)))).sign(), expected) << p << "/" << d;
    EXPECT_EQ(*ok(rat(q(p, d)).sub(s)).sign(), -expected);
  }
  EXPECT_EQ(*ok(s.sub(rat(q(665857, 470832)))).sign(), -1);
  // The golden ratio against Fibonacci ratios b/a, 1/a² apart, far past 64 bits: phi − b/a has
  // the sign of −(b² − ab − a²).
  AlgebraicNumber phi = gen(field(fp({q(-1), q(-1), q(1)}), q(0), q(2)));
  Int a(1), b(1);
  for (int n = 2; n < 150; ++n) {
    Int c = a + b;
    a = b;
    b = c;
    int got = *ok(phi.sub(AlgebraicNumber::rational(QQ(), *Fraction::make(b, a)))).sign();
    EXPECT_EQ(got, -(b * b - a * b - a * a).sign()) << n;
  }
  // Zero is decided by the value and refines nothing.
  FieldRef h = sqrt2_field();
  AlgebraicNumber z = ok(ok(gen(h).mul(gen(h))).sub(rat(q(2))));
  EXPECT_EQ(*z.sign(), 0);
  EXPECT_EQ(*z.interval(), std::pair(q(0), q(0)));
  EXPECT_EQ(h->to_string(), "Q(root of x² + -2 in [0,3])");
  AlgebraicNumber neg = num(h, {q(1), q(-1)});  // 1 − sqrt(2)
  EXPECT_EQ(ok(neg.abs()).value(), fp({q(-1), q(1)}));
}

TEST(AlgebraicNumber, SignsAgainstTheNumbersOwnIntervalEnds) {
  // A number minus an end of its own enclosure lies within the enclosure's width of zero, where a
  // looser enclosure tried first must hand over rather than decide; large coefficients that cancel
  // to a small value make it so at every power of the generator.
  FieldRef f = pure_field(3, 30);
  std::mt19937_64 rng(9);
  for (int round = 0; round < 40; ++round) {
    std::vector<Fraction> c(30);
    for (auto& x : c) x = q(static_cast<std::int64_t>(rng() % 2000001) - 1000000, 1 + static_cast<std::int64_t>(rng() % 7));
    AlgebraicNumber x = expect(AlgebraicNumber::from_polynomial(f, c), "number");
    auto [lo, hi] = *x.interval();
    // The exact enclosure of x − lo starts at zero: deciding its sign takes a narrowing.
    const auto before = field_interval_read(*f);
    EXPECT_EQ(*ok(x.sub(rat(lo))).sign(), 1) << round;
    EXPECT_NE(field_interval_read(*f), before) << round;
    EXPECT_EQ(*ok(x.sub(rat(hi))).sign(), -1) << round;
    const double v = *x.to_f64();
    auto [lo2, hi2] = *x.interval();
    EXPECT_TRUE(lo2.to_f64() <= v && v <= hi2.to_f64());
  }
}

TEST(AlgebraicNumber, SignOfDifferenceMatchesTheDifferencesSign) {
  // Two copies of one field, one compared through sign_of_difference and one through sub and sign:
  // the answers, the errors and the narrowing of the two fields must agree step by step, for
  // numbers far apart, equal, rational, and apart by less than their enclosures' widths.
  FracPoly m = pure_field(3, 30)->minimal_polynomial();
  FieldRef f = field(m, q(1), q(2)), g = field(m, q(1), q(2));
  std::mt19937_64 rng(17);
  auto draw = [&](const FieldRef& k, std::uint64_t seed) {
    std::mt19937_64 r(seed);
    std::vector<Fraction> c(1 + r() % 30);
    for (auto& x : c) x = q(static_cast<std::int64_t>(r() % 200001) - 100000, 1 + static_cast<std::int64_t>(r() % 9));
    return expect(AlgebraicNumber::from_polynomial(k, c), "number");
  };
  for (int round = 0; round < 60; ++round) {
    const std::uint64_t sa = rng(), sb = round % 5 == 0 ? sa : rng();
    AlgebraicNumber a1 = draw(f, sa), b1 = draw(f, sb), a2 = draw(g, sa), b2 = draw(g, sb);
    if (round % 3 == 1) {
      // a − b = alpha − lo, lo the field's lower end: its exact enclosure starts at zero, so only a
      // narrowing decides it.
      const Fraction lo = field_interval_read(*f).first;
      AlgebraicNumber d = ok(gen(f).sub(rat(lo)));
      // Half the time scaled by a positive number of large coefficients, so that b's enclosure
      // is far wider than a's while b stays just below a.
      if (round % 2 == 0) {
        AlgebraicNumber w = draw(f, rng());
        d = ok(d.mul(ok(ok(w.mul(w)).add(rat(q(1))))));
      }
      b1 = ok(a1.sub(d));
      b2 = AlgebraicNumber::from_polynomial(g, b1.value().coeffs).value();
    }
    if (round % 7 == 3) {
      b1 = rat(q(static_cast<std::int64_t>(rng() % 2001) - 1000, 7));
      b2 = b1;
    }
    EXPECT_EQ(*a1.sign_of_difference(b1), *ok(a2.sub(b2)).sign()) << round;
    EXPECT_EQ(field_interval_read(*f), field_interval_read(*g)) << round;
  }
  EXPECT_NE(field_interval_read(*f), std::pair(q(1), q(2)));  // the comparisons did narrow
  expect_error(gen(f).sign_of_difference(gen(sqrt2_field())), ErrorKind::Range,
               gen(f).sub(gen(sqrt2_field())).error().message);
}

TEST(AlgebraicNumber, FloatsAreCorrectlyRounded) {
  EXPECT_EQ(*rat(q(1, 3)).to_f64(), 1.0 / 3.0);
  // A rational number of an irrational field: exact, and nothing refined.
  FieldRef f = sqrt2_field();
  EXPECT_EQ(*AlgebraicNumber::rational(f, q(1, 10)).to_f64(), 0.1);
  EXPECT_EQ(f->to_string(), "Q(root of x² + -2 in [0,3])");
  EXPECT_EQ(*gen(f).to_f64(), std::sqrt(2.0));
  // a + b·sqrt(5) against an enclosure of sqrt(5) from integer square roots.
  FieldRef f5 = field(fp({q(-5), q(0), q(1)}), q(0), q(6));
  auto [slo, shi] = sqrt_bounds(5, 300);
  std::mt19937_64 rng(3);
  for (int i = 0; i < 40; ++i) {
    Fraction a = q(static_cast<std::int64_t>(rng() % 2001) - 1000, 1 + static_cast<std::int64_t>(rng() % 97));
    Fraction b = q(1 + static_cast<std::int64_t>(rng() % 1000), 1 + static_cast<std::int64_t>(rng() % 97));
    double want = (a + b * slo).to_f64();
    ASSERT_EQ(want, (a + b * shi).to_f64());
    EXPECT_EQ(*num(f5, {a, b}).to_f64(), want);
  }
}

// Signs and floats narrow a field exactly as far as single refine steps would, to the same
// interval, however far that is: fields with wide and non-dyadic intervals, negative roots, a root
// far from its interval's scale, and numbers whose coefficients cancel to a tiny value.
TEST(NumberField, NarrowingMatchesSingleSteps) {
  auto two_to = [](std::uint64_t e) { return Fraction(Int(1).shl(e)); };
  std::vector<Fraction> binomial(31);
  binomial[0] = two_to(61).neg();
  binomial[30] = q(1);
  struct Case {
    FracPoly m;
    Fraction lo, hi;
  };
  const std::vector<Case> cases = {
      {fp({q(-2), q(0), q(1)}), q(0), q(3)},
      {fp({q(-2), q(0), q(1)}), q(-3), q(-1, 3)},
      {fp({q(-1), q(-1), q(-1), q(1)}), q(-1, 2), q(1000)},
      {fp({q(2), q(-4), q(0), q(0), q(0), q(1)}), q(1, 3), q(1)},
      {fp({q(1), q(0), q(-10), q(0), q(1)}), q(1, 7), q(1, 2)},
      {FracPoly(binomial), q(0), two_to(61) + q(1)},
  };
  std::mt19937_64 rng(5);
  auto coefficient = [&] {
    return q(static_cast<std::int64_t>(rng() % 41) - 20, 1 + static_cast<std::int64_t>(rng() % 12));
  };
  int most_steps = 0;
  for (const Case& c : cases) {
    const std::size_t d = static_cast<std::size_t>(c.m.degree());
    for (int round = 0; round < 12; ++round) {
      // A random number, or a power of (alpha − a close rational), which cancels to a tiny value.
      std::vector<Fraction> coeffs;
      FracPoly value;
      if (round % 3 == 2) {
        FieldRef probe = field(c.m, c.lo, c.hi);
        double a = *gen(probe).to_f64();
        Fraction close = *Fraction::make(Int(static_cast<std::int64_t>(a * 4096) + 1), Int(4096));
        AlgebraicNumber near = ok(gen(probe).sub(rat(close)));
        value = ok(AlgebraicNumber::pow(probe, near, Int(3 + round))).value();
      } else {
        for (std::size_t i = 0; i < std::min<std::size_t>(d, 4); ++i) coeffs.push_back(coefficient());
        value = FracPoly(coeffs);
      }
      for (bool as_float : {false, true}) {
        FieldRef stepped = field(c.m, c.lo, c.hi), replayed = field(c.m, c.lo, c.hi);
        AlgebraicNumber x = ok(AlgebraicNumber::make(stepped, value)), y = ok(AlgebraicNumber::make(replayed, value));
        // The plain loop: one refine step at a time until the enclosure settles.
        for (int step = 0;; ++step) {
          ASSERT_LT(step, 20000);
          most_steps = std::max(most_steps, step);
          auto [lo, hi] = *x.interval();
          if (as_float ? lo.to_f64() == hi.to_f64() : lo.sign() == hi.sign()) break;
          ASSERT_TRUE(stepped->refine());
        }
        if (as_float)
          EXPECT_EQ(*y.to_f64(), x.interval()->first.to_f64());
        else
          EXPECT_EQ(*y.sign(), x.interval()->first.sign());
        EXPECT_EQ(replayed->to_string(), stepped->to_string()) << c.m << " " << value << (as_float ? " f" : " s");
      }
    }
  }
  EXPECT_GT(most_steps, 256);  // beyond where floats used to stop
}

// Threads hammer signs and floats of numbers of one fresh field, all starting at once; every
// answer is right and the shared interval ends narrower, still isolating alpha.
TEST(AlgebraicNumber, RepeatedInversesInALargeField) {
  // Degree 30: inverses are remembered by the field, more of them than it keeps, from several
  // threads at once; every one must still be the inverse, and the same whichever thread took it.
  FieldRef f = pure_field(3, 30);
  std::mt19937_64 rng(5);
  std::vector<AlgebraicNumber> xs;
  for (int i = 0; i < 300; ++i) {
    std::vector<Fraction> c;
    for (int k = 0; k < 1 + i % 30; ++k) c.push_back(q(static_cast<std::int64_t>(rng() % 19) - 9, 1 + static_cast<std::int64_t>(rng() % 5)));
    if (c.back().is_zero()) c.back() = q(1);
    xs.push_back(expect(AlgebraicNumber::from_polynomial(f, c), "number"));
  }
  const AlgebraicNumber one = AlgebraicNumber::one(f);
  std::vector<AlgebraicNumber> first;
  for (const auto& x : xs) {
    first.push_back(ok(x.inverse()));
    EXPECT_TRUE(ok(first.back().mul(x)).eq(one));
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (std::size_t k = 0; k < xs.size(); ++k) {
        const std::size_t i = t % 2 ? xs.size() - 1 - k : (k * 7 + static_cast<std::size_t>(t)) % xs.size();
        if (!(ok(xs[i].inverse()).value() == first[i].value())) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  expect_error(AlgebraicNumber::zero(f).inverse(), ErrorKind::Range, "Division by zero: 0 in " + f->to_string());
}

TEST(NumberField, ConcurrentRefinement) {
  FracPoly m = fp({q(-1), q(-1), q(-1), q(1)});
  // alpha ≈ 1.839286755214161132551852564653286600424…, checked by the root count.
  const Int ten39 = Int::pow(Int(10), 39);
  Fraction lo_ref = *Fraction::make(*Int::from_str("1839286755214161132551852564653286600424"), ten39);
  Fraction hi_ref = lo_ref + *Fraction::make(Int(1), ten39);
  ASSERT_EQ(count_real_roots(m, lo_ref, hi_ref).value(), 1u);
  const double want = lo_ref.to_f64();
  for (int round = 0; round < 10; ++round) {
    FieldRef f = field(m, q(-1, 2), q(1000 + round));
    AlgebraicNumber a = gen(f);
    std::atomic<int> wrong{0}, waiting{8};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        waiting.fetch_sub(1);
        while (waiting.load() > 0) std::this_thread::yield();
        for (int i = 0; i < 40; ++i) {
          // Rationals on either side of alpha, at varying distances.
          Int p = Int::pow(Int(10), static_cast<std::uint32_t>(2 + (7 * i + t) % 35));
          Fraction below = *Fraction::make(lo_ref.num() * p / lo_ref.den(), p);
          Fraction above = below + *Fraction::make(Int(1), p);
          if (*ok(a.sub(AlgebraicNumber::rational(QQ(), below))).sign() != 1) ++wrong;
          if (*ok(a.sub(AlgebraicNumber::rational(QQ(), above))).sign() != -1) ++wrong;
          if ((i + t) % 5 == 0 && *a.to_f64() != want) ++wrong;
          if (*ok(a.mul(a)).sign() != 1) ++wrong;
          auto [lo, hi] = field_interval_read(*f);
          if (!(lo <= hi_ref && hi >= lo_ref)) ++wrong;
        }
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    auto [lo, hi] = field_interval_read(*f);
    EXPECT_EQ(count_real_roots(m, lo, hi).value(), 1u);
    EXPECT_LT(hi - lo, *Fraction::make(Int(1), Int::pow(Int(10), 30)));
  }
}

TEST(Root, Radicands) {
  AlgebraicNumber s2 = sqrt_of(2);
  EXPECT_EQ(s2.to_string(), "x in Q(root of x² + -2 in [0,3])");
  EXPECT_TRUE(squares_to(s2, 2));
  AlgebraicNumber two = sqrt_of(4), zero = sqrt_of(0);
  EXPECT_EQ(two.field()->degree(), 1u);
  EXPECT_TRUE(two.eq(AlgebraicNumber::constant(QQ(), 2)));
  EXPECT_TRUE(zero.is_zero());
  EXPECT_EQ(root(AlgebraicNumber::constant(QQ(), 2), 3).field()->to_string(), "Q(root of x³ + -2 in [0,3])");
  EXPECT_EQ(*root(rat(q(1, 4)), 2).to_f64(), 0.5);
  // Two roots of one number: distinct but equal fields.
  AlgebraicNumber again = sqrt_of(2);
  EXPECT_NE(again.field(), s2.field());
  EXPECT_TRUE(again.eq(s2));
  // sqrt(3 + 2·sqrt(2)) = 1 + sqrt(2), of degree 2, isolated from sqrt(2) − 1.
  AlgebraicNumber r = root(ok(rat(q(3)).add(ok(rat(q(2)).mul(s2)))), 2);
  EXPECT_EQ(r.field()->degree(), 2u);
  auto v = joined({r, ok(s2.add(rat(q(1))))});
  EXPECT_TRUE(v[0].eq(v[1]));
  // k = 1 gives the number itself (negative here), in a field of its own.
  AlgebraicNumber x = ok(rat(q(1, 3)).sub(s2));
  auto w = joined({root(x, 1), x});
  EXPECT_TRUE(w[0].eq(w[1]));
  // The fourth root of 2, squared, is sqrt(2).
  AlgebraicNumber f = root(AlgebraicNumber::constant(QQ(), 2), 4);
  auto u = joined({ok(f.mul(f)), s2});
  EXPECT_TRUE(u[0].eq(u[1]));
}

TEST(Root, RefusedAndNegativeRadicands) {
  AlgebraicNumber two = AlgebraicNumber::constant(QQ(), 2);
  EXPECT_EQ(two.root(Int(0)).error().kind, ErrorKind::Range);
  EXPECT_EQ(two.root(Int(-3)).error().message, "root index -3 must be at least 1");
  EXPECT_EQ(two.root(Int(kMaxFieldDegree + 1)).error().kind, ErrorKind::Range);
  EXPECT_EQ(two.root(Int(1).shl(100)).error().kind, ErrorKind::Range);
  // k·d beyond the limit is refused before x^k − v is formed.
  EXPECT_EQ(gen(pure_field(2, 200)).root(Int(2)).error().message,
            "root of index 2 in a field of degree 200 exceeds the field degree limit of 256");
  // Even roots of negative numbers have no real value; odd ones are negative.
  expect_error(AlgebraicNumber::constant(QQ(), -2).root(Int(2)), ErrorKind::Range,
               "even root (index 2) of a negative number");
  expect_error(ok(rat(q(1)).sub(sqrt_of(2))).root(Int(4)), ErrorKind::Range,
               "even root (index 4) of a negative number");
  EXPECT_TRUE(root(AlgebraicNumber::constant(QQ(), -8), 3).eq(AlgebraicNumber::constant(QQ(), -2)));
  AlgebraicNumber d = root(AlgebraicNumber::constant(QQ(), -2), 3);
  EXPECT_TRUE(ok(ok(d.mul(d)).mul(d)).eq(AlgebraicNumber::constant(QQ(), -2)));
  EXPECT_EQ(*d.to_f64(), -std::cbrt(2.0));
}

// Roots of rationals and of radicals have the field the general road gives: the factor of
// m_v(x^k) holding the root, as `factor` writes it, and the interval [0, upper(v) + 1].
TEST(Root, RadicalFieldsAreTheFactorsOfTheBinomial) {
  std::vector<std::pair<Fraction, std::int64_t>> cases;
  for (Fraction v : {q(2), q(4), q(1, 8), q(64), q(243, 32), q(1 << 12), q(3, 1 << 20), q(10000)})
    for (std::int64_t k : {2, 3, 4, 6, 12}) cases.emplace_back(v, k);
  for (auto& [v, k] : cases) {
    AlgebraicNumber r = root(rat(v), k);
    std::vector<Fraction> c(static_cast<std::size_t>(k) + 1);
    c[0] = v.neg();
    c.back() = q(1);
    Fraction hi = v + q(1);
    std::vector<FracPoly> holding, factors = *factor(FracPoly(c));
    for (const auto& f : factors)
      if (*count_real_roots(f, q(0), hi) > 0) holding.push_back(f);
    ASSERT_EQ(holding.size(), 1u);
    EXPECT_EQ(r.field()->minimal_polynomial(), holding[0]) << v << " " << k;
    if (r.field()->degree() > 1) {
      EXPECT_EQ(field_interval_read(*r.field()), std::pair(q(0), hi));
    }
    EXPECT_TRUE(ok(AlgebraicNumber::pow(r.field(), r, Int(k))).eq(rat(v)));
  }
  // The cube root of 2^(1/4) is 2^(1/12); the square root of 9^(1/3) is 3^(1/3).
  AlgebraicNumber a = root(root(rat(q(2)), 4), 3);
  std::vector<Fraction> twelfth(13);
  twelfth[0] = q(-2);
  twelfth[12] = q(1);
  EXPECT_EQ(primitive_integer(a.field()->minimal_polynomial()), primitive_integer(FracPoly(twelfth)));
  AlgebraicNumber b = root(root(rat(q(9)), 3), 2);
  EXPECT_EQ(b.field()->degree(), 3u);
  EXPECT_TRUE(ok(ok(b.mul(b)).mul(b)).eq(rat(q(3))));
}

// Comparisons need no common field: beyond the degree limit, and between equal numbers of
// different fields.
TEST(Compare, AcrossFields) {
  AlgebraicNumber a = root(rat(q(2)), 32), b = root(rat(q(3)), 9);  // 1.0219… < 1.1298…
  EXPECT_EQ(*a.cmp(b), -1);
  EXPECT_EQ(*b.cmp(a), 1);
  AlgebraicNumber big = root(rat(q(2)), 256), s2 = sqrt_of(2);
  EXPECT_EQ(*big.cmp(s2), -1);
  AlgebraicNumber p = big;
  for (int i = 0; i < 7; ++i) p = ok(p.mul(p));
  EXPECT_EQ(*p.cmp(s2), 0);
  EXPECT_EQ(*s2.cmp(p), 0);
  // 2·sqrt(2) as the generator of x² − 8 and as 2x in the field of x² − 2.
  AlgebraicNumber g8 = gen(field(fp({q(-8), q(0), q(1)}), q(0), q(3)));
  EXPECT_EQ(*g8.cmp(ok(s2.mul(rat(q(2))))), 0);
  AlgebraicNumber above = ok(ok(s2.mul(rat(q(2)))).add(rat(*Fraction::make(Int(1), Int::pow(Int(10), 40)))));
  EXPECT_EQ(*g8.cmp(above), -1);
  // A nested radical against a rational and a root of another field.
  AlgebraicNumber nested = root(ok(rat(q(5)).sub(ok(rat(q(2)).mul(sqrt_of(6))))), 2);  // sqrt(3) − sqrt(2)
  EXPECT_EQ(*nested.cmp(sqrt_of(3)), -1);
  EXPECT_EQ(*rat(q(1, 3)).cmp(nested), 1);
  EXPECT_EQ(*nested.cmp(rat(q(1, 3))), -1);
}

TEST(CommonField, ContainedGeneratorsDoNotGrow) {
  std::vector<AlgebraicNumber> none;
  EXPECT_TRUE(common_field(none));
  AlgebraicNumber s5 = sqrt_of(5);
  auto same = joined({s5, ok(s5.add(rat(q(1)))), s5.neg()});
  EXPECT_EQ(same[0].field(), s5.field());
  // Equal but distinct objects: later numbers move into the first object unchanged.
  auto moved = joined({s5, ok(sqrt_of(5).mul(rat(q(3))))});
  EXPECT_EQ(moved[1].value(), fp({q(0), q(3)}));
  // A rational, in either order, takes the irrational field unchanged.
  for (bool rational_first : {true, false}) {
    auto v = rational_first ? joined({rat(q(-7, 3)), s5}) : joined({s5, rat(q(-7, 3))});
    EXPECT_EQ(v[0].field(), s5.field());
    EXPECT_EQ(v[rational_first ? 0 : 1].value(), fp({q(-7, 3)}));
  }
  // (5 + 3·sqrt(5))/10 against sqrt(5) written in Q(1 + sqrt(5)), a different field object.
  AlgebraicNumber golden = ok(ok(rat(q(5)).add(ok(rat(q(3)).mul(s5)))).div(rat(q(10))));
  AlgebraicNumber one_plus = root(ok(rat(q(6)).add(ok(rat(q(2)).mul(s5)))), 2);
  auto v = joined({golden, ok(one_plus.sub(rat(q(1))))});
  EXPECT_EQ(v[0].field(), s5.field());
  EXPECT_EQ(v[0].value(), fp({q(1, 2), q(3, 10)}));
  EXPECT_EQ(v[1].value(), fp({q(0), q(1)}));
  // 2·sqrt(2) as the generator of x² − 8 lands in the first field as 2x.
  AlgebraicNumber s2 = sqrt_of(2);
  auto e = joined({s2, gen(field(fp({q(-8), q(0), q(1)}), q(0), q(3)))});
  EXPECT_EQ(e[0].field(), s2.field());
  EXPECT_EQ(e[1].value(), fp({q(0), q(2)}));
}

AlgebraicNumber cbrt_of(std::int64_t n) { return root(AlgebraicNumber::constant(QQ(), n), 3); }
AlgebraicNumber sum(const AlgebraicNumber& a, const AlgebraicNumber& b) {
  auto v = joined({a, b});
  return ok(v[0].add(v[1]));
}

TEST(CommonField, LargeJoinsKeepTheirFieldsAndValues) {
  // sqrt(2) + sqrt(3) + sqrt(5) joined with sqrt(7): the field, its interval, both images, an
  // interval, a sign and an inverse, as the join by gcds over the new field gave them.
  const AlgebraicNumber s = sum(sum(sqrt_of(2), sqrt_of(3)), sqrt_of(5));
  auto v = joined({s, sqrt_of(7)});
  EXPECT_EQ(v[0].field()->to_string(),
            "Q(root of x¹⁶ + -136x¹⁴ + 6476x¹² + -141912x¹⁰ + 1513334x⁸ + -7453176x⁶ + 13950764x⁴ + "
            "-5596840x² + 46225 in [7,10])");
  EXPECT_EQ(v[0].value().to_string(),
            "151/32473600x¹⁵ + -1312971/2078310400x¹³ + 6241559/207831040x¹¹ + -1364453637/2078310400x⁹ + "
            "3626646037/519577600x⁷ + -71310531461/2078310400x⁵ + 67424441651/1039155200x³ + -11784544527/415662080x");
  EXPECT_EQ(v[1].value().to_string(),
            "-151/32473600x¹⁵ + 1312971/2078310400x¹³ + -6241559/207831040x¹¹ + 1364453637/2078310400x⁹ + "
            "-3626646037/519577600x⁷ + 71310531461/2078310400x⁵ + -67424441651/1039155200x³ + 12200206607/415662080x");
  const AlgebraicNumber x = ok(v[0].sub(v[1]));
  const auto iv = *x.interval();
  EXPECT_EQ(iv.first, *Fraction::make(Int(-7160002895524848439), Int(519577600)));
  EXPECT_EQ(iv.second, *Fraction::make(Int(991705479237974017), Int(64947200)));
  EXPECT_EQ(*x.sign(), 1);
  EXPECT_EQ(ok(x.inverse()).value().to_string(),
            "349/1039155200x¹⁵ + -11839/259788800x¹³ + 2247127/1039155200x¹¹ + -24511661/519577600x⁹ + "
            "519954187/1039155200x⁷ + -318628167/129894400x⁵ + 4806638689/1039155200x³ + -221629717/103915520x");
  EXPECT_EQ(v[0].field()->to_string(),
            "Q(root of x¹⁶ + -136x¹⁴ + 6476x¹² + -141912x¹⁰ + 1513334x⁸ + -7453176x⁶ + 13950764x⁴ + "
            "-5596840x² + 46225 in [4310044595/536870912,1077511149/134217728])");
  // cbrt(2) + cbrt(3) joined with that field: degree 72, its interval, and images that still
  // satisfy the equations of their generators.
  const AlgebraicNumber c = sum(cbrt_of(2), cbrt_of(3));
  auto w = joined({c, s});
  const std::string text = w[0].field()->to_string();
  EXPECT_EQ(w[0].field()->degree(), 72u);
  EXPECT_EQ(text.substr(text.find(" in ")), " in [29/4,19/2])");
  // c³ = 5 + 3·cbrt(6)·c, so (c³ − 5)³ = 162·c³.
  const AlgebraicNumber c3 = ok(ok(w[0].mul(w[0])).mul(w[0]));
  const AlgebraicNumber t = ok(c3.sub(rat(q(5))));
  EXPECT_TRUE(ok(ok(t.mul(t)).mul(t)).eq(ok(c3.mul(rat(q(162))))));
  EXPECT_TRUE(ok(w[0].mul(ok(w[0].inverse()))).eq(rat(q(1))));
  EXPECT_NEAR(*w[1].to_f64(), std::sqrt(2.0) + std::sqrt(3.0) + std::sqrt(5.0), 1e-12);
}

TEST(CommonField, PrimitiveElements) {
  auto v = joined({sqrt_of(2), sqrt_of(3)});
  EXPECT_EQ(primitive_integer(v[0].field()->minimal_polynomial()), primitive_integer(fp({q(1), q(0), q(-10), q(0), q(1)})));
  EXPECT_TRUE(squares_to(v[0], 2));
  EXPECT_TRUE(squares_to(v[1], 3));
  EXPECT_EQ(*v[0].to_f64(), std::sqrt(2.0));
  EXPECT_EQ(*v[1].to_f64(), std::sqrt(3.0));
  // Two spellings of one number: sqrt(2) + sqrt(3) and sqrt(5 + 2·sqrt(6)); sqrt(3) − sqrt(2) is
  // the other positive root of the same polynomial.
  AlgebraicNumber nested = root(ok(rat(q(5)).add(ok(rat(q(2)).mul(sqrt_of(6))))), 2);
  auto w = joined({ok(v[0].add(v[1])), nested});
  EXPECT_TRUE(w[0].eq(w[1]));
  EXPECT_EQ(*ok(w[0].sub(w[1])).sign(), 0);
  auto z = joined({ok(v[1].sub(v[0])), nested});
  EXPECT_FALSE(z[0].eq(z[1]));
  // Three fields: the first two are rewritten again when the third joins.
  auto t = joined({sqrt_of(2), ok(sqrt_of(3).add(rat(q(1)))), sqrt_of(5), rat(q(4))});
  EXPECT_EQ(t[0].field()->degree(), 8u);
  EXPECT_TRUE(squares_to(t[0], 2));
  EXPECT_TRUE(squares_to(ok(t[1].sub(rat(q(1)))), 3));
  EXPECT_TRUE(squares_to(t[2], 5));
  EXPECT_TRUE(t[3].eq(rat(q(4))));
  // Beyond the degree limit nothing is changed.
  std::vector<AlgebraicNumber> big{gen(pure_field(2, 32)), gen(pure_field(3, 32))};
  FieldRef before = big[1].field();
  auto r = common_field(big);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "common field of fields of degree 32 and 32 exceeds the field degree limit of 256");
  EXPECT_EQ(big[1].field(), before);
}


// Joins whose resultant is proven irreducible without factoring, and whose generators' images are
// solved for modulo primes: the images satisfy their generators' equations exactly. Degrees 4 and
// 12 share a factor, so the proof goes through primes; 3 and 8 are coprime.
TEST(CommonField, ImagesFromPrimesSatisfyTheirEquations) {
  for (auto [n, c, k] : {std::tuple{12, 7, 2}, std::tuple{4, 3, 3}, std::tuple{8, 5, 3}}) {
    AlgebraicNumber a = root(rat(q(c)), n), b = root(AlgebraicNumber::constant(QQ(), 4543416), k);
    auto v = joined({a, b});
    ASSERT_EQ(v[0].field()->degree(), static_cast<std::size_t>(n * k)) << n;
    EXPECT_TRUE(ok(AlgebraicNumber::pow(v[0].field(), v[0], Int(n))).eq(rat(q(c)))) << n;
    EXPECT_TRUE(ok(AlgebraicNumber::pow(v[1].field(), v[1], Int(k))).eq(rat(q(4543416)))) << n;
    // The resultant was taken as the field's polynomial: `factor` finds it irreducible too.
    const auto factors = *factor(v[0].field()->minimal_polynomial());
    ASSERT_EQ(factors.size(), 1u) << n;
    EXPECT_EQ(factors[0], v[0].field()->minimal_polynomial()) << n;
  }
  // A contained generator still lands in the larger field: sqrt(7) is (7^(1/12))^6.
  auto w = joined({root(rat(q(7)), 12), sqrt_of(7)});
  EXPECT_EQ(w[0].field()->degree(), 12u);
  EXPECT_EQ(w[1].value(), fp({q(0), q(0), q(0), q(0), q(0), q(0), q(1)}));
}

TEST(CommonField, ImagesProvenByTheirQuotient) {
  // Joins of degree 250 whose images have far shorter coefficients than the bound on reducing
  // modulo the field's polynomial: proven through the quotient, after the numerators (12) or in
  // place of the larger set of primes (122). Each image satisfies its equation.
  for (auto [c, d] : {std::tuple{12, 10}, std::tuple{122, 1000000000}}) {
    auto v = joined({root(rat(q(c)), 10), root(rat(q(1, d)), 25)});
    ASSERT_EQ(v[0].field()->degree(), 250u) << c;
    EXPECT_TRUE(ok(AlgebraicNumber::pow(v[0].field(), v[0], Int(10))).eq(rat(q(c)))) << c;
    EXPECT_TRUE(ok(AlgebraicNumber::pow(v[1].field(), v[1], Int(25))).eq(rat(q(1, d)))) << c;
  }
}

TEST(AlgebraicNumber, InversesOfLargeCoefficients) {
  // Coefficients of thousands of bits in a field of degree 30: the inverse from primes, proven by
  // sizes, times the number is 1.
  FieldRef f = pure_field(3, 30);
  std::vector<Fraction> c;
  for (int i = 0; i < 30; ++i)
    c.push_back(*Fraction::make(Int::pow(Int(5 + i), 600) - Int(i), Int::pow(Int(7), 300)));
  AlgebraicNumber x = expect(AlgebraicNumber::from_polynomial(f, c), "number");
  AlgebraicNumber inv = ok(x.inverse());
  EXPECT_TRUE(ok(inv.mul(x)).eq(AlgebraicNumber::one(f)));
}

TEST(AlgebraicNumber, InversesOfMonomialsInFieldsOfBinomials) {
  // a·x^k in the fields of −3x^5 + 7 and x^25 − 571^3: the inverse is a monomial, times the number 1.
  std::vector<Fraction> m25(26);
  m25[0] = Fraction(-Int::pow(Int(571), 3));
  m25[25] = q(1);
  for (const FieldRef& f : {field(fp({q(7), q(0), q(0), q(0), q(0), q(-3)}), q(1), q(2)), field(FracPoly(m25), q(2), q(3))}) {
    const std::size_t n = f->degree();
    for (std::size_t k = 1; k < n; ++k) {
      std::vector<Fraction> c(k + 1);
      c[k] = q(-5, 2);
      const AlgebraicNumber x = expect(AlgebraicNumber::from_polynomial(f, c), "number");
      const AlgebraicNumber inv = ok(x.inverse());
      EXPECT_EQ(inv.value().degree(), static_cast<std::int64_t>(n - k));
      EXPECT_TRUE(ok(inv.mul(x)).eq(AlgebraicNumber::one(f))) << k;
    }
  }
}

// Signs, floats and comparisons of tiny non-zero numbers answer however far they must narrow.
TEST(AlgebraicNumber, TinyNumbersHaveSigns) {
  AlgebraicNumber s2 = sqrt_of(2);
  AlgebraicNumber tiny = ok(AlgebraicNumber::pow(s2.field(), ok(s2.sub(rat(q(1)))), Int(110000)));  // ≈ 10^-42104
  EXPECT_EQ(*tiny.sign(), 1);
  EXPECT_EQ(*tiny.neg().sign(), -1);
  EXPECT_EQ(*tiny.to_f64(), 0.0);
  EXPECT_TRUE(std::signbit(*tiny.neg().to_f64()));
  // 2^(1/8) against 2^(1/8) + (sqrt(2) − 1)^12000 in fields of degree 256 and 8.
  AlgebraicNumber r256 = root(rat(q(2)), 256);
  AlgebraicNumber a = ok(AlgebraicNumber::pow(r256.field(), r256, Int(32)));
  AlgebraicNumber e = root(rat(q(2)), 8);
  AlgebraicNumber small = ok(AlgebraicNumber::pow(s2.field(), ok(s2.sub(rat(q(1)))), Int(12000)));
  AlgebraicNumber b = sum(e, small);
  EXPECT_EQ(*a.cmp(b), -1);
  EXPECT_EQ(*b.cmp(a), 1);
}

TEST(Compare, EqualNumbersOfLargeFields) {
  // (2^(1/64))^8·cbrt(3) in a field of degree 192 and 2^(1/8)·cbrt(3) in one of degree 24.
  AlgebraicNumber a64 = root(rat(q(2)), 64);
  auto v = joined({ok(AlgebraicNumber::pow(a64.field(), a64, Int(8))), cbrt_of(3)});
  AlgebraicNumber a = ok(v[0].mul(v[1]));
  auto w = joined({root(rat(q(2)), 8), cbrt_of(3)});
  AlgebraicNumber b = ok(w[0].mul(w[1]));
  ASSERT_EQ(a.field()->degree(), 192u);
  EXPECT_EQ(*a.cmp(b), 0);
  EXPECT_EQ(*b.cmp(a), 0);  // again, from what the first comparison kept
  AlgebraicNumber above = ok(b.add(rat(*Fraction::make(Int(1), Int::pow(Int(10), 60)))));
  EXPECT_EQ(*a.cmp(above), -1);
}

TEST(AlgebraicNumber, PowersPastTheSizeLimitAreRefusedAtOnce) {
  // ((1451/1000)/sqrt(3))^85766121: its norm's numerator and denominator alone pass 2^28 bits.
  AlgebraicNumber base = ok(rat(q(1451, 1000)).div(sqrt_of(3)));
  EXPECT_THROW((void)AlgebraicNumber::pow(base.field(), base, Int(85766121)), MemoryRefusal);
  // Powers within the limit are made as before.
  AlgebraicNumber phi = ok(ok(sqrt_of(5).add(rat(q(1)))).div(rat(q(2))));
  AlgebraicNumber big = ok(AlgebraicNumber::pow(phi.field(), phi, Int(100000)));
  EXPECT_EQ(*big.sign(), 1);
}


// Powers come out exactly as repeated products do, by every way they are formed: monomials of
// radical fields (negative, over a non-monic polynomial, of degree 24 or more), numbers with
// denominators over non-monic and monic polynomials, a number whose square is rational, and a
// denominator with a prime past a word.
TEST(AlgebraicNumber, PowersAgreeWithRepeatedProducts) {
  const FieldRef f3 = pure_field(2, 3), f24 = pure_field(3, 24);
  const FieldRef seven = field(fp({q(-3), q(0), q(7)}), q(0), q(1));  // 7x² − 3
  const FieldRef sixth = root(rat(q(5, 6)), 25).field();                // 6x²⁵ − 5
  const auto both = joined({sqrt_of(2), sqrt_of(3)});
  const Fraction huge_prime = *Fraction::make(Int(1), Int(1).shl(89) - Int(1));
  const AlgebraicNumber bases[] = {
      ok(gen(f3).mul(rat(q(-3, 7)))),
      ok(ok(gen(sixth).mul(gen(sixth))).mul(rat(q(10, 9)))),
      ok(AlgebraicNumber::pow(f24, gen(f24), Int(5))),
      num(seven, {q(-5, 6), q(2, 9)}),
      num(sixth, {q(1, 2), q(0), q(-3, 5)}),
      num(f24, {q(1, 2), q(1)}),
      both[0],
      ok(both[0].add(both[1])),
      num(sqrt2_field(), {q(1), huge_prime}),
  };
  for (const auto& base : bases) {
    AlgebraicNumber product = base;
    for (std::int64_t e = 1; e <= 40; ++e) {
      if (e > 1) product = ok(product.mul(base));
      const AlgebraicNumber power = ok(AlgebraicNumber::pow(base.field(), base, Int(e)));
      ASSERT_EQ(power.to_string(), product.to_string()) << base.to_string() << " ^ " << e;
      ASSERT_EQ(power.field(), base.field());
    }
  }
}

// Products in non-monic fields of degree 30 by each way a product is brought below the degree (the
// power table for short coefficients, the quotient's terms for a polynomial of short coefficients,
// two long products through the inverse for one of long coefficients): against remainders over the
// rationals, and products of numbers with long rational factors against the product of the short
// numbers (through the table) times those factors, with denominators sharing a large factor with
// the numerators and not; squares; and powers, whose products keep the unreduced integers.
TEST(AlgebraicNumber, LargeProductsMatchRemainders) {
  // Values as stored: each coefficient's numerator and denominator, in lowest terms.
  auto parts = [](const FracPoly& p) {
    std::vector<std::pair<Int, Int>> out;
    for (const auto& x : p.coeffs) out.emplace_back(x.num(), x.den());
    return out;
  };
  std::mt19937_64 rng(29);
  auto big = [&](std::size_t bits) {
    Int r(static_cast<std::int64_t>(rng() >> 1));
    for (std::size_t b = 63; b < bits; b += 63) r = r.shl(63) + Int(static_cast<std::int64_t>(rng() >> 1));
    return rng() % 2 ? r : -r;
  };
  auto small = [&] { return Int(static_cast<std::int64_t>(rng() % 2001) - 1000); };
  const std::size_t d = 30;
  const Int five = Int::pow(Int(5), 14'000);
  const AlgebraicNumber up = rat(expect(Fraction::make(Int::pow(Int(3), 20'000), five), "up")), down = rat(Fraction(five));
  for (bool long_terms : {false, true}) {
    // L·x^d + L·g(x) + h for a short g: the table's denominator stays L², its entries near h².
    const Int lc = Int(720).shl(long_terms ? 16000 : 4);
    std::vector<Fraction> mc(d + 1);
    for (std::size_t j = 1; j < d; ++j) mc[j] = Fraction(lc * small());
    mc[0] = Fraction(long_terms ? big(16000) : small());
    mc[d] = Fraction(lc);
    const FracPoly m{std::move(mc)};
    const FieldRef f = expect(NumberField::make_isolated(m, q(0), q(1)), "field");
    for (std::size_t bits : {60, 3000}) {
      const Int shared = Int::pow(Int(3), static_cast<std::uint32_t>(bits / 2));
      auto draw = [&](bool common) {
        std::vector<Fraction> c(d);
        for (auto& x : c) {
          Int den = Int(1).shl(rng() % (bits / 2 + 1));
          if (common) den *= shared;
          x = expect(Fraction::make(big(bits), den), "fraction");
        }
        return expect(AlgebraicNumber::from_polynomial(f, std::move(c)), "number");
      };
      for (bool common : {false, true}) {
        const AlgebraicNumber a = draw(common), b = draw(!common);
        const AlgebraicNumber ab = ok(a.mul(b)), sq = ok(a.mul(a));
        if (!long_terms) {
          EXPECT_EQ(parts(ab.value()), parts(expect(FracPoly::rem(FracPoly::mul(a.value(), b.value()), m), "rem"))) << bits;
          EXPECT_EQ(parts(sq.value()), parts(expect(FracPoly::rem(FracPoly::mul(a.value(), a.value()), m), "rem"))) << bits;
        }
        if (bits == 60) {
          // Long numerators, and denominators that cancel in part: 3^20000/5^14000 · 5^14000.
          const AlgebraicNumber fa = ok(a.mul(up)), fb = ok(b.mul(down));
          EXPECT_EQ(parts(ok(fa.mul(fb)).value()), parts(ok(ab.mul(ok(up.mul(down)))).value())) << long_terms;
          EXPECT_EQ(parts(ok(fa.mul(fa)).value()), parts(ok(ok(sq.mul(up)).mul(up)).value())) << long_terms;
        }
        EXPECT_EQ(parts(ok(AlgebraicNumber::pow(f, a, Int(3))).value()), parts(ok(sq.mul(a)).value())) << bits;
      }
    }
  }
}

// Powers of hundreds of millions of bits take their products only: no gcds of their size.
TEST(AlgebraicNumber, LargePowersTakeNoGcds) {
  const double limit = std::getenv("GYRELLE_SANITIZED") ? 80 : 4;
  const auto start = std::chrono::steady_clock::now();
  const AlgebraicNumber r8 = sqrt_of(8);
  const AlgebraicNumber a = ok(AlgebraicNumber::pow(r8.field(), r8, Int(150'000'000)));
  EXPECT_TRUE(a.eq(AlgebraicNumber::rational(QQ(), Fraction(Int(1).shl(225'000'000)))));
  // (sqrt(6.19) − 5)^(2·10^6), of parts near 10^7 bits, in two ways.
  const AlgebraicNumber b = ok(root(rat(q(619, 100)), 2).sub(rat(q(5))));
  const AlgebraicNumber p = ok(AlgebraicNumber::pow(b.field(), b, Int(2'000'000)));
  const AlgebraicNumber b4 = ok(AlgebraicNumber::pow(b.field(), b, Int(4)));
  EXPECT_EQ(p.value(), ok(AlgebraicNumber::pow(b.field(), b4, Int(500'000))).value());
  EXPECT_GT(p.value().coeffs[1].num().bit_length(), 10'000'000u);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took.count(), limit);
}

// The join's interval of its generator is the one the plain loop reaches: count the roots of the
// resultant's factors in t·[A] + [B], and while more than one, refine A once and B once. Fields of
// radicals with large coefficients, counted there as sums of real roots, and small ones.
TEST(CommonField, IsolationMatchesSingleRounds) {
  struct Pair {
    std::int64_t c, n, d, k;  // c^(1/n) joined with d^(1/k)
  };
  for (const Pair& p : {Pair{7, 12, 4543416, 2}, Pair{11, 25, 69377857926, 2}, Pair{3, 4, 5, 2}, Pair{2, 9, 10, 2}}) {
    auto make = [&] { return std::pair{root(rat(q(p.c)), p.n), root(rat(q(p.d)), p.k)}; };
    auto [a, b] = make();
    auto v = joined({a, b});
    auto [a2, b2] = make();
    const FracPoly& ma = a2.field()->minimal_polynomial();
    const FracPoly& mb = b2.field()->minimal_polynomial();
    // m_B(Y − X) by Horner's rule over bivariate polynomials, and the resultant in X (t = 1).
    BiPoly lin = bivariate_from_vecs({{q(0), q(1)}, {q(-1)}}), acc;
    for (std::size_t j = mb.coeffs.size(); j-- > 0;) {
      acc = BiPoly::mul(acc, lin);
      if (acc.coeffs.empty()) acc.coeffs.emplace_back();
      acc.coeffs[0] = FracPoly::add(acc.coeffs[0], FracPoly::constant(mb.coeffs[j]));
      acc.trim();
    }
    const FracPoly r = *resultant(lift_constants(ma), acc);
    const auto factors = *factor(r);
    std::pair<Fraction, Fraction> iv;
    for (;;) {
      iv = combined_interval(q(1), *a2.field(), *b2.field());
      std::uint32_t total = 0;
      for (const auto& f : factors) total += *count_real_roots(f, iv.first, iv.second);
      if (total == 1) break;
      ASSERT_TRUE(a2.field()->refine());
      ASSERT_TRUE(b2.field()->refine());
    }
    EXPECT_EQ(field_interval_read(*v[0].field()), iv) << p.c << " " << p.n;
    EXPECT_EQ(field_interval_read(*a.field()), field_interval_read(*a2.field())) << p.c;
    EXPECT_EQ(field_interval_read(*b.field()), field_interval_read(*b2.field())) << p.c;
  }
}

bool stop_at_once(void*) { return true; }

TEST(Interrupt, LongJoinsStopWhenAsked) {
  // A stop request reaches the join's loops, the workers on the pool included; the numbers and
  // their fields stay usable.
  AlgebraicNumber a = root(rat(q(11)), 100), b = sqrt_of(4543416);
  {
    Watch watch(&stop_at_once, nullptr);
    std::vector<AlgebraicNumber> v{a, b};
    EXPECT_THROW((void)common_field(v), Interrupted);
    EXPECT_EQ(v[0].field(), a.field());
  }
  EXPECT_EQ(*a.to_f64(), std::pow(11.0, 0.01));
  EXPECT_EQ(*ok(b.mul(b)).to_f64(), 4543416.0);
}

}  // namespace
}  // namespace gy
