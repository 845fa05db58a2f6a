#include "num/polynomial.hpp"

#include "num/interrupt.hpp"
#include "num/transform.hpp"
#include "pool.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <ostream>

namespace gy {

// ---------------------------------------------------------------------------------------------
// Residues

Result<Modular> Modular::make(const Int& v, const Int& m) {
  if (m.sign() <= 0) return fail(Error::division("Division by zero"));
  return Modular{reduce_mod(v, m), m};
}

Result<Modular> Modular::mul(const Modular& a, const Modular& b) {
  if (!(a.modulus == b.modulus)) return fail(different_moduli());
  return Modular{reduce_mod(a.value * b.value, a.modulus), a.modulus};
}

Result<Modular> Modular::sub(const Modular& a, const Modular& b) {
  if (!(a.modulus == b.modulus)) return fail(different_moduli());
  return Modular{reduce_mod(a.value - b.value, a.modulus), a.modulus};
}

Result<Modular> Modular::add(const Modular& a, const Modular& b) {
  if (!(a.modulus == b.modulus)) return fail(different_moduli());
  return Modular{reduce_mod(a.value + b.value, a.modulus), a.modulus};
}

Result<Modular> Modular::div(const Modular& a, const Modular& b) {
  if (!(a.modulus == b.modulus)) return fail(different_moduli());
  const Int& m = a.modulus;
  // Extended Euclid on (b, m): b·s ≡ g (mod m).
  Int old_r = b.value, r = m, old_s = Int(1), s = Int(0);
  while (!r.is_zero()) {
    auto [q, rem] = Int::div_rem(old_r, r);
    old_r = std::move(r);
    r = std::move(rem);
    Int next_s = old_s - q * s;
    old_s = std::move(s);
    s = std::move(next_s);
  }
  const Int& g = old_r;
  if (g.is_zero() || !(a.value % g).is_zero()) return fail(Error::division("Not divisible"));
  return Modular{reduce_mod((a.value / g) * old_s, m), m};
}

std::optional<std::int64_t> fujiwara_exponent(std::span<const std::uint64_t> bits) {
  if (bits.empty()) return std::nullopt;
  const auto n = static_cast<std::int64_t>(bits.size()) - 1;
  const auto lead = static_cast<std::int64_t>(bits.back());
  std::optional<std::int64_t> top;
  for (std::int64_t i = 1; i <= n; ++i) {
    const std::uint64_t b = bits[static_cast<std::size_t>(n - i)];
    if (b == 0) continue;
    const std::int64_t num = static_cast<std::int64_t>(b) - lead + 1;
    const std::int64_t e = num >= 0 ? (num + i - 1) / i : -(-num / i);
    top = top ? std::max(*top, e) : e;
  }
  return top;
}

Modular CoeffTraits<Modular>::zero(const Polynomial<Modular>& ctx) { return Modular{Int(0), ctx.modulus}; }
Modular CoeffTraits<Modular>::one(const Polynomial<Modular>& ctx) {
  return Modular{reduce_mod(Int(1), ctx.modulus), ctx.modulus};
}

FracPoly CoeffTraits<FracPoly>::neg(const FracPoly& x) { return neg_coefficients(x.coeffs); }

namespace {

Fraction ratio(Int n, const Int& d) {
  if (d.is_one()) return Fraction(std::move(n));
  return expect(Fraction::make(std::move(n), d), "denominator is non-zero");
}

}  // namespace

IntPoly clear_denominators(const FracPoly& p, Int& den) {
  den = Int(1);
  for (const auto& x : p.coeffs) {
    const Int& e = x.den();
    if (e.is_one() || e == den) continue;
    // The denominators mostly divide each other: a division test spares most gcds.
    if (!den.is_small() && mpz_divisible_p(den.view().get(), e.view().get())) continue;
    den = Int::lcm(den, e);
  }
  IntPoly r;
  r.coeffs.reserve(p.coeffs.size());
  Mpz q;
  for (const auto& x : p.coeffs) {
    if (den.is_one() || x.den() == den) {
      r.coeffs.push_back(x.num());
    } else if (den.is_small()) {
      r.coeffs.push_back(x.num() * (den / x.den()));
    } else {
      mpz_divexact(q.get(), den.view().get(), x.den().view().get());
      mpz_mul(q.get(), q.get(), x.num().view().get());
      r.coeffs.push_back(q.take_int());
    }
  }
  return r;
}

namespace {
// Sums of polynomials with denominators at least this long are reduced over a common denominator,
// when at least this many of their coefficients need a gcd.
constexpr std::uint64_t kCommonDenominatorBits = 16384;
constexpr std::size_t kCommonDenominatorTerms = 8;
// Pivots that reduced_fractions takes at most before the remaining coefficients take a gcd each.
constexpr unsigned kPivots = 3;
// Fewer coefficients than reduce in parallel take a pivot from this many on, over a den this long;
// as many as kCommonDenominatorTerms over a den of kPivotBits.
constexpr std::size_t kLongFewTerms = 4;
constexpr std::uint64_t kLongFewBits = 65536;
constexpr std::uint64_t kPivotBits = 16384;
}  // namespace

Int combined_gcd(std::span<const Int> a, const Int& e) {
  Mpz s, t;
  std::uint64_t w = 0x9e3779b97f4a7c15ull;
  for (const auto& x : a) {
    if (x.is_zero()) continue;
    w = w * 6364136223846793005ull + 1442695040888963407ull;
    mpz_addmul_ui(s.get(), x.view().get(), (w >> 33) | 1);
  }
  mpz_gcd(t.get(), s.get(), e.view().get());
  return t.to_int();
}

double product_cost(double a, double b) {
  if (a < b) std::swap(a, b);
  return b < 32 ? a * b : a * 32 * std::pow(b / 32, 0.585);
}

namespace {

// x mod D for x >= 0 by Barrett's reduction, with inv = floor(2^(2k)/D) for D of k bits: for x below
// 2^(2k), two products in place of a division that would find its own inverse each time.
class BarrettMod {
 public:
  explicit BarrettMod(mpz_srcptr d) : d_(d), k_(mpz_sizeinbase(d, 2)) {
    Mpz t;
    mpz_setbit(t.get(), 2 * k_);
    mpz_fdiv_q(inv_.get(), t.get(), d);
  }
  // With q = floor(floor(x / 2^(k−1))·inv / 2^(k+1)), floor(x/D) − 2 <= q <= floor(x/D).
  void reduce(Mpz& x, Mpz& q) const {
    if (mpz_sizeinbase(x.get(), 2) > 2 * k_) {
      mpz_mod(x.get(), x.get(), d_);
      return;
    }
    mpz_tdiv_q_2exp(q.get(), x.get(), k_ - 1);
    mpz_mul(q.get(), q.get(), inv_.get());
    mpz_tdiv_q_2exp(q.get(), q.get(), k_ + 1);
    mpz_submul(x.get(), q.get(), d_);
    while (mpz_cmp(x.get(), d_) >= 0) mpz_sub(x.get(), x.get(), d_);
  }

