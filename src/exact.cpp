#include "exact.hpp"

#include <algorithm>
#include <mutex>

namespace gy {

// ---------------------------------------------------------------------------------------------
// Number fields

namespace {

Fraction one_fraction() { return Fraction(Int(1)); }

// Bounds of alpha^i for i = 0 ..= d by interval multiplication of [lower_{i−1}, upper_{i−1}] with
// [lo, hi], valid for any sign of alpha.
void power_bounds(const Fraction& lo, const Fraction& hi, std::size_t d, std::vector<Fraction>& lower,
                  std::vector<Fraction>& upper) {
  lower.assign(1, one_fraction());
  upper.assign(1, one_fraction());
  lower.reserve(d + 1);
  upper.reserve(d + 1);
  const bool nonneg = lo.sign() >= 0;
  for (std::size_t i = 1; i <= d; ++i) {
    const Fraction& l = lower.back();
    const Fraction& u = upper.back();
    if (nonneg) {  // every factor is >= 0
      Fraction nl = l * lo, nu = u * hi;
      lower.push_back(std::move(nl));
      upper.push_back(std::move(nu));
      continue;
    }
    Fraction p[4] = {l * lo, l * hi, u * lo, u * hi};
    const Fraction* mn = &p[0];
    const Fraction* mx = &p[0];
    for (const auto& x : p) {
      if (x < *mn) mn = &x;
      if (x > *mx) mx = &x;
    }
    Fraction nl = *mn, nu = *mx;
    lower.push_back(std::move(nl));
    upper.push_back(std::move(nu));
  }
}

}  // namespace

NumberField::NumberField(Key, FracPoly m, IntPoly m_int, std::vector<FracPoly> powers)
    : m_(std::move(m)), m_int_(std::move(m_int)), powers_(std::move(powers)), d_(static_cast<std::size_t>(m_.degree())) {}

Result<FieldRef> NumberField::make(FracPoly m, Fraction lo, Fraction hi) {
  if (m.degree() < 1) return fail(Error::range(cat("defining polynomial of a field must have degree at least 1, not ", m.degree())));
  if (m.degree() > kMaxFieldDegree)
    return fail(Error::range(cat("field degree ", m.degree(), " exceeds the limit of ", kMaxFieldDegree)));
  const auto d = static_cast<std::size_t>(m.degree());
  std::vector<FracPoly> powers;
  powers.reserve(2 * d + 1);
  powers.push_back(FracPoly::constant(one_fraction()));
  for (std::size_t i = 1; i <= 2 * d; ++i) {
    FracPoly next = FracPoly::mul(powers.back(), FracPoly::x());
    if (i >= d) next = GY_TRY(FracPoly::rem(next, m));
    powers.push_back(std::move(next));
  }
  std::uint32_t count = GY_TRY(count_real_roots(m, lo, hi));
  if (count != 1) return fail(Error::other("Interval must contain exactly one root"));
  IntPoly m_int = primitive_integer(m);
  auto field = std::make_shared<NumberField>(Key{}, std::move(m), std::move(m_int), std::move(powers));
  int slo = sign_at(field->m_int_, lo), shi = sign_at(field->m_int_, hi);
  field->state_ = field->make_state(std::move(lo), std::move(hi), slo, shi);
  return FieldRef(std::move(field));
}

FieldRef QQ() {
  static const FieldRef field = [] {
    FracPoly m({fraction(-1, 1), fraction(1, 1)});
    return expect(NumberField::make(std::move(m), fraction(1, 1), fraction(1, 1)), "QQ_nothing is well-formed");
  }();
  return field;
}

NumberField::StateRef NumberField::state() const {
  std::shared_lock lock(lock_);
  return state_;
}

NumberField::StateRef NumberField::make_state(Fraction lo, Fraction hi, int sign_lo, int sign_hi) const {
  auto s = std::make_shared<State>();
  power_bounds(lo, hi, d_, s->lower, s->upper);
  s->lo = std::move(lo);
  s->hi = std::move(hi);
  s->sign_lo = sign_lo;
  s->sign_hi = sign_hi;
  return s;
}

void NumberField::publish(StateRef base, StateRef next) const {
  for (;;) {
    StateRef current;
    {
      std::unique_lock lock(lock_);
      if (state_ == base) {
        state_ = std::move(next);
        return;
      }
      current = state_;
    }
    // Another thread published meanwhile: both intervals hold alpha, so their intersection does.
    bool lo_next = next->lo > current->lo, hi_next = next->hi < current->hi;
    if (!lo_next && !hi_next) return;  // nothing narrower to add
    if (!(lo_next && hi_next)) {
      const State& a = lo_next ? *next : *current;
      const State& b = hi_next ? *next : *current;
      next = make_state(a.lo, b.hi, a.sign_lo, b.sign_hi);
    }
    base = std::move(current);
  }
}

std::pair<Fraction, Fraction> field_interval_read(const NumberField& f) {
  NumberField::StateRef s = f.state();
  return {s->lo, s->hi};
}

Status NumberField::refine() const {
  StateRef s = state();
  if (s->lo == s->hi) return {};
  StateRef next;
  if (s->sign_lo == 0) {
    next = make_state(s->lo, s->lo, 0, 0);
  } else if (s->sign_hi == 0) {
    next = make_state(s->hi, s->hi, 0, 0);
  } else {
    Fraction mid = dyadic_between(s->lo, s->hi);
    int smid = sign_at(m_int_, mid);
    if (smid == 0)
      next = make_state(mid, mid, 0, 0);
    else if (smid != s->sign_lo)
      next = make_state(s->lo, std::move(mid), s->sign_lo, smid);
    else
      next = make_state(std::move(mid), s->hi, smid, s->sign_hi);
  }
  publish(std::move(s), std::move(next));
  return {};
}

Result<bool> NumberField::eq(const FieldRef& a, const FieldRef& b) {
  if (a == b) return true;
  if (a->d_ != b->d_) return false;
  if (!(a->m_ == b->m_)) return false;
  auto [alo, ahi] = field_interval_read(*a);
  auto [blo, bhi] = field_interval_read(*b);
  const Fraction& lo = std::max(alo, blo);
  const Fraction& hi = std::min(ahi, bhi);
  if (lo > hi) return false;
  std::uint32_t count = GY_TRY(count_real_roots(a->m_, lo, hi));
  return count == 1;
}

void NumberField::fmt(std::string& out) const {
  StateRef s = state();
  out += "Q(root of ";
  m_.fmt(out);
  out += " in [";
  s->lo.fmt(out);
  out += ',';
  s->hi.fmt(out);
  out += "])";
}

// ---------------------------------------------------------------------------------------------
// Algebraic numbers

AlgebraicNumber::AlgebraicNumber() : field_(QQ()) {}

Result<AlgebraicNumber> AlgebraicNumber::make(FieldRef field, FracPoly p) {
  if (p.degree() >= static_cast<std::int64_t>(field->degree())) p = GY_TRY(FracPoly::rem(p, field->minimal_polynomial()));
  p.trim();
  return AlgebraicNumber(std::move(p), std::move(field));
}

Result<AlgebraicNumber> AlgebraicNumber::from_polynomial(FieldRef field, std::vector<Fraction> coeffs) {
  return make(std::move(field), FracPoly(std::move(coeffs)));
}

Result<AlgebraicNumber> AlgebraicNumber::generator(FieldRef field) { return make(std::move(field), FracPoly::x()); }

AlgebraicNumber AlgebraicNumber::zero(FieldRef field) { return AlgebraicNumber(FracPoly(), std::move(field)); }

AlgebraicNumber AlgebraicNumber::one(FieldRef field) {
  return AlgebraicNumber(FracPoly::constant(one_fraction()), std::move(field));
}

AlgebraicNumber AlgebraicNumber::constant(FieldRef field, std::int64_t n) {
  return rational(std::move(field), Fraction(Int(n)));
}

AlgebraicNumber AlgebraicNumber::rational(FieldRef field, Fraction c) {
  return AlgebraicNumber(FracPoly::constant(std::move(c)), std::move(field));
}

Result<FieldRef> same_field(const AlgebraicNumber& a, const AlgebraicNumber& b) {
  const FieldRef& fa = a.field();
  const FieldRef& fb = b.field();
  if (fa == fb) return fa;
  if (GY_TRY(NumberField::eq(fa, fb))) return fa;
  if (fa->degree() == 1) return fb;
  if (fb->degree() == 1) return fa;
  return fail(Error::range(cat("AlgebraicNumbers must have same field (", fa->to_string(), " != ", fb->to_string(), ")")));
}

Result<AlgebraicNumber> AlgebraicNumber::add(const AlgebraicNumber& b) const {
  FieldRef f = GY_TRY(same_field(*this, b));
  return AlgebraicNumber(FracPoly::add(value_, b.value_), std::move(f));
}

Result<AlgebraicNumber> AlgebraicNumber::sub(const AlgebraicNumber& b) const {
  FieldRef f = GY_TRY(same_field(*this, b));
  return AlgebraicNumber(FracPoly::sub(value_, b.value_), std::move(f));
}

Result<AlgebraicNumber> AlgebraicNumber::mul(const AlgebraicNumber& b) const {
  FieldRef f = GY_TRY(same_field(*this, b));
  // The integer product kernel, then every power x^k with k >= d replaced from the table.
  FracPoly c = FracPoly::mul(value_, b.value_);
  const std::size_t d = f->degree();
  if (c.coeffs.size() <= d) return AlgebraicNumber(std::move(c), std::move(f));
  const auto& table = f->power_table();
  std::vector<Fraction> r(c.coeffs.begin(), c.coeffs.begin() + static_cast<std::ptrdiff_t>(d));
  for (std::size_t k = d; k < c.coeffs.size(); ++k) {
    const Fraction& ck = c.coeffs[k];
    if (ck.is_zero()) continue;
    const FracPoly& t = table[k];
    for (std::size_t j = 0; j < t.coeffs.size(); ++j)
      if (!t.coeffs[j].is_zero()) r[j].add(ck * t.coeffs[j], false);
  }
  for (auto& x : r) x.reduce();
  return AlgebraicNumber(FracPoly(std::move(r)), std::move(f));
}

Status AlgebraicNumber::mul_into(const AlgebraicNumber& b) {
  *this = GY_TRY(mul(b));
  return {};
}

Result<AlgebraicNumber> AlgebraicNumber::inverse() const {
  if (value_.is_zero()) return fail(Error::range(cat("Division by zero: ", to_string())));
  if (value_.degree() == 0) return AlgebraicNumber(FracPoly::constant(GY_TRY(one_fraction().div(value_[0]))), field_);
  // Extended Euclid on (m, a): only the cofactor of a is carried, t·a ≡ g (mod m).
  FracPoly r0 = field_->minimal_polynomial(), r1 = value_;
  FracPoly t0, t1 = FracPoly::constant(one_fraction());
  while (!r1.is_zero()) {
    auto [q, r] = GY_TRY(FracPoly::div_rem(r0, r1));
    FracPoly t = FracPoly::sub(t0, FracPoly::mul(q, t1));
    r0 = std::move(r1);
    r1 = std::move(r);
    t0 = std::move(t1);
    t1 = std::move(t);
  }
  if (r0.degree() > 0) return fail(Error::range(cat("Division by zero: ", to_string())));
  FracPoly inv = GY_TRY(FracPoly::div_exact(t0, r0));
  return make(field_, std::move(inv));
}

Result<AlgebraicNumber> AlgebraicNumber::div(const AlgebraicNumber& b) const {
  AlgebraicNumber inv = GY_TRY(b.inverse());
  return mul(inv);
}

Result<AlgebraicNumber> AlgebraicNumber::pow(const FieldRef& field, const AlgebraicNumber& base, const Int& e) {
  if (e.sign() < 0) return fail(Error::range(""));
  if (e.is_zero()) return one(field);
  if (base.is_rational()) {
    // A rational power needs no reduction; the fraction power bounds its size.
    AlgebraicNumber r = one(field);
    r.field_ = GY_TRY(same_field(r, base));
    Fraction c = base.is_zero() ? Fraction() : base.value_[0];
    r.value_ = FracPoly::constant(GY_TRY(c.pow(e)));
    return r;
  }
  // An irrational real number is not a root of unity, so its coefficients grow with e.
  if (e.bit_length() > 28) return fail(Error::exponent_too_large());
  AlgebraicNumber result = one(field);
  AlgebraicNumber b = base;
  Int n = e;
  while (n.sign() > 0) {
    if (n.is_odd()) {
      GY_CHECK(result.mul_into(b));
      n -= Int(1);
    } else {
      GY_CHECK(b.mul_into(b));
      n = n / Int(2);
    }
  }
  return result;
}

AlgebraicNumber AlgebraicNumber::neg() const { return AlgebraicNumber(neg_coefficients(value_.coeffs), field_); }

Result<AlgebraicNumber> AlgebraicNumber::abs() const {
  int s = GY_TRY(sign());
  return s >= 0 ? *this : neg();
}

Result<std::pair<Fraction, Fraction>> AlgebraicNumber::interval() const {
  if (value_.degree() <= 0) {
    Fraction c = value_.is_zero() ? Fraction() : value_[0];
    return std::pair{c, c};
  }
  NumberField::StateRef s = field_->state();
  Fraction lower, upper;
  for (std::size_t i = 0; i < value_.coeffs.size(); ++i) {
    const Fraction& c = value_.coeffs[i];
    int cs = c.sign();
    if (cs == 0) continue;
    const Fraction& lo = cs > 0 ? s->lower[i] : s->upper[i];
    const Fraction& hi = cs > 0 ? s->upper[i] : s->lower[i];
    lower.add(c * lo, false);
    upper.add(c * hi, false);
  }
  lower.reduce();
  upper.reduce();
  return std::pair{std::move(lower), std::move(upper)};
}

Result<int> AlgebraicNumber::sign() const {
  if (value_.is_zero()) return 0;
  if (value_.degree() == 0) return value_[0].sign();
  for (;;) {
    auto [l, u] = GY_TRY(interval());
    if (l.sign() == u.sign()) return l.sign();
    GY_CHECK(field_->refine());
  }
}

Result<double> AlgebraicNumber::to_f64() const {
  if (value_.degree() <= 0) return value_.is_zero() ? 0.0 : value_[0].to_f64();
  auto iv = GY_TRY(interval());
  for (int round = 0; round < 256; ++round) {
    double l = iv.first.to_f64(), u = iv.second.to_f64();
    if (l == u) return l;
    GY_CHECK(field_->refine());
    iv = GY_TRY(interval());
  }
  return iv.first.to_f64();
}

bool AlgebraicNumber::eq(const AlgebraicNumber& b) const {
  if (field_ != b.field_) {
    auto f = same_field(*this, b);
    if (!f) return false;
  }
  return value_ == b.value_;
}

void AlgebraicNumber::fmt(std::string& out) const {
  value_.fmt(out);
  out += " in ";
  field_->fmt(out);
}

// ---------------------------------------------------------------------------------------------
// Polynomials over a number field

Result<FieldPoly> field_polynomial_from_vecs(const FieldRef& field, const std::vector<std::vector<Fraction>>& rows) {
  std::vector<AlgebraicNumber> c;
  c.reserve(rows.size());
  for (const auto& row : rows) c.push_back(GY_TRY(AlgebraicNumber::from_polynomial(field, row)));
  return FieldPoly(std::move(c));
}

Result<AlgebraicNumber> eval_algebraic(const FieldRef& field, const FieldPoly& p, const AlgebraicNumber& x) {
  AlgebraicNumber acc = AlgebraicNumber::zero(field);
  for (std::size_t i = p.coeffs.size(); i-- > 0;) {
    GY_CHECK(acc.mul_into(x));
    acc = GY_TRY(acc.add(p.coeffs[i]));
  }
  return acc;
}

}  // namespace gy
