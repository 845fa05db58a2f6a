#include "num/residue.hpp"

#include <gmp.h>

#include <algorithm>
#include <bit>
#include <tuple>
#include <utility>

namespace gy {

namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

// Operands at least this long are multiplied through one integer product.
constexpr std::size_t kKroneckerLength = 32;
// Moduli at least this long reduce through the inverse of their reversal.
constexpr std::size_t kInverseDegree = 48;

}  // namespace

Zp::Zp(u64 modulus) : p(modulus) {
  if (p < 2 || p >= kWordPrimeLimit) panic("word modulus out of range");
  reciprocal_ = ~u64{0} / p;
  two64_ = static_cast<u64>((static_cast<u128>(1) << 64) % p);
  lazy_ = ~u64{0} / ((p - 1) * (p - 1));
}

u64 Zp::inv(u64 a) const {
  // Extended Euclid on (p, a); a is not zero.
  std::int64_t r0 = static_cast<std::int64_t>(p), r1 = static_cast<std::int64_t>(a), s0 = 0, s1 = 1;
  while (r1 != 0) {
    const std::int64_t q = r0 / r1;
    std::tie(r0, r1) = std::pair{r1, r0 - q * r1};
    std::tie(s0, s1) = std::pair{s1, s0 - q * s1};
  }
  return static_cast<u64>(s0 < 0 ? s0 + static_cast<std::int64_t>(p) : s0);
}

u64 Zp::pow(u64 a, u64 e) const {
  u64 r = reduce(u64{1});
  for (; e; e >>= 1, a = mul(a, a))
    if (e & 1) r = mul(r, a);
  return r;
}

void trim(WordPoly& a) {
  while (!a.empty() && a.back() == 0) a.pop_back();
}

u64 mod_word(const Int& x, u64 m) {
  if (auto v = x.to_i64()) {
    const std::int64_t r = *v % static_cast<std::int64_t>(m);
    return static_cast<u64>(r < 0 ? r + static_cast<std::int64_t>(m) : r);
  }
  return mpz_fdiv_ui(x.view().get(), m);
}

WordPoly to_word_poly(const IntPoly& f, const Zp& F) {
  WordPoly r;
  r.reserve(f.coeffs.size());
  for (const auto& c : f.coeffs) r.push_back(mod_word(c, F.p));
  trim(r);
  return r;
}

WordPoly monic(const Zp& F, WordPoly a) {
  if (a.empty() || a.back() == 1) return a;
  const u64 inv = F.inv(a.back());
  for (auto& x : a) x = F.mul(x, inv);
  return a;
}

namespace {

// Sums of products kept in Acc (one or two words) and reduced once.
template <class Acc>
WordPoly mul_schoolbook(const Zp& F, const WordPoly& a, const WordPoly& b) {
  std::vector<Acc> acc(a.size() + b.size() - 1, 0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    const u64 x = a[i];
    if (x == 0) continue;
    Acc* row = acc.data() + i;
    for (std::size_t j = 0; j < b.size(); ++j) row[j] += static_cast<Acc>(x * b[j]);
  }
  WordPoly r(acc.size());
  for (std::size_t k = 0; k < acc.size(); ++k) r[k] = F.reduce(acc[k]);
  trim(r);
  return r;
}

// Coefficients below 2^bits written into slots of `w` bits of a zeroed limb array.
void pack(const WordPoly& a, unsigned w, unsigned bits, mp_limb_t* out) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t bit = i * w, li = bit / 64;
    const unsigned sh = bit % 64;
    out[li] |= a[i] << sh;
    if (sh != 0 && sh + bits > 64) out[li + 1] |= a[i] >> (64 - sh);
  }
}

// The slot of `w` <= 128 bits at `bit`; the array is readable two limbs past the slot's start limb.
u128 slot(const mp_limb_t* r, std::size_t bit, unsigned w) {
  const std::size_t li = bit / 64;
  const unsigned sh = bit % 64;
  u128 v = (static_cast<u128>(r[li + 1]) << 64 | r[li]) >> sh;
  if (sh != 0 && w + sh > 128) v |= static_cast<u128>(r[li + 2]) << (128 - sh);
  return w == 128 ? v : v & ((static_cast<u128>(1) << w) - 1);
}

