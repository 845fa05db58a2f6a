#include "exact.hpp"

#include <gmp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

namespace gy {
namespace {

Fraction q(std::int64_t n, std::int64_t d = 1) { return fraction(n, d); }
FracPoly fp(std::initializer_list<Fraction> c) { return FracPoly(std::vector<Fraction>(c)); }

FieldRef field(FracPoly m, Fraction lo, Fraction hi) { return expect(NumberField::make(std::move(m), lo, hi), "test field"); }
// sqrt(2) as the generator of x² − 2 in [0, 3].
FieldRef sqrt2_field() { return field(fp({q(-2), q(0), q(1)}), q(0), q(3)); }
AlgebraicNumber gen(const FieldRef& f) { return expect(AlgebraicNumber::generator(f), "generator"); }
AlgebraicNumber num(const FieldRef& f, std::initializer_list<Fraction> c) {
  return expect(AlgebraicNumber::from_polynomial(f, std::vector<Fraction>(c)), "number");
}
AlgebraicNumber rat(Fraction c) { return AlgebraicNumber::rational(QQ(), std::move(c)); }
AlgebraicNumber ok(Result<AlgebraicNumber> r) { return expect(std::move(r), "arithmetic"); }

void expect_error(const auto& r, ErrorKind kind, const std::string& message) {
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, kind);
  EXPECT_EQ(r.error().message, message);
}

// floor(sqrt(n) · 2^bits) / 2^bits and the next step up: an independent enclosure of sqrt(n).
std::pair<Fraction, Fraction> sqrt_bounds(unsigned n, unsigned bits) {
  mpz_t x;
  mpz_init_set_ui(x, n);
  mpz_mul_2exp(x, x, 2 * bits);
  mpz_sqrt(x, x);
  Int lo = Int::from_mpz(x);
  mpz_clear(x);
  Int den = Int(1).shl(bits);
  return {*Fraction::make(lo, den), *Fraction::make(lo + Int(1), den)};
}

TEST(NumberField, RationalsAndText) {
  FieldRef qq = QQ();
  EXPECT_EQ(qq, QQ());
  EXPECT_EQ(qq->to_string(), "Q(root of x + -1 in [1,1])");
  ASSERT_TRUE(qq->refine());
  EXPECT_EQ(qq->to_string(), "Q(root of x + -1 in [1,1])");
  EXPECT_EQ(qq->power_table().size(), 3u);
  // The generator of the rationals is the number 1.
  EXPECT_TRUE(gen(qq).eq(AlgebraicNumber::one(qq)));

  FieldRef f = sqrt2_field();
  EXPECT_EQ(f->to_string(), "Q(root of x² + -2 in [0,3])");
  ASSERT_TRUE(f->refine());  // split point 2
  EXPECT_EQ(f->to_string(), "Q(root of x² + -2 in [0,2])");
  EXPECT_EQ(f->power_table().size(), 5u);
  EXPECT_EQ(f->power_table()[4], fp({q(4)}));
  std::string s = gen(f).to_string();
  EXPECT_EQ(s, "x in Q(root of x² + -2 in [0,2])");
}

TEST(NumberField, ConstructionRefusesBadIntervals) {
  FracPoly m = fp({q(-2), q(0), q(1)});
  expect_error(NumberField::make(m, q(-3), q(3)), ErrorKind::Other, "Interval must contain exactly one root");
  expect_error(NumberField::make(m, q(2), q(3)), ErrorKind::Other, "Interval must contain exactly one root");
  expect_error(NumberField::make(m, q(3), q(0)), ErrorKind::Other, "Interval must contain exactly one root");
  EXPECT_EQ(NumberField::make(fp({q(5)}), q(0), q(1)).error().kind, ErrorKind::Range);
  EXPECT_EQ(NumberField::make(FracPoly(), q(0), q(1)).error().kind, ErrorKind::Range);
  // An interval whose end is its only root is accepted.
  EXPECT_TRUE(NumberField::make(fp({q(-2), q(1)}), q(2), q(7)));
  // The degree limit.
  std::vector<Fraction> big(kMaxFieldDegree + 2);
  big[0] = q(-2);
  big.back() = q(1);
  EXPECT_EQ(NumberField::make(FracPoly(big), q(0), q(2)).error().kind, ErrorKind::Range);
}

TEST(NumberField, RefinementCollapsesOntoExactEnds) {
  // Lower end is the root: collapses there without the split point.
  FieldRef a = field(fp({q(-2), q(1)}), q(2), q(7));
  ASSERT_TRUE(a->refine());
  EXPECT_EQ(field_interval_read(*a), std::pair(q(2), q(2)));
  ASSERT_TRUE(a->refine());
  EXPECT_EQ(field_interval_read(*a), std::pair(q(2), q(2)));
  FieldRef b = field(fp({q(-2), q(1)}), q(-5), q(2));
  ASSERT_TRUE(b->refine());
  EXPECT_EQ(field_interval_read(*b), std::pair(q(2), q(2)));
  // The split point of [0, 4] is 2, the root.
  FieldRef c = field(fp({q(-2), q(1)}), q(0), q(4));
  ASSERT_TRUE(c->refine());
  EXPECT_EQ(field_interval_read(*c), std::pair(q(2), q(2)));
  // Repeated steps keep sqrt(3) inside and narrow every time.
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
  EXPECT_TRUE(*NumberField::eq(a, a));
  EXPECT_TRUE(*NumberField::eq(a, field(fp({q(-2), q(0), q(1)}), q(1), q(2))));
  EXPECT_FALSE(*NumberField::eq(a, field(fp({q(-2), q(0), q(1)}), q(-2), q(-1))));
  EXPECT_FALSE(*NumberField::eq(a, field(fp({q(-3), q(0), q(1)}), q(0), q(3))));
  EXPECT_FALSE(*NumberField::eq(a, QQ()));
  // Intervals that touch only at a shared end that is the root.
  FieldRef l = field(fp({q(-2), q(1)}), q(0), q(2)), r = field(fp({q(-2), q(1)}), q(2), q(5));
  EXPECT_TRUE(*NumberField::eq(l, r));
  // Both conjugates in overlapping but different intervals.
  EXPECT_FALSE(*NumberField::eq(field(fp({q(-2), q(0), q(1)}), q(-2), q(0)), field(fp({q(-2), q(0), q(1)}), q(0), q(2))));
}

TEST(AlgebraicNumber, ConstructionAndReduction) {
  FieldRef f = sqrt2_field();
  EXPECT_TRUE(AlgebraicNumber::constant(f, 0).value().is_zero());
  EXPECT_EQ(AlgebraicNumber::constant(f, -7).value(), fp({q(-7)}));
  // x³ + x² reduces to 2x + 2.
  EXPECT_EQ(num(f, {q(0), q(0), q(1), q(1)}).value(), fp({q(2), q(2)}));
  EXPECT_EQ(num(f, {q(1), q(0), q(0), q(0)}).value(), fp({q(1)}));
  // In a field of degree 1 the generator is the rational root.
  EXPECT_EQ(gen(field(fp({q(-3), q(2)}), q(0), q(5))).value(), fp({q(3, 2)}));
  // Products whose degrees reach d go through the power table.
  AlgebraicNumber s = gen(f);
  EXPECT_EQ(ok(s.mul(s)).value(), fp({q(2)}));
  AlgebraicNumber a = num(f, {q(1, 2), q(3)});
  EXPECT_EQ(ok(a.mul(a)).value(), fp({q(73, 4), q(3)}));
  AlgebraicNumber b = a;
  ASSERT_TRUE(b.mul_into(s));
  EXPECT_EQ(b.value(), fp({q(6), q(1, 2)}));
  EXPECT_EQ(a.neg().value(), fp({q(-1, 2), q(-3)}));
}

// Random elements of the tribonacci field x³ − x² − x − 1 (alpha ≈ 1.839) and of a field whose
// minimal polynomial x³ − 2/3·x + 1/6 has fractional coefficients.
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
        AlgebraicNumber inv = ok(x.inverse());
        EXPECT_TRUE(ok(inv.mul(x)).eq(one));
        EXPECT_TRUE(ok(ok(y.div(x)).mul(x)).eq(y));
      }
      EXPECT_TRUE(ok(ok(x.mul(y)).mul(z)).eq(ok(x.mul(ok(y.mul(z))))));
      EXPECT_TRUE(ok(x.mul(ok(y.add(z)))).eq(ok(ok(x.mul(y)).add(ok(x.mul(z))))));
      EXPECT_TRUE(ok(x.sub(x)).is_zero());
      // Floats follow the arithmetic; intervals enclose the float.
      double fx = *x.to_f64(), fy = *y.to_f64();
      EXPECT_NEAR(*ok(x.mul(y)).to_f64(), fx * fy, 1e-9 * (1 + std::fabs(fx * fy)));
      auto [lo, hi] = *x.interval();
      EXPECT_LE(lo, hi);
      EXPECT_LE(lo.to_f64(), fx);
      EXPECT_GE(hi.to_f64(), fx);
    }
  }
  AlgebraicNumber one = AlgebraicNumber::one(f);
  AlgebraicNumber a = gen(f);
  EXPECT_TRUE(ok(AlgebraicNumber::pow(f, a, Int(5))).eq(ok(ok(ok(ok(a.mul(a)).mul(a)).mul(a)).mul(a))));
  EXPECT_TRUE(ok(AlgebraicNumber::pow(f, a, Int(0))).eq(one));
  expect_error(AlgebraicNumber::pow(f, a, Int(-1)), ErrorKind::Range, "");
  EXPECT_EQ(AlgebraicNumber::pow(f, a, Int(1).shl(40)).error().message, "exponent too large");
  EXPECT_TRUE(ok(AlgebraicNumber::pow(f, rat(q(-1, 2)), Int(3))).eq(rat(q(-1, 8))));
  EXPECT_EQ(ok(AlgebraicNumber::pow(f, rat(q(3)), Int(2))).field(), f);
}

