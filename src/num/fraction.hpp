// Exact rationals: numerator and denominator Int, the denominator positive, kept in lowest terms by
// every operation except an unreduced add.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "num/error.hpp"
#include "num/int.hpp"

namespace gy {

class Fraction {
 public:
  Fraction() : n_(0), d_(1) {}
  explicit Fraction(Int n) : n_(std::move(n)), d_(1) {}

  // n / d reduced; Range "Division by zero" when d is zero.
  static Result<Fraction> make(Int n, Int d);
  // n / d as given, d > 0: the ends may share factors, as after an unreduced add.
  static Fraction make_unreduced(Int n, Int d) { return Fraction(std::move(n), std::move(d), Raw{}); }
  // n / d for d > 0 that the caller knows to be coprime: in lowest terms without a gcd.
  static Fraction from_coprime(Int n, Int d) { return Fraction(std::move(n), std::move(d), Raw{}); }

  const Int& num() const { return n_; }
  const Int& den() const { return d_; }
  int sign() const { return n_.sign(); }
  bool is_zero() const { return n_.is_zero(); }
  bool is_one() const { return n_.is_one() && d_.is_one(); }
  bool is_integer() const { return d_.is_one(); }

  // Brings the value to lowest terms in place.
  void reduce();
  // self += o; without `reduce` the result may share factors (eq and cmp still hold).
  void add(const Fraction& o, bool reduce);
  void sub(const Fraction& o) { *this -= o; }
  // self / o; Range "Division by zero" when o is zero, leaving self unchanged.
  Result<Fraction> div(const Fraction& o) const;
  Status div_assign(const Fraction& o);
  Fraction neg() const { return Fraction(-n_, d_, Raw{}); }
  Fraction abs() const { return Fraction(n_.abs(), d_, Raw{}); }
  std::strong_ordering cmp(const Fraction& o) const;
  bool eq(const Fraction& o) const;
  // self^e for e >= 0 (0^0 = 1); Range "" for a negative exponent, Other "exponent too large" for a
  // result beyond the size limit of Int.
  Result<Fraction> pow(const Int& e) const;
  // Correctly rounded to nearest, ties to even, subnormal results included.
  double to_f64() const;

  void fmt(std::string& out) const;
  std::string to_string() const {
    std::string s;
    fmt(s);
    return s;
  }
  template <class Hasher>
  void hash(Hasher& h) const {
    n_.hash(h);
    d_.hash(h);
  }

  friend Fraction operator+(const Fraction& a, const Fraction& b) {
    Fraction r = a;
    r.add(b, true);
    return r;
  }
  friend Fraction operator-(const Fraction& a, const Fraction& b);
  friend Fraction operator*(const Fraction& a, const Fraction& b);
  Fraction operator-() const { return neg(); }
  Fraction& operator+=(const Fraction& o) {
    add(o, true);
    return *this;
  }
  Fraction& operator-=(const Fraction& o) { return *this = *this - o; }
  Fraction& operator*=(const Fraction& o) { return *this = *this * o; }
  friend bool operator==(const Fraction& a, const Fraction& b) { return a.eq(b); }
  friend std::strong_ordering operator<=>(const Fraction& a, const Fraction& b) { return a.cmp(b); }

 private:
  struct Raw {};
  Fraction(Int n, Int d, Raw) : n_(std::move(n)), d_(std::move(d)) {}
  static Fraction from_i128(__int128 n, __int128 d);  // d > 0, reduces
  // x ± y in lowest terms for x and y in lowest terms, beyond the machine-integer path.
  static Fraction sum_reduced(const Fraction& x, const Fraction& y, bool subtract);

  Int n_, d_;
};

// n / d of machine integers; a zero denominator is a broken invariant.
Fraction fraction(std::int64_t n, std::int64_t d);

// A number with a power-of-two denominator strictly between two different fractions, as coarse as
// the gap allows; a itself when a == b.
Fraction dyadic_between(const Fraction& a, const Fraction& b);

std::ostream& operator<<(std::ostream& os, const Fraction& x);

}  // namespace gy
