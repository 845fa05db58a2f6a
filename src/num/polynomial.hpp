// Dense polynomials in one variable over one exact coefficient kind (lowest degree first, the top
// coefficient never zero), residues modulo an integer, and the remainder-sequence tools built on them:
// subresultant gcds and resultants, the Euclidean gcd modulo a prime, and Sturm root counting.
//
// Coefficient kinds: Fraction, Int, Modular, Polynomial<Fraction> (bivariate) and any kind that
// specialises CoeffTraits (the algebraic numbers do).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "num/error.hpp"
#include "num/fraction.hpp"
#include "num/int.hpp"

namespace gy {

// Runs body(i) for every i in [0, n) on the worker pool, at least `grain` indices to a task, each task
// working for the calling thread's watch (see num/interrupt.hpp); in the caller when n <= grain.
void for_each_parallel(std::size_t n, std::size_t grain, const std::function<void(std::size_t)>& body);

// Whether coefficients with this many bits in all are worth reducing in parallel: gcds of tens of
// thousands of bits cost far more than waking the pool.
inline bool reduce_in_parallel(std::size_t count, std::uint64_t total_bits) {
  return count >= 8 && total_bits >= count * std::uint64_t{32768};
}

// A residue: value kept in [0, modulus).
class Modular {
 public:
  Int value;
  Int modulus;

  Modular() = default;
  Modular(Int v, Int m) : value(std::move(v)), modulus(std::move(m)) {}
  // v reduced modulo m; Division "Division by zero" when m is not positive.
  static Result<Modular> make(const Int& v, const Int& m);
  bool is_zero() const { return value.is_zero(); }
  bool operator==(const Modular&) const = default;

  // Type "Numbers have different moduli" unless both moduli are equal.
  static Result<Modular> mul(const Modular& a, const Modular& b);
  static Result<Modular> sub(const Modular& a, const Modular& b);
  static Result<Modular> add(const Modular& a, const Modular& b);
  // a / b through the extended Euclidean algorithm; Division "Not divisible" when gcd(b, m) is zero
  // or does not divide a. Over a prime modulus this is a·b⁻¹; 0 / 0 is 0.
  static Result<Modular> div(const Modular& a, const Modular& b);

  static Error different_moduli() { return Error::type("Numbers have different moduli"); }
};

// ((v mod m) + m) mod m for positive m.
inline Int reduce_mod(const Int& v, const Int& m) {
  Int r = v % m;
  if (r.sign() < 0) r += m;
  return r;
}

template <class C>
class Polynomial;

template <class C>
inline constexpr bool is_modular_v = std::is_same_v<C, Modular>;

// What the generic algorithms need of a coefficient kind. `ctx` supplies the ring modulus for
// residues. The operations here never fail: residue moduli are checked before an algorithm runs.
template <class C>
struct CoeffTraits;

template <>
struct CoeffTraits<Fraction> {
  static bool is_zero(const Fraction& x) { return x.is_zero(); }
  static bool is_one(const Fraction& x) { return x.is_one(); }
  static Fraction zero(const Polynomial<Fraction>&) { return {}; }
  static Fraction one(const Polynomial<Fraction>&) { return Fraction(Int(1)); }
  static Fraction neg(const Fraction& x) { return x.neg(); }
  static void add_to(Fraction& a, const Fraction& b) { a += b; }
  static void sub_from(Fraction& a, const Fraction& b) { a -= b; }
  static Fraction mul(const Fraction& a, const Fraction& b) { return a * b; }
  static Result<Fraction> div_exact(const Fraction& a, const Fraction& b) { return a.div(b); }
};

template <>
struct CoeffTraits<Int> {
  static bool is_zero(const Int& x) { return x.is_zero(); }
  static bool is_one(const Int& x) { return x.is_one(); }
  static Int zero(const Polynomial<Int>&) { return Int(0); }
  static Int one(const Polynomial<Int>&) { return Int(1); }
  static Int neg(const Int& x) { return -x; }
  static void add_to(Int& a, const Int& b) { a += b; }
  static void sub_from(Int& a, const Int& b) { a -= b; }
  static Int mul(const Int& a, const Int& b) { return a * b; }
  static Result<Int> div_exact(const Int& a, const Int& b) { return Int::div_exact(a, b); }
};

template <>
struct CoeffTraits<Modular> {
  static bool is_zero(const Modular& x) { return x.value.is_zero(); }
  static bool is_one(const Modular& x) { return x.value.is_one(); }
  static Modular zero(const Polynomial<Modular>& ctx);
  static Modular one(const Polynomial<Modular>& ctx);
  static Modular neg(const Modular& x) { return Modular{reduce_mod(-x.value, x.modulus), x.modulus}; }
  static void add_to(Modular& a, const Modular& b) { a.value = reduce_mod(a.value + b.value, a.modulus); }
  static void sub_from(Modular& a, const Modular& b) { a.value = reduce_mod(a.value - b.value, a.modulus); }
  static Modular mul(const Modular& a, const Modular& b) {
    return Modular{reduce_mod(a.value * b.value, a.modulus), a.modulus};
  }
  static Result<Modular> div_exact(const Modular& a, const Modular& b) { return Modular::div(a, b); }
};

template <>
struct CoeffTraits<Polynomial<Fraction>>;

namespace detail {
template <class C>
struct RingModulus {};
template <>
struct RingModulus<Modular> {
  Int modulus;
};
}  // namespace detail

template <class C>
class Polynomial : public detail::RingModulus<C> {
  using T = CoeffTraits<C>;

