#include "num/fraction.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

namespace gy {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

bool fits64(i128 v) { return v >= INT64_MIN && v <= INT64_MAX; }

std::uint64_t gcd_u64(std::uint64_t a, std::uint64_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  int shift = __builtin_ctzll(a | b);
  a >>= __builtin_ctzll(a);
  do {
    b >>= __builtin_ctzll(b);
    if (a > b) std::swap(a, b);
    b -= a;
  } while (b != 0);
  return a << shift;
}

int ctz128(u128 v) {
  auto lo = static_cast<std::uint64_t>(v);
  return lo ? __builtin_ctzll(lo) : 64 + __builtin_ctzll(static_cast<std::uint64_t>(v >> 64));
}

u128 gcd_u128(u128 a, u128 b) {
  if (a == 0) return b;
  if (b == 0) return a;
  int shift = ctz128(a | b);
  a >>= ctz128(a);
  do {
    b >>= ctz128(b);
    if (a > b) std::swap(a, b);
    b -= a;
  } while (b != 0);
  return a << shift;
}

u128 mag128(i128 v) { return v < 0 ? 0 - static_cast<u128>(v) : static_cast<u128>(v); }

}  // namespace

Fraction Fraction::from_i128(i128 n, i128 d) {
  if (n == 0) return Fraction();
  if (fits64(n) && fits64(d)) {
    auto n64 = static_cast<std::int64_t>(n), d64 = static_cast<std::int64_t>(d);
    std::int64_t g = static_cast<std::int64_t>(gcd_u64(n64 < 0 ? 0 - static_cast<std::uint64_t>(n64) : n64, d64));
    if (g != 1) {
      n64 /= g;  // g <= d64 < 2^63, so no overflow
      d64 /= g;
    }
    return Fraction(Int(n64), Int(d64), Raw{});
  }
  auto g = static_cast<i128>(gcd_u128(mag128(n), static_cast<u128>(d)));
  if (g != 1) {
    n /= g;
    d /= g;
  }
  return Fraction(Int::from_i128(n), Int::from_i128(d), Raw{});
}

Result<Fraction> Fraction::make(Int n, Int d) {
  if (d.is_zero()) return fail(Error::range("Division by zero"));
  if (d.sign() < 0) {
    n = -n;
    d = -d;
  }
  Fraction f(std::move(n), std::move(d), Raw{});
  f.reduce();
  return f;
}

Fraction fraction(std::int64_t n, std::int64_t d) {
  return expect(Fraction::make(Int(n), Int(d)), "fraction(): zero denominator");
}

void Fraction::reduce() {
  if (d_.is_one()) return;
  if (n_.is_zero()) {
    d_ = Int(1);
    return;
  }
  if (n_.is_small() && d_.is_small()) {
    *this = from_i128(*n_.to_i64(), *d_.to_i64());
    return;
  }
  Int g = Int::gcd(n_, d_);
  if (!g.is_one()) {
    n_ = n_ / g;
    d_ = d_ / g;
  }
}

void Fraction::add(const Fraction& o, bool reduce_after) {
  if (n_.is_small() && d_.is_small() && o.n_.is_small() && o.d_.is_small()) {
    i128 a = *n_.to_i64(), b = *d_.to_i64(), c = *o.n_.to_i64(), d = *o.d_.to_i64();
    i128 n = b == d ? a + c : a * d + c * b;
    i128 den = b == d ? b : b * d;
    if (reduce_after) {
      *this = from_i128(n, den);
    } else {
      n_ = Int::from_i128(n);
      d_ = Int::from_i128(den);
    }
    return;
  }
  if (reduce_after) {
    *this = sum_reduced(*this, o, false);
    return;
  }
  if (d_ == o.d_) {
    n_ += o.n_;
  } else {
    n_ = n_ * o.d_ + o.n_ * d_;
    d_ *= o.d_;
  }
}

// With g = gcd(b, e), a/b ± c/e = (a·(e/g) ± c·(b/g)) / ((b/g)·e), whose numerator shares with the
// denominator only factors of g: one gcd with g, smaller than the plain sum's.
// With an integer operand, n ± k·e over e shares nothing with e, as n does not: no gcd at all.
Fraction Fraction::sum_reduced(const Fraction& x, const Fraction& y, bool subtract) {
  const Int& b = x.d_;
  const Int& e = y.d_;
  if (b.is_one()) return Fraction(subtract ? x.n_ * e - y.n_ : x.n_ * e + y.n_, e, Raw{});
  if (e.is_one()) return Fraction(subtract ? x.n_ - y.n_ * b : x.n_ + y.n_ * b, b, Raw{});
  if (b == e) {
    Fraction r(subtract ? x.n_ - y.n_ : x.n_ + y.n_, b, Raw{});
    r.reduce();
    return r;
  }
  const Int g = Int::gcd(b, e);
  const Int bg = g.is_one() ? b : b / g, eg = g.is_one() ? e : e / g;
  Int t = subtract ? x.n_ * eg - y.n_ * bg : x.n_ * eg + y.n_ * bg;
  if (t.is_zero()) return Fraction();
  const Int g2 = g.is_one() ? g : Int::gcd(t, g);
  if (g2.is_one()) return Fraction(std::move(t), bg * e, Raw{});
  return Fraction(t / g2, bg * (e / g2), Raw{});
}