TEST(AlgebraicNumber, DivisionByZero) {
  FieldRef f = sqrt2_field();
  expect_error(AlgebraicNumber::zero(f).inverse(), ErrorKind::Range, "Division by zero: 0 in " + f->to_string());
  expect_error(gen(f).div(AlgebraicNumber::zero(QQ())), ErrorKind::Range, "Division by zero: 0 in " + QQ()->to_string());
  EXPECT_TRUE(ok(AlgebraicNumber::constant(f, 4).inverse()).eq(rat(q(1, 4))));
}

TEST(AlgebraicNumber, FieldRule) {
  FieldRef a = sqrt2_field();
  FieldRef b = field(fp({q(-3), q(0), q(1)}), q(0), q(3));
  auto r = gen(a).add(gen(b));
  expect_error(r, ErrorKind::Range,
               "AlgebraicNumbers must have same field (" + a->to_string() + " != " + b->to_string() + ")");
  EXPECT_FALSE(gen(a).eq(gen(b)));
  // A rational takes the other field, in either order.
  AlgebraicNumber s = ok(rat(q(1, 2)).add(gen(a)));
  AlgebraicNumber t = ok(gen(a).add(rat(q(1, 2))));
  EXPECT_EQ(s.field(), a);
  EXPECT_EQ(t.field(), a);
  EXPECT_TRUE(s.eq(t));
  EXPECT_TRUE(rat(q(2)).eq(AlgebraicNumber::constant(b, 2)));
  // A copy in a separately built equal field.
  FieldRef a2 = field(fp({q(-2), q(0), q(1)}), q(1), q(2));
  EXPECT_TRUE(num(a, {q(1), q(5)}).eq(num(a2, {q(1), q(5)})));
  EXPECT_FALSE(num(a, {q(1), q(5)}).eq(num(a2, {q(1), q(4)})));
  EXPECT_EQ(ok(gen(a).mul(gen(a2))).value(), fp({q(2)}));
}

