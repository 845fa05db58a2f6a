// Real number fields Q(alpha) and their elements: exact real algebraic numbers with exact signs,
// equality and arithmetic, correctly rounded float values, k-th roots in new fields, and the common
// field of several numbers.
//
// A field holds alpha's minimal polynomial m and a rational interval that isolates alpha among the
// roots of m. The interval, with cached bounds of the powers of alpha, is the only state that ever
// changes: any reader may narrow it, every number of the field profits, and it sits behind the
// field's own reader/writer lock. A narrowing is computed without the lock and published by one
// pointer swap that keeps the intersection with whatever another thread published meanwhile, so the
// interval only shrinks and always isolates alpha; a failure or an exception part way leaves the
// published state as it was, so the lock never guards a half-written value. Besides it, a field of
// high degree keeps a bounded memo of the inverses taken in it, behind a lock of its own; a memo
// entry is the inverse itself, so it changes no result.
//
// Signs, floats and comparisons narrow the interval exactly as far as repeated one-step bisections
// would, so the interval a field shows is the same as if they had, but they reach it at once: the
// bisection is replayed privately against an enclosure of alpha that exact evaluations of m narrow
// quadratically, and the bounds of the powers of alpha are formed only up to the powers asked for.
// Comparisons of numbers of different fields use their enclosures and, when those stay close, the
// numbers' minimal polynomials; they never form a common field.
//
// Degree limit: no field of degree above kMaxFieldDegree is built, and roots and joins whose
// defining polynomial would exceed it (k·d for a k-th root in a field of degree d, d_A·d_B for a
// join) are refused with a Range error before the polynomial is formed.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "num/error.hpp"
#include "num/fraction.hpp"
#include "num/int.hpp"
#include "num/polynomial.hpp"

namespace gy {

inline constexpr std::int64_t kMaxFieldDegree = 256;

class NumberField;
class AlgebraicNumber;
using FieldRef = std::shared_ptr<const NumberField>;

class NumberField {
  struct Key {};

 public:
  // The field of alpha, the one root of m in [lo, hi]. m must be irreducible (not checked).
  // Range for a constant m or a degree above kMaxFieldDegree; Other "Interval must contain exactly
  // one root" unless [lo, hi] holds exactly one root of m.
  static Result<FieldRef> make(FracPoly m, Fraction lo, Fraction hi);
  // As make, for a caller that has already found exactly one root of m in [lo, hi].
  static Result<FieldRef> make_isolated(FracPoly m, Fraction lo, Fraction hi);

  // Equal fields: the same object, or the same minimal polynomial with overlapping intervals around
  // the same root.
  static Result<bool> eq(const FieldRef& a, const FieldRef& b);

  const FracPoly& minimal_polynomial() const { return m_; }
  // A positive multiple of m with coprime integer coefficients.
  const IntPoly& integer_polynomial() const { return m_int_; }
  std::size_t degree() const { return d_; }
  // Entry i is x^i reduced modulo m, for i = 0 ..= 2d; made on first use.
  const std::vector<FracPoly>& power_table() const;