// Both operands as one integer each at 2^w, w wide enough for every coefficient of the product.
WordPoly mul_kronecker(const Zp& F, const WordPoly& a, const WordPoly& b) {
  const std::size_t na = a.size(), nb = b.size(), nr = na + nb - 1;
  const unsigned bits = static_cast<unsigned>(std::bit_width(F.p - 1));
  const unsigned w = 2 * bits + static_cast<unsigned>(std::bit_width(std::min(na, nb)));
  const std::size_t la = (na * w + 63) / 64, lb = (nb * w + 63) / 64;
  std::vector<mp_limb_t> pa(la + 1, 0), pb(lb + 1, 0), pr(la + lb + 3, 0);
  pack(a, w, bits, pa.data());
  const bool square = &a == &b || a == b;
  if (square) {
    mpn_sqr(pr.data(), pa.data(), static_cast<mp_size_t>(la));
  } else {
    pack(b, w, bits, pb.data());
    if (la >= lb)
      mpn_mul(pr.data(), pa.data(), static_cast<mp_size_t>(la), pb.data(), static_cast<mp_size_t>(lb));
    else
      mpn_mul(pr.data(), pb.data(), static_cast<mp_size_t>(lb), pa.data(), static_cast<mp_size_t>(la));
  }
  WordPoly r(nr);
  if (w <= 64) {
    const u64 mask = w == 64 ? ~u64{0} : (u64{1} << w) - 1;
    for (std::size_t k = 0, bit = 0; k < nr; ++k, bit += w) {
      const std::size_t li = bit / 64;
      const unsigned sh = bit % 64;
      u64 v = pr[li] >> sh;
      if (sh != 0) v |= pr[li + 1] << (64 - sh);
      r[k] = F.reduce(v & mask);
    }
  } else {
    for (std::size_t k = 0; k < nr; ++k) r[k] = F.reduce(slot(pr.data(), k * w, w));
  }
  trim(r);
  return r;
}

// The quotient-free division loop with Acc accumulators: a ← a mod b, the quotient when asked.
template <class Acc>
void divrem_acc(const Zp& F, WordPoly& a, const WordPoly& b, WordPoly* quotient) {
  const std::size_t d = b.size() - 1;
  const u64 inv = b.back() == 1 ? 1 : F.inv(b.back());
  std::vector<Acc> acc(a.begin(), a.end());
  if (quotient) quotient->assign(a.size() - d, 0);
  for (std::size_t t = a.size(); t-- > d;) {
    u64 c = F.reduce(acc[t]);
    if (inv != 1) c = F.mul(c, inv);
    if (quotient) (*quotient)[t - d] = c;
    if (c == 0) continue;
    const u64 nc = F.p - c;
    Acc* row = acc.data() + (t - d);
    for (std::size_t j = 0; j < d; ++j) row[j] += static_cast<Acc>(nc * b[j]);
  }
  a.resize(d);
  for (std::size_t j = 0; j < d; ++j) a[j] = F.reduce(acc[j]);
  trim(a);
}

WordPoly sub(const Zp& F, WordPoly a, const WordPoly& b) {
  if (a.size() < b.size()) a.resize(b.size(), 0);
  for (std::size_t i = 0; i < b.size(); ++i) a[i] = F.sub(a[i], b[i]);
  trim(a);
  return a;
}

}  // namespace

WordPoly mul(const Zp& F, const WordPoly& a, const WordPoly& b) {
  if (a.empty() || b.empty()) return {};
  const std::size_t shorter = std::min(a.size(), b.size());
  if (shorter >= kKroneckerLength) return mul_kronecker(F, a, b);
  if (F.lazy_terms() >= shorter) return mul_schoolbook<u64>(F, a, b);
  return mul_schoolbook<u128>(F, a, b);
}

void divrem(const Zp& F, WordPoly& a, const WordPoly& b, WordPoly* quotient) {
  const std::size_t d = b.size() - 1;
  if (quotient) quotient->clear();
  if (a.size() <= d) return;
  // Each position takes at most one term per quotient coefficient, besides its own value.
  if (F.lazy_terms() > std::min(d, a.size() - d) + 1)
    divrem_acc<u64>(F, a, b, quotient);
  else
    divrem_acc<u128>(F, a, b, quotient);
  if (quotient) trim(*quotient);
}

WordPoly rem(const Zp& F, WordPoly a, const WordPoly& b) {
  divrem(F, a, b);
  return a;
}

WordPoly quotient(const Zp& F, WordPoly a, const WordPoly& b) {
  WordPoly q;
  divrem(F, a, b, &q);
  return q;
}

WordPoly gcd(const Zp& F, WordPoly a, WordPoly b) {
  while (!b.empty()) {
    divrem(F, a, b);
    std::swap(a, b);
  }
  return monic(F, std::move(a));
}

