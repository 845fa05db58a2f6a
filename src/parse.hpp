// Exact expressions ("(5+3*sqrt(5))/10"), shape texts ("C$1/3", "1,0,0$1/2") and recipe query
// texts ("?shell=C$1&cut=C$1/3"): their trees, readers and writers.
//
// Bounds on untrusted text, each refused with a Parse error:
//   - an expression text is at most kMaxExprBytes long, refused before it is read;
//   - number literals: both digit runs, 10^(fraction digits) and the numerator fit in int64;
//   - an expression read from text nests at most kMaxParseDepth levels, counting parentheses,
//     unary minus, exponents and calls ("expression nested too deeply"); a chain of sums or of
//     products (1+2+3…, 2*3/4…) is one level however long;
//   - the printer and the evaluator refuse trees nested deeper than kMaxTreeDepth, where a chain
//     again counts once (trees built in code, such as a substituted polyhedron definition, may
//     exceed the parse bound a little).
// Chains are printed and evaluated in a loop; copying, comparing and destroying a tree never
// recurse, whatever its height.
//
// Evaluation refuses at once what the arithmetic could refuse only after long work, with the bound
// that refusal names: a power of an irrational number whose value certainly holds an integer past
// Int::kMaxBits bits (Other "exponent too large", the bound of powers), a root beyond the field
// degree limit of a rational power within the bounds, and a root of a rational number beyond the
// factoring's coefficient bound (each with the root's own Range error). Evaluation polls for a stop
// request (gy::poll_interrupt) at every node.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "num/error.hpp"
#include "num/fraction.hpp"

namespace gy {

class AlgebraicNumber;

// Whether the bytes are well-formed UTF-8: no overlong forms, surrogates or code points above
// U+10FFFF.
bool utf8_valid(std::string_view s);

inline constexpr std::size_t kMaxExprBytes = std::size_t{1} << 22;
inline constexpr std::size_t kMaxParseDepth = 256;
inline constexpr std::size_t kMaxTreeDepth = 1024;

// One lexical token: a non-negative number literal, one of the characters ()*+-/^, or a name.
struct Token {
  std::variant<Fraction, char, std::string> value;

  bool is_char(char c) const {
    auto* p = std::get_if<char>(&value);
    return p && *p == c;
  }
};

// The text messages show for a token: the character, the number's fraction text, or "$name".
std::string token_text(const Token& token);

// The tokens of a whole text, or the tokenizer's Parse error.
Result<std::vector<Token>> tokenize(std::string_view text);

// One node of an exact expression tree. `op` is "num" (with `value`), "+", "-", "*", "/", "^",
// "neg", "sqrt", "cbrt", "$scale", or any name a text spelled; `args` are the operands in order.
struct Expr {
  std::optional<Fraction> value;
  std::string op;
  std::vector<Expr> args;

  Expr() = default;
  Expr(const Expr& other);
  Expr(Expr&&) noexcept = default;
  Expr& operator=(const Expr& other);
  Expr& operator=(Expr&& other) noexcept;
  ~Expr();

  // A node without value (`Expr::new`).
  static Expr make(std::string_view op, std::vector<Expr> args = {});
  // A "num" node.
  static Expr number(Fraction value);

  // Structural equality: ops bytewise, arguments pairwise, values both absent or equal.
  bool eq(const Expr& other) const;
  friend bool operator==(const Expr& a, const Expr& b) { return a.eq(b); }
};

// Reads one whole expression; Parse "an expression of {} bytes is longer than the {} bytes one may
// have" past kMaxExprBytes.
Result<Expr> parse_expr(std::string_view text);

// Writes a tree with the fewest parentheses that read back to it; `context` is the loosest level
// the surrounding text allows (10 outside any expression).
Result<std::string> generateExpr(const Expr& expr, unsigned context = 10);

// The exact value of a tree. Throws Interrupted when the call is to stop.
Result<AlgebraicNumber> evaluate_expr(const Expr& expr);

struct PlaneShape {
  Expr a, b, c, d;
  bool operator==(const PlaneShape&) const = default;
};

struct PolyhedronShape {
  std::string name;  // the polyhedron code exactly as written
  Expr size;
  bool operator==(const PolyhedronShape&) const = default;
};

// One shell or cut: a bare plane or a polyhedron scaled by a size.
struct Shape {
  std::variant<PlaneShape, PolyhedronShape> value;

  static Shape plane(Expr a, Expr b, Expr c, Expr d) { return {PlaneShape{std::move(a), std::move(b), std::move(c), std::move(d)}}; }
  static Shape polyhedron(std::string name, Expr size) { return {PolyhedronShape{std::move(name), std::move(size)}}; }

  bool is_plane() const { return std::holds_alternative<PlaneShape>(value); }
  // "plane" or "polyhedron".
  std::string_view kind() const { return is_plane() ? "plane" : "polyhedron"; }
  const PlaneShape* as_plane() const { return std::get_if<PlaneShape>(&value); }
  const PolyhedronShape* as_polyhedron() const { return std::get_if<PolyhedronShape>(&value); }

  Shape clone() const { return *this; }
  static std::vector<Shape> to_vec(std::span<const Shape> shapes) { return {shapes.begin(), shapes.end()}; }
  bool eq(const Shape& other) const { return value == other.value; }
  friend bool operator==(const Shape& a, const Shape& b) { return a.eq(b); }
};

struct Recipe {
  std::vector<Shape> shell;
  std::vector<Shape> cuts;
  bool operator==(const Recipe&) const = default;
};

// Whether a polyhedron code can stand in a shape text and survive the query text: it holds none
// of "$", ",", "&", "=" (which split the texts) and "%" (which the query reader decodes).
bool polyhedron_code_ok(std::string_view name);

Result<Shape> parse_shape(std::string_view text);
// Refuses a polyhedron code holding "$", "&", "=" or "%", which would not read back.
Result<std::string> shape_to_text(const Shape& shape);

// Reads a query text; unknown keys are skipped with a warning on standard error. The empty text
// and "?" are the empty recipe.
Result<Recipe> parse_recipe_query(std::string_view text);
// "?" then "shell={}" per shell and "cut={}" per cut, joined by "&".
Result<std::string> recipe_to_query(const Recipe& recipe);

}  // namespace gy