 public:
  // Entry i is the coefficient of x^i; the last entry is never zero.
  std::vector<C> coeffs;

  Polynomial() = default;
  explicit Polynomial(std::vector<C> c)
    requires(!is_modular_v<C>)
      : coeffs(std::move(c)) {
    trim();
  }
  // A polynomial over residues modulo m; its coefficients should all carry m.
  Polynomial(Int m, std::vector<C> c)
    requires is_modular_v<C>
  {
    this->modulus = std::move(m);
    coeffs = std::move(c);
    trim();
  }
  static Polynomial constant(C c)
    requires(!is_modular_v<C>)
  {
    std::vector<C> v;
    v.push_back(std::move(c));
    return Polynomial(std::move(v));
  }
  // x, the monomial of degree one.
  static Polynomial x()
    requires(!is_modular_v<C>)
  {
    Polynomial p;
    p.coeffs.push_back(T::zero(p));
    p.coeffs.push_back(T::one(p));
    return p;
  }

  std::int64_t degree() const { return static_cast<std::int64_t>(coeffs.size()) - 1; }
  bool is_zero() const { return coeffs.empty(); }
  const C& lead() const {
    if (coeffs.empty()) panic("leading coefficient of the zero polynomial");
    return coeffs.back();
  }
  const C& operator[](std::size_t i) const { return coeffs[i]; }

  void trim() {
    while (!coeffs.empty() && T::is_zero(coeffs.back())) coeffs.pop_back();
  }

  // An empty polynomial of the same ring (the modulus carried over).
  Polynomial empty_like() const {
    Polynomial p;
    if constexpr (is_modular_v<C>) p.modulus = this->modulus;
    return p;
  }

  bool operator==(const Polynomial& o) const {
    if constexpr (is_modular_v<C>)
      if (!(this->modulus == o.modulus)) return false;
    if (coeffs.size() != o.coeffs.size()) return false;
    for (std::size_t i = 0; i < coeffs.size(); ++i)
      if (!(coeffs[i] == o.coeffs[i])) return false;
    return true;
  }

  // A result over residues (which may meet different moduli), a plain value otherwise.
  using Checked = std::conditional_t<is_modular_v<C>, Result<Polynomial>, Polynomial>;

  // Sum, difference and product. Over residues they fail with Type "Numbers have different moduli".
  static Checked add(const Polynomial& a, const Polynomial& b);
  static Checked sub(const Polynomial& a, const Polynomial& b);
  static Checked mul(const Polynomial& a, const Polynomial& b);

  // Euclidean quotient and remainder: a = q·b + r with deg r < deg b. Division "Division by zero"
  // for a zero b; over Int, Division "Not divisible" unless both are integral.
  static Result<std::pair<Polynomial, Polynomial>> div_rem(const Polynomial& a, const Polynomial& b);
  // The quotient when b divides a: Division "not divisible" for a remainder.
  static Result<Polynomial> div_exact(const Polynomial& a, const Polynomial& b);
  static Result<Polynomial> rem(const Polynomial& a, const Polynomial& b);

  Polynomial derivative() const;
  // Horner's rule; 0 for the zero polynomial.
  C eval(const C& x) const;
  // Divided by the leading coefficient; Range "monic() of zero polynomial".
  Result<Polynomial> monic() const;
  // c·self.
  Checked scale(const C& c) const;
  // self / c coefficient by coefficient, exactly.
  Result<Polynomial> div_scalar_exact(const C& c) const;
  // self^e; Range "" for a negative exponent.
  Result<Polynomial> pow(const Int& e) const;

