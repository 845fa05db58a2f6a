#include "parse.hpp"

#include "exact.hpp"
#include "num/factoring.hpp"
#include "num/interrupt.hpp"
#include "num/residue.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>

namespace gy {

namespace {

// ---- UTF-8 -------------------------------------------------------------------------------------

constexpr char32_t kReplacement = 0xFFFD;

// Length of the well-formed UTF-8 sequence at s[i] (1 to 4), or 0 when it is malformed: overlong
// forms, surrogates and code points above U+10FFFF are malformed.
std::size_t utf8_sequence(std::string_view s, std::size_t i, char32_t& cp) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b = byte(i);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  std::size_t len;
  char32_t min;
  if ((b & 0xE0) == 0xC0) {
    len = 2, min = 0x80, cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, min = 0x800, cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, cp = b & 0x07;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char c = byte(i + k);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// ---- Tokens ------------------------------------------------------------------------------------

bool is_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }
bool is_operator(char c) {
  return c == '(' || c == ')' || c == '*' || c == '+' || c == '-' || c == '/' || c == '^';
}

Error out_of_range(std::string_view shown) { return Error::parse(cat("Number out of range: <code>", shown, "</code>")); }

// A run of decimal digits as int64, leading zeros allowed.
std::optional<std::int64_t> digits_value(std::string_view digits) {
  std::int64_t v = 0;
  for (char c : digits) {
    if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, c - '0', &v)) return std::nullopt;
  }
  return v;
}

// The literal starting at text[i], a digit; advances i past it.
Result<Fraction> read_number(std::string_view text, std::size_t& i) {
  std::size_t start = i;
  while (i < text.size() && is_digit(text[i])) ++i;
  std::string_view whole = text.substr(start, i - start);
  std::string_view part;
  if (i + 1 < text.size() && text[i] == '.' && is_digit(text[i + 1])) {
    std::size_t fstart = ++i;
    while (i < text.size() && is_digit(text[i])) ++i;
    part = text.substr(fstart, i - fstart);
  }
  auto w = digits_value(whole);
  if (!w) return fail(out_of_range(whole));
  if (part.empty()) return fraction(*w, 1);
  auto f = digits_value(part);
  if (!f) return fail(out_of_range(part));
  std::string_view literal = text.substr(start, i - start);
  std::int64_t scale = 1, numerator;
  for (std::size_t k = 0; k < part.size(); ++k) {
    if (__builtin_mul_overflow(scale, 10, &scale)) return fail(out_of_range(literal));
  }
  if (__builtin_mul_overflow(*w, scale, &numerator) || __builtin_add_overflow(numerator, *f, &numerator)) {
    return fail(out_of_range(literal));
  }
  return fraction(numerator, scale);
}

// ---- Parser ------------------------------------------------------------------------------------

Error too_deep() { return Error::parse("expression nested too deeply"); }

struct Cursor {
  std::span<const Token> tokens;
  std::size_t pos = 0;
  std::size_t depth = 0;  // parse_unary levels open: parentheses, unary minus, exponents, calls

  const Token* peek() const { return pos < tokens.size() ? &tokens[pos] : nullptr; }
  bool next_is(char c) const { return pos < tokens.size() && tokens[pos].is_char(c); }
};

Expr node(std::string_view op, Expr a) {
  std::vector<Expr> args;
  args.push_back(std::move(a));
  return Expr::make(op, std::move(args));
}

Expr node(std::string_view op, Expr a, Expr b) {
  std::vector<Expr> args;
  args.push_back(std::move(a));
  args.push_back(std::move(b));
  return Expr::make(op, std::move(args));
}

Result<Expr> parse_sum(Cursor& c);

Status expect_close_paren(Cursor& c) {
  const Token* t = c.peek();
  if (!t) return fail(Error::parse("Expected <code>)</code>, but reached end of expression"));
  if (!t->is_char(')')) return fail(Error::parse(cat("Expected <code>)</code>, but found <code>", token_text(*t), "</code>")));
  ++c.pos;
  return {};
}

Result<Expr> parse_unary(Cursor& c) {
  struct Level {
    Cursor& c;
    ~Level() { --c.depth; }
  } level{c};
  if (++c.depth > kMaxParseDepth) return fail(too_deep());
  const Token* t = c.peek();
  if (!t) return fail(Error::parse("Unexpected end of expression"));
  Expr base;
  if (auto* ch = std::get_if<char>(&t->value)) {
    if (*ch == '-') {
      ++c.pos;
      return node("neg", GY_TRY(parse_unary(c)));
    }
    if (*ch != '(') return fail(Error::parse(cat("Unexpected <code>", token_text(*t), "</code>")));
    ++c.pos;
    base = GY_TRY(parse_sum(c));
    GY_CHECK(expect_close_paren(c));
  } else if (auto* number = std::get_if<Fraction>(&t->value)) {
    ++c.pos;
    base = Expr::number(*number);
  } else {
    const std::string& name = std::get<std::string>(t->value);
    ++c.pos;
    if (c.next_is('(')) {
      ++c.pos;
      Expr arg = GY_TRY(parse_sum(c));
      GY_CHECK(expect_close_paren(c));
      base = node(name, std::move(arg));
    } else {
      base = Expr::make(name);
    }
  }
  if (!c.next_is('^')) return base;
  ++c.pos;
  Expr exponent = GY_TRY(parse_unary(c));
  return node("^", std::move(base), std::move(exponent));
}

// One level's chain of operators, left-associative and built in a loop: its length adds no
// nesting.
Result<Expr> parse_chain(Cursor& c, char op1, char op2, Result<Expr> (*operand)(Cursor&)) {
  Expr left = GY_TRY(operand(c));
  while (c.next_is(op1) || c.next_is(op2)) {
    const char op = c.tokens[c.pos++].is_char(op1) ? op1 : op2;
    Expr right = GY_TRY(operand(c));
    left = node(std::string_view(&op, 1), std::move(left), std::move(right));
  }
  return left;
}

Result<Expr> parse_term(Cursor& c) { return parse_chain(c, '*', '/', parse_unary); }
Result<Expr> parse_sum(Cursor& c) { return parse_chain(c, '+', '-', parse_term); }

// ---- Printer -----------------------------------------------------------------------------------

bool is_binary(std::string_view op) { return op == "+" || op == "-" || op == "*" || op == "/" || op == "^"; }

// 1 for a sum or difference, 2 for a product or quotient, 0 for any other node. A left operand of
// the same level continues the chain: it is printed and evaluated in one loop, not one level down.
int chain_level(const Expr& e) {
  if (e.args.size() != 2 || e.op.size() != 1) return 0;
  char c = e.op[0];
  return c == '+' || c == '-' ? 1 : c == '*' || c == '/' ? 2 : 0;
}

// The nodes of the chain headed by e, from its head down its left operands.
std::vector<const Expr*> chain_of(const Expr& e) {
  std::vector<const Expr*> spine{&e};
  const int level = chain_level(e);
  while (chain_level(spine.back()->args[0]) == level) spine.push_back(&spine.back()->args[0]);
  return spine;
}