 private:
  mpz_srcptr d_;
  std::size_t k_;
  Mpz inv_;
};

// Dens from this many bits on take Barrett's reduction in the product of fractions_over.
constexpr std::size_t kBarrettBits = 40000;

}  // namespace

// A factor that U_k·c shares with D is made of the primes of G = gcd(D, c·Π U_k mod D): each gcd
// is taken with S, the part of D made of those primes, and D's gcds of the full size are only two
// or three in all when S is short.
FracPoly fractions_over(const std::vector<Mpz>& u, const Int& scale, const Int& den) {
  std::vector<Fraction> out(u.size());
  std::vector<std::size_t> nonzero;
  for (std::size_t k = 0; k < u.size(); ++k)
    if (mpz_sgn(u[k].get()) != 0) nonzero.push_back(k);
  if (nonzero.empty()) return FracPoly(std::move(out));
  const auto dv = den.view();
  // Π U_k mod D, a product per chunk of coefficients in parallel. Long dens take Barrett's
  // reduction of the products' magnitudes: ±G has the same gcd with D.
  const std::size_t chunks = std::min<std::size_t>(nonzero.size(), 8);
  std::vector<Mpz> part(chunks);
  std::optional<BarrettMod> barrett;
  if (den.bit_length() >= kBarrettBits && nonzero.size() > chunks) barrett.emplace(dv.get());
  for_each_parallel(chunks, 1, [&](std::size_t c) {
    mpz_set_ui(part[c].get(), 1);
    Mpz q;
    for (std::size_t j = c; j < nonzero.size(); j += chunks) {
      poll_interrupt();
      mpz_mul(part[c].get(), part[c].get(), u[nonzero[j]].get());
      if (barrett) {
        mpz_abs(part[c].get(), part[c].get());
        barrett->reduce(part[c], q);
      } else {
        mpz_mod(part[c].get(), part[c].get(), dv.get());
      }
    }
  });
  Mpz g, t, t2;
  mpz_mod(g.get(), scale.view().get(), dv.get());
  for (const auto& x : part) {
    mpz_mul(g.get(), g.get(), x.get());
    mpz_mod(g.get(), g.get(), dv.get());
  }
  mpz_gcd(t.get(), g.get(), dv.get());
  // S = gcd(D, G^(2^j)) once it stops growing.
  for (;;) {
    mpz_mul(t2.get(), t.get(), t.get());
    mpz_gcd(t2.get(), t2.get(), dv.get());
    if (mpz_cmp(t2.get(), t.get()) == 0) break;
    mpz_swap(t.get(), t2.get());
  }
  const Int S = t.to_int();
  for_each_parallel(nonzero.size(), 1, [&](std::size_t j) {
    const std::size_t k = nonzero[j];
    Int x = u[k].to_int();
    if (!scale.is_one()) x = x * scale;
    if (S.is_one()) {
      out[k] = Fraction::from_coprime(std::move(x), den);
      return;
    }
    Mpz r;
    mpz_mod(r.get(), x.view().get(), S.view().get());
    mpz_gcd(r.get(), r.get(), S.view().get());
    if (mpz_cmp_ui(r.get(), 1) == 0) {
      out[k] = Fraction::from_coprime(std::move(x), den);
      return;
    }
    const Int gk = r.to_int();
    out[k] = Fraction::from_coprime(x / gk, den / gk);
  });
  return FracPoly(std::move(out));
}

namespace {

// reduced_fractions, with `depth` pivots taken before this one.
FracPoly reduced_fractions_from(const std::vector<Int>& p, const Int& den, unsigned depth) {
  std::vector<Fraction> out(p.size());
  if (den.is_one()) {
    for (std::size_t i = 0; i < p.size(); ++i) out[i] = Fraction(p[i]);
    return FracPoly(std::move(out));
  }
  const bool wide = reduce_in_parallel(p.size(), p.size() * den.bit_length());
  std::size_t first = 0, nonzero = 0;
  std::uint64_t widest = 0;
  while (first < p.size() && p[first].is_zero()) ++first;
  for (const auto& x : p) {
    nonzero += x.is_zero() ? 0 : 1;
    widest = std::max(widest, x.bit_length());
  }
  // Fewer or shorter coefficients than reduce in parallel take the pivot too, in place of a gcd of
  // den's length each, when den is about as long as they are (far longer ones cost a gcd each
  // mostly in its first division): a few over a long den, many over a shorter one.
  const std::uint64_t bits = den.bit_length();
  const bool pivot = wide || (2 * bits >= widest && ((nonzero >= kLongFewTerms && bits >= kLongFewBits) ||
                                                     (nonzero >= kCommonDenominatorTerms && bits >= kPivotBits)));
  if (!pivot || den.sign() <= 0 || first == p.size()) {
    for_each_parallel(p.size(), wide ? 1 : p.size(), [&](std::size_t i) {
      out[i] = expect(Fraction::make(p[i], den), "denominator is non-zero");
    });
    return FracPoly(std::move(out));
  }
  const Int g1 = Int::gcd(p[first], den), rest1 = den / g1;
  out[first] = Fraction::from_coprime(p[first] / g1, rest1);
  // The pivot g: g1, or the part of it that a combination of the others shares when that is most
  // of it (a prime of g1 that some coefficient lacks would set all of those apart).
  Int g = g1;
  bool narrowed = false;
  if (!g1.is_one()) {
    Int shared = combined_gcd(std::span<const Int>(p).subspan(first + 1), g1);
    if (shared.bit_length() < g1.bit_length() && 8 * (g1.bit_length() - shared.bit_length()) <= g1.bit_length()) {
      g = std::move(shared);
      narrowed = true;
    }
  }
  const Int rest = narrowed ? den / g : rest1;
  // P_i/g where g divides P_i, and P_i where it does not; zero elsewhere.
  std::vector<Mpz> q(p.size());
  std::vector<Int> apart(p.size());
  std::vector<char> divides(p.size(), 0);
  const auto gv = g.view();
  for_each_parallel(p.size(), 1, [&](std::size_t i) {
    if (i == first || p[i].is_zero()) return;
    if (g.is_one()) {
      mpz_set(q[i].get(), p[i].view().get());
      divides[i] = 1;
      return;
    }
    Mpz r;
    mpz_tdiv_qr(q[i].get(), r.get(), p[i].view().get(), gv.get());
    if (mpz_sgn(r.get()) == 0) {
      divides[i] = 1;
    } else {
      mpz_set_ui(q[i].get(), 0);
      apart[i] = p[i];
    }
  });
  std::size_t others = 0;
  for (const auto& x : apart) others += x.is_zero() ? 0 : 1;
  // Many that g does not divide go together too: by their product when g is short, as the part of
  // den they share then most often is, or else by a pivot of their own. A few cost less by a gcd
  // each.
  const bool together = others >= kCommonDenominatorTerms && depth < kPivots;
  FracPoly shared = fractions_over(q, Int(1), rest);
  FracPoly alone;
  if (together && 4 * g.bit_length() < den.bit_length()) {
    std::vector<Mpz> u(p.size());
    for (std::size_t i = 0; i < p.size(); ++i)
      if (!apart[i].is_zero()) u[i] = Mpz(apart[i]);
    alone = fractions_over(u, Int(1), den);
  } else if (together) {
    alone = reduced_fractions_from(apart, den, depth + 1);
  }
  for_each_parallel(p.size(), 1, [&](std::size_t i) {
    if (i == first || p[i].is_zero()) return;
    if (divides[i])
      out[i] = std::move(shared.coeffs[i]);
    else if (together)
      out[i] = std::move(alone.coeffs[i]);
    else
      out[i] = expect(Fraction::make(p[i], den), "denominator is non-zero");
  });
  return FracPoly(std::move(out));
}

}  // namespace

// P / den coefficient by coefficient, reduced. Long coefficients first meet the gcd g of den and the
// first non-zero coefficient: each other one that g divides is reduced as P_i/g over den/g
// (gcd(P_i, den) = g·gcd(P_i/g, den/g)), all of those together by fractions_over, whose gcds are
// with the part of den/g that their product shares, most often short. Many that g does not divide
// go together as well.
FracPoly reduced_fractions(const std::vector<Int>& p, const Int& den) { return reduced_fractions_from(p, den, 0); }

// ---------------------------------------------------------------------------------------------
// Products

namespace {

// Integer products of operands at least this long go through one GMP product; operands of machine
// integers only from the second length on.
constexpr std::size_t kKroneckerLength = 8;
constexpr std::size_t kKroneckerSmallLength = 48;
// Up to this length, operands of very different coefficient sizes are multiplied the cheaper way.
constexpr std::size_t kSchoolbookCostLength = 64;

std::size_t max_bits(std::span<const __mpz_struct> a) {
  std::size_t bits = 0;
  for (const auto& x : a)
    if (x._mp_size != 0) bits = std::max(bits, mpz_sizeinbase(&x, 2));
  return bits;
}

// |a_i|·2^(w·i) summed into `out` (zeroed, room for every slot and one limb more) for the
// coefficients of sign `sign`; slots never overlap.
void pack(std::span<const __mpz_struct> a, std::size_t w, int sign, mp_limb_t* out) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    const __mpz_struct& x = a[i];
    if (x._mp_size == 0 || (x._mp_size > 0) != (sign > 0)) continue;
    const std::size_t n = mpz_size(&x), bit = i * w, li = bit / 64;
    const unsigned sh = bit % 64;
    const mp_limb_t* d = x._mp_d;
    if (sh == 0) {
      for (std::size_t k = 0; k < n; ++k) out[li + k] |= d[k];
    } else {
      for (std::size_t k = 0; k < n; ++k) {
        out[li + k] |= d[k] << sh;
        out[li + k + 1] |= d[k] >> (64 - sh);
      }
    }
  }
}