  // One bisection step of alpha's interval; a collapsed interval stays as it is.
  Status refine() const;
  // Whether an interval [lo, hi] of alpha is narrow enough; once true it stays true on every
  // interval inside it.
  using Settled = std::function<Result<bool>(const Fraction& lo, const Fraction& hi)>;
  // The interval that repeated `refine` steps reach first where `settled` holds, published at once.
  // The steps are replayed privately, the side of each split point read off an enclosure of alpha
  // that exact evaluations of m narrow quadratically; the predicate is tested on a doubling
  // and then halving schedule of step counts, so the cost grows with the logarithm of the steps.
  // `limit` bounds the steps: callers derive it from the sizes of what they decide, so that it
  // is never reached (Other when it is, which would be a fault).
  // `guess`, when given, is asked once the doubling has bracketed the first settled step count
  // (below, above] for an estimate of it; the counts next to the estimate are tested first, so a
  // close estimate saves most of the halving. The interval reached is the same either way.
  using Guess = std::function<std::uint64_t(std::uint64_t below, std::uint64_t above)>;
  // `first`: the step count tested first, where the caller expects the first settled one.
  Status refine_until(const Settled& settled, std::uint64_t limit, const Guess& guess = {}, std::uint64_t first = 1) const;
  // The intervals that rounds of one `refine` step of a and then one of b reach first where
  // `settled` holds, published at once; the rounds are replayed privately as refine_until replays
  // its steps. `settled` must stay true on narrower intervals. Returns the two intervals reached.
  using SettledPair = std::function<Result<bool>(const Fraction& a_lo, const Fraction& a_hi, const Fraction& b_lo,
                                                 const Fraction& b_hi)>;
  using IntervalPair = std::array<Fraction, 4>;  // a_lo, a_hi, b_lo, b_hi
  static Result<IntervalPair> refine_pair_until(const NumberField& a, const NumberField& b,
                                                const SettledPair& settled);

  // Memos of what was found about numbers of this field, each up to 256 of the latest: the
  // inverses taken, and the minimal polynomials (monic) of numbers compared with other fields'.
  enum class Memo { Inverse, Minimal };
  std::optional<FracPoly> memo_find(Memo which, const FracPoly& value) const;
  void memo_store(Memo which, const FracPoly& value, const FracPoly& found) const;

  // "Q(root of {m} in [{lo},{hi}])" with the current interval.
  void fmt(std::string& out) const;
  std::string to_string() const {
    std::string s;
    fmt(s);
    return s;
  }

  NumberField(Key, FracPoly m, IntPoly m_int);

 private:
  friend class AlgebraicNumber;
  friend std::pair<Fraction, Fraction> field_interval_read(const NumberField& f);
  friend FieldRef QQ();

  // Alpha's interval and the bounds lower[i] <= alpha^i <= upper[i] for i up to the highest power
  // asked for so far (at most d). Never changed once published; longer bounds for the same interval
  // are published as a new state.
  struct State {
    Fraction lo, hi;
    int sign_lo = 0, sign_hi = 0;  // signs of m at lo and hi
    std::vector<Fraction> lower, upper;
    // floor(lower[i]·2^fixed_bits) and ceil(upper[i]·2^fixed_bits): looser bounds in fixed point,
    // a few words long where the fractions grow with i, through which most signs are decided.
    std::uint64_t fixed_bits = 0;
    std::vector<Int> lower_fixed, upper_fixed;
  };
  using StateRef = std::shared_ptr<const State>;


  StateRef state() const;
  // The most bits an end of alpha's interval may have, for m to be evaluated there within the size
  // limit of integers, and the error past it.
  std::uint64_t evaluation_bits() const;
  Error too_large() const;
  // The current state with bounds up to alpha^degree.
  StateRef bounded_state(std::size_t degree) const;
  StateRef make_state(Fraction lo, Fraction hi, int sign_lo, int sign_hi) const;
  // Publishes `next`, computed from `base`; keeps the intersection with anything newer.
  void publish(StateRef base, StateRef next) const;
  // Fills powers_int_ and powers_den_.
  void build_power_rows();

  FracPoly m_;
  IntPoly m_int_;  // a positive multiple of m with integer coefficients
  mutable std::once_flag powers_once_;
  mutable std::vector<FracPoly> powers_;
  // Entries d ..= 2d of the power table over one common denominator, for integer products.
  std::vector<IntPoly> powers_int_;
  Int powers_den_;
  // rev(m)⁻¹ mod x^(d−1) for a monic m_int_ of large degree, through which a product is reduced by
  // two more products instead of the table; empty otherwise.
  IntPoly reversed_inverse_;
  std::size_t d_;
  mutable std::shared_mutex lock_;
  mutable StateRef state_;
  struct PolyHash {
    std::size_t operator()(const FracPoly& p) const;
  };
  struct MemoTable {
    std::unordered_map<FracPoly, FracPoly, PolyHash> found;
    std::vector<FracPoly> order;  // the keys, oldest first from `next`
    std::size_t next = 0;
  };
  mutable std::mutex memo_lock_;
  mutable MemoTable memos_[2];