Status generate(const Expr& e, unsigned context, std::size_t depth, std::string& out) {
  if (depth > kMaxTreeDepth) return fail(too_deep());
  const std::string& op = e.op;
  if (op == "num") {
    // A valueless number has no text that reads back; refuse it like any other unprintable node.
    if (!e.value) return fail(Error::parse("generateExpr: num without a value"));
    const Fraction& v = *e.value;
    bool negative = v.sign() < 0;
    bool wrap = v.is_integer() ? negative && context < 2 : context < 4;
    if (wrap) out += '(';
    out += v.to_string();
    if (wrap) out += ')';
    return {};
  }
  if (int level = chain_level(e)) {
    // A left operand of the same level is never wrapped, so the chain prints as one run.
    const unsigned own = level == 1 ? 6 : 4, right = own - 1;
    const std::vector<const Expr*> spine = chain_of(e);
    bool wrap = context < own;
    if (wrap) out += '(';
    GY_CHECK(generate(spine.back()->args[0], own, depth + 1, out));
    for (auto it = spine.rbegin(); it != spine.rend(); ++it) {
      out += (*it)->op;
      GY_CHECK(generate((*it)->args[1], right, depth + 1, out));
    }
    if (wrap) out += ')';
    return {};
  }
  if (is_binary(op)) {
    if (e.args.size() != 2) return fail(Error::parse(cat("generateExpr: ", op, " must have two arguments")));
    bool wrap = context < 2;
    if (wrap) out += '(';
    GY_CHECK(generate(e.args[0], 1, depth + 1, out));
    out += op;
    GY_CHECK(generate(e.args[1], 2, depth + 1, out));
    if (wrap) out += ')';
    return {};
  }
  if (op == "neg" || op == "sqrt" || op == "cbrt") {
    if (e.args.size() != 1) return fail(Error::parse(cat("generateExpr: ", op, " must have one argument")));
    if (op == "neg") {
      bool wrap = context < 2;
      if (wrap) out += '(';
      out += '-';
      GY_CHECK(generate(e.args[0], 2, depth + 1, out));
      if (wrap) out += ')';
    } else {
      out += op;
      out += '(';
      GY_CHECK(generate(e.args[0], 10, depth + 1, out));
      out += ')';
    }
    return {};
  }
  return fail(Error::parse(cat("generateExpr: invalid operation '", op, "'")));
}

// ---- Texts -------------------------------------------------------------------------------------

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(sep, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Error uri_malformed() { return Error::parse("URI malformed"); }

// Each "%" and the two bytes after it become one byte: two hexadecimal digits, or "+" and one.
Result<std::string> percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) return fail(uri_malformed());
    char a = text[i + 1], b = text[i + 2];
    int hi = a == '+' ? 0 : hex_value(a), lo = hex_value(b);
    if (hi < 0 || lo < 0) return fail(uri_malformed());
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return out;
}

void warn_unknown_key(std::string_view key) {
  std::string line = cat("warning: ignoring unknown key ", key, "\n");
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

bool utf8_valid(std::string_view s) {
  char32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = utf8_sequence(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// ---- Tokens ------------------------------------------------------------------------------------

std::string token_text(const Token& token) {
  return std::visit(
      [](const auto& v) -> std::string {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, char>) return std::string(1, v);
        else if constexpr (std::is_same_v<V, Fraction>) return v.to_string();
        else return cat("$", v);
      },
      token.value);
}

Result<std::vector<Token>> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    if (is_operator(c)) {
      tokens.emplace_back().value.emplace<char>(c);
      ++i;
    } else if (is_name_start(c)) {
      std::size_t start = i;
      while (i < text.size() && is_name_char(text[i])) ++i;
      tokens.emplace_back().value.emplace<std::string>(text.substr(start, i - start));
    } else if (is_digit(c)) {
      Fraction value = GY_TRY(read_number(text, i));
      tokens.emplace_back().value.emplace<Fraction>(std::move(value));
    } else {
      char32_t cp;
      std::size_t n = utf8_sequence(text, i, cp);
      if (n == 0) cp = kReplacement, n = 1;
      if (!is_space(cp)) {
        std::string shown;
        append_utf8(shown, cp);
        return fail(Error::parse(cat("Unexpected character <code>", shown, "</code>")));
      }
      i += n;
    }
  }
  return tokens;
}

// ---- Expr --------------------------------------------------------------------------------------

Expr::Expr(const Expr& other) : value(other.value), op(other.op) {
  if (other.args.empty()) return;
  std::vector<std::pair<const Expr*, Expr*>> pending{{&other, this}};
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    to->args.resize(from->args.size());
    for (std::size_t i = 0; i < from->args.size(); ++i) {
      const Expr& f = from->args[i];
      Expr& t = to->args[i];
      t.value = f.value;
      t.op = f.op;
      if (!f.args.empty()) pending.emplace_back(&f, &t);
    }
  }
}

Expr& Expr::operator=(const Expr& other) {
  if (this != &other) *this = Expr(other);
  return *this;
}

Expr& Expr::operator=(Expr&& other) noexcept {
  if (this != &other) {
    Expr old(std::move(*this));  // keeps `other` alive should it sit inside this tree
    value = std::move(other.value);
    op = std::move(other.op);
    args = std::move(other.args);
    other.args.clear();
  }
  return *this;
}

Expr::~Expr() {
  if (args.empty()) return;
  std::vector<Expr> pending = std::move(args);
  while (!pending.empty()) {
    Expr e = std::move(pending.back());
    pending.pop_back();
    for (Expr& child : e.args) {
      if (!child.args.empty()) pending.push_back(std::move(child));
    }
    e.args.clear();
  }
}

Expr Expr::make(std::string_view op, std::vector<Expr> args) {
  Expr e;
  e.op = op;
  e.args = std::move(args);
  return e;
}

Expr Expr::number(Fraction value) {
  Expr e;
  e.value = std::move(value);
  e.op = "num";
  return e;
}

bool Expr::eq(const Expr& other) const {
  std::vector<std::pair<const Expr*, const Expr*>> pending{{this, &other}};
  while (!pending.empty()) {
    auto [a, b] = pending.back();
    pending.pop_back();
    if (a->op != b->op || a->args.size() != b->args.size() || a->value.has_value() != b->value.has_value()) return false;
    if (a->value && !(*a->value == *b->value)) return false;
    for (std::size_t i = 0; i < a->args.size(); ++i) pending.emplace_back(&a->args[i], &b->args[i]);
  }
  return true;
}

Result<Expr> parse_expr(std::string_view text) {
  if (text.size() > kMaxExprBytes)
    return fail(Error::parse(
        cat("an expression of ", text.size(), " bytes is longer than the ", kMaxExprBytes, " bytes one may have")));
  std::vector<Token> tokens = GY_TRY(tokenize(text));
  Cursor c{tokens};
  Expr sum = GY_TRY(parse_sum(c));
  if (const Token* t = c.peek()) {
    return fail(Error::parse(cat("Expected end of string, but found <code>", token_text(*t), "</code>")));
  }
  return sum;
}

Result<std::string> generateExpr(const Expr& expr, unsigned context) {
  std::string out;
  GY_CHECK(generate(expr, context, 0, out));
  return out;
}

// ---- Evaluation --------------------------------------------------------------------------------

