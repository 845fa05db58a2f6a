#include "parse.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>

namespace gy {
namespace {

std::string parse_error(std::string_view text) {
  auto r = parse_expr(text);
  if (r) return "(parsed)";
  EXPECT_EQ(r.error().kind, ErrorKind::Parse) << text;
  return r.error().message;
}

// The tree of a text, printed back at the outermost level.
std::string reprint(std::string_view text) {
  auto e = parse_expr(text);
  if (!e) return "(error) " + e.error().message;
  auto s = generateExpr(*e, 10);
  return s ? *s : "(error) " + s.error().message;
}

Expr num(std::int64_t n, std::int64_t d = 1) { return Expr::number(fraction(n, d)); }
Expr node(std::string_view op, std::vector<Expr> args) { return Expr::make(op, std::move(args)); }

TEST(Expr, TokenizerRefusals) {
  EXPECT_EQ(parse_error(""), "Unexpected end of expression");
  EXPECT_EQ(parse_error("   "), "Unexpected end of expression");
  EXPECT_EQ(parse_error("\u3000\u00a0\t"), "Unexpected end of expression");
  EXPECT_EQ(parse_error("1."), "Unexpected character <code>.</code>");
  EXPECT_EQ(parse_error(".5"), "Unexpected character <code>.</code>");
  EXPECT_EQ(parse_error("f(1,2)"), "Unexpected character <code>,</code>");
  EXPECT_EQ(parse_error("2%3"), "Unexpected character <code>%</code>");
  EXPECT_EQ(parse_error("\u00e9"), "Unexpected character <code>\u00e9</code>");  // no non-ASCII names
  EXPECT_EQ(parse_error("1+\xff"), "Unexpected character <code>\ufffd</code>");  // malformed UTF-8
  EXPECT_EQ(parse_error("\xe2\x80"), "Unexpected character <code>\ufffd</code>");  // truncated sequence
  EXPECT_EQ(parse_error(std::string("1\0", 2)), std::string("Unexpected character <code>\0</code>", 35));
}

TEST(Expr, NumberLiterals) {
  EXPECT_EQ(reprint("1.5"), "3/2");
  EXPECT_EQ(reprint("0.50"), "1/2");
  EXPECT_EQ(reprint(" 2 "), "2");
  EXPECT_EQ(reprint("007.250"), "29/4");
  EXPECT_EQ(reprint("9223372036854775807"), "9223372036854775807");
  EXPECT_EQ(reprint("0.000000000000000001"), "1/1000000000000000000");  // 18 fraction digits fit
  EXPECT_EQ(parse_error("9223372036854775808"), "Number out of range: <code>9223372036854775808</code>");
  EXPECT_EQ(parse_error("99999999999999999999"), "Number out of range: <code>99999999999999999999</code>");
  EXPECT_EQ(parse_error("1.99999999999999999999"), "Number out of range: <code>99999999999999999999</code>");
  // 10^19 and the numerator overflow while both digit runs fit: the literal is shown whole.
  EXPECT_EQ(parse_error("1.0000000000000000001"), "Number out of range: <code>1.0000000000000000001</code>");
  EXPECT_EQ(parse_error("922337203685477581.0"), "Number out of range: <code>922337203685477581.0</code>");
  EXPECT_EQ(reprint("922337203685477580.7"), "9223372036854775807/10");
  // A literal is never negative; the minus is an operator.
  auto e = parse_expr("-3");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->op, "neg");
}

TEST(Expr, ParserRefusals) {
  EXPECT_EQ(parse_error("1 2"), "Expected end of string, but found <code>2</code>");
  EXPECT_EQ(parse_error("2x"), "Expected end of string, but found <code>$x</code>");
  EXPECT_EQ(parse_error("1 2.5"), "Expected end of string, but found <code>5/2</code>");
  EXPECT_EQ(parse_error("+2"), "Unexpected <code>+</code>");
  EXPECT_EQ(parse_error("2*)"), "Unexpected <code>)</code>");
  EXPECT_EQ(parse_error("(1"), "Expected <code>)</code>, but reached end of expression");
  EXPECT_EQ(parse_error("(1 2"), "Expected <code>)</code>, but found <code>2</code>");
  EXPECT_EQ(parse_error("sqrt(2"), "Expected <code>)</code>, but reached end of expression");
  EXPECT_EQ(parse_error("1+"), "Unexpected end of expression");
  EXPECT_EQ(parse_error("2^"), "Unexpected end of expression");
}

TEST(Expr, GrammarShapes) {
  auto tree = [](std::string_view text) { return *parse_expr(text); };
  EXPECT_EQ(tree("-2^2"), node("neg", {node("^", {num(2), num(2)})}));
  EXPECT_EQ(tree("(-2)^2"), node("^", {node("neg", {num(2)}), num(2)}));
  EXPECT_EQ(tree("2^3^2"), node("^", {num(2), node("^", {num(3), num(2)})}));
  EXPECT_EQ(tree("2^-1"), node("^", {num(2), node("neg", {num(1)})}));
  EXPECT_EQ(tree("1-2-3"), node("-", {node("-", {num(1), num(2)}), num(3)}));
  EXPECT_EQ(tree("1/2/3"), node("/", {node("/", {num(1), num(2)}), num(3)}));
  EXPECT_EQ(tree("1+2*3"), node("+", {num(1), node("*", {num(2), num(3)})}));
  EXPECT_EQ(tree("sqrt(5)/5"), node("/", {node("sqrt", {num(5)}), num(5)}));
  EXPECT_EQ(tree("sqrt"), node("sqrt", {}));
  EXPECT_EQ(tree("x_1 "), node("x_1", {}));
  EXPECT_EQ(tree("f(x)^2"), node("^", {node("f", {node("x", {})}), num(2)}));
  // Structural equality tells a quotient from a number of the same value.
  EXPECT_FALSE(tree("1/2") == tree("0.5"));
  EXPECT_FALSE(tree("1/2") == tree("2/4"));
  EXPECT_TRUE(tree("0.5") == Expr::number(fraction(1, 2)));
}

TEST(Expr, PrinterCases) {
  EXPECT_EQ(reprint("(1+2)*3"), "(1+2)*3");
  EXPECT_EQ(reprint("1+(2+3)"), "1+(2+3)");
  EXPECT_EQ(reprint("(1+2)+3"), "1+2+3");
  EXPECT_EQ(reprint("-(2^2)"), "-2^2");
  EXPECT_EQ(reprint("(-2)^2"), "(-2)^2");
  EXPECT_EQ(reprint("-(2*3)"), "-(2*3)");
  EXPECT_EQ(reprint("(2^3)^2"), "(2^3)^2");
  EXPECT_EQ(reprint("2^1.5"), "2^(3/2)");
  EXPECT_EQ(reprint("cbrt(2)"), "cbrt(2)");
  EXPECT_EQ(reprint("sqrt((1+2))"), "sqrt(1+2)");
  EXPECT_EQ(reprint("x"), "(error) generateExpr: invalid operation 'x'");
  EXPECT_EQ(reprint("sin(1)"), "(error) generateExpr: invalid operation 'sin'");
  EXPECT_EQ(reprint("1+sqrt"), "(error) generateExpr: sqrt must have one argument");
  EXPECT_EQ(reprint("neg"), "(error) generateExpr: neg must have one argument");

  auto print = [](const Expr& e, unsigned context = 10) { return *generateExpr(e, context); };
  EXPECT_EQ(print(num(-3)), "-3");
  EXPECT_EQ(print(num(-3), 1), "(-3)");
  EXPECT_EQ(print(num(3, 2), 4), "3/2");
  EXPECT_EQ(print(num(3, 2), 3), "(3/2)");
  EXPECT_EQ(print(node("^", {num(-2), num(-1, 2)})), "(-2)^(-1/2)");
  EXPECT_EQ(print(node("-", {num(1), num(-3)})), "1--3");
  EXPECT_EQ(generateExpr(Expr::make("num")).error().message, "generateExpr: num without a value");
  EXPECT_EQ(reprint("num(3)"), "(error) generateExpr: num without a value");
  EXPECT_EQ(generateExpr(Expr::make("$scale")).error().message, "generateExpr: invalid operation '$scale'");
  EXPECT_EQ(generateExpr(node("+", {num(1)})).error().message, "generateExpr: + must have two arguments");
}

// Random trees over the printable operations with non-negative integer leaves read back as the
// very same tree, and no pair of parentheses in the text can be dropped.
TEST(Expr, PrintParseRoundTrip) {
  std::mt19937_64 rng(20240611);
  const char* binary[] = {"+", "-", "*", "/", "^"};
  std::function<Expr(int)> random_tree = [&](int depth) -> Expr {
    int pick = depth == 0 ? 0 : static_cast<int>(rng() % 9);
    if (pick == 0) return num(static_cast<std::int64_t>(rng() % 12));
    if (pick <= 5) return node(binary[pick - 1], {random_tree(depth - 1), random_tree(depth - 1)});
    if (pick == 6) return node("neg", {random_tree(depth - 1)});
    return node(pick == 7 ? "sqrt" : "cbrt", {random_tree(depth - 1)});
  };
  for (int round = 0; round < 3000; ++round) {
    Expr tree = random_tree(1 + round % 6);
    std::string text = *generateExpr(tree);
    auto back = parse_expr(text);
    ASSERT_TRUE(back) << text;
    ASSERT_TRUE(*back == tree) << text;
    // Minimal parentheses: removing any one pair changes the tree or breaks the text.
    for (std::size_t open = 0; open < text.size(); ++open) {
      if (text[open] != '(' || (open > 0 && (text[open - 1] == 't'))) continue;  // keep call parentheses
      int level = 0;
      std::size_t close = open;
      for (; close < text.size(); ++close) {
        level += text[close] == '(' ? 1 : text[close] == ')' ? -1 : 0;
        if (level == 0) break;
      }
      std::string stripped = text.substr(0, open) + text.substr(open + 1, close - open - 1) + text.substr(close + 1);
      auto other = parse_expr(stripped);
      EXPECT_TRUE(!other || !(*other == tree)) << text << " -> " << stripped;
    }
  }
}

// Numbers that print as quotients or negations read back as other trees; printing is then stable.
TEST(Expr, PrintingIsStable) {
  for (std::string_view text : {"2^0.5", "-1.25*3", "2^-0.5", "(0-1.5)^2", "1--2.5", "sqrt(0.75)/-2"}) {
    std::string once = reprint(text);
    EXPECT_EQ(reprint(once), once) << text;
  }
  EXPECT_EQ(*generateExpr(node("*", {num(2), num(-3, 4)})), "2*(-3/4)");
  EXPECT_EQ(reprint("2*(-3/4)"), "2*(-3/4)");
}

TEST(Expr, NestingBounds) {
  auto nested = [](std::size_t n) { return std::string(n, '(') + "1" + std::string(n, ')'); };
  EXPECT_EQ(reprint(nested(kMaxParseDepth - 1)), "1");
  EXPECT_EQ(parse_error(nested(kMaxParseDepth)), "expression nested too deeply");
  EXPECT_EQ(parse_error(std::string(1'000'000, '(')), "expression nested too deeply");
  EXPECT_EQ(parse_error(std::string(1'000'000, '-') + "1"), "expression nested too deeply");
  std::string powers = "2";
  for (std::size_t i = 0; i < 100'000; ++i) powers += "^2";
  EXPECT_EQ(parse_error(powers), "expression nested too deeply");

  // A flat chain is one level however long, and prints back as it was read; the parentheses and
  // exponents inside its operands still count.
  for (std::string_view link : {"+1", "-2", "*3", "/4", "+2*3", "-2^2"}) {
    std::string chain = "1";
    for (std::size_t i = 0; i < 100'000; ++i) chain += link;
    EXPECT_EQ(reprint(chain), chain) << link;
  }
  EXPECT_EQ(reprint("1+(2+3)+4-(5-6)"), "1+(2+3)+4-(5-6)");
  EXPECT_EQ(parse_error("1+2+" + nested(kMaxParseDepth)), "expression nested too deeply");
  EXPECT_EQ(reprint("1*2+" + nested(kMaxParseDepth - 1)), "1*2+1");
}

// Trees built in code may be arbitrarily high: copying, comparing and destroying them must not
// recurse, and the printer refuses them.
TEST(Expr, DeepTreesInCode) {
  const std::size_t height = std::getenv("GYRELLE_SANITIZED") ? 100'000 : 1'000'000;
  Expr deep = num(1);
  for (std::size_t i = 0; i < height; ++i) {
    std::vector<Expr> args;
    if (i % 2 == 0) args.push_back(num(2));
    args.push_back(std::move(deep));
    deep = Expr::make(i % 2 ? "neg" : "+", std::move(args));
  }
  Expr copy = deep;
  EXPECT_TRUE(copy == deep);
  copy.args.back().op = "*";
  EXPECT_FALSE(copy == deep);
  EXPECT_EQ(generateExpr(deep).error().message, "expression nested too deeply");
  // Moving a subtree over its own root keeps the subtree alive.
  deep = std::move(deep.args.back());
  EXPECT_EQ(deep.op, "+");
  EXPECT_EQ(deep.args.size(), 2u);
}

TEST(Shape, Reading) {
  auto shape = [](std::string_view text) { return *parse_shape(text); };
  auto error = [](std::string_view text) { return parse_shape(text).error().message; };
  Shape c = shape("C$1/3");
  ASSERT_FALSE(c.is_plane());
  EXPECT_EQ(c.kind(), "polyhedron");
  EXPECT_EQ(c.as_polyhedron()->name, "C");
  Shape p = shape("1,0,0$1/2");
  ASSERT_TRUE(p.is_plane());
  EXPECT_EQ(p.kind(), "plane");
  EXPECT_EQ(p.as_plane()->d, *parse_expr("1/2"));
  EXPECT_EQ(shape("C,x$1").as_polyhedron()->name, "C,x");
  EXPECT_EQ(shape(" C$1").as_polyhedron()->name, " C");
  EXPECT_EQ(shape("a,b,c,d$1").as_polyhedron()->name, "a,b,c,d");
  EXPECT_EQ(error("C"), "expected $");
  EXPECT_EQ(error("C$1$2"), "expected $");
  EXPECT_EQ(error("$1"), "Unexpected end of expression");
  EXPECT_EQ(error("1,,0$1"), "Unexpected end of expression");
  EXPECT_EQ(error("2C$1"), "Expected end of string, but found <code>$C</code>");
  EXPECT_EQ(error("C$"), "Unexpected end of expression");
  // The size is read before the code.
  EXPECT_EQ(error("2C$("), "Unexpected end of expression");
  EXPECT_TRUE(shape("C$1/2") == shape("C$1/2"));
  EXPECT_FALSE(shape("C$1/2") == shape("C$0.5"));
  EXPECT_FALSE(shape("C$1") == shape("c$1"));
}

TEST(Shape, Writing) {
  for (std::string_view text : {"C$1", "C$1/3", "D$2/(sqrt(5)+1)", "1,0,0$1/2", "C,x$1", " C$-1", "UD16$cbrt(2)"}) {
    EXPECT_EQ(*shape_to_text(*parse_shape(text)), text);
  }
  EXPECT_EQ(shape_to_text(*parse_shape("C$x")).error().message, "generateExpr: invalid operation 'x'");
  EXPECT_EQ(shape_to_text(*parse_shape("1,y,0$1")).error().message, "generateExpr: invalid operation 'y'");
  // A code holding "%" would be decoded when its query text is read back.
  auto percent = shape_to_text(Shape::polyhedron("C%41", num(1)));
  ASSERT_FALSE(percent);
  EXPECT_EQ(percent.error().kind, ErrorKind::Parse);
  EXPECT_EQ(percent.error().message, "\"C%41\" is not a polyhedron code");
  EXPECT_FALSE(shape_to_text(Shape::polyhedron("C&cut=C", num(1))));
  EXPECT_TRUE(polyhedron_code_ok("UD16"));
  for (std::string_view bad : {"C$1", "a,b", "C&", "C=", "C%"}) EXPECT_FALSE(polyhedron_code_ok(bad)) << bad;
}

TEST(Recipe, Reading) {
  auto error = [](std::string_view text) { return parse_recipe_query(text).error().message; };
  Recipe r = *parse_recipe_query("?shell=C$1&cut=C$1/3");
  ASSERT_EQ(r.shell.size(), 1u);
  ASSERT_EQ(r.cuts.size(), 1u);
  EXPECT_EQ(r.cuts[0], *parse_shape("C$1/3"));
  EXPECT_EQ(*parse_recipe_query(""), Recipe{});
  EXPECT_EQ(*parse_recipe_query("?"), Recipe{});
  Recipe two = *parse_recipe_query("?shell=C$1&shell=O$1");
  ASSERT_EQ(two.shell.size(), 2u);
  EXPECT_EQ(two.shell[1].as_polyhedron()->name, "O");
  EXPECT_EQ(parse_recipe_query("?shell=I$sqrt(5)+2")->shell[0].as_polyhedron()->size, *parse_expr("sqrt(5)+2"));
  EXPECT_EQ(*parse_recipe_query("?shell=C%241"), *parse_recipe_query("?shell=C$1"));
  EXPECT_EQ(*parse_recipe_query("?shell%3DC$1%26cut=C$0"), *parse_recipe_query("?shell=C$1&cut=C$0"));
  EXPECT_EQ(parse_recipe_query("?shell=C$1%2B%+2").error().message, "Unexpected character <code>\x02</code>");

  EXPECT_EQ(error("?shell=C$1&"), "expected exactly one =");
  EXPECT_EQ(error("?shell=C$1&&cut=C$0"), "expected exactly one =");
  EXPECT_EQ(error("?&"), "expected exactly one =");
  EXPECT_EQ(error("shell=C$1"), "expected ?");
  EXPECT_EQ(error("?shell=C"), "expected $");
  EXPECT_EQ(error("?shell=C$1$2"), "expected $");
  EXPECT_EQ(error("?shell=C$1=2"), "expected exactly one =");
  EXPECT_EQ(error("?shell=$1"), "Unexpected end of expression");
  for (std::string_view bad : {"?shell=C$1%4", "%zz", "%FF", "?%", "?a=%C3", "?a=\xff", "%-1", "%++1"}) {
    EXPECT_EQ(error(bad), "URI malformed") << bad;
  }
  EXPECT_EQ(parse_recipe_query("?shell=C$%31")->shell[0], *parse_shape("C$1"));
  EXPECT_EQ(parse_recipe_query("?shell=C$1%+9")->shell[0], *parse_shape("C$1"));  // a decoded tab is whitespace
}

TEST(Recipe, UnknownKeysWarn) {
  testing::internal::CaptureStderr();
  auto r = parse_recipe_query("?shell=C$1&color=red&=x&k%C3%A9y=1");
  std::string warned = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->shell.size(), 1u);
  EXPECT_EQ(warned,
            "warning: ignoring unknown key color\n"
            "warning: ignoring unknown key \n"
            "warning: ignoring unknown key k\u00e9y\n");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(parse_recipe_query("?shell=C$1&cut=C$0"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Recipe, Writing) {
  for (std::string_view text : {"?shell=C$1&cut=C$1/3", "?shell=C$1&cut=C$0&cut=C$1/2", "?shell=C$cbrt(2)",
                                "?shell=1,0,0$1/2&shell=C$1", "?"}) {
    EXPECT_EQ(*recipe_to_query(*parse_recipe_query(text)), text);
  }
  // Shells always come first.
  Recipe r;
  r.cuts.push_back(*parse_shape("C$0"));
  r.shell.push_back(*parse_shape("C$1"));
  EXPECT_EQ(*recipe_to_query(r), "?shell=C$1&cut=C$0");
  r.cuts.push_back(*parse_shape("C$x"));
  EXPECT_EQ(recipe_to_query(r).error().message, "generateExpr: invalid operation 'x'");
  EXPECT_EQ(*recipe_to_query(*parse_recipe_query("?shell=C$0.5&cut=C$-0.25")), "?shell=C$1/2&cut=C$-(1/4)");
}

}  // namespace
}  // namespace gy