  // Residues: the constant 1 modulo m (zero when m is 1).
  static Polynomial one_mod(const Int& m)
    requires is_modular_v<C>;

  // "x³ + -2", "1/2x² + x", "0".
  void fmt(std::string& out) const;
  std::string to_string() const {
    std::string s;
    fmt(s);
    return s;
  }

  // The last non-zero remainder of the subresultant sequence of a and b: a gcd up to a non-zero
  // factor, not normalised.
  static Result<Polynomial> gcd(const Polynomial& a, const Polynomial& b);
};

template <>
struct CoeffTraits<Polynomial<Fraction>> {
  using P = Polynomial<Fraction>;
  static bool is_zero(const P& x) { return x.is_zero(); }
  static bool is_one(const P& x) { return x.coeffs.size() == 1 && x.coeffs[0].is_one(); }
  static P zero(const Polynomial<P>&) { return {}; }
  static P one(const Polynomial<P>&) { return P::constant(Fraction(Int(1))); }
  static P neg(const P& x);
  static void add_to(P& a, const P& b) { a = P::add(a, b); }
  static void sub_from(P& a, const P& b) { a = P::sub(a, b); }
  static P mul(const P& a, const P& b) { return P::mul(a, b); }
  static Result<P> div_exact(const P& a, const P& b) { return P::div_exact(a, b); }
};

using FracPoly = Polynomial<Fraction>;
using IntPoly = Polynomial<Int>;
using ModPoly = Polynomial<Modular>;
using BiPoly = Polynomial<FracPoly>;

// The polynomial of the negated coefficients.
FracPoly neg_coefficients(std::span<const Fraction> coeffs);
inline FracPoly operator-(const FracPoly& p) { return neg_coefficients(p.coeffs); }

// Entry i lists the coefficients (lowest first) of the y-polynomial multiplying x^i.
BiPoly bivariate_from_vecs(const std::vector<std::vector<Fraction>>& rows);

// A polynomial in x whose coefficients are the constants of p (a polynomial in y of degree zero).
BiPoly lift_constants(const FracPoly& p);

// p times the positive rational that makes its coefficients coprime integers; zero stays zero.
IntPoly primitive_integer(const FracPoly& p);
// p = P / den with P integral and den the least common denominator of p's coefficients.
IntPoly clear_denominators(const FracPoly& p, Int& den);
// c·U_k / D for every k, each in lowest terms (D > 0), by gcds with the part of D that the U_k can
// share, most often short: the zero polynomial's coefficient where U_k is zero.
FracPoly fractions_over(const std::vector<Mpz>& u, const Int& scale, const Int& den);
// P_i / den for every i, each in lowest terms.
FracPoly reduced_fractions(const std::vector<Int>& p, const Int& den);
// gcd(e, a combination of the a_k), which gcd(e, a_0, a_1, …) divides and nearly always equals.
Int combined_gcd(std::span<const Int> a, const Int& e);
// Rough cost in limb products of a product of a- and b-limb integers: schoolbook for a short factor,
// Karatsuba's exponent past it.
double product_cost(double a, double b);
IntPoly primitive_part(const IntPoly& p);  // divided by the positive gcd of the coefficients
FracPoly to_fractions(const IntPoly& p);

// The product of two integer polynomials held as GMP values, lowest degree first, by Kronecker
// substitution: each packed into one integer at a power of two wide enough for every coefficient of
// the product, one GMP product, and the coefficients read back as signed digits. Neither operand is
// empty; `out` holds a.size() + b.size() − 1 initialised values.
void mul_kronecker(std::span<const __mpz_struct> a, std::span<const __mpz_struct> b, std::span<__mpz_struct> out);

// Residues: a^e reduced modulo f after every product (e <= 0 gives 1 mod m), and the Euclidean gcd.
Result<ModPoly> powmod(const Int& m, const ModPoly& a, const Int& e, const ModPoly& f);
Result<ModPoly> gcd_mod(const ModPoly& a, const ModPoly& b);

// The last non-zero remainder of the subresultant sequence of two bivariate polynomials.
Result<BiPoly> remainder_sequence(const BiPoly& a, const BiPoly& b);
// The resultant of a and b with respect to x: a polynomial in y. With `linear`, also the
// remainder of degree one in x that the sequence meets (a multiple of the subresultant of index
// one), or zero when it meets none.
Result<FracPoly> resultant(const BiPoly& a, const BiPoly& b, BiPoly* linear = nullptr);

// The sign variations of the Sturm sequence of p at x.
Result<std::uint32_t> sturm_variations(const FracPoly& p, const Fraction& x);
// The distinct real roots of p in [lo, hi] (lo <= hi); the zero polynomial counts 1.
Result<std::uint32_t> count_real_roots(const FracPoly& p, const Fraction& lo, const Fraction& hi);

// The Sturm sequence of p built once, for root counts at many points.
class SturmSequence {
 public:
  explicit SturmSequence(const FracPoly& p);