namespace {

// ---- Refusals decided before the work ----------------------------------------------------------
//
// A power or root whose arithmetic cannot end within the bounds, but would find out only after
// minutes of work (or grow without end), is refused at once, from estimates whose answer is certain:
//   - a power of an irrational number whose exact value has an integer of more than Int::kMaxBits
//     bits: the MemoryRefusal of a product past the bound, as the power's own estimate gives it
//     (the arithmetic would meet the bound in one of its products, or not at all);
//   - x^(p/q) of a rational x with q beyond the field degree limit, where x^p itself is within the
//     bounds: the root's own Range error, without computing x^p first;
//   - a root of a rational number whose numerator or denominator is beyond the factoring bound
//     (kFactorMaxBits): the factoring's own Range error, without the root's work on it.
// Nothing is refused whose value the arithmetic computes within the bounds.

// Lower and upper bounds of log2(n), n > 0, from its bit length and top 53 bits.
std::pair<double, double> log2_bounds(const Int& n) {
  const std::uint64_t bits = n.bit_length();
  double top;
  std::uint64_t shift = 0;
  if (bits <= 53) {
    top = static_cast<double>(*n.abs().to_i64());
  } else {
    shift = bits - 53;
    Mpz t;
    mpz_tdiv_q_2exp(t.get(), n.view().get(), shift);
    top = std::fabs(mpz_get_d(t.get()));  // exact: 53 bits
  }
  const double lo = static_cast<double>(shift) + std::log2(top);
  const double hi = static_cast<double>(shift) + std::log2(shift ? top + 1 : top);
  const double slack = 1e-9 + 1e-14 * hi;
  return {lo - slack, hi + slack};
}

// A lower bound of log2|x|, x != 0.
double log2_abs_lower(const Fraction& x) { return log2_bounds(x.num()).first - log2_bounds(x.den()).second; }
// An upper bound of log2|x|, x != 0.
double log2_abs_upper(const Fraction& x) { return log2_bounds(x.num()).second - log2_bounds(x.den()).first; }

// The bit length of n^e for n != 0 and 1 <= e, when floating logarithms decide it: floor(e·log2|n|)
// + 1, unless e·log2|n| lies too close to an integer.
std::optional<std::uint64_t> power_bit_length(const Int& n, std::uint64_t e) {
  if (n.abs().is_one()) return 1;
  const auto [lo, hi] = log2_bounds(n);
  const double a = lo * static_cast<double>(e), b = hi * static_cast<double>(e);
  const double f = std::floor(a);
  if (std::floor(b) != f || b - a > 0.5 || f > 1e15) return std::nullopt;
  return static_cast<std::uint64_t>(f) + 1;
}

// Whether Fraction::pow(c, e) computes its value, e >= 0: its refusal (exponent too large) is
// decided at once from bit lengths.
bool fraction_power_within_bounds(const Fraction& c, const Int& e) {
  if (e.is_zero() || c.is_zero() || (c.is_integer() && c.num().abs().is_one())) return true;
  const auto e64 = e.to_i64();
  const std::uint64_t bits = std::max(c.num().bit_length(), c.den().bit_length()) - 1;
  return e64 && *e64 <= static_cast<std::int64_t>(Int::kMaxBits) &&
         bits * static_cast<std::uint64_t>(*e64) <= Int::kMaxBits;
}

// The refusal `factor` gives a coefficient of this many bits.
Error factoring_bits_refusal(std::uint64_t bits) {
  return Error::range(cat("polynomial coefficient bits ", bits, " exceeds the factoring limit of ", kFactorMaxBits));
}

// The k-th root, 2 <= k <= kMaxFieldDegree, of a nonzero rational number whose numerator has
// num_bits and denominator den_bits: its defining polynomial x^k − c goes to `factor`, which
// refuses it for either part beyond kFactorMaxBits (the numerator checked first). A part beyond
// Int::kMaxBits is refused sooner, at once, by the first product the root forms with it.
std::optional<Error> rational_root_refusal(std::uint64_t num_bits, std::uint64_t den_bits) {
  if (std::max(num_bits, den_bits) > Int::kMaxBits) return std::nullopt;
  if (num_bits > kFactorMaxBits) return factoring_bits_refusal(num_bits);
  if (den_bits > kFactorMaxBits) return factoring_bits_refusal(den_bits);
  return std::nullopt;
}

// The refusal of r.root(k), k >= 2, when r is rational and its root would be refused by the factoring
// bound only after the root's other work; a negative r counts only for odd k (an even root of it is
// refused at once).
std::optional<Error> root_refusal(const AlgebraicNumber& r, const Int& k) {
  if (!r.is_rational() || r.is_zero() || k > Int(kMaxFieldDegree)) return std::nullopt;
  const Fraction& c = r.value()[0];
  if (c.sign() < 0 && !k.is_odd()) return std::nullopt;
  return rational_root_refusal(c.num().bit_length(), c.den().bit_length());
}

// Primes below 1000, the candidates whose powers a base's coefficients may carry.
const std::vector<std::uint64_t>& small_primes() {
  static const std::vector<std::uint64_t> primes = [] {
    std::vector<std::uint64_t> out;
    for (std::uint64_t n = 2; n < 1000; ++n)
      if (is_word_prime(n)) out.push_back(n);
    return out;
  }();
  return primes;
}

// A lower bound, in bits, of the largest numerator or denominator among the coefficients of
// base^e, for an irrational base (the value a polynomial of degree >= 1 in the field's generator
// alpha) and e >= 1; 0 where nothing is known. With base^e = Σ c_i·alpha^i:
//   - the field's real embedding: max|c_i| >= |base|^e / S with S = Σ_{i<d} |alpha|^i, and a
//     numerator at least that large;
//   - a prime l dividing the coefficients of base to a power t != 0 (the least l-adic valuation
//     among them), l not dividing the leading coefficient of alpha's integral minimal polynomial m:
//     base = l^t·b with l-integral b, and unless (b mod l)^e vanishes in F_l[x]/(m), some c_i has
//     l-adic valuation exactly t·e: a numerator (t > 0) or denominator (t < 0) divisible by
//     l^(|t|·e).
// When m is a binomial, alpha^d = a, and the base a monomial c·alpha^k, base^e is the one monomial
// C·alpha^(ke mod d) with C = c^e·a^⌊ke/d⌋, whose parts are known.
// Below `needed` the bound is not worked out (0 is returned).
double power_size_lower_bound(const AlgebraicNumber& base, std::uint64_t e, double needed) {
  const NumberField& field = *base.field();
  const std::size_t d = field.degree();
  const FracPoly& mq = field.minimal_polynomial();
  const std::vector<Fraction>& c = base.value().coeffs;
  const double ed = static_cast<double>(e);
  const auto [lo, hi] = field_interval_read(field);
  double alpha = 0;  // log2 of a bound of |alpha|, at least 1
  if (!lo.is_zero()) alpha = std::max(alpha, log2_abs_upper(lo));
  if (!hi.is_zero()) alpha = std::max(alpha, log2_abs_upper(hi));
  // No bound below exceeds e times the sizes of the base and of m, and |base| <= 2^widest·S: most
  // powers stop here.
  std::uint64_t widest = 0, widest_m = 0;
  for (const Fraction& x : c) widest = std::max({widest, x.num().bit_length(), x.den().bit_length()});
  for (const Fraction& x : mq.coeffs) widest_m = std::max({widest_m, x.num().bit_length(), x.den().bit_length()});
  const double most = 2 * static_cast<double>(widest + widest_m) + std::log2(static_cast<double>(d)) +
                      static_cast<double>(d - 1) * alpha + 1;
  if (ed * most <= needed) return 0;
  const bool binomial = is_binomial(mq);
  const auto k = static_cast<std::size_t>(std::find_if(c.begin(), c.end(), [](const Fraction& x) { return !x.is_zero(); }) - c.begin());
  const bool monomial = binomial && std::count_if(c.begin(), c.end(), [](const Fraction& x) { return !x.is_zero(); }) == 1;

  double best = 0;
  if (monomial) {
    // C = c^e·a^j, j = ⌊ke/d⌋, with c = n/m and a = u/w in lowest terms: its parts are n^e·u^j and
    // m^e·w^j over their gcd, which is gcd(n^e, w^j)·gcd(u^j, m^e).
    const Fraction a = expect(mq.coeffs[0].neg().div(mq.coeffs[d]), "a minimal polynomial has a leading coefficient");
    const double j = std::floor(static_cast<double>(k) * ed / static_cast<double>(d));
    const Int &n = c[k].num(), &m = c[k].den(), &u = a.num(), &w = a.den();
    auto lower = [](const Int& x) { return log2_bounds(x).first; };
    auto upper = [](const Int& x) { return log2_bounds(x).second; };
    double common = 0;
    if (!Int::gcd(n, w).is_one()) common += std::min(ed * upper(n), j * upper(w));
    if (!Int::gcd(u, m).is_one()) common += std::min(j * upper(u), ed * upper(m));
    best = std::max({best, ed * lower(n) + j * lower(u) - common, ed * lower(m) + j * lower(w) - common});
  } else {
    const double spread = std::log2(static_cast<double>(d)) + static_cast<double>(d - 1) * alpha + 1e-9;
    // log2 of a lower bound of |base| from an enclosure, if it leaves zero.
    auto magnitude = [](const Result<std::pair<Fraction, Fraction>>& iv) -> std::optional<double> {
      if (!iv || iv->first.sign() != iv->second.sign() || iv->first.sign() == 0) return std::nullopt;
      return std::min(log2_abs_lower(iv->first), log2_abs_lower(iv->second));
    };
    const auto iv = base.interval();
    std::optional<double> size = magnitude(iv);
    if (!size || *size * ed - spread <= needed) {
      // The field's interval may be wide: a private copy of the field is narrowed as a float
      // conversion narrows it, and the shared field keeps its interval.
      auto narrowed = [&]() -> Result<std::pair<Fraction, Fraction>> {
        FieldRef copy = GY_TRY(NumberField::make_isolated(mq, lo, hi));
        AlgebraicNumber x = GY_TRY(AlgebraicNumber::make(std::move(copy), base.value()));
        GY_TRY(x.to_f64());
        return x.interval();
      };
      if (auto tight = magnitude(narrowed())) size = std::max(size.value_or(*tight), *tight);
    }
    if (size) best = std::max(best, *size * ed - spread);
  }
  if (best > needed) return best;
  // Each bound below is |t|·e·log2 l with l^|t| dividing a part of a coefficient, so below e times
  // the widest part: within `needed` it adds nothing, and the valuations (costly for parts of
  // millions of bits) are not taken.
  if (ed * static_cast<double>(widest) * (1 + 1e-12) <= needed) return best;

  // Primes dividing some denominator or every numerator, found through gcds with their product.
  Mpz primorial(1ul), g, nums, dens, candidates;
  for (std::uint64_t l : small_primes()) mpz_mul_ui(primorial.get(), primorial.get(), l);
  for (const Fraction& x : c) {
    if (x.is_zero()) continue;
    mpz_gcd(nums.get(), nums.get(), x.num().view().get());
    mpz_gcd(g.get(), primorial.get(), x.den().view().get());
    mpz_lcm(dens.get(), dens.sign() ? dens.get() : g.get(), g.get());
  }
  mpz_gcd(g.get(), primorial.get(), nums.get());
  mpz_lcm(candidates.get(), g.get(), dens.get());
  if (mpz_cmp_ui(candidates.get(), 1) <= 0) return best;

  const IntPoly m = primitive_integer(mq);
  Mpz rest, num, den;
  for (std::uint64_t l : small_primes()) {
    if (!mpz_divisible_ui_p(candidates.get(), l) || mod_word(m.coeffs.back(), l) == 0) continue;
    const Mpz lz(l);
    // t = min over the nonzero coefficients of v_l(num) − v_l(den).
    std::vector<std::int64_t> v(c.size(), 0);
    std::optional<std::int64_t> t;
    for (std::size_t i = 0; i < c.size(); ++i) {
      if (c[i].is_zero()) continue;
      v[i] = static_cast<std::int64_t>(mpz_remove(rest.get(), c[i].num().view().get(), lz.get())) -
             static_cast<std::int64_t>(mpz_remove(rest.get(), c[i].den().view().get(), lz.get()));
      t = t ? std::min(*t, v[i]) : v[i];
    }
    if (!t || *t == 0) continue;
    // b = base·l^(−t) modulo l: the coefficients of valuation t, with l removed, as residues.
    const Zp F(l);
    WordPoly b(c.size(), 0);
    for (std::size_t i = 0; i < c.size(); ++i) {
      if (c[i].is_zero() || v[i] != *t) continue;
      mpz_remove(num.get(), c[i].num().view().get(), lz.get());
      mpz_remove(den.get(), c[i].den().view().get(), lz.get());
      b[i] = F.mul(mpz_fdiv_ui(num.get(), l), F.inv(mpz_fdiv_ui(den.get(), l)));
    }
    trim(b);
    const WordPolyModulus modulus(F, monic(F, to_word_poly(m, F)));
    WordPoly power = modulus.powmod(b, Int(static_cast<std::int64_t>(e)));
    trim(power);
    if (power.empty()) continue;
    const double bits = static_cast<double>(*t < 0 ? -*t : *t) * ed * log2_bounds(Int(static_cast<std::int64_t>(l))).first;
    best = std::max(best, bits);
  }
  return best;
}

// The refusal of base^(p/q) (p >= 0, q >= 1, the base's sign already checked) that the arithmetic
// would reach only after long work, if it is certain.
std::optional<Error> power_refusal(const AlgebraicNumber& base, const Int& p, const Int& q) {
  if (p.sign() <= 0) return std::nullopt;
  if (base.is_rational()) {
    const Fraction c = base.is_zero() ? Fraction() : base.value()[0];
    if (!fraction_power_within_bounds(c, p)) return std::nullopt;  // refused at once by the power
    if (q.is_one()) return std::nullopt;
    // c^p is rational, so its root is taken over the rationals.
    if (q > Int(kMaxFieldDegree)) return root_index_refusal(q, 1);
    if (c.is_zero() || (c.is_integer() && c.num().abs().is_one())) return std::nullopt;
    // The parts of c^p are the coprime powers of c's parts; the root refuses either beyond the
    // factoring bound.
    const std::uint64_t e = static_cast<std::uint64_t>(*p.to_i64());
    const auto num_bits = power_bit_length(c.num(), e), den_bits = power_bit_length(c.den(), e);
    if (!num_bits || !den_bits) return std::nullopt;
    return rational_root_refusal(*num_bits, *den_bits);
  }
  // The power refuses exponents of more than 28 bits at once; below, it multiplies.
  if (p.bit_length() > 28) return std::nullopt;
  const double needed = static_cast<double>(Int::kMaxBits) + 64;
  if (const double bits = power_size_lower_bound(base, static_cast<std::uint64_t>(*p.to_i64()), needed); bits > needed)
    throw MemoryRefusal(cat("a product of ", static_cast<std::uint64_t>(bits), " bits or more exceeds the limit of ",
                            Int::kMaxBits, " bits of an integer"));
  return std::nullopt;
}

// ---- Rationals put off -------------------------------------------------------------------------
//
// A power of a rational number of QQ whose parts reach kDeferBits bits is not formed where it is
// met: it is carried as the steps that would form it, with its sign and bounds of its numerator and
// denominator, through further powers, products, quotients and negations of rationals of QQ. Each
// such step is judged from the bounds as the arithmetic would judge it from the numbers: refused
// with the arithmetic's own error (the power's "exponent too large", the MemoryRefusal of a product
// past Int::kMaxBits, a root's refusals), or certain to succeed, and then put off in turn. Where
// the bounds leave a step open, or a step needs the value (a sum, a product with a nonzero number of
// another field, a root within the bounds, the result), the number is formed by the very steps the evaluation would have
// taken, so that values and errors stay the arithmetic's; steps that were certain to succeed may
// only be formed later, or never when a later step is refused.

constexpr std::uint64_t kDeferBits = kFactorMaxBits;
constexpr std::size_t kMaxDeferredSteps = 64;

// A positive integer X known within lo <= X <= hi, each end a mantissa of at most kMantissaBits
// bits times a power of two. Products and powers round the lower end down and the upper end up, so
// the bit length of X is known unless X lies within about 2^-180 of a power of two.
class Magnitude {
 public:
  Magnitude() : Magnitude(Int(1)) {}
  // Of |x|, x != 0.
  explicit Magnitude(const Int& x) {
    mpz_abs(lo_.m.get(), x.view().get());
    hi_.m = lo_.m;
    round(lo_, false);
    round(hi_, true);
  }