// Σ a_i·2^(w·i) as a sign and a magnitude of `limbs` limbs (top zeros stripped from the count).
int packed(std::span<const __mpz_struct> a, std::size_t w, std::vector<mp_limb_t>& mag) {
  const std::size_t limbs = (a.size() * w + 63) / 64 + 1;
  mag.assign(limbs, 0);
  std::vector<mp_limb_t> neg(limbs, 0);
  pack(a, w, 1, mag.data());
  pack(a, w, -1, neg.data());
  int sign = 1;
  if (mpn_cmp(mag.data(), neg.data(), static_cast<mp_size_t>(limbs)) >= 0) {
    mpn_sub_n(mag.data(), mag.data(), neg.data(), static_cast<mp_size_t>(limbs));
  } else {
    mpn_sub_n(mag.data(), neg.data(), mag.data(), static_cast<mp_size_t>(limbs));
    sign = -1;
  }
  while (!mag.empty() && mag.back() == 0) mag.pop_back();
  return mag.empty() ? 0 : sign;
}

}  // namespace

namespace {

// The integer Σ a_i·2^(w·i) · Σ b_j·2^(w·j) as a sign and a magnitude.
struct KroneckerProduct {
  std::size_t w = 0;
  int sign = 0;
  std::vector<mp_limb_t> limbs;
};

// The product of a and b (a square when both are the same span) packed at one width. Coefficient
// products that would pass the size limit of integers are refused before anything is packed.
KroneckerProduct kronecker_product(std::span<const __mpz_struct> a, std::span<const __mpz_struct> b) {
  KroneckerProduct r;
  const std::size_t a_bits = max_bits(a), b_bits = max_bits(b);
  if (a_bits != 0 && b_bits != 0) Int::check_product_bits(a_bits, b_bits);
  // Every coefficient of the product is below 2^(w − 1) in absolute value.
  r.w = a_bits + b_bits + static_cast<std::size_t>(std::bit_width(std::min(a.size(), b.size()))) + 1;
  const bool square = a.data() == b.data() && a.size() == b.size();
  std::vector<mp_limb_t> pa, pb;
  const int sa = packed(a, r.w, pa), sb = square ? sa : packed(b, r.w, pb);
  r.sign = sa * sb;
  if (r.sign == 0) return r;
  if (square) {
    r.limbs.assign(2 * pa.size() + 2, 0);
    multiply_limbs(r.limbs.data(), pa.data(), pa.size(), pa.data(), pa.size());
    return r;
  }
  r.limbs.assign(pa.size() + pb.size() + 2, 0);
  multiply_limbs(r.limbs.data(), pa.data(), pa.size(), pb.data(), pb.size());
  return r;
}

// The first `count` coefficients of the product, as balanced digits of its magnitude (a slot at or
// above 2^(w − 1) is negative and borrows one from the next slot), each given to `small` as a
// 128-bit integer when w < 128 and to `big` as a GMP value otherwise.
template <class Small, class Big>
void unpack(const KroneckerProduct& p, std::size_t count, Small&& small, Big&& big) {
  using u128 = unsigned __int128;
  using i128 = __int128;
  const std::size_t w = p.w, climbs = p.limbs.size();
  if (p.sign == 0) {
    for (std::size_t i = 0; i < count; ++i) small(i, i128{0});
    return;
  }
  auto limb = [&](std::size_t i) { return i < climbs ? p.limbs[i] : mp_limb_t{0}; };
  bool carry = false;
  if (w < 128) {
    const u128 mask = (u128{1} << w) - 1, half = u128{1} << (w - 1);
    for (std::size_t i = 0, bit = 0; i < count; ++i, bit += w) {
      const std::size_t li = bit / 64;
      const unsigned sh = bit % 64;
      u128 v = (static_cast<u128>(limb(li + 1)) << 64 | limb(li)) >> sh;
      if (sh != 0 && w + sh > 128) v |= static_cast<u128>(limb(li + 2)) << (128 - sh);
      v = (v & mask) + (carry ? 1 : 0);
      carry = v >= half;
      const i128 digit = carry ? -static_cast<i128>(mask - v + 1) : static_cast<i128>(v);
      small(i, p.sign < 0 ? -digit : digit);
    }
    return;
  }
  Mpz slot, full, half;
  mpz_setbit(full.get(), w);
  mpz_setbit(half.get(), w - 1);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t bit = i * w, li = bit / 64;
    if (li < climbs) {
      const std::size_t n = std::min(climbs - li, (w + bit % 64) / 64 + 1);
      __mpz_struct view;
      mpz_roinit_n(&view, p.limbs.data() + li, static_cast<mp_size_t>(n));
      mpz_tdiv_q_2exp(slot.get(), &view, bit % 64);
      mpz_tdiv_r_2exp(slot.get(), slot.get(), w);
    } else {
      mpz_set_ui(slot.get(), 0);
    }
    if (carry) mpz_add_ui(slot.get(), slot.get(), 1);
    carry = mpz_cmp(slot.get(), half.get()) >= 0;
    if (carry) mpz_sub(slot.get(), slot.get(), full.get());
    if (p.sign < 0) mpz_neg(slot.get(), slot.get());
    big(i, std::as_const(slot).get());
  }
}

}  // namespace