  // What a root count needs of one end: the sign variations there and whether p vanishes there.
  struct End {
    std::uint32_t variations = 0;
    bool root = false;
  };
  End at(const Fraction& x) const;
  // The distinct real roots in [lo, hi], from the two ends (lo <= hi).
  static std::uint32_t count(const End& lo, const End& hi) { return lo.variations + (lo.root ? 1 : 0) - hi.variations; }
  std::uint32_t count(const Fraction& lo, const Fraction& hi) const;

 private:
  std::vector<IntPoly> chain_;
};

// p(x)·d^deg p for x = n/d: an integer with the sign of p(x).
Int scaled_value(const IntPoly& p, const Fraction& x);
// The sign of p(x) without forming the fraction.
inline int sign_at(const IntPoly& p, const Fraction& x) { return scaled_value(p, x).sign(); }

// ---------------------------------------------------------------------------------------------
// Implementation of the generic members

namespace detail {

// Checks that every residue of the operands carries the ring modulus of a.
template <class C>
Status same_moduli(const Polynomial<C>& a, const Polynomial<C>& b) {
  if constexpr (is_modular_v<C>) {
    const Int& m = a.modulus;
    if (!(b.modulus == m)) return fail(Modular::different_moduli());
    for (const auto& x : a.coeffs)
      if (!(x.modulus == m)) return fail(Modular::different_moduli());
    for (const auto& x : b.coeffs)
      if (!(x.modulus == m)) return fail(Modular::different_moduli());
  }
  return {};
}

template <class C>
Polynomial<C> add_unchecked(const Polynomial<C>& a, const Polynomial<C>& b, bool subtract) {
  using T = CoeffTraits<C>;
  Polynomial<C> r = a.empty_like();
  std::size_t n = std::max(a.coeffs.size(), b.coeffs.size());
  r.coeffs.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (i < a.coeffs.size()) {
      r.coeffs.push_back(a.coeffs[i]);
      if (i < b.coeffs.size()) {
        if (subtract)
          T::sub_from(r.coeffs.back(), b.coeffs[i]);
        else
          T::add_to(r.coeffs.back(), b.coeffs[i]);
      }
    } else {
      r.coeffs.push_back(subtract ? T::neg(b.coeffs[i]) : b.coeffs[i]);
    }
  }
  r.trim();
  return r;
}

// Over the rationals each coefficient is reduced on its own, on the worker pool when they are large.
template <>
FracPoly add_unchecked(const FracPoly& a, const FracPoly& b, bool subtract);

template <class C>
Polynomial<C> mul_unchecked(const Polynomial<C>& a, const Polynomial<C>& b);
template <>
FracPoly mul_unchecked(const FracPoly& a, const FracPoly& b);
template <>
IntPoly mul_unchecked(const IntPoly& a, const IntPoly& b);

template <class C>
Polynomial<C> mul_unchecked(const Polynomial<C>& a, const Polynomial<C>& b) {
  using T = CoeffTraits<C>;
  Polynomial<C> r = a.empty_like();
  if (a.is_zero() || b.is_zero()) return r;
  std::int64_t da = a.degree(), db = b.degree();
  r.coeffs.reserve(static_cast<std::size_t>(da + db + 1));
  for (std::int64_t k = 0; k <= da + db; ++k) {
    C c = T::zero(a);
    for (std::int64_t i = std::max<std::int64_t>(0, k - db); i <= std::min(da, k); ++i)
      T::add_to(c, T::mul(a.coeffs[static_cast<std::size_t>(i)], b.coeffs[static_cast<std::size_t>(k - i)]));
    r.coeffs.push_back(std::move(c));
  }
  r.trim();
  return r;
}

// The division loop without its final step: r holds the scaled quotient (entries d..) and scaled
// remainder (entries below d), and s the scale c^(deg a − d + 1). When `want_quotient` is false the
// quotient entries are not kept up to date.
template <class C>
void scaled_division(std::vector<C>& r, const Polynomial<C>& b, C& s, bool want_quotient) {
  using T = CoeffTraits<C>;
  const std::size_t d = static_cast<std::size_t>(b.degree());
  const C& c = b.coeffs[d];
  const bool unit = T::is_one(c);
  const std::size_t top = r.size() - 1;
  for (std::size_t t = top + 1; t-- > d;) {
    if (!unit) {
      std::size_t limit = want_quotient ? r.size() : t;
      for (std::size_t i = 0; i < limit; ++i)
        if (i != t) r[i] = T::mul(r[i], c);
      s = T::mul(s, c);
    }
    if (T::is_zero(r[t])) continue;
    for (std::size_t j = 0; j < d; ++j) T::sub_from(r[t - d + j], T::mul(r[t], b.coeffs[j]));
  }
}

}  // namespace detail