  Magnitude times(const Magnitude& o) const {
    Magnitude r;
    r.lo_ = product(lo_, o.lo_, false);
    r.hi_ = product(hi_, o.hi_, true);
    return r;
  }

  Magnitude power(std::uint64_t e) const {
    Magnitude r, square = *this;
    for (; e; e >>= 1) {
      if (e & 1) r = r.times(square);
      if (e > 1) square = square.times(square);
    }
    return r;
  }

  // Bounds of X ± Y for any Y below 2^unit(): each end moves out by one unit of its last place.
  std::uint64_t unit() const { return std::min(lo_.shift, hi_.shift); }
  Magnitude widened() const {
    Magnitude r = *this;
    if (unit() == 0) return r;  // exact ends leave no room below a unit
    mpz_sub_ui(r.lo_.m.get(), r.lo_.m.get(), 1);
    mpz_add_ui(r.hi_.m.get(), r.hi_.m.get(), 1);
    round(r.hi_, true);
    return r;
  }

  std::uint64_t bits_lo() const { return bits(lo_); }
  std::uint64_t bits_hi() const { return bits(hi_); }
  // The bit length of X, when the bounds fix it.
  std::optional<std::uint64_t> exact_bits() const {
    if (bits_lo() != bits_hi()) return std::nullopt;
    return bits_lo();
  }

