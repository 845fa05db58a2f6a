#include "exact.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <bitset>
#include <exception>
#include <cmath>
#include <numeric>
#include <tuple>
#include <compare>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "num/factoring.hpp"
#include "num/interrupt.hpp"
#include "num/residue.hpp"
#include "num/siphash.hpp"
#include "pool.hpp"

namespace gy {

// ---------------------------------------------------------------------------------------------
// Number fields

namespace {

Fraction one_fraction() { return Fraction(Int(1)); }

// The gcd of the coefficients (positive; zero for the zero polynomial).
Int content(const std::vector<Int>& p) {
  Int g;
  for (const auto& x : p) {
    g = Int::gcd(g, x);
    if (g.is_one()) break;
  }
  return g;
}

// Extends the bounds of alpha^i to i = 0 ..= d by interval multiplication of [lower_{i−1},
// upper_{i−1}] with [lo, hi], valid for any sign of alpha.
void power_bounds(const Fraction& lo, const Fraction& hi, std::size_t d, std::vector<Fraction>& lower,
                  std::vector<Fraction>& upper) {
  if (lower.empty()) {
    lower.push_back(one_fraction());
    upper.push_back(one_fraction());
  }
  lower.reserve(d + 1);
  upper.reserve(d + 1);
  const bool nonneg = lo.sign() >= 0;
  const auto lo_two = lo.den().exponent_of_two(), hi_two = hi.den().exponent_of_two();
  for (std::size_t i = lower.size(); i <= d; ++i) {
    if ((i & 15) == 0) poll_interrupt();
    const Fraction& l = lower.back();
    const Fraction& u = upper.back();
    if (nonneg && lo_two && hi_two && l.den().exponent_of_two() && u.den().exponent_of_two()) {
      // Power-of-two denominators multiply by shifts, and the products stay unreduced: no gcds.
      Fraction nl = Fraction::make_unreduced(l.num() * lo.num(), l.den().shl(*lo_two));
      Fraction nu = Fraction::make_unreduced(u.num() * hi.num(), u.den().shl(*hi_two));
      lower.push_back(std::move(nl));
      upper.push_back(std::move(nu));
      continue;
    }
    if (nonneg) {  // every factor is >= 0
      Fraction nl = l * lo, nu = u * hi;
      lower.push_back(std::move(nl));
      upper.push_back(std::move(nu));
      continue;
    }
    Fraction p[4] = {l * lo, l * hi, u * lo, u * hi};
    auto [mn, mx] = std::minmax_element(std::begin(p), std::end(p));
    Fraction nl = *mn, nu = *mx;
    lower.push_back(std::move(nl));
    upper.push_back(std::move(nu));
  }
}

// ---- Refinement ---------------------------------------------------------------------------

Fraction power_of_two(std::int64_t e) {
  if (e >= 0) return Fraction(Int(1).shl(static_cast<std::uint64_t>(e)));
  return expect(Fraction::make(Int(1), Int(1).shl(static_cast<std::uint64_t>(-e))), "power of two is non-zero");
}

// floor(log2 x) for x > 0.
std::int64_t floor_log2(const Fraction& x) {
  auto e = static_cast<std::int64_t>(x.num().bit_length()) - static_cast<std::int64_t>(x.den().bit_length());
  bool below = e >= 0 ? x.num() < x.den().shl(static_cast<std::uint64_t>(e))
                       : x.num().shl(static_cast<std::uint64_t>(-e)) < x.den();
  return below ? e - 1 : e;
}

// floor(x · 2^k), and whether x · 2^k is an integer.
std::pair<Int, bool> floor_scaled(const Fraction& x, std::int64_t k) {
  if (auto e = x.den().exponent_of_two()) {
    // A power-of-two denominator divides by a shift.
    const std::int64_t drop = static_cast<std::int64_t>(*e) - k;
    if (drop <= 0) return {x.num().shl(static_cast<std::uint64_t>(-drop)), true};
    const auto v = x.num().view();
    Mpz q;
    mpz_fdiv_q_2exp(q.get(), v.get(), static_cast<std::uint64_t>(drop));
    const bool whole = mpz_sgn(v.get()) == 0 || mpz_scan1(v.get(), 0) >= static_cast<std::uint64_t>(drop);
    return {q.to_int(), whole};
  }
  Int n = k > 0 ? x.num().shl(static_cast<std::uint64_t>(k)) : x.num();
  Int d = k < 0 ? x.den().shl(static_cast<std::uint64_t>(-k)) : x.den();
  auto [q, r] = Int::div_rem(n, d);
  if (r.sign() < 0) q -= Int(1);
  return {std::move(q), r.is_zero()};
}

// a <=> b, by shifts when both denominators are powers of two.
std::strong_ordering compare_points(const Fraction& a, const Fraction& b) {
  const auto ea = a.den().exponent_of_two(), eb = b.den().exponent_of_two();
  if (!ea || !eb) return a <=> b;
  if (*ea == *eb) return a.num() <=> b.num();
  Mpz x(a.num()), y(b.num());
  if (*ea < *eb) mpz_mul_2exp(x.get(), x.get(), *eb - *ea);
  else mpz_mul_2exp(y.get(), y.get(), *ea - *eb);
  const int c = mpz_cmp(x.get(), y.get());
  return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

// hi − lo as h / 2^top when both ends are dyadic: by shifts, without a gcd.
std::optional<std::pair<Mpz, std::uint64_t>> dyadic_width(const Fraction& lo, const Fraction& hi) {
  const auto lo_two = lo.den().exponent_of_two(), hi_two = hi.den().exponent_of_two();
  if (!lo_two || !hi_two) return std::nullopt;
  const std::uint64_t top = std::max(*lo_two, *hi_two);
  Mpz l(lo.num()), h(hi.num());
  mpz_mul_2exp(l.get(), l.get(), top - *lo_two);
  mpz_mul_2exp(h.get(), h.get(), top - *hi_two);
  mpz_sub(h.get(), h.get(), l.get());
  return std::pair{std::move(h), top};
}

// The step k when [lo, hi] is a cell of the grid of 2^-k (its width 2^-k, lo a multiple of it): the
// split point of every later step is then the exact midpoint.
std::optional<std::int64_t> grid_step(const Fraction& lo, const Fraction& hi) {
  if (auto dyadic = dyadic_width(lo, hi)) {
    // Dyadic ends: the width by shifts, a power of two when its odd part is 1.
    auto& [h, top] = *dyadic;
    if (mpz_sgn(h.get()) <= 0) return std::nullopt;
    const std::uint64_t z = mpz_scan1(h.get(), 0);
    mpz_tdiv_q_2exp(h.get(), h.get(), z);
    if (mpz_cmp_ui(h.get(), 1) != 0) return std::nullopt;
    const std::int64_t k = static_cast<std::int64_t>(top) - static_cast<std::int64_t>(z);
    if (!floor_scaled(lo, k).second) return std::nullopt;
    return k;
  }
  Fraction w = hi - lo;
  std::int64_t k;
  if (w.num().is_one()) {
    auto e = w.den().exponent_of_two();
    if (!e) return std::nullopt;
    k = static_cast<std::int64_t>(*e);
  } else if (w.den().is_one()) {
    auto e = w.num().exponent_of_two();
    if (!e) return std::nullopt;
    k = -static_cast<std::int64_t>(*e);
  } else {
    return std::nullopt;
  }
  if (!floor_scaled(lo, k).second) return std::nullopt;
  return k;
}

// A private enclosure of a field's generator alpha, the one root of m in [lo, hi], narrowed by
// exact evaluations of m and never published. An end where m vanishes is alpha itself; otherwise m
// changes sign across alpha, which a sign test at a point inside decides.
class Enclosure {
 public:
  // Points past max_bits bits fail with `too_far`.
  // `shared`, when given, keeps the roots found for the next enclosures of the same generator.
  // `signs`, when given, are those of m at lo and hi: the ends' values are then found when needed.
  Enclosure(const IntPoly& m, const Fraction& lo, const Fraction& hi, std::uint64_t max_bits, Error too_far,
            NumberField::RootFloor* shared = nullptr, std::optional<std::pair<int, int>> signs = std::nullopt)
      : shared_(shared), m_(m), deg_(static_cast<std::uint64_t>(m.degree())), max_bits_(max_bits), too_far_(std::move(too_far)),
        lo_(signs ? End{lo, std::nullopt, signs->first} : at(lo)),
        hi_(signs ? End{hi, std::nullopt, signs->second} : at(hi)) {
    // |alpha| >= |c_j| / (|c_j| + max |c_i|), c_j the lowest non-zero coefficient.
    std::size_t j = 0;
    while (m.coeffs[j].is_zero()) ++j;
    std::uint64_t top = 0;
    for (const auto& c : m.coeffs) top = std::max(top, c.bit_length());
    low_octave_ = static_cast<std::int64_t>(m.coeffs[j].bit_length()) - static_cast<std::int64_t>(top) - 2;
    // m = a·x^n − c with c/a > 0, alpha its positive root: then floor(alpha·2^k) is an integer n-th
    // root.
    std::size_t terms = 0;
    for (const auto& c : m.coeffs) terms += c.is_zero() ? 0 : 1;
    radical_ = terms == 2 && j == 0 && m.coeffs[0].sign() != m.lead().sign() && lo.sign() >= 0;
  }

  // The sign of alpha − x.
  Result<int> side(const Fraction& x) {
    for (int tries = 0;; ++tries) {
      if (exact()) return (alpha() <=> x) > 0 ? 1 : (alpha() == x ? 0 : -1);
      if (compare_points(x, lo_.x) <= 0) return 1;
      if (compare_points(x, hi_.x) >= 0) return -1;
      if (tries == 2) {
        End e = GY_TRY(at_checked(x));
        int s = e.sign == 0 ? 0 : (e.sign == lo_.sign ? 1 : -1);
        split(std::move(e));
        return s;
      }
      GY_CHECK(narrow());
    }
  }

  // floor(alpha · 2^k), or nothing when it stays undecided (alpha · 2^k may be an integer).
  Result<std::optional<Int>> floor_scaled_alpha(std::int64_t k) {
    if (radical_ && !exact()) {
      // floor((c·2^(n·k)/a)^(1/n)), which is floor(floor(c·2^(n·k)/a)^(1/n)); one found at a finer
      // scale K gives every coarser one as floor(alpha·2^K) / 2^(K−k), alpha being irrational.
      if (k > 0 && static_cast<std::uint64_t>(k) > max_bits_) return fail(too_far_);
      if (auto f = coarser_root(k)) return std::optional<Int>(std::move(*f));
      auto f = integer_root(k);
      if (!f) return std::optional<Int>();
      keep_root(k, *f);
      return std::optional<Int>(std::move(*f));
    }
    for (int tries = 0; tries < 4096; ++tries) {
      if (exact()) {
        auto [f, whole] = floor_scaled(alpha(), k);
        if (whole) return std::optional<Int>();
        return std::optional<Int>(std::move(f));
      }
      Int f = floor_scaled(lo_.x, k).first;
      auto [c, whole] = floor_scaled(hi_.x, k);
      if (!whole) c += Int(1);  // the ceiling
      if (f + Int(1) == c) return std::optional<Int>(std::move(f));
      GY_CHECK(narrow());
    }
    return std::optional<Int>();
  }

 private:
  // floor(alpha·2^k) from the finest root found, when it is at least as fine.
  std::optional<Int> coarser_root(std::int64_t k) {
    std::int64_t scale;
    Int floor;
    if (shared_) {
      std::lock_guard lock(shared_->lock);
      if (!shared_->found || shared_->found->first < k) return std::nullopt;
      scale = shared_->found->first;
      floor = shared_->found->second;
    } else {
      if (!root_scale_ || *root_scale_ < k) return std::nullopt;
      scale = *root_scale_;
      floor = root_floor_;
    }
    Mpz f(floor);
    mpz_fdiv_q_2exp(f.get(), f.get(), static_cast<std::uint64_t>(scale - k));
    return f.to_int();
  }
  void keep_root(std::int64_t k, Int f) {
    if (shared_) {
      std::lock_guard lock(shared_->lock);
      if (!shared_->found || shared_->found->first < k) shared_->found.emplace(k, std::move(f));
      return;
    }
    root_scale_ = k;
    root_floor_ = std::move(f);
  }
  // floor(alpha·2^k) as an integer n-th root, or nothing when alpha·2^k is an integer.
  std::optional<Int> integer_root(std::int64_t k) const {
    const std::int64_t shift = static_cast<std::int64_t>(deg_) * k;
    Int num = m_.coeffs[0].abs(), den = m_.lead().abs();
    if (shift >= 0)
      num = num.shl(static_cast<std::uint64_t>(shift));
    else
      den = den.shl(static_cast<std::uint64_t>(-shift));
    auto [y, rest] = Int::div_rem(num, den);
    Mpz root;
    const bool whole = mpz_root(root.get(), y.view().get(), static_cast<unsigned long>(deg_)) != 0;
    if (whole && rest.is_zero()) return std::nullopt;
    return root.to_int();
  }

  struct End {
    Fraction x;
    std::optional<Int> value;  // m(x) · den(x)^deg, once needed
    int sign;
  };
  const Int& value(End& e) const {
    if (!e.value) e.value = scaled_value(m_, e.x);
    return *e.value;
  }

  End at(const Fraction& x) const {
    Int v = scaled_value(m_, x);
    int s = v.sign();
    return End{x, std::move(v), s};
  }
  Result<End> at_checked(const Fraction& x) const {
    if (std::max(x.num().bit_length(), x.den().bit_length()) > max_bits_) return fail(too_far_);
    return at(x);
  }
  bool exact() const { return lo_.sign == 0 || hi_.sign == 0; }
  const Fraction& alpha() const { return lo_.sign == 0 ? lo_.x : hi_.x; }

  // Replaces the end on the same side of alpha by e, a point inside.
  void split(End e) {
    if (e.sign == 0) {
      lo_ = e;
      hi_ = std::move(e);
    } else if (e.sign == lo_.sign) {
      lo_ = std::move(e);
    } else {
      hi_ = std::move(e);
    }
  }
  Status split_at(const Fraction& x) {
    split(GY_TRY(at_checked(x)));
    return {};
  }

  // den(x)^deg, the scale of an end's value.
  Int scale(const Fraction& x) const {
    if (auto e = x.den().exponent_of_two()) return Int(1).shl(*e * deg_);
    return Int::pow(x.den(), static_cast<std::uint32_t>(deg_));
  }

  // A power of two strictly inside [a, b] (0 <= a < b) halving the octaves between them, when
  // they span several.
  std::optional<Fraction> octave_split(const Fraction& a, const Fraction& b) const {
    std::int64_t ea = a.is_zero() ? std::min(low_octave_, floor_log2(b) - 4) : floor_log2(a);
    std::int64_t eb = floor_log2(b);
    if (eb - ea < 3) return std::nullopt;
    return power_of_two((ea + eb) >> 1);
  }

  // One step: split at zero, or at a power of two while the interval spans several octaves;
  // otherwise one step of quadratic interval refinement: the secant through the ends picks one of
  // 2^log_n_ cells, which is kept when alpha lies in it (and the count squared), else the count is
  // square-rooted and the interval bisected.
  Status narrow() {
    poll_interrupt();
    if (exact()) return {};
    const Fraction a = lo_.x, b = hi_.x;
    if (a.sign() < 0 && b.sign() > 0) return split_at(Fraction());
    if (a.sign() >= 0) {
      if (auto p = octave_split(a, b)) return split_at(*p);
    } else if (auto p = octave_split(b.neg(), a.neg())) {
      return split_at(p->neg());
    }
    const Int cells = Int(1).shl(log_n_);
    // The secant crosses zero at a + t·(b − a), t = f(a) / (f(a) − f(b)) with f = value / scale.
    Int fa = value(lo_) * scale(b), fb = value(hi_) * scale(a);
    Int num = fa.abs(), den = (fa - fb).abs();
    Int k = (num.shl(log_n_ + 1) + den) / den.shl(1);
    if (k < Int(1)) k = Int(1);
    if (k > cells - Int(1)) k = cells - Int(1);
    const Fraction w = (b - a) * expect(Fraction::make(Int(1), cells), "cell count is non-zero");
    End p = GY_TRY(at_checked(a + w * Fraction(k)));
    bool kept = false;
    if (p.sign == 0) {
      split(std::move(p));
      return {};
    }
    if (p.sign == lo_.sign) {  // alpha above p
      if (k == cells - Int(1)) {
        lo_ = std::move(p);
        kept = true;
      } else {
        End q = GY_TRY(at_checked(p.x + w));
        kept = q.sign != lo_.sign;
        lo_ = std::move(p);
        split(std::move(q));
      }
    } else {  // alpha below p
      if (k == Int(1)) {
        hi_ = std::move(p);
        kept = true;
      } else {
        End q = GY_TRY(at_checked(p.x - w));
        kept = q.sign == lo_.sign;
        hi_ = std::move(p);
        split(std::move(q));
      }
    }
    if (kept) {
      log_n_ = std::min<unsigned>(2 * log_n_, 1u << 20);
      return {};
    }
    log_n_ = std::max(2u, log_n_ / 2);
    if (exact()) return {};
    return split_at(dyadic_between(lo_.x, hi_.x));
  }

  NumberField::RootFloor* shared_;
  const IntPoly& m_;
  bool radical_ = false;
  std::optional<std::int64_t> root_scale_;  // the finest floor(alpha·2^k) found, for a radical m
  Int root_floor_;
  std::uint64_t deg_, max_bits_;
  Error too_far_;
  End lo_, hi_;
  std::int64_t low_octave_;
  unsigned log_n_ = 2;
};

// f·2^-k in lowest terms, without a gcd: the factors of two the numerator shares.
Fraction scaled_down(const Int& f, std::int64_t k) {
  if (f.is_zero()) return Fraction();
  if (k <= 0) return Fraction(f.shl(static_cast<std::uint64_t>(-k)));
  const auto v = f.view();
  const std::uint64_t z = std::min<std::uint64_t>(mpz_scan1(v.get(), 0), static_cast<std::uint64_t>(k));
  Mpz n;
  mpz_tdiv_q_2exp(n.get(), v.get(), z);
  return Fraction::from_coprime(n.to_int(), Int(1).shl(static_cast<std::uint64_t>(k) - z));
}

// An interval of alpha as NumberField::refine leaves it, with the signs of m at its ends.
struct Bisection {
  Fraction lo, hi;
  int sign_lo, sign_hi;
};

// `steps` steps of NumberField::refine from b, each split point's side read off the enclosure.
Status advance(Bisection& b, std::uint64_t steps, Enclosure& e) {
  for (; steps > 0; --steps) {
    if ((steps & 255) == 0) poll_interrupt();
    if (compare_points(b.lo, b.hi) == 0) return {};
    if (b.sign_lo == 0 || b.sign_hi == 0) {
      if (b.sign_lo == 0) b.hi = b.lo;
      else b.lo = b.hi;
      b.sign_lo = b.sign_hi = 0;
      return {};
    }
    if (auto k = grid_step(b.lo, b.hi)) {
      // Every step halves a grid cell: `steps` later it is the cell of 2^-(k + steps) holding
      // alpha, unless some split point on the way is alpha itself.
      const std::int64_t fine = *k + static_cast<std::int64_t>(steps);
      if (auto f = GY_TRY(e.floor_scaled_alpha(fine))) {
        b.lo = scaled_down(*f, fine);
        b.hi = scaled_down(*f + Int(1), fine);
        return {};
      }
    }
    Fraction mid = dyadic_between(b.lo, b.hi);
    int side = GY_TRY(e.side(mid));
    if (side == 0) {
      b.lo = b.hi = std::move(mid);
      b.sign_lo = b.sign_hi = 0;
    } else if (side < 0) {
      b.hi = std::move(mid);
    } else {
      b.lo = std::move(mid);
    }
  }
  return {};
}

}  // namespace

// Fields from this degree on filter signs and floats through fixed-point bounds; below it the exact
// bounds are short enough.
constexpr std::size_t kFixedFilterDegree = 8;

// Fields of at least this degree with a monic integer m reduce products through 1/rev(m).
constexpr std::size_t kReversedInverseDegree = 24;

NumberField::NumberField(Key, FracPoly m, IntPoly m_int)
    : m_(std::move(m)), m_int_(std::move(m_int)), d_(static_cast<std::size_t>(m_.degree())) {}

const std::vector<FracPoly>& NumberField::power_table() const {
  std::call_once(powers_once_, [this] {
    std::vector<FracPoly> powers;
    powers.reserve(2 * d_ + 1);
    for (std::size_t i = 0; i < d_; ++i) {
      std::vector<Fraction> c(i + 1);
      c[i] = one_fraction();
      powers.emplace_back(std::move(c));
    }
    for (const IntPoly& row : powers_int_) {
      std::vector<Fraction> c;
      c.reserve(row.coeffs.size());
      for (const Int& x : row.coeffs)
        c.push_back(expect(Fraction::make(x, powers_den_), "table denominator is positive"));
      powers.emplace_back(std::move(c));
    }
    powers_ = std::move(powers);
  });
  return powers_;
}

Error root_index_refusal(const Int& k, std::size_t degree) {
  constexpr std::uint64_t kLongIndexBits = std::uint64_t{1} << 22;
  const std::uint64_t bits = k.bit_length();
  std::string index = bits < kLongIndexBits ? k.to_string() : cat("2^", bits - 1, " or more");
  return Error::range(cat("root of index ", index, " in a field of degree ", degree,
                          " exceeds the field degree limit of ", kMaxFieldDegree));
}

Status check_evaluation_size(std::int64_t degree, const Fraction& x) {
  const std::uint64_t bits = std::max(x.num().bit_length(), x.den().bit_length());
  if (bits * static_cast<std::uint64_t>(std::max<std::int64_t>(degree, 1)) > Int::kMaxBits / 4)
    return fail(Error::range(
        cat("an interval end of ", bits, " bits is too large to count the roots of a polynomial of degree ", degree)));
  return {};
}

Result<FieldRef> NumberField::make(FracPoly m, Fraction lo, Fraction hi) {
  if (m.degree() >= 1 && m.degree() <= kMaxFieldDegree) {
    GY_CHECK(check_evaluation_size(m.degree(), lo));
    GY_CHECK(check_evaluation_size(m.degree(), hi));
    std::uint32_t count = GY_TRY(count_real_roots(m, lo, hi));
    if (count != 1) return fail(Error::other("Interval must contain exactly one root"));
  }
  return make_isolated(std::move(m), std::move(lo), std::move(hi));
}

// The table rows x^i mod m, i = d ..= 2d, over their least common denominator D, with no gcd of
// the table's size. Row k holds D_k·x^(d+k) mod m, D_k the least common denominator of rows 0 ..= k.
// With c > 0 the leading coefficient of the primitive integer m and x^d = −low/c, the next row is
// D_k·x·(row) = shift − t·low/c for the row's top coefficient t: integral once multiplied by
// f = c/gcd(c, t), and as m is primitive no smaller factor makes it so, so D_(k+1) = f·D_k is again
// the least. At the end each row is brought to D = D_d.
void NumberField::build_power_rows() {
  const std::size_t d = d_;
  const IntPoly& mi = m_int_;
  const bool negative = mi.lead().sign() < 0;
  const Mpz c(mi.lead().abs());
  const bool monic = mpz_cmp_ui(c.get(), 1) == 0;
  std::vector<Int> low(d);
  for (std::size_t j = 0; j < d; ++j) low[j] = negative ? -mi.coeffs[j] : mi.coeffs[j];
  // Start from x^(d−1), whose next row is the first.
  std::vector<Mpz> a(d);
  mpz_set_ui(a[d - 1].get(), 1);
  std::vector<IntPoly> rows(d + 1);
  std::vector<Int> dens(d + 1);
  Mpz den(1ul), g, f, t;
  for (std::size_t k = 0; k <= d; ++k) {
    poll_interrupt();
    mpz_swap(t.get(), a[d - 1].get());
    const bool wrap = mpz_sgn(t.get()) != 0;
    bool scaled = false;
    if (wrap && !monic) {
      mpz_gcd(g.get(), c.get(), t.get());
      if (mpz_cmp_ui(g.get(), 1) != 0) {
        mpz_divexact(t.get(), t.get(), g.get());
        mpz_divexact(f.get(), c.get(), g.get());
      } else {
        mpz_set(f.get(), c.get());
      }
      scaled = mpz_cmp_ui(f.get(), 1) != 0;
      if (scaled) mpz_mul(den.get(), den.get(), f.get());
    }
    for (std::size_t j = d - 1; j > 0; --j) {
      if (scaled) mpz_mul(a[j].get(), a[j - 1].get(), f.get());
      else mpz_swap(a[j].get(), a[j - 1].get());
    }
    mpz_set_ui(a[0].get(), 0);
    if (wrap)
      for (std::size_t j = 0; j < d; ++j)
        if (!low[j].is_zero()) mpz_submul(a[j].get(), t.get(), low[j].view().get());
    std::vector<Int> row(d);
    for (std::size_t j = 0; j < d; ++j) row[j] = a[j].to_int();
    rows[k] = IntPoly(std::move(row));
    dens[k] = den.to_int();
  }
  const Int last = den.to_int();
  for (std::size_t k = 0; k <= d; ++k) {
    if (dens[k] == last) continue;
    const Int scale = last / dens[k];
    for (auto& x : rows[k].coeffs)
      if (!x.is_zero()) x *= scale;
  }
  powers_int_ = std::move(rows);
  powers_den_ = last;
}

Result<FieldRef> NumberField::make_isolated(FracPoly m, Fraction lo, Fraction hi) {
  if (m.degree() < 1) return fail(Error::range(cat("defining polynomial of a field must have degree at least 1, not ", m.degree())));
  if (m.degree() > kMaxFieldDegree)
    return fail(Error::range(cat("field degree ", m.degree(), " exceeds the limit of ", kMaxFieldDegree)));
  const auto d = static_cast<std::size_t>(m.degree());
  IntPoly m_int = primitive_integer(m);
  auto field = std::make_shared<NumberField>(Key{}, std::move(m), std::move(m_int));
  field->build_power_rows();
  const IntPoly& mi = field->m_int_;
  if (d >= kReversedInverseDegree && mi.lead().is_one()) {
    // S = 1/rev(m) to d − 1 terms: S_k = −Σ_(j=1..k) rev_j·S_(k−j), rev_j = m_(d−j).
    std::vector<Int> inv(d - 1);
    inv[0] = Int(1);
    for (std::size_t k = 1; k + 1 < d; ++k) {
      Int acc;
      for (std::size_t j = 1; j <= k; ++j)
        if (!mi.coeffs[d - j].is_zero()) acc += mi.coeffs[d - j] * inv[k - j];
      inv[k] = -acc;
    }
    field->reversed_inverse_ = IntPoly(std::move(inv));
  }
  int slo = sign_at(field->m_int_, lo), shi = sign_at(field->m_int_, hi);
  field->state_ = field->make_state(std::move(lo), std::move(hi), slo, shi);
  return FieldRef(std::move(field));
}

FieldRef QQ() {
  // Every rational number holds this field, on every thread at once. It lives as long as the
  // process, so the handles it gives out own nothing: copying one touches no shared count.
  static const FieldRef* const field = [] {
    FracPoly m({fraction(-1, 1), fraction(1, 1)});
    return new FieldRef(
        expect(NumberField::make(std::move(m), fraction(1, 1), fraction(1, 1)), "QQ_nothing is well-formed"));
  }();
  return FieldRef(FieldRef(), field->get());
}

NumberField::StateRef NumberField::state() const {
  std::shared_lock lock(lock_);
  return state_;
}

NumberField::StateRef NumberField::bounded_state(std::size_t degree) const {
  StateRef s = state();
  if (s->lower.size() > degree) return s;
  auto longer = std::make_shared<State>(*s);
  State& t = *longer;
  power_bounds(t.lo, t.hi, degree, t.lower, t.upper);
  if (d_ >= kFixedFilterDegree) {
    // Past the interval ends' own precision, so that the rounding stays far below the bounds' widths.
    if (t.lower_fixed.empty())
      t.fixed_bits = 64 + std::max({t.lo.den().bit_length(), t.hi.den().bit_length(), std::uint64_t{1}});
    const auto bits = static_cast<std::int64_t>(t.fixed_bits);
    for (std::size_t i = t.lower_fixed.size(); i < t.lower.size(); ++i) {
      t.lower_fixed.push_back(floor_scaled(t.lower[i], bits).first);
      auto [up, exact] = floor_scaled(t.upper[i], bits);
      t.upper_fixed.push_back(exact ? std::move(up) : up + Int(1));
    }
  }
  std::unique_lock lock(lock_);
  if (state_ == s) state_ = longer;
  return longer;
}

NumberField::StateRef NumberField::make_state(Fraction lo, Fraction hi, int sign_lo, int sign_hi) const {
  auto s = std::make_shared<State>();
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

std::uint64_t NumberField::evaluation_bits() const { return Int::kMaxBits / (4 * d_); }

Error NumberField::too_large() const {
  return Error::range(cat("the isolating interval of a field of degree ", d_, " cannot be narrowed past ",
                          evaluation_bits(), " bits"));
}

Status NumberField::refine_until(const Settled& settled, std::uint64_t limit, const Guess& guess,
                                 std::uint64_t first) const {
  const StateRef base = state();
  Bisection below{base->lo, base->hi, base->sign_lo, base->sign_hi};
  if (GY_TRY(settled(below.lo, below.hi))) return {};
  const Error too_far = Error::other(cat("the isolating interval of a field of degree ", d_,
                                         " did not settle within ", limit, " refinement steps (this shouldn't happen)"));
  if (below.lo == below.hi || below.sign_lo == 0 || below.sign_hi == 0 || below.sign_lo == below.sign_hi) {
    // Without a sign change across alpha the split points are decided by refine itself.
    for (std::uint64_t step = 0; step < limit; ++step) {
      poll_interrupt();
      GY_CHECK(refine());
      auto [lo, hi] = field_interval_read(*this);
      if (GY_TRY(settled(lo, hi))) return {};
    }
    return fail(too_far);
  }
  // Its ends may run ahead of the replayed ones by about their own size.
  const std::uint64_t start_bits = std::max({below.lo.num().bit_length(), below.lo.den().bit_length(),
                                             below.hi.num().bit_length(), below.hi.den().bit_length()});
  Enclosure enclosure(m_int_, below.lo, below.hi, std::min(2 * (limit + start_bits) + 64, evaluation_bits()),
                      too_large(), &root_floor_, std::pair{below.sign_lo, below.sign_hi});
  // `below` is unsettled; find a settled step count by doubling, then the first one by halving.
  std::uint64_t stride = std::clamp<std::uint64_t>(first, 1, std::max<std::uint64_t>(limit, 1)), taken = 0;
  Bisection above;
  // A state `mark_at` steps in, past `below`: probes above it start there.
  std::optional<Bisection> mark;
  std::uint64_t mark_at = 0;
  auto reach = [&](std::uint64_t at) -> Result<Bisection> {
    const bool from_mark = mark && mark_at > taken && mark_at <= at;
    Bisection x = from_mark ? *mark : below;
    GY_CHECK(advance(x, at - (from_mark ? mark_at : taken), enclosure));
    return x;
  };
  for (;;) {
    poll_interrupt();
    above = GY_TRY(reach(taken + stride));
    if (GY_TRY(settled(above.lo, above.hi))) break;
    if (compare_points(above.lo, above.hi) == 0 || taken + stride >= limit) return fail(too_far);
    below = std::move(above);
    taken += stride;
    stride = std::min(2 * stride, limit - taken);
  }
  if (guess && stride > 1) {
    // Below the estimate by 1, 2, 4, … steps until a count is unsettled; each test narrows the
    // bracket (taken, taken + stride] that the halving then searches.
    std::uint64_t at = std::clamp(guess(taken, taken + stride), taken + 1, taken + stride - 1);
    // The probes near the estimate start from a state a little below it.
    constexpr std::uint64_t kMarkBack = 64;
    if (at - taken > 2 * kMarkBack) {
      mark = GY_TRY(reach(at - kMarkBack));
      mark_at = at - kMarkBack;
    }
    for (std::uint64_t back = 1;; back *= 2) {
      poll_interrupt();
      Bisection probe = GY_TRY(reach(at));
      if (!GY_TRY(settled(probe.lo, probe.hi))) {
        below = std::move(probe);
        stride -= at - taken;
        taken = at;
        break;
      }
      above = std::move(probe);
      stride = at - taken;
      if (stride <= back) break;
      at -= back;
    }
  }
  while (stride > 1) {
    poll_interrupt();
    const std::uint64_t half = stride / 2;
    Bisection probe = GY_TRY(reach(taken + half));
    if (GY_TRY(settled(probe.lo, probe.hi))) {
      above = std::move(probe);
      stride = half;
    } else {
      below = std::move(probe);
      stride -= half;
      taken += half;
    }
  }
  publish(base, make_state(std::move(above.lo), std::move(above.hi), above.sign_lo, above.sign_hi));
  return {};
}

Result<NumberField::IntervalPair> NumberField::refine_pair_until(const NumberField& a, const NumberField& b,
                                                                  const SettledPair& settled) {
  const StateRef base_a = a.state(), base_b = b.state();
  struct Pair {
    Bisection a, b;
  };
  Pair below{{base_a->lo, base_a->hi, base_a->sign_lo, base_a->sign_hi},
             {base_b->lo, base_b->hi, base_b->sign_lo, base_b->sign_hi}};
  auto holds = [&](const Pair& x) { return settled(x.a.lo, x.a.hi, x.b.lo, x.b.hi); };
  if (GY_TRY(holds(below))) return IntervalPair{below.a.lo, below.a.hi, below.b.lo, below.b.hi};
  const bool plain = [](const Bisection& x, const Bisection& y) {
    return (x.sign_lo == x.sign_hi && x.sign_lo != 0) || (y.sign_lo == y.sign_hi && y.sign_lo != 0);
  }(below.a, below.b);
  if (plain) {
    // Without a sign change across a generator the split points are decided by refine itself.
    for (;;) {
      poll_interrupt();
      GY_CHECK(a.refine());
      GY_CHECK(b.refine());
      auto [alo, ahi] = field_interval_read(a);
      auto [blo, bhi] = field_interval_read(b);
      if (GY_TRY(settled(alo, ahi, blo, bhi))) return IntervalPair{alo, ahi, blo, bhi};
    }
  }
  auto enclosure = [](const NumberField& f, const Bisection& x) {
    return Enclosure(f.m_int_, x.lo, x.hi, f.evaluation_bits(), f.too_large(), &f.root_floor_,
                     std::pair{x.sign_lo, x.sign_hi});
  };
  Enclosure ea = enclosure(a, below.a), eb = enclosure(b, below.b);
  auto advance_pair = [&](Pair& x, std::uint64_t steps) -> Status {
    GY_CHECK(advance(x.a, steps, ea));
    GY_CHECK(advance(x.b, steps, eb));
    return {};
  };
  auto collapsed = [](const Pair& x) { return x.a.lo == x.a.hi && x.b.lo == x.b.hi; };
  std::uint64_t stride = 1;
  Pair above;
  for (;;) {
    poll_interrupt();
    above = below;
    GY_CHECK(advance_pair(above, stride));
    if (GY_TRY(holds(above))) break;
    if (collapsed(above)) return fail(Error::other("refinement ended without settling (this shouldn't happen)"));
    below = std::move(above);
    stride *= 2;
  }
  while (stride > 1) {
    poll_interrupt();
    const std::uint64_t half = stride / 2;
    Pair probe = below;
    GY_CHECK(advance_pair(probe, half));
    if (GY_TRY(holds(probe))) {
      above = std::move(probe);
      stride = half;
    } else {
      below = std::move(probe);
      stride -= half;
    }
  }
  IntervalPair reached{above.a.lo, above.a.hi, above.b.lo, above.b.hi};
  a.publish(base_a, a.make_state(std::move(above.a.lo), std::move(above.a.hi), above.a.sign_lo, above.a.sign_hi));
  b.publish(base_b, b.make_state(std::move(above.b.lo), std::move(above.b.hi), above.b.sign_lo, above.b.sign_hi));
  return reached;
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

namespace {
// The most bits of any of p's coefficients.
std::uint64_t max_bits(const IntPoly& p) {
  std::uint64_t b = 0;
  for (const auto& x : p.coeffs) b = std::max(b, x.bit_length());
  return b;
}

// Whether dividing c by the monic m term by term costs less than through 1/rev(m): m's
// coefficients far shorter than c's.
bool small_modulus(const IntPoly& m, const IntPoly& c) {
  std::uint64_t mb = 0, cb = 0;
  for (const auto& x : m.coeffs) mb = std::max(mb, x.bit_length());
  for (const auto& x : c.coeffs) cb = std::max(cb, x.bit_length());
  return mb * 16 <= cb;
}

// s·(c mod m) for m of degree d, c of degree d or more, and s making s·q integral for the quotient
// q (s = 1 for a monic m; the power table's denominator, by Gauss's lemma as m is primitive, for c
// of degree 2d or less): the terms of s·q from the top, each by one exact division by the leading
// coefficient, and one product per non-zero term of m for each of them.
std::vector<Int> remainder_scaled(const IntPoly& c, const IntPoly& m, const Int& s) {
  const std::size_t d = static_cast<std::size_t>(m.degree());
  std::vector<Mpz> r(c.coeffs.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = Mpz(c.coeffs[i]);
  if (!s.is_one()) {
    const auto sv = s.view();
    for (auto& x : r) mpz_mul(x.get(), x.get(), sv.get());
  }
  std::vector<std::pair<std::size_t, Mpz>> terms;
  for (std::size_t j = 0; j < d; ++j)
    if (!m.coeffs[j].is_zero()) terms.emplace_back(j, Mpz(m.coeffs[j]));
  const bool monic = m.lead().is_one();
  const Mpz lead(m.lead());
  Mpz q;
  for (std::size_t k = r.size(); k-- > d;) {
    if (mpz_sgn(r[k].get()) == 0) continue;
    if (monic) mpz_swap(q.get(), r[k].get());
    else mpz_divexact(q.get(), r[k].get(), lead.get());
    for (const auto& [j, mj] : terms) mpz_submul(r[k - d + j].get(), q.get(), mj.get());
    if (mpz_size(q.get()) > 64) poll_interrupt();
  }
  std::vector<Int> low(d);
  for (std::size_t j = 0; j < d; ++j) low[j] = r[j].take_int();
  return low;
}

// c mod m for a monic m of degree d, c of degree d or more: one short product per term of m for
// each term of c past d.
std::vector<Int> remainder_monic(const IntPoly& c, const IntPoly& m) { return remainder_scaled(c, m, Int(1)); }

// s·(c mod m) through inv = s/rev(m) to at least k terms, k the number of c's terms past m's degree
// d, when s·q is integral for the quotient q: s·q reversed is the k top terms of c, reversed, times
// inv, and the remainder is s·c − (s·q)·m below x^d. Two long products.
std::vector<Int> remainder_through_inverse(const IntPoly& c, const IntPoly& m, std::span<const Int> inv, const Int& s) {
  const std::size_t d = static_cast<std::size_t>(m.degree());
  const std::size_t top = c.coeffs.size() - 1, k = top - d + 1;
  std::vector<Int> high(k);
  for (std::size_t i = 0; i < k; ++i) high[i] = c.coeffs[top - i];
  IntPoly head(std::vector<Int>(inv.begin(), inv.begin() + static_cast<std::ptrdiff_t>(std::min(k, inv.size()))));
  IntPoly qrev = IntPoly::mul(IntPoly(std::move(high)), head);
  std::vector<Int> q(k);
  for (std::size_t i = 0; i < k && i < qrev.coeffs.size(); ++i) q[k - 1 - i] = std::move(qrev.coeffs[i]);
  const IntPoly qm = IntPoly::mul(IntPoly(std::move(q)), m);
  std::vector<Int> r(c.coeffs.begin(), c.coeffs.begin() + static_cast<std::ptrdiff_t>(d));
  if (!s.is_one())
    for (auto& x : r)
      if (!x.is_zero()) x *= s;
  for (std::size_t j = 0; j < d && j < qm.coeffs.size(); ++j) r[j] -= qm.coeffs[j];
  return r;
}

// Rough cost in limb products of a product of two n-limb integers through GMP's transforms (beside
// product_cost's for integers of a and b limbs).
double long_product_cost(double n) { return 64 * n * std::log2(n + 2); }

enum class Reduction { table, terms, inverse };

// Whether c, of degree d up to 2d − 2, comes below the degree d of the monic m with coefficients
// far shorter than c's faster through inv = 1/rev(m) than term by term: remainder_scaled's products
// of each quotient term by m's short coefficients run at the schoolbook's pace, the inverse's two
// long products through GMP's transforms, measured at about twice the pace per unit of these costs.
bool inverse_pays(const IntPoly& m, const IntPoly& inv, const IntPoly& c) {
  const std::size_t d = static_cast<std::size_t>(m.degree()), k = c.coeffs.size() - d;
  if (k < 8) return false;
  std::uint64_t cb = 0, mb = 0, ib = 0;
  for (const auto& x : c.coeffs) cb = std::max(cb, x.bit_length());
  for (const auto& x : m.coeffs) mb = std::max(mb, x.bit_length());
  for (std::size_t i = 0; i < k && i < inv.coeffs.size(); ++i) ib = std::max(ib, inv.coeffs[i].bit_length());
  const double q = static_cast<double>(cb) / 64 + 1;
  double terms = 0;
  for (std::size_t j = 0; j < d; ++j)
    if (!m.coeffs[j].is_zero()) terms += product_cost(q, static_cast<double>(m.coeffs[j].bit_length()) / 64 + 1);
  terms *= static_cast<double>(k);
  const double inverse = long_product_cost(static_cast<double>(k) * static_cast<double>(cb + ib + 64) / 64) +
                         long_product_cost(static_cast<double>(d + 1) * static_cast<double>(cb + mb + 64) / 64);
  return inverse < 2 * terms;
}

// How to bring c, of degree d up to 2d − 2, below the degree d of m with the power table's rows
// (`powers`, over `s`): the table's product per entry and term of c past d; remainder_scaled's per
// non-zero term of m and term of the quotient; or remainder_through_inverse's two long products.
// All give the same integers; short c and work near the size limit of integers (where the table's
// own products refuse it) keep the table.
Reduction choose_reduction(const std::vector<IntPoly>& powers, const Int& s, const IntPoly& m, const IntPoly& c) {
  std::uint64_t cb = 0, mb = 0, tb = 0;
  for (const auto& x : c.coeffs) cb = std::max(cb, x.bit_length());
  if (cb < 2048) return Reduction::table;
  const std::size_t d = static_cast<std::size_t>(m.degree()), k = c.coeffs.size() - d;
  for (const auto& x : m.coeffs) mb = std::max(mb, x.bit_length());
  double table = 0;
  for (std::size_t i = 0; i < k; ++i) {
    if (c.coeffs[d + i].is_zero()) continue;
    const double ci = static_cast<double>(c.coeffs[d + i].bit_length()) / 64 + 1;
    for (const auto& x : powers[i].coeffs) {
      tb = std::max(tb, x.bit_length());
      if (!x.is_zero()) table += product_cost(ci, static_cast<double>(x.bit_length()) / 64 + 1);
    }
  }
  const std::uint64_t sb = s.bit_length();
  if (cb + sb + mb + tb + 64 > Int::kMaxBits) return Reduction::table;
  const double q = static_cast<double>(cb + sb) / 64 + 1;
  double terms = 0;
  for (std::size_t j = 0; j < d; ++j)
    if (!m.coeffs[j].is_zero()) terms += product_cost(q, static_cast<double>(m.coeffs[j].bit_length()) / 64 + 1);
  terms *= static_cast<double>(k);
  // Measured, the transforms' units run at about twice the pace of the others'.
  double inverse = std::numeric_limits<double>::infinity();
  if (k >= 8)
    inverse = (long_product_cost(static_cast<double>(k) * static_cast<double>(cb + tb + 64) / 64) +
               long_product_cost(static_cast<double>(d + 1) * static_cast<double>(cb + sb + mb + 64) / 64)) / 2;
  if (inverse < terms && inverse < table) return Reduction::inverse;
  return terms < table ? Reduction::terms : Reduction::table;
}
}  // namespace

Result<AlgebraicNumber> AlgebraicNumber::mul(const AlgebraicNumber& b) const {
  FieldRef f = GY_TRY(same_field(*this, b));
  if (value_.is_zero() || b.value_.is_zero()) return AlgebraicNumber(FracPoly(), std::move(f));
  if (value_.degree() == 0 || b.value_.degree() == 0) {
    const Fraction& c = value_.degree() == 0 ? value_[0] : b.value_[0];
    const FracPoly& p = value_.degree() == 0 ? b.value_ : value_;
    std::vector<Fraction> out;
    out.reserve(p.coeffs.size());
    for (const auto& x : p.coeffs) out.push_back(x * c);
    return AlgebraicNumber(FracPoly(std::move(out)), std::move(f));
  }
  // In integers: (A/Da)·(B/Db) with every power x^k, k >= d, replaced from the integer table
  // T_k/Dt, so that only the d results are reduced.
  Int da, db, den;
  bool table = false;
  IntPoly pa = clear_denominators(value_, da);
  if (&b == this) {
    IntPoly r = product_over_integers(*f, pa, pa, da, da, den, table);
    return AlgebraicNumber(reduced_fractions(r.coeffs, den), std::move(f));
  }
  IntPoly pb = clear_denominators(b.value_, db);
  IntPoly r = product_over_integers(*f, pa, pb, da, db, den, table);
  return AlgebraicNumber(reduced_fractions(r.coeffs, den), std::move(f));
}

namespace {

// c·(the part of `den` it takes) brought below the degree d of m: c itself when it is short
// already; c mod m through 1/rev(m) (`inv`, when m is monic and long) or term by term; else
// dt·(c mod m) through the power table `rows` (entries d ..= 2d over dt) or its equivalents, with
// den taking dt.
IntPoly reduce_product(IntPoly c, const IntPoly& m, const IntPoly& inv, const Int& dt,
                       const std::vector<IntPoly>& rows, Int& den, bool& table) {
  const std::size_t d = static_cast<std::size_t>(m.degree());
  if (c.coeffs.size() <= d) return c;
  if (m.lead().is_one() && small_modulus(m, c) && (inv.is_zero() || !inverse_pays(m, inv, c)))
    return IntPoly(remainder_monic(c, m));
  if (!inv.is_zero()) return IntPoly(remainder_through_inverse(c, m, inv.coeffs, Int(1)));
  const Reduction how = choose_reduction(rows, dt, m, c);
  if (how != Reduction::table) {
    // The same integers as the table's sum below, dt·(c mod m). By Gauss's lemma (m is primitive)
    // dt·q is integral, and so is dt/rev(m) to d + 1 terms, read off the table's top entries:
    // dt/lc, then T_(l−1)[d − 1]/lc for the rows T_j = dt·(x^(d+j) mod m).
    std::vector<Int> r;
    if (how == Reduction::terms) {
      r = remainder_scaled(c, m, dt);
    } else {
      const Int& lc = m.lead();
      const std::size_t k = c.coeffs.size() - d;
      std::vector<Int> inv_dt(k);
      inv_dt[0] = expect(Int::div_exact(dt, lc), "lc divides the table's denominator");
      for (std::size_t l = 1; l < k; ++l) {
        const auto& row = rows[l - 1].coeffs;
        if (row.size() >= d) inv_dt[l] = expect(Int::div_exact(row[d - 1], lc), "lc divides the table's top entries");
      }
      r = remainder_through_inverse(c, m, inv_dt, dt);
    }
    if (!dt.is_one()) {
      den *= dt;
      table = true;
    }
    return IntPoly(std::move(r));
  }
  std::vector<Int> r(d);
  for (std::size_t j = 0; j < d; ++j) r[j] = dt.is_one() ? c.coeffs[j] : c.coeffs[j] * dt;
  for (std::size_t k = d; k < c.coeffs.size(); ++k) {
    const Int& ck = c.coeffs[k];
    if (ck.is_zero()) continue;
    const IntPoly& t = rows[k - d];
    for (std::size_t j = 0; j < t.coeffs.size(); ++j)
      if (!t.coeffs[j].is_zero()) r[j] += ck * t.coeffs[j];
  }
  if (!dt.is_one()) {
    den *= dt;
    table = true;
  }
  return IntPoly(std::move(r));
}

// The gcd of the gaps between p's non-zero exponents (0 for one term), and its lowest exponent.
std::pair<std::size_t, std::size_t> exponent_step(const IntPoly& p) {
  std::size_t first = SIZE_MAX, step = 0;
  for (std::size_t k = 0; k < p.coeffs.size(); ++k) {
    if (p.coeffs[k].is_zero()) continue;
    if (first == SIZE_MAX) first = k;
    else step = std::gcd(step, k - first);
  }
  return {step, first};
}

// The terms of p at exponents offset + s·k, as the coefficients of y^k.
IntPoly every_nth(const IntPoly& p, std::size_t s, std::size_t offset) {
  std::vector<Int> out;
  out.reserve(p.coeffs.size() / s + 1);
  for (std::size_t k = offset; k < p.coeffs.size(); k += s) out.push_back(p.coeffs[k]);
  return IntPoly(std::move(out));
}

}  // namespace

// When m is a polynomial in y = x^s and a = x^i·A(y), b = x^j·B(y) (i, j < s), the product is
// x^e·H(y) with H = A·B (or y·A·B and e = i + j − s when i + j >= s), and its remainder is
// x^e·(H mod m(y)): the same integers from products s times shorter, through the table's rows and
// the inverse's terms at the multiples of s.
IntPoly AlgebraicNumber::product_over_integers(const NumberField& f, const IntPoly& pa, const IntPoly& pb,
                                               const Int& da, const Int& db, Int& den, bool& table) {
  table = false;
  const std::size_t d = f.degree();
  den = da * db;
  std::size_t s = 0;
  std::pair<std::size_t, std::size_t> sa{0, 0}, sb{0, 0};
  if (d >= 4 && !pa.is_zero() && !pb.is_zero()) {
    s = exponent_step(f.m_int_).first;
    if (s >= 2) {
      sa = exponent_step(pa);
      s = std::gcd(s, sa.first);
    }
    if (s >= 2) {
      sb = &pa == &pb ? sa : exponent_step(pb);
      s = std::gcd(s, sb.first);
    }
    // Far from the size limit of integers, where no product is refused.
    if (s >= 2) {
      std::uint64_t other = std::max({max_bits(f.m_int_), max_bits(f.reversed_inverse_), f.powers_den_.bit_length()});
      for (const auto& row : f.powers_int_) other = std::max(other, max_bits(row));
      if (max_bits(pa) + max_bits(pb) + other + 64 > Int::kMaxBits / 4) s = 0;
    }
  }
  if (s < 2) return reduce_product(IntPoly::mul(pa, pb), f.m_int_, f.reversed_inverse_, f.powers_den_, f.powers_int_, den, table);
  const std::size_t ds = d / s;
  std::size_t e = sa.second % s + sb.second % s;
  const IntPoly a = every_nth(pa, s, sa.second % s);
  IntPoly h = &pa == &pb ? IntPoly::mul(a, a) : IntPoly::mul(a, every_nth(pb, s, sb.second % s));
  if (e >= s) {
    e -= s;
    h.coeffs.insert(h.coeffs.begin(), Int());
  }
  const bool reduced = h.coeffs.size() > ds;
  const IntPoly m = every_nth(f.m_int_, s, 0);
  const IntPoly inv = f.reversed_inverse_.is_zero() ? IntPoly() : every_nth(f.reversed_inverse_, s, 0);
  std::vector<IntPoly> rows;
  if (reduced && inv.is_zero() && !(m.lead().is_one() && small_modulus(m, h)))
    for (std::size_t k = 0; k < ds && s * k < f.powers_int_.size(); ++k) rows.push_back(every_nth(f.powers_int_[s * k], s, 0));
  IntPoly r = reduce_product(std::move(h), m, inv, f.powers_den_, rows, den, table);
  std::vector<Int> out(reduced ? d : e + s * (r.coeffs.size() - 1) + 1);
  for (std::size_t k = 0; k < r.coeffs.size(); ++k) out[e + s * k] = std::move(r.coeffs[k]);
  return IntPoly(std::move(out));
}

Status AlgebraicNumber::mul_into(const AlgebraicNumber& b) {
  *this = GY_TRY(mul(b));
  return {};
}

// ---- Quotients modulo a field's polynomial over the rationals, from word-size primes ---------

namespace {

using u64 = std::uint64_t;

// Residues x_k modulo N for k < size, N the product of the primes joined so far.
struct Residues {
  std::vector<Mpz> x;
  Mpz n{1ul};
};

// x ≡ a (mod A) and x ≡ b (mod B) for coprime A and B, in [0, A·B), given A⁻¹ mod B.
void crt_pair(mpz_ptr out, mpz_srcptr a, mpz_srcptr A, mpz_srcptr b, mpz_srcptr B, mpz_srcptr a_inv, Mpz& t) {
  mpz_sub(t.get(), b, a);
  if (mpz_size(t.get()) > mpz_size(B)) mpz_mod(t.get(), t.get(), B);  // a far longer than B
  mpz_mul(t.get(), t.get(), a_inv);
  mpz_mod(t.get(), t.get(), B);
  mpz_mul(t.get(), t.get(), A);
  mpz_add(out, t.get(), a);
}

// The residues of `size` coefficients modulo word primes joined into residues modulo their product,
// up one tree over the primes, each coefficient on its own task.
Residues crt_join(const std::vector<u64>& primes, const std::vector<WordPoly>& values, std::size_t size) {
  const ModuliTree tree(primes, true);
  Residues out;
  out.x.resize(size);
  mpz_set(out.n.get(), tree.product());
  for_each_parallel(size, 4, [&](std::size_t k) {
    std::vector<u64> r(primes.size());
    for (std::size_t i = 0; i < primes.size(); ++i) r[i] = k < values[i].size() ? values[i][k] : 0;
    tree.combine(r.data(), out.x[k]);
  });
  return out;
}

// Both sets of residues joined; the moduli are coprime.
void crt_merge(Residues& into, const Residues& more) {
  if (mpz_cmp_ui(into.n.get(), 1) == 0) {
    into = more;
    return;
  }
  Mpz inv, n;
  mpz_invert(inv.get(), into.n.get(), more.n.get());
  for_each_parallel(into.x.size(), 4, [&](std::size_t k) {
    Mpz t, v;
    crt_pair(v.get(), into.x[k].get(), into.n.get(), more.x[k].get(), more.n.get(), inv.get(), t);
    into.x[k] = std::move(v);
  });
  mpz_mul(n.get(), into.n.get(), more.n.get());
  into.n = std::move(n);
}

// (x, y) = (a·x + b·y, c·x + d·y) for word cofactors.
void apply_cofactors(mpz_ptr x, mpz_ptr y, std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t d, Mpz& t, Mpz& u) {
  auto addmul = [](mpz_ptr z, mpz_srcptr v, std::int64_t k) {
    if (k >= 0)
      mpz_addmul_ui(z, v, static_cast<unsigned long>(k));
    else
      mpz_submul_ui(z, v, static_cast<unsigned long>(-k));
  };
  mpz_mul_si(t.get(), x, a);
  addmul(t.get(), y, b);
  mpz_mul_si(u.get(), x, c);
  addmul(u.get(), y, d);
  mpz_swap(x, t.get());
  mpz_swap(y, u.get());
}

// The cofactors of as many steps of the remainder sequence of r0 > r1 > 0 as their leading 62 bits
// decide (Lehmer's test: a quotient counts when both bounds of the leading parts give it); none
// when not even one.
struct LehmerStep {
  std::int64_t a = 1, b = 0, c = 0, d = 1;
};
std::optional<LehmerStep> lehmer_cofactors(mpz_srcptr r0, mpz_srcptr r1, Mpz& t) {
  const std::size_t bits = mpz_sizeinbase(r0, 2);
  const std::size_t shift = bits > 62 ? bits - 62 : 0;
  mpz_tdiv_q_2exp(t.get(), r0, shift);
  __int128 x = static_cast<__int128>(mpz_get_ui(t.get()));
  mpz_tdiv_q_2exp(t.get(), r1, shift);
  __int128 y = static_cast<__int128>(mpz_get_ui(t.get()));
  __int128 a = 1, b = 0, c = 0, d = 1;
  bool any = false;
  for (;;) {
    if (y + c == 0 || y + d == 0) break;
    const __int128 q = (x + a) / (y + c);
    if (q != (x + b) / (y + d)) break;
    __int128 v = a - q * c;
    a = c;
    c = v;
    v = b - q * d;
    b = d;
    d = v;
    v = x - q * y;
    x = y;
    y = v;
    any = true;
  }
  if (!any || b == 0) return std::nullopt;
  return LehmerStep{static_cast<std::int64_t>(a), static_cast<std::int64_t>(b), static_cast<std::int64_t>(c),
                    static_cast<std::int64_t>(d)};
}

// Pairs (u0, u1) that follow the remainder sequence: each step (r0, r1) → (r1, r0 − q·r1) takes
// (u0, u1) to (u1, u0 − q·u1).
using Followers = std::span<const std::pair<mpz_ptr, mpz_ptr>>;

// Steps of the remainder sequence of r0 > r1 >= 0 (bound >= 0) while r1 > bound, with the
// followers: afterwards r1 is the first remainder at most `bound`. Far above the bound the steps go
// in blocks: the sequence of the leading K bits, run (the same way) to about half their length,
// gives a transform whose quotients are the true ones when it leaves r0' > r1' > 0 (the continued
// fraction r0/r1 = [q_1; …, q_k, r0'/r1'] with r0'/r1' > 1 is unique), and which passes no remainder
// at most `bound` when r1' > bound; a block that does not check out gives way to one step below. K is
// near twice the distance to the bound, but at most the larger of the bound's length and half of
// r0's (so a recursive block halves its numbers in two blocks), and only the low parts below the
// leading bits are multiplied by the transform. Near the bound, the leading 62 bits give Lehmer's
// steps: each remainder they pass exceeds r1 / 2^63, so none is the first at most `bound` unless the
// last.
void remainder_steps(Mpz& r0, Mpz& r1, mpz_srcptr bound, Followers followers) {
  constexpr std::size_t kBlockBits = 256;
  Mpz q, t, u;
  const std::size_t bound_bits = mpz_sgn(bound) > 0 ? mpz_sizeinbase(bound, 2) : 0;
  auto plain_step = [&](mpz_srcptr quotient) {
    for (auto [u0, u1] : followers) {
      mpz_submul(u0, quotient, u1);
      mpz_swap(u0, u1);
    }
  };
  for (std::size_t steps = 0; mpz_cmp(r1.get(), bound) > 0; ++steps) {
    if (steps % 16 == 15) poll_interrupt();  // a step costs a division of numbers as long as r0
    const std::size_t bits = mpz_sizeinbase(r1.get(), 2);
    if (bits > bound_bits + 2 * kBlockBits) {
      const std::size_t top = mpz_sizeinbase(r0.get(), 2);
      const std::size_t k = std::min({top, 2 * (bits - bound_bits - kBlockBits), std::max(bound_bits, top / 2)});
      const std::size_t shift = top - k;
      // The block's transform to the first remainder of the leading bits at most 2^(K/2 + 32),
      // applied when it checks out. Its last quotients may not be read off the leading bits (one far
      // too large, or one whose remainder is below their precision): then steps are taken back off
      // its end while it does not check out, each step's quotient read off the cofactors:
      // |a_(i+1)| = |a_(i−1)| + q_i·|a_i| with |a_(i−1)| < |a_i| but in the first steps, where the
      // division comes out exact.
      auto block = [&]() -> bool {
        Mpz x, y, a0(1ul), a1, b0, b1(1ul), n0, n1, stop, qs;
        mpz_setbit(stop.get(), k / 2 + 32);
        mpz_tdiv_q_2exp(x.get(), r0.get(), shift);
        mpz_tdiv_q_2exp(y.get(), r1.get(), shift);
        const std::pair<mpz_ptr, mpz_ptr> cofactors[2] = {{a0.get(), a1.get()}, {b0.get(), b1.get()}};
        remainder_steps(x, y, stop.get(), cofactors);
        // r = hi·2^shift + lo goes to the leading parts' remainders, shifted, plus lo transformed.
        mpz_tdiv_r_2exp(t.get(), r0.get(), shift);
        mpz_tdiv_r_2exp(u.get(), r1.get(), shift);
        mpz_mul(n0.get(), a0.get(), t.get());
        mpz_addmul(n0.get(), b0.get(), u.get());
        mpz_mul(n1.get(), a1.get(), t.get());
        mpz_addmul(n1.get(), b1.get(), u.get());
        mpz_mul_2exp(t.get(), x.get(), shift);
        mpz_add(n0.get(), n0.get(), t.get());
        mpz_mul_2exp(t.get(), y.get(), shift);
        mpz_add(n1.get(), n1.get(), t.get());
        for (int back = 0; mpz_sgn(n1.get()) <= 0 || mpz_cmp(n0.get(), n1.get()) <= 0 || mpz_cmp(n1.get(), bound) <= 0;
             ++back) {
          if (back == 8 || mpz_sgn(a0.get()) == 0) return false;
          mpz_tdiv_qr(qs.get(), t.get(), a1.get(), a0.get());
          if (mpz_sgn(t.get()) == 0) return false;  // an early step, where the sizes may tie
          mpz_abs(qs.get(), qs.get());
          // (a0, a1) = (a1 + q·a0, a0), the same for b and for the remainders.
          mpz_addmul(a1.get(), qs.get(), a0.get());
          mpz_swap(a0.get(), a1.get());
          mpz_addmul(b1.get(), qs.get(), b0.get());
          mpz_swap(b0.get(), b1.get());
          mpz_addmul(n1.get(), qs.get(), n0.get());
          mpz_swap(n0.get(), n1.get());
        }
        if (mpz_sgn(a1.get()) == 0) return false;  // not one step
        mpz_swap(r0.get(), n0.get());
        mpz_swap(r1.get(), n1.get());
        for (auto [u0, u1] : followers) {
          mpz_mul(t.get(), a0.get(), u0);
          mpz_addmul(t.get(), b0.get(), u1);
          mpz_mul(u.get(), a1.get(), u0);
          mpz_addmul(u.get(), b1.get(), u1);
          mpz_swap(u0, t.get());
          mpz_swap(u1, u.get());
        }
        return true;
      };
      if (block()) continue;
    }
    if (bits > bound_bits + 72)
      if (auto m = lehmer_cofactors(r0.get(), r1.get(), t)) {
        apply_cofactors(r0.get(), r1.get(), m->a, m->b, m->c, m->d, t, u);
        for (auto [u0, u1] : followers) apply_cofactors(u0, u1, m->a, m->b, m->c, m->d, t, u);
        continue;
      }
    mpz_fdiv_qr(q.get(), t.get(), r0.get(), r1.get());
    mpz_swap(r0.get(), r1.get());
    mpz_swap(r1.get(), t.get());
    plain_step(q.get());
  }
}

// a/b with a ≡ b·r (mod N), |a| at most `bound` and b at most `den_bound` (by default `bound`), from
// the remainder sequence of N and r.
std::optional<std::pair<Mpz, Mpz>> rational_from_residue(mpz_srcptr r, mpz_srcptr N, mpz_srcptr bound,
                                                         mpz_srcptr den_bound = nullptr) {
  Mpz r0, r1, s0, s1;
  mpz_set(r0.get(), N);
  mpz_fdiv_r(r1.get(), r, N);
  mpz_set_ui(s0.get(), 0);
  mpz_set_ui(s1.get(), 1);
  const std::pair<mpz_ptr, mpz_ptr> follow[1] = {{s0.get(), s1.get()}};
  remainder_steps(r0, r1, bound, follow);
  if (mpz_sgn(s1.get()) < 0) {
    mpz_neg(s1.get(), s1.get());
    mpz_neg(r1.get(), r1.get());
  }
  if (mpz_sgn(s1.get()) == 0 || mpz_cmp(s1.get(), den_bound ? den_bound : bound) > 0) return std::nullopt;
  return std::pair{std::move(r1), std::move(s1)};
}

// The residues x_k in [0, N) of D·u_k read back as U_k / e with e <= 2^32 common to all, |U_k| at
// most N / 2^34 where that is the symmetric residue of e·x_k, else a fraction with numerator at most
// N / 2^67 (so unique) whose denominator joins e: the factor of a common denominator that D lacks.
// The x_k become the U_k; none when some residue is neither.
std::optional<Mpz> read_over_small_denominator(Residues& res) {
  const Mpz& N = res.n;
  Mpz half, bound, num_bound, den_bound, e(1ul);
  mpz_fdiv_q_2exp(half.get(), N.get(), 1);
  mpz_fdiv_q_2exp(bound.get(), N.get(), 34);
  mpz_fdiv_q_2exp(num_bound.get(), N.get(), 67);
  mpz_setbit(den_bound.get(), 32);
  for (std::size_t k = 0; k < res.x.size(); ++k) {
    poll_interrupt();
    Mpz& x = res.x[k];
    if (mpz_cmp_ui(e.get(), 1) != 0) {
      mpz_mul(x.get(), x.get(), e.get());
      mpz_mod(x.get(), x.get(), N.get());
    }
    if (mpz_cmp(x.get(), half.get()) > 0) mpz_sub(x.get(), x.get(), N.get());
    if (mpz_cmpabs(x.get(), bound.get()) <= 0) continue;
    auto frac = rational_from_residue(x.get(), N.get(), num_bound.get(), den_bound.get());
    if (!frac) return std::nullopt;
    mpz_mul(e.get(), e.get(), frac->second.get());
    if (mpz_cmp(e.get(), den_bound.get()) > 0) return std::nullopt;
    for (std::size_t j = 0; j < k; ++j) mpz_mul(res.x[j].get(), res.x[j].get(), frac->second.get());
    mpz_swap(x.get(), frac->first.get());
  }
  return e;
}

// U / D (U integral, D > 0) with U ≡ D·x (mod N) and every |U_k| and D at most sqrt(N / 2).
std::optional<std::pair<std::vector<Mpz>, Mpz>> reconstruct_rational(const Residues& res) {
  Mpz bound, half, v;
  mpz_fdiv_q_2exp(bound.get(), res.n.get(), 1);
  mpz_sqrt(bound.get(), bound.get());
  mpz_fdiv_q_2exp(half.get(), res.n.get(), 1);
  Mpz d(1ul);
  const std::size_t size = res.x.size();
  std::vector<Mpz> u(size);
  // The symmetric residue of x_k·d.
  auto scaled = [&](mpz_ptr out, std::size_t k) {
    mpz_mul(out, res.x[k].get(), d.get());
    mpz_mod(out, out, res.n.get());
    if (mpz_cmp(out, half.get()) > 0) mpz_sub(out, out, res.n.get());
  };
  // Once d is known, the residues of the next coefficients are formed ahead, a block at a time in
  // parallel: most are numerators already, and a failure wastes at most one block.
  constexpr std::size_t kAhead = 16;
  const bool parallel = mpz_sizeinbase(res.n.get(), 2) > 8192;
  std::vector<Mpz> ahead(kAhead);
  std::size_t ahead_from = size, ahead_to = size;
  for (std::size_t k = 0; k < size; ++k) {
    poll_interrupt();
    // With the denominator so far, a small symmetric residue is the numerator itself.
    if (parallel && mpz_cmp_ui(d.get(), 1) != 0 && (k < ahead_from || k >= ahead_to)) {
      ahead_from = k;
      ahead_to = std::min(size, k + kAhead);
      for_each_parallel(ahead_to - ahead_from, 1, [&](std::size_t j) { scaled(ahead[j].get(), ahead_from + j); });
    }
    if (k >= ahead_from && k < ahead_to)
      mpz_swap(v.get(), ahead[k - ahead_from].get());
    else
      scaled(v.get(), k);
    if (mpz_cmpabs(v.get(), bound.get()) <= 0) {
      u[k] = std::move(v);
      continue;
    }
    auto frac = rational_from_residue(v.get(), res.n.get(), bound.get());
    if (!frac) return std::nullopt;
    for (std::size_t j = 0; j < k; ++j) mpz_mul(u[j].get(), u[j].get(), frac->second.get());
    mpz_mul(d.get(), d.get(), frac->second.get());
    if (mpz_cmp(d.get(), bound.get()) > 0) return std::nullopt;
    u[k] = std::move(frac->first);
    ahead_from = ahead_to = size;  // formed with the old d
  }
  return std::pair{std::move(u), std::move(d)};
}

std::uint64_t max_bits(const std::vector<Mpz>& v) {
  std::uint64_t b = 0;
  for (const auto& x : v) b = std::max<std::uint64_t>(b, mpz_sgn(x.get()) ? mpz_sizeinbase(x.get(), 2) : 0);
  return b;
}
std::uint64_t log2_ceil(std::uint64_t n) { return n <= 1 ? 0 : 64 - static_cast<std::uint64_t>(__builtin_clzll(n - 1)); }

// Whether `factor` takes p on (its degree and sizes within its limits).
bool within_factor_limits(const FracPoly& p) {
  if (p.degree() > kFactorMaxDegree) return false;
  auto fits = [](const Int& x) { return x.bit_length() <= kFactorMaxBits; };
  for (const auto& c : p.coeffs)
    if (!fits(c.num()) || !fits(c.den())) return false;
  for (const auto& c : primitive_integer(p).coeffs)
    if (!fits(c)) return false;
  return true;
}

// An upper bound on log2 of the sum of |coefficients|.
std::uint64_t norm_bits(const IntPoly& p) {
  std::uint64_t b = 0;
  for (const auto& x : p.coeffs) b = std::max(b, x.bit_length());
  return b + log2_ceil(p.coeffs.size());
}


// Numbers m·2^e with m cut to kRoughBits bits, rounded down or up as each bound asks: bounds of
// any size at the cost of short products.
constexpr std::uint64_t kRoughBits = 128;
// The bits the powers of an interval's end grow past which such bounds are tried first.
constexpr std::uint64_t kRoughReach = 1024;
struct Rough {
  Mpz m;
  std::int64_t e = 0;
};

std::int64_t rough_length(mpz_srcptr m) { return mpz_sgn(m) ? static_cast<std::int64_t>(mpz_sizeinbase(m, 2)) : 0; }

void rough_round(Rough& x, bool up) {
  const std::int64_t bits = rough_length(x.m.get());
  if (bits <= static_cast<std::int64_t>(kRoughBits)) return;
  const auto s = static_cast<std::uint64_t>(bits) - kRoughBits;
  if (up) mpz_cdiv_q_2exp(x.m.get(), x.m.get(), s);
  else mpz_fdiv_q_2exp(x.m.get(), x.m.get(), s);
  x.e += static_cast<std::int64_t>(s);
}

Rough rough_of(mpz_srcptr v, bool up) {
  Rough r;
  mpz_set(r.m.get(), v);
  rough_round(r, up);
  return r;
}

// num / den, den > 0, times 2^e.
Rough rough_quotient(mpz_srcptr num, mpz_srcptr den, std::int64_t e, bool up) {
  const std::int64_t shift = static_cast<std::int64_t>(kRoughBits) + 2 + rough_length(den) - rough_length(num);
  Mpz n, d;
  mpz_set(n.get(), num);
  mpz_set(d.get(), den);
  if (shift >= 0) mpz_mul_2exp(n.get(), n.get(), static_cast<std::uint64_t>(shift));
  else mpz_mul_2exp(d.get(), d.get(), static_cast<std::uint64_t>(-shift));
  Rough r;
  if (up) mpz_cdiv_q(r.m.get(), n.get(), d.get());
  else mpz_fdiv_q(r.m.get(), n.get(), d.get());
  r.e = e - shift;
  rough_round(r, up);
  return r;
}

Rough rough_mul(const Rough& a, const Rough& b, bool up) {
  Rough r;
  mpz_mul(r.m.get(), a.m.get(), b.m.get());
  r.e = a.e + b.e;
  rough_round(r, up);
  return r;
}

// a + b. A term wholly below the other's last bit gives way to a power of two past it in the
// rounding's direction (or zero), so that the terms are aligned by short shifts.
Rough rough_add(const Rough& a, const Rough& b, bool up) {
  if (mpz_sgn(a.m.get()) == 0) return b;
  if (mpz_sgn(b.m.get()) == 0) return a;
  auto past = [&](const Rough& v, std::int64_t e) {
    Rough t;
    const int s = mpz_sgn(v.m.get());
    mpz_set_si(t.m.get(), up ? (s > 0 ? 1 : 0) : (s < 0 ? -1 : 0));
    t.e = e;
    return t;
  };
  const Rough* x = &a;
  const Rough* y = &b;
  Rough t;
  if (b.e + rough_length(b.m.get()) < a.e - 2) {
    t = past(b, a.e - 2);
    y = &t;
  } else if (a.e + rough_length(a.m.get()) < b.e - 2) {
    t = past(a, b.e - 2);
    x = &t;
  }
  Rough r;
  r.e = std::min(x->e, y->e);
  Mpz v;
  mpz_mul_2exp(r.m.get(), x->m.get(), static_cast<std::uint64_t>(x->e - r.e));
  mpz_mul_2exp(v.get(), y->m.get(), static_cast<std::uint64_t>(y->e - r.e));
  mpz_add(r.m.get(), r.m.get(), v.get());
  rough_round(r, up);
  return r;
}

Fraction rough_fraction(const Rough& x) {
  if (x.e >= 0) return Fraction(x.m.to_int().shl(static_cast<std::uint64_t>(x.e)));
  return Fraction::make_unreduced(x.m.to_int(), Int(1).shl(static_cast<std::uint64_t>(-x.e)));
}

// reduction_bits' sizes bounded from above without the long products: each |coefficient| is
// bounded through |l·v_(i−1) − c·r_i| <= |l|·|v_(i−1)| + |c|·|r_i| in short floating point rounded up.
// As tight where r is sparse; looser where the exact values cancel.
std::vector<std::uint64_t> reduction_bound(const IntPoly& r, std::size_t top) {
  const std::size_t n = static_cast<std::size_t>(r.degree());
  const std::size_t e = top + 1 > n ? top + 1 - n : 0;
  const std::uint64_t lb = r.lead().bit_length();
  std::vector<std::uint64_t> out(top + 1, e * lb + 1);
  std::vector<Rough> rc(n + 1);
  for (std::size_t i = 0; i <= n; ++i) {
    mpz_abs(rc[i].m.get(), r.coeffs[i].view().get());
    rough_round(rc[i], true);
  }
  std::vector<Rough> v(n);
  mpz_set_ui(v[n - 1].m.get(), 1);
  for (std::size_t k = n; k <= top; ++k) {
    if ((k & 15) == 0) poll_interrupt();
    const Rough c = v[n - 1];
    for (std::size_t i = n; i-- > 1;) v[i] = rough_add(rough_mul(rc[n], v[i - 1], true), rough_mul(c, rc[i], true), true);
    v[0] = rough_mul(c, rc[0], true);
    std::int64_t b = 0;
    for (const auto& x : v) b = std::max(b, x.e + rough_length(x.m.get()));
    out[k] = static_cast<std::uint64_t>(std::max<std::int64_t>(b, 0)) + (e - (k + 1 - n)) * lb + 1;
  }
  return out;
}

// Bits b_k, for k up to `top`, with every coefficient of l^(e − max(0, k − n + 1))·(y^k mod r)
// below 2^b_k once multiplied by l^e, e = max(0, top − n + 1): the sizes of reducing y^k modulo r,
// scaled to integers (l = lead(r), n = deg r).
std::vector<std::uint64_t> reduction_bits(const IntPoly& r, std::size_t top) {
  const std::size_t n = static_cast<std::size_t>(r.degree());
  const Int& l = r.lead();
  const std::size_t e = top + 1 > n ? top + 1 - n : 0;
  const std::uint64_t lb = l.bit_length();
  std::vector<std::uint64_t> out(top + 1, e * lb + 1);
  // v = l^(k − n + 1)·(y^k mod r), integral; y·v − (top coefficient)·r/l, times l, is the next.
  std::vector<Int> v(n);
  v[n - 1] = Int(1);
  for (std::size_t k = n; k <= top; ++k) {
    if ((k & 15) == 0) poll_interrupt();
    Int c = v[n - 1];
    for (std::size_t i = n; i-- > 1;) v[i] = l * v[i - 1] - c * r.coeffs[i];
    v[0] = -(c * r.coeffs[0]);
    std::uint64_t b = 0;
    for (const auto& x : v) b = std::max(b, x.bit_length());
    out[k] = b + (e - (k + 1 - n)) * lb + 1;
  }
  return out;
}

// u = s0 / s1 modulo r, over the rationals, as U / D: s0, s1 and r integral, r of degree n >= 1.
// Residues modulo word primes are joined by Chinese remaindering and read back by rational
// reconstruction, with primes added in growing batches until a reconstruction is proven: modulo
// every prime used, P = s1·U − D·s0 vanishes modulo r, so l^e·(P mod r), an integer polynomial, is
// divisible by their product N; bounding it below N from the sizes makes it zero (or, where those
// sizes run far past U's, P = Q·r is shown with Q joined from the same primes). None when s1 is
// not invertible modulo r (or modulo too many primes).
// Primes whose residues are taken through one remainder tree (a table of this many rows of
// residues per input polynomial is held at once).
constexpr std::size_t kTreeGroup = 4096;

std::optional<std::pair<std::vector<Mpz>, Mpz>> solve_mod_rational(const IntPoly& s1, const IntPoly& s0,
                                                                    const IntPoly& r) {
  const std::size_t n = static_cast<std::size_t>(r.degree());
  std::size_t next = 0, failed = 0, batch = 16;
  std::vector<std::uint64_t> reduction, reduction_rough;
  const std::uint64_t s1_bits = max_bits(s1), s0_bits = max_bits(s0);
  // u modulo each of `primes`, none where r drops its degree or s1 is not invertible; the inputs
  // are reduced modulo a group of primes at a time, through one remainder tree.
  auto solve_at = [&](const std::vector<u64>& primes) {
    const std::size_t count = primes.size();
    std::vector<std::optional<WordPoly>> found(count);
    for (std::size_t lo = 0; lo < count; lo += kTreeGroup) {
      const std::size_t hi = std::min(count, lo + kTreeGroup);
      const ModuliTree tree(std::vector<u64>(primes.begin() + static_cast<std::ptrdiff_t>(lo),
                                             primes.begin() + static_cast<std::ptrdiff_t>(hi)));
      const std::vector<WordPoly> rq = tree.reduce(r), s1q = tree.reduce(s1), s0q = tree.reduce(s0);
      // A group of primes takes its quotients in lock step where it can.
      constexpr std::size_t L = kInverseLanes;
      for_each_parallel((hi - lo + L - 1) / L, 1, [&](std::size_t g) {
        const std::size_t first = g * L, count = std::min(L, hi - lo - first);
        std::vector<Zp> fields, lane_fields;
        std::vector<WordPoly> m(count), a(count), b(count), lane_b, lane_a, lane_m;
        std::vector<std::size_t> lane_of;
        for (std::size_t t = 0; t < count; ++t) {
          const std::size_t j = first + t;
          const Zp& F = fields.emplace_back(primes[lo + j]);
          if (static_cast<std::size_t>(degree(rq[j])) != n) continue;
          m[t] = monic(F, rq[j]);
          a[t] = rem(F, s1q[j], m[t]);
          if (a[t].empty()) continue;
          b[t] = rem(F, s0q[j], m[t]);
          if (!lane_a.empty() && a[t].size() != lane_a[0].size()) continue;
          lane_fields.push_back(F);
          lane_b.push_back(b[t]);
          lane_a.push_back(a[t]);
          lane_m.push_back(m[t]);
          lane_of.push_back(t);
        }
        std::vector<WordPoly> lane_u(lane_of.size());
        std::vector<bool> known(count, false);
        if (!lane_of.empty() && quotient_mod_lanes(lane_fields.data(), lane_b.data(), lane_a.data(), lane_m.data(),
                                                   lane_of.size(), lane_u.data()))
          for (std::size_t i = 0; i < lane_of.size(); ++i) {
            found[lo + first + lane_of[i]] = std::move(lane_u[i]);
            known[lane_of[i]] = true;
          }
        for (std::size_t t = 0; t < count; ++t) {
          if (known[t] || a[t].empty()) continue;
          const Zp& F = fields[t];
          auto inv = inverse_mod(F, a[t], m[t]);
          if (!inv) continue;
          found[lo + first + t] = rem(F, mul(F, b[t], *inv), m[t]);
        }
      });
    }
    return found;
  };
  // The same for the next `count` primes, counting those without a value.
  auto solve_next = [&](std::size_t count, std::vector<u64>& primes) {
    primes.resize(count);
    for (auto& q : primes) q = word_prime(next++);
    auto found = solve_at(primes);
    for (const auto& f : found) failed += f ? 0 : 1;
    return found;
  };
  // Every prime that gave a value, with the value; and, joined as they come, the residue modulo
  // their product N of a probe: a fixed combination Σ c_k·u_k with small weights, whose
  // denominator is (but for a small factor, rarely) the common denominator D of u.
  std::vector<u64> used;
  std::vector<WordPoly> values;
  std::vector<u64> weights(n);
  for (std::size_t k = 0, state = 0x9e3779b97f4a7c15u; k < n; ++k) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    weights[k] = 1 + (state >> 56);
  }
  Residues probe;
  probe.x.resize(1);
  auto keep = [&](const std::vector<u64>& primes, std::vector<std::optional<WordPoly>>& found) {
    std::vector<u64> batch_used;
    std::vector<WordPoly> column;
    for (std::size_t i = 0; i < primes.size(); ++i) {
      if (!found[i]) continue;
      const Zp F(primes[i]);
      u64 sum = 0;
      for (std::size_t k = 0; k < found[i]->size(); ++k) sum = F.add(sum, F.mul(weights[k], (*found[i])[k]));
      batch_used.push_back(primes[i]);
      column.push_back(WordPoly{sum});
      used.push_back(primes[i]);
      values.push_back(std::move(*found[i]));
    }
    if (!batch_used.empty()) crt_merge(probe, crt_join(batch_used, column, 1));
  };
  // U / D, with U ≡ D·u modulo N. The probe, read back as a fraction with 32 bits to spare on
  // each side (else a fraction passes by chance), gives most of D; then D·u_k modulo every prime,
  // joined, is the numerator when small, and otherwise is read back in turn.
  // A bound in bits on l^e·(P mod r) for a candidate U / D (see above), from the sizes `sizes` of
  // y^k mod r; and the degree of P.
  auto degree_of_p = [&](const std::vector<Mpz>& u) {
    std::size_t top_u = n;
    while (top_u > 0 && mpz_sgn(u[top_u - 1].get()) == 0) --top_u;
    return std::pair{std::max<std::size_t>(s1.coeffs.size() + top_u, s0.coeffs.size() + 1) - 2, top_u};
  };
  auto proof_bits = [&](std::uint64_t u_bits, std::uint64_t d_bits, std::size_t top_u, std::size_t deg_p,
                        const std::vector<std::uint64_t>& sizes) {
    const std::uint64_t p_bits =
        std::max(s1_bits + u_bits + log2_ceil(std::min(s1.coeffs.size(), top_u) + 1), d_bits + s0_bits) + 1;
    // Entry i of l^e·(P mod r) is at most Σ_k |P_k|·|l^e·(y^k mod r)_i|.
    std::uint64_t w_bits = 0;
    for (std::size_t k = 0; k <= deg_p; ++k) w_bits = std::max(w_bits, sizes[k]);
    return p_bits + w_bits + log2_ceil(deg_p + 1) + 1;
  };
  auto rough_sizes = [&](std::size_t deg_p) -> const std::vector<std::uint64_t>& {
    if (reduction_rough.size() <= deg_p) reduction_rough = reduction_bound(r, std::max(deg_p, n - 1));
    return reduction_rough;
  };
  // U / D with U ≡ D·u modulo the product of the primes it was formed from (the first `primes` of
  // `used`), and that product's length in bits.
  struct Candidate {
    std::vector<Mpz> u;
    Mpz d;
    std::uint64_t have;
    std::size_t primes;
    bool proven = false;
  };
  // D·u_k modulo the first `count` primes, joined, and whether all are small, as numerators: for
  // the `whole` set at most the square root of half the product, for a part at most the product
  // over 2^34. When not all are, the residues come back in [0, N) to be read in turn.
  auto numerators = [&](const Mpz& d, std::size_t count, bool whole) -> std::pair<Residues, bool> {
    const std::vector<u64> primes(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(count));
    const ModuliTree tree(primes, true);
    std::vector<u64> dq(count);
    tree.reduce(d.to_int(), dq.data());
    Residues scaled;
    scaled.x.resize(n);
    mpz_set(scaled.n.get(), tree.product());
    const Mpz& N = scaled.n;
    Mpz half, bound;
    mpz_fdiv_q_2exp(half.get(), N.get(), 1);
    if (whole) mpz_sqrt(bound.get(), half.get());  // as reconstruct_rational reads them
    else mpz_fdiv_q_2exp(bound.get(), N.get(), 34);
    std::vector<Zp> fields;
    fields.reserve(count);
    for (u64 q : primes) fields.emplace_back(q);
    std::atomic<bool> small{true};
    for_each_parallel(n, 1, [&](std::size_t k) {
      poll_interrupt();
      std::vector<u64> w(count);
      for (std::size_t i = 0; i < count; ++i) w[i] = k < values[i].size() ? fields[i].mul(dq[i], values[i][k]) : 0;
      tree.combine(w.data(), scaled.x[k]);
      Mpz v;
      if (mpz_cmp(scaled.x[k].get(), half.get()) > 0) mpz_sub(v.get(), scaled.x[k].get(), N.get());
      else mpz_set(v.get(), scaled.x[k].get());
      if (mpz_cmpabs(v.get(), bound.get()) > 0) small.store(false, std::memory_order_relaxed);
    });
    poll_interrupt();
    if (small.load())
      for (auto& x : scaled.x)
        if (mpz_cmp(x.get(), half.get()) > 0) mpz_sub(x.get(), x.get(), N.get());
    return std::pair{std::move(scaled), small.load()};
  };
  // A proof by the quotient, for when the remainders' sizes are far larger than U: a right candidate
  // has P = Q·r with Q integral (r primitive), and modulo each prime the candidate was formed from,
  // Q is the exact quotient of P by r there (r keeps its degree). Q joined modulo their product N
  // and read in (−N/2, N/2] makes P − Q·r vanish modulo N; bounded below N from the actual sizes, it
  // is zero, so r divides P. A wrong candidate or a Q too long for N only fails the bound.
  auto quotient_proof = [&](const Candidate& c, std::size_t deg_p) -> bool {
    if (deg_p < n) return false;
    const std::size_t count = c.primes, q_len = deg_p - n + 1;
    const std::vector<u64> primes(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(count));
    const ModuliTree tree(primes, true);
    const std::vector<WordPoly> rq = tree.reduce(r), s1q = tree.reduce(s1), s0q = tree.reduce(s0);
    std::vector<u64> dq(count);
    tree.reduce(c.d.to_int(), dq.data());
    std::vector<u64> qs(q_len * count, 0);  // coefficient j for prime i at [j·count + i]
    std::atomic<bool> exact{true};
    for_each_parallel(count, 16, [&](std::size_t i) {
      if ((i & 63) == 0) poll_interrupt();
      const Zp F(primes[i]);
      // P ≡ D·(s1·u − s0) modulo the prime.
      WordPoly p = mul(F, s1q[i], values[i]);
      if (p.size() < s0q[i].size()) p.resize(s0q[i].size(), 0);
      for (std::size_t k = 0; k < s0q[i].size(); ++k) p[k] = F.sub(p[k], s0q[i][k]);
      for (auto& x : p) x = F.mul(x, dq[i]);
      gy::trim(p);
      WordPoly q;
      if (static_cast<std::size_t>(degree(rq[i])) != n) {
        exact = false;
        return;
      }
      divrem(F, p, rq[i], &q);
      if (!p.empty() || q.size() > q_len) {
        exact = false;
        return;
      }
      for (std::size_t j = 0; j < q.size(); ++j) qs[j * count + i] = q[j];
    });
    if (!exact.load()) return false;
    Mpz half;
    mpz_fdiv_q_2exp(half.get(), tree.product(), 1);
    auto q_bits = [&](std::size_t j) -> std::uint64_t {
      Mpz x;
      tree.combine(qs.data() + j * count, x);
      if (mpz_cmp(x.get(), half.get()) > 0) mpz_sub(x.get(), x.get(), tree.product());
      return mpz_sgn(x.get()) ? mpz_sizeinbase(x.get(), 2) : 0;
    };
    // |(P − Q·r)_i| <= Σ |s1_j|·|U_(i−j)| + |D|·|s0_i| + Σ |Q_j|·|r_(i−j)|, below 2^e_bits(max |Q_j|).
    const std::uint64_t rest_bits =
        std::max(s1_bits + max_bits(c.u) + log2_ceil(std::min(s1.coeffs.size(), c.u.size()) + 1),
                 mpz_sizeinbase(c.d.get(), 2) + s0_bits);
    auto e_bits = [&](std::uint64_t q) {
      return std::max(rest_bits, q + max_bits(r) + log2_ceil(std::min(q_len, n + 1) + 1)) + 2;
    };
    // Q's low coefficients, where dividing by r grows them most, are tried first.
    const std::uint64_t q0 = q_bits(0);
    if (e_bits(q0) + 1 >= c.have) return false;
    std::atomic<std::uint64_t> q_most{q0};
    for_each_parallel(q_len - 1, 1, [&](std::size_t j) {
      poll_interrupt();
      const std::uint64_t b = q_bits(j + 1);
      std::uint64_t seen = q_most.load(std::memory_order_relaxed);
      while (b > seen && !q_most.compare_exchange_weak(seen, b, std::memory_order_relaxed)) {}
    });
    return e_bits(q_most.load()) + 1 < c.have;
  };
  // The probe, read back as a fraction with 32 bits to spare on each side (else a fraction passes
  // by chance), gives most of D. The numerators need about half the primes the probe does: they are
  // first formed from just enough of them for their size and the proof, by the probe's numerator,
  // over a small factor of D the probe's denominator may lack (as a factor 2 of D, half the time);
  // from all of them when that falls short, read back in turn where not small.
  auto reconstruct = [&]() -> std::optional<Candidate> {
    const Mpz& N = probe.n;
    Mpz bound;
    mpz_fdiv_q_2exp(bound.get(), N.get(), 1);
    mpz_sqrt(bound.get(), bound.get());
    mpz_fdiv_q_2exp(bound.get(), bound.get(), 32);
    auto frac = rational_from_residue(probe.x[0].get(), N.get(), bound.get());
    if (!frac) return std::nullopt;
    poll_interrupt();
    Mpz& d = frac->second;
    const std::uint64_t a_bits = mpz_sizeinbase(frac->first.get(), 2), d_bits = mpz_sizeinbase(d.get(), 2);
    const std::size_t deg_most = std::max<std::size_t>(s1.coeffs.size() + n, s0.coeffs.size() + 1) - 2;
    const std::uint64_t target =
        std::max(proof_bits(a_bits + 64, d_bits, n, deg_most, rough_sizes(deg_most)), a_bits + 64) + 64;
    const std::size_t count = static_cast<std::size_t>(target / 30 + 1);
    // The candidate from the numerators modulo the first k primes, where they read back over D or
    // over a small multiple of it.
    auto candidate_from = [&](std::size_t k) -> std::optional<Candidate> {
      auto part = numerators(d, k, false);
      std::optional<Mpz> extra;
      if (!part.second) extra = read_over_small_denominator(part.first);
      if (!part.second && !extra) return std::nullopt;
      Candidate c{std::move(part.first.x), d, mpz_sizeinbase(part.first.n.get(), 2), k};
      if (extra) mpz_mul(c.d.get(), c.d.get(), extra->get());
      return c;
    };
    // Where the remainders' sizes make that target far larger than U, the numerators come from the
    // fewer primes that U and the quotient Q of the proof by the quotient need, when the model of
    // the costs (a join of b bits costing about b^1.43, a quotient per prime about n²) favours it.
    const std::uint64_t target_q = a_bits + s1_bits + max_bits(r) + 2 * log2_ceil(n + 1) + 192;
    const std::size_t count_q = static_cast<std::size_t>(target_q / 30 + 1);
    if (count_q < used.size() && 2 * target_q < target) {
      const double joins_old = static_cast<double>(n) * std::pow(static_cast<double>(target), 1.43);
      const double joins_new = static_cast<double>(2 * n) * std::pow(static_cast<double>(target_q), 1.43);
      // One join of 318000 bits takes about as long as 6000000 steps of a quotient.
      const double per_step = std::pow(318000.0, 1.43) / 6.0e6;
      const double quotients = static_cast<double>(count_q) * static_cast<double>(n * n) * per_step;
      if (joins_new + quotients < 0.8 * joins_old)
        if (auto c = candidate_from(count_q)) {
          if (quotient_proof(*c, degree_of_p(c->u).first)) {
            c->proven = true;
            return c;
          }
        }
    }
    if (count < used.size())
      if (auto c = candidate_from(count)) {
        const auto [deg_p, top_u] = degree_of_p(c->u);
        if (proof_bits(max_bits(c->u), mpz_sizeinbase(c->d.get(), 2), top_u, deg_p, rough_sizes(deg_p)) + 1 < c->have)
          return c;
      }
    auto all = numerators(d, used.size(), true);
    const std::uint64_t have = mpz_sizeinbase(all.first.n.get(), 2);
    if (all.second) return Candidate{std::move(all.first.x), std::move(d), have, used.size()};
    auto rest = reconstruct_rational(all.first);
    if (!rest) return std::nullopt;
    mpz_mul(rest->second.get(), rest->second.get(), d.get());
    return Candidate{std::move(rest->first), std::move(rest->second), have, used.size()};
  };
  for (;;) {
    std::vector<u64> primes;
    auto found = solve_next(batch, primes);
    if (failed > 64 && failed * 4 > next) return std::nullopt;
    keep(primes, found);
    // Doubling, then by the share g of the primes so far that balances the solves taken past the
    // need (about g/2 of them) against the probes still to fail (about 1 / (1.2·g) of the next, a
    // probe of b bits taking about b^1.2): g² = probe / (0.6·solves). In nanoseconds, a prime's solve
    // takes about 0.76·n² + 7000 and a probe about 3.65·b^1.2.
    const double solves = static_cast<double>(next) * (0.76 * static_cast<double>(n * n) + 7000.0);
    const double probe_cost = 3.65 * std::pow(static_cast<double>(mpz_sizeinbase(probe.n.get(), 2)), 1.2);
    const double share = std::clamp(std::sqrt(probe_cost / (0.6 * solves)), 1.0 / 16, 1.0);
    batch = next < 256 ? next : std::max<std::size_t>(256, static_cast<std::size_t>(share * static_cast<double>(next)));
    auto candidate = reconstruct();
    if (!candidate) continue;
    if (candidate->proven) return std::pair{std::move(candidate->u), std::move(candidate->d)};
    auto& [u, d, have, formed_from, proven] = *candidate;
    const auto [deg_p, top_u] = degree_of_p(u);
    const std::uint64_t u_bits = max_bits(u), d_bits = mpz_sizeinbase(d.get(), 2);
    // The sizes of y^k mod r are bounded cheaply first, and formed exactly only when that falls short.
    std::uint64_t bound = proof_bits(u_bits, d_bits, top_u, deg_p, rough_sizes(deg_p));
    // Far past U's own size, the bound gives way to the quotient's proof where that holds.
    if (bound + 1 >= have && bound > 2 * (u_bits + s1_bits) && quotient_proof(*candidate, deg_p))
      return std::pair{std::move(u), std::move(d)};
    if (bound + 1 >= have) {
      if (reduction.size() <= deg_p) reduction = reduction_bits(r, std::max(deg_p, n - 1));
      bound = proof_bits(u_bits, d_bits, top_u, deg_p, reduction);
    }
    // Short of the bound, the candidate is checked modulo just as many more primes instead of being
    // formed again from a larger N: modulo a further prime where r keeps its degree, l^e·(P mod r)
    // reduces to l^e·(P mod r) taken there, so P vanishing modulo r there (a product and a
    // remainder, no inverse) adds that prime to N. When P does not vanish, the primes' values join
    // the rest as in the main loop.
    while (bound + 1 >= have) {
      std::vector<u64> more(static_cast<std::size_t>((bound + 2 - have) / 30 + 1));  // each adds >= 30 bits
      for (auto& q : more) q = word_prime(next++);
      const ModuliTree tree(more);
      const std::vector<WordPoly> rq = tree.reduce(r), s1q = tree.reduce(s1), s0q = tree.reduce(s0);
      std::vector<u64> dq(more.size()), uq(more.size() * n);
      tree.reduce(d.to_int(), dq.data());
      for_each_parallel(n, 1, [&](std::size_t k) { tree.reduce(u[k].to_int(), uq.data() + k, n); });
      // Per prime: 0 where r drops its degree, 1 where P vanishes modulo r, 2 where it does not.
      std::vector<unsigned char> verdict(more.size());
      for_each_parallel(more.size(), 8, [&](std::size_t i) {
        const Zp F(more[i]);
        if (static_cast<std::size_t>(degree(rq[i])) != n) return;
        WordPoly ui(uq.begin() + static_cast<std::ptrdiff_t>(i * n), uq.begin() + static_cast<std::ptrdiff_t>((i + 1) * n));
        gy::trim(ui);
        WordPoly p = mul(F, s1q[i], ui);
        if (p.size() < s0q[i].size()) p.resize(s0q[i].size(), 0);
        for (std::size_t k = 0; k < s0q[i].size(); ++k) p[k] = F.sub(p[k], F.mul(dq[i], s0q[i][k]));
        gy::trim(p);
        verdict[i] = rem(F, std::move(p), monic(F, rq[i])).empty() ? 1 : 2;
      });
      if (std::count(verdict.begin(), verdict.end(), 2) != 0) {
        auto found_more = solve_at(more);
        for (const auto& f : found_more) failed += f ? 0 : 1;
        if (failed > 64 && failed * 4 > next) return std::nullopt;
        keep(more, found_more);
        break;
      }
      failed += static_cast<std::size_t>(std::count(verdict.begin(), verdict.end(), 0));
      if (failed > 64 && failed * 4 > next) return std::nullopt;
      have += 30 * static_cast<std::uint64_t>(std::count(verdict.begin(), verdict.end(), 1));
    }
    if (bound + 1 < have) return std::pair{std::move(u), std::move(d)};
  }
}

}  // namespace


// Inverses of numbers whose coefficients, with those of m, have this many bits in all are proven by
// sizes rather than by a product.
constexpr std::uint64_t kSolveBits = std::uint64_t{1} << 16;

// Fields of at least this degree invert modulo primes.
constexpr std::size_t kModularInverseDegree = 24;

// Measured on joined fields with long coefficients, where an inverse modulo primes takes as long as
// a dozen products.
std::size_t inverse_cost(std::size_t degree) { return degree >= kModularInverseDegree ? 12 : 4; }

// Inverses are memoised in fields from this degree on, where they cost far more than a lookup.
constexpr std::size_t kInverseMemoDegree = kModularInverseDegree;
constexpr std::size_t kMemoSize = 256;

std::size_t NumberField::PolyHash::operator()(const FracPoly& p) const {
  SipHasher13 h;
  for (const auto& c : p.coeffs) c.hash(h);
  return static_cast<std::size_t>(h.finish());
}

std::optional<FracPoly> NumberField::memo_find(Memo which, const FracPoly& value) const {
  std::lock_guard lock(memo_lock_);
  const MemoTable& t = memos_[static_cast<int>(which)];
  auto it = t.found.find(value);
  if (it == t.found.end()) return std::nullopt;
  return it->second;
}

void NumberField::memo_store(Memo which, const FracPoly& value, const FracPoly& found) const {
  std::lock_guard lock(memo_lock_);
  MemoTable& t = memos_[static_cast<int>(which)];
  if (!t.found.try_emplace(value, found).second) return;
  if (t.order.size() < kMemoSize) {
    t.order.push_back(value);
    return;
  }
  // Full: the oldest entry makes room.
  t.found.erase(t.order[t.next]);
  t.order[t.next] = value;
  t.next = (t.next + 1) % kMemoSize;
}

bool is_monomial_of_binomial(const AlgebraicNumber& x) {
  const FracPoly& v = x.value();
  const NumberField& f = *x.field();
  const FracPoly& m = f.minimal_polynomial();
  if (!is_monomial(v) || !is_binomial(m) || m.coeffs[0].is_zero()) return false;
  // Only where the inverse's general road, whose products grow to about the degree times these
  // sizes, stays far within the size limit of integers: past it, that road refuses as it always has.
  const Fraction& a = v.coeffs.back();
  const std::uint64_t bits = a.num().bit_length() + a.den().bit_length() + max_bits(f.integer_polynomial());
  return bits * f.degree() <= Int::kMaxBits / 4;
}

Result<AlgebraicNumber> AlgebraicNumber::inverse() const {
  if (value_.is_zero()) return fail(Error::range(cat("Division by zero: ", to_string())));
  if (value_.degree() == 0) return AlgebraicNumber(FracPoly::constant(GY_TRY(one_fraction().div(value_[0]))), field_);
  if (is_monomial_of_binomial(*this)) {
    // x^n = w, so (a·x^k)·x^(n−k) = a·w.
    const FracPoly& m = field_->minimal_polynomial();
    const std::size_t n = m.coeffs.size() - 1, k = static_cast<std::size_t>(value_.degree());
    const Fraction w = GY_TRY(m.coeffs[0].neg().div(m.lead()));
    std::vector<Fraction> inv(n - k + 1);
    inv[n - k] = GY_TRY(one_fraction().div(value_.coeffs[k] * w));
    return AlgebraicNumber(FracPoly(std::move(inv)), field_);
  }
  if (field_->degree() < kInverseMemoDegree) return invert();
  if (auto known = field_->memo_find(NumberField::Memo::Inverse, value_))
    return AlgebraicNumber(std::move(*known), field_);
  AlgebraicNumber inv = GY_TRY(invert());
  field_->memo_store(NumberField::Memo::Inverse, value_, inv.value_);
  return inv;
}

Result<AlgebraicNumber> AlgebraicNumber::invert() const {
  if (field_->degree() >= kModularInverseDegree) {
    // a = A/D: the inverse is D·(A⁻¹ mod m), taken modulo primes and confirmed by one product, or
    // for large coefficients by a size bound.
    Int den;
    const IntPoly a = clear_denominators(value_, den);
    std::uint64_t bits = 0;
    for (const auto& x : a.coeffs) bits += x.bit_length();
    if (bits + field_->m_int_.coeffs.size() * max_bits(field_->m_int_) >= kSolveBits) {
      // 1/a = D/A: solved as such, its size is the inverse's own.
      if (auto u = solve_mod_rational(a, IntPoly(std::vector<Int>{den}), field_->m_int_))
        return AlgebraicNumber(fractions_over(u->first, Int(1), u->second.to_int()), field_);
    }
    const AlgebraicNumber whole(to_fractions(a), field_);
    auto found = inverse_mod_rational(a, field_->m_int_, [&](const FracPoly& u) {
      auto product = whole.mul(AlgebraicNumber(u, field_));
      return product && product->value().degree() == 0 && product->value()[0].is_one();
    });
    if (found) {
      if (!den.is_one())
        for (auto& x : found->coeffs) x = x * Fraction(den);
      return AlgebraicNumber(std::move(*found), field_);
    }
  }
  // Extended Euclid on (m, a) in integers: pseudo-remainders made primitive, and only the cofactor
  // of a carried, as T/D with t·a ≡ r (mod m).
  Int den_a;
  IntPoly r0 = field_->m_int_, r1 = clear_denominators(value_, den_a);
  IntPoly t0, t1 = IntPoly(std::vector<Int>{den_a});
  Int d0(1), d1(1);
  while (r1.degree() > 0) {
    poll_interrupt();
    std::vector<Int> w = r0.coeffs;
    Int s(1);
    detail::scaled_division(w, r1, s, true);
    const auto split = static_cast<std::ptrdiff_t>(r1.degree());
    IntPoly q(std::vector<Int>(w.begin() + split, w.end()));
    IntPoly r(std::vector<Int>(w.begin(), w.begin() + split));
    if (r.is_zero()) return fail(Error::range(cat("Division by zero: ", to_string())));
    // r = s·r0 − q·r1, so t = s·t0 − q·t1 = (s·T0·D1 − q·T1·D0) / (D0·D1), then both over g.
    IntPoly t = IntPoly::sub(t0.is_zero() ? t0 : IntPoly(t0).scale(s * d1), IntPoly::mul(q, t1.scale(d0)));
    Int dn = d0 * d1;
    Int g = content(r.coeffs);
    if (!g.is_one()) {
      for (auto& x : r.coeffs) x = x / g;
      dn *= g;
    }
    Int h = Int::gcd(content(t.coeffs), dn);
    if (!h.is_one()) {
      for (auto& x : t.coeffs) x = x / h;
      dn = dn / h;
    }
    r0 = std::move(r1);
    r1 = std::move(r);
    t0 = std::move(t1);
    t1 = std::move(t);
    d0 = std::move(d1);
    d1 = std::move(dn);
  }
  // t1·a ≡ r1, a non-zero constant.
  return make(field_, reduced_fractions(t1.coeffs, d1 * r1.coeffs[0]));
}

Result<AlgebraicNumber> AlgebraicNumber::div(const AlgebraicNumber& b) const {
  AlgebraicNumber inv = GY_TRY(b.inverse());
  return mul(inv);
}

namespace {

// Refuses base^e, as the integer products that would form it are refused, when its integral
// numerators A_e or their common denominator D_e surely pass the size limit of integers. With
// N(base) = P/Q in lowest terms and N(base^e) = Res(m, A_e)/(lc(m)^k·D_e^d): Q^e divides
// lc(m)^k·D_e^d, and P^e divides Res(m, A_e), which is at most ‖m‖^k·‖A_e‖^d, k < d the degree of
// A_e. The norm is formed only when a power of the base's size could pass the limit.
void refuse_oversized_power(const AlgebraicNumber& base, const Int& e) {
  const NumberField& f = *base.field();
  const std::uint64_t d = f.degree();
  Int den;
  const IntPoly a = clear_denominators(base.value(), den);
  // Powers grow by the base's size and by what reducing modulo m adds.
  const std::uint64_t size = std::max(norm_bits(a), den.bit_length()) + norm_bits(f.integer_polynomial()) + log2_ceil(d) + 2;
  const auto ev = static_cast<std::uint64_t>(*e.to_i64());
  if (ev * size < Int::kMaxBits / 4 || d * a.degree() * max_bits(a) > (std::uint64_t{1} << 22)) return;
  const FracPoly monic = expect(f.minimal_polynomial().monic(), "a field's polynomial is not zero");
  const FracPoly res = expect(resultant(lift_constants(monic), lift_constants(to_fractions(a))), "a resultant of constants");
  if (res.is_zero()) return;
  // D^d past the size limit: the powers' own products are refused at their first steps.
  if ((den.bit_length() - 1) * d > Int::kMaxBits) return;
  // N(base) = Res(m, A)/D^d for the monic m.
  const Fraction norm = expect(res.coeffs[0].div(Fraction(Int::pow(den, static_cast<std::uint32_t>(d)))), "non-zero");
  const std::uint64_t k = d - 1;
  auto lower = [&](const Int& x, std::uint64_t loss) -> std::uint64_t {
    const std::uint64_t grown = ev * (x.bit_length() - 1);
    return grown > loss ? (grown - loss) / d : 0;
  };
  const IntPoly& m = f.integer_polynomial();
  const std::uint64_t bits = std::max(lower(norm.num().abs(), k * norm_bits(m) + d * log2_ceil(d)),
                                      lower(norm.den(), k * m.lead().bit_length()));
  if (bits > Int::kMaxBits + 1)
    throw MemoryRefusal(cat("a product of ", bits, " bits or more exceeds the limit of ", Int::kMaxBits,
                            " bits of an integer"));
}

}  // namespace

// ---- Powers of field elements ------------------------------------------------------------------

namespace {

// Adds the primes of n != 0 to `primes` when each of them fits a word and is found by trial
// division up to a work bound or certified as the last cofactor; false otherwise.
bool add_word_primes(const Int& n, std::vector<std::uint64_t>& primes) {
  Mpz rest(n.abs());
  auto take = [&](std::uint64_t p) {
    if (!mpz_divisible_ui_p(rest.get(), p)) return;
    Mpz q(p);
    mpz_remove(rest.get(), rest.get(), q.get());
    if (std::find(primes.begin(), primes.end(), p) == primes.end()) primes.push_back(p);
  };
  take(2);
  // Trial division costs a pass over the cofactor per candidate.
  const std::uint64_t limit = std::min<std::uint64_t>(std::uint64_t{1} << 16, (std::uint64_t{1} << 22) / (mpz_size(rest.get()) + 1));
  for (std::uint64_t p = 3; p <= limit && mpz_cmp_ui(rest.get(), 1) > 0; p += 2) {
    if (mpz_fits_ulong_p(rest.get()) && p * p > mpz_get_ui(rest.get())) break;
    take(p);
  }
  if (mpz_cmp_ui(rest.get(), 1) == 0) return true;
  if (!mpz_fits_ulong_p(rest.get()) || !is_word_prime(mpz_get_ui(rest.get()))) return false;
  take(mpz_get_ui(rest.get()));
  return true;
}

// A number of a field as mul works on it, A/D with A = clear_denominators(value, D), and the
// exponents of D at a list of primes that holds every prime of it.
struct IntegralValue {
  IntPoly a;
  Int d;
  std::vector<std::uint64_t> exps;
};

std::vector<std::uint64_t> exponents_at(const Int& d, const std::vector<std::uint64_t>& primes) {
  std::vector<std::uint64_t> exps(primes.size());
  for (std::size_t k = 0; k < primes.size(); ++k)
    exps[k] = d.is_one() ? 0 : Int::valuation(d, primes[k], std::numeric_limits<std::uint64_t>::max());
  return exps;
}

// Divides A and D by the gcd of D and A's content: at each prime, the least valuation.
void remove_content(IntegralValue& x, const std::vector<std::uint64_t>& primes) {
  Mpz g(1ul), pw;
  for (std::size_t k = 0; k < primes.size(); ++k) {
    std::uint64_t w = x.exps[k];
    for (const auto& c : x.a.coeffs) {
      if (w == 0) break;
      if (!c.is_zero()) w = Int::valuation(c, primes[k], w);
    }
    if (w == 0) continue;
    x.exps[k] -= w;
    mpz_ui_pow_ui(pw.get(), primes[k], w);
    mpz_mul(g.get(), g.get(), pw.get());
  }
  if (mpz_cmp_ui(g.get(), 1) == 0) return;
  Mpz q;
  auto divide = [&](Int& c) {
    if (c.is_zero()) return;
    mpz_divexact(q.get(), c.view().get(), g.get());
    c = q.to_int();
  };
  for (auto& c : x.a.coeffs) divide(c);
  divide(x.d);
}

// A/D coefficient by coefficient in lowest terms: each gcd from the valuations at the primes of D.
FracPoly fractions_of(const IntegralValue& x, const std::vector<std::uint64_t>& primes) {
  std::vector<Fraction> out(x.a.coeffs.size());
  auto one = [&](std::size_t i) {
    const Int& c = x.a.coeffs[i];
    if (c.is_zero() || x.d.is_one()) {
      out[i] = Fraction(c);
      return;
    }
    Mpz g(1ul), pw;
    for (std::size_t k = 0; k < primes.size(); ++k) {
      if (x.exps[k] == 0) continue;
      if (const std::uint64_t w = Int::valuation(c, primes[k], x.exps[k])) {
        mpz_ui_pow_ui(pw.get(), primes[k], w);
        mpz_mul(g.get(), g.get(), pw.get());
      }
    }
    if (mpz_cmp_ui(g.get(), 1) == 0) {
      out[i] = Fraction::from_coprime(c, x.d);
      return;
    }
    Mpz n, d;
    mpz_divexact(n.get(), c.view().get(), g.get());
    mpz_divexact(d.get(), x.d.view().get(), g.get());
    out[i] = Fraction::from_coprime(n.to_int(), d.to_int());
  };
  const std::size_t n = out.size();
  const bool wide = reduce_in_parallel(n, n * x.d.bit_length());
  for_each_parallel(n, wide ? 1 : n, one);
  return FracPoly(std::move(out));
}

// The coprime base of positive integers: pairwise coprime factors above 1 of which each is a
// product.
std::vector<Int> coprime_base(std::initializer_list<Int> values) {
  std::vector<Int> base, work;
  for (const auto& v : values) work.push_back(v.abs());
  while (!work.empty()) {
    Int y = std::move(work.back());
    work.pop_back();
    if (y.is_one() || y.is_zero()) continue;
    bool split = false;
    for (std::size_t i = 0; i < base.size(); ++i) {
      const Int g = Int::gcd(y, base[i]);
      if (g.is_one()) continue;
      const Int b = std::move(base[i]);
      base.erase(base.begin() + static_cast<std::ptrdiff_t>(i));
      work.push_back(b / g);
      work.push_back(y / g);
      work.push_back(g);
      split = true;
      break;
    }
    if (!split) base.push_back(std::move(y));
  }
  return base;
}

// An upper bound on log2 |x| for x != 0, a little above the true value.
double log2_above(const Int& x) {
  long exp = 0;
  const double m = std::fabs(mpz_get_d_2exp(&exp, x.view().get()));
  return (static_cast<double>(exp) + std::log2(m)) * (1 + 1e-12) + 1e-6;
}

}  // namespace

std::optional<AlgebraicNumber> AlgebraicNumber::radical_power(const AlgebraicNumber& base, std::uint64_t e) {
  // A monomial c·alpha^k of a field of s·x^d − t: alpha^d = r = t/s.
  const NumberField& f = *base.field_;
  const IntPoly& m = f.m_int_;
  const std::size_t d = f.degree();
  const auto& cs = base.value_.coeffs;
  const std::size_t k = cs.size() - 1;
  if (d < 2 || k == 0) return std::nullopt;
  for (std::size_t i = 1; i < d; ++i)
    if (!m.coeffs[i].is_zero()) return std::nullopt;
  for (std::size_t i = 0; i < k; ++i)
    if (!cs[i].is_zero()) return std::nullopt;
  const Fraction& c = cs[k];
  const Fraction r = expect(Fraction::make(-m.coeffs[0], m.coeffs[d]), "a field's polynomial has a leading term");
  // base^e = c^e·r^q·alpha^s with k·e = q·d + s.
  const std::uint64_t q = k * e / d, s = k * e % d;
  // c^e·r^q in lowest terms: c's and r's parts share factors only across the fraction bar; without
  // any, the powers are coprime. Otherwise, for parts small enough, over their coprime base, each
  // factor to its net exponent: no gcd of the large powers.
  const bool coprime = Int::gcd(c.num(), r.den()).is_one() && Int::gcd(r.num(), c.den()).is_one();
  std::uint64_t part_bits = 0;
  for (const Int* x : {&c.num(), &c.den(), &r.num(), &r.den()}) part_bits += x->bit_length();
  if (!coprime && part_bits > (std::uint64_t{1} << 16)) return std::nullopt;
  // Each element b of the coprime base with its exponents in c and in r (numerator less
  // denominator): base^i holds b^(i·u + floor(k·i/d)·v).
  struct Part {
    Int b;
    std::int64_t u, v;
  };
  std::vector<Part> parts;
  if (!coprime) {
    for (auto& b : coprime_base({c.num(), c.den(), r.num(), r.den()})) {
      auto order = [&](const Int& x) {
        Mpz rest, bz(b);
        return static_cast<std::int64_t>(mpz_remove(rest.get(), x.abs().view().get(), bz.get()));
      };
      const std::int64_t u = order(c.num()) - order(c.den()), v = order(r.num()) - order(r.den());
      parts.push_back(Part{std::move(b), u, v});
    }
  }
  // Square-and-multiply forms products of base^i and base^j, i + j <= e, each in lowest terms, and
  // multiplies them by the power table's t and s: their parts stay below these bounds, far enough
  // from the size limit of integers that none of those products could be refused. Over a coprime
  // base, b's exponent in base^i is at most i·(u + v·k/d) + |v| on either side of the bar.
  double num_bits = 0, den_bits = 0;
  if (coprime) {
    num_bits = static_cast<double>(e) * log2_above(c.num()) + static_cast<double>(q + 1) * log2_above(r.num()) + log2_above(r.den());
    den_bits = static_cast<double>(e) * log2_above(c.den()) + static_cast<double>(q + 2) * log2_above(r.den());
  } else {
    for (const Part& p : parts) {
      const double slope = static_cast<double>(p.u) + static_cast<double>(p.v) * static_cast<double>(k) / static_cast<double>(d);
      const double slack = 2 * std::fabs(static_cast<double>(p.v)) + 1;
      const double bits = log2_above(p.b);
      num_bits += (static_cast<double>(e) * std::max(slope, 0.0) + slack) * bits;
      den_bits += (static_cast<double>(e) * std::max(-slope, 0.0) + slack) * bits;
    }
    num_bits += log2_above(r.num()) + log2_above(r.den());
    den_bits += 2 * log2_above(r.den());
    num_bits *= 1 + 1e-9;
    den_bits *= 1 + 1e-9;
  }
  if (std::max(num_bits, den_bits) + 64 > static_cast<double>(Int::kMaxBits)) return std::nullopt;
  Int num(1), den(1);
  if (coprime) {
    num = Int::pow(c.num().abs(), static_cast<std::uint32_t>(e)) * Int::pow(r.num().abs(), static_cast<std::uint32_t>(q));
    den = Int::pow(c.den(), static_cast<std::uint32_t>(e)) * Int::pow(r.den(), static_cast<std::uint32_t>(q));
  }
  for (const Part& p : parts) {
    const std::int64_t net = static_cast<std::int64_t>(e) * p.u + static_cast<std::int64_t>(q) * p.v;
    if (net > 0) num *= Int::pow(p.b, static_cast<std::uint32_t>(net));
    if (net < 0) den *= Int::pow(p.b, static_cast<std::uint32_t>(-net));
  }
  if ((c.sign() < 0 && (e & 1)) != (r.sign() < 0 && (q & 1))) num = -num;
  std::vector<Fraction> out(s + 1);
  out[s] = Fraction::from_coprime(std::move(num), std::move(den));
  return AlgebraicNumber(FracPoly(std::move(out)), base.field_);
}

Result<std::optional<AlgebraicNumber>> AlgebraicNumber::integral_power(const AlgebraicNumber& base, std::uint64_t e) {
  const NumberField& f = *base.field_;
  IntegralValue b;
  b.a = clear_denominators(base.value_, b.d);
  // Every denominator is a product of the base's and the power table's.
  std::vector<std::uint64_t> primes;
  const bool by_table = f.reversed_inverse_.is_zero() && !f.powers_den_.is_one();
  if (!b.d.is_one() && !add_word_primes(b.d, primes)) return std::optional<AlgebraicNumber>();
  if (by_table && !add_word_primes(f.powers_den_, primes)) return std::optional<AlgebraicNumber>();
  b.exps = exponents_at(b.d, primes);
  const std::vector<std::uint64_t> table_exps = exponents_at(f.powers_den_, primes);
  auto number = [&](const IntegralValue& x) { return AlgebraicNumber(fractions_of(x, primes), base.field_); };
  // x·y (x and y may be one object) with mul's integer products; products by a constant as mul
  // forms them, on the numbers themselves.
  auto product = [&](const IntegralValue& x, const IntegralValue& y) -> Result<IntegralValue> {
    IntegralValue r;
    if (x.a.coeffs.size() == 1 || y.a.coeffs.size() == 1) {
      const AlgebraicNumber nx = number(x);
      const AlgebraicNumber z = &x == &y ? GY_TRY(nx.mul(nx)) : GY_TRY(nx.mul(number(y)));
      r.a = clear_denominators(z.value_, r.d);
      r.exps = exponents_at(r.d, primes);
      return r;
    }
    bool table = false;
    r.a = product_over_integers(f, x.a, y.a, x.d, y.d, r.d, table);
    r.exps = x.exps;
    for (std::size_t i = 0; i < primes.size(); ++i) r.exps[i] += y.exps[i] + (table ? table_exps[i] : 0);
    remove_content(r, primes);
    return r;
  };
  // From the top bit down, every product is a square or a product by the base, whose short
  // coefficients cost little, in place of products of two long powers. The sizes of a power's
  // parts grow with its exponent up to a bounded difference, small beside the limit of integers
  // when the base's and the field's parts are short; whatever passes half the limit goes the other
  // way, from the bottom bit up, refused where it would be.
  std::uint64_t parts = std::max(max_bits(b.a), b.d.bit_length());
  parts = std::max({parts, max_bits(f.m_int_), max_bits(f.reversed_inverse_), f.powers_den_.bit_length()});
  for (const auto& t : f.powers_int_) parts = std::max(parts, max_bits(t));
  if (e >= 16 && f.degree() * (parts + 64) <= (std::uint64_t{1} << 22)) {
    const std::uint64_t half = Int::kMaxBits / 2;
    IntegralValue r = b;
    std::uint64_t at = 1;  // r is base^at
    bool whole = true;
    for (int bit = std::bit_width(e) - 2; bit >= 0; --bit) {
      poll_interrupt();
      // Past a few steps the sizes so far foretell the last ones: what would pass half the limit
      // goes the other way at once.
      const std::uint64_t size = std::max(max_bits(r.a), r.d.bit_length());
      if (2 * size > half || (at >= e / 64 && static_cast<double>(size) * static_cast<double>(e) >
                                                  static_cast<double>(half) * static_cast<double>(at))) {
        whole = false;
        break;
      }
      r = GY_TRY(product(r, r));
      at *= 2;
      if ((e >> bit) & 1) {
        if (std::max(max_bits(r.a), r.d.bit_length()) + parts > half) {
          whole = false;
          break;
        }
        r = GY_TRY(product(r, b));
        at += 1;
      }
    }
    if (whole) return std::optional<AlgebraicNumber>(number(r));
  }
  std::optional<IntegralValue> result;
  for (std::uint64_t n = e; n > 0;) {
    poll_interrupt();
    if (n & 1) {
      if (result) {
        result = GY_TRY(product(*result, b));
      } else {
        // 1·b: mul's products of each part by one, refused only for a part past the size limit.
        std::uint64_t bits = b.d.bit_length();
        for (const auto& x : b.a.coeffs) bits = std::max(bits, x.bit_length());
        if (bits > Int::kMaxBits) {
          for (const auto& x : fractions_of(b, primes).coeffs) {
            Int::check_product_bits(x.num().bit_length(), 1);
            Int::check_product_bits(x.den().bit_length(), 1);
          }
        }
        result = b;
      }
      n -= 1;
    } else {
      b = GY_TRY(product(b, b));
      n /= 2;
    }
  }
  return std::optional<AlgebraicNumber>(number(*result));
}

std::optional<double> AlgebraicNumber::log2_magnitude_at_least(const AlgebraicNumber& x) {
  const NumberField& f = *x.field_;
  const NumberField::StateRef s = f.state();
  if (s->sign_lo == 0 || s->sign_hi == 0 || s->sign_lo == s->sign_hi) return std::nullopt;
  // alpha within 2^-64 of the grid point below it.
  constexpr std::int64_t kBits = 64;
  Enclosure enclosure(f.m_int_, s->lo, s->hi, f.evaluation_bits(), f.too_large(), &f.root_floor_,
                      std::pair{s->sign_lo, s->sign_hi});
  const Result<std::optional<Int>> floor = enclosure.floor_scaled_alpha(kBits);
  if (!floor || !*floor) return std::nullopt;
  const Fraction& c0 = x.value_[0];
  const Fraction& c1 = x.value_[1];
  const Fraction a = c0 + c1 * scaled_down(**floor, kBits), b = c0 + c1 * scaled_down(**floor + Int(1), kBits);
  if (a.sign() == 0 || a.sign() != b.sign()) return std::nullopt;
  // The nearer end to zero, its logarithm rounded down by far more than a double's error.
  const double near = std::min(std::fabs(a.to_f64()), std::fabs(b.to_f64()));
  if (!(near > 0) || !std::isfinite(near)) return std::nullopt;
  return std::log2(near) - 1e-9;
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
  refuse_oversized_power(base, e);
  if (field == base.field_) {
    const auto ev = static_cast<std::uint64_t>(*e.to_i64());
    if (ev == 1) {
      // 1·base: mul's products of each part by one, refused only for a part past the size limit.
      for (const auto& x : base.value_.coeffs) {
        Int::check_product_bits(x.num().bit_length(), 1);
        Int::check_product_bits(x.den().bit_length(), 1);
      }
      return base;
    }
    if (auto r = radical_power(base, ev)) return std::move(*r);
    if (auto r = GY_TRY(integral_power(base, ev))) {
      // A power of a two-term number of a quadratic field, two terms itself, may be far smaller
      // than its parts: its size, from its base's, tells its sign how far to narrow.
      if (r->value_.degree() == 1 && base.value_.degree() == 1 && field->degree() == 2)
        if (const auto low = log2_magnitude_at_least(base)) r->log2_at_least_ = *low * static_cast<double>(ev);
      return std::move(*r);
    }
  }
  AlgebraicNumber result = one(field);
  AlgebraicNumber b = base;
  Int n = e;
  while (n.sign() > 0) {
    poll_interrupt();
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

namespace {

// Σ c_i·[lower_i, upper_i]: an enclosure of Σ c_i·alpha^i from bounds of the powers of alpha. Unless
// `reduced`, the ends may share factors: enough for signs, floats and comparisons, and it saves two
// gcds of the ends' full size. Every bound of alpha^i is an integer over Q^i, Q the least common multiple of the
// denominators of lo = lower_1 and hi = upper_1, so with the value A/D (A integral) each end is the
// one integer Σ a_i·B_i·Q^(n−i) over D·Q^n; for a power of two Q the scalings are shifts.
std::pair<Fraction, Fraction> bounds_sum(const IntPoly& a, const Int& d, const std::vector<Fraction>& lower,
                                         const std::vector<Fraction>& upper, bool reduced) {
  const std::size_t n = a.coeffs.size() - 1;
  const Int& dl = lower[1].den();
  const Int& dh = upper[1].den();
  const Int q = Int::lcm(dl, dh);
  const std::uint64_t q_bits = q.bit_length() - 1;
  const bool dyadic = q.exponent_of_two().has_value();
  const Int qn = dyadic ? Int(1).shl(q_bits * n) : Int::pow(q, static_cast<std::uint32_t>(n));
  Mpz sum[2], term;
  for (std::size_t i = 0; i <= n; ++i) {
    const Int& c = a.coeffs[i];
    if (c.is_zero()) continue;
    for (int end = 0; end < 2; ++end) {
      // The lower end takes the lower bound for a positive coefficient, the upper one otherwise.
      const Fraction& b = (c.sign() > 0) == (end == 0) ? lower[i] : upper[i];
      if (dyadic) {
        mpz_mul_2exp(term.get(), b.num().view().get(), q_bits * n - (b.den().bit_length() - 1));
      } else {
        mpz_divexact(term.get(), qn.view().get(), b.den().view().get());
        mpz_mul(term.get(), term.get(), b.num().view().get());
      }
      mpz_addmul(sum[end].get(), term.get(), c.view().get());
    }
  }
  const Int den = d * qn;
  auto end = [&](const Mpz& v) {
    return reduced ? expect(Fraction::make(v.to_int(), den), "positive denominator")
                   : Fraction::make_unreduced(v.to_int(), den);
  };
  return {end(sum[0]), end(sum[1])};
}

std::pair<Fraction, Fraction> bounds_sum(const FracPoly& value, const std::vector<Fraction>& lower,
                                         const std::vector<Fraction>& upper, bool reduced) {
  if (value.degree() <= 0) {
    const Fraction c = value.is_zero() ? Fraction() : value.coeffs[0];
    return {c, c};
  }
  Int d;
  const IntPoly a = clear_denominators(value, d);
  return bounds_sum(a, d, lower, upper, reduced);
}

// The enclosure of a number that the field state with alpha's interval [lo, hi] would give.
std::pair<Fraction, Fraction> enclosure_at(const FracPoly& value, const Fraction& lo, const Fraction& hi) {
  std::vector<Fraction> lower, upper;
  const std::size_t n = value.coeffs.size() - 1;
  std::size_t terms = 0;
  for (const auto& c : value.coeffs) terms += c.is_zero() ? 0 : 1;
  const auto lo_two = lo.den().exponent_of_two(), hi_two = hi.den().exponent_of_two();
  if (n >= 2 && terms * 4 <= n && lo.sign() >= 0 && lo_two && hi_two) {
    // A few powers of a non-negative dyadic interval, each by squaring: lo^i and hi^i bound alpha^i.
    lower.resize(n + 1);
    upper.resize(n + 1);
    lower[0] = upper[0] = one_fraction();
    for (std::size_t i = 1; i <= n; ++i) {
      if (i != 1 && value.coeffs[i].is_zero()) continue;
      const auto e = static_cast<std::uint32_t>(i);
      lower[i] = Fraction::make_unreduced(Int::pow(lo.num(), e), Int(1).shl(*lo_two * i));
      upper[i] = Fraction::make_unreduced(Int::pow(hi.num(), e), Int(1).shl(*hi_two * i));
    }
    return bounds_sum(value, lower, upper, false);
  }
  power_bounds(lo, hi, n, lower, upper);
  return bounds_sum(value, lower, upper, false);
}

// Bounds, in fixed point, of the two ends enclosure_at gives for one number at intervals [lo, hi]
// with lo >= 0, where they are Σ c_i·lo^i and Σ c_i·hi^i over the coefficients c_i = A_i / D of
// each sign. The coefficients are rounded once to G fraction bits, the powers to P, so that a test
// costs short products however long A and D are; each rounding is directed, so the bounds hold.
class FixedEnds {
 public:
  explicit FixedEnds(const FracPoly& value) : a_(clear_denominators(value, d_)) {
    for (const auto& c : a_.coeffs) bits_ = std::max(bits_, c.bit_length());
    // Every c_i with i >= 1 is at least 2^shift_ in size, so the enclosure is at least 2^shift_
    // times alpha's interval in width: the coefficients' rounding may grow as much.
    std::optional<std::int64_t> least;
    for (std::size_t i = 1; i < a_.coeffs.size(); ++i) {
      if (a_.coeffs[i].is_zero()) continue;
      const auto e = static_cast<std::int64_t>(a_.coeffs[i].bit_length()) - static_cast<std::int64_t>(d_.bit_length()) - 1;
      least = least ? std::min(*least, e) : e;
    }
    shift_ = std::max<std::int64_t>(0, least.value_or(0));
  }

  // Bounds of the ends (a, b) of enclosure_at(value, lo, hi): a_lo <= a <= a_hi, b_lo <= b <= b_hi.
  struct Bounds {
    Fraction a_lo, a_hi, b_lo, b_hi;
  };
  // Looser bounds in floating point, for intervals reaching far past 1: the fixed point takes as
  // many more bits as the powers grow, these stay short.
  std::optional<Bounds> rough(const Fraction& lo, const Fraction& hi) const {
    if (lo.sign() < 0 || hi < lo || hi.is_zero()) return std::nullopt;
    const std::int64_t top = floor_log2(hi) + 1;
    if (top <= 0 || (a_.coeffs.size() - 1) * static_cast<std::uint64_t>(top) < kRoughReach) return std::nullopt;
    return rough_at(lo, hi);
  }
  std::optional<Bounds> at(const Fraction& lo, const Fraction& hi) {
    if (lo.sign() < 0 || hi < lo) return std::nullopt;
    const std::size_t n = a_.coeffs.size() - 1;
    // P past the ends' own precision, so that the rounding stays far below the enclosure's width;
    // G past P by the size of the largest power, so that the coefficients' rounding does too.
    const std::uint64_t extra = 64 + log2_ceil(n + 1) + 4;
    const std::uint64_t p = std::max({lo.den().bit_length(), hi.den().bit_length(), std::uint64_t{1}}) + extra;
    const std::uint64_t top = hi.is_zero() ? 0 : static_cast<std::uint64_t>(std::max<std::int64_t>(0, floor_log2(hi) + 1));
    // Powers of an interval past 1 ask for as many more bits of the coefficients; the exact ends
    // cost less once that passes the coefficients' own length.
    if (n * top > bits_) return std::nullopt;
    // G is cut by the coefficients' least size: huge coefficients keep only the bits that matter.
    const std::uint64_t r = p + n * top + extra;
    // Cut coefficients about as long as the exact ends' pay no more than those, when each end is
    // summed term by term; by Horner's rule from the lower end, with the ends' spread bounded in
    // short floating point, a test costs n products of the interval's length.
    const bool horner = shift_ > 0 && 8 * r > bits_;
    std::optional<std::pair<Mpz, std::uint64_t>> w;
    if (horner && (n < 2 || !(w = dyadic_width(lo, hi)))) return std::nullopt;
    if (r > r_) {
      r_ = std::max(r, 2 * r_);  // doubling, so that rounding is rare
      round_coefficients(static_cast<std::int64_t>(r_) - shift_);
    }
    if (horner) return horner_at(lo, hi, p, r, *w);
    const std::int64_t gp = g_ + static_cast<std::int64_t>(p);
    // Powers of lo and hi rounded down and up, times 2^p.
    auto powers = [&](const Fraction& x, std::vector<Int>& down, std::vector<Int>& up) {
      down.assign(n + 1, Int());
      up.assign(n + 1, Int());
      Mpz xd, xu, t;
      scaled_floor(x, p, xd, xu);
      Mpz pd, pu;
      mpz_set_ui(pd.get(), 1);
      mpz_mul_2exp(pd.get(), pd.get(), p);
      mpz_set(pu.get(), pd.get());
      down[0] = pd.to_int();
      up[0] = pu.to_int();
      for (std::size_t i = 1; i <= n; ++i) {
        mpz_mul(pd.get(), pd.get(), xd.get());
        mpz_fdiv_q_2exp(pd.get(), pd.get(), p);
        mpz_mul(pu.get(), pu.get(), xu.get());
        mpz_cdiv_q_2exp(pu.get(), pu.get(), p);
        if (a_.coeffs[i].is_zero()) continue;
        down[i] = pd.to_int();
        up[i] = pu.to_int();
      }
    };
    std::vector<Int> lo_d, lo_u, hi_d, hi_u;
    powers(lo, lo_d, lo_u);
    powers(hi, hi_d, hi_u);
    Mpz s[4];  // a_lo, a_hi, b_lo, b_hi
    for (std::size_t i = 0; i <= n; ++i) {
      const Int& c = a_.coeffs[i];
      if (c.is_zero()) continue;
      const bool positive = c.sign() > 0;
      // a takes lo^i for a positive coefficient and hi^i for a negative one; b the other.
      const std::vector<Int>& a_d = positive ? lo_d : hi_d;
      const std::vector<Int>& a_u = positive ? lo_u : hi_u;
      const std::vector<Int>& b_d = positive ? hi_d : lo_d;
      const std::vector<Int>& b_u = positive ? hi_u : lo_u;
      // q·x over its bounds: for q >= 0 the least is q_down·x_down, for q < 0 it is q_down·x_up.
      mpz_addmul(s[0].get(), q_down_[i].get(), (positive ? a_d : a_u)[i].view().get());
      mpz_addmul(s[1].get(), q_up_[i].get(), (positive ? a_u : a_d)[i].view().get());
      mpz_addmul(s[2].get(), q_down_[i].get(), (positive ? b_d : b_u)[i].view().get());
      mpz_addmul(s[3].get(), q_up_[i].get(), (positive ? b_u : b_d)[i].view().get());
    }
    if (gp < 0)
      for (auto& x : s) mpz_mul_2exp(x.get(), x.get(), static_cast<std::uint64_t>(-gp));
    const Int den = Int(1).shl(static_cast<std::uint64_t>(std::max<std::int64_t>(gp, 0)));
    return Bounds{Fraction::make_unreduced(s[0].to_int(), den), Fraction::make_unreduced(s[1].to_int(), den),
                  Fraction::make_unreduced(s[2].to_int(), den), Fraction::make_unreduced(s[3].to_int(), den)};
  }

 private:
  // The same bounds in floating point, loose but cheap however far past 1 the interval reaches.
  std::optional<Bounds> rough_at(const Fraction& lo, const Fraction& hi) const {
    const std::size_t n = a_.coeffs.size() - 1;
    // Bounds of x^i for x = lo and hi.
    auto powers = [&](const Fraction& x, std::vector<Rough>& down, std::vector<Rough>& up) {
      down.resize(n + 1);
      up.resize(n + 1);
      mpz_set_ui(down[0].m.get(), 1);
      mpz_set_ui(up[0].m.get(), 1);
      const Rough xd = rough_quotient(x.num().view().get(), x.den().view().get(), 0, false);
      const Rough xu = rough_quotient(x.num().view().get(), x.den().view().get(), 0, true);
      for (std::size_t i = 1; i <= n; ++i) {
        down[i] = rough_mul(down[i - 1], xd, false);
        up[i] = rough_mul(up[i - 1], xu, true);
      }
    };
    std::vector<Rough> lo_d, lo_u, hi_d, hi_u;
    powers(lo, lo_d, lo_u);
    powers(hi, hi_d, hi_u);
    Rough s[4];  // a_lo, a_hi, b_lo, b_hi times D
    for (std::size_t i = 0; i <= n; ++i) {
      const Int& c = a_.coeffs[i];
      if (c.is_zero()) continue;
      const bool positive = c.sign() > 0;
      const Rough cd = rough_of(c.view().get(), false), cu = rough_of(c.view().get(), true);
      // c·x over x in [xd, xu], x >= 0: at least cd·xd (cd·xu when cd < 0), at most cu·xu (cu·xd).
      auto add = [&](Rough& lower, Rough& upper, const Rough& xd, const Rough& xu) {
        lower = rough_add(lower, rough_mul(cd, mpz_sgn(cd.m.get()) >= 0 ? xd : xu, false), false);
        upper = rough_add(upper, rough_mul(cu, mpz_sgn(cu.m.get()) >= 0 ? xu : xd, true), true);
      };
      add(s[0], s[1], positive ? lo_d[i] : hi_d[i], positive ? lo_u[i] : hi_u[i]);
      add(s[2], s[3], positive ? hi_d[i] : lo_d[i], positive ? hi_u[i] : lo_u[i]);
    }
    // Over D: a lower bound divides a non-negative sum by the greater D, a negative one by the lesser.
    const Rough dd = rough_of(d_.view().get(), false), du = rough_of(d_.view().get(), true);
    Fraction out[4];
    for (int k = 0; k < 4; ++k) {
      const bool up = k & 1;
      const Rough& den = (mpz_sgn(s[k].m.get()) >= 0) == !up ? du : dd;
      const Rough end = rough_quotient(s[k].m.get(), den.m.get(), s[k].e - den.e, up);
      if (end.e > (std::int64_t{1} << 26) || end.e < -(std::int64_t{1} << 26)) return std::nullopt;
      out[k] = rough_fraction(end);
    }
    return Bounds{std::move(out[0]), std::move(out[1]), std::move(out[2]), std::move(out[3])};
  }

  // The bounds from P(lo) = Σ c_i·lo^i, in fixed point of g_ fraction bits by Horner's rule, and
  // the ends' distances from it: a − P(lo) = Σ_{c_i<0} c_i·(hi^i − lo^i), b − P(lo) the same over
  // c_i > 0, with i·lo^(i−1)·w <= hi^i − lo^i <= i·hi^(i−1)·w for w = hi − lo = h/2^top, lo >= 0.
  // The coefficients are taken at r bits past the least one's size rather than at r_.
  Bounds horner_at(const Fraction& lo, const Fraction& hi, std::uint64_t p, std::uint64_t r,
                   const std::pair<Mpz, std::uint64_t>& w) const {
    const std::size_t n = a_.coeffs.size() - 1;
    const std::uint64_t cut = r_ - r;
    const std::int64_t g = g_ - static_cast<std::int64_t>(cut);
    std::vector<Mpz> q_down(n + 1), q_up(n + 1);
    for (std::size_t i = 0; i <= n; ++i) {
      mpz_fdiv_q_2exp(q_down[i].get(), q_down_[i].get(), cut);
      mpz_cdiv_q_2exp(q_up[i].get(), q_up_[i].get(), cut);
    }
    Mpz xd, xu;
    scaled_floor(lo, p, xd, xu);
    // L <= P(lo)·2^g <= L + E.
    Mpz l(q_down[n]), e;
    mpz_sub(e.get(), q_up[n].get(), q_down[n].get());
    if (mpz_cmp(xd.get(), xu.get()) == 0) {
      // x exact: one run rounded down, and E grows by ceil(E·x) plus a rounding and a coefficient's.
      for (std::size_t i = n; i-- > 0;) {
        mpz_mul(l.get(), l.get(), xd.get());
        mpz_fdiv_q_2exp(l.get(), l.get(), p);
        mpz_add(l.get(), l.get(), q_down[i].get());
        mpz_mul(e.get(), e.get(), xd.get());
        mpz_cdiv_q_2exp(e.get(), e.get(), p);
        mpz_add_ui(e.get(), e.get(), 1);
        mpz_add(e.get(), e.get(), q_up[i].get());
        mpz_sub(e.get(), e.get(), q_down[i].get());
      }
    } else {
      // x in [xd, xu], x >= 0: a lower bound times the lesser x when non-negative, the greater otherwise.
      Mpz u(q_up[n]);
      for (std::size_t i = n; i-- > 0;) {
        mpz_mul(l.get(), l.get(), (mpz_sgn(l.get()) >= 0 ? xd : xu).get());
        mpz_fdiv_q_2exp(l.get(), l.get(), p);
        mpz_add(l.get(), l.get(), q_down[i].get());
        mpz_mul(u.get(), u.get(), (mpz_sgn(u.get()) >= 0 ? xu : xd).get());
        mpz_cdiv_q_2exp(u.get(), u.get(), p);
        mpz_add(u.get(), u.get(), q_up[i].get());
      }
      mpz_sub(e.get(), u.get(), l.get());
    }
    // Bounds of i·x^(i−1)·w at x = lo (down) and hi (up).
    Rough wd = rough_of(w.first.get(), false), wu = rough_of(w.first.get(), true);
    wd.e -= static_cast<std::int64_t>(w.second);
    wu.e -= static_cast<std::int64_t>(w.second);
    // lo and hi are dyadic, so their rough values are their numerators' leading bits.
    auto rough_end = [](const Fraction& x, bool up) {
      Rough v = rough_of(x.num().view().get(), up);
      v.e -= static_cast<std::int64_t>(*x.den().exponent_of_two());
      return v;
    };
    const Rough lo_d = rough_end(lo, false), hi_u = rough_end(hi, true);
    Rough pd, pu;  // lo^(i−1) and hi^(i−1), rounded down and up
    mpz_set_ui(pd.m.get(), 1);
    mpz_set_ui(pu.m.get(), 1);
    Rough s[4];  // a − P(lo) and b − P(lo), down and up
    for (std::size_t i = 1; i <= n; ++i) {
      if (i > 1) {
        pd = rough_mul(pd, lo_d, false);
        pu = rough_mul(pu, hi_u, true);
      }
      if (a_.coeffs[i].is_zero()) continue;
      Rough k;
      mpz_set_ui(k.m.get(), i);
      const Rough dd = rough_mul(rough_mul(pd, k, false), wd, false), du = rough_mul(rough_mul(pu, k, true), wu, true);
      // c·d over c in [qd, qu]·2^-g and d in [dd, du], d >= 0.
      Rough qd = rough_of(q_down[i].get(), false), qu = rough_of(q_up[i].get(), true);
      qd.e -= g;
      qu.e -= g;
      const Rough low = rough_mul(qd, mpz_sgn(qd.m.get()) >= 0 ? dd : du, false);
      const Rough high = rough_mul(qu, mpz_sgn(qu.m.get()) >= 0 ? du : dd, true);
      const int k_end = a_.coeffs[i].sign() < 0 ? 0 : 2;
      s[k_end] = rough_add(s[k_end], low, false);
      s[k_end + 1] = rough_add(s[k_end + 1], high, true);
    }
    // Each bound as an integer over one power of two, so that all four share it.
    std::int64_t least = -g;
    for (const auto& x : s)
      if (mpz_sgn(x.m.get())) least = std::min(least, x.e);
    Mpz out[4];
    for (int k = 0; k < 4; ++k) {
      Mpz& o = out[k];
      mpz_set(o.get(), l.get());
      if (k & 1) mpz_add(o.get(), o.get(), e.get());
      mpz_mul_2exp(o.get(), o.get(), static_cast<std::uint64_t>(-g - least));
      if (mpz_sgn(s[k].m.get())) {
        Mpz v;
        mpz_mul_2exp(v.get(), s[k].m.get(), static_cast<std::uint64_t>(s[k].e - least));
        mpz_add(o.get(), o.get(), v.get());
      }
      if (least > 0) mpz_mul_2exp(o.get(), o.get(), static_cast<std::uint64_t>(least));
    }
    const Int den = Int(1).shl(static_cast<std::uint64_t>(std::max<std::int64_t>(-least, 0)));
    return Bounds{Fraction::make_unreduced(out[0].to_int(), den), Fraction::make_unreduced(out[1].to_int(), den),
                  Fraction::make_unreduced(out[2].to_int(), den), Fraction::make_unreduced(out[3].to_int(), den)};
  }

  // floor(x·2^k) and ceil(x·2^k).
  static void scaled_floor(const Fraction& x, std::uint64_t k, Mpz& down, Mpz& up) {
    if (auto t = x.den().exponent_of_two(); t && *t <= k) {  // exact, by a shift
      mpz_mul_2exp(down.get(), x.num().view().get(), k - *t);
      mpz_set(up.get(), down.get());
      return;
    }
    Mpz n(x.num());
    mpz_mul_2exp(n.get(), n.get(), k);
    const auto den = x.den().view();
    divide_into(down.get(), nullptr, n.get(), den.get(), Rounding::floor);
    // The ceiling is one more, unless the division is exact; then n ≡ down·den (mod 2^64), which
    // the lowest words tell without a second division.
    Mpz low_n, low_q, low_d;
    mpz_fdiv_r_2exp(low_n.get(), n.get(), 64);
    mpz_fdiv_r_2exp(low_q.get(), down.get(), 64);
    mpz_fdiv_r_2exp(low_d.get(), den.get(), 64);
    if (mpz_getlimbn(low_n.get(), 0) != mpz_getlimbn(low_q.get(), 0) * mpz_getlimbn(low_d.get(), 0))
      mpz_add_ui(up.get(), down.get(), 1);
    else
      divide_into(up.get(), nullptr, n.get(), den.get(), Rounding::ceiling);
  }
  // q_i = A_i·2^g / D rounded down and up; a negative g drops low bits of long coefficients.
  // A_i and D are first cut to a few words past the quotient's length, A_i rounded down and up and
  // D the other way, so that the quotients' rounding stays directed and long operands cost little.
  void round_coefficients(std::int64_t g) {
    g_ = g;
    q_down_.assign(a_.coeffs.size(), Mpz());
    q_up_.assign(a_.coeffs.size(), Mpz());
    const auto d_bits = static_cast<std::int64_t>(d_.bit_length());
    for (std::size_t i = 0; i < a_.coeffs.size(); ++i) {
      if (a_.coeffs[i].is_zero()) continue;
      const auto a_bits = static_cast<std::int64_t>(a_.coeffs[i].bit_length());
      const std::int64_t keep = std::max<std::int64_t>(0, a_bits - d_bits + g) + 128;
      const std::int64_t t = std::max<std::int64_t>(0, a_bits - keep), u = std::max<std::int64_t>(0, d_bits - keep);
      // A_i·2^g/D = (A'·2^t)·2^g/(D'·2^u) with A' and D' the cut operands.
      Mpz a_lo, a_hi, d_lo, d_hi;
      const auto av = a_.coeffs[i].view();
      mpz_fdiv_q_2exp(a_lo.get(), av.get(), static_cast<std::uint64_t>(t));
      mpz_cdiv_q_2exp(a_hi.get(), av.get(), static_cast<std::uint64_t>(t));
      mpz_fdiv_q_2exp(d_lo.get(), d_.view().get(), static_cast<std::uint64_t>(u));
      mpz_cdiv_q_2exp(d_hi.get(), d_.view().get(), static_cast<std::uint64_t>(u));
      const std::int64_t e = t - u + g;
      // The least quotient divides a negative A' by the lesser D', a non-negative one by the greater.
      auto quotient = [&](Mpz& out, Mpz& num, const Mpz& den, bool down) {
        Mpz dd(den);
        if (e > 0) mpz_mul_2exp(num.get(), num.get(), static_cast<std::uint64_t>(e));
        if (e < 0) mpz_mul_2exp(dd.get(), dd.get(), static_cast<std::uint64_t>(-e));
        divide_into(out.get(), nullptr, num.get(), dd.get(), down ? Rounding::floor : Rounding::ceiling);
      };
      quotient(q_down_[i], a_lo, mpz_sgn(a_lo.get()) < 0 ? d_lo : d_hi, true);
      quotient(q_up_[i], a_hi, mpz_sgn(a_hi.get()) > 0 ? d_lo : d_hi, false);
    }
  }

  Int d_;
  IntPoly a_;
  std::uint64_t bits_ = 0;  // of the longest A_i
  std::int64_t shift_ = 0;
  std::uint64_t r_ = 0;  // g_ + shift_, 0 before the first rounding
  std::int64_t g_ = 0;
  std::vector<Mpz> q_down_, q_up_;
};

// Whether the enclosure enclosure_at gives for a number at [lo, hi] passes a test: `decide` reads
// it off bounds of the ends when they settle it, `exact` off the ends themselves otherwise.
template <class Decide, class Exact>
bool enclosure_passes(FixedEnds* fixed, const FracPoly& value, const Fraction& lo, const Fraction& hi,
                      const Decide& decide, const Exact& exact) {
  if (fixed) {
    if (auto b = fixed->rough(lo, hi))
      if (std::optional<bool> r = decide(*b)) return *r;
    if (auto b = fixed->at(lo, hi))
      if (std::optional<bool> r = decide(*b)) return *r;
  }
  auto [a, b] = enclosure_at(value, lo, hi);
  return exact(a, b);
}

// Bounds of the ends (a, b) of enclosure_at(value, lo, hi) for a value A0 + A1·x over D with long
// parts: A0 and A1 are cut to the bits that alpha's interval leaves significant, so that a test
// costs products as long as the interval's ends however long A and D are. With A_i = A_i'·2^t + r_i,
// 0 <= r_i < 2^t, each end times D·Q is 2^t·(A0'·Q + A1'·X) + r_0·Q + r_1·X, X the end of alpha's
// interval times Q.
class CutEnds {
 public:
  // `short_ends`: the bounds are cut to short parts, for floats, which read only their leading bits.
  // Otherwise, for signs, they are the bounds times one positive factor, so that their signs and
  // their ratios (a sign's search reads the enclosure's width off them) hold.
  CutEnds(const FracPoly& value, bool short_ends) : a_(clear_denominators(value, d_)), short_(short_ends) {}

  // The value's A and D.
  const IntPoly& a() const { return a_; }
  const Int& d() const { return d_; }

  // Level 0 keeps 2^68 below the enclosure's width; each level doubles the bits kept. Nothing when
  // the cut would keep about all of them: the exact ends cost no more.
  std::optional<FixedEnds::Bounds> at(const Fraction& lo, const Fraction& hi, unsigned level) {
    if (compare_points(lo, hi) >= 0) return std::nullopt;
    const auto lo_two = lo.den().exponent_of_two(), hi_two = hi.den().exponent_of_two();
    std::optional<std::uint64_t> q_two;
    Int q;
    Mpz lq(lo.num()), hq(hi.num());
    if (lo_two && hi_two) {
      // Powers of two: the greater is the least common multiple, the other scaled by a shift.
      q_two = std::max(*lo_two, *hi_two);
      q = Int(1).shl(*q_two);
      mpz_mul_2exp(lq.get(), lq.get(), *q_two - *lo_two);
      mpz_mul_2exp(hq.get(), hq.get(), *q_two - *hi_two);
    } else {
      if (lo.den().bit_length() > 256 || hi.den().bit_length() > 256) return std::nullopt;
      q = Int::lcm(lo.den(), hi.den());
      q_two = q.exponent_of_two();
      if (!(lo.den() == q)) multiply_into(lq.get(), lq.get(), (q / lo.den()).view().get());
      if (!(hi.den() == q)) multiply_into(hq.get(), hq.get(), (q / hi.den()).view().get());
    }
    const Int& a0 = a_.coeffs[0];
    const Int& a1 = a_.coeffs[1];
    // The width of the enclosure is |A1|·(H − L) over D·Q.
    Mpz w;
    mpz_sub(w.get(), hq.get(), lq.get());
    const auto top = static_cast<std::int64_t>(std::max(mpz_sizeinbase(lq.get(), 2), mpz_sizeinbase(hq.get(), 2)));
    const auto q_bits = static_cast<std::int64_t>(q.bit_length());
    const auto a1_bits = static_cast<std::int64_t>(a1.bit_length());
    const std::int64_t first = a1_bits + static_cast<std::int64_t>(mpz_sizeinbase(w.get(), 2)) - std::max(top, q_bits) - 68;
    if (level > 40) return std::nullopt;
    const std::int64_t kept = std::max<std::int64_t>(64, a1_bits - first) << level;
    const std::int64_t t = a1_bits - kept;
    if (t < 4096) return std::nullopt;
    // A cut keeping up to twice the bits asked for (and a few words) serves; a new one keeps an
    // eighth more, so that the long parts are cut again only as the interval narrows much further.
    constexpr std::int64_t kSpare = std::int64_t{1} << 16;
    if (t_ < 0 || t_ > t || a1_bits - t_ > 2 * kept + 2 * kSpare) {
      t_ = std::max<std::int64_t>(4096, a1_bits - kept - std::max(kept / 8, kSpare));
      mpz_fdiv_q_2exp(a0_.get(), a0.view().get(), static_cast<std::uint64_t>(t_));
      mpz_fdiv_q_2exp(a1_.get(), a1.view().get(), static_cast<std::uint64_t>(t_));
      last_.reset();
    }
    // X for a takes lo when A1 > 0 (the lower bound for a positive coefficient), hi otherwise.
    const bool positive = a1.sign() > 0;
    const Mpz& xa = positive ? lq : hq;
    const Mpz& xb = positive ? hq : lq;
    Mpz base, sa, sb, diff;
    if (q_two) mpz_mul_2exp(base.get(), a0_.get(), *q_two);
    else multiply_into(base.get(), a0_.get(), q.view().get());
    product(xa, q_two, sa);
    mpz_add(sa.get(), sa.get(), base.get());
    // sb − sa = A1'·(xb − xa)
    mpz_sub(diff.get(), xb.get(), xa.get());
    multiply_into(sb.get(), a1_.get(), diff.get());
    mpz_add(sb.get(), sb.get(), sa.get());
    // r_0·Q lies in [0, Q) and r_1·X between 0 and X, in units of 2^t.
    Mpz ends[4];
    auto spread = [&](const Mpz& sum, const Mpz& x, Mpz& down, Mpz& up) {
      mpz_set(down.get(), sum.get());
      if (mpz_sgn(x.get()) < 0) mpz_add(down.get(), down.get(), x.get());
      mpz_add(up.get(), sum.get(), q.view().get());
      if (mpz_sgn(x.get()) > 0) mpz_add(up.get(), up.get(), x.get());
    };
    spread(sa, xa, ends[0], ends[1]);
    spread(sb, xb, ends[2], ends[3]);
    if (!short_) {
      // The numerators alone: the bounds times D·Q/2^t.
      Fraction out[4];
      for (int i = 0; i < 4; ++i) out[i] = Fraction(ends[i].to_int());
      return FixedEnds::Bounds{std::move(out[0]), std::move(out[1]), std::move(out[2]), std::move(out[3])};
    }
    // Each end M·2^t/(D·Q) rounded outward.
    const auto d_bits = static_cast<std::int64_t>(d_.bit_length());
    const std::int64_t u = std::max<std::int64_t>(0, d_bits - 192);
    Mpz d_lo, d_hi;
    mpz_fdiv_q_2exp(d_lo.get(), d_.view().get(), static_cast<std::uint64_t>(u));
    mpz_cdiv_q_2exp(d_hi.get(), d_.view().get(), static_cast<std::uint64_t>(u));
    if (!q_two) {
      multiply_into(d_lo.get(), d_lo.get(), q.view().get());
      multiply_into(d_hi.get(), d_hi.get(), q.view().get());
    }
    const std::int64_t q_shift = q_two ? static_cast<std::int64_t>(*q_two) : 0;
    Fraction out[4];
    for (int i = 0; i < 4; ++i) {
      const bool up = i & 1;
      const auto m_bits = static_cast<std::int64_t>(mpz_sizeinbase(ends[i].get(), 2));
      const std::int64_t v = std::max<std::int64_t>(0, m_bits - 192);
      Mpz m;
      if (up) mpz_cdiv_q_2exp(m.get(), ends[i].get(), static_cast<std::uint64_t>(v));
      else mpz_fdiv_q_2exp(m.get(), ends[i].get(), static_cast<std::uint64_t>(v));
      // A lower bound divides a non-negative M by the greater D, a negative one by the lesser.
      const Mpz& den = (mpz_sgn(m.get()) >= 0) == !up ? d_hi : d_lo;
      const std::int64_t e = v + t_ - u - q_shift;
      if (e > (std::int64_t{1} << 26) || e < -(std::int64_t{1} << 26)) return std::nullopt;
      Mpz nn(m), dd(den);
      if (e > 0) mpz_mul_2exp(nn.get(), nn.get(), static_cast<std::uint64_t>(e));
      if (e < 0) mpz_mul_2exp(dd.get(), dd.get(), static_cast<std::uint64_t>(-e));
      out[i] = Fraction::make_unreduced(nn.to_int(), dd.to_int());
    }
    return FixedEnds::Bounds{std::move(out[0]), std::move(out[1]), std::move(out[2]), std::move(out[3])};
  }

  // The first level's bounds that `decide` reads an answer off, each level cut finer.
  template <class Decide>
  std::optional<std::pair<bool, FixedEnds::Bounds>> decided(const Fraction& lo, const Fraction& hi, const Decide& decide) {
    for (unsigned level = 0;; ++level) {
      auto b = at(lo, hi, level);
      if (!b) return std::nullopt;
      if (std::optional<bool> r = decide(*b)) return std::pair{*r, std::move(*b)};
    }
  }

 private:
  Int d_;
  IntPoly a_;
  // A1'·x into p, from the last product when x is near the last x at a scale 2^j apart: for a
  // finer x = x0·2^j + δ it is p0·2^j + A1'·δ, for a coarser one x0 = x·2^j + δ gives (p0 − A1'·δ)/2^j.
  void product(const Mpz& x, std::optional<std::uint64_t> q_two, Mpz& p) {
    if (last_ && q_two) {
      const auto j = static_cast<std::int64_t>(*q_two) - static_cast<std::int64_t>(last_->q_two);
      Mpz delta;
      if (j >= 0) {
        mpz_mul_2exp(delta.get(), last_->x.get(), static_cast<std::uint64_t>(j));
        mpz_sub(delta.get(), x.get(), delta.get());
      } else {
        mpz_mul_2exp(delta.get(), x.get(), static_cast<std::uint64_t>(-j));
        mpz_sub(delta.get(), last_->x.get(), delta.get());
      }
      if (2 * mpz_sizeinbase(delta.get(), 2) <= mpz_sizeinbase(x.get(), 2)) {
        multiply_into(delta.get(), delta.get(), a1_.get());
        if (j >= 0) {
          mpz_mul_2exp(p.get(), last_->p.get(), static_cast<std::uint64_t>(j));
          mpz_add(p.get(), p.get(), delta.get());
        } else {
          mpz_sub(p.get(), last_->p.get(), delta.get());
          mpz_tdiv_q_2exp(p.get(), p.get(), static_cast<std::uint64_t>(-j));
        }
        last_->x = x;
        last_->p = p;
        last_->q_two = *q_two;
        return;
      }
    }
    multiply_into(p.get(), a1_.get(), x.get());
    if (q_two) last_ = Last{x, p, *q_two};
  }

  bool short_;
  std::int64_t t_ = -1;
  Mpz a0_, a1_;
  struct Last {
    Mpz x, p;
    std::uint64_t q_two;
  };
  std::optional<Last> last_;
};

// Long parts past which a value of one term in alpha is cut for signs and floats.
constexpr std::uint64_t kCutBits = std::uint64_t{1} << 16;

std::optional<CutEnds> cut_ends_for(const FracPoly& value, bool short_ends) {
  if (value.degree() != 1) return std::nullopt;
  std::uint64_t bits = 0;
  for (const auto& c : value.coeffs) bits = std::max({bits, c.num().bit_length(), c.den().bit_length()});
  if (bits <= kCutBits) return std::nullopt;
  return CutEnds(value, short_ends);
}

// enclosure_passes, with the cut bounds tried first.
template <class Decide, class Exact>
bool enclosure_passes(FixedEnds* fixed, CutEnds* cut, const FracPoly& value, const Fraction& lo, const Fraction& hi,
                      const Decide& decide, const Exact& exact) {
  if (cut)
    if (auto r = cut->decided(lo, hi, decide)) return r->first;
  return enclosure_passes(fixed, value, lo, hi, decide, exact);
}

constexpr std::uint64_t kFixedEndsBits = std::uint64_t{1} << 18;

// Fixed-point bounds pay for numbers of fields of some degree, where the exact ends take long
// powers of the interval's ends; not for very long coefficients, which they divide at each
// precision, nor for values of few terms, whose exact ends take only their own powers.
std::optional<FixedEnds> fixed_ends_for(const FracPoly& value) {
  std::uint64_t bits = 0;
  std::size_t terms = 0;
  for (const auto& c : value.coeffs) {
    bits = std::max({bits, c.num().bit_length(), c.den().bit_length()});
    terms += c.is_zero() ? 0 : 1;
  }
  if (value.degree() < 4 || bits > kFixedEndsBits || terms * 4 <= value.coeffs.size()) return std::nullopt;
  return FixedEnds(value);
}

// Whether a value has coefficients past the fixed-point bounds' usual length.
bool long_coefficients(const FracPoly& value) {
  std::uint64_t bits = 0;
  for (const auto& c : value.coeffs) bits = std::max({bits, c.num().bit_length(), c.den().bit_length()});
  return bits > kFixedEndsBits;
}

// For a float or a sign also values of long coefficients, which the bounds cut to the bits that
// the enclosure's width leaves significant, whatever the degree.
std::optional<FixedEnds> fixed_ends_for_long(const FracPoly& value) {
  if (auto f = fixed_ends_for(value)) return f;
  if (value.degree() < 1 || !long_coefficients(value)) return std::nullopt;
  return FixedEnds(value);
}

// What `decide` reads off the fixed-point bounds at alpha's interval [lo, hi], with the bounds:
// the exact ends there, which they enclose, are settled or not alike. Nothing when it is open.
template <class Decide>
std::optional<std::pair<bool, FixedEnds::Bounds>> decided_by(FixedEnds& fixed, const Fraction& lo, const Fraction& hi,
                                                             const Decide& decide) {
  if (auto b = fixed.rough(lo, hi))
    if (std::optional<bool> r = decide(*b)) return std::pair{*r, std::move(*b)};
  if (auto b = fixed.at(lo, hi))
    if (std::optional<bool> r = decide(*b)) return std::pair{*r, std::move(*b)};
  return std::nullopt;
}

// What the cut bounds (values linear in alpha), or else for long coefficients the fixed-point
// bounds (made on first need), read off at alpha's present interval before any exact end is formed.
template <class Decide>
std::optional<std::pair<bool, FixedEnds::Bounds>> decided_early(std::optional<CutEnds>& cut,
                                                                 std::optional<FixedEnds>& fixed,
                                                                 const FracPoly& value, const NumberField& field,
                                                                 const Decide& decide) {
  if (cut) {
    auto [lo, hi] = field_interval_read(field);
    return cut->decided(lo, hi, decide);
  }
  if (!long_coefficients(value)) return std::nullopt;
  if (!fixed) fixed = fixed_ends_for_long(value);
  if (!fixed) return std::nullopt;
  auto [lo, hi] = field_interval_read(field);
  return decided_by(*fixed, lo, hi, decide);
}

}  // namespace

Result<std::pair<Fraction, Fraction>> AlgebraicNumber::interval() const { return enclosure(true); }

std::pair<Fraction, Fraction> AlgebraicNumber::enclosure(bool reduced) const {
  if (value_.degree() <= 0) {
    Fraction c = value_.is_zero() ? Fraction() : value_[0];
    return std::pair{c, c};
  }
  NumberField::StateRef s = field_->bounded_state(value_.coeffs.size() - 1);
  return bounds_sum(value_, s->lower, s->upper, reduced);
}

AlgebraicNumber::Loose AlgebraicNumber::loose_enclosure() const {
  Loose l;
  l.state = field_->bounded_state(value_.coeffs.size() - 1);
  l.a = clear_denominators(value_, l.d);
  const NumberField::State& s = *l.state;
  // Each end of the fixed-point sum is rounded outward from the end bounds_sum gives, as its terms
  // are: whatever the looser pair decides holds for the exact one.
  Mpz sum[2];
  for (std::size_t i = 0; i < l.a.coeffs.size(); ++i) {
    const Int& c = l.a.coeffs[i];
    if (c.is_zero()) continue;
    const auto cv = c.view();
    const bool positive = c.sign() > 0;
    mpz_addmul(sum[0].get(), cv.get(), (positive ? s.lower_fixed[i] : s.upper_fixed[i]).view().get());
    mpz_addmul(sum[1].get(), cv.get(), (positive ? s.upper_fixed[i] : s.lower_fixed[i]).view().get());
  }
  const Int den = l.d.shl(s.fixed_bits);
  l.lo = Fraction::make_unreduced(sum[0].to_int(), den);
  l.hi = Fraction::make_unreduced(sum[1].to_int(), den);
  return l;
}

template <class Done>
std::pair<Fraction, Fraction> AlgebraicNumber::filtered_enclosure(const Done& done) const {
  if (field_->degree() < kFixedFilterDegree) return enclosure(false);
  Loose l = loose_enclosure();
  if (done(l.lo, l.hi)) return {std::move(l.lo), std::move(l.hi)};
  return bounds_sum(l.a, l.d, l.state->lower, l.state->upper, false);
}

Result<int> AlgebraicNumber::sign_of_difference(const AlgebraicNumber& b) const {
  FieldRef f = GY_TRY(same_field(*this, b));
  if (value_ == b.value_) return 0;
  if (f->degree() >= kFixedFilterDegree && !is_rational() && !b.is_rational()) {
    // The exact enclosure of a − b lies within [lo_a − hi_b, hi_a − lo_b]: apart, they decide.
    const Loose la = loose_enclosure(), lb = b.loose_enclosure();
    if (la.hi < lb.lo) return -1;
    if (lb.hi < la.lo) return 1;
  }
  return AlgebraicNumber(FracPoly::sub(value_, b.value_), std::move(f)).sign();
}

namespace {

// Refinement steps that narrow the enclosure of x = A(alpha)/D below 2^-`bits`, with a wide margin:
// each step about halves alpha's interval, and the enclosure is at most K times as wide as it,
// K = Σ |A_i|/D·i·M^(i−1) with M the larger end.
std::uint64_t refine_limit(const IntPoly& a, const NumberField& f, std::uint64_t bits) {
  auto [lo, hi] = field_interval_read(f);
  const auto bits_of = [](const Fraction& x) -> std::uint64_t {
    return x.is_zero() ? 0 : static_cast<std::uint64_t>(std::max<std::int64_t>(0, floor_log2(x.abs()) + 1));
  };
  // The width's bits, by shifts for dyadic ends.
  std::uint64_t width_bits;
  if (auto dyadic = dyadic_width(lo, hi)) {
    auto& [h, top] = *dyadic;
    const auto w = static_cast<std::int64_t>(mpz_sgn(h.get()) == 0 ? 0 : mpz_sizeinbase(h.get(), 2));
    width_bits = mpz_sgn(h.get()) == 0 ? 0 : static_cast<std::uint64_t>(std::max<std::int64_t>(0, w - static_cast<std::int64_t>(top)));
  } else {
    width_bits = bits_of(hi - lo);
  }
  const std::uint64_t k = a.coeffs.size() - 1;
  const std::uint64_t growth = norm_bits(a) + log2_ceil(k + 1) + k * std::max(bits_of(lo), bits_of(hi)) + 2;
  return 2 * (width_bits + growth + bits) + 256;
}

std::uint64_t refine_limit(const FracPoly& value, const NumberField& f, std::uint64_t bits) {
  Int d;
  return refine_limit(clear_denominators(value, d), f, bits);
}

// log2(1/|x|) at most, for x = A(alpha)/D ≠ 0 of a field of degree d with integral m: the norm of
// A(alpha) is a non-zero rational with denominator at most lc(m)^deg A, and each conjugate is at
// most ‖A‖₁·max(1, |alpha_j|)^deg A, whose product is bounded by ‖m‖^deg A (Liouville). `shift`
// widens A by that many bits, as x − r does for a rational r over 2^shift.
std::uint64_t liouville_bits(const IntPoly& a, const Int& d, const NumberField& f, std::uint64_t shift) {
  const std::uint64_t d_bits = d.bit_length() + shift;
  const std::uint64_t a_bits = std::max(norm_bits(a) + shift, d_bits) + 1;
  return d_bits + (f.degree() - 1) * a_bits + static_cast<std::uint64_t>(a.degree()) * norm_bits(f.integer_polynomial()) + 1;
}

// Refinement steps for a sign (shift 0) or a float (shift 2100) of the value, whose A and D a cut
// holds when there is one.
std::uint64_t refine_limit_of(const FracPoly& value, const CutEnds* cut, const NumberField& f, std::uint64_t shift) {
  if (cut) return refine_limit(cut->a(), f, liouville_bits(cut->a(), cut->d(), f, shift));
  Int d;
  const IntPoly a = clear_denominators(value, d);
  return refine_limit(a, f, liouville_bits(a, d, f, shift));
}

}  // namespace

Result<int> AlgebraicNumber::sign() const {
  if (value_.is_zero()) return 0;
  if (value_.degree() == 0) return value_[0].sign();
  BlockReuse reuse;
  auto settled = [](const Fraction& l, const Fraction& u) { return l.sign() == u.sign(); };
  // a <= b: bounds apart from zero on one side settle it, bounds on both sides of it do not.
  auto decide = [](const FixedEnds::Bounds& b) -> std::optional<bool> {
    if (b.a_lo.sign() > 0 || b.b_hi.sign() < 0) return true;
    if (b.a_hi.sign() < 0 && b.b_lo.sign() > 0) return false;
    return std::nullopt;
  };
  // At the latest settled test, floor(log2) of the nearer end's distance from zero and of the width.
  std::optional<std::pair<std::int64_t, std::int64_t>> seen;
  auto note = [&](const Fraction& near, const Fraction& lo, const Fraction& hi) {
    if (near.is_zero()) return;
    Fraction w = lo.den() == hi.den() ? Fraction::make_unreduced(hi.num() - lo.num(), lo.den()) : hi - lo;
    if (w.sign() > 0) seen = {floor_log2(near.abs()), floor_log2(w)};
  };
  auto decide_noted = [&](const FixedEnds::Bounds& b) -> std::optional<bool> {
    std::optional<bool> r = decide(b);
    if (r && *r) note(b.a_lo.sign() > 0 ? b.a_lo : b.b_hi, b.a_lo, b.b_hi);
    return r;
  };
  auto settled_noted = [&](const Fraction& l, const Fraction& u) {
    if (!settled(l, u)) return false;
    note(l.sign() > 0 ? l : u, l, u);
    return true;
  };
  // Each step about halves the enclosure's width once it is narrow: the first settled count is
  // near the one where the width at the latest settled test, doubled per step back, reaches the
  // distance of the nearer end from zero.
  auto guess = [&](std::uint64_t, std::uint64_t above) -> std::uint64_t {
    if (!seen) return above;
    const std::int64_t back = seen->first - seen->second - 1;
    return back <= 0 ? above : above - std::min<std::uint64_t>(above, static_cast<std::uint64_t>(back));
  };
  std::optional<FixedEnds> fixed;
  std::optional<CutEnds> cut = cut_ends_for(value_, false);
  auto limit = [&](std::uint64_t shift) { return refine_limit_of(value_, cut ? &*cut : nullptr, *field_, shift); };
  // With a lower bound L on log2 |value|, from a grid cell of 2^-k: after s steps the enclosure is
  // |A1|·2^-(k+s)/D wide, and once narrower than |value| it leaves zero. That count is tested
  // first; the search still finds the first settled one, so the interval reached is the same.
  std::uint64_t first = 1;
  if (cut && !std::isnan(log2_at_least_)) {
    auto [lo, hi] = field_interval_read(*field_);
    if (auto k = grid_step(lo, hi)) {
      const double steps = static_cast<double>(cut->a().coeffs[1].bit_length()) -
                           static_cast<double>(cut->d().bit_length() - 1) - static_cast<double>(*k) - log2_at_least_ + 2;
      if (steps > 1 && steps < 0x1p62) first = static_cast<std::uint64_t>(std::ceil(steps));
    }
  }
  for (;;) {
    // The cut bounds decide most states without the long exact ends.
    std::optional<bool> now;
    if (auto r = decided_early(cut, fixed, value_, *field_, decide)) {
      now = r->first;
      if (*now) return r->second.a_lo.sign() > 0 ? 1 : -1;
    }
    if (!now) {
      auto [l, u] = filtered_enclosure(settled);
      if (l.sign() == u.sign()) return l.sign();
    }
    if (!fixed) fixed = fixed_ends_for_long(value_);
    seen.reset();
    GY_CHECK(field_->refine_until(
        [&](const Fraction& lo, const Fraction& hi) -> Result<bool> {
          return enclosure_passes(fixed ? &*fixed : nullptr, cut ? &*cut : nullptr, value_, lo, hi, decide_noted,
                                  settled_noted);
        },
        limit(0), guess, std::exchange(first, 1)));
  }
}

namespace {

// Both ends rounding to one double, the sign of zero included, puts the number there too, since
// rounding is monotone; an irrational number is never a rounding boundary, so the narrowing ends.
bool same_double(const Fraction& a, const Fraction& b) {
  double x = a.to_f64(), y = b.to_f64();
  return x == y && std::signbit(x) == std::signbit(y);
}

}  // namespace

Result<double> AlgebraicNumber::to_f64() const {
  if (value_.degree() <= 0) return value_.is_zero() ? 0.0 : value_[0].to_f64();
  BlockReuse reuse;
  // Rounding is monotone and a <= b: bounds that round alike settle it, bounds apart that round
  // apart do not.
  auto decide = [](const FixedEnds::Bounds& b) -> std::optional<bool> {
    if (same_double(b.a_lo, b.b_hi)) return true;
    if (b.a_hi < b.b_lo && !same_double(b.a_hi, b.b_lo)) return false;
    return std::nullopt;
  };
  std::optional<FixedEnds> fixed;
  std::optional<CutEnds> cut = cut_ends_for(value_, true);
  // The nearest rounding boundary is a multiple of 2^-1075 below 2^1025.
  auto limit = [&](std::uint64_t shift) { return refine_limit_of(value_, cut ? &*cut : nullptr, *field_, shift); };
  for (;;) {
    std::optional<bool> now;
    if (auto r = decided_early(cut, fixed, value_, *field_, decide)) {
      now = r->first;
      if (*now) return r->second.a_lo.to_f64();
    }
    if (!now) {
      auto [l, u] = filtered_enclosure(same_double);
      if (same_double(l, u)) return l.to_f64();
    }
    if (!fixed) fixed = fixed_ends_for_long(value_);
    GY_CHECK(field_->refine_until(
        [&](const Fraction& lo, const Fraction& hi) -> Result<bool> {
          return enclosure_passes(fixed ? &*fixed : nullptr, cut ? &*cut : nullptr, value_, lo, hi, decide,
                                  same_double);
        },
        limit(2100)));
  }
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

// ---------------------------------------------------------------------------------------------
// Roots

namespace {

// The monic minimal polynomial of v over the rationals: the first linear dependency among v^0, v^1,
// …, found by eliminating each power's coefficient vector against the earlier ones while keeping
// each reduced vector as a combination of powers.
Result<FracPoly> minimal_polynomial_of(const AlgebraicNumber& v) {
  if (v.value() == FracPoly::x()) return v.field()->minimal_polynomial().monic();
  const std::size_t d = v.field()->degree();
  struct Reduced {
    std::vector<Fraction> vec, combination;
    std::size_t pivot;
  };
  std::vector<Reduced> done;
  AlgebraicNumber power = AlgebraicNumber::one(v.field());
  for (std::size_t j = 0; j <= d; ++j) {
    poll_interrupt();
    std::vector<Fraction> w(d);
    const auto& pc = power.value().coeffs;
    for (std::size_t i = 0; i < pc.size(); ++i) w[i] = pc[i];
    std::vector<Fraction> comb(j + 1);
    comb[j] = one_fraction();
    for (const auto& r : done) {
      if (w[r.pivot].is_zero()) continue;
      Fraction f = GY_TRY(w[r.pivot].div(r.vec[r.pivot]));
      for (std::size_t i = r.pivot; i < d; ++i)
        if (!r.vec[i].is_zero()) w[i] -= f * r.vec[i];
      for (std::size_t i = 0; i < r.combination.size(); ++i)
        if (!r.combination[i].is_zero()) comb[i] -= f * r.combination[i];
    }
    std::size_t pivot = 0;
    while (pivot < d && w[pivot].is_zero()) ++pivot;
    if (pivot == d) return FracPoly(std::move(comb));
    done.push_back({std::move(w), std::move(comb), pivot});
    if (j < d) power = GY_TRY(power.mul(v));
  }
  return fail(Error::other("no minimal polynomial within the field degree (this shouldn't happen)"));
}

// A number of a field as a / e: a with integer coefficients, e > 0. Products of such numbers need no
// gcd per coefficient, only one for the common content.
struct Scaled {
  AlgebraicNumber a;
  Int e;
};

// gcd(e, a_0, a_1, …): one gcd of e with a combination of the a_k, then one more for each a_k it
// does not divide (rarely any).
Int common_content(const std::vector<Int>& a, const Int& e) {
  if (e.is_one()) return e;
  Int g = combined_gcd(a, e);
  for (const auto& x : a) {
    if (g.is_one()) break;
    if (!x.is_zero() && !mpz_divisible_p(x.view().get(), g.view().get())) g = Int::gcd(g, x);
  }
  return g;
}

// Coefficients with this many bits in all are tested and divided on the pool: the divisions cost
// milliseconds, far more than waking it.
constexpr std::uint64_t kPoolContentBits = std::uint64_t{1} << 20;

// The content shared by e and every a_k divided out of them, as common_content finds it; long
// coefficients are tested and divided on the pool.
Status divide_content(std::vector<Int>& a, Int& e) {
  if (e.is_one()) return {};
  std::uint64_t bits = 0;
  for (const auto& x : a) bits += x.bit_length();
  Int g;
  if (reduce_in_parallel(a.size(), bits) || (bits >= kPoolContentBits && pool::thread_count() > 1)) {
    g = combined_gcd(a, e);
    if (g.is_one()) return {};
    std::atomic<bool> all{true};
    for_each_parallel(a.size(), 4, [&](std::size_t i) {
      if (!a[i].is_zero() && !mpz_divisible_p(a[i].view().get(), g.view().get())) all.store(false, std::memory_order_relaxed);
    });
    if (all.load()) {
      std::atomic<bool> failed{false};
      for_each_parallel(a.size(), 4, [&](std::size_t i) {
        if (a[i].is_zero()) return;
        auto q = Int::div_exact(a[i], g);
        if (q) a[i] = std::move(*q);
        else failed.store(true, std::memory_order_relaxed);
      });
      if (failed.load()) return fail(Error::other("inexact content division (this shouldn't happen)"));
      e = GY_TRY(Int::div_exact(e, g));
      return {};
    }
  }
  g = common_content(a, e);
  if (g.is_one()) return {};
  for (auto& v : a)
    if (!v.is_zero()) v = GY_TRY(Int::div_exact(v, g));
  e = GY_TRY(Int::div_exact(e, g));
  return {};
}

// a / e in lowest terms as a whole: a's value over a common denominator, the content shared with e
// divided out.
Result<Scaled> scaled_over(const AlgebraicNumber& v, Int e) {
  Int den;
  IntPoly a = clear_denominators(v.value(), den);
  if (!den.is_one()) e *= den;
  const Int g = common_content(a.coeffs, e);
  if (!g.is_one()) {
    for (auto& c : a.coeffs)
      if (!c.is_zero()) c = GY_TRY(Int::div_exact(c, g));
    e = GY_TRY(Int::div_exact(e, g));
  }
  return Scaled{GY_TRY(AlgebraicNumber::make(v.field(), to_fractions(a))), std::move(e)};
}

// Products in the field whose operands have at least this many bits in all are split over the pool.
constexpr std::uint64_t kPoolProductBits = std::uint64_t{1} << 20;

std::uint64_t total_bits(const IntPoly& p) {
  std::uint64_t n = 0;
  for (const auto& c : p.coeffs) n += c.bit_length();
  return n;
}

// a·b, or a² when `b` is null: for long operands of many terms, Karatsuba's three half products on
// the pool (a = a0 + x^h·a1: a0·b0, a1·b1 and (a0 + a1)·(b0 + b1)).
IntPoly product_on_pool(const IntPoly& a, const IntPoly* b) {
  const IntPoly& y = b ? *b : a;
  const std::size_t n = std::min(a.coeffs.size(), y.coeffs.size());
  // The halves cost half as much again as the whole: worth it only with threads to share them.
  if (n < 32 || pool::thread_count() < 2 || total_bits(a) + total_bits(y) < kPoolProductBits) return IntPoly::mul(a, y);
  const std::size_t h = n / 2;
  auto half = [h](const IntPoly& p, bool high) {
    const auto mid = p.coeffs.begin() + static_cast<std::ptrdiff_t>(h);
    return high ? IntPoly(std::vector<Int>(mid, p.coeffs.end())) : IntPoly(std::vector<Int>(p.coeffs.begin(), mid));
  };
  const IntPoly a0 = half(a, false), a1 = half(a, true);
  const IntPoly sa = IntPoly::add(a0, a1);
  IntPoly y0, y1, sy;
  if (b) {
    y0 = half(y, false);
    y1 = half(y, true);
    sy = IntPoly::add(y0, y1);
  }
  // A square stays a square in each part.
  const std::array<std::pair<const IntPoly*, const IntPoly*>, 3> ops{
      {{&a0, b ? &y0 : &a0}, {&a1, b ? &y1 : &a1}, {&sa, b ? &sy : &sa}}};
  std::array<IntPoly, 3> part;
  for_each_parallel(3, 1, [&](std::size_t i) {
    const auto [p, q] = ops[i];
    if (!p->is_zero() && !q->is_zero()) part[i] = IntPoly::mul(*p, *q);
  });
  std::vector<Int> c(a.coeffs.size() + y.coeffs.size() - 1);
  auto add_at = [&](const IntPoly& v, std::size_t shift, bool negate) {
    for (std::size_t k = 0; k < v.coeffs.size(); ++k)
      if (!v.coeffs[k].is_zero()) {
        if (negate) c[shift + k] -= v.coeffs[k];
        else c[shift + k] += v.coeffs[k];
      }
  };
  add_at(part[0], 0, false);
  add_at(part[1], 2 * h, false);
  add_at(part[2], h, false);
  add_at(part[0], h, true);
  add_at(part[1], h, true);
  return IntPoly(std::move(c));
}

// c mod m for a monic m of degree d, as remainder_monic gives it: the top terms are taken in blocks,
// each block's terms eliminated in turn within the block and then from every lower coefficient at
// once, the lower coefficients on the pool.
std::vector<Int> remainder_on_pool(const IntPoly& c, const IntPoly& m) {
  const std::size_t d = static_cast<std::size_t>(m.degree());
  if (c.coeffs.size() <= d + 32 || total_bits(c) < kPoolProductBits) return remainder_monic(c, m);
  std::vector<Mpz> r(c.coeffs.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = Mpz(c.coeffs[i]);
  std::vector<Mpz> mz(d);
  for (std::size_t j = 0; j < d; ++j) mz[j] = Mpz(m.coeffs[j]);
  constexpr std::size_t kBlock = 16;
  for (std::size_t hi = r.size(); hi > d;) {
    poll_interrupt();
    const std::size_t lo = std::max(d, hi > kBlock ? hi - kBlock : 0);
    // Within the block: term k reaches r[k − d + j] for j < d, of which those at lo or above here.
    for (std::size_t k = hi; k-- > lo;) {
      if (mpz_sgn(r[k].get()) == 0) continue;
      for (std::size_t t = std::max(lo, k - d); t < k; ++t) {
        const std::size_t j = t + d - k;
        if (mpz_sgn(mz[j].get()) != 0) mpz_submul(r[t].get(), r[k].get(), mz[j].get());
      }
    }
    // Below the block: each coefficient t takes the terms k of the block with 0 <= t − k + d < d.
    const std::size_t first = lo > d ? lo - d : 0;
    for_each_parallel(lo - first, 4, [&](std::size_t i) {
      const std::size_t t = first + i;
      for (std::size_t k = lo; k < hi; ++k) {
        if (t + d < k || t + d - k >= d) continue;
        const std::size_t j = t + d - k;
        if (mpz_sgn(r[k].get()) != 0 && mpz_sgn(mz[j].get()) != 0) mpz_submul(r[t].get(), r[k].get(), mz[j].get());
      }
    });
    hi = lo;
  }
  std::vector<Int> low(d);
  for (std::size_t j = 0; j < d; ++j) low[j] = r[j].take_int();
  return low;
}

// x·y; `lowest`: with the content shared by its value and its scale divided out.
Result<Scaled> scaled_mul(const Scaled& x, const Scaled& y, bool lowest = true) {
  const FieldRef& f = x.a.field();
  const IntPoly& m = f->integer_polynomial();
  if (m.lead().is_one() && !x.a.is_rational() && !y.a.is_rational()) {
    // Integral values stay integral modulo a monic m: no fractions until the content is taken.
    auto integral = [](const AlgebraicNumber& v) {
      std::vector<Int> c;
      c.reserve(v.value().coeffs.size());
      for (const auto& q : v.value().coeffs) c.push_back(q.num());
      return IntPoly(std::move(c));
    };
    // A square passes one polynomial twice, which the product squares.
    const IntPoly xa = integral(x.a);
    const IntPoly ya = &x == &y ? IntPoly() : integral(y.a);
    IntPoly c = product_on_pool(xa, &x == &y ? nullptr : &ya);
    if (c.coeffs.size() > f->degree() && small_modulus(m, c)) {
      std::vector<Int> r = remainder_on_pool(c, m);
      Int e = x.e * y.e;
      if (lowest) GY_CHECK(divide_content(r, e));
      return Scaled{GY_TRY(AlgebraicNumber::make(f, to_fractions(IntPoly(std::move(r))))), std::move(e)};
    }
  }
  return scaled_over(GY_TRY(x.a.mul(y.a)), x.e * y.e);
}

// s + c for a rational c.
Result<Scaled> scaled_add(const Scaled& s, const Fraction& c) {
  if (c.is_zero()) return s;
  std::vector<Fraction> v = s.a.value().coeffs;
  if (v.empty()) v.emplace_back();
  for (auto& x : v) x = x * Fraction(c.den());
  v[0] = v[0] + Fraction(c.num() * s.e);
  return scaled_over(GY_TRY(AlgebraicNumber::make(s.a.field(), FracPoly(std::move(v)))), s.e * c.den());
}

// Whether m(x) = 0, exactly: Horner's rule in x's field, or for a polynomial of few terms each
// power by squaring. Values are carried over one common denominator (see Scaled).
Result<bool> vanishes_at(const FracPoly& m, const AlgebraicNumber& x) {
  std::size_t terms = 0;
  for (const auto& c : m.coeffs) terms += c.is_zero() ? 0 : 1;
  const Scaled one{AlgebraicNumber::one(x.field()), Int(1)};
  const Scaled sx = GY_TRY(scaled_over(x, Int(1)));
  if (terms * 4 <= m.coeffs.size()) {
    // x^(2^j) as far as the degree asks, each power of m a product of them; the sum over the least
    // common multiple of the denominators.
    std::vector<Scaled> squares{sx};
    const std::size_t top = m.coeffs.size() - 1;
    while ((std::size_t{1} << squares.size()) <= top) {
      poll_interrupt();
      squares.push_back(GY_TRY(scaled_mul(squares.back(), squares.back())));
    }
    std::vector<std::pair<Scaled, Fraction>> parts;
    Int l(1);
    for (std::size_t k = 0; k <= top; ++k) {
      if (m.coeffs[k].is_zero()) continue;
      std::optional<Scaled> p;
      for (std::size_t j = 0; (k >> j) != 0; ++j) {
        if (((k >> j) & 1) == 0) continue;
        poll_interrupt();
        // The last product of a power only joins the sum, which does not need it in lowest terms.
        p = p ? GY_TRY(scaled_mul(*p, squares[j], (k >> (j + 1)) != 0)) : squares[j];
      }
      if (!p) p = one;
      l = Int::lcm(l, p->e * m.coeffs[k].den());
      parts.emplace_back(std::move(*p), m.coeffs[k]);
    }
    std::vector<Int> sum(x.field()->degree());
    for (const auto& [p, c] : parts) {
      const Int f = c.num() * (l / (p.e * c.den()));
      const auto& v = p.a.value().coeffs;
      for (std::size_t i = 0; i < v.size(); ++i)
        if (!v[i].is_zero()) sum[i] += v[i].num() * f;
    }
    return std::all_of(sum.begin(), sum.end(), [](const Int& c) { return c.is_zero(); });
  }
  Scaled acc{AlgebraicNumber::zero(x.field()), Int(1)};
  for (std::size_t k = m.coeffs.size(); k-- > 0;) {
    poll_interrupt();
    if (!acc.a.is_zero()) acc = GY_TRY(scaled_mul(acc, sx));
    acc = GY_TRY(scaled_add(acc, m.coeffs[k]));
  }
  return acc.a.is_zero();
}

// The monic minimal polynomial of v = V/D modulo the prime of F, for a prime that keeps the field's
// degree and does not divide D: the first dependency among the powers of v modulo m, as the
// coefficients below the leading 1.
std::optional<std::vector<std::uint64_t>> minimal_polynomial_mod(const Zp& F, const IntPoly& v, std::uint64_t d_inv,
                                                                 const IntPoly& m) {
  const std::size_t n = static_cast<std::size_t>(m.degree());
  WordPoly mq = to_word_poly(m, F);
  if (static_cast<std::size_t>(degree(mq)) != n) return std::nullopt;
  const WordPolyModulus mod(F, monic(F, std::move(mq)));
  WordPoly x = mod.rem(to_word_poly(v, F));
  for (auto& c : x) c = F.mul(c, d_inv);
  gy::trim(x);
  struct Reduced {
    std::vector<std::uint64_t> vec, combination;
    std::size_t pivot;
  };
  std::vector<Reduced> done;
  WordPoly power{1};
  for (std::size_t j = 0; j <= n; ++j) {
    std::vector<std::uint64_t> w(n, 0), comb(j + 1, 0);
    std::copy(power.begin(), power.end(), w.begin());
    comb[j] = 1;
    for (const auto& r : done) {
      if (w[r.pivot] == 0) continue;
      const std::uint64_t f = w[r.pivot];  // the reduced vectors have 1 at their pivot
      for (std::size_t i = r.pivot; i < n; ++i)
        if (r.vec[i]) w[i] = F.sub(w[i], F.mul(f, r.vec[i]));
      for (std::size_t i = 0; i < r.combination.size(); ++i)
        if (r.combination[i]) comb[i] = F.sub(comb[i], F.mul(f, r.combination[i]));
    }
    std::size_t pivot = 0;
    while (pivot < n && w[pivot] == 0) ++pivot;
    if (pivot == n) {
      comb.pop_back();
      return comb;
    }
    const std::uint64_t inv = F.inv(w[pivot]);
    for (auto& c : w) c = F.mul(c, inv);
    for (auto& c : comb) c = F.mul(c, inv);
    done.push_back({std::move(w), std::move(comb), pivot});
    if (j < n) power = mod.mulmod(power, x);
  }
  return std::nullopt;
}

// minimal_polynomial_of for numbers with large coefficients: the polynomial modulo word primes,
// joined and read back as fractions, is checked exactly (m(v) = 0) once two readings agree. The
// degree is the largest seen: at an unlucky prime the dependency can only come earlier.
Result<FracPoly> minimal_polynomial_modular(const AlgebraicNumber& v) {
  Int den;
  const IntPoly a = clear_denominators(v.value(), den);
  const IntPoly& m = v.field()->integer_polynomial();
  std::size_t next = 0, batch = 8, k = 0;
  Residues res;
  std::optional<FracPoly> last;
  for (std::size_t rounds = 0;; ++rounds) {
    if (rounds > 40) return minimal_polynomial_of(v);
    std::vector<std::uint64_t> primes(batch);
    for (auto& q : primes) q = word_prime(next++);
    std::vector<std::optional<std::vector<std::uint64_t>>> found(batch);
    // A few primes of a small field are cheaper than waking the pool.
    poll_interrupt();
    for_each_parallel(batch, m.degree() < 32 && batch <= 64 ? batch : 2, [&](std::size_t i) {
      const Zp F(primes[i]);
      const std::uint64_t dq = mod_word(den, primes[i]);
      if (dq == 0) return;
      found[i] = minimal_polynomial_mod(F, a, F.inv(dq), m);
    });
    std::vector<std::uint64_t> used;
    std::vector<WordPoly> values;
    for (std::size_t i = 0; i < batch; ++i) {
      if (!found[i]) continue;
      const std::size_t deg = found[i]->size();
      if (deg < k) continue;
      if (deg > k) {  // every earlier prime was unlucky
        k = deg;
        res = Residues();
        used.clear();
        values.clear();
        last.reset();
      }
      used.push_back(primes[i]);
      values.push_back(std::move(*found[i]));
    }
    if (res.x.empty()) res.x.resize(k);
    if (!used.empty()) crt_merge(res, crt_join(used, values, k));
    batch = next < 256 ? next : next / 2;
    auto candidate = reconstruct_rational(res);
    if (!candidate) continue;
    std::vector<Fraction> c(k + 1);
    const Int d = candidate->second.to_int();
    for (std::size_t i = 0; i < k; ++i)
      if (mpz_sgn(candidate->first[i].get()))
        c[i] = expect(Fraction::make(candidate->first[i].to_int(), d), "positive denominator");
    c[k] = one_fraction();
    FracPoly p(std::move(c));
    if (last && *last == p && GY_TRY(vanishes_at(p, v))) return p;
    last = std::move(p);
  }
}

// About the bits of the coefficients of v's minimal polynomial: v = A(alpha)/D has conjugates below
// 2^b with b = bits(A) + log2(terms) + deg A·r for alpha's conjugates below 2^r, and the
// coefficients are sums of products of up to d of them, over denominators from D and lc(m)^deg A.
std::uint64_t minimal_polynomial_bits(const AlgebraicNumber& v) {
  Int den;
  const IntPoly a = clear_denominators(v.value(), den);
  const IntPoly& m = v.field()->integer_polynomial();
  const auto n = static_cast<std::int64_t>(m.degree());
  const auto lead = static_cast<std::int64_t>(m.lead().bit_length());
  std::int64_t r = 0;
  for (std::int64_t i = 1; i <= n; ++i) {
    const Int& c = m.coeffs[static_cast<std::size_t>(n - i)];
    if (c.is_zero()) continue;
    const std::int64_t num = static_cast<std::int64_t>(c.bit_length()) - lead + 1;
    r = std::max(r, (num >= 0 ? (num + i - 1) / i : -(-num / i)) + 1);
  }
  const auto top = static_cast<std::uint64_t>(std::max<std::int64_t>(a.degree(), 0));
  const std::uint64_t b = max_bits(a) + log2_ceil(top + 1) + top * static_cast<std::uint64_t>(r);
  return static_cast<std::uint64_t>(n) * (b + den.bit_length() + top * static_cast<std::uint64_t>(lead));
}

// The ways to a minimal polynomial, the first that applies taken (see `minimal_polynomial`).
enum class MinimalWay { Generator, Written, Modular, Elimination };

MinimalWay minimal_polynomial_way(const AlgebraicNumber& v) {
  if (v.value() == FracPoly::x()) return MinimalWay::Generator;
  const std::size_t d = v.field()->degree();
  std::uint64_t bits = 0;
  for (const auto& c : v.value().coeffs) bits += c.num().bit_length() + c.den().bit_length();
  // Large coefficients in a large field go modulo primes whatever their result's size.
  const bool large = d >= 16 && bits >= 8192;
  // s + k·alpha^j with alpha^n = w is written down when every step stays far below the size limit
  // of Int, or when the other ways are modular.
  const FracPoly& m = v.field()->minimal_polynomial();
  const auto& c = v.value().coeffs;
  const auto top = static_cast<std::size_t>(std::max<std::int64_t>(v.value().degree(), 0));
  auto size = [](const Fraction& x) { return std::max(x.num().bit_length(), x.den().bit_length()); };
  if (top >= 1 && is_binomial(v.value()) && is_binomial(m) &&
      (c[0].is_zero() || large ||
       [&] {
         const std::size_t n = m.coeffs.size() - 1, g = std::gcd(top, n), N = n / g;
         const std::uint64_t w = size(m.coeffs[0]) + size(m.lead());
         return N * size(c[0]) <= Int::kMaxBits / 8 && N * size(c[top]) + (top / g) * w <= Int::kMaxBits / 8;
       }()))
    return MinimalWay::Written;
  if (large) return MinimalWay::Modular;
  // Elimination over the rationals grows with the cube of the degree in operations on fractions
  // of the result's size; modulo primes only the count of primes grows with it. A result estimated
  // past 2^20 bits stays with the elimination, which meets the size limit of Int where the primes
  // would run on.
  if (d >= 6) {
    const std::uint64_t estimate = minimal_polynomial_bits(v);
    if ((d >= 8 || estimate >= 2048) && estimate <= Int::kMaxBits / 256) return MinimalWay::Modular;
  }
  return MinimalWay::Elimination;
}

// The monic minimal polynomial of v: written down for s + k·alpha^j in a field of x^n − w; else by
// elimination over the rationals or modulo primes.
Result<FracPoly> minimal_polynomial(const AlgebraicNumber& v) {
  switch (minimal_polynomial_way(v)) {
    case MinimalWay::Generator: return v.field()->minimal_polynomial().monic();
    case MinimalWay::Modular: return minimal_polynomial_modular(v);
    case MinimalWay::Elimination: return minimal_polynomial_of(v);
    case MinimalWay::Written: break;
  }
  // With g = gcd(j, n), v generates Q(alpha^g), of degree N = n/g, and (v − s)^N = k^N·w^(j/g), so
  // m_v = (x − s)^N − k^N·w^(j/g).
  const FracPoly& m = v.field()->minimal_polynomial();
  const auto& c = v.value().coeffs;
  const auto top = static_cast<std::size_t>(v.value().degree());
  auto size = [](const Fraction& x) { return std::max(x.num().bit_length(), x.den().bit_length()); };
  const std::size_t n = m.coeffs.size() - 1, g = std::gcd(top, n), N = n / g;
  const Fraction w = GY_TRY(m.coeffs[0].neg().div(m.lead()));
  const Fraction value = GY_TRY(c[top].pow(Int(static_cast<std::int64_t>(N)))) *
                         GY_TRY(w.pow(Int(static_cast<std::int64_t>(top / g))));
  std::vector<Fraction> out(N + 1);
  out.back() = one_fraction();
  if (!c[0].is_zero()) {
    // The coefficient of x^i in (x − s)^N is C(N, i)·(−s)^(N − i).
    const Fraction t = c[0].neg();
    const bool within = N * size(t) <= Int::kMaxBits / 8;
    Fraction power = one_fraction();
    Int binomial(1);
    for (std::size_t i = N; i-- > 0;) {
      poll_interrupt();
      // t's parts are coprime, and so are those of its powers: no gcd (the parts stay far below
      // the size limit when `within`; else the product refuses as it would).
      power = within ? Fraction::from_coprime(power.num() * t.num(), power.den() * t.den()) : power * t;
      binomial = binomial * Int(static_cast<std::int64_t>(i + 1));
      binomial = GY_TRY(Int::div_exact(binomial, Int(static_cast<std::int64_t>(N - i))));
      out[i] = Fraction(binomial) * power;
    }
  }
  out[0] = c[0].is_zero() ? value.neg() : out[0] - value;
  return FracPoly(std::move(out));
}

// The estimated size, in bits, past which the minimal polynomial of a root's radicand is not eliminated.
constexpr std::uint64_t kMaxRootPolynomialBits = std::uint64_t{1} << 24;

// x when x^r = n exactly.
std::optional<Int> exact_root(const Int& n, unsigned long r) {
  if (n.sign() < 0 && r % 2 == 0) return std::nullopt;
  Mpz z;
  if (mpz_root(z.get(), n.view().get(), r) == 0) return std::nullopt;
  return z.to_int();
}

// The minimal polynomial of v^(1/k) for a rational v > 0, in the form `factor` gives it (primitive,
// integer coefficients, positive leading coefficient): x^n − v^(n/k) for the least n with v^(n/k)
// rational, since the conjugates of a positive real k-th root differ from it by roots of unity and
// the constant term ±(their product) is rational. Nothing when `factor` would refuse x^k − v.
std::optional<FracPoly> radical_polynomial(const Fraction& v, std::size_t k) {
  if (std::max(v.num().bit_length(), v.den().bit_length()) > kFactorMaxBits) return std::nullopt;
  // The largest r dividing k for which v is an r-th power.
  Int a = v.num(), b = v.den();
  std::size_t r = k;
  for (; r > 1; --r) {
    if (k % r != 0) continue;
    auto ra = exact_root(v.num(), r), rb = exact_root(v.den(), r);
    if (ra && rb) {
      a = std::move(*ra);
      b = std::move(*rb);
      break;
    }
  }
  std::vector<Fraction> c(k / r + 1);
  c[0] = Fraction(-a);
  c.back() = Fraction(b);
  return FracPoly(std::move(c));
}

// Whether m(x^k) is shown irreducible, m the minimal polynomial of a real v > 0. By Capelli's
// theorem it is when v is no l-th power in Q(v) for any prime l dividing k (v = −4·b^4 cannot hold
// for a positive v and a real b). Modulo a prime q ≡ 1 (mod l) dividing neither lc(m), m(0) nor
// disc(m), Q(v) has a place of degree one at each root r of m, where an l-th power of Q(v) reduces
// to an l-th power of F_q; a root with r^((q−1)/l) ≠ 1 shows v is none. False only means no proof
// was found.
bool irreducible_substitution(const FracPoly& m, std::size_t k) {
  const IntPoly M = primitive_integer(m);
  const std::size_t n = static_cast<std::size_t>(M.degree());
  if (n < 1 || M.coeffs[0].is_zero()) return false;
  for (std::size_t l = 2, rest = k; l <= rest; ++l) {
    if (rest % l != 0) continue;
    while (rest % l == 0) rest /= l;
    // A few dozen primes, or fewer with a root of m, tried until one shows v is no l-th power.
    constexpr int kPrimes = 48, kRootedPrimes = 24;
    int tried = 0, rooted = 0;
    bool shown = false;
    for (std::uint64_t q = l * ((std::uint64_t{1} << 20) / l) + 1;
         !shown && tried < kPrimes && rooted < kRootedPrimes && q < kWordPrimeLimit; q += l) {
      if (!is_word_prime(q) || mod_word(M.lead(), q) == 0 || mod_word(M.coeffs[0], q) == 0) continue;
      poll_interrupt();
      ++tried;
      const Zp F(q);
      const WordPoly f = monic(F, to_word_poly(M, F));
      if (!is_squarefree(F, f)) continue;
      // The product of x − r over the roots r of m modulo q.
      WordPoly h = WordPolyModulus(F, f).powmod(WordPoly{0, 1}, Int(static_cast<std::int64_t>(q)));
      if (h.size() < 2) h.resize(2, 0);
      h[1] = F.sub(h[1], 1);
      gy::trim(h);
      const WordPoly roots = gcd(F, std::move(h), f);
      if (degree(roots) < 1) continue;
      ++rooted;
      // x^((q−1)/l) ≡ 1 modulo the roots' product exactly when every root is an l-th power.
      const WordPoly e = WordPolyModulus(F, roots).powmod(WordPoly{0, 1}, Int(static_cast<std::int64_t>((q - 1) / l)));
      shown = !(e.size() == 1 && e[0] == 1);
    }
    if (!shown) return false;
  }
  return true;
}

// Narrows [lo, hi] (lo = 0) around v^(1/k), v > 0 with minimal polynomial m_v (m_v(0) ≠ 0), by
// exact comparisons of mid^k with v until it holds no other root of m_v(x^k).
Status bisect_root(const FracPoly& mv, const Int& k, const AlgebraicNumber& v, Fraction& lo, Fraction& hi);

// Bounds lo <= log2|n| <= hi, n != 0, from the bit length of n and its top 53 bits.
std::pair<double, double> log2_range(const Int& n) {
  const std::uint64_t bits = n.bit_length();
  const std::uint64_t shift = bits > 53 ? bits - 53 : 0;
  Mpz top;
  mpz_tdiv_q_2exp(top.get(), n.view().get(), shift);
  const double t = std::fabs(mpz_get_d(top.get()));  // exact: at most 53 bits
  const double lo = static_cast<double>(shift) + std::log2(t);
  const double hi = static_cast<double>(shift) + std::log2(shift ? t + 1 : t);
  const double slack = 1e-9 + 1e-13 * hi;
  return {lo - slack, hi + slack};
}

// The bit length of a^e·r/h (a, r, h != 0, h dividing a^e·r), when floating logarithms decide it;
// also an upper bound of it, valid either way.
struct PowerBits {
  std::optional<std::uint64_t> exact;
  std::uint64_t most;
};
PowerBits power_quotient_bits(const Int& a, std::uint64_t e, const Int& r, const Int& h) {
  const auto [alo, ahi] = log2_range(a);
  const auto [rlo, rhi] = log2_range(r);
  const auto [hlo, hhi] = log2_range(h);
  const double ed = static_cast<double>(e);
  const double lo = ed * alo * (1 - 1e-13) + rlo - hhi - 1e-6, hi = ed * ahi * (1 + 1e-13) + rhi - hlo + 1e-6;
  const double flo = std::floor(std::max(lo, 0.0)), fhi = std::floor(std::max(hi, 0.0));
  PowerBits out{std::nullopt, static_cast<std::uint64_t>(fhi) + 1};
  if (flo == fhi) out.exact = out.most;
  return out;
}

// The refusal that r.root(k) (2 <= k, r > 0) meets for a monomial r = c·alpha^j, j >= 1, of a
// field of a binomial s·x^n − w, known without the root's work: its minimal polynomial
// x^N − c^N·(w/s)^(j/g) (g = gcd(j, n), N = n/g) forms a constant of Int::kMaxBits bits at most,
// and `factor`, given that polynomial in x^k, refuses the constant's numerator, else its
// denominator, beyond kFactorMaxBits. Nothing when the sizes leave it open or the steps before
// `factor` could fail; the root's own path then decides.
std::optional<Error> monomial_root_refusal(const AlgebraicNumber& r) {
  const FracPoly& m = r.field()->minimal_polynomial();
  const auto& c = r.value().coeffs;
  if (r.value() == FracPoly::x() || c.size() < 2 || !c[0].is_zero()) return std::nullopt;
  auto zero = [](const Fraction& x) { return x.is_zero(); };
  if (!std::all_of(c.begin() + 1, c.end() - 1, zero) || !std::all_of(m.coeffs.begin() + 1, m.coeffs.end() - 1, zero))
    return std::nullopt;
  const std::size_t top = c.size() - 1, n = m.coeffs.size() - 1, g = std::gcd(top, n), N = n / g, t = top / g;
  const Fraction& base = c[top];
  // c^N: refused at once by Fraction::pow, or small.
  const std::uint64_t base_bits = std::max(base.num().bit_length(), base.den().bit_length());
  if (base_bits <= 1 || (base_bits - 1) * N > Int::kMaxBits) return std::nullopt;
  // (w/s)^(j/g), small unless the field's polynomial is large.
  const Result<Fraction> w = m.coeffs[0].neg().div(m.lead());
  if (!w || std::max(w->num().bit_length(), w->den().bit_length()) * t > (std::uint64_t{1} << 22)) return std::nullopt;
  const Result<Fraction> power = w->pow(Int(static_cast<std::int64_t>(t)));
  if (!power) return std::nullopt;
  const Fraction& W = *power;
  // The product c^N·W (parts coprime) divides c^N's numerator by g1 = gcd(|a|^N, V) and its
  // denominator by g2 = gcd(b^N, |U|), W = U/V; each gcd is taken modulo the small part.
  const Int a = base.num().abs(), &b = base.den(), U = W.num().abs(), &V = W.den();
  auto common = [N](const Int& big, const Int& small) {
    if (small.is_one()) return Int(1);
    Mpz p;
    const Mpz e(static_cast<unsigned long>(N));
    mpz_powm(p.get(), big.view().get(), e.get(), small.view().get());
    mpz_gcd(p.get(), p.get(), small.view().get());
    return p.to_int();
  };
  const Int g1 = common(a, V), g2 = common(b, U);
  const Int u = expect(Int::div_exact(U, g2), "a gcd divides"), v = expect(Int::div_exact(V, g1), "a gcd divides");
  // The parts multiplied stay within Int::kMaxBits, so the product does not refuse them.
  const PowerBits n1 = power_quotient_bits(a, N, Int(1), g1), d1 = power_quotient_bits(b, N, Int(1), g2);
  if (n1.most + u.bit_length() > Int::kMaxBits + 1 || d1.most + v.bit_length() > Int::kMaxBits + 1)
    return std::nullopt;
  auto refusal = [](std::uint64_t bits) {
    return Error::range(cat("polynomial coefficient bits ", bits, " exceeds the factoring limit of ", kFactorMaxBits));
  };
  // `factor` checks the constant's numerator first.
  const PowerBits num = power_quotient_bits(a, N, u, g1);
  if (num.most > kFactorMaxBits) {
    if (!num.exact || *num.exact <= kFactorMaxBits) return std::nullopt;
    return refusal(*num.exact);
  }
  const PowerBits den = power_quotient_bits(b, N, v, g2);
  if (den.most <= kFactorMaxBits || !den.exact || *den.exact <= kFactorMaxBits) return std::nullopt;
  return refusal(*den.exact);
}

}  // namespace

Result<AlgebraicNumber> AlgebraicNumber::root(const Int& k) const {
  if (k.sign() < 1) return fail(Error::range(cat("root index ", k.to_string(), " must be at least 1")));
  // A rational radicand is taken over the rationals, whatever field it is written in.
  if (is_rational() && field_->degree() > 1)
    return rational(QQ(), is_zero() ? Fraction() : value_[0]).root(k);
  const std::size_t d = field_->degree();
  if (k > Int(static_cast<std::int64_t>(static_cast<std::size_t>(kMaxFieldDegree) / d)))
    return fail(root_index_refusal(k, d));
  const auto kk = static_cast<std::size_t>(*k.to_i64());
  int s = GY_TRY(sign());
  if (s < 0) {
    // An even root of a negative number has no real value; an odd one is −root(−v).
    if (kk % 2 == 0) return fail(Error::range(cat("even root (index ", kk, ") of a negative number")));
    AlgebraicNumber r = GY_TRY(neg().root(k));
    return r.neg();
  }

  // A monomial whose root `factor` refuses is refused without forming its minimal polynomial, once
  // the enclosure the root would take next is formed (its products refuse as they would; only the
  // reduction of its ends, which refuses nothing, is left out).
  if (auto refused = monomial_root_refusal(*this)) {
    enclosure(false);
    return fail(std::move(*refused));
  }
  // The monic squarefree part of Res_Y(m(Y), X^k − v(Y)), whose roots are the k-th roots of the
  // conjugates of v: m_v(X^k) with m_v the minimal polynomial of v (squarefree for v ≠ 0), else x.
  // Eliminating towards a minimal polynomial of millions of bits takes minutes to days (and its
  // factoring then refuses it): refused at once from the estimate. A rational's is x − v, at once.
  if (!is_rational() && minimal_polynomial_way(*this) == MinimalWay::Elimination)
    if (const std::uint64_t estimate = minimal_polynomial_bits(*this); estimate > kMaxRootPolynomialBits)
      return fail(Error::range(cat("minimal polynomial of a number of degree ", d, " would have coefficients of about ",
                                   estimate, " bits, past the limit of ", kMaxRootPolynomialBits, " bits of a root")));
  FracPoly mv = GY_TRY(minimal_polynomial(*this));
  // The root is searched in [0, upper(v) + 1].
  // The enclosure's products (which may refuse) are formed here; its ends are reduced where they
  // are used, so that a polynomial `factor` refuses is refused without that work.
  const auto loose = enclosure(false);
  // A radical v = w^(1/j) (m_v = x^j − w, w > 0 as v > 0): m_v(x^k) = x^(jk) − w has no other real
  // root in [0, hi], so no bisection, and its factor holding the root is known without factoring.
  const bool radical = mv.coeffs.size() >= 2 && is_binomial(mv);
  FracPoly p;
  if (mv.coeffs[0].is_zero()) {
    p = FracPoly::x();
  } else {
    std::vector<Fraction> c(kk * static_cast<std::size_t>(mv.degree()) + 1);
    for (std::size_t j = 0; j < mv.coeffs.size(); ++j) c[j * kk] = mv.coeffs[j];
    p = FracPoly(std::move(c));
  }
  if (s > 0 && radical) {
    if (auto m = radical_polynomial(mv.coeffs[0].neg(), kk * (mv.coeffs.size() - 1))) {
      Fraction lo, hi = GY_TRY(interval()).second + one_fraction();
      FieldRef root_field = GY_TRY(NumberField::make(std::move(*m), std::move(lo), std::move(hi)));
      return generator(std::move(root_field));
    }
    // `factor` refuses coefficients this large, as it would after the root count below.
    auto factors = factor(p);
    if (!factors) return fail(std::move(factors.error()));
  }
  // The upper end checked next, upper(v) + 1, has parts no longer than the unreduced ones: when they
  // pass the check, a polynomial `factor` refuses is refused without reducing the end.
  if (!within_factor_limits(p)) {
    const std::uint64_t end_bits =
        std::max((loose.second.num() + loose.second.den()).bit_length(), loose.second.den().bit_length());
    if (end_bits * static_cast<std::uint64_t>(std::max<std::int64_t>(p.degree(), 1)) <= Int::kMaxBits / 4)
      if (auto refused = factor(p); !refused) return fail(std::move(refused.error()));
  }
  Fraction lo, hi = GY_TRY(interval()).second + one_fraction();
  GY_CHECK(check_evaluation_size(p.degree(), hi));
  // `factor` takes the polynomial after the bisection; when it would refuse, nothing is bisected.
  if (!within_factor_limits(p))
    if (auto refused = factor(p); !refused) return fail(std::move(refused.error()));

  // Bisect [0, upper(v) + 1] by exact comparisons of mid^k with v until it isolates v^(1/k) among
  // the roots of p (x alone has one there).
  if (!mv.coeffs[0].is_zero()) GY_CHECK(bisect_root(mv, k, *this, lo, hi));
  // p is squarefree and has one root in [lo, hi], a simple one: the factor holding it is the one
  // that vanishes at an end or changes sign between them.
  std::vector<FracPoly> factors;
  if (!mv.coeffs[0].is_zero() && irreducible_substitution(mv, kk))
    factors.push_back(to_fractions(primitive_integer(p)));  // as `factor` gives it
  else
    factors = GY_TRY(factor(p));
  const FracPoly* chosen = nullptr;
  for (const auto& f : factors) {
    const IntPoly fi = primitive_integer(f);
    const int at_lo = sign_at(fi, lo), at_hi = sign_at(fi, hi);
    if (at_lo == 0 || at_hi == 0 || at_lo != at_hi) chosen = &f;
  }
  if (!chosen) return fail(Error::other("Interval must contain exactly one root"));
  if (chosen->degree() > kMaxFieldDegree) {
    FieldRef root_field = GY_TRY(NumberField::make(*chosen, std::move(lo), std::move(hi)));
    return generator(std::move(root_field));
  }
  GY_CHECK(check_evaluation_size(chosen->degree(), lo));
  GY_CHECK(check_evaluation_size(chosen->degree(), hi));
  FieldRef root_field = GY_TRY(NumberField::make_isolated(*chosen, std::move(lo), std::move(hi)));
  return generator(std::move(root_field));
}

Result<std::optional<AlgebraicNumber>> square_root_in_field(const AlgebraicNumber& x) {
  using Maybe = std::optional<AlgebraicNumber>;
  int s = GY_TRY(x.sign());
  if (s < 0) return Maybe();
  if (s == 0) return Maybe(AlgebraicNumber::zero(x.field()));
  if (x.is_rational()) {
    const Fraction& c = x.value()[0];
    auto n = exact_root(c.num(), 2), d = exact_root(c.den(), 2);
    if (!n || !d) return Maybe();
    return Maybe(AlgebraicNumber::rational(x.field(), GY_TRY(Fraction::make(*n, *d))));
  }
  // The root's own field is a subfield of x's exactly when the join adds nothing.
  AlgebraicNumber r = GY_TRY(x.root(Int(2)));
  if (x.field()->degree() % r.field()->degree() != 0) return Maybe();
  std::vector<AlgebraicNumber> both{x, std::move(r)};
  GY_CHECK(common_field(both));
  if (both[0].field() != x.field()) return Maybe();
  return Maybe(std::move(both[1]));
}

// ---------------------------------------------------------------------------------------------
// Comparison

namespace {

// hi − lo, without reducing it.
Fraction width(const Fraction& lo, Fraction hi) {
  hi.add(lo.neg(), false);
  return hi;
}

// log2 of x > 0 from the leading 53 bits of its parts.
double log2_of(const Fraction& x) {
  long en = 0, ed = 0;
  const double mn = mpz_get_d_2exp(&en, x.num().view().get()), md = mpz_get_d_2exp(&ed, x.den().view().get());
  return std::log2(mn) - std::log2(md) + static_cast<double>(en - ed);
}

// a < b, read off the leading bits of their parts when they are of one sign and far apart.
bool less_than(const Fraction& a, const Fraction& b) {
  const int sa = a.sign(), sb = b.sign();
  if (sa != 0 && sa == sb) {
    // Sizes far closer than 2^-20 (see at_most); for negative numbers the larger size is less.
    const double la = log2_of(a.abs()), lb = log2_of(b.abs());
    if (la < lb - 1e-6) return sa > 0;
    if (la > lb + 1e-6) return sa < 0;
  }
  return compare_points(a, b) < 0;
}

// w <= t for w >= 0 and t > 0, read off the lengths of their parts when they are octaves apart.
bool at_most(const Fraction& w, const Fraction& t) {
  if (w.sign() <= 0) return true;
  // A positive p/q lies in [2^(e−1), 2^(e+1)), e = len(p) − len(q).
  auto octave = [](const Fraction& x) {
    return static_cast<std::int64_t>(x.num().bit_length()) - static_cast<std::int64_t>(x.den().bit_length());
  };
  const std::int64_t ew = octave(w), et = octave(t);
  if (ew + 1 <= et - 1) return true;
  if (ew - 1 >= et + 1) return false;
  // log2 of each from the leading 53 bits of its parts, each far closer than 2^-20.
  const double lw = log2_of(w), lt = log2_of(t);
  if (lw < lt - 1e-6) return true;
  if (lw > lt + 1e-6) return false;
  return compare_points(w, t) <= 0;
}

// Narrows x's field until x's enclosure is at most 2^-bits of `now`, its width now.
Status narrow_number(const AlgebraicNumber& x, FixedEnds* fixed, const Fraction& now, std::uint64_t bits) {
  if (now.is_zero() || x.is_rational()) return {};
  const Fraction target = now * power_of_two(-static_cast<std::int64_t>(bits));
  const std::uint64_t below = static_cast<std::uint64_t>(std::max<std::int64_t>(0, -floor_log2(target)));
  // log2 of the width at the latest settled test.
  std::optional<double> seen;
  auto note = [&](const Fraction& w) {
    if (w.sign() > 0) seen = log2_of(w);
  };
  auto decide = [&](const FixedEnds::Bounds& b) -> std::optional<bool> {
    Fraction w = width(b.a_lo, b.b_hi);
    if (at_most(w, target)) {
      note(w);
      return true;
    }
    if (!at_most(width(b.a_hi, b.b_lo), target)) return false;
    return std::nullopt;
  };
  auto exact = [&](const Fraction& a, const Fraction& b) {
    Fraction w = width(a, b);
    if (!at_most(w, target)) return false;
    note(w);
    return true;
  };
  // Each step about halves the width once it is narrow: about `bits` steps narrow it enough, and
  // the last settled count lies about log2(target / width) steps below a settled test, the first
  // one just past it.
  const double log_target = log2_of(target);
  auto guess = [&](std::uint64_t, std::uint64_t above) -> std::uint64_t {
    if (!seen) return above;
    const double back = std::floor(log_target - *seen) - 1;
    return back <= 0 ? above : above - std::min<std::uint64_t>(above, static_cast<std::uint64_t>(back));
  };
  return x.field()->refine_until(
      [&](const Fraction& lo, const Fraction& hi) -> Result<bool> {
        return enclosure_passes(fixed, x.value(), lo, hi, decide, exact);
      },
      refine_limit(x.value(), *x.field(), below), guess, bits + bits / 16 + 4);
}

}  // namespace

namespace {

// Whether minimal_polynomial finds v's polynomial without any arithmetic in v's field: v is the
// generator, or k·alpha^j with alpha^n = w, or its polynomial is remembered.
bool minimal_polynomial_at_once(const AlgebraicNumber& v) {
  if (v.value() == FracPoly::x()) return true;
  if (is_monomial(v.value()) && is_binomial(v.field()->minimal_polynomial())) return true;
  return v.field()->memo_find(NumberField::Memo::Minimal, v.value()).has_value();
}

// Fields from this degree on find minimal polynomials modulo primes, each checked exactly.
constexpr std::size_t kModularMinimalDegree = 16;

// The monic minimal polynomial of v, remembered by v's field.
Result<FracPoly> known_minimal_polynomial(const AlgebraicNumber& v) {
  if (auto known = v.field()->memo_find(NumberField::Memo::Minimal, v.value())) return std::move(*known);
  FracPoly m = GY_TRY(v.field()->degree() >= kModularMinimalDegree && !minimal_polynomial_at_once(v)
                          ? minimal_polynomial_modular(v)
                          : minimal_polynomial(v));
  v.field()->memo_store(NumberField::Memo::Minimal, v.value(), m);
  return m;
}

// Whether m(x) ≠ 0 shows modulo one of a few word primes, x = P/D of its field: D^deg m·m(x) is
// reduced there as Σ m_k·P^k·D^(deg m − k) modulo the field's polynomial. The primes of a large
// field are tried on the pool.
bool nonzero_modulo_primes(const FracPoly& m, const AlgebraicNumber& x) {
  Int dx, dm;
  const IntPoly p = clear_denominators(x.value(), dx), mi = clear_denominators(m, dm);
  const IntPoly& r = x.field()->integer_polynomial();
  const std::size_t n = static_cast<std::size_t>(r.degree());
  constexpr std::size_t kPrimes = 3;
  // The first primes that keep the field's degree and do not divide D.
  std::vector<std::uint64_t> primes;
  for (std::size_t i = 0; primes.size() < kPrimes && i < 64; ++i) {
    const std::uint64_t q = word_prime(i);
    const Zp F(q);
    if (static_cast<std::size_t>(degree(to_word_poly(r, F))) == n && mod_word(dx, q) != 0) primes.push_back(q);
  }
  std::atomic<bool> nonzero{false};
  for_each_parallel(primes.size(), n >= 64 ? 1 : kPrimes, [&](std::size_t i) {
    if (nonzero.load(std::memory_order_relaxed)) return;
    const std::uint64_t q = primes[i];
    const Zp F(q);
    const std::uint64_t dq = mod_word(dx, q);
    const WordPolyModulus mod(F, monic(F, to_word_poly(r, F)));
    const WordPoly pq = mod.rem(to_word_poly(p, F));
    WordPoly acc{mod_word(mi.lead(), q)};
    std::uint64_t dpow = 1;
    for (std::size_t k = mi.coeffs.size() - 1; k-- > 0;) {
      acc = mod.mulmod(acc, pq);
      dpow = F.mul(dpow, dq);
      if (acc.empty()) acc.push_back(0);
      acc[0] = F.add(acc[0], F.mul(mod_word(mi.coeffs[k], q), dpow));
      gy::trim(acc);
    }
    if (!acc.empty()) nonzero.store(true, std::memory_order_relaxed);
  });
  return nonzero.load();
}

// Narrows x's field until x's enclosure, `now` at first, is within 2^-64 of its larger end or 2^-128
// wide; whether it narrowed.
Result<bool> narrow_to_float(const AlgebraicNumber& x, FixedEnds* fixed, const std::pair<Fraction, Fraction>& now) {
  const Fraction tiny = power_of_two(-128), relative = power_of_two(-64);
  auto close = [&](const Fraction& a, const Fraction& b) {
    const Fraction w = width(a, b);
    if (w <= tiny) return true;
    return w <= std::max(a.abs(), b.abs()) * relative;
  };
  // The width lies in [b_lo − a_hi, b_hi − a_lo], the larger size of the ends between the least
  // and the largest size their bounds allow.
  auto decide = [&](const FixedEnds::Bounds& b) -> std::optional<bool> {
    auto least = [](const Fraction& lo, const Fraction& hi) {
      return lo.sign() > 0 ? lo : hi.sign() < 0 ? hi.abs() : Fraction();
    };
    const Fraction w_hi = width(b.a_lo, b.b_hi), w_lo = width(b.a_hi, b.b_lo);
    const Fraction size_lo = std::max(least(b.a_lo, b.a_hi), least(b.b_lo, b.b_hi));
    const Fraction size_hi = std::max({b.a_lo.abs(), b.a_hi.abs(), b.b_lo.abs(), b.b_hi.abs()});
    if (w_hi <= tiny || w_hi <= size_lo * relative) return true;
    if (w_lo > tiny && w_lo > size_hi * relative) return false;
    return std::nullopt;
  };
  if (x.is_rational() || close(now.first, now.second)) return false;
  // log2 of the width at the latest settled test and of the target there.
  std::optional<std::pair<double, double>> seen;
  auto note = [&](const Fraction& a, const Fraction& b) {
    const Fraction w = width(a, b), size = std::max(a.abs(), b.abs());
    if (w.sign() > 0 && size.sign() > 0) seen = {log2_of(w), std::max(-128.0, log2_of(size) - 64)};
  };
  auto decide_noted = [&](const FixedEnds::Bounds& b) -> std::optional<bool> {
    std::optional<bool> r = decide(b);
    if (r && *r) note(b.a_lo, b.b_hi);
    return r;
  };
  auto close_noted = [&](const Fraction& a, const Fraction& b) {
    if (!close(a, b)) return false;
    note(a, b);
    return true;
  };
  // Each step about halves the width once it is narrow: the first settled count lies just past
  // log2(target / width) steps below a settled test.
  auto guess = [&](std::uint64_t, std::uint64_t above) -> std::uint64_t {
    if (!seen) return above;
    const double back = std::floor(seen->second - seen->first) - 1;
    return back <= 0 ? above : above - std::min<std::uint64_t>(above, static_cast<std::uint64_t>(back));
  };
  GY_CHECK(x.field()->refine_until(
      [&](const Fraction& lo, const Fraction& hi) -> Result<bool> {
        return enclosure_passes(fixed, x.value(), lo, hi, decide_noted, close_noted);
      },
      refine_limit(x.value(), *x.field(), 128), guess));
  return true;
}

// Fixed-point bounds of the enclosure's ends, where they pay in a comparison: for a value of many
// powers. For a few powers the exact ends cost about as much as the bounds, which near the
// narrowing's target often leave the test undecided.
constexpr std::int64_t kComparisonFixedDegree = 16;
std::optional<FixedEnds> comparison_fixed_ends(const AlgebraicNumber& x) {
  if (x.value().degree() < kComparisonFixedDegree) return std::nullopt;
  return fixed_ends_for(x.value());
}

// The bits of a value's numerators and denominators in all.
std::uint64_t value_bits(const FracPoly& p) {
  std::uint64_t n = 0;
  for (const auto& c : p.coeffs) n += c.num().bit_length() + c.den().bit_length();
  return n;
}

// Fields from this degree on test equality exactly beside the narrowing to a double's precision.
constexpr std::size_t kBesideNarrowingDegree = 64;
// The other number's minimal polynomial is found beside it too in a field of at most this degree,
// for a value of at most this many bits: a few milliseconds at most.
constexpr std::size_t kBesideNarrowingFromDegree = 32;
constexpr std::uint64_t kBesideNarrowingFromBits = 8192;

// Signs of differences of numbers of two fields found so far, each with both fields' intervals as
// the comparison left them. A comparison repeated while neither interval has moved would narrow
// nothing and find the same sign, so the entry answers it, in either order. Fields are held weakly:
// an entry of a field that is gone matches nothing.
class ComparisonMemo {
 public:
  // A number's key: its field's address and its value.
  static std::uint64_t key(const AlgebraicNumber& x) {
    SipHasher13 h;
    const auto at = reinterpret_cast<std::uintptr_t>(x.field().get());
    h.write(&at, sizeof at);
    for (const auto& c : x.value().coeffs) c.hash(h);
    return h.finish();
  }

  // The sign of a − b, keys ka and kb.
  std::optional<int> find(const AlgebraicNumber& a, std::uint64_t ka, const AlgebraicNumber& b, std::uint64_t kb) {
    const auto ia = field_interval_read(*a.field()), ib = field_interval_read(*b.field());
    std::lock_guard lock(lock_);
    for (const Entry& e : entries_) {
      if (e.a.key == ka && e.b.key == kb && matches(e.a, a, ia) && matches(e.b, b, ib)) return e.sign;
      if (e.a.key == kb && e.b.key == ka && matches(e.a, b, ib) && matches(e.b, a, ia)) return -e.sign;
    }
    return std::nullopt;
  }

  void store(const AlgebraicNumber& a, std::uint64_t ka, const AlgebraicNumber& b, std::uint64_t kb, int sign) {
    if (bits(a.value()) + bits(b.value()) > kMaxBits) return;
    Entry e{{ka, a.field(), a.value(), field_interval_read(*a.field())},
            {kb, b.field(), b.value(), field_interval_read(*b.field())},
            sign};
    std::lock_guard lock(lock_);
    if (entries_.size() < kEntries) {
      entries_.push_back(std::move(e));
      return;
    }
    entries_[next_] = std::move(e);
    next_ = (next_ + 1) % kEntries;
  }

 private:
  static constexpr std::size_t kEntries = 32;
  static constexpr std::uint64_t kMaxBits = std::uint64_t{1} << 23;  // of both values together

  struct Number {
    std::uint64_t key;
    std::weak_ptr<const NumberField> field;
    FracPoly value;
    std::pair<Fraction, Fraction> interval;
  };
  struct Entry {
    Number a, b;
    int sign;
  };

  static std::uint64_t bits(const FracPoly& p) {
    std::uint64_t n = 0;
    for (const auto& c : p.coeffs) n += c.num().bit_length() + c.den().bit_length();
    return n;
  }
  static bool matches(const Number& n, const AlgebraicNumber& x, const std::pair<Fraction, Fraction>& interval) {
    return n.field.lock() == x.field() && n.interval == interval && n.value == x.value();
  }

  std::mutex lock_;
  std::vector<Entry> entries_;
  std::size_t next_ = 0;
};

// It lives as long as the process: a thread still comparing at exit never meets it destroyed.
ComparisonMemo& comparison_memo() {
  static ComparisonMemo* const memo = new ComparisonMemo;
  return *memo;
}

}  // namespace

Result<int> AlgebraicNumber::cmp(const AlgebraicNumber& b) const {
  if (b.is_rational()) {
    FracPoly c = b.is_zero() ? FracPoly() : FracPoly::constant(b.value_[0]);
    return AlgebraicNumber(FracPoly::sub(value_, c), field_).sign();
  }
  if (is_rational()) return -GY_TRY(b.cmp(*this));
  if (field_ == b.field_ || GY_TRY(NumberField::eq(field_, b.field_))) return sign_of_difference(b);
  // Enclosures that part decide at once; else they are narrowed to about a double's precision, which
  // parts all but very close numbers, and then only as far as the answer needs. Signs that took
  // more than the first enclosures are remembered.
  ComparisonMemo& memo = comparison_memo();
  const std::uint64_t ka = ComparisonMemo::key(*this), kb = ComparisonMemo::key(b);
  if (auto s = memo.find(*this, ka, b, kb)) return *s;
  // A value of a few powers is enclosed by those powers alone, not the field's whole table.
  auto enclose = [](const AlgebraicNumber& x) {
    const auto& c = x.value().coeffs;
    const std::size_t terms = static_cast<std::size_t>(std::count_if(c.begin(), c.end(), [](const Fraction& v) { return !v.is_zero(); }));
    const std::size_t n = c.size() - 1;
    NumberField::StateRef st = x.field()->state();
    if (n < 2 || terms * 4 > n || st->lower.size() > n) return x.enclosure(false);
    return enclosure_at(x.value(), st->lo, st->hi);
  };
  std::pair<Fraction, Fraction> ea = enclose(*this), eb = enclose(b);
  auto order = [&]() -> std::optional<int> {
    if (less_than(ea.second, eb.first)) return -1;
    if (less_than(eb.second, ea.first)) return 1;
    return std::nullopt;
  };
  if (auto s = order()) return *s;
  const int s = GY_TRY([&]() -> Result<int> {
    std::optional<FixedEnds> fa = comparison_fixed_ends(*this), fb = comparison_fixed_ends(b);
    auto narrow = [&]() -> Status {
      if (GY_TRY(narrow_to_float(*this, fa ? &*fa : nullptr, ea))) ea = enclose(*this);
      if (GY_TRY(narrow_to_float(b, fb ? &*fb : nullptr, eb))) eb = enclose(b);
      return {};
    };
    // Numbers the narrowing leaves this close are equal exactly when they share a minimal
    // polynomial, which one interval holding both enclosures isolates among its roots. The
    // polynomial is taken of the number in the smaller field, or of the other one when it is known
    // at once, and tried at the other number: a number's degree divides its field's, and a value
    // that is not zero modulo a prime is not zero. Both fields remember the minimal polynomials
    // found, so a repeated comparison finds them again.
    const bool this_small = field_->degree() <= b.field_->degree();
    const AlgebraicNumber* from = this_small ? this : &b;
    const AlgebraicNumber* at = this_small ? &b : this;
    if (!minimal_polynomial_at_once(*from) && minimal_polynomial_at_once(*at)) std::swap(from, at);
    // The exact test in a large field runs beside the narrowing when the polynomial is known at
    // once or comes from a short value of a small field: numbers the narrowing does not part are
    // nearly always equal, and then the test decides. Its answer, or its failure, counts only when
    // the narrowing leaves the numbers unparted; once they are parted it starts no further step.
    std::optional<Result<FracPoly>> early_m;
    std::optional<Result<bool>> early;
    std::exception_ptr early_failure;
    const bool short_from =
        from->field_->degree() <= kBesideNarrowingFromDegree && value_bits(from->value_) <= kBesideNarrowingFromBits;
    if (pool::thread_count() > 1 && at->field_->degree() >= kBesideNarrowingDegree &&
        (short_from || minimal_polynomial_at_once(*from)) &&
        !at->field_->memo_find(NumberField::Memo::Minimal, at->value_)) {
      Status narrowed;
      std::atomic<bool> parted{false};
      for_each_parallel(2, 1, [&](std::size_t i) {
        if (i == 0) {
          narrowed = narrow();
          parted.store(!narrowed || order().has_value());
          return;
        }
        try {
          if (parted.load()) return;
          early_m = known_minimal_polynomial(*from);
          if (!*early_m || parted.load()) return;
          const FracPoly& m = **early_m;
          if (at->field_->degree() % static_cast<std::size_t>(m.degree()) != 0 || nonzero_modulo_primes(m, *at)) {
            early = false;
            return;
          }
          if (parted.load()) return;
          early = vanishes_at(m, *at);
        } catch (const Interrupted&) {
          throw;
        } catch (...) {
          early_failure = std::current_exception();
        }
      });
      GY_CHECK(narrowed);
    } else {
      GY_CHECK(narrow());
    }
    if (auto s = order()) return *s;
    if (early_failure) std::rethrow_exception(early_failure);
    const FracPoly m = early_m ? GY_TRY(std::move(*early_m)) : GY_TRY(known_minimal_polynomial(*from));
    bool shared = false;
    if (early) {
      shared = GY_TRY(std::move(*early));
      if (shared) at->field_->memo_store(NumberField::Memo::Minimal, at->value_, m);
    } else if (auto known = at->field_->memo_find(NumberField::Memo::Minimal, at->value_)) {
      shared = *known == m;
    } else if (at->field_->degree() % static_cast<std::size_t>(m.degree()) == 0 && !nonzero_modulo_primes(m, *at)) {
      shared = GY_TRY(vanishes_at(m, *at));
      if (shared) at->field_->memo_store(NumberField::Memo::Minimal, at->value_, m);
    }
    std::optional<SturmSequence> sturm;
    if (shared) sturm.emplace(m);
    for (std::uint64_t bits = 64;; bits = std::min<std::uint64_t>(2 * bits, std::uint64_t{1} << 20)) {
      poll_interrupt();
      if (auto s = order()) return *s;
      if (sturm && sturm->count(std::min(ea.first, eb.first), std::max(ea.second, eb.second)) == 1) return 0;
      GY_CHECK(narrow_number(*this, fa ? &*fa : nullptr, width(ea.first, ea.second), bits));
      GY_CHECK(narrow_number(b, fb ? &*fb : nullptr, width(eb.first, eb.second), bits));
      ea = enclose(*this);
      eb = enclose(b);
    }
  }());
  memo.store(*this, ka, b, kb, s);
  return s;
}

// ---------------------------------------------------------------------------------------------
// Polynomials over a number field and the common field

namespace {

using Coeffs = std::vector<AlgebraicNumber>;

void trim(Coeffs& c) {
  while (!c.empty() && c.back().is_zero()) c.pop_back();
}

// a mod b for a monic b.
Result<Coeffs> rem_monic(Coeffs a, const Coeffs& b) {
  const std::size_t db = b.size() - 1;
  while (a.size() > db) {
    AlgebraicNumber c = std::move(a.back());
    a.pop_back();
    const std::size_t shift = a.size() - db;
    if (!c.is_zero())
      for (std::size_t i = 0; i < db; ++i) a[shift + i] = GY_TRY(a[shift + i].sub(GY_TRY(c.mul(b[i]))));
    trim(a);
  }
  return a;
}

Result<Coeffs> make_monic(Coeffs a) {
  AlgebraicNumber inv = GY_TRY(a.back().inverse());
  for (auto& x : a) x = GY_TRY(x.mul(inv));
  return a;
}

// The monic gcd of two polynomials over one field.
Result<Coeffs> gcd_over_field(Coeffs a, Coeffs b) {
  trim(a);
  trim(b);
  if (a.size() < b.size()) std::swap(a, b);
  while (!b.empty()) {
    b = GY_TRY(make_monic(std::move(b)));
    Coeffs r = GY_TRY(rem_monic(std::move(a), b));
    a = std::move(b);
    b = std::move(r);
  }
  if (!a.empty()) a = GY_TRY(make_monic(std::move(a)));
  return a;
}

}  // namespace

Result<std::optional<AlgebraicNumber>> field_poly_gcd(const FieldRef& field, const std::vector<Fraction>& p,
                                                      const std::vector<Fraction>& q, const std::vector<Fraction>& l0,
                                                      const std::vector<Fraction>& l1) {
  Coeffs pk;
  pk.reserve(p.size());
  for (const auto& c : p) pk.push_back(AlgebraicNumber::rational(field, c));
  trim(pk);
  AlgebraicNumber a0 = GY_TRY(AlgebraicNumber::from_polynomial(field, l0));
  AlgebraicNumber a1 = GY_TRY(AlgebraicNumber::from_polynomial(field, l1));
  // Q(a0 + a1·x) by Horner's rule.
  Coeffs acc;
  for (std::size_t j = q.size(); j-- > 0;) {
    Coeffs next(acc.size() + 1, AlgebraicNumber::zero(field));
    for (std::size_t i = 0; i < acc.size(); ++i) {
      if (acc[i].is_zero()) continue;
      next[i] = GY_TRY(next[i].add(GY_TRY(acc[i].mul(a0))));
      next[i + 1] = GY_TRY(next[i + 1].add(GY_TRY(acc[i].mul(a1))));
    }
    next[0] = GY_TRY(next[0].add(AlgebraicNumber::rational(field, q[j])));
    trim(next);
    acc = std::move(next);
  }
  Coeffs g = GY_TRY(gcd_over_field(std::move(pk), std::move(acc)));
  if (g.size() != 2) return std::optional<AlgebraicNumber>();
  return std::optional<AlgebraicNumber>(g[0].neg());
}

std::pair<Fraction, Fraction> combined_interval(const Fraction& k, const NumberField& f, const NumberField& g) {
  auto [flo, fhi] = field_interval_read(f);
  auto [glo, ghi] = field_interval_read(g);
  return {k * flo + glo, k * fhi + ghi};
}

namespace {

Fraction integer(std::int64_t n) { return Fraction(Int(n)); }

// The join of A and B: the common field K with the images of both generators in it.
struct Join {
  FieldRef field;
  AlgebraicNumber alpha, beta;
};

AlgebraicNumber rational_generator(const FieldRef& of, const FieldRef& into) {
  AlgebraicNumber g = expect(AlgebraicNumber::generator(of), "a generator is reducible");
  return AlgebraicNumber::rational(into, g.is_zero() ? Fraction() : g.value()[0]);
}

// Integer coefficients as GMP values, lowest degree first.
class MpzVector {
 public:
  explicit MpzVector(std::size_t n) : v_(n) {}
  MpzVector(const MpzVector& o) = default;
  MpzVector& operator=(const MpzVector&) = delete;
  std::size_t size() const { return v_.size(); }
  mpz_ptr operator[](std::size_t i) { return v_[i].get(); }
  mpz_srcptr operator[](std::size_t i) const { return v_[i].get(); }

 private:
  std::vector<Mpz> v_;
};

// p(x + a) in place, by the n²/2 steps c_j += a·c_(j+1).
void taylor_shift(MpzVector& c, mpz_srcptr a) {
  const std::size_t n = c.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    poll_interrupt();
    for (std::size_t j = n - 1; j-- > i;) {
      if (a)
        mpz_addmul(c[j], a, c[j + 1]);
      else
        mpz_add(c[j], c[j], c[j + 1]);
    }
  }
}

// The sign variations of (1 + y)^n·q(1/(1 + y)), an upper bound on the roots of q in (0, 1) of the
// same parity (Descartes' rule of signs).
std::uint32_t variations_on_unit(const MpzVector& q) {
  MpzVector t(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) mpz_set(t[i], q[q.size() - 1 - i]);
  taylor_shift(t, nullptr);
  std::uint32_t v = 0;
  int last = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const int s = mpz_sgn(t[i]);
    if (s == 0) continue;
    if (last != 0 && s != last) ++v;
    last = s;
  }
  return v;
}

// The roots of the squarefree q in (0, 1): halves until each part has at most one variation, a
// root at a split point counted once; none past `budget` parts.
std::optional<std::uint32_t> roots_on_unit(const MpzVector& q, std::size_t& budget) {
  poll_interrupt();
  if (budget == 0) return std::nullopt;
  --budget;
  const std::uint32_t v = variations_on_unit(q);
  if (v <= 1) return v;
  // Left half: 2^n·q(x/2); right half: that shifted by one; the split point is q's root when the
  // right half vanishes at 0.
  const std::size_t n = q.size() - 1;
  MpzVector left(q);
  for (std::size_t i = 0; i < n; ++i) mpz_mul_2exp(left[i], left[i], n - i);
  MpzVector right(left);
  taylor_shift(right, nullptr);
  const std::uint32_t middle = mpz_sgn(right[0]) == 0 ? 1 : 0;
  auto l = roots_on_unit(left, budget);
  if (!l) return std::nullopt;
  auto r = roots_on_unit(right, budget);
  if (!r) return std::nullopt;
  return *l + middle + *r;
}

// The roots of f in [lo, hi] (lo < hi) as the roots of q in [0, 1]: q(x) = c^n·f((a + (b − a)·x)/c)
// with lo = a/c and hi = b/c; `ends` counts the roots at lo and hi.
struct UnitMap {
  MpzVector q;
  std::uint32_t ends;
};

UnitMap map_to_unit(const IntPoly& f, const Fraction& lo, const Fraction& hi) {
  const Int c = Int::lcm(lo.den(), hi.den());
  const Int a = lo.num() * (c / lo.den()), b = hi.num() * (c / hi.den());
  const std::size_t n = f.coeffs.size() - 1;
  UnitMap m{MpzVector(n + 1), 0};
  MpzVector& q = m.q;
  Mpz power(1ul);
  for (std::size_t i = n + 1; i-- > 0;) {
    mpz_mul(q[i], f.coeffs[i].view().get(), power.get());
    mpz_mul(power.get(), power.get(), c.view().get());
  }
  taylor_shift(q, a.view().get());
  const Int width = b - a;
  mpz_set_ui(power.get(), 1);
  for (std::size_t i = 1; i <= n; ++i) {
    mpz_mul(power.get(), power.get(), width.view().get());
    mpz_mul(q[i], q[i], power.get());
  }
  m.ends = mpz_sgn(q[0]) == 0 ? 1 : 0;
  Mpz sum;
  for (std::size_t i = 0; i <= n; ++i) mpz_add(sum.get(), sum.get(), q[i]);
  m.ends += sum.sign() == 0 ? 1 : 0;
  return m;
}

// The roots of the squarefree integer polynomial f in [lo, hi] (lo < hi) by Descartes' rule on
// halves of the interval; none when the halving runs long, as it may near close roots.
std::optional<std::uint32_t> count_roots_descartes(const IntPoly& f, const Fraction& lo, const Fraction& hi) {
  const UnitMap m = map_to_unit(f, lo, hi);
  std::size_t budget = 64;
  auto inner = roots_on_unit(m.q, budget);
  if (!inner) return std::nullopt;
  return *inner + m.ends;
}

// Fujiwara's exponent of f (see fujiwara_exponent).
std::optional<std::int64_t> fujiwara_exponent(const IntPoly& f) {
  std::vector<std::uint64_t> bits(f.coeffs.size());
  for (std::size_t k = 0; k < bits.size(); ++k) bits[k] = f.coeffs[k].bit_length();
  return gy::fujiwara_exponent(bits);
}

// The real roots of a squarefree integer polynomial without rational roots, each in an open interval
// that holds it alone, found by Descartes' rule on halves of a bound on the roots and narrowed on
// demand to cells of a grid of 2^-k; `usable` is false for a polynomial with a rational root.
class RealRoots {
 public:
  explicit RealRoots(IntPoly f) : f_(std::make_unique<const IntPoly>(std::move(f))) {
    const auto top = fujiwara_exponent(*f_);
    const Fraction bound = power_of_two(top ? *top + 1 : 0);
    isolate(bound.neg(), bound);
  }
  bool usable() const { return usable_; }
  std::size_t size() const { return roots_.size(); }
  RealRoots(RealRoots&&) = default;
  const Fraction& lo(std::size_t i) const { return roots_[i].lo; }
  const Fraction& hi(std::size_t i) const { return roots_[i].hi; }
  // Narrows root i's interval to within a cell of the grid of 2^-k; false when that fails.
  bool narrow_to(std::size_t i, std::int64_t k) {
    Root& r = roots_[i];
    if (r.scale && *r.scale >= k) return true;
    auto floor = r.enclosure.floor_scaled_alpha(k);
    if (!floor || !*floor) return false;
    r.scale = k;
    Fraction cell_lo = Fraction(**floor) * power_of_two(-k), cell_hi = Fraction(**floor + Int(1)) * power_of_two(-k);
    if (cell_lo > r.lo) r.lo = std::move(cell_lo);
    if (cell_hi < r.hi) r.hi = std::move(cell_hi);
    return true;
  }

 private:
  struct Root {
    Fraction lo, hi;
    Enclosure enclosure;
    std::optional<std::int64_t> scale;  // the finest grid narrowed to
  };
  void isolate(const Fraction& a, const Fraction& b) {
    poll_interrupt();
    const std::uint32_t v = variations_on_unit(map_to_unit(*f_, a, b).q);
    if (v == 0) return;
    if (v == 1) {
      const std::uint64_t max_bits = Int::kMaxBits / (4 * static_cast<std::uint64_t>(f_->degree()));
      roots_.push_back({a, b, Enclosure(*f_, a, b, max_bits, Error::other("root narrowed too far")), std::nullopt});
      return;
    }
    const Fraction mid = (a + b) * power_of_two(-1);
    if (sign_at(*f_, mid) == 0) {
      usable_ = false;
      return;
    }
    isolate(a, mid);
    if (usable_) isolate(mid, b);
  }

  std::unique_ptr<const IntPoly> f_;  // held apart: the enclosures refer to it
  std::vector<Root> roots_;
  bool usable_ = true;
};

// The positive roots of an irreducible integer polynomial f with f(0) ≠ 0 below a bound, each in
// an open interval of Descartes' halving that holds it alone (a root of a linear f as a point), and
// the count of those in [a, b], narrowing the intervals that straddle a or b.
class PositiveRoots {
 public:
  PositiveRoots(IntPoly f, const Fraction& bound) : f_(std::move(f)) {
    // Only roots up to `bound` are asked for: the halving starts at the power of two above the
    // smaller of it and Fujiwara's bound.
    const auto n = static_cast<std::int64_t>(f_.degree());
    std::int64_t top = static_cast<std::int64_t>(bound.num().bit_length()) -
                       static_cast<std::int64_t>(bound.den().bit_length()) + 1;
    const auto fujiwara = fujiwara_exponent(f_);
    top = std::min(top, fujiwara ? *fujiwara + 1 : 0);
    const Fraction end = power_of_two(top);
    if (n == 1) {
      Fraction r = expect(Fraction::make(-f_.coeffs[0], f_.coeffs[1]), "a non-zero leading coefficient");
      if (r.sign() > 0 && r < end) cells_.push_back({r, r, 0});
    } else {
      isolate(end);
    }
  }

  // The roots in [a, b] (0 <= a <= b), counted up to `enough`.
  std::uint32_t count(const Fraction& a, const Fraction& b, std::uint32_t enough) {
    std::uint32_t n = 0;
    for (auto& c : cells_) {
      if (side(c, a) < 0 || side(c, b) > 0) continue;
      if (++n >= enough) break;
    }
    return n;
  }

 private:
  struct Cell {
    Fraction lo, hi;  // equal for a rational root
    int lo_sign;      // f's sign at lo otherwise
  };

  // The sign of the cell's root − t.
  int side(Cell& c, const Fraction& t) {
    if (t <= c.lo) return c.lo == t && c.hi == t ? 0 : 1;
    if (t >= c.hi) return -1;
    const int s = sign_at(f_, t);
    if (s == 0) {
      c.lo = c.hi = t;
      return 0;
    }
    (s == c.lo_sign ? c.lo : c.hi) = t;
    return s == c.lo_sign ? 1 : -1;
  }

  // The roots in (0, end): halves of it while Descartes' rule counts more than one variation, each
  // part's polynomial q, whose roots in (0, 1) are the part's (see map_to_unit), following from its
  // parent's by shifts and additions. No root of f is rational (f is irreducible of degree at least
  // two).
  void isolate(const Fraction& end) {
    struct Part {
      Fraction a, b;
      MpzVector q;
    };
    std::vector<Part> parts;
    parts.push_back({Fraction(), end, map_to_unit(f_, Fraction(), end).q});
    while (!parts.empty()) {
      poll_interrupt();
      Part part = std::move(parts.back());
      parts.pop_back();
      MpzVector& q = part.q;
      const std::uint32_t v = variations_on_unit(q);
      if (v == 0) continue;
      if (v == 1) {
        cells_.push_back({part.a, part.b, sign_at(f_, part.a)});
        continue;
      }
      // Left half (in place): 2^n·q(x/2) without the power of two common to its coefficients;
      // right half: that shifted by one.
      const std::size_t n = q.size() - 1;
      mp_bitcnt_t common = ~mp_bitcnt_t{0};
      for (std::size_t i = 0; i <= n; ++i) {
        mpz_mul_2exp(q[i], q[i], n - i);
        if (mpz_sgn(q[i]) != 0) common = std::min(common, mpz_scan1(q[i], 0));
      }
      for (std::size_t i = 0; i <= n && common > 0; ++i) mpz_fdiv_q_2exp(q[i], q[i], common);
      MpzVector right(q);
      taylor_shift(right, nullptr);
      Fraction mid = (part.a + part.b) * power_of_two(-1);
      parts.push_back({mid, std::move(part.b), std::move(right)});
      parts.push_back({std::move(part.a), std::move(mid), std::move(q)});
    }
  }

  IntPoly f_;
  std::vector<Cell> cells_;
};

Status bisect_root(const FracPoly& mv, const Int& k, const AlgebraicNumber& v, Fraction& lo, Fraction& hi) {
  // With lo >= 0 the roots of m_v(x^k) in [lo, hi] are the k-th roots of those of m_v in
  // [lo^k, hi^k].
  Fraction at_lo = GY_TRY(lo.pow(k)), at_hi = GY_TRY(hi.pow(k));
  PositiveRoots roots(primitive_integer(mv), at_hi);
  while (roots.count(at_lo, at_hi, 2) > 1) {
    poll_interrupt();
    Fraction mid = dyadic_between(lo, hi);
    Fraction power = GY_TRY(mid.pow(k));
    int c = GY_TRY(GY_TRY(AlgebraicNumber::rational(QQ(), power).sub(v)).sign());
    if (c < 0) {
      lo = std::move(mid);
      at_lo = std::move(power);
    } else {
      hi = std::move(mid);
      at_hi = std::move(power);
    }
  }
  return {};
}

// r has no repeated factor. A prime modulo which r keeps its degree and stays squarefree shows it;
// only when a few such primes fail is the gcd with r′ taken over the rationals.
Result<bool> squarefree(const FracPoly& r) {
  const IntPoly ri = primitive_integer(r);
  for (std::size_t i = 0; i < 3; ++i) {
    const Zp F(word_prime(i));
    const WordPoly w = to_word_poly(ri, F);
    if (degree(w) == ri.degree() && is_squarefree(F, w)) return true;
  }
  return GY_TRY(FracPoly::gcd(r, r.derivative())).degree() == 0;
}

// The degrees of the irreducible factors of the monic squarefree f modulo F's prime, one entry per
// factor, by distinct-degree splitting.
std::vector<std::size_t> factor_degrees_mod(const Zp& F, WordPoly f) {
  std::vector<std::size_t> out;
  const Int p(static_cast<std::int64_t>(F.p));
  WordPoly h{0, 1};  // x^(p^i) mod f
  std::optional<WordPolyModulus> mod;
  for (std::size_t i = 1; 2 * i <= static_cast<std::size_t>(degree(f)); ++i) {
    if (!mod) mod.emplace(F, f);
    h = mod->powmod(h, p);
    WordPoly g = h;
    if (g.size() < 2) g.resize(2, 0);
    g[1] = F.sub(g[1], 1);
    gy::trim(g);
    g = gcd(F, std::move(g), f);
    if (degree(g) <= 0) continue;
    for (std::int64_t k = 0; k < degree(g) / static_cast<std::int64_t>(i); ++k) out.push_back(i);
    f = quotient(F, std::move(f), g);
    h = rem(F, std::move(h), f);
    mod.reset();
  }
  if (degree(f) > 0) out.push_back(static_cast<std::size_t>(degree(f)));
  return out;
}

using DegreeBits = std::bitset<kMaxFieldDegree + 1>;

// The sums of the sub-multisets of `degrees`.
DegreeBits subset_sums(const std::vector<std::size_t>& degrees) {
  DegreeBits sums;
  sums.set(0);
  for (std::size_t e : degrees) sums |= sums << e;
  return sums;
}

// Whether the monic squarefree f has a root modulo F's prime.
bool has_root_mod(const Zp& F, const WordPoly& f) {
  WordPoly h = WordPolyModulus(F, f).powmod(WordPoly{0, 1}, Int(static_cast<std::int64_t>(F.p)));
  if (h.size() < 2) h.resize(2, 0);
  h[1] = F.sub(h[1], 1);
  gy::trim(h);
  return degree(gcd(F, std::move(h), f)) > 0;
}

// Whether Res_X(m_A(X), m_B(Y − t·X)), squarefree, is shown irreducible. Its irreducible factors are
// the norms from A of the irreducible factors of m_B over A, and likewise from B of those of m_A, so
// a proper one has a degree D < d_A·d_B that both d_A and d_B divide, with D / d_A the degree of a
// factor of m_B over A. Modulo a prime where A has a place of degree one (m_A keeps its degree, stays
// squarefree and has a root), that factor reduces to a product of factors of m_B modulo p, so D / d_A
// is a sum of the degrees of m_B's factors there; likewise with the roles swapped. When no degree D
// survives the primes tried, R is irreducible; false only means no proof was found.
bool join_resultant_irreducible(const IntPoly& ma, const IntPoly& mb) {
  const std::size_t da = static_cast<std::size_t>(ma.degree()), db = static_cast<std::size_t>(mb.degree());
  const std::size_t g = std::gcd(da, db);
  if (g == 1) return true;
  // Candidates, as k = D / d_A: the multiples of d_B / g below d_B.
  DegreeBits candidates;
  for (std::size_t k = db / g; k < db; k += db / g) candidates.set(k);
  // The factor degrees of the larger polynomial are found only while that is cheap.
  constexpr std::size_t kCheapSplit = 32;
  constexpr int kPrimes = 48;
  int tried = 0;
  for (std::uint64_t p = 3; tried < kPrimes && candidates.any(); p += 2) {
    if (!is_word_prime(p) || mod_word(ma.lead(), p) == 0 || mod_word(mb.lead(), p) == 0) continue;
    const Zp F(p);
    const WordPoly fa = monic(F, to_word_poly(ma, F)), fb = monic(F, to_word_poly(mb, F));
    if (!is_squarefree(F, fa) || !is_squarefree(F, fb)) continue;
    ++tried;
    poll_interrupt();
    if ((db <= kCheapSplit || da > kCheapSplit) && has_root_mod(F, fa)) {
      const DegreeBits sums = subset_sums(factor_degrees_mod(F, fb));
      for (std::size_t k = 1; k < db; ++k)
        if (candidates.test(k) && !sums.test(k)) candidates.reset(k);
    }
    if (candidates.any() && (da <= kCheapSplit || db > kCheapSplit) && has_root_mod(F, fb)) {
      const DegreeBits sums = subset_sums(factor_degrees_mod(F, fa));
      for (std::size_t k = 1; k < db; ++k)
        if (candidates.test(k) && !sums.test(k * da / db)) candidates.reset(k);
    }
  }
  return candidates.none();
}

// The factors `factor` gives for the join's squarefree resultant r: r's primitive integer form alone
// when that is shown irreducible, within the sizes `factor` accepts.
Result<std::vector<FracPoly>> join_factors(const FracPoly& r, const FracPoly& ma, const FracPoly& mb) {
  // Small resultants factor at once; the proof pays from large degrees or coefficients on.
  const IntPoly ri = primitive_integer(r);
  if (ri.degree() < 48 && max_bits(ri) < 512 && std::gcd(ma.degree(), mb.degree()) > 1) return factor(r);
  if (within_factor_limits(r) && join_resultant_irreducible(primitive_integer(ma), primitive_integer(mb)))
    return std::vector<FracPoly>{to_fractions(ri)};
  return factor(r);
}

// alpha in C = Q(gamma), gamma = beta + t·alpha, from the remainder s1(y)·x + s0(y) of degree one
// of the subresultant sequence of m_A(x) and m_B(y − t·x). A subresultant lies in the ideal of the
// two, so at y = gamma, where their gcd is x − alpha, it is a multiple of x − alpha, and
// alpha = −s0(gamma) / s1(gamma). Absent when the remainder vanishes at gamma.
Result<std::optional<AlgebraicNumber>> linear_root(const FieldRef& c, const BiPoly& linear) {
  if (linear.degree() != 1) return std::optional<AlgebraicNumber>();
  AlgebraicNumber s1 = GY_TRY(AlgebraicNumber::make(c, linear.coeffs[1]));
  if (s1.is_zero()) return std::optional<AlgebraicNumber>();
  AlgebraicNumber s0 = GY_TRY(AlgebraicNumber::make(c, linear.coeffs[0]));
  // With s1 = S1/d1 and s0 = S0/d0 (S0 and S1 integral), alpha = −(d1/d0)·(S0/S1).
  Int d0, d1;
  const IntPoly S1 = clear_denominators(s1.value(), d1), S0 = clear_denominators(s0.value(), d0);
  const IntPoly& m = c->integer_polynomial();
  // Small quotients come as fast by the field's inverse; from primes, large ones come far faster.
  if (m.coeffs.size() * (max_bits(m) + max_bits(S1) + max_bits(S0)) < (std::uint64_t{1} << 14))
    return std::optional<AlgebraicNumber>(GY_TRY(s0.div(s1)).neg());
  if (auto u = solve_mod_rational(S1, S0, m))
    return std::optional<AlgebraicNumber>(GY_TRY(AlgebraicNumber::make(c, fractions_over(u->first, -d1, d0 * u->second.to_int()))));
  return std::optional<AlgebraicNumber>(GY_TRY(s0.div(s1)).neg());
}

// Whether the join's resultant comes faster from primes than from the sequence over the rationals:
// with a quadratic field the sequence has one long step and stays cheap, and small joins are done
// before the primes are chosen; from cubics on its remainders grow at every step.
bool join_by_primes(const FracPoly& ma, const FracPoly& mb) {
  return std::min(ma.degree(), mb.degree()) >= 3 && ma.degree() * mb.degree() >= 16;
}

// The refusal that the join of fields of m_A and m_B (degrees of at least three, as joined by
// primes) meets, known without its resultant R(y) = Res_x(m_A(x), m_B(y − x)): `factor` checks
// R's constant ±Res(m_A(x), m_B(−x)) first, numerator before denominator. The resultant of the
// first shift is the one factored when it is squarefree, as `squarefree` finds it: modulo one of
// its three primes, here a prime dividing neither leading coefficient in x, R keeps its degree and
// no square. Nothing when the constant is within the limits, or no such prime is found (the join's
// own path then decides).
std::optional<Error> join_refusal(const FracPoly& ma, const FracPoly& mb) {
  const IntPoly A = primitive_integer(ma), B = primitive_integer(mb);
  const std::uint64_t da = static_cast<std::uint64_t>(A.degree()), db = static_cast<std::uint64_t>(B.degree());
  // Hadamard's bound, loosely: below the limit no constant passes it.
  const std::uint64_t size = db * (norm_bits(A) + 1) + da * (norm_bits(B) + 1);
  if (size <= kFactorMaxBits || size > Int::kMaxBits / 16) return std::nullopt;
  std::vector<Fraction> c(mb.coeffs.size());
  for (std::size_t j = 0; j < c.size(); ++j) c[j] = j % 2 ? mb.coeffs[j].neg() : mb.coeffs[j];
  const BiPoly at_zero = lift_constants(FracPoly(std::move(c)));
  std::optional<FracPoly> r0 = resultant_by_primes(lift_constants(ma), at_zero, nullptr);
  if (!r0 || r0->is_zero()) return std::nullopt;
  const Fraction& constant = r0->coeffs[0];
  const std::uint64_t num = constant.num().bit_length(), den = constant.den().bit_length();
  if (num <= kFactorMaxBits && den <= kFactorMaxBits) return std::nullopt;
  const std::size_t n = static_cast<std::size_t>(da * db);
  bool squarefree = false;
  for (std::size_t i = 0; i < 3 && !squarefree; ++i) {
    poll_interrupt();
    const Zp F(word_prime(i));
    const WordPoly a = to_word_poly(A, F), b = to_word_poly(B, F);
    if (degree(a) != static_cast<std::int64_t>(da) || degree(b) != static_cast<std::int64_t>(db)) continue;
    // R(y) modulo the prime, from its values at y = 0..n: m_B(y − x) has x-leading coefficient
    // ±lc(m_B), so its reduction keeps the resultant's.
    std::vector<std::uint64_t> values(n + 1);
    for (std::size_t y = 0; y <= n; ++y) {
      WordPoly shifted;  // B(y − x) by Horner's rule
      for (std::size_t j = b.size(); j-- > 0;) {
        WordPoly next(shifted.size() + 1, 0);
        for (std::size_t k = 0; k < shifted.size(); ++k) {
          next[k] = F.add(next[k], F.mul(shifted[k], y));
          next[k + 1] = F.sub(next[k + 1], shifted[k]);
        }
        next[0] = F.add(next[0], b[j]);
        gy::trim(next);
        shifted = std::move(next);
      }
      values[y] = resultant(F, a, shifted);
    }
    std::vector<std::uint64_t> ys(n + 1);
    for (std::size_t y = 0; y <= n; ++y) ys[y] = y;
    WordPoly r = std::move(interpolate(F, ys, {values})[0]);
    gy::trim(r);
    squarefree = degree(r) == static_cast<std::int64_t>(n) && is_squarefree(F, r);
  }
  if (!squarefree) return std::nullopt;
  return Error::range(cat("polynomial coefficient bits ", num > kFactorMaxBits ? num : den,
                          " exceeds the factoring limit of ", kFactorMaxBits));
}

// The size, in bits, past which a common field's generators are not written out.
constexpr std::uint64_t kMaxJoinBits = std::uint64_t{1} << 26;

Result<Join> join_fields(const FieldRef& a, const FieldRef& b) {
  if (GY_TRY(NumberField::eq(a, b))) {
    AlgebraicNumber ga = GY_TRY(AlgebraicNumber::generator(a));
    return Join{a, ga, ga};
  }
  // A rational generator lies in every field.
  if (b->degree() == 1) return Join{a, GY_TRY(AlgebraicNumber::generator(a)), rational_generator(b, a)};
  if (a->degree() == 1) return Join{b, rational_generator(a, b), GY_TRY(AlgebraicNumber::generator(b))};
  const std::size_t da = a->degree(), db = b->degree();
  if (da * db > static_cast<std::size_t>(kMaxFieldDegree))
    return fail(Error::range(cat("common field of fields of degree ", da, " and ", db,
                                 " exceeds the field degree limit of ", kMaxFieldDegree)));
  const FracPoly& ma = a->minimal_polynomial();
  const FracPoly& mb = b->minimal_polynomial();
  if (join_by_primes(ma, mb))
    if (auto refused = join_refusal(ma, mb)) return fail(std::move(*refused));

  // R(Y) = Res_X(m_A(X), m_B(Y − t·X)) has the roots beta_k + t·alpha_i; the first t that makes it
  // squarefree gives a primitive element gamma = beta + t·alpha. At most N(N−1)/2 values of t fail.
  const BiPoly bi_a = lift_constants(ma);
  const std::int64_t n = static_cast<std::int64_t>(da * db);
  std::int64_t t = 1;
  FracPoly r;
  BiPoly linear;
  for (;; ++t) {
    poll_interrupt();
    if (t > n * (n - 1) / 2 + 1) return fail(Error::could_not_construct());
    BiPoly lin = bivariate_from_vecs({{Fraction(), one_fraction()}, {integer(-t)}});
    BiPoly acc;
    for (std::size_t j = mb.coeffs.size(); j-- > 0;) {
      acc = BiPoly::mul(acc, lin);
      if (acc.coeffs.empty()) acc.coeffs.emplace_back();
      acc.coeffs[0] = FracPoly::add(acc.coeffs[0], FracPoly::constant(mb.coeffs[j]));
      acc.trim();
    }
    std::optional<FracPoly> by_primes;
    if (join_by_primes(ma, mb)) by_primes = resultant_by_primes(bi_a, acc, &linear);
    r = by_primes ? std::move(*by_primes) : GY_TRY(resultant(bi_a, acc, &linear));
    bool sqf = GY_TRY(squarefree(r));
    if (sqf) break;
  }
  const std::vector<FracPoly> factors = GY_TRY(join_factors(r, ma, mb));
  std::vector<IntPoly> integral;
  for (const auto& f : factors) integral.push_back(primitive_integer(f));
  const Fraction tf = integer(t);
  // The first round of one refinement of A and one of B whose interval of gamma holds a single root
  // of r: the intervals nest, so the count of roots in them only falls, and the round is found by
  // doubling and halving the number of rounds.
  struct Isolated {
    Fraction lo, hi;
    const FracPoly* chosen;
  };
  std::vector<Isolated> isolated;
  const IntPoly r_int = primitive_integer(r);
  // The roots of the squarefree r are the d_A·d_B distinct sums beta_k + t·alpha_i, and a real one
  // has both terms real: else its conjugate, another pair's sum, would repeat it. So the roots in
  // [lo, hi] are the sums of real roots of m_A and m_B that fall inside (never on an end, where r
  // does not vanish). Counted so when r is large; a small one counts its roots by Descartes' rule.
  // Irreducible factors of degree two or more have no rational root, so r vanishes at no end.
  const bool no_rational_root =
      std::all_of(factors.begin(), factors.end(), [](const FracPoly& f) { return f.degree() >= 2; });
  std::optional<std::pair<RealRoots, RealRoots>> roots;
  auto count_pairs = [&](const Fraction& lo, const Fraction& hi) -> std::optional<std::uint32_t> {
    if (!roots) roots.emplace(primitive_integer(ma), primitive_integer(mb));
    RealRoots& roots_a = roots->first;
    RealRoots& roots_b = roots->second;
    if (!roots_a.usable() || !roots_b.usable()) return std::nullopt;
    if (!no_rational_root && (sign_at(r_int, lo) == 0 || sign_at(r_int, hi) == 0)) return std::nullopt;
    // Roots in cells of 2^-scale make sums far narrower than [lo, hi]; a sum not yet decided narrows
    // its roots to a finer grid.
    const std::int64_t start = 4 + static_cast<std::int64_t>(std::bit_width(static_cast<std::uint64_t>(t))) -
                               floor_log2(hi - lo);
    std::uint32_t inside = 0;
    for (std::size_t i = 0; i < roots_a.size() && inside < 2; ++i)
      for (std::size_t k = 0; k < roots_b.size() && inside < 2; ++k)
        for (std::int64_t scale = start;; scale += std::max<std::int64_t>(16, std::abs(scale))) {
          poll_interrupt();
          if (!roots_a.narrow_to(i, scale) || !roots_b.narrow_to(k, scale)) return std::nullopt;
          const Fraction s_lo = tf * roots_a.lo(i) + roots_b.lo(k), s_hi = tf * roots_a.hi(i) + roots_b.hi(k);
          if (s_hi < lo || hi < s_lo) break;
          if (lo <= s_lo && s_hi <= hi) {
            ++inside;
            break;
          }
        }
    return inside;
  };
  const bool large = r_int.degree() >= 48 || max_bits(r_int) >= 512;
  const auto reached = GY_TRY(NumberField::refine_pair_until(
      *a, *b, [&](const Fraction& alo, const Fraction& ahi, const Fraction& blo, const Fraction& bhi) -> Result<bool> {
        Fraction lo = tf * alo + blo, hi = tf * ahi + bhi;
        std::uint32_t total = 0;
        const FracPoly* chosen = nullptr;
        auto settle = [&](std::uint32_t inside) -> bool {
          if (inside != 1) return false;
          // The one root lies in the one factor that changes sign across the interval: found for
          // the last interval only.
          isolated.push_back({lo, hi, nullptr});
          return true;
        };
        if (large && lo < hi)
          if (auto inside = count_pairs(lo, hi)) return settle(*inside);
        if (lo < hi) {
          // Descartes' rule on the whole interval first: the variations bound the roots inside and
          // share their parity. Since gamma lies in the interval, an even sum with no root at an
          // end means two roots or more; sums of at most one per factor are the counts themselves.
          std::uint32_t variations = 0, ends = 0;
          bool exact = true;
          for (std::size_t i = 0; i < factors.size(); ++i) {
            const UnitMap m = map_to_unit(integral[i], lo, hi);
            const std::uint32_t v = variations_on_unit(m.q);
            if (v + m.ends > 0) chosen = &factors[i];
            exact = exact && v <= 1;
            variations += v;
            ends += m.ends;
          }
          if (!exact && ends == 0 && variations % 2 == 0) return false;
          if (exact && variations + ends != 1) return false;
          if (exact) {
            isolated.push_back({std::move(lo), std::move(hi), chosen});
            return true;
          }
          chosen = nullptr;
        }
        for (std::size_t i = 0; i < factors.size(); ++i) {
          // The factors are irreducible, so squarefree; Descartes' rule counts their roots unless it
          // runs long, and the Sturm sequence decides otherwise.
          std::optional<std::uint32_t> c;
          if (lo < hi) c = count_roots_descartes(integral[i], lo, hi);
          if (!c) c = GY_TRY(count_real_roots(factors[i], lo, hi));
          if (*c > 0) chosen = &factors[i];
          total += *c;
        }
        if (total != 1) return false;
        isolated.push_back({std::move(lo), std::move(hi), chosen});
        return true;
      }));
  const Fraction lo = tf * reached[0] + reached[2], hi = tf * reached[1] + reached[3];
  Isolated& last = *std::find_if(isolated.begin(), isolated.end(),
                                 [&](const Isolated& x) { return x.lo == lo && x.hi == hi; });
  const FracPoly* chosen = last.chosen;
  for (std::size_t i = 0; i < factors.size() && !chosen; ++i)
    if (factors.size() == 1 || sign_at(integral[i], lo) != sign_at(integral[i], hi)) chosen = &factors[i];
  std::pair<Fraction, Fraction> iv{std::move(last.lo), std::move(last.hi)};
  if (!chosen) return fail(Error::could_not_construct());
  const FracPoly& mc = *chosen;
  const std::size_t dc = static_cast<std::size_t>(mc.degree());

  // deg m_C is the degree of Q(alpha, beta): equal to d_A exactly when beta already lies in A.
  if (dc == da) {
    auto beta = GY_TRY(field_poly_gcd(a, mb.coeffs, mc.coeffs, {Fraction(), tf}, {one_fraction()}));
    if (beta) return Join{a, GY_TRY(AlgebraicNumber::generator(a)), std::move(*beta)};
  }
  if (dc == db) {
    auto alpha = GY_TRY(field_poly_gcd(b, ma.coeffs, mc.coeffs, {Fraction(), one_fraction()}, {tf}));
    if (alpha) return Join{b, std::move(*alpha), GY_TRY(AlgebraicNumber::generator(b))};
  }
  // Writing alpha and beta in powers of gamma takes about d_C²·b/8 bits for a defining polynomial
  // of b-bit coefficients (so does every number of C after): refused at once past the limit.
  const std::uint64_t join_bits = static_cast<std::uint64_t>(dc * dc) * max_bits(primitive_integer(mc)) / 8;
  if (join_bits > kMaxJoinBits)
    return fail(Error::range(cat("common field of degree ", dc, " with coefficients of ", max_bits(primitive_integer(mc)),
                                 " bits would take about ", join_bits, " bits, past the limit of ", kMaxJoinBits,
                                 " bits of a common field")));
  FieldRef c = GY_TRY(NumberField::make_isolated(mc, std::move(iv.first), std::move(iv.second)));
  std::optional<AlgebraicNumber> alpha = GY_TRY(linear_root(c, linear));
  if (!alpha) alpha = GY_TRY(field_poly_gcd(c, ma.coeffs, mb.coeffs, {Fraction(), one_fraction()}, {integer(-t)}));
  if (!alpha) return fail(Error::other("Could not represent alpha and beta (this shouldn't happen)"));
  // beta = gamma − t·alpha.
  AlgebraicNumber gamma = GY_TRY(AlgebraicNumber::generator(c));
  AlgebraicNumber beta = GY_TRY(gamma.sub(GY_TRY(alpha->mul(AlgebraicNumber::rational(c, tf)))));
  return Join{c, std::move(*alpha), std::move(beta)};
}

// The number Σ x_j·g^j of g's field, from the powers g^0 … g^(deg x).
FracPoly substitute(const FracPoly& x, const std::vector<AlgebraicNumber>& powers) {
  std::vector<Fraction> out;
  // How many products reached each coefficient: one is a product of reduced fractions, reduced
  // already, and only sums of two or more take a gcd.
  std::vector<std::uint32_t> terms;
  for (std::size_t j = 0; j < x.coeffs.size(); ++j) {
    const Fraction& c = x.coeffs[j];
    if (c.is_zero()) continue;
    const FracPoly& p = powers[j].value();
    if (out.size() < p.coeffs.size()) {
      out.resize(p.coeffs.size());
      terms.resize(p.coeffs.size());
    }
    for (std::size_t i = 0; i < p.coeffs.size(); ++i) {
      if (p.coeffs[i].is_zero()) continue;
      out[i].add(c * p.coeffs[i], false);
      ++terms[i];
    }
  }
  std::vector<std::size_t> sums;
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (terms[i] > 1) {
      sums.push_back(i);
      bits += out[i].den().bit_length();
    }
  for_each_parallel(sums.size(), reduce_in_parallel(sums.size(), bits) ? 1 : sums.size(),
                    [&](std::size_t k) { out[sums[k]].reduce(); });
  return FracPoly(std::move(out));
}

// (u, v) with x = u·gamma + v·w for the generator gamma of their field, when x has that form (a
// join's new field makes both its images so); none otherwise.
std::optional<std::pair<Fraction, Fraction>> generator_form(const AlgebraicNumber& x, const AlgebraicNumber& w) {
  const auto& a = x.value().coeffs;
  const auto& b = w.value().coeffs;
  auto at = [](const std::vector<Fraction>& c, std::size_t i) { return i < c.size() ? c[i] : Fraction(); };
  std::optional<Fraction> v;
  for (std::size_t i = 0; i < b.size() && !v; ++i)
    if (i != 1 && !b[i].is_zero()) v = at(a, i).div(b[i]).value();
  if (!v) return std::nullopt;
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i)
    if (i != 1 && !(at(a, i) == *v * at(b, i))) return std::nullopt;
  Fraction u = at(a, 1) - *v * at(b, 1);
  if (u.is_zero()) return std::nullopt;
  return std::pair{std::move(u), std::move(*v)};
}

// (u·gamma + v·w)^e in gamma's field k, e below its degree, for w the image of the generator y of a
// field F: the binomial sum taken over F as Σ_l w^l·Q_l(gamma), Q_l of degree e with rational
// coefficients, so that only products by those short Q_l touch w's long coefficients.
Result<AlgebraicNumber> generator_form_power(const FieldRef& k, const FieldRef& f, const AlgebraicNumber& w,
                                             const Fraction& u, const Fraction& v, std::size_t e) {
  // Q_l[e − i] = C(e, i)·u^(e − i)·v^i·(y^i)_l, with y^i reduced in F.
  const std::size_t df = f->degree();
  std::vector<std::vector<Fraction>> q(df, std::vector<Fraction>(e + 1));
  std::vector<Fraction> up(e + 1, one_fraction());
  for (std::size_t i = 1; i <= e; ++i) up[i] = up[i - 1] * u;
  const AlgebraicNumber y = GY_TRY(AlgebraicNumber::generator(f));
  AlgebraicNumber yi = AlgebraicNumber::one(f);
  Fraction c = one_fraction();  // C(e, i)·v^i
  for (std::size_t i = 0; i <= e; ++i) {
    poll_interrupt();
    if (i > 0) {
      yi = GY_TRY(yi.mul(y));
      c = GY_TRY((c * v * Fraction(Int(static_cast<std::int64_t>(e - i + 1)))).div(Fraction(Int(static_cast<std::int64_t>(i)))));
    }
    const Fraction ci = c * up[e - i];
    const auto& coeffs = yi.value().coeffs;
    for (std::size_t l = 0; l < coeffs.size() && l < df; ++l)
      if (!coeffs[l].is_zero()) q[l][e - i] = ci * coeffs[l];
  }
  std::optional<AlgebraicNumber> sum, power;
  for (std::size_t l = 0; l < df; ++l) {
    power = l == 0 ? AlgebraicNumber::one(k) : l == 1 ? w : GY_TRY(power->mul(w));
    if (std::all_of(q[l].begin(), q[l].end(), [](const Fraction& x) { return x.is_zero(); })) continue;
    AlgebraicNumber term = GY_TRY(AlgebraicNumber::make(k, FracPoly(std::move(q[l]))));
    if (l > 0) term = GY_TRY(power->mul(term));
    sum = sum ? GY_TRY(sum->add(term)) : std::move(term);
  }
  return sum ? std::move(*sum) : AlgebraicNumber::zero(k);
}

}  // namespace

Status common_field(std::span<AlgebraicNumber> numbers) {
  if (numbers.size() < 2) return {};
  // Each distinct field object met, with the image of its generator in the field K built so far.
  struct Source {
    FieldRef field;
    AlgebraicNumber image;
    std::vector<AlgebraicNumber> powers;
    std::vector<AlgebraicNumber> squares;  // image^(2^j)
    std::vector<AlgebraicNumber> inverse_squares;  // image^(−2^j), for a field of x^n − w
    // For a field of a fresh join into a new K: the other field F, the image w of F's generator,
    // and u, v with image = u·gamma + v·w for K's generator gamma.
    std::optional<std::tuple<FieldRef, AlgebraicNumber, Fraction, Fraction>> shifted;
  };
  FieldRef k = numbers[0].field();
  std::vector<Source> sources;
  std::unordered_map<const NumberField*, std::size_t> index;
  sources.push_back({k, GY_TRY(AlgebraicNumber::generator(k)), {}, {}, {}, {}});
  index.emplace(k.get(), 0);
  for (std::size_t i = 1; i < numbers.size(); ++i) {
    const FieldRef& b = numbers[i].field();
    if (b == k || index.contains(b.get())) continue;
    Join j = GY_TRY(join_fields(k, b));
    if (j.field != k) {
      // Powers of the new image of k's generator, as far as the images to rewrite reach.
      std::vector<AlgebraicNumber> powers{AlgebraicNumber::one(j.field)};
      std::int64_t top = 0;
      for (const auto& s : sources) top = std::max(top, s.image.value().degree());
      for (std::int64_t e = 1; e <= top; ++e) {
        poll_interrupt();
        powers.push_back(GY_TRY(powers.back().mul(j.alpha)));
      }
      for (auto& s : sources) {
        s.image = AlgebraicNumber(substitute(s.image.value(), powers), j.field);
        s.shifted.reset();
      }
    }
    index.emplace(b.get(), sources.size());
    std::optional<std::tuple<FieldRef, AlgebraicNumber, Fraction, Fraction>> shifted;
    if (j.field != k && j.field != b && k->degree() > 1 && b->degree() > 1) {
      if (auto uv = generator_form(j.beta, j.alpha)) shifted.emplace(k, j.alpha, std::move(uv->first), std::move(uv->second));
      // After the first join, K's generator is the first source's own.
      if (sources.size() == 1)
        if (auto uv = generator_form(j.alpha, j.beta))
          sources[0].shifted.emplace(b, j.beta, std::move(uv->first), std::move(uv->second));
    }
    sources.push_back({b, std::move(j.beta), {}, {}, {}, std::move(shifted)});
    k = std::move(j.field);
  }
  // Rewrite every number once; nothing is changed before all values are known.
  std::vector<std::pair<std::size_t, AlgebraicNumber>> rewritten;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (numbers[i].field() == k) continue;
    Source& s = sources[index.at(numbers[i].field().get())];
    const FracPoly& v = numbers[i].value();
    if (s.powers.empty()) s.powers.push_back(AlgebraicNumber::one(k));
    std::size_t terms = 0;
    for (const auto& c : v.coeffs) terms += c.is_zero() ? 0 : 1;
    if (terms * 4 <= v.coeffs.size() && static_cast<std::int64_t>(s.powers.size()) <= v.degree()) {
      // A value of few terms takes each power it has as a product of repeated squares.
      std::vector<AlgebraicNumber> powers(v.coeffs.size());
      if (s.squares.empty()) s.squares.push_back(s.image);
      for (std::size_t e = 0; e < v.coeffs.size(); ++e) {
        if (v.coeffs[e].is_zero()) continue;
        if (e < s.powers.size()) {
          powers[e] = s.powers[e];
          continue;
        }
        // In the field of x^n − w, image^e = w·image^(e − n) when the inverse's powers cost less.
        const FracPoly& m = s.field->minimal_polynomial();
        const std::size_t n = m.coeffs.size() - 1;
        const bool binomial = e < n && is_binomial(m);
        const bool inverted = binomial && power_cost(n - e) + inverse_cost(k->degree()) < power_cost(e);
        // Below K's degree, the image u·gamma + v·w of a fresh join takes its power as a binomial
        // sum over F when that costs fewer long products than the repeated squares.
        if (s.shifted && !inverted && e < k->degree()) {
          const auto& [other, w, u, v] = *s.shifted;
          if (other->degree() - 1 < power_cost(e) - 2) {
            powers[e] = GY_TRY(generator_form_power(k, other, w, u, v, e));
            continue;
          }
        }
        std::vector<AlgebraicNumber>& sq = inverted ? s.inverse_squares : s.squares;
        if (sq.empty()) sq.push_back(inverted ? GY_TRY(s.image.inverse()) : s.image);
        const std::size_t f = inverted ? n - e : e;
        std::optional<AlgebraicNumber> p;
        for (std::size_t j = 0; (f >> j) != 0; ++j) {
          poll_interrupt();
          while (sq.size() <= j) sq.push_back(GY_TRY(sq.back().mul(sq.back())));
          if ((f >> j) & 1) p = p ? GY_TRY(p->mul(sq[j])) : sq[j];
        }
        if (inverted) p = GY_TRY(p->mul(AlgebraicNumber::rational(k, GY_TRY(m.coeffs[0].neg().div(m.lead())))));
        powers[e] = std::move(*p);
      }
      rewritten.emplace_back(i, AlgebraicNumber(substitute(v, powers), k));
      continue;
    }
    while (static_cast<std::int64_t>(s.powers.size()) <= v.degree()) {
      poll_interrupt();
      s.powers.push_back(GY_TRY(s.powers.back().mul(s.image)));
    }
    rewritten.emplace_back(i, AlgebraicNumber(substitute(v, s.powers), k));
  }
  for (auto& [i, x] : rewritten) numbers[i] = std::move(x);
  return {};
}

}  // namespace gy