TEST(AlgebraicNumber, SignsNearZero) {
  // sqrt(2) − p/q has the sign of 2q² − p²; the convergents come within 1/(2√2 q²).
  FieldRef f = sqrt2_field();
  AlgebraicNumber s = gen(f);
  std::int64_t p = 1, d = 1;
  for (int i = 0; i < 30; ++i) {
    std::int64_t np = p + 2 * d, nd = p + d;
    p = np;
    d = nd;
    if (p > 3'000'000'000LL) break;
    int expected = (Int(2) * Int(d) * Int(d) - Int(p) * Int(p)).sign();
    EXPECT_EQ(*ok(s.sub(rat(q(p, d)))).sign(), expected) << p << "/" << d;
    EXPECT_EQ(*ok(rat(q(p, d)).sub(s)).sign(), -expected);
  }
  EXPECT_EQ(*ok(s.sub(rat(q(665857, 470832)))).sign(), -1);
  // Golden ratio against Fibonacci ratios F(n+1)/F(n), 1/F(n)² apart; past 64 bits as well.
  FieldRef g = field(fp({q(-1), q(-1), q(1)}), q(0), q(2));
  AlgebraicNumber phi = gen(g);
  Int a(1), b(1);
  for (int n = 2; n < 150; ++n) {
    Int c = a + b;
    a = b;
    b = c;
    Fraction ratio = *Fraction::make(b, a);
    // phi − b/a has the sign of b² − ab − a², the value of x² − x − 1 at b/a, negated.
    int got = *ok(phi.sub(AlgebraicNumber::rational(QQ(), ratio))).sign();
    EXPECT_EQ(got, -(b * b - a * b - a * a).sign()) << n;
  }
  // Zero is decided by the value and touches no interval.
  FieldRef h = sqrt2_field();
  AlgebraicNumber z = ok(ok(gen(h).mul(gen(h))).sub(rat(q(2))));
  EXPECT_EQ(*z.sign(), 0);
  EXPECT_EQ(*z.interval(), std::pair(q(0), q(0)));
  EXPECT_EQ(h->to_string(), "Q(root of x² + -2 in [0,3])");
  AlgebraicNumber neg = num(h, {q(1), q(-1)});  // 1 − sqrt(2)
  EXPECT_EQ(ok(neg.abs()).value(), fp({q(-1), q(1)}));
  EXPECT_EQ(ok(neg.abs()).field(), h);
}

TEST(AlgebraicNumber, FloatsAreCorrectlyRounded) {
  FieldRef qq = QQ();
  EXPECT_EQ(*rat(q(1, 3)).to_f64(), 1.0 / 3.0);
  EXPECT_EQ(*AlgebraicNumber().to_f64(), 0.0);
  // A rational number of an irrational field: exact, and nothing refined.
  FieldRef f = sqrt2_field();
  EXPECT_EQ(*AlgebraicNumber::rational(f, q(1, 10)).to_f64(), 0.1);
  EXPECT_EQ(f->to_string(), "Q(root of x² + -2 in [0,3])");
  auto r = *AlgebraicNumber::rational(f, q(1, 10)).interval();
  EXPECT_EQ(r.first, r.second);
  EXPECT_EQ(*gen(f).to_f64(), std::sqrt(2.0));
  FieldRef f5 = field(fp({q(-5), q(0), q(1)}), q(0), q(6));
  EXPECT_EQ(*gen(f5).to_f64(), std::sqrt(5.0));
  // a + b·sqrt(5) against an enclosure of sqrt(5) from integer square roots.
  auto [slo, shi] = sqrt_bounds(5, 300);
  std::mt19937_64 rng(3);
  for (int i = 0; i < 40; ++i) {
    Fraction a = q(static_cast<std::int64_t>(rng() % 2001) - 1000, 1 + static_cast<std::int64_t>(rng() % 97));
    Fraction b = q(1 + static_cast<std::int64_t>(rng() % 1000), 1 + static_cast<std::int64_t>(rng() % 97));
    double want = (a + b * slo).to_f64();
    ASSERT_EQ(want, (a + b * shi).to_f64());
    EXPECT_EQ(*num(f5, {a, b}).to_f64(), want);
  }
  // The golden ratio.
  EXPECT_EQ(*num(f5, {q(1, 2), q(1, 2)}).to_f64(), ((q(1) + slo) * q(1, 2)).to_f64());
}

// Threads hammer signs and floats of numbers of one fresh field, all starting at once; every
// answer is right and the shared interval ends narrower, still isolating alpha.
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
    EXPECT_LE(lo, hi_ref);
    EXPECT_GE(hi, lo_ref);
    EXPECT_LT(hi - lo, *Fraction::make(Int(1), Int::pow(Int(10), 30)));
  }
}