 private:
  static constexpr std::uint64_t kMantissaBits = 192;
  struct End {
    Mpz m{1ul};
    std::uint64_t shift = 0;  // the end is m·2^shift
  };

  static std::uint64_t bits(const End& x) { return mpz_sizeinbase(x.m.get(), 2) + x.shift; }

  static void round(End& x, bool up) {
    const std::uint64_t n = mpz_sizeinbase(x.m.get(), 2);
    if (n <= kMantissaBits) return;
    const std::uint64_t drop = n - kMantissaBits;
    const bool inexact = mpz_scan1(x.m.get(), 0) < drop;
    mpz_tdiv_q_2exp(x.m.get(), x.m.get(), drop);
    if (up && inexact) mpz_add_ui(x.m.get(), x.m.get(), 1);
    x.shift += drop;
  }

  static End product(const End& a, const End& b, bool up) {
    End r;
    mpz_mul(r.m.get(), a.m.get(), b.m.get());
    r.shift = a.shift + b.shift;
    round(r, up);
    return r;
  }

  End lo_, hi_;
};

// What is known of a nonzero rational n/d of QQ without forming it: its sign, bounds of |n| and d,
// and integers >= 2 whose powers make up |n| and d (none for 1); as n/d is reduced, every base of
// |n| is coprime to every base of d. A base 0 stands for a part whose factors are unknown (a sum's
// numerator): it shares a factor with every other base.
struct Facts {
  int sign = 1;
  Magnitude num, den;
  std::vector<Int> num_bases, den_bases;
};

struct Deferred;
// An evaluated operand: a number, or a rational of QQ put off.
using Value = std::variant<AlgebraicNumber, std::shared_ptr<const Deferred>>;

// The step that forms a rational put off: `op` '^' raises args[0] to `exponent`, '*', '/', '+' and
// '-' take args[0] with args[1] as AlgebraicNumber's mul, div, add and sub do, 'n' negates args[0].
struct Deferred {
  char op;
  std::vector<Value> args;
  Int exponent;
  Facts facts;
  std::size_t steps;  // the steps put off in this one's tree
};

bool is_deferred(const Value& v) { return std::holds_alternative<std::shared_ptr<const Deferred>>(v); }

const NumberField* rationals() {
  static const NumberField* const field = QQ().get();
  return field;
}

// a/b as AlgebraicNumber::div forms it. The inverse of a nonzero rational b is its fraction turned
// over, which is in lowest terms already: the inverse's own gcd of the parts, which costs seconds for
// parts of millions of bits, is spared (parts past Int::kMaxBits, which the inverse's products
// refuse, take the inverse's road).
Result<AlgebraicNumber> quotient(const AlgebraicNumber& a, const AlgebraicNumber& b) {
  if (!b.is_rational() || b.is_zero()) return a.div(b);
  const Fraction& c = b.value()[0];
  if (std::max(c.num().bit_length(), c.den().bit_length()) > Int::kMaxBits) return a.div(b);
  const Fraction inverse = Fraction::make_unreduced(c.sign() < 0 ? -c.den() : c.den(), c.num().abs());
  return a.mul(AlgebraicNumber::rational(b.field(), inverse));
}

// The number: the value itself, or the steps put off taken now, as the evaluation takes them.
Result<AlgebraicNumber> formed(const Value& v) {
  if (const auto* x = std::get_if<AlgebraicNumber>(&v)) return *x;
  const Deferred& d = *std::get<std::shared_ptr<const Deferred>>(v);
  poll_interrupt();
  AlgebraicNumber a = GY_TRY(formed(d.args[0]));
  switch (d.op) {
    case '^':
      return AlgebraicNumber::pow(a.field(), a, d.exponent);
    case '*':
      return a.mul(GY_TRY(formed(d.args[1])));
    case '/':
      return quotient(a, GY_TRY(formed(d.args[1])));
    case '+':
      return a.add(GY_TRY(formed(d.args[1])));
    case '-':
      return a.sub(GY_TRY(formed(d.args[1])));
    default:
      return a.neg();
  }
}

// The step put off, or formed at once when the tree of steps would grow past kMaxDeferredSteps.
Result<Value> defer(char op, std::vector<Value> args, Int exponent, Facts facts) {
  std::size_t steps = 1;
  for (const Value& a : args)
    if (is_deferred(a)) steps += std::get<std::shared_ptr<const Deferred>>(a)->steps;
  Value v = std::make_shared<const Deferred>(Deferred{op, std::move(args), std::move(exponent), std::move(facts), steps});
  if (steps <= kMaxDeferredSteps) return v;
  return formed(v);
}

// The facts of a nonzero rational of QQ, put off or formed; none for any other number.
std::optional<Facts> facts_of(const Value& v) {
  if (is_deferred(v)) return std::get<std::shared_ptr<const Deferred>>(v)->facts;
  const AlgebraicNumber& x = std::get<AlgebraicNumber>(v);
  if (x.field().get() != rationals() || x.is_zero()) return std::nullopt;
  const Fraction& c = x.value()[0];
  Facts f;
  f.sign = c.sign();
  f.num = Magnitude(c.num());
  f.den = Magnitude(c.den());
  if (!c.num().abs().is_one()) f.num_bases.push_back(c.num().abs());
  if (!c.den().is_one()) f.den_bases.push_back(c.den());
  return f;
}

MemoryRefusal product_refusal(std::uint64_t bits) {
  return MemoryRefusal(cat("a product of ", bits, " bits or more exceeds the limit of ", Int::kMaxBits, " bits of an integer"));
}

// Judgements of a step from facts: nothing when the bounds leave it open; else success, or the
// error the arithmetic returns. A refusal the arithmetic throws (MemoryRefusal) is thrown.

// Fraction::pow of c^e, e >= 1, |c| != 1: "exponent too large" when e, or e times one less than the
// larger bit length of c's parts, passes Int::kMaxBits.
std::optional<Status> judge_power(const Facts& f, const Int& e) {
  const auto e64 = e.to_i64();
  if (!e64 || *e64 > static_cast<std::int64_t>(Int::kMaxBits)) return Status(fail(Error::exponent_too_large()));
  const auto ev = static_cast<std::uint64_t>(*e64);
  const std::uint64_t lo = std::max(f.num.bits_lo(), f.den.bits_lo()) - 1;
  const std::uint64_t hi = std::max(f.num.bits_hi(), f.den.bits_hi()) - 1;
  if (hi * ev <= Int::kMaxBits) return Status();
  if (lo * ev > Int::kMaxBits) return Status(fail(Error::exponent_too_large()));
  return std::nullopt;
}

// Int's product of integers of these sizes, refused past Int::kMaxBits + 1 bits counted as the sum
// of the operands' bit lengths.
std::optional<Status> judge_product(const Magnitude& a, const Magnitude& b) {
  if (a.bits_hi() + b.bits_hi() <= Int::kMaxBits + 1) return Status();
  const auto x = a.exact_bits(), y = b.exact_bits();
  if (!x || !y) return std::nullopt;
  if (*x + *y > Int::kMaxBits + 1) throw product_refusal(*x + *y - 1);
  return Status();
}

bool coprime(const std::vector<Int>& a, const std::vector<Int>& b) {
  for (const Int& x : a)
    for (const Int& y : b)
      if (!Int::gcd(x, y).is_one()) return false;
  return true;
}

// x·y as Fraction's product forms it: a gcd of each numerator with the other's denominator, open
// unless both are 1, then the product of the denominators and that of the numerators (the
// denominators' is taken first).
std::optional<Facts> product_facts(const Facts& x, const Facts& y) {
  if (!coprime(x.num_bases, y.den_bases) || !coprime(y.num_bases, x.den_bases)) return std::nullopt;
  if (!judge_product(x.den, y.den) || !judge_product(x.num, y.num)) return std::nullopt;
  Facts r;
  r.sign = x.sign * y.sign;
  r.num = x.num.times(y.num);
  r.den = x.den.times(y.den);
  r.num_bases = x.num_bases;
  r.num_bases.insert(r.num_bases.end(), y.num_bases.begin(), y.num_bases.end());
  r.den_bases = x.den_bases;
  r.den_bases.insert(r.den_bases.end(), y.den_bases.begin(), y.den_bases.end());
  return r;
}

// 1/c as AlgebraicNumber::inverse forms it, dividing 1 by c: the products 1·d and 1·n.
std::optional<Facts> inverse_facts(const Facts& c) {
  if (!judge_product(Magnitude(), c.den) || !judge_product(Magnitude(), c.num)) return std::nullopt;
  Facts r;
  r.sign = c.sign;
  r.num = c.den;
  r.den = c.num;
  r.num_bases = c.den_bases;
  r.den_bases = c.num_bases;
  return r;
}

// AlgebraicNumber::root of a rational of QQ with these facts, k within the degree limit and fit for
// the sign: its first product (x·1, forming the minimal polynomial) refuses a part past
// Int::kMaxBits, numerator first; then `factor` refuses a part past kFactorMaxBits.
std::optional<Status> judge_root(const Facts& f) {
  for (const Magnitude* m : {&f.num, &f.den}) {
    if (m->bits_hi() <= Int::kMaxBits) continue;
    const auto bits = m->exact_bits();
    if (!bits) return std::nullopt;
    if (*bits > Int::kMaxBits) throw product_refusal(*bits);
  }
  if (std::max(f.num.bits_hi(), f.den.bits_hi()) <= kFactorMaxBits) return Status();
  const auto num = f.num.exact_bits(), den = f.den.exact_bits();
  if (!num || !den) return std::nullopt;
  if (auto refusal = rational_root_refusal(*num, *den)) return Status(fail(std::move(*refusal)));
  return Status();
}

// The k-th root (k >= 2) of an evaluated operand.
Result<AlgebraicNumber> root_of(const Value& v, const Int& k) {
  if (is_deferred(v)) {
    const Facts& f = std::get<std::shared_ptr<const Deferred>>(v)->facts;
    // The refusals that come before any work on the radicand, the root's own for any number of
    // its sign.
    if (k > Int(kMaxFieldDegree) || (f.sign < 0 && !k.is_odd()))
      if (auto refused = AlgebraicNumber::constant(QQ(), f.sign).root(k); !refused) return refused;
    if (auto judged = judge_root(f); judged && !*judged) return fail(std::move(judged->error()));
    return GY_TRY(formed(v)).root(k);
  }
  const AlgebraicNumber& r = std::get<AlgebraicNumber>(v);
  if (auto refusal = root_refusal(r, k)) return fail(std::move(*refusal));
  return r.root(k);
}

// base^(p/q) of a rational of QQ other than 0 and ±1, put off when large; nothing when the power is
// taken by the general road (another number, a small power, or bounds that leave it open).
std::optional<Result<Value>> power_put_off(const Value& base, const Int& p, const Int& q) {
  const std::optional<Facts> f = facts_of(base);
  if (!f || (f->num_bases.empty() && f->den_bases.empty())) return std::nullopt;
  const bool deferred = is_deferred(base);
  if (f->sign < 0 && !q.is_one()) return Result<Value>(fail(Error::parse("exponent of negative number must be an integer")));
  if (p.sign() <= 0) {
    // The power's answer for these exponents does not depend on the base's value.
    if (!deferred) return std::nullopt;
    return Result<Value>(AlgebraicNumber::pow(QQ(), AlgebraicNumber::one(QQ()), p));
  }
  const std::optional<Status> judged = judge_power(*f, p);
  if (!judged) return std::nullopt;
  if (!*judged) return Result<Value>(fail(std::move(judged->error())));
  Facts r;
  r.sign = f->sign < 0 && p.is_odd() ? -1 : 1;
  const auto e = static_cast<std::uint64_t>(*p.to_i64());
  r.num = f->num.power(e);
  r.den = f->den.power(e);
  if (!deferred && std::max(r.num.bits_hi(), r.den.bits_hi()) < kDeferBits) return std::nullopt;
  r.num_bases = f->num_bases;
  r.den_bases = f->den_bases;
  Result<Value> power = defer('^', {base}, p, std::move(r));
  if (!power || q.is_one()) return power;
  poll_interrupt();
  Result<AlgebraicNumber> root = root_of(*power, q);
  if (!root) return Result<Value>(fail(std::move(root.error())));
  return Result<Value>(std::move(*root));
}

// a·b or a/b where either is a rational put off and both are rationals of QQ, as
// AlgebraicNumber::mul and div take them; nothing when the bounds leave it open.
std::optional<Result<Value>> product_put_off(char op, const Value& a, const Value& b) {
  if (!is_deferred(a) && !is_deferred(b)) return std::nullopt;
  const auto* za = std::get_if<AlgebraicNumber>(&a);
  const auto* zb = std::get_if<AlgebraicNumber>(&b);
  if ((za && za->is_zero()) || (zb && zb->is_zero())) {
    // A zero of any field: the join depends on the fields only, so it is formed with QQ's one in
    // place of the rational put off. The product is zero, once the quotient has inverted a nonzero
    // divisor, or the quotient by zero is refused, without the rational's value.
    std::vector<AlgebraicNumber> both{za ? *za : AlgebraicNumber::one(QQ()), zb ? *zb : AlgebraicNumber::one(QQ())};
    GY_CHECK(common_field(both));
    if (op == '/') {
      if (zb) return Result<Value>(fail(both[1].inverse().error()));
      if (!inverse_facts(std::get<std::shared_ptr<const Deferred>>(b)->facts)) return std::nullopt;
    }
    return Result<Value>(AlgebraicNumber::zero(both[0].field()));
  }
  const std::optional<Facts> fa = facts_of(a), fb = facts_of(b);
  if (!fa || !fb) return std::nullopt;
  // Fraction's product takes the right operand, or the divisor's inverse, first.
  std::optional<Facts> x = fb;
  if (op == '/') {
    x = inverse_facts(*fb);
    if (!x) return std::nullopt;
  }
  std::optional<Facts> r = product_facts(*x, *fa);
  if (!r) return std::nullopt;
  return defer(op, {a, b}, Int(), std::move(*r));
}

// Whether Int's product of integers of these sizes is certain to be formed.
bool product_fits(const Magnitude& a, const Magnitude& b) { return a.bits_hi() + b.bits_hi() <= Int::kMaxBits + 1; }

// a + b or a − b where either is a rational put off and both are nonzero rationals of QQ, as
// Fraction's sum forms them: for denominators d, e with no common factor, (n·e ± m·d)/(d·e), already
// in lowest terms (over a common denominator 1, n ± m). Put off when one term passes the other by
// more than the last place of its bounds, which then fix the numerator's size and the sign; nothing
// when that is open, the denominators may share a factor, or a product might be refused.
std::optional<Result<Value>> sum_put_off(char op, const Value& a, const Value& b) {
  if (!is_deferred(a) && !is_deferred(b)) return std::nullopt;
  const std::optional<Facts> fa = facts_of(a), fb = facts_of(b);
  if (!fa || !fb || !coprime(fa->den_bases, fb->den_bases)) return std::nullopt;
  if (!product_fits(fa->num, fb->den) || !product_fits(fb->num, fa->den) || !product_fits(fa->den, fb->den))
    return std::nullopt;
  const Magnitude left = fa->num.times(fb->den), right = fb->num.times(fa->den);
  Facts r;
  if (right.bits_hi() <= left.unit()) {
    r.sign = fa->sign;
    r.num = left.widened();
  } else if (left.bits_hi() <= right.unit()) {
    r.sign = op == '-' ? -fb->sign : fb->sign;
    r.num = right.widened();
  } else {
    return std::nullopt;
  }
  r.den = fa->den.times(fb->den);
  r.num_bases = {Int()};
  r.den_bases = fa->den_bases;
  r.den_bases.insert(r.den_bases.end(), fb->den_bases.begin(), fb->den_bases.end());
  return defer(op, {a, b}, Int(), std::move(r));
}

// 1/y for a quotient x/y, taken in y's own field before the two fields are joined, when that gives
// the same quotient for less work: y irrational, of another field than an irrational x, and 1/y a
// polynomial in y's generator of no higher degree than y (so the join rewrites no more powers for
// it), or a monomial c·alpha^(n−k) of y = a·alpha^k in the field of a binomial, whose power costs
// the join fewer products than y's own and an inverse in the joined field (of degree about the
// product of both). Inverting in the smaller field spares the inverse in the joined one; the
// product is then the one the quotient forms. Nothing for a zero y, or when the inverse fails: the
// quotient then takes its own road, with its own errors.
std::optional<AlgebraicNumber> inverse_before_join(const AlgebraicNumber& x, const AlgebraicNumber& y) {
  if (x.field() == y.field() || x.is_rational() || y.is_rational()) return std::nullopt;
  // A monomial's field below degree 25 with short coefficients joins, as measured, into fields
  // that invert for less than the power's products: the rule for any other y serves it.
  const std::size_t n = y.field()->degree(), k = static_cast<std::size_t>(y.value().degree());
  const bool monomial = is_monomial_of_binomial(y) &&
                        (n >= 25 || y.field()->integer_polynomial().coeffs[0].bit_length() >= 64) &&
                        power_cost(n - k) < power_cost(k) + inverse_cost(n * x.field()->degree());
  if (!monomial && k + 1 < n) {
    // An inverse has degree below the field's, and most of lower degree than y's are of full
    // degree: only a y of full degree is inverted on trial.
    return std::nullopt;
  }
  try {
    Result<AlgebraicNumber> inverse = y.inverse();
    if (!inverse || (!monomial && inverse->value().degree() > y.value().degree())) return std::nullopt;
    return std::move(*inverse);
  } catch (const MemoryRefusal&) {
    return std::nullopt;
  }
}

Result<Value> evaluate(const Expr& expr, std::size_t depth);

// "^", "+", "-", "*" or "/" of two evaluated operands; the last four in the common field of both.
Result<Value> apply_binary(const std::string& op, const Value& left, const Value& right) {
  if (op == "^") {
    const auto* put_off = std::get_if<std::shared_ptr<const Deferred>>(&right);
    if (put_off && (*put_off)->facts.num.bits_lo() > 64) {
      // An exponent put off whose numerator passes 64 bits is refused by every power (once the
      // base's sign allows the exponent's denominator): "exponent too large", or the empty Range
      // error of a negative exponent. Bases 0 and ±1 take the usual road.
      const Facts& e = (*put_off)->facts;
      const std::optional<Facts> f = facts_of(left);
      const auto* base = std::get_if<AlgebraicNumber>(&left);
      if (f ? !(f->num_bases.empty() && f->den_bases.empty()) : !base->is_rational()) {
        const int sign = f ? f->sign : GY_TRY(base->sign());
        if (sign < 0 && !e.den_bases.empty()) return fail(Error::parse("exponent of negative number must be an integer"));
        return fail(e.sign < 0 ? Error::range("") : Error::exponent_too_large());
      }
    }
    const AlgebraicNumber exponent = GY_TRY(formed(right));
    if (!exponent.is_rational()) return fail(Error::parse("exponent must be a fraction"));
    const Fraction e = exponent.is_zero() ? Fraction() : exponent.value()[0];
    if (auto put_off = power_put_off(left, e.num(), e.den())) return std::move(*put_off);
    const AlgebraicNumber base = GY_TRY(formed(left));
    int sign = GY_TRY(base.sign());
    if (sign < 0 && !e.den().is_one()) return fail(Error::parse("exponent of negative number must be an integer"));
    if (auto refusal = power_refusal(base, e.num(), e.den())) return fail(std::move(*refusal));
    AlgebraicNumber r = GY_TRY(AlgebraicNumber::pow(base.field(), base, e.num()));
    if (e.den().is_one()) return r;
    poll_interrupt();
    return root_of(r, e.den());
  }
  if (op == "*" || op == "/")
    if (auto put_off = product_put_off(op[0], left, right)) return std::move(*put_off);
  if (op == "+" || op == "-")
    if (auto put_off = sum_put_off(op[0], left, right)) return std::move(*put_off);
  std::vector<AlgebraicNumber> args;
  args.reserve(2);
  args.push_back(GY_TRY(formed(left)));
  args.push_back(GY_TRY(formed(right)));
  if (op == "/")
    if (auto inverse = inverse_before_join(args[0], args[1])) {
      args[1] = std::move(*inverse);
      GY_CHECK(common_field(args));
      return args[0].mul(args[1]);
    }
  GY_CHECK(common_field(args));
  if (op == "+") return args[0].add(args[1]);
  if (op == "-") return args[0].sub(args[1]);
  if (op == "*") return args[0].mul(args[1]);
  return quotient(args[0], args[1]);
}

Result<Value> evaluate(const Expr& expr, std::size_t depth) {
  if (depth > kMaxTreeDepth) return fail(too_deep());
  poll_interrupt();
  const std::string& op = expr.op;
  if (chain_level(expr)) {
    // Left to right along the chain, as the recursion over each left operand would go.
    const std::vector<const Expr*> spine = chain_of(expr);
    Value acc = GY_TRY(evaluate(spine.back()->args[0], depth + 1));
    for (auto it = spine.rbegin(); it != spine.rend(); ++it) {
      Value right = GY_TRY(evaluate((*it)->args[1], depth + 1));
      acc = GY_TRY(apply_binary((*it)->op, acc, right));
    }
    return acc;
  }
  std::vector<Value> args;
  args.reserve(expr.args.size());
  for (const auto& a : expr.args) args.push_back(GY_TRY(evaluate(a, depth + 1)));
  if (args.size() == 2) {
    if (is_binary(op)) return apply_binary(op, args[0], args[1]);
    std::vector<AlgebraicNumber> both;
    for (const Value& a : args) both.push_back(GY_TRY(formed(a)));
    GY_CHECK(common_field(both));
  }
  if (op == "neg") {
    if (args.size() != 1) return fail(Error::parse("neg must have an argument"));
    if (is_deferred(args[0])) {
      Facts f = std::get<std::shared_ptr<const Deferred>>(args[0])->facts;
      f.sign = -f.sign;
      return defer('n', {args[0]}, Int(), std::move(f));
    }
    return std::get<AlgebraicNumber>(args[0]).neg();
  }
  if (op == "num") {
    if (!expr.value) return fail(Error::parse("num without a value"));
    return AlgebraicNumber::rational(QQ(), *expr.value);
  }
  if (op == "sqrt" || op == "cbrt") {
    if (args.size() != 1) return fail(Error::parse(op + " must have an argument"));
    return root_of(args[0], Int(op == "sqrt" ? 2 : 3));
  }
  return fail(Error::parse("unknown operation '" + op + "'"));
}

}  // namespace