void mul_kronecker(std::span<const __mpz_struct> a, std::span<const __mpz_struct> b, std::span<__mpz_struct> out) {
  unpack(
      kronecker_product(a, b), out.size(),
      [&](std::size_t i, __int128 v) {
        const unsigned __int128 m = v < 0 ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
        const mp_limb_t limbs[2] = {static_cast<mp_limb_t>(m), static_cast<mp_limb_t>(m >> 64)};
        __mpz_struct view;
        mpz_roinit_n(&view, limbs, v < 0 ? -2 : 2);
        mpz_set(&out[i], &view);
      },
      [&](std::size_t i, mpz_srcptr v) { mpz_set(&out[i], v); });
}

namespace detail {

namespace {

// GMP views of Int coefficients, valid while the Ints live.
class MpzViews {
 public:
  explicit MpzViews(const std::vector<Int>& c) : z_(c.size()), small_(c.size()) {
    for (std::size_t i = 0; i < c.size(); ++i) {
      if (auto v = c[i].to_i64()) {
        small_[i] = *v < 0 ? 0 - static_cast<std::uint64_t>(*v) : static_cast<std::uint64_t>(*v);
        z_[i]._mp_alloc = 1;
        z_[i]._mp_size = *v < 0 ? -1 : *v > 0 ? 1 : 0;
        z_[i]._mp_d = &small_[i];
      } else {
        z_[i] = *c[i].view().get();
      }
    }
  }
  std::span<const __mpz_struct> span() const { return z_; }