 public:
  // floor(alpha·2^scale) of a generator that is an integer root, at the finest scale found.
  struct RootFloor {
    std::mutex lock;
    std::optional<std::pair<std::int64_t, Int>> found;
  };

 private:
  mutable RootFloor root_floor_;
};

// Range unless a polynomial of this degree can be evaluated exactly at x within the size limit of
// integers.
Status check_evaluation_size(std::int64_t degree, const Fraction& x);

// Range "root of index {k} in a field of degree {degree} exceeds the field degree limit of 256". An
// index of 2^22 bits or more, whose decimal text would take seconds to write, reads "2^{L−1} or
// more" for its bit length L.
Error root_index_refusal(const Int& k, std::size_t degree);

// Copies of the current ends of alpha's interval (read lock).
std::pair<Fraction, Fraction> field_interval_read(const NumberField& f);

// The field of the rationals: m = x − 1, interval [1, 1]. Built once, on first use.
FieldRef QQ();

// An element of a number field: a polynomial in the generator with rational coefficients, reduced
// modulo the minimal polynomial, so that each number of a field has exactly one value.
class AlgebraicNumber {
 public:
  // The zero of the rationals.
  AlgebraicNumber();

  // p reduced modulo the field's minimal polynomial.
  static Result<AlgebraicNumber> make(FieldRef field, FracPoly p);
  static Result<AlgebraicNumber> from_polynomial(FieldRef field, std::vector<Fraction> coeffs);
  // alpha; in a field of degree 1 the rational root itself.
  static Result<AlgebraicNumber> generator(FieldRef field);
  static AlgebraicNumber zero(FieldRef field);
  static AlgebraicNumber one(FieldRef field);
  static AlgebraicNumber constant(FieldRef field, std::int64_t n);
  // A rational as a number of the field.
  static AlgebraicNumber rational(FieldRef field, Fraction c);

  const FracPoly& value() const { return value_; }
  const FieldRef& field() const { return field_; }
  bool is_zero() const { return value_.is_zero(); }
  // Rational: the value is a constant (or zero).
  bool is_rational() const { return value_.degree() <= 0; }

  // The operands must share a field, or one of them be rational (it takes the other's field);
  // otherwise Range "AlgebraicNumbers must have same field ({} != {})".
  Result<AlgebraicNumber> add(const AlgebraicNumber& b) const;
  Result<AlgebraicNumber> sub(const AlgebraicNumber& b) const;
  Result<AlgebraicNumber> mul(const AlgebraicNumber& b) const;
  // *this = *this · b; unchanged on an error.
  Status mul_into(const AlgebraicNumber& b);
  // 1 / *this; Range "Division by zero: {}" for zero.
  Result<AlgebraicNumber> inverse() const;
  Result<AlgebraicNumber> div(const AlgebraicNumber& b) const;
  // base^e in `field` (e = 0 gives the 1 of `field`); Range "" for a negative exponent, Other
  // "exponent too large" for an irrational base and e >= 2^28.
  static Result<AlgebraicNumber> pow(const FieldRef& field, const AlgebraicNumber& base, const Int& e);

  AlgebraicNumber neg() const;
  AlgebraicNumber operator-() const { return neg(); }
  Result<AlgebraicNumber> abs() const;

  // The exact sign, -1, 0 or +1. Zero is decided by the value alone; otherwise the field's interval
  // is narrowed only until the number's interval leaves zero.
  Result<int> sign() const;
  // A rational enclosure (lower, upper) from the field's cached power bounds.
  Result<std::pair<Fraction, Fraction>> interval() const;
  // The nearest double (ties to even), the same whatever narrowed the field before: the field is
  // narrowed until both ends of the interval round alike.
  Result<double> to_f64() const;

