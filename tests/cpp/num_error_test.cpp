#include <gtest/gtest.h>

#include "num/error.hpp"

namespace gy {
namespace {

TEST(Error, DebugTextQuotesAndEscapes) {
  EXPECT_EQ(Error::range("").fmt_debug(), "Range(\"\")");
  EXPECT_EQ(Error::range("Division by zero").fmt_debug(), "Range(\"Division by zero\")");
  EXPECT_EQ(Error::other("a\"b\\c").fmt_debug(), "Other(\"a\\\"b\\\\c\")");
  EXPECT_EQ(Error::parse(std::string("x\0\t\r\n", 5)).fmt_debug(), "Parse(\"x\\0\\t\\r\\n\")");
  EXPECT_EQ(Error::state("\x01\x7f").fmt_debug(), "State(\"\\u{1}\\u{7f}\")");
  EXPECT_EQ(Error::type("caf\xc3\xa9").fmt_debug(), "Type(\"caf\xc3\xa9\")");
  EXPECT_EQ(Error::division("m").fmt_debug(true), "Division(\n    \"m\",\n)");
}

// Names also escape what combines with its neighbours; both forms escape what does not print.
TEST(Error, NamesEscapeCombiningCharacters) {
  const std::string text = "a\u0301\u200b\ufeff\u00a0 \ufffd\U000E0001\u00e9";
  EXPECT_EQ(quote_name(text), "\"a\\u{301}\\u{200b}\\u{feff}\\u{a0} \ufffd\\u{e0001}\u00e9\"");
  EXPECT_EQ(quote_debug(text), "\"a\u0301\\u{200b}\\u{feff}\\u{a0} \ufffd\\u{e0001}\u00e9\"");
}

TEST(Error, TruncatedUtf8DoesNotReadPastTheEnd) {
  std::string s = "ab\xe2\x82";
  EXPECT_EQ(Error::other(s).fmt_debug(), "Other(\"ab\\u{fffd}\\u{fffd}\")");
}

Result<int> half(int x) {
  if (x % 2) return fail(ErrorKind::Range, cat("odd value ", x));
  return x / 2;
}

Result<int> quarter(int x) {
  int h = GY_TRY(half(x));
  return GY_TRY(half(h));
}

TEST(Error, TryPropagatesTheFirstFailure) {
  EXPECT_EQ(*quarter(8), 2);
  auto r = quarter(6);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), Error::range("odd value 3"));
}

TEST(Error, BrokenInvariantReportsContextAndDebugText) {
  try {
    expect(Result<int>(fail(Error::range("Division by zero"))), "fraction(): zero denominator");
    FAIL();
  } catch (const Panic& p) {
    EXPECT_STREQ(p.what(), "fraction(): zero denominator: Range(\"Division by zero\")");
  }
}

}  // namespace
}  // namespace gy