AlgebraicNumber root(const AlgebraicNumber& v, std::int64_t k) { return expect(v.root(Int(k)), "root"); }
AlgebraicNumber sqrt_of(std::int64_t n) { return root(AlgebraicNumber::constant(QQ(), n), 2); }
std::vector<AlgebraicNumber> joined(std::vector<AlgebraicNumber> v) {
  expect(common_field(v), "common field");
  for (const auto& x : v) EXPECT_EQ(x.field(), v[0].field());
  return v;
}
// x² == n exactly.
bool squares_to(const AlgebraicNumber& x, std::int64_t n) { return ok(x.mul(x)).eq(AlgebraicNumber::constant(QQ(), n)); }

TEST(Root, RationalRadicands) {
  AlgebraicNumber s2 = sqrt_of(2);
  EXPECT_EQ(s2.to_string(), "x in Q(root of x² + -2 in [0,3])");
  EXPECT_TRUE(squares_to(s2, 2));
  AlgebraicNumber two = sqrt_of(4);
  EXPECT_EQ(two.field()->degree(), 1u);
  EXPECT_TRUE(two.eq(AlgebraicNumber::constant(QQ(), 2)));
  AlgebraicNumber zero = sqrt_of(0);
  EXPECT_TRUE(zero.is_zero());
  EXPECT_EQ(zero.field()->degree(), 1u);
  AlgebraicNumber c2 = root(AlgebraicNumber::constant(QQ(), 2), 3);
  EXPECT_EQ(c2.field()->to_string(), "Q(root of x³ + -2 in [0,3])");
  EXPECT_EQ(*c2.to_f64(), std::cbrt(2.0));
  EXPECT_EQ(*root(rat(q(1, 4)), 2).to_f64(), 0.5);
  // Two roots of one number: distinct but equal fields.
  AlgebraicNumber again = sqrt_of(2);
  EXPECT_NE(again.field(), s2.field());
  EXPECT_TRUE(*NumberField::eq(again.field(), s2.field()));
  EXPECT_TRUE(again.eq(s2));
}