Result<AlgebraicNumber> evaluate_expr(const Expr& expr) {
  // Large integer memory given back by one step serves the next; all of it is returned at the end.
  BlockReuse reuse;
  return formed(GY_TRY(evaluate(expr, 0)));
}

// ---- Shapes and recipes ------------------------------------------------------------------------

bool polyhedron_code_ok(std::string_view name) { return name.find_first_of("$,&=%") == std::string_view::npos; }

Result<Shape> parse_shape(std::string_view text) {
  std::size_t dollar = text.find('$');
  if (dollar == std::string_view::npos || text.find('$', dollar + 1) != std::string_view::npos) {
    return fail(Error::parse("expected $"));
  }
  std::string_view left = text.substr(0, dollar);
  Expr right = GY_TRY(parse_expr(text.substr(dollar + 1)));
  std::vector<Expr> pieces;
  for (std::string_view piece : split(left, ',')) pieces.push_back(GY_TRY(parse_expr(piece)));
  if (pieces.size() == 3) {
    return Shape::plane(std::move(pieces[0]), std::move(pieces[1]), std::move(pieces[2]), std::move(right));
  }
  return Shape::polyhedron(std::string(left), std::move(right));
}

Result<std::string> shape_to_text(const Shape& shape) {
  if (const PlaneShape* p = shape.as_plane()) {
    return cat(GY_TRY(generateExpr(p->a)), ",", GY_TRY(generateExpr(p->b)), ",", GY_TRY(generateExpr(p->c)), "$",
               GY_TRY(generateExpr(p->d)));
  }
  const PolyhedronShape& p = *shape.as_polyhedron();
  if (p.name.find_first_of("$&=%") != std::string::npos) {
    return fail(Error::parse(cat(quote_debug(p.name), " is not a polyhedron code")));
  }
  return cat(p.name, "$", GY_TRY(generateExpr(p.size)));
}