Fraction operator-(const Fraction& x, const Fraction& y) {
  if (x.n_.is_small() && x.d_.is_small() && y.n_.is_small() && y.d_.is_small()) {
    i128 a = *x.n_.to_i64(), b = *x.d_.to_i64(), c = *y.n_.to_i64(), d = *y.d_.to_i64();
    if (b == d) return Fraction::from_i128(a - c, b);
    return Fraction::from_i128(a * d - c * b, b * d);
  }
  return Fraction::sum_reduced(x, y, true);
}

Fraction operator*(const Fraction& x, const Fraction& y) {
  if (x.n_.is_small() && x.d_.is_small() && y.n_.is_small() && y.d_.is_small()) {
    i128 a = *x.n_.to_i64(), b = *x.d_.to_i64(), c = *y.n_.to_i64(), d = *y.d_.to_i64();
    return Fraction::from_i128(a * c, b * d);
  }
  // Both operands are reduced, so only a numerator and the other denominator can share factors:
  // two gcds of the operands' sizes instead of one of the product's.
  if (x.n_.is_zero() || y.n_.is_zero()) return Fraction();
  Int g1 = y.d_.is_one() ? Int(1) : Int::gcd(x.n_, y.d_);
  Int g2 = x.d_.is_one() ? Int(1) : Int::gcd(y.n_, x.d_);
  Int n = g1.is_one() ? x.n_ : x.n_ / g1, m = g2.is_one() ? y.n_ : y.n_ / g2;
  Int d = g2.is_one() ? x.d_ : x.d_ / g2, e = g1.is_one() ? y.d_ : y.d_ / g1;
  return Fraction(n * m, d * e, Fraction::Raw{});
}

Status Fraction::div_assign(const Fraction& o) {
  if (o.is_one()) {
    reduce();
    return {};
  }
  if (o.n_.is_zero()) return fail(Error::range("Division by zero"));
  if (n_.is_small() && d_.is_small() && o.n_.is_small() && o.d_.is_small()) {
    i128 a = *n_.to_i64(), b = *d_.to_i64(), c = *o.n_.to_i64(), d = *o.d_.to_i64();
    if (c < 0) {
      c = -c;
      d = -d;
    }
    *this = from_i128(a * d, b * c);
    return {};
  }
  // Both are in lowest terms, so the quotient (a·d)/(b·c) needs only the gcds of the numerators and
  // of the denominators, as a product does, not one of its full size.
  if (n_.is_zero()) {
    d_ = Int(1);
    return {};
  }
  const Int g1 = Int::gcd(n_, o.n_);
  const Int g2 = Int::gcd(d_, o.d_);
  Int c = g1.is_one() ? o.n_ : o.n_ / g1, d = g2.is_one() ? o.d_ : o.d_ / g2;
  if (c.sign() < 0) {
    c = -c;
    d = -d;
  }
  Int n = g1.is_one() ? n_ : n_ / g1, b = g2.is_one() ? d_ : d_ / g2;
  n_ = n * d;
  d_ = b * c;
  return {};
}

Result<Fraction> Fraction::div(const Fraction& o) const {
  Fraction r = *this;
  GY_CHECK(r.div_assign(o));
  return r;
}

std::strong_ordering Fraction::cmp(const Fraction& o) const {
  if (d_ == o.d_) return n_ <=> o.n_;
  if (n_.is_small() && d_.is_small() && o.n_.is_small() && o.d_.is_small())
    return static_cast<i128>(*n_.to_i64()) * *o.d_.to_i64() <=> static_cast<i128>(*o.n_.to_i64()) * *d_.to_i64();
  int sa = n_.sign(), sb = o.n_.sign();
  if (sa != sb) return sa <=> sb;
  return n_ * o.d_ <=> o.n_ * d_;
}

bool Fraction::eq(const Fraction& o) const {
  bool za = n_.is_zero(), zb = o.n_.is_zero();
  if (za || zb) return za && zb;
  if (d_ == o.d_) return n_ == o.n_;
  if (n_.sign() != o.n_.sign()) return false;
  return cmp(o) == 0;
}