 private:
  std::vector<__mpz_struct> z_;
  std::vector<mp_limb_t> small_;
};

// Rough time of a GMP product of n and m limbs: product_cost's, or the transforms' (over n + m
// limbs, however short the shorter side) when less.
double gmp_product_cost(double n, double m) {
  const double direct = product_cost(n, m);
  return std::min(n, m) < 32 ? direct : std::min(direct, 23 * (n + m) * std::log2(n + m));
}

// Whether the coefficient products one by one cost less than one product of both packed for
// Kronecker: when one side's coefficients are far shorter than the other's, its packing is mostly
// zeros at the slot width both sides share.
bool schoolbook_pays(const IntPoly& a, const IntPoly& b) {
  auto limbs = [](const IntPoly& p, std::vector<double>& out) {
    std::uint64_t widest = 0;
    for (const auto& x : p.coeffs) {
      const std::uint64_t bits = x.bit_length();
      widest = std::max(widest, bits);
      if (bits != 0) out.push_back(static_cast<double>((bits + 63) / 64));
    }
    return widest;
  };
  std::vector<double> la, lb;
  const std::uint64_t wa = limbs(a, la), wb = limbs(b, lb);
  // Only where the shorter side is far shorter: otherwise the packing is dense enough.
  if (8 * std::min(wa, wb) > std::max(wa, wb)) return false;
  const double w = static_cast<double>(wa + wb + static_cast<std::uint64_t>(std::bit_width(std::min(a.coeffs.size(), b.coeffs.size()))) + 1);
  const double kronecker = gmp_product_cost(static_cast<double>(a.coeffs.size()) * w / 64, static_cast<double>(b.coeffs.size()) * w / 64);
  double terms = 0;
  for (const double x : la)
    for (const double y : lb) terms += gmp_product_cost(x, y);
  return terms < kronecker;
}

IntPoly mul_through_kronecker(const IntPoly& a, const IntPoly& b) {
  const MpzViews va(a.coeffs);
  const std::optional<MpzViews> vb = &a == &b ? std::nullopt : std::optional<MpzViews>(std::in_place, b.coeffs);
  IntPoly r;
  r.coeffs.resize(a.coeffs.size() + b.coeffs.size() - 1);
  unpack(
      kronecker_product(va.span(), vb ? vb->span() : va.span()), r.coeffs.size(),
      [&](std::size_t i, __int128 v) { r.coeffs[i] = Int::from_i128(v); },
      [&](std::size_t i, mpz_srcptr v) { r.coeffs[i] = Int::from_mpz(v); });
  r.trim();
  return r;
}

}  // namespace

// A polynomial times itself (the same object) is squared: each cross term is formed once.
template <>
IntPoly mul_unchecked(const IntPoly& a, const IntPoly& b) {
  IntPoly r;
  if (a.is_zero() || b.is_zero()) return r;
  const std::size_t na = a.coeffs.size(), nb = b.coeffs.size();
  bool small = true;
  for (const auto& x : a.coeffs) small = small && x.is_small();
  for (const auto& x : b.coeffs) small = small && x.is_small();
  if (std::min(na, nb) >= (small ? kKroneckerSmallLength : kKroneckerLength) &&
      (small || std::min(na, nb) > kSchoolbookCostLength || !schoolbook_pays(a, b)))
    return mul_through_kronecker(a, b);
  if (!small) {
    // The largest coefficient product is refused as a product of two integers would be.
    auto widest = [](const IntPoly& p) {
      std::uint64_t bits = 0;
      for (const auto& x : p.coeffs) bits = std::max(bits, x.bit_length());
      return bits;
    };
    Int::check_product_bits(widest(a), widest(b));
  }
  r.coeffs.reserve(na + nb - 1);
  // Two-term products of parts of about one length: the sum's product saves a long one.
  auto balanced = [](std::initializer_list<const Int*> xs) {
    std::uint64_t lo = UINT64_MAX, hi = 0;
    for (const Int* x : xs) {
      lo = std::min(lo, x->bit_length());
      hi = std::max(hi, x->bit_length());
    }
    return lo >= 4096 && 2 * lo >= hi;
  };
  if (!small && na == 2 && nb == 2 && balanced({&a.coeffs[0], &a.coeffs[1], &b.coeffs[0], &b.coeffs[1]})) {
    // (A + Bx)(C + Dx): three products, AD + BC = (A + B)(C + D) − AC − BD, in place of four; a
    // square takes three squares (GMP squares a product of one value with itself).
    auto va = a.coeffs[0].view();
    auto vb = a.coeffs[1].view();
    auto vc = b.coeffs[0].view();
    auto vd = b.coeffs[1].view();
    Mpz low, mid, high, sum;
    multiply_into(low.get(), va.get(), vc.get());
    multiply_into(high.get(), vb.get(), vd.get());
    mpz_add(mid.get(), va.get(), vb.get());
    if (&a == &b) {
      multiply_into(mid.get(), mid.get(), mid.get());
    } else {
      mpz_add(sum.get(), vc.get(), vd.get());
      multiply_into(mid.get(), mid.get(), sum.get());
    }
    mpz_sub(mid.get(), mid.get(), low.get());
    mpz_sub(mid.get(), mid.get(), high.get());
    r.coeffs.push_back(low.take_int());
    r.coeffs.push_back(mid.take_int());
    r.coeffs.push_back(high.take_int());
    r.trim();
    return r;
  }
  if (!small && &a == &b) {
    Mpz acc, sq;
    for (std::size_t k = 0; k < 2 * na - 1; ++k) {
      std::size_t lo = k >= na ? k - na + 1 : 0;
      mpz_set_ui(acc.get(), 0);
      for (std::size_t i = lo; 2 * i < k; ++i) {
        auto vi = a.coeffs[i].view();
        auto vj = a.coeffs[k - i].view();
        add_product(acc.get(), vi.get(), vj.get());
      }
      mpz_mul_2exp(acc.get(), acc.get(), 1);
      if (k % 2 == 0) {
        auto v = a.coeffs[k / 2].view();
        multiply_into(sq.get(), v.get(), v.get());
        mpz_add(acc.get(), acc.get(), sq.get());
      }
      r.coeffs.push_back(acc.take_int());
    }
    r.trim();
    return r;
  }
  if (small) {
    // Machine words summed in 128 bits while they fit.
    for (std::size_t k = 0; k < na + nb - 1; ++k) {
      std::size_t lo = k >= nb ? k - nb + 1 : 0, hi = std::min(k, na - 1);
      __int128 acc = 0;
      Int big;
      bool spilled = false;
      for (std::size_t i = lo; i <= hi; ++i) {
        __int128 t = static_cast<__int128>(*a.coeffs[i].to_i64()) * *b.coeffs[k - i].to_i64();
        __int128 s;
        if (__builtin_add_overflow(acc, t, &s)) {
          big += Int::from_i128(acc);
          spilled = true;
          acc = t;
        } else {
          acc = s;
        }
      }
      r.coeffs.push_back(spilled ? big + Int::from_i128(acc) : Int::from_i128(acc));
    }
  } else {
    Mpz acc;
    for (std::size_t k = 0; k < na + nb - 1; ++k) {
      std::size_t lo = k >= nb ? k - nb + 1 : 0, hi = std::min(k, na - 1);
      mpz_set_ui(acc.get(), 0);
      for (std::size_t i = lo; i <= hi; ++i) {
        auto va = a.coeffs[i].view();
        auto vb = b.coeffs[k - i].view();
        add_product(acc.get(), va.get(), vb.get());
      }
      r.coeffs.push_back(acc.take_int());
    }
  }
  r.trim();
  return r;
}

namespace {

// The coefficients a_i ± b_i where both denominators differ from 1 (`both`), over long denominators
// that share most of their factors, as those of numbers of one field do: over D, the least common
// denominator of a and b, when D is not much longer than they are, and reduced all at once by
// reduced_fractions instead of by one or two gcds of D's size each. Nothing past D's bound.
bool add_over_common(const FracPoly& a, const FracPoly& b, bool subtract, std::uint64_t widest,
                     const std::vector<char>& both, std::vector<Fraction>& out) {
  // Each side's least common denominator, given up on as soon as it passes the bound.
  auto bounded = [&](const FracPoly& p) {
    Int den(1);
    for (const auto& x : p.coeffs) {
      const Int& e = x.den();
      if (e.is_one() || e == den || (!den.is_small() && mpz_divisible_p(den.view().get(), e.view().get()))) continue;
      den = Int::lcm(den, e);
      if (den.bit_length() > 2 * widest) return false;
    }
    return true;
  };
  if (!bounded(a) || !bounded(b)) return false;
  Int da, db;
  const IntPoly ia = clear_denominators(a, da), ib = clear_denominators(b, db);
  Int sa(1), sb(1), den = da;
  if (!(da == db)) {
    const Int g = Int::gcd(da, db);
    sa = db / g;
    sb = da / g;
    den = da * sa;
  }
  if (den.bit_length() > 2 * widest) return false;
  std::vector<Int> u(both.size());
  for_each_parallel(both.size(), 1, [&](std::size_t i) {
    if (!both[i]) return;
    Mpz x;
    if (!ia.coeffs[i].is_zero()) mpz_mul(x.get(), ia.coeffs[i].view().get(), sa.view().get());
    if (subtract)
      mpz_submul(x.get(), ib.coeffs[i].view().get(), sb.view().get());
    else
      mpz_addmul(x.get(), ib.coeffs[i].view().get(), sb.view().get());
    u[i] = x.to_int();
  });
  FracPoly r = reduced_fractions(u, den);
  for (std::size_t i = 0; i < both.size(); ++i)
    if (both[i]) out[i] = i < r.coeffs.size() ? std::move(r.coeffs[i]) : Fraction();
  return true;
}

}  // namespace

// Each coefficient reduced on its own, or for many long denominators all at once over a common one.
template <>
FracPoly add_unchecked(const FracPoly& a, const FracPoly& b, bool subtract) {
  const std::size_t n = std::max(a.coeffs.size(), b.coeffs.size());
  std::uint64_t bits = 0, widest = 0;
  for (const auto* p : {&a, &b})
    for (const auto& x : p->coeffs) {
      bits += x.den().bit_length();
      widest = std::max(widest, x.den().bit_length());
    }
  const bool wide = reduce_in_parallel(n, bits);
  std::vector<Fraction> r(n);
  // A sum with an integer needs no gcd; the others may go over a common denominator.
  std::vector<char> both;
  if (wide && widest >= kCommonDenominatorBits) {
    const std::size_t m = std::min(a.coeffs.size(), b.coeffs.size());
    both.assign(m, 0);
    std::size_t count = 0;
    for (std::size_t i = 0; i < m; ++i)
      if (!a.coeffs[i].den().is_one() && !b.coeffs[i].den().is_one()) {
        both[i] = 1;
        ++count;
      }
    if (count < kCommonDenominatorTerms || !add_over_common(a, b, subtract, widest, both, r)) both.clear();
  }
  auto one = [&](std::size_t i) {
    if (i < both.size() && both[i]) return;
    if (i < a.coeffs.size()) {
      r[i] = a.coeffs[i];
      if (i < b.coeffs.size()) {
        if (subtract)
          r[i] -= b.coeffs[i];
        else
          r[i] += b.coeffs[i];
      }
    } else {
      r[i] = subtract ? b.coeffs[i].neg() : b.coeffs[i];
    }
  };
  if (wide) {
    for_each_parallel(n, 1, one);
  } else {
    for (std::size_t i = 0; i < n; ++i) one(i);
  }
  return FracPoly(std::move(r));
}

template <>
FracPoly mul_unchecked(const FracPoly& a, const FracPoly& b) {
  FracPoly r;
  if (a.is_zero() || b.is_zero()) return r;
  if (a.degree() == 0 || b.degree() == 0) {
    const FracPoly& p = a.degree() == 0 ? b : a;
    const Fraction& c = a.degree() == 0 ? a.coeffs[0] : b.coeffs[0];
    r.coeffs.reserve(p.coeffs.size());
    for (const auto& x : p.coeffs) r.coeffs.push_back(x * c);
    r.trim();
    return r;
  }
  Int da, db;
  IntPoly ia = clear_denominators(a, da), ib = clear_denominators(b, db);
  IntPoly prod = mul_unchecked(ia, ib);
  Int den = da * db;
  r.coeffs.resize(prod.coeffs.size());
  auto one = [&](std::size_t i) {
    poll_interrupt();  // each reduction is a gcd of the product's size
    Int& x = prod.coeffs[i];
    r.coeffs[i] = den.is_one() ? Fraction(std::move(x))
                               : expect(Fraction::make(std::move(x), den), "product denominator is positive");
  };
  if (!den.is_one() && reduce_in_parallel(prod.coeffs.size(), prod.coeffs.size() * den.bit_length())) {
    for_each_parallel(prod.coeffs.size(), 1, one);
  } else {
    for (std::size_t i = 0; i < prod.coeffs.size(); ++i) one(i);
  }
  r.trim();
  return r;
}

}  // namespace detail