std::optional<WordPoly> inverse_mod(const Zp& F, const WordPoly& a, const WordPoly& f) {
  // s·a ≡ r (mod f) along the remainder sequence of f and a.
  WordPoly r0 = f, r1 = rem(F, a, f), s0, s1{1};
  while (!r1.empty()) {
    WordPoly q;
    divrem(F, r0, r1, &q);
    std::swap(r0, r1);
    WordPoly s2 = sub(F, std::move(s0), mul(F, q, s1));
    s0 = std::move(s1);
    s1 = std::move(s2);
  }
  if (degree(r0) != 0) return std::nullopt;
  const u64 inv = F.inv(r0[0]);
  for (auto& x : s0) x = F.mul(x, inv);
  return rem(F, std::move(s0), f);
}

WordPoly derivative(const Zp& F, const WordPoly& a) {
  WordPoly r;
  if (a.size() < 2) return r;
  r.reserve(a.size() - 1);
  for (std::size_t i = 1; i < a.size(); ++i) r.push_back(F.mul(F.reduce(static_cast<u64>(i)), a[i]));
  trim(r);
  return r;
}

bool is_squarefree(const Zp& F, const WordPoly& f) {
  WordPoly d = derivative(F, f);
  if (d.empty()) return f.size() == 1;
  return degree(gcd(F, f, std::move(d))) == 0;
}

// ---------------------------------------------------------------------------------------------
// Reduction modulo a fixed polynomial

WordPolyModulus::WordPolyModulus(const Zp& F, WordPoly f) : F_(F), f_(std::move(f)), n_(f_.size() - 1) {
  if (f_.empty() || f_.back() != 1 || n_ < 1) panic("modulus polynomial must be monic of positive degree");
  if (n_ < kInverseDegree) return;
  // Newton's iteration g ← g + g·(1 − rev(f)·g), doubling the precision up to n − 1.
  const std::size_t want = n_ - 1;
  WordPoly rev(f_.rbegin(), f_.rend());
  WordPoly g{1};
  for (std::size_t prec = 1; prec < want;) {
    const std::size_t next = std::min(2 * prec, want);
    WordPoly head(rev.begin(), rev.begin() + static_cast<std::ptrdiff_t>(std::min(next, rev.size())));
    WordPoly e = mul(F_, head, g);
    e.resize(next, 0);
    for (auto& x : e) x = F_.neg(x);
    e[0] = F_.add(e[0], 1);
    trim(e);
    WordPoly corr = mul(F_, g, e);
    corr.resize(next, 0);
    g.resize(next, 0);
    for (std::size_t i = 0; i < next; ++i) g[i] = F_.add(g[i], corr[i]);
    trim(g);
    prec = next;
  }
  inverse_ = std::move(g);
}

WordPoly WordPolyModulus::rem(WordPoly a) const {
  if (a.size() <= n_) return a;
  if (inverse_.empty() || a.size() > 2 * n_ - 1) {
    divrem(F_, a, f_);
    return a;
  }
  // a = q·f + r: the k = deg a − n + 1 quotient coefficients are the low ones of rev(a)·rev(f)⁻¹.
  const std::size_t m = a.size() - 1, k = m - n_ + 1;
  WordPoly top(k);
  for (std::size_t i = 0; i < k; ++i) top[i] = a[m - i];
  trim(top);
  WordPoly inv(inverse_.begin(), inverse_.begin() + static_cast<std::ptrdiff_t>(std::min(k, inverse_.size())));
  trim(inv);
  WordPoly qrev = mul(F_, top, inv);
  qrev.resize(k, 0);
  WordPoly q(k);
  for (std::size_t i = 0; i < k; ++i) q[i] = qrev[k - 1 - i];
  trim(q);
  WordPoly qf = mul(F_, q, f_);
  a.resize(n_);
  for (std::size_t i = 0; i < n_ && i < qf.size(); ++i) a[i] = F_.sub(a[i], qf[i]);
  trim(a);
  return a;
}

WordPoly WordPolyModulus::powmod(const WordPoly& base, const Int& e) const {
  WordPoly result = rem(WordPoly{1});
  if (e.sign() <= 0) return result;
  const WordPoly b = base.size() > 2 * n_ - 1 ? gy::rem(F_, base, f_) : rem(base);
  auto view = e.view();
  for (std::size_t i = mpz_sizeinbase(view.get(), 2); i-- > 0;) {
    result = mulmod(result, result);
    if (mpz_tstbit(view.get(), i)) result = mulmod(result, b);
  }
  return result;
}

}  // namespace gy