  // sub(b) and its sign(), errors included, without forming the difference when the numbers'
  // enclosures already part.
  Result<int> sign_of_difference(const AlgebraicNumber& b) const;
  // Exact equality; numbers of fields that do not combine are unequal.
  bool eq(const AlgebraicNumber& b) const;
  // The sign of *this − b, for numbers of any two fields: no common field is formed, so the field
  // degree limit never applies.
  Result<int> cmp(const AlgebraicNumber& b) const;
  AlgebraicNumber clone() const { return *this; }

  // The non-negative k-th root of a non-negative number, as the generator of a new field. For odd
  // k a negative number has the negative real root, −root(−v). Range when k < 1 or k·d exceeds
  // kMaxFieldDegree, and for an even root of a negative number.
  Result<AlgebraicNumber> root(const Int& k) const;

  // "{value} in {field}".
  void fmt(std::string& out) const;
  std::string to_string() const {
    std::string s;
    fmt(s);
    return s;
  }

 private:
  AlgebraicNumber(FracPoly v, FieldRef f) : value_(std::move(v)), field_(std::move(f)) {}
  // interval(), its ends reduced to lowest terms only when asked.
  std::pair<Fraction, Fraction> enclosure(bool reduced) const;
  // A non-constant value as A / D with A integral, and a fixed-point enclosure [lo, hi] around the
  // one enclosure(false) gives from `state`, in a field of degree kFixedFilterDegree or more.
  struct Loose {
    IntPoly a;
    Int d;
    NumberField::StateRef state;
    Fraction lo, hi;
  };
  Loose loose_enclosure() const;
  // The ends of enclosure(false), or of a looser enclosure around it when that one settles `done`.
  template <class Done>
  std::pair<Fraction, Fraction> filtered_enclosure(const Done& done) const;
  // inverse() of a non-constant number, without the field's memo.
  Result<AlgebraicNumber> invert() const;
  // The product (A/Da)·(B/Db) in f of integral numerators (a square when a and b are one object) as
  // R/den, R reduced modulo m but not in lowest terms; `table` tells whether den took the power
  // table's denominator. The integer products are mul's own, in its order.
  static IntPoly product_over_integers(const NumberField& f, const IntPoly& a, const IntPoly& b, const Int& da,
                                       const Int& db, Int& den, bool& table);
  // base^e, e >= 1, in base's own field: a monomial of a radical field directly, when the products
  // of square-and-multiply surely stay within the size limit of integers and its parts are coprime
  // or small enough for their coprime base (none otherwise).
  static std::optional<AlgebraicNumber> radical_power(const AlgebraicNumber& base, std::uint64_t e);
  // base^e, e >= 1, in base's own field by pow's square-and-multiply with mul's integer products,
  // each reduced by the valuations at the primes of the denominators instead of gcds; none when
  // those primes are not all found.
  static Result<std::optional<AlgebraicNumber>> integral_power(const AlgebraicNumber& base, std::uint64_t e);
  // A lower bound on log2 |x| for a number x = c0 + c1·alpha, from a private narrowing of alpha
  // that is never published; none when that does not part x from zero.
  static std::optional<double> log2_magnitude_at_least(const AlgebraicNumber& x);
  friend Status common_field(std::span<AlgebraicNumber> numbers);