Result<Recipe> parse_recipe_query(std::string_view text) {
  std::string decoded = GY_TRY(percent_decode(text));
  if (!utf8_valid(decoded)) return fail(uri_malformed());
  Recipe recipe;
  if (decoded.empty()) return recipe;
  if (decoded[0] != '?') return fail(Error::parse("expected ?"));
  std::string_view rest = std::string_view(decoded).substr(1);
  if (rest.empty()) return recipe;  // "?" is how the empty recipe is written
  for (std::string_view piece : split(rest, '&')) {
    std::size_t eq = piece.find('=');
    if (eq == std::string_view::npos || piece.find('=', eq + 1) != std::string_view::npos) {
      return fail(Error::parse("expected exactly one ="));
    }
    std::string_view key = piece.substr(0, eq), value = piece.substr(eq + 1);
    if (key == "shell") {
      recipe.shell.push_back(GY_TRY(parse_shape(value)));
    } else if (key == "cut") {
      recipe.cuts.push_back(GY_TRY(parse_shape(value)));
    } else {
      warn_unknown_key(key);
    }
  }
  return recipe;
}

Result<std::string> recipe_to_query(const Recipe& recipe) {
  std::string out = "?";
  bool first = true;
  auto add = [&](std::string_view key, const Shape& shape) -> Status {
    if (!first) out += '&';
    first = false;
    out += key;
    out += '=';
    out += GY_TRY(shape_to_text(shape));
    return {};
  };
  for (const Shape& s : recipe.shell) GY_CHECK(add("shell", s));
  for (const Shape& s : recipe.cuts) GY_CHECK(add("cut", s));
  return out;
}

}  // namespace gy