// Over the rationals through integer pseudo-division: with A = Da·a and B = Db·b integral and the
// loop's scale s, the quotient is (s·q(A, B))·Db / (s·Da) and the remainder (s·rem(A, B)) / (s·Da).
template <>
Result<std::pair<FracPoly, FracPoly>> FracPoly::div_rem(const FracPoly& a, const FracPoly& b) {
  if (b.is_zero()) return fail(Error::division("Division by zero"));
  FracPoly q, r;
  if (a.degree() < b.degree()) {
    r.coeffs = a.coeffs;
    return std::pair{std::move(q), std::move(r)};
  }
  const std::size_t d = static_cast<std::size_t>(b.degree());
  Int da, db;
  IntPoly ia = clear_denominators(a, da);
  IntPoly ib = clear_denominators(b, db);
  std::vector<Int> w = std::move(ia.coeffs);
  Int s(1);
  detail::scaled_division(w, ib, s, true);
  Int rden = s * da;
  Int qden = rden;
  Int qnum = db;
  if (!db.is_one()) {
    Int g = Int::gcd(db, qden);
    qnum = db / g;
    qden = qden / g;
  }
  q.coeffs.reserve(w.size() - d);
  for (std::size_t i = d; i < w.size(); ++i) {
    poll_interrupt();
    q.coeffs.push_back(ratio(qnum.is_one() ? std::move(w[i]) : w[i] * qnum, qden));
  }
  r.coeffs.reserve(d);
  for (std::size_t i = 0; i < d; ++i) {
    poll_interrupt();
    r.coeffs.push_back(ratio(std::move(w[i]), rden));
  }
  q.trim();
  r.trim();
  return std::pair{std::move(q), std::move(r)};
}

FracPoly neg_coefficients(std::span<const Fraction> coeffs) {
  std::vector<Fraction> v;
  v.reserve(coeffs.size());
  for (const auto& x : coeffs) v.push_back(x.neg());
  return FracPoly(std::move(v));
}

BiPoly bivariate_from_vecs(const std::vector<std::vector<Fraction>>& rows) {
  std::vector<FracPoly> v;
  v.reserve(rows.size());
  for (const auto& row : rows) v.emplace_back(row);
  return BiPoly(std::move(v));
}

BiPoly lift_constants(const FracPoly& p) {
  std::vector<FracPoly> v;
  v.reserve(p.coeffs.size());
  for (const auto& x : p.coeffs) v.push_back(FracPoly::constant(x));
  return BiPoly(std::move(v));
}

IntPoly primitive_part(const IntPoly& p) {
  Int g;
  for (const auto& x : p.coeffs) {
    g = Int::gcd(g, x);
    if (g.is_one()) return p;
  }
  if (g.is_zero()) return p;
  IntPoly r;
  r.coeffs.reserve(p.coeffs.size());
  for (const auto& x : p.coeffs) r.coeffs.push_back(x / g);
  return r;
}