  FracPoly value_;
  FieldRef field_;
  // A lower bound on log2 |value| that a power took from its base, NaN when none: where a sign
  // must narrow alpha's interval until the value's enclosure is narrower than the value.
  double log2_at_least_ = std::numeric_limits<double>::quiet_NaN();
};

// Whether p has no terms between its top and its constant: l·x^n + c.
inline bool is_binomial(const FracPoly& p) {
  return p.coeffs.size() < 3 || std::all_of(p.coeffs.begin() + 1, p.coeffs.end() - 1, [](const Fraction& c) { return c.is_zero(); });
}
// Whether p is a single term a·x^k, k >= 1.
inline bool is_monomial(const FracPoly& p) {
  return p.degree() >= 1 && std::all_of(p.coeffs.begin(), p.coeffs.end() - 1, [](const Fraction& c) { return c.is_zero(); });
}

// Whether x is a·alpha^k, k >= 1, in the field of a binomial l·x^n + c (c != 0), whose inverse is
// the monomial alpha^(n−k)/(a·w), w = −c/l, known at once; only for parts well within the size
// limit of integers.
bool is_monomial_of_binomial(const AlgebraicNumber& x);
// About how many products of its numbers an inverse costs in a field of this degree, and a power
// x^e by repeated squares (bit length plus ones, as its squares and products are counted).
std::size_t inverse_cost(std::size_t degree);
inline std::size_t power_cost(std::size_t e) { return static_cast<std::size_t>(std::bit_width(e) + std::popcount(e)); }

// The field a binary operation of a and b works in.
Result<FieldRef> same_field(const AlgebraicNumber& a, const AlgebraicNumber& b);

// The non-negative square root of x as a number of x's own field, when the field holds it.
Result<std::optional<AlgebraicNumber>> square_root_in_field(const AlgebraicNumber& x);

// Polynomials over a number field (all coefficients of one field; the zero polynomial has none).
using FieldPoly = Polynomial<AlgebraicNumber>;

template <>
struct CoeffTraits<AlgebraicNumber> {
  using A = AlgebraicNumber;
  static bool is_zero(const A& x) { return x.is_zero(); }
  static bool is_one(const A& x) { return x.value().degree() == 0 && x.value()[0].is_one(); }
  static A zero(const FieldPoly& ctx) { return ctx.is_zero() ? A() : A::zero(ctx.coeffs[0].field()); }
  static A one(const FieldPoly& ctx) { return ctx.is_zero() ? A::one(QQ()) : A::one(ctx.coeffs[0].field()); }
  static A neg(const A& x) { return x.neg(); }
  static void add_to(A& a, const A& b) { a = expect(a.add(b), "coefficients share one field"); }
  static void sub_from(A& a, const A& b) { a = expect(a.sub(b), "coefficients share one field"); }
  static A mul(const A& a, const A& b) { return expect(a.mul(b), "coefficients share one field"); }
  static Result<A> div_exact(const A& a, const A& b) { return a.div(b); }
};

// Each inner array, read as a polynomial in K's generator, becomes one coefficient.
Result<FieldPoly> field_polynomial_from_vecs(const FieldRef& field, const std::vector<std::vector<Fraction>>& rows);

// P(x) by Horner's rule, starting from the zero of `field`.
Result<AlgebraicNumber> eval_algebraic(const FieldRef& field, const FieldPoly& p, const AlgebraicNumber& x);

// The root of gcd over K of P(x) and Q(l0 + l1·x) when that gcd has degree 1; l0 and l1 are
// polynomials in K's generator. Absent otherwise.
Result<std::optional<AlgebraicNumber>> field_poly_gcd(const FieldRef& field, const std::vector<Fraction>& p,
                                                      const std::vector<Fraction>& q, const std::vector<Fraction>& l0,
                                                      const std::vector<Fraction>& l1);

// [k·lo_F + lo_G, k·hi_F + hi_G], an enclosure of k·alpha_F + alpha_G for k >= 0.
std::pair<Fraction, Fraction> combined_interval(const Fraction& k, const NumberField& f, const NumberField& g);

// Rewrites the numbers in place so that all hold one field object, each keeping its value. A field
// that already contains another's generator absorbs it without growing; otherwise the join is the
// field of a primitive element. On an error the numbers are left as they were.
Status common_field(std::span<AlgebraicNumber> numbers);

}  // namespace gy