template <class C>
typename Polynomial<C>::Checked Polynomial<C>::add(const Polynomial& a, const Polynomial& b) {
  if constexpr (is_modular_v<C>) GY_CHECK(detail::same_moduli(a, b));
  return detail::add_unchecked(a, b, false);
}

template <class C>
typename Polynomial<C>::Checked Polynomial<C>::sub(const Polynomial& a, const Polynomial& b) {
  if constexpr (is_modular_v<C>) GY_CHECK(detail::same_moduli(a, b));
  return detail::add_unchecked(a, b, true);
}

template <class C>
typename Polynomial<C>::Checked Polynomial<C>::mul(const Polynomial& a, const Polynomial& b) {
  if constexpr (is_modular_v<C>) GY_CHECK(detail::same_moduli(a, b));
  return detail::mul_unchecked(a, b);
}

template <>
Result<std::pair<FracPoly, FracPoly>> FracPoly::div_rem(const FracPoly& a, const FracPoly& b);

template <class C>
Result<std::pair<Polynomial<C>, Polynomial<C>>> Polynomial<C>::div_rem(const Polynomial& a, const Polynomial& b) {
  if (b.is_zero()) return fail(Error::division("Division by zero"));
  GY_CHECK(detail::same_moduli(a, b));
  Polynomial q = a.empty_like(), r = a.empty_like();
  if (a.degree() < b.degree()) {
    r.coeffs = a.coeffs;
    return std::pair{std::move(q), std::move(r)};
  }
  const std::size_t d = static_cast<std::size_t>(b.degree());
  std::vector<C> work = a.coeffs;
  C s = T::one(a);
  detail::scaled_division(work, b, s, true);
  const bool unit = T::is_one(s);
  q.coeffs.reserve(work.size() - d);
  for (std::size_t i = d; i < work.size(); ++i) {
    if (unit)
      q.coeffs.push_back(std::move(work[i]));
    else
      q.coeffs.push_back(GY_TRY(T::div_exact(work[i], s)));
  }
  r.coeffs.reserve(d);
  for (std::size_t i = 0; i < d; ++i) {
    if (unit)
      r.coeffs.push_back(std::move(work[i]));
    else
      r.coeffs.push_back(GY_TRY(T::div_exact(work[i], s)));
  }
  q.trim();
  r.trim();
  return std::pair{std::move(q), std::move(r)};
}

template <class C>
Result<Polynomial<C>> Polynomial<C>::div_exact(const Polynomial& a, const Polynomial& b) {
  if (b.degree() == 0) {
    GY_CHECK(detail::same_moduli(a, b));
    Polynomial r = a.empty_like();
    r.coeffs.reserve(a.coeffs.size());
    for (const auto& x : a.coeffs) r.coeffs.push_back(GY_TRY(T::div_exact(x, b.coeffs[0])));
    r.trim();
    return r;
  }
  auto qr = GY_TRY(div_rem(a, b));
  if (!qr.second.is_zero()) return fail(Error::division("not divisible"));
  return std::move(qr.first);
}

template <class C>
Result<Polynomial<C>> Polynomial<C>::rem(const Polynomial& a, const Polynomial& b) {
  auto qr = GY_TRY(div_rem(a, b));
  return std::move(qr.second);
}

template <class C>
Polynomial<C> Polynomial<C>::derivative() const {
  Polynomial r = empty_like();
  for (std::size_t i = 1; i < coeffs.size(); ++i) {
    if constexpr (std::is_same_v<C, Fraction>)
      r.coeffs.push_back(coeffs[i] * Fraction(Int(static_cast<std::uint64_t>(i))));
    else if constexpr (std::is_same_v<C, Int>)
      r.coeffs.push_back(coeffs[i] * Int(static_cast<std::uint64_t>(i)));
    else {
      C term = coeffs[i];
      for (std::size_t k = 1; k < i; ++k) T::add_to(term, coeffs[i]);
      r.coeffs.push_back(std::move(term));
    }
  }
  r.trim();
  return r;
}