Result<Fraction> Fraction::pow(const Int& e) const {
  if (e.sign() < 0) return fail(Error::range(""));
  if (e.is_zero()) return Fraction(Int(1));
  if (n_.is_zero()) return Fraction();
  if (d_.is_one() && n_.abs().is_one()) return Fraction(n_.sign() < 0 && e.is_odd() ? Int(-1) : Int(1));
  // Here |n| >= 2 or d >= 2, so the result has at least e · (max bit length − 1) bits.
  auto e64 = e.to_i64();
  std::uint64_t bits = std::max(n_.bit_length(), d_.bit_length()) - 1;
  if (!e64 || *e64 > static_cast<std::int64_t>(Int::kMaxBits) ||
      bits * static_cast<std::uint64_t>(*e64) > Int::kMaxBits)
    return fail(Error::exponent_too_large());
  auto k = static_cast<std::uint32_t>(*e64);
  return Fraction(Int::pow(n_, k), Int::pow(d_, k), Raw{});  // coprime powers stay reduced
}

double Fraction::to_f64() const {
  if (n_.is_zero()) return 0.0;
  double s = n_.sign() < 0 ? -1.0 : 1.0;
  Int a = n_.abs();
  const Int& b = d_;
  // The value lies in [2^(k−1), 2^(k+1)); find e with 2^(e−1) <= a/b < 2^e.
  std::int64_t k = static_cast<std::int64_t>(a.bit_length()) - static_cast<std::int64_t>(b.bit_length());
  if (k > 1025) return s * std::numeric_limits<double>::infinity();
  if (k < -1077) return s * 0.0;
  if (a.bit_length() > 512 && b.bit_length() > 512) {
    // Long parts: a/b lies between ta/(tb + 1) and (ta + 1)/tb times 2^(sa − sb) for the leading
    // bits ta and tb; rounding is monotone, so when both ends round alike so does a/b.
    const std::uint64_t sa = a.bit_length() - 192, sb = b.bit_length() - 128;
    auto top = [](const Int& x, std::uint64_t shift) {
      Mpz t;
      mpz_fdiv_q_2exp(t.get(), x.view().get(), shift);
      return t.to_int();
    };
    const Int ta = top(a, sa), tb = top(b, sb);
    const std::int64_t shift = static_cast<std::int64_t>(sa) - static_cast<std::int64_t>(sb);
    auto scaled = [&](const Int& n, const Int& d) {
      return shift >= 0 ? Fraction(n.shl(static_cast<std::uint64_t>(shift)), d, Raw{})
                        : Fraction(n, d.shl(static_cast<std::uint64_t>(-shift)), Raw{});
    };
    const double lo = scaled(ta, tb + Int(1)).to_f64(), hi = scaled(ta + Int(1), tb).to_f64();
    if (lo == hi) return s * lo;
  }
  bool at_least = k >= 0 ? a >= b.shl(k) : a.shl(-k) >= b;
  std::int64_t e = at_least ? k + 1 : k;
  if (e > 1024) return s * std::numeric_limits<double>::infinity();
  if (e < -1074) return s * 0.0;  // below 2^-1075, half the least subnormal
  // q = a/b in units of 2^u: 53 significant bits, fewer where the result is subnormal.
  std::int64_t u = std::max<std::int64_t>(e - 53, -1074);
  Int divisor = u > 0 ? b.shl(u) : b;
  auto [q, r] = Int::div_rem(u < 0 ? a.shl(-u) : a, divisor);
  auto c = r.shl(1) <=> divisor;
  if (c > 0 || (c == 0 && q.is_odd())) q += Int(1);
  return std::ldexp(s * static_cast<double>(*q.to_i64()), static_cast<int>(u));
}

void Fraction::fmt(std::string& out) const {
  n_.fmt(out);
  if (!d_.is_one()) {
    out.push_back('/');
    d_.fmt(out);
  }
}

std::ostream& operator<<(std::ostream& os, const Fraction& x) { return os << x.to_string(); }

Fraction dyadic_between(const Fraction& a, const Fraction& b) {
  if (a == b) return a;
  Fraction gap = (b - a).abs();
  // The least k >= 0 with 1/2^k < gap, i.e. gap.num · 2^k > gap.den.
  std::uint64_t ln = gap.num().bit_length(), lm = gap.den().bit_length();
  std::uint64_t k = lm > ln ? lm - ln : 0;
  if (!(gap.num().shl(k) > gap.den())) ++k;
  // m = (a + b) · 2^(k−1), then rounded to the nearest integer, halves away from zero.
  Fraction s = a + b;
  Int mn = k >= 1 ? s.num().shl(k - 1) : s.num();
  Int md = k >= 1 ? s.den() : s.den().shl(1);
  Int q = (mn.shl(1) + Int(mn.sign()) * md) / md.shl(1);
  return expect(Fraction::make(std::move(q), Int(1).shl(k)), "power of two is never zero");
}

}  // namespace gy