IntPoly primitive_integer(const FracPoly& p) {
  Int den;
  return primitive_part(clear_denominators(p, den));
}

FracPoly to_fractions(const IntPoly& p) {
  FracPoly r;
  r.coeffs.reserve(p.coeffs.size());
  for (const auto& x : p.coeffs) r.coeffs.emplace_back(x);
  return r;
}

// ---------------------------------------------------------------------------------------------
// Text

namespace {

constexpr const char* kSuperscript[10] = {"\u2070", "\u00B9", "\u00B2", "\u00B3", "\u2074",
                                          "\u2075", "\u2076", "\u2077", "\u2078", "\u2079"};

template <class C>
void fmt_terms(const std::vector<C>& c, std::string& out, auto&& is_one, auto&& write) {
  if (c.empty()) {
    out += '0';
    return;
  }
  bool first = true;
  for (std::size_t i = c.size(); i-- > 0;) {
    if (c[i].is_zero()) continue;
    if (!first) out += " + ";
    first = false;
    if (!(is_one(c[i]) && i != 0)) write(c[i], out);
    if (i >= 1) out += 'x';
    if (i >= 2) {
      std::string digits = std::to_string(i);
      for (char ch : digits) out += kSuperscript[ch - '0'];
    }
  }
}

}  // namespace

template <>
void FracPoly::fmt(std::string& out) const {
  fmt_terms(
      coeffs, out, [](const Fraction& x) { return x.is_one(); },
      [](const Fraction& x, std::string& o) { x.fmt(o); });
}

template <>
void IntPoly::fmt(std::string& out) const {
  fmt_terms(
      coeffs, out, [](const Int& x) { return x.is_one(); }, [](const Int& x, std::string& o) { x.fmt(o); });
}

std::ostream& operator<<(std::ostream& os, const FracPoly& p) { return os << p.to_string(); }
std::ostream& operator<<(std::ostream& os, const IntPoly& p) { return os << p.to_string(); }

// ---------------------------------------------------------------------------------------------
// Subresultant remainder sequences

namespace {

Result<Fraction> scalar_pow(const Fraction& x, std::int64_t e) { return x.pow(Int(e)); }
Result<FracPoly> scalar_pow(const FracPoly& x, std::int64_t e) { return x.pow(Int(e)); }

template <class C>
Result<Polynomial<C>> subresultant(const Polynomial<C>& a, const Polynomial<C>& b) {
  using T = CoeffTraits<C>;
  const bool swap = a.degree() < b.degree();
  Polynomial<C> r0 = swap ? b : a;
  Polynomial<C> r1 = swap ? a : b;
  if (r1.is_zero()) return r0;
  const C one = T::one(r0);
  std::int64_t delta = r0.degree() - r1.degree();
  C psi = T::neg(one);
  C beta = (delta % 2 != 0) ? one : T::neg(one);
  while (!r1.is_zero()) {
    poll_interrupt();
    if (r1.coeffs.empty()) panic("r1 is non-zero, so it has a leading coefficient");
    C c = r1.lead();
    // Pseudo-remainder: c^(δ+1)·r0 modulo r1, which the division loop yields before its last step.
    std::vector<C> w = r0.coeffs;
    C scale = one;
    detail::scaled_division(w, r1, scale, false);
    w.resize(static_cast<std::size_t>(r1.degree()));
    Polynomial<C> r2(std::move(w));
    if (!T::is_one(beta)) {
      for (auto& x : r2.coeffs) x = GY_TRY(T::div_exact(x, beta));
      r2.trim();
    }
    r0 = std::move(r1);
    r1 = std::move(r2);
    C neg_c = T::neg(c);
    if (delta == 1) {
      psi = neg_c;
    } else if (delta >= 2) {
      C num = GY_TRY(scalar_pow(neg_c, delta));
      C den = GY_TRY(scalar_pow(psi, delta - 1));
      psi = GY_TRY(T::div_exact(num, den));
    } else {
      C f = GY_TRY(scalar_pow(neg_c, delta));
      C g = GY_TRY(scalar_pow(psi, 1 - delta));
      psi = T::mul(f, g);
    }
    if (r1.is_zero()) break;
    delta = r0.degree() - r1.degree();
    beta = T::mul(neg_c, GY_TRY(scalar_pow(psi, delta)));
  }
  return r0;
}

}  // namespace

template <>
Result<FracPoly> FracPoly::gcd(const FracPoly& a, const FracPoly& b) {
  return subresultant(a, b);
}

Result<BiPoly> remainder_sequence(const BiPoly& a, const BiPoly& b) { return subresultant(a, b); }

// The subresultant scheme run to the resultant itself: when the sequence ends on a constant after
// skipping several degrees, that constant is raised to the skipped degree and rescaled, so the
// value is the Sylvester determinant in every case.
Result<FracPoly> resultant(const BiPoly& a, const BiPoly& b, BiPoly* linear) {
  using T = CoeffTraits<FracPoly>;
  if (linear) *linear = BiPoly{};
  if (a.is_zero() || b.is_zero()) return FracPoly{};
  bool negate = false;
  BiPoly r0 = a, r1 = b;
  if (r0.degree() < r1.degree()) {
    std::swap(r0, r1);
    negate = (r0.degree() % 2 != 0) && (r1.degree() % 2 != 0);
  }
  if (linear && r1.degree() == 1) *linear = r1;
  const FracPoly one = FracPoly::constant(Fraction(Int(1)));
  FracPoly g = one, h = one;
  while (r1.degree() > 0) {
    poll_interrupt();
    std::int64_t delta = r0.degree() - r1.degree();
    if ((r0.degree() % 2 != 0) && (r1.degree() % 2 != 0)) negate = !negate;
    std::vector<FracPoly> w = r0.coeffs;
    FracPoly scale = one;
    detail::scaled_division(w, r1, scale, false);
    w.resize(static_cast<std::size_t>(r1.degree()));
    BiPoly r(std::move(w));
    if (r.is_zero()) return FracPoly{};
    FracPoly div = FracPoly::mul(g, GY_TRY(h.pow(Int(delta))));
    if (!T::is_one(div)) {
      for (auto& x : r.coeffs) x = GY_TRY(FracPoly::div_exact(x, div));
      r.trim();
    }
    if (linear && r.degree() == 1) *linear = r;
    r0 = std::move(r1);
    r1 = std::move(r);
    g = r0.lead();
    if (delta >= 1)
      h = GY_TRY(FracPoly::div_exact(GY_TRY(g.pow(Int(delta))), GY_TRY(h.pow(Int(delta - 1)))));
  }
  // r1 is a non-zero constant in x and r0 has degree e >= 1: the result is lc(r1)^e / h^(e−1).
  std::int64_t e = r0.degree();
  FracPoly res = GY_TRY(r1.lead().pow(Int(e)));
  if (e > 1) res = GY_TRY(FracPoly::div_exact(res, GY_TRY(h.pow(Int(e - 1)))));
  return negate ? -res : res;
}

