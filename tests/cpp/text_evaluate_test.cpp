#include "exact.hpp"
#include "parse.hpp"

#include "num/interrupt.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace gy {
namespace {

Result<AlgebraicNumber> eval(std::string_view text) {
  Expr e = GY_TRY(parse_expr(text));
  return evaluate_expr(e);
}

double value(std::string_view text) {
  auto r = eval(text);
  EXPECT_TRUE(r.has_value()) << text << ": " << (r ? "" : r.error().message);
  return r ? *r->to_f64() : NAN;
}

std::string error(std::string_view text) {
  auto r = eval(text);
  EXPECT_FALSE(r.has_value()) << text;
  return r ? "" : r.error().message;
}

bool equal(std::string_view a, std::string_view b) {
  std::vector<AlgebraicNumber> v{*eval(a), *eval(b)};
  EXPECT_TRUE(common_field(v).has_value());
  return v[0].eq(v[1]);
}

TEST(Evaluate, PowersAndRoots) {
  EXPECT_EQ(value("-2^2"), -4);
  EXPECT_EQ(value("(-2)^2"), 4);
  EXPECT_EQ(value("2^3^2"), 512);
  EXPECT_EQ(value("2^0"), 1);
  EXPECT_EQ(value("0^0"), 1);
  EXPECT_FALSE(eval("2^-1").has_value());
  EXPECT_EQ(value("4^(1/2)"), 2);
  EXPECT_EQ(value("8^(2/3)"), 4);
  EXPECT_EQ(value("(-2)^3"), -8);
  EXPECT_EQ(error("(-8)^(1/3)"), "exponent of negative number must be an integer");
  EXPECT_EQ(error("2^sqrt(2)"), "exponent must be a fraction");
  EXPECT_EQ(value("1.5"), 1.5);
  // Rational results of roots stay rational.
  EXPECT_TRUE(eval("8^(2/3)")->is_rational());
  EXPECT_EQ(eval("sqrt(9/4)")->field()->degree(), 1u);
}

TEST(Evaluate, FieldsAndErrors) {
  EXPECT_DOUBLE_EQ(value("sqrt(5)/5"), std::sqrt(5.0) / 5);
  EXPECT_DOUBLE_EQ(value("(5+3*sqrt(5))/10"), (5 + 3 * std::sqrt(5.0)) / 10);
  EXPECT_TRUE(equal("sqrt(2)+sqrt(3)", "sqrt(5+2*sqrt(6))"));
  EXPECT_FALSE(equal("sqrt(2)+sqrt(3)", "sqrt(5+2*sqrt(6))+1/1000000000000"));
  // A number of the field of sqrt(5) does not grow it.
  EXPECT_EQ(eval("(5+3*sqrt(5))/10*sqrt(5)")->field()->degree(), 2u);
  EXPECT_DOUBLE_EQ(value("cbrt(2)*cbrt(4)"), 2);
  EXPECT_EQ(value("neg(3)"), -3);
  EXPECT_EQ(error("x"), "unknown operation 'x'");
  EXPECT_EQ(error("sin(1)"), "unknown operation 'sin'");
  EXPECT_EQ(error("num(3)"), "num without a value");
  EXPECT_EQ(error("sqrt"), "sqrt must have an argument");
  EXPECT_EQ(error("cbrt"), "cbrt must have an argument");
  // An error inside the argument of an unknown call comes first.
  EXPECT_EQ(error("sin(x)"), "unknown operation 'x'");
  EXPECT_NE(error("1/(sqrt(2)-sqrt(2))").find("Division by zero"), std::string::npos);
  EXPECT_EQ(evaluate_expr(Expr::make("$scale")).error().message, "unknown operation '$scale'");
}

// Chains of any length evaluate left to right in a loop; nesting through parentheses is bounded.
TEST(Evaluate, LongChains) {
  std::string sum = "0", product = "1", mixed = "1";
  for (int i = 1; i <= 50'000; ++i) {
    sum += (i % 3 ? "+" : "-") + std::to_string(i % 7);
    product += i % 2 ? "*3" : "/3";
    mixed += "-1/2*2";
  }
  // Σ ±(i mod 7): the terms with i ≡ 0 (mod 3) subtract.
  std::int64_t want = 0;
  for (int i = 1; i <= 50'000; ++i) want += (i % 3 ? 1 : -1) * (i % 7);
  EXPECT_TRUE(eval(sum)->eq(AlgebraicNumber::constant(QQ(), want)));
  EXPECT_TRUE(eval(product)->eq(AlgebraicNumber::constant(QQ(), 1)));
  EXPECT_TRUE(eval(mixed)->eq(AlgebraicNumber::constant(QQ(), -49'999)));
  EXPECT_TRUE(eval("2*3-4/2+sqrt(2)*sqrt(2)-1")->eq(AlgebraicNumber::constant(QQ(), 5)));
  // The first failure along a chain is the one reported.
  EXPECT_EQ(error("1+2+x+y"), "unknown operation 'x'");
  EXPECT_NE(error("1+1/0+y").find("Division by zero"), std::string::npos);
  // A tree nested deeper than the evaluator allows is refused, not recursed into.
  Expr deep = Expr::number(Fraction(Int(1)));
  for (std::size_t i = 0; i <= kMaxTreeDepth; ++i) {
    std::vector<Expr> args;
    args.push_back(std::move(deep));
    deep = Expr::make("neg", std::move(args));
  }
  EXPECT_EQ(evaluate_expr(deep).error().message, "expression nested too deeply");
}

// Powers and roots that the arithmetic could refuse only after minutes of work (or never, growing
// without end) are refused at once.
TEST(Evaluate, HopelessPowersRefusedAtOnce) {
  const double limit = std::getenv("GYRELLE_SANITIZED") ? 40 : 2;
  const std::string index = "root of index 1220703125 in a field of degree 1 exceeds the field degree limit of 256";
  const std::pair<const char*, Error> cases[] = {
      // A root past the degree limit of a rational power within the bounds, which is not computed.
      {"275-(45/6)^0.8^13", Error::range(index)},
      // A root of a rational power past the factoring bound, which is not computed either.
      {"(7.2^(451730+8.23))^0.01", Error::range("polynomial coefficient bits 233545277 exceeds the factoring limit of 65536")},
      // An index of 258 million bits, named by its size rather than in decimal.
      {"9598^(6/44^47344331/5)", Error::range("root of index 2^258473138 or more in a field of degree 1 exceeds the "
                                              "field degree limit of 256")},
  };
  for (const auto& [text, want] : cases) {
    const auto start = std::chrono::steady_clock::now();
    auto r = eval(text);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(r.has_value()) << text;
    EXPECT_EQ(r.error(), want) << text;
    EXPECT_LT(took.count(), limit) << text;
  }
  // Past the integer bound: a monomial, whose one coefficient is known (also where it grows through
  // the field's own numbers), and others, through the real value or the primes of the
  // denominators. The refusal is the product's, as the power's own estimate gives it.
  for (const char* text : {"(((747^3)^0.01)^409)^(330^3)", "((1.451)/sqrt(3))^(4.2^6)", "sqrt(13*866.10)^12^7",
                           "(sqrt(3)+2)^250000000", "(sqrt(3)/7+1/7)^250000000"}) {
    const auto start = std::chrono::steady_clock::now();
    try {
      (void)eval(text);
      ADD_FAILURE() << text << " was not refused";
    } catch (const MemoryRefusal& e) {
      EXPECT_THAT(e.what(), ::testing::MatchesRegex("a product of [0-9]+ bits or more exceeds the limit of 268435456 bits of an integer")) << text;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took.count(), limit) << text;
  }
  // Powers within the bounds are computed as before.
  EXPECT_EQ(value("(sqrt(3)/2)^1000000"), 0);
  EXPECT_TRUE(eval("(sqrt(2)+1)^100000")->value().degree() == 1);
  EXPECT_DOUBLE_EQ(value("((0.41^0.5)^(3/4))^16"), std::pow(0.41, 6));
}

// Where the early refusal stands in for the arithmetic's own, near the bounds where the arithmetic
// is quick, both give the same error.
TEST(Evaluate, EarlyRefusalsAreTheArithmetics) {
  auto arithmetic = [](const char* base, std::int64_t p, std::int64_t q) -> Result<AlgebraicNumber> {
    AlgebraicNumber b = GY_TRY(eval(base));
    AlgebraicNumber r = GY_TRY(AlgebraicNumber::pow(b.field(), b, Int(p)));
    return q == 1 ? r : r.root(Int(q));
  };
  const std::tuple<const char*, const char*, std::int64_t, std::int64_t> cases[] = {
      {"7.2^(13601/100)", "7.2", 13601, 100},   // a numerator past the factoring bound
      {"(1/3)^(44201/2)", "1/3", 44201, 2},     // a denominator past it
      {"sqrt(3^44200)", "3^44200", 1, 2},
      {"cbrt(-(3^44200))", "-(3^44200)", 1, 3}, // an odd root of a negative number
      {"(45/6)^(7/300)", "45/6", 7, 300},       // a root past the degree limit
  };
  for (const auto& [text, base, p, q] : cases) {
    auto early = eval(text), slow = arithmetic(base, p, q);
    ASSERT_FALSE(early.has_value()) << text;
    ASSERT_FALSE(slow.has_value()) << text;
    EXPECT_EQ(early.error(), slow.error()) << text;
  }
  // Just within the factoring bound the root is taken; a radicand past the integer bound is refused
  // by the root's first product, at once, as before.
  EXPECT_TRUE(eval("sqrt(3^41000)").has_value());
  EXPECT_THROW((void)eval("sqrt(2^268435456)"), MemoryRefusal);
}

// Large rational powers are carried unformed through powers, roots, products and quotients: a step
// the bounds refuse is refused at once with the arithmetic's own error, and a number that is needed
// is the one the arithmetic forms.
TEST(Evaluate, LargeRationalPowersPutOff) {
  const double limit = std::getenv("GYRELLE_SANITIZED") ? 40 : 2;
  const auto start = std::chrono::steady_clock::now();
  // The square root refuses 71.11^(6^9), whose numerator has 128952553 bits, at the factoring bound.
  EXPECT_EQ(error("sqrt(71.11^6^9)^3"), "polynomial coefficient bits 128952553 exceeds the factoring limit of 65536");
  EXPECT_EQ(error("((7/3)^40000)^7000"), "exponent too large");
  // Through sums, where one term's size fixes the numerator's.
  EXPECT_EQ(error("(757580^9170501+(0.8-87))^1.5"), "exponent too large");
  EXPECT_EQ(error("(1+((21*8)^281^3))^0.5"), "polynomial coefficient bits 164021043 exceeds the factoring limit of 65536");
  // As exponents: refused by the power of any base but 0 and ±1, after the base's sign.
  EXPECT_EQ(error("647^(238093^19)^594^2"), "exponent too large");
  EXPECT_EQ(error("sqrt(2)^(3^70000)"), "exponent too large");
  EXPECT_EQ(error("(-2)^(3^70000/2)"), "exponent of negative number must be an integer");
  EXPECT_EQ(error("(sqrt(2)-2)^(-(3^70000))"), "");
  EXPECT_EQ(value("(-1)^(3^70000)"), -1);
  // Both parts of the product pass the integer bound; Fraction's product forms the denominators'
  // first, 2^160000000 times 7^40000000, and is refused there.
  for (const char* text : {"(3/2)^160000000*(5/7)^40000000", "(3/2)^160000000/(7/5)^40000000"})
    try {
      (void)eval(text);
      ADD_FAILURE() << text << " was not refused";
    } catch (const MemoryRefusal& e) {
      EXPECT_STREQ(e.what(), "a product of 272294197 bits or more exceeds the limit of 268435456 bits of an integer") << text;
    }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took.count(), limit);

  auto power = [](std::int64_t n, std::int64_t d, std::int64_t e) {
    const AlgebraicNumber b = AlgebraicNumber::rational(QQ(), *Fraction::make(Int(n), Int(d)));
    return *AlgebraicNumber::pow(QQ(), b, Int(e));
  };
  const AlgebraicNumber want = power(7, 3, 40000).mul(power(-2, 5, 30001))->div(power(11, 13, 20000))->neg();
  const auto got = eval("-((7/3)^40000*(-2/5)^30001/(11/13)^20000)");
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->field() == want.field() && got->value() == want.value());
  const AlgebraicNumber difference = *power(3, 1, 70000).sub(AlgebraicNumber::rational(QQ(), *Fraction::make(Int(2), Int(5))));
  const AlgebraicNumber square = *AlgebraicNumber::pow(QQ(), *power(1, 7, 1).sub(difference), Int(2));
  const auto sum = eval("(1/7-(3^70000-2/5))^2");
  ASSERT_TRUE(sum.has_value());
  EXPECT_TRUE(sum->value() == square.value());

  // Against a zero of any field, the product's and the quotient's value, field and errors.
  const AlgebraicNumber big = power(17, 50, 60000);
  for (const char* zero : {"0", "sqrt(0)", "sqrt(2)-sqrt(2)"})
    for (const bool zero_first : {true, false})
      for (const char op : {'*', '/'}) {
        const std::string text = zero_first ? cat("(", zero, ")", op, "0.34^60000") : cat("0.34^60000", op, "(", zero, ")");
        std::vector<AlgebraicNumber> both{*eval(zero), big};
        if (!zero_first) std::swap(both[0], both[1]);
        ASSERT_TRUE(common_field(both).has_value());
        const auto slow = op == '*' ? both[0].mul(both[1]) : both[0].div(both[1]);
        const auto early = eval(text);
        ASSERT_EQ(early.has_value(), slow.has_value()) << text;
        if (early)
          EXPECT_TRUE(early->field()->to_string() == slow->field()->to_string() && early->is_zero() && slow->is_zero()) << text;
        else
          EXPECT_EQ(early.error(), slow.error()) << text;
      }
}

// A divisor of another field than the dividend's is inverted in its own field where that is cheaper,
// and a rational divisor is turned over: the quotient, its field and its text are those of joining
// first and dividing in the joined field.
TEST(Evaluate, QuotientsAcrossFields) {
  for (const auto& [x, y] : {std::pair{"2^0.1", "sqrt(10.95)"}, {"sqrt(5)+cbrt(2)", "sqrt(3)-1"}, {"(0.5^0.05)", "2*sqrt(493)"},
                             {"sqrt(3)", "2^0.1"}, {"sqrt(2)", "sqrt(2)-sqrt(2)"}, {"sqrt(2)+1", "-(7/3)^5000"},
                             {"2/3", "(0.63-345)^20001"}, {"5", "sqrt(2)-sqrt(2)+1/7"}}) {
    std::vector<AlgebraicNumber> both{*eval(x), *eval(y)};
    ASSERT_TRUE(common_field(both).has_value());
    const auto want = both[0].div(both[1]);
    const auto got = eval(std::string("(") + x + ")/(" + y + ")");
    ASSERT_EQ(got.has_value(), want.has_value()) << x << " / " << y;
    if (!got) {
      EXPECT_EQ(got.error(), want.error());
      continue;
    }
    EXPECT_EQ(got->field()->minimal_polynomial(), want->field()->minimal_polynomial()) << x << " / " << y;
    EXPECT_EQ(got->value(), want->value()) << x << " / " << y;
    EXPECT_EQ(got->to_string(), want->to_string()) << x << " / " << y;
  }
}

// Evaluation stops at a poll point once its call is to stop, also inside a long chain.
TEST(Evaluate, StopsWhenAsked) {
  std::string sum = "1";
  for (int i = 0; i < 20'000; ++i) sum += "*sqrt(4)/2";  // far longer than the watch's interval
  Expr e = *parse_expr(sum);
  int asked = 0;
  Watch watch([](void* n) { return ++*static_cast<int*>(n) > 0; }, &asked);
  EXPECT_THROW((void)evaluate_expr(e), Interrupted);
  EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace gy