template <class C>
C Polynomial<C>::eval(const C& x) const {
  C acc = T::zero(*this);
  for (std::size_t i = coeffs.size(); i-- > 0;) {
    acc = T::mul(acc, x);
    T::add_to(acc, coeffs[i]);
  }
  return acc;
}

template <class C>
Result<Polynomial<C>> Polynomial<C>::monic() const {
  if (is_zero()) return fail(Error::range("monic() of zero polynomial"));
  Polynomial r = empty_like();
  r.coeffs.reserve(coeffs.size());
  const C& l = coeffs.back();
  for (const auto& x : coeffs) r.coeffs.push_back(GY_TRY(T::div_exact(x, l)));
  r.trim();
  return r;
}

template <class C>
typename Polynomial<C>::Checked Polynomial<C>::scale(const C& c) const {
  if constexpr (is_modular_v<C>) {
    Polynomial probe = empty_like();
    probe.coeffs.push_back(c);
    GY_CHECK(detail::same_moduli(*this, probe));
  }
  Polynomial r = empty_like();
  r.coeffs.reserve(coeffs.size());
  for (const auto& x : coeffs) r.coeffs.push_back(T::mul(x, c));
  r.trim();
  return r;
}

template <class C>
Result<Polynomial<C>> Polynomial<C>::div_scalar_exact(const C& c) const {
  Polynomial r = empty_like();
  r.coeffs.reserve(coeffs.size());
  for (const auto& x : coeffs) r.coeffs.push_back(GY_TRY(T::div_exact(x, c)));
  r.trim();
  return r;
}

template <class C>
Result<Polynomial<C>> Polynomial<C>::pow(const Int& e) const {
  if (e.sign() < 0) return fail(Error::range(""));
  Polynomial result = empty_like();
  result.coeffs.push_back(T::one(*this));
  result.trim();
  if (e.is_zero() || is_zero()) return is_zero() && !e.is_zero() ? empty_like() : result;
  if constexpr (std::is_same_v<C, Fraction>) {
    if (degree() == 0) {
      Polynomial r = empty_like();
      r.coeffs.push_back(GY_TRY(coeffs[0].pow(e)));
      return r;
    }
  }
  // The degree of the result must stay addressable.
  if (degree() > 0 && (e.bit_length() > 40 || static_cast<std::uint64_t>(*e.to_i64()) * static_cast<std::uint64_t>(degree()) > (std::uint64_t{1} << 26)))
    return fail(Error::exponent_too_large());
  Polynomial base = *this;
  Int n = e;
  while (n.sign() > 0) {
    if (n.is_odd()) {
      result = detail::mul_unchecked(result, base);
      n -= Int(1);
    } else {
      base = detail::mul_unchecked(base, base);
      n = n / Int(2);
    }
  }
  return result;
}

template <class C>
Polynomial<C> Polynomial<C>::one_mod(const Int& m)
  requires is_modular_v<C>
{
  if (m.sign() <= 0) panic("residue modulus must be positive");
  Polynomial p(m, {});
  Modular one{reduce_mod(Int(1), m), m};
  if (!one.is_zero()) p.coeffs.push_back(std::move(one));
  return p;
}

template <>
Result<FracPoly> FracPoly::gcd(const FracPoly& a, const FracPoly& b);

template <>
void FracPoly::fmt(std::string& out) const;
template <>
void IntPoly::fmt(std::string& out) const;

// Fujiwara's bound from the bit lengths b_k of a polynomial's coefficients (leading last, 0 for a zero
// coefficient): every root is below 2 · max |f_(n−i) / f_n|^(1/i) in size, so below 2^(1 + max e_i)
// with |f_(n−i)| < 2^b_(n−i), |f_n| >= 2^(b_n − 1) and e_i = ceil((b_(n−i) − b_n + 1) / i). Returns
// max e_i; none when every lower coefficient is zero.
std::optional<std::int64_t> fujiwara_exponent(std::span<const std::uint64_t> bits);

std::ostream& operator<<(std::ostream& os, const FracPoly& p);
std::ostream& operator<<(std::ostream& os, const IntPoly& p);

}  // namespace gy