TEST(Root, IrrationalRadicands) {
  AlgebraicNumber s2 = sqrt_of(2);
  // sqrt(3 + 2·sqrt(2)) = 1 + sqrt(2), of degree 2, isolated from sqrt(2) − 1.
  AlgebraicNumber r = root(ok(rat(q(3)).add(ok(rat(q(2)).mul(s2)))), 2);
  EXPECT_EQ(r.field()->degree(), 2u);
  auto v = joined({r, ok(s2.add(rat(q(1))))});
  EXPECT_TRUE(v[0].eq(v[1]));
  EXPECT_EQ(v[0].field()->degree(), 2u);
  // k = 1 gives the number itself (negative here), in a field of its own.
  AlgebraicNumber x = ok(rat(q(1, 3)).sub(s2));
  AlgebraicNumber same = root(x, 1);
  EXPECT_NE(same.field(), x.field());
  auto w = joined({same, x});
  EXPECT_TRUE(w[0].eq(w[1]));
  // The fourth root of 2 squared is sqrt(2).
  AlgebraicNumber f = root(AlgebraicNumber::constant(QQ(), 2), 4);
  auto u = joined({ok(f.mul(f)), s2});
  EXPECT_TRUE(u[0].eq(u[1]));
  EXPECT_EQ(u[0].field()->degree(), 4u);
}