// ---------------------------------------------------------------------------------------------
// Residue powers and gcds

Result<ModPoly> powmod(const Int& m, const ModPoly& a, const Int& e, const ModPoly& f) {
  ModPoly result = ModPoly::one_mod(m);
  if (e.sign() <= 0) return result;
  ModPoly base = a;
  Int n = e;
  while (n.sign() > 0) {
    if (n.is_odd()) {
      ModPoly p = GY_TRY(ModPoly::mul(result, base));
      result = GY_TRY(ModPoly::rem(p, f));
      n -= Int(1);
    } else {
      ModPoly p = GY_TRY(ModPoly::mul(base, base));
      base = GY_TRY(ModPoly::rem(p, f));
      n = n / Int(2);
    }
  }
  return result;
}

Result<ModPoly> gcd_mod(const ModPoly& a, const ModPoly& b) {
  ModPoly x = a.degree() >= b.degree() ? a : b;
  ModPoly y = a.degree() >= b.degree() ? b : a;
  while (!y.is_zero()) {
    ModPoly r = GY_TRY(ModPoly::rem(x, y));
    x = std::move(y);
    y = std::move(r);
  }
  return x;
}

// ---------------------------------------------------------------------------------------------
// Sturm sequences

Int scaled_value(const IntPoly& p, const Fraction& x) {
  if (p.is_zero()) return Int(0);
  const Int& n = x.num();
  const Int& d = x.den();
  const std::size_t deg = p.coeffs.size() - 1;
  std::size_t terms = 0;
  for (const auto& c : p.coeffs) terms += c.is_zero() ? 0 : 1;
  if (terms * 8 < deg) {
    // Few terms (x^k − c and the like): Σ a_i n^i d^(deg − i) from powers by squaring, rather than
    // deg products of growing size.
    Int acc(0);
    for (std::size_t i = 0; i <= deg; ++i)
      if (!p.coeffs[i].is_zero())
        acc += p.coeffs[i] * Int::pow(n, static_cast<std::uint32_t>(i)) *
               Int::pow(d, static_cast<std::uint32_t>(deg - i));
    return acc;
  }
  // Σ a_i n^i d^(deg − i) by Horner's rule; a power-of-two d is applied by shifts.
  Int acc = p.coeffs.back();
  if (d.is_one()) {
    for (std::size_t i = p.coeffs.size() - 1; i-- > 0;) acc = acc * n + p.coeffs[i];
    return acc;
  }
  if (const auto shift = d.exponent_of_two()) {
    for (std::size_t i = p.coeffs.size() - 1, k = 1; i-- > 0; ++k) {
      if ((i & 31) == 0) poll_interrupt();
      acc = acc * n;
      if (!p.coeffs[i].is_zero()) acc += p.coeffs[i].shl(*shift * k);
    }
    return acc;
  }
  Int dpow(1);
  for (std::size_t i = p.coeffs.size() - 1; i-- > 0;) {
    if ((i & 31) == 0) poll_interrupt();
    dpow *= d;
    acc = acc * n + p.coeffs[i] * dpow;
  }
  return acc;
}

namespace {

// p, p′, −rem, … each replaced by a positive multiple with coprime integer coefficients, which
// leaves every sign unchanged.
std::vector<IntPoly> sturm_chain(const FracPoly& p) {
  std::vector<IntPoly> chain;
  chain.push_back(primitive_integer(p));
  IntPoly b = primitive_integer(p.derivative());
  if (b.is_zero()) return chain;
  chain.push_back(std::move(b));
  while (true) {
    poll_interrupt();
    const IntPoly& a = chain[chain.size() - 2];
    const IntPoly& d = chain.back();
    if (a.degree() < d.degree()) panic("Sturm sequence degrees decrease");
    std::vector<Int> w = a.coeffs;
    Int s(1);
    detail::scaled_division(w, d, s, false);
    w.resize(static_cast<std::size_t>(d.degree()));
    IntPoly r(std::move(w));  // s·rem(a, d), s = c^k
    if (r.is_zero()) break;
    // −rem: negate unless the scale was negative.
    if (s.sign() > 0)
      for (auto& x : r.coeffs) x = -x;
    chain.push_back(primitive_part(r));
  }
  // The last entry is gcd(p, p′). When it is not constant, p has multiple roots, at which every
  // entry vanishes; dividing it out gives the chain of the squarefree part, whose variations agree
  // everywhere else.
  if (chain.back().degree() > 0) {
    IntPoly g = chain.back();
    for (auto& e : chain) e = expect(IntPoly::div_exact(e, g), "the gcd divides every Sturm entry");
  }
  return chain;
}

}  // namespace

SturmSequence::SturmSequence(const FracPoly& p) : chain_(sturm_chain(p)) {}

SturmSequence::End SturmSequence::at(const Fraction& x) const {
  End end;
  int s = sign_at(chain_[0], x);
  end.root = s == 0;
  for (std::size_t i = 1; i < chain_.size(); ++i) {
    int t = sign_at(chain_[i], x);
    if (t != 0) {
      if (s != 0 && t != s) ++end.variations;
      s = t;
    }
  }
  return end;
}

std::uint32_t SturmSequence::count(const Fraction& lo, const Fraction& hi) const {
  if (hi < lo) return 0;  // an empty interval holds no root
  return count(at(lo), at(hi));
}

Result<std::uint32_t> sturm_variations(const FracPoly& p, const Fraction& x) {
  return SturmSequence(p).at(x).variations;
}

Result<std::uint32_t> count_real_roots(const FracPoly& p, const Fraction& lo, const Fraction& hi) {
  return SturmSequence(p).count(lo, hi);
}

void for_each_parallel(std::size_t n, std::size_t grain, const std::function<void(std::size_t)>& body) {
  if (n <= grain) {
    for (std::size_t i = 0; i < n; ++i) body(i);
    return;
  }
  Watch* watch = current_watch();
  pool::for_ranges(n, grain, [&](std::size_t lo, std::size_t hi) {
    WorkFor work(watch);
    for (std::size_t i = lo; i < hi; ++i) {
      poll_interrupt();
      body(i);
    }
  });
}

}  // namespace gy