TEST(Root, RefusedAndNegativeRadicands) {
  AlgebraicNumber two = AlgebraicNumber::constant(QQ(), 2);
  EXPECT_EQ(two.root(Int(0)).error().kind, ErrorKind::Range);
  EXPECT_EQ(two.root(Int(-3)).error().message, "root index -3 must be at least 1");
  EXPECT_EQ(two.root(Int(kMaxFieldDegree + 1)).error().kind, ErrorKind::Range);
  EXPECT_EQ(two.root(Int(1).shl(100)).error().kind, ErrorKind::Range);
  // k·d beyond the limit is refused before x^k − v is formed.
  std::vector<Fraction> m(201);
  m[0] = q(-2);
  m[200] = q(1);
  AlgebraicNumber big = gen(field(FracPoly(m), q(1), q(2)));
  EXPECT_EQ(big.root(Int(2)).error().message,
            "root of index 2 in a field of degree 200 exceeds the field degree limit of 256");
  // Even roots of negative numbers have no real value; odd ones are negative.
  expect_error(AlgebraicNumber::constant(QQ(), -2).root(Int(2)), ErrorKind::Other, "Interval must contain exactly one root");
  expect_error(ok(rat(q(1)).sub(sqrt_of(2))).root(Int(4)), ErrorKind::Other, "Interval must contain exactly one root");
  AlgebraicNumber c = root(AlgebraicNumber::constant(QQ(), -8), 3);
  EXPECT_TRUE(c.eq(AlgebraicNumber::constant(QQ(), -2)));
  AlgebraicNumber d = root(AlgebraicNumber::constant(QQ(), -2), 3);
  EXPECT_EQ(*d.sign(), -1);
  EXPECT_TRUE(ok(ok(d.mul(d)).mul(d)).eq(AlgebraicNumber::constant(QQ(), -2)));
  EXPECT_EQ(*d.to_f64(), -std::cbrt(2.0));
}

TEST(CommonField, TrivialArrays) {
  std::vector<AlgebraicNumber> none;
  EXPECT_TRUE(common_field(none));
  AlgebraicNumber s2 = sqrt_of(2);
  std::vector<AlgebraicNumber> one{s2};
  EXPECT_TRUE(common_field(one));
  EXPECT_EQ(one[0].field(), s2.field());
  auto same = joined({s2, ok(s2.add(rat(q(1)))), s2.neg()});
  EXPECT_EQ(same[0].field(), s2.field());
  EXPECT_EQ(same[1].value(), fp({q(1), q(1)}));
  // Equal but distinct objects: the later numbers move into the first object unchanged.
  AlgebraicNumber other = ok(sqrt_of(2).mul(rat(q(3))));
  auto moved = joined({s2, other});
  EXPECT_EQ(moved[1].field(), s2.field());
  EXPECT_EQ(moved[1].value(), fp({q(0), q(3)}));
}

TEST(CommonField, RationalsJoinWithoutGrowth) {
  AlgebraicNumber s5 = sqrt_of(5);
  for (bool rational_first : {true, false}) {
    AlgebraicNumber r = rat(q(-7, 3));
    auto v = rational_first ? joined({r, s5}) : joined({s5, r});
    EXPECT_EQ(v[0].field(), s5.field());
    EXPECT_TRUE(v[rational_first ? 0 : 1].eq(r));
    EXPECT_EQ(v[rational_first ? 0 : 1].value(), fp({q(-7, 3)}));
  }
  // (5 + 3·sqrt(5))/10 against sqrt(5) spelled as the generator of Q(1 + sqrt(5)).
  AlgebraicNumber golden = ok(ok(rat(q(5)).add(ok(rat(q(3)).mul(s5)))).div(rat(q(10))));
  AlgebraicNumber one_plus = root(ok(rat(q(6)).add(ok(rat(q(2)).mul(s5)))), 2);
  auto v = joined({golden, ok(one_plus.sub(rat(q(1))))});
  EXPECT_EQ(v[0].field(), s5.field());
  EXPECT_EQ(v[1].value(), fp({q(0), q(1)}));
  EXPECT_EQ(v[0].value(), fp({q(1, 2), q(3, 10)}));
}

TEST(CommonField, PrimitiveElements) {
  AlgebraicNumber s2 = sqrt_of(2), s3 = sqrt_of(3);
  auto v = joined({s2, s3});
  const FieldRef& k = v[0].field();
  EXPECT_EQ(k->degree(), 4u);
  EXPECT_EQ(primitive_integer(k->minimal_polynomial()), primitive_integer(fp({q(1), q(0), q(-10), q(0), q(1)})));
  EXPECT_TRUE(squares_to(v[0], 2));
  EXPECT_TRUE(squares_to(v[1], 3));
  EXPECT_EQ(*v[0].to_f64(), std::sqrt(2.0));
  EXPECT_EQ(*v[1].to_f64(), std::sqrt(3.0));
  EXPECT_NEAR(*ok(v[0].add(v[1])).to_f64(), 3.14626436994197, 1e-12);
  // Two spellings of one number: sqrt(2) + sqrt(3) and sqrt(5 + 2·sqrt(6)).
  AlgebraicNumber nested = root(ok(rat(q(5)).add(ok(rat(q(2)).mul(sqrt_of(6))))), 2);
  auto w = joined({ok(v[0].add(v[1])), nested});
  EXPECT_TRUE(w[0].eq(w[1]));
  EXPECT_EQ(*ok(w[0].sub(w[1])).sign(), 0);
  // sqrt(3) − sqrt(2) is the other positive root of the same polynomial.
  auto z = joined({ok(v[1].sub(v[0])), nested});
  EXPECT_FALSE(z[0].eq(z[1]));
  // 2·sqrt(2) as the generator of x² − 8 lands in the first field as 2x.
  AlgebraicNumber eight = gen(field(fp({q(-8), q(0), q(1)}), q(0), q(3)));
  auto e = joined({s2, eight});
  EXPECT_EQ(e[0].field(), s2.field());
  EXPECT_EQ(e[1].value(), fp({q(0), q(2)}));
  // Three fields: the first two are rewritten again when the third joins.
  AlgebraicNumber s5 = sqrt_of(5);
  auto t = joined({s2, ok(s3.add(rat(q(1)))), s5, rat(q(4))});
  EXPECT_EQ(t[0].field()->degree(), 8u);
  EXPECT_TRUE(squares_to(t[0], 2));
  EXPECT_TRUE(squares_to(ok(t[1].sub(rat(q(1)))), 3));
  EXPECT_TRUE(squares_to(t[2], 5));
  EXPECT_TRUE(t[3].eq(rat(q(4))));
  EXPECT_EQ(*ok(ok(t[0].mul(t[1])).mul(t[2])).sign(), 1);
}

TEST(CommonField, DegreeLimit) {
  auto pure = [](std::int64_t c, std::size_t n) {
    std::vector<Fraction> m(n + 1);
    m[0] = q(-c);
    m[n] = q(1);
    return gen(field(FracPoly(m), q(1), q(2)));
  };
  std::vector<AlgebraicNumber> v{pure(2, 32), pure(3, 32)};
  FieldRef before = v[1].field();
  auto r = common_field(v);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "common field of fields of degree 32 and 32 exceeds the field degree limit of 256");
  EXPECT_EQ(v[1].field(), before);
}

}  // namespace
}  // namespace gy
