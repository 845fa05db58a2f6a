#include "num/residue.hpp"

#include <gmp.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <functional>
#include <mutex>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define GY_INVERSE_LANES 1
#endif

#include "num/interrupt.hpp"
#include "num/transform.hpp"

namespace gy {

namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

// Operands at least this long are multiplied through one integer product.
constexpr std::size_t kKroneckerLength = 32;
// Moduli at least this long reduce through the inverse of their reversal.
constexpr std::size_t kInverseDegree = 48;
// Moduli with at most this many terms below the top reduce by folding.
constexpr std::size_t kSparseTerms = 4;
// Moduli per leaf of a remainder tree, whose product has at most four limbs.
constexpr std::size_t kTreeLeaf = 8;
// Integers of at most this many limbs are reduced modulo each modulus in turn.
constexpr std::size_t kTreeLimbs = 8;
// Polynomials whose coefficients have at most this many limbs are reduced limb by limb (one pass
// per coefficient and pair of moduli), which up to about this length beats the tree's divisions.
constexpr std::size_t kDirectLimbs = 640;

}  // namespace

Zp::Zp(u64 modulus) : p(modulus) {
  if (p < 2 || p >= kWordPrimeLimit) panic("word modulus out of range");
  reciprocal_ = ~u64{0} / p;
  two64_ = static_cast<u64>((static_cast<u128>(1) << 64) % p);
  lazy_ = ~u64{0} / ((p - 1) * (p - 1));
}

u64 Zp::inv(u64 a) const {
  // Extended Euclid on (p, a) with a < p < 2^32, so every cofactor stays below p in size.
  std::int64_t r0 = static_cast<std::int64_t>(p), r1 = static_cast<std::int64_t>(a), s0 = 0, s1 = 1;
  while (r1 != 0) {
    const std::int64_t q = r0 / r1, r2 = r0 - q * r1, s2 = s0 - q * s1;
    r0 = r1;
    r1 = r2;
    s0 = s1;
    s1 = s2;
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

ModuliTree::ModuliTree(std::vector<u64> moduli, bool combine) : moduli_(std::move(moduli)) {
  static_assert(kTreeLeaf * 32 <= 4 * 64, "a leaf's product has at most four limbs");
  fields_.reserve(moduli_.size());
  limb_powers_.reserve(moduli_.size());
  for (u64 m : moduli_) {
    const Zp& F = fields_.emplace_back(m);
    const u64 w = F.reduce(static_cast<u128>(1) << 64);
    limb_powers_.push_back({w, F.mul(w, w), F.mul(F.mul(w, w), w)});
  }
  std::vector<Mpz> leaves;
  for (std::size_t lo = 0; lo < moduli_.size(); lo += kTreeLeaf) {
    Mpz m(1ul);
    for (std::size_t i = lo; i < std::min(moduli_.size(), lo + kTreeLeaf); ++i) mpz_mul_ui(m.get(), m.get(), moduli_[i]);
    leaves.push_back(std::move(m));
  }
  if (leaves.empty()) return;
  levels_.push_back(std::move(leaves));
  while (levels_.back().size() > 1) {
    const auto& below = levels_.back();
    std::vector<Mpz> up;
    for (std::size_t i = 0; i + 1 < below.size(); i += 2) {
      Mpz m;
      mpz_mul(m.get(), below[i].get(), below[i + 1].get());
      up.push_back(std::move(m));
    }
    if (below.size() % 2) up.push_back(below.back());
    levels_.push_back(std::move(up));
  }
  if (!combine) return;
  // (M / P) mod P for every node product P, from the root down: a child's is its parent's times
  // its sibling's product, reduced.
  std::vector<Mpz> outer{Mpz(1ul)};
  for (std::size_t level = levels_.size() - 1; level-- > 0;) {
    const auto& here = levels_[level];
    std::vector<Mpz> next(here.size());
    for (std::size_t c = 0; c < here.size(); ++c) {
      const std::size_t sibling = c ^ 1;
      if (sibling >= here.size()) {
        next[c] = outer[c / 2];
        continue;
      }
      mpz_mul(next[c].get(), outer[c / 2].get(), here[sibling].get());
      mpz_tdiv_r(next[c].get(), next[c].get(), here[c].get());
    }
    outer = std::move(next);
  }
  leaf_cofactor_.resize(moduli_.size());
  inverse_.resize(moduli_.size());
  for (std::size_t leaf = 0; leaf < levels_[0].size(); ++leaf) {
    const std::size_t lo = leaf * kTreeLeaf, hi = std::min(moduli_.size(), lo + kTreeLeaf);
    for (std::size_t i = lo; i < hi; ++i) {
      Mpz& c = leaf_cofactor_[i];
      mpz_set_ui(c.get(), 1);
      for (std::size_t j = lo; j < hi; ++j)
        if (j != i) mpz_mul_ui(c.get(), c.get(), moduli_[j]);
      const Zp F(moduli_[i]);
      inverse_[i] = F.inv(F.mul(mpz_fdiv_ui(outer[leaf].get(), moduli_[i]), mpz_fdiv_ui(c.get(), moduli_[i])));
    }
  }
}

mpz_srcptr ModuliTree::product() const { return levels_.back()[0].get(); }

void ModuliTree::gather(std::size_t level, std::size_t node, const u64* r, std::vector<Mpz>& scratch, mpz_ptr out) const {
  if (level == 0) {
    const std::size_t lo = node * kTreeLeaf, hi = std::min(moduli_.size(), lo + kTreeLeaf);
    mpz_set_ui(out, 0);
    for (std::size_t i = lo; i < hi; ++i) {
      const Zp F(moduli_[i]);
      mpz_addmul_ui(out, leaf_cofactor_[i].get(), F.mul(r[i], inverse_[i]));
    }
    return;
  }
  const auto& below = levels_[level - 1];
  const std::size_t left = 2 * node, right = left + 1;
  if (right >= below.size()) {
    gather(level - 1, left, r, scratch, out);
    return;
  }
  // out = x_L·P_R + x_R·P_L, with x_R in this level's scratch while the left half is formed.
  Mpz& x_right = scratch[level];
  gather(level - 1, right, r, scratch, x_right.get());
  mpz_mul(out, x_right.get(), below[left].get());
  gather(level - 1, left, r, scratch, x_right.get());
  mpz_addmul(out, x_right.get(), below[right].get());
}

void ModuliTree::combine(const u64* r, Mpz& x) const {
  if (inverse_.size() != moduli_.size()) panic("moduli tree built without its combining data");
  std::vector<Mpz> scratch(levels_.size());
  gather(levels_.size() - 1, 0, r, scratch, x.get());
  mpz_tdiv_r(x.get(), x.get(), product());
}

void ModuliTree::descend(std::size_t level, std::size_t node, mpz_srcptr x, std::vector<Mpz>& scratch, u64* out,
                         std::size_t stride) const {
  // x >= 0, below the node's product.
  if (level == 0) {
    const std::size_t lo = node * kTreeLeaf, hi = std::min(moduli_.size(), lo + kTreeLeaf);
    const std::size_t size = mpz_size(x);
    mp_limb_t limbs[4] = {0, 0, 0, 0};
    for (std::size_t j = 0; j < size; ++j) limbs[j] = mpz_getlimbn(x, static_cast<mp_size_t>(j));
    for (std::size_t i = lo; i < hi; ++i) {
      // Each term is below 2^96, so the sum fits.
      const auto& w = limb_powers_[i];
      const u128 v = static_cast<u128>(limbs[0]) + static_cast<u128>(limbs[1]) * w[0] +
                     static_cast<u128>(limbs[2]) * w[1] + static_cast<u128>(limbs[3]) * w[2];
      out[i * stride] = fields_[i].reduce(v);
    }
    return;
  }
  const auto& below = levels_[level - 1];
  for (std::size_t c = 2 * node; c < std::min(below.size(), 2 * node + 2); ++c) {
    if (mpz_size(x) < mpz_size(below[c].get())) {
      descend(level - 1, c, x, scratch, out, stride);
    } else {
      mpz_tdiv_r(scratch[level - 1].get(), x, below[c].get());
      descend(level - 1, c, scratch[level - 1].get(), scratch, out, stride);
    }
  }
}

void ModuliTree::reduce(const Int& x, u64* out, std::size_t stride) const {
  const auto v = x.view();
  mpz_srcptr z = v.get();
  if (mpz_size(z) <= kTreeLimbs || levels_.size() < 2) {
    for (std::size_t i = 0; i < moduli_.size(); ++i) out[i * stride] = mod_word(x, moduli_[i]);
    return;
  }
  std::vector<Mpz> scratch(levels_.size());
  const std::size_t top = levels_.size() - 1;
  mpz_srcptr root = levels_[top][0].get();
  if (mpz_sgn(z) < 0 || mpz_size(z) >= mpz_size(root)) {
    mpz_fdiv_r(scratch[top].get(), z, root);
    z = scratch[top].get();
  }
  descend(top, 0, z, scratch, out, stride);
}

// Every coefficient of f modulo every m_i, taken limb by limb: modulo the product q < 2^64 of two
// moduli at a time (one pass of mpn_mod_1 over the coefficient's limbs serves both), then from that
// one word modulo each. For short coefficients, far fewer steps than their way down a tree.
std::vector<WordPoly> ModuliTree::reduce_by_limbs(const IntPoly& f) const {
  const std::size_t n = f.coeffs.size(), count = moduli_.size();
  // The coefficients' limbs, each coefficient from `start[k]` with `start[k + 1] − start[k]` limbs.
  std::vector<mp_limb_t> limbs;
  std::vector<std::size_t> start(n + 1, 0);
  std::vector<char> negative(n, 0);
  for (std::size_t k = 0; k < n; ++k) {
    const auto v = f.coeffs[k].view();
    const std::size_t size = mpz_size(v.get());
    limbs.insert(limbs.end(), mpz_limbs_read(v.get()), mpz_limbs_read(v.get()) + size);
    negative[k] = mpz_sgn(v.get()) < 0;
    start[k + 1] = limbs.size();
  }
  std::vector<WordPoly> out(count);
  for_each_parallel((count + 1) / 2, 32, [&](std::size_t g) {
    poll_interrupt();
    const std::size_t i = 2 * g, pair = std::min<std::size_t>(2, count - i);
    const u64 q = pair == 2 ? moduli_[i] * moduli_[i + 1] : moduli_[i];  // each modulus below 2^32
    for (std::size_t t = 0; t < pair; ++t) out[i + t].resize(n);
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t size = start[k + 1] - start[k];
      const u64 v = size == 0 ? 0 : mpn_mod_1(limbs.data() + start[k], static_cast<mp_size_t>(size), q);
      for (std::size_t t = 0; t < pair; ++t) {
        const Zp& F = fields_[i + t];
        const u64 w = F.reduce(v);
        out[i + t][k] = negative[k] ? F.neg(w) : w;
      }
    }
    for (std::size_t t = 0; t < pair; ++t) trim(out[i + t]);
  });
  return out;
}

std::vector<WordPoly> ModuliTree::reduce(const IntPoly& f) const {
  const std::size_t n = f.coeffs.size(), count = moduli_.size();
  std::size_t limbs = 0, longest = 0;
  for (const auto& c : f.coeffs) {
    limbs += (c.bit_length() + 63) / 64;
    longest = std::max<std::size_t>(longest, (c.bit_length() + 63) / 64);
  }
  if (longest <= kDirectLimbs) return reduce_by_limbs(f);
  std::vector<u64> table(n * count);  // entry i·n + k: coefficient k modulo m_i
  const std::size_t grain = limbs * count > (std::size_t{1} << 20) ? 1 : std::max<std::size_t>(n, 1);
  for_each_parallel(n, grain, [&](std::size_t k) { reduce(f.coeffs[k], table.data() + k, n); });
  std::vector<WordPoly> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    out[i].assign(table.begin() + static_cast<std::ptrdiff_t>(i * n), table.begin() + static_cast<std::ptrdiff_t>((i + 1) * n));
    trim(out[i]);
  }
  return out;
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

// Fills r[k], for the slots of `w` bits that start below bit `limit` of the product `pr`, with the
// slot's value reduced modulo p; the other entries of r are left as they are.
void unpack(const Zp& F, const mp_limb_t* pr, unsigned w, std::size_t limit, WordPoly& r) {
  if (w <= 64) {
    const u64 mask = w == 64 ? ~u64{0} : (u64{1} << w) - 1;
    for (std::size_t k = 0, bit = 0; k < r.size() && bit < limit; ++k, bit += w) {
      const std::size_t li = bit / 64;
      const unsigned sh = bit % 64;
      u64 v = pr[li] >> sh;
      if (sh != 0) v |= pr[li + 1] << (64 - sh);
      r[k] = F.reduce(v & mask);
    }
  } else {
    for (std::size_t k = 0; k < r.size() && k * w < limit; ++k) r[k] = F.reduce(slot(pr, k * w, w));
  }
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
    multiply_limbs(pr.data(), pa.data(), la, pa.data(), la);
  } else {
    pack(b, w, bits, pb.data());
    multiply_limbs(pr.data(), pa.data(), la, pb.data(), lb);
  }
  WordPoly r(nr);
  unpack(F, pr.data(), w, nr * w, r);
  trim(r);
  return r;
}

// The low `count` coefficients of a·b, with b packed at slot width w (`b_limbs` limbs of it
// suffice for those coefficients), each reduced modulo p. Every sum of products that lands in one
// of those slots stays below 2^w, so no carry reaches them.
WordPoly mul_low_packed(const Zp& F, const WordPoly& a, const mp_limb_t* b, std::size_t b_limbs, unsigned w,
                        std::size_t count) {
  WordPoly r(count, 0);
  if (a.empty() || b_limbs == 0) return r;
  const unsigned bits = static_cast<unsigned>(std::bit_width(F.p - 1));
  const std::size_t la = (a.size() * w + 63) / 64;
  std::vector<mp_limb_t> pa(la + 1, 0);
  pack(a, w, bits, pa.data());
  std::size_t na = la;
  while (na > 0 && pa[na - 1] == 0) --na;
  std::size_t nb = b_limbs;
  while (nb > 0 && b[nb - 1] == 0) --nb;
  if (na == 0 || nb == 0) return r;
  std::vector<mp_limb_t> pr(na + nb + 3, 0);
  multiply_limbs(pr.data(), pa.data(), na, b, nb);
  unpack(F, pr.data(), w, (na + nb) * 64, r);
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
// Primes below 2^31 and rational reconstruction

// Miller–Rabin with the bases 2, 7 and 61, exact below 2^32.
bool is_word_prime(u64 n) {
  if (n < 2) return false;
  for (u64 q : {2u, 3u, 5u, 7u, 11u, 13u, 61u})
    if (n % q == 0) return n == q;
  u64 d = n - 1;
  unsigned s = 0;
  for (; d % 2 == 0; d /= 2) ++s;
  for (u64 a : {2u, 7u, 61u}) {
    u64 x = 1, b = a % n;
    for (u64 e = d; e; e >>= 1, b = b * b % n)
      if (e & 1) x = x * b % n;
    if (x == 1 || x == n - 1) continue;
    bool composite = true;
    for (unsigned r = 1; r < s && composite; ++r) {
      x = x * x % n;
      composite = x != n - 1;
    }
    if (composite) return false;
  }
  return true;
}

namespace {

u64 prime_below(u64 n) {
  do --n;
  while (!is_word_prime(n));
  return n;
}

// n/d with |n|, d <= sqrt(N/2) and n ≡ d·r (mod N), from the remainder sequence of N and r.
std::optional<std::pair<Int, Int>> rational_reconstruction(mpz_srcptr r, mpz_srcptr N) {
  Mpz r0, r1, s0, s1, q, t, bound;
  mpz_fdiv_q_2exp(bound.get(), N, 1);
  mpz_sqrt(bound.get(), bound.get());
  mpz_set(r0.get(), N);
  mpz_fdiv_r(r1.get(), r, N);
  mpz_set_ui(s0.get(), 0);
  mpz_set_ui(s1.get(), 1);
  while (mpz_cmp(r1.get(), bound.get()) > 0) {
    mpz_fdiv_qr(q.get(), t.get(), r0.get(), r1.get());
    mpz_swap(r0.get(), r1.get());
    mpz_swap(r1.get(), t.get());
    mpz_submul(s0.get(), q.get(), s1.get());
    mpz_swap(s0.get(), s1.get());
  }
  std::optional<std::pair<Int, Int>> out;
  if (mpz_sgn(s1.get()) < 0) {
    mpz_neg(s1.get(), s1.get());
    mpz_neg(r1.get(), r1.get());
  }
  mpz_gcd(t.get(), r1.get(), s1.get());
  if (mpz_sgn(s1.get()) != 0 && mpz_cmp(s1.get(), bound.get()) <= 0 && mpz_cmp_ui(t.get(), 1) == 0)
    out = std::pair{r1.to_int(), s1.to_int()};
  return out;
}

// The residues modulo N read back as fractions over one common denominator; none when one of them
// is out of reach of N.
std::optional<FracPoly> reconstruct(const std::vector<Int>& residues, const Int& N) {
  const auto n = N.view();
  Int den(1);
  std::vector<Int> num(residues.size());
  Mpz v, half, twice;
  mpz_fdiv_q_2exp(half.get(), n.get(), 1);
  mpz_sqrt(half.get(), half.get());
  bool ok = true;
  for (std::size_t i = 0; i < residues.size() && ok; ++i) {
    // With the denominator so far, a small symmetric residue is the numerator itself.
    mpz_mul(v.get(), residues[i].view().get(), den.view().get());
    mpz_fdiv_r(v.get(), v.get(), n.get());
    mpz_mul_2exp(twice.get(), v.get(), 1);
    if (mpz_cmp(twice.get(), n.get()) > 0) mpz_sub(v.get(), v.get(), n.get());
    if (mpz_cmpabs(v.get(), half.get()) <= 0) {
      num[i] = v.to_int();
      continue;
    }
    auto frac = rational_reconstruction(v.get(), n.get());
    if (!frac) {
      ok = false;
      break;
    }
    for (std::size_t j = 0; j < i; ++j) num[j] *= frac->second;
    den *= frac->second;
    num[i] = std::move(frac->first);
  }
  if (!ok) return std::nullopt;
  std::vector<Fraction> c;
  c.reserve(num.size());
  for (auto& x : num) c.push_back(expect(Fraction::make(std::move(x), den), "positive denominator"));
  return FracPoly(std::move(c));
}

}  // namespace

u64 word_prime(std::size_t i) {
  static const std::vector<u64> table = [] {
    std::vector<u64> t;
    u64 p = u64{1} << 31;
    for (int k = 0; k < 1024; ++k) t.push_back(p = prime_below(p));
    return t;
  }();
  if (i < table.size()) return table[i];
  // Beyond the table (inverses and factors with huge coefficients ask for thousands): found once,
  // in order, and kept.
  static std::mutex lock;
  static std::vector<u64> more;
  std::lock_guard hold(lock);
  while (more.size() + table.size() <= i) more.push_back(prime_below(more.empty() ? table.back() : more.back()));
  return more[i - table.size()];
}

std::optional<FracPoly> inverse_mod_rational(const IntPoly& a, const IntPoly& m,
                                             const std::function<bool(const FracPoly&)>& accept) {
  if (a.is_zero()) return std::nullopt;
  constexpr std::size_t kFailures = 16;
  std::size_t failures = 0;
  const std::size_t d = static_cast<std::size_t>(m.degree());
  std::vector<Int> residues(d);  // the inverse modulo N, coefficients in [0, N)
  Int N(1);
  std::size_t next = 0, checkpoint = 4;
  Mpz t;
  // Inverse modulo the prime q, or none for a prime that divides lc(m) or shares a factor with a.
  auto modular = [&](u64 q) -> std::optional<WordPoly> {
    const Zp F(q);
    WordPoly mq = to_word_poly(m, F);
    if (static_cast<std::size_t>(degree(mq)) != d) return std::nullopt;
    return inverse_mod(F, to_word_poly(a, F), monic(F, std::move(mq)));
  };
  for (std::size_t used = 0;;) {
    const u64 q = word_prime(next++);
    auto inv = modular(q);
    if (!inv) {
      if (++failures < kFailures) continue;
      return std::nullopt;
    }
    failures = 0;
    // The monic modulus' inverse is also the inverse modulo m itself.
    inv->resize(d, 0);
    const Zp F(q);
    const u64 n_inv = N.is_one() ? 0 : F.inv(mod_word(N, q));
    for (std::size_t i = 0; i < d; ++i) {
      if (N.is_one()) {
        residues[i] = Int((*inv)[i]);
        continue;
      }
      const u64 k = F.mul(F.sub((*inv)[i], mod_word(residues[i], q)), n_inv);
      if (k == 0) continue;
      mpz_mul_ui(t.get(), N.view().get(), k);
      mpz_add(t.get(), t.get(), residues[i].view().get());
      residues[i] = t.to_int();
    }
    N *= Int(q);
    if (++used < checkpoint) continue;
    checkpoint += checkpoint / 4;
    auto candidate = reconstruct(residues, N);
    if (!candidate) continue;
    // The candidate must hold modulo a prime outside N before it is checked exactly.
    for (;;) {
      const u64 r = word_prime(next++);
      auto check = modular(r);
      if (!check) continue;
      const Zp G(r);
      // Compare the reduced candidate with the inverse modulo r, coefficient by coefficient.
      bool same = true;
      check->resize(d, 0);
      for (std::size_t i = 0; i < d && same; ++i) {
        const Fraction& x = i < candidate->coeffs.size() ? candidate->coeffs[i] : Fraction();
        const u64 numr = mod_word(x.num(), r), denr = mod_word(x.den(), r);
        same = denr != 0 && G.mul(numr, G.inv(denr)) == (*check)[i];
      }
      if (same && accept(*candidate)) return candidate;
      break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Reduction modulo a fixed polynomial

WordPolyModulus::WordPolyModulus(const Zp& F, WordPoly f) : F_(F), f_(std::move(f)), n_(f_.size() - 1) {
  if (f_.empty() || f_.back() != 1 || n_ < 1) panic("modulus polynomial must be monic of positive degree");
  for (std::size_t j = 0; j < n_; ++j)
    if (f_[j] != 0) sparse_.emplace_back(j, F_.neg(f_[j]));
  if (sparse_.size() <= kSparseTerms) return;
  sparse_.clear();
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
  const unsigned bits = static_cast<unsigned>(std::bit_width(F_.p - 1));
  width_ = 2 * bits + static_cast<unsigned>(std::bit_width(n_ + 1));
  packed_inverse_.assign((inverse_.size() * width_ + 63) / 64 + 1, 0);
  pack(inverse_, width_, bits, packed_inverse_.data());
  packed_f_.assign((f_.size() * width_ + 63) / 64 + 1, 0);
  pack(f_, width_, bits, packed_f_.data());
}

WordPoly WordPolyModulus::rem(WordPoly a) const {
  if (a.size() <= n_) return a;
  if (!sparse_.empty() || n_ == 1) {
    // x^n ≡ −Σ f_j·x^j: each top coefficient folds onto the few terms below it.
    for (std::size_t i = a.size(); i-- > n_;) {
      const u64 c = a[i];
      if (c == 0) continue;
      for (const auto& [j, v] : sparse_) a[i - n_ + j] = F_.add(a[i - n_ + j], F_.mul(c, v));
    }
    a.resize(n_);
    trim(a);
    return a;
  }
  if (inverse_.empty() || a.size() > 2 * n_ - 1) {
    divrem(F_, a, f_);
    return a;
  }
  // a = q·f + r: the k = deg a − n + 1 quotient coefficients are the low ones of rev(a)·rev(f)⁻¹,
  // and r is the low n coefficients of a − q·f.
  const std::size_t m = a.size() - 1, k = m - n_ + 1;
  WordPoly top(k);
  for (std::size_t i = 0; i < k; ++i) top[i] = a[m - i];
  const std::size_t inverse_limbs = std::min(packed_inverse_.size(), (k * width_ + 63) / 64 + 1);
  const WordPoly qrev = mul_low_packed(F_, top, packed_inverse_.data(), inverse_limbs, width_, k);
  WordPoly q(k);
  for (std::size_t i = 0; i < k; ++i) q[i] = qrev[k - 1 - i];
  trim(q);
  const std::size_t f_limbs = std::min(packed_f_.size(), (n_ * width_ + 63) / 64 + 1);
  const WordPoly qf = mul_low_packed(F_, q, packed_f_.data(), f_limbs, width_, n_);
  a.resize(n_);
  for (std::size_t i = 0; i < n_; ++i) a[i] = F_.sub(a[i], qf[i]);
  trim(a);
  return a;
}

WordPoly WordPolyModulus::powmod(const WordPoly& base, const Int& e) const {
  WordPoly result = rem(WordPoly{1});
  if (e.sign() <= 0) return result;
  const WordPoly b = base.size() > 2 * n_ - 1 ? gy::rem(F_, base, f_) : rem(base);
  auto view = e.view();
  for (std::size_t i = mpz_sizeinbase(view.get(), 2); i-- > 0;) {
    if ((i & 7) == 0) poll_interrupt();
    result = mulmod(result, result);
    if (mpz_tstbit(view.get(), i)) result = mulmod(result, b);
  }
  return result;
}

// ---- Resultants of bivariate polynomials from values modulo word primes ----------------------

namespace {

// The degrees a run of the sequence meets, its resultant and its remainder of degree one.
struct SequenceRun {
  std::vector<std::int64_t> degrees;
  u64 res = 0;
  u64 s0 = 0, s1 = 0;
  bool has_linear = false;
};

// resultant() step by step over the residues; false when a remainder vanishes or a divisor is zero.
// Each remainder is kept as R/rho and g, h as fractions: prem is homogeneous, prem(R0/rho0, R1/rho1)
// = prem(R0, R1)/(rho0·rho1^(delta+1)), so the steps need no inverse, and the outputs take one.
bool run_sequence(const Zp& F, WordPoly a, WordPoly b, SequenceRun& out) {
  out.degrees.clear();
  out.has_linear = false;
  if (a.empty() || b.empty()) return false;
  bool negate = false;
  WordPoly r0 = std::move(a), r1 = std::move(b);
  if (degree(r0) < degree(r1)) {
    std::swap(r0, r1);
    negate = (degree(r0) % 2 != 0) && (degree(r1) % 2 != 0);
  }
  out.degrees.push_back(degree(r0));
  out.degrees.push_back(degree(r1));
  u64 rho0 = 1, rho1 = 1;
  u64 linear0 = 0, linear1 = 0, linear_rho = 1;
  auto keep_linear = [&](const WordPoly& r, u64 rho) {
    if (degree(r) != 1) return;
    out.has_linear = true;
    linear0 = r[0];
    linear1 = r[1];
    linear_rho = rho;
  };
  keep_linear(r1, rho1);
  u64 gn = 1, gd = 1, hn = 1, hd = 1;  // g = gn/gd, h = hn/hd, the denominators never zero
  while (degree(r1) > 0) {
    const std::int64_t delta = degree(r0) - degree(r1);
    if ((degree(r0) % 2 != 0) && (degree(r1) % 2 != 0)) negate = !negate;
    // The pseudo-remainder: every coefficient below the one eliminated scaled by the leading one.
    WordPoly w = r0;
    const std::size_t d = static_cast<std::size_t>(degree(r1));
    const u64 c = r1[d];
    const bool lazy = F.lazy_terms() >= 2;
    for (std::size_t t = w.size(); t-- > d;) {
      const std::size_t low = t - d;
      if (w[t] == 0 || !lazy) {
        for (std::size_t i = 0; i < t; ++i) w[i] = F.mul(w[i], c);
        if (w[t] == 0) continue;
        for (std::size_t j = 0; j < d; ++j) w[low + j] = F.sub(w[low + j], F.mul(w[t], r1[j]));
        continue;
      }
      // c·w_x − w_t·r1_j as one sum of two products, reduced once.
      for (std::size_t i = 0; i < low; ++i) w[i] = F.mul(w[i], c);
      const u64 minus = F.p - w[t];
      for (std::size_t j = 0; j < d; ++j) w[low + j] = F.reduce(w[low + j] * c + minus * r1[j]);
    }
    w.resize(d);
    trim(w);
    if (w.empty()) return false;
    // The remainder over div = g·h^delta: W·div_d / (rho0·rho1^(delta+1)·div_n).
    const u64 div_n = F.mul(gn, F.pow(hn, static_cast<u64>(delta)));
    if (div_n == 0) return false;
    const u64 div_d = F.mul(gd, F.pow(hd, static_cast<u64>(delta)));
    for (auto& x : w) x = F.mul(x, div_d);
    const u64 rho = F.mul(F.mul(rho0, F.pow(rho1, static_cast<u64>(delta + 1))), div_n);
    out.degrees.push_back(degree(w));
    keep_linear(w, rho);
    r0 = std::move(r1);
    r1 = std::move(w);
    rho0 = rho1;
    rho1 = rho;
    gn = r0.back();
    gd = rho0;
    if (delta >= 1) {
      if (hn == 0) return false;
      // h = g^delta / h^(delta−1)
      const u64 n = F.mul(F.pow(gn, static_cast<u64>(delta)), F.pow(hd, static_cast<u64>(delta - 1)));
      hd = F.mul(F.pow(gd, static_cast<u64>(delta)), F.pow(hn, static_cast<u64>(delta - 1)));
      hn = n;
    }
  }
  // Res = (R1_0/rho1)^e / h^(e−1).
  const std::int64_t e = degree(r0);
  u64 num = F.pow(r1[0], static_cast<u64>(e)), den = F.pow(rho1, static_cast<u64>(e));
  if (e > 1) {
    if (hn == 0) return false;
    num = F.mul(num, F.pow(hd, static_cast<u64>(e - 1)));
    den = F.mul(den, F.pow(hn, static_cast<u64>(e - 1)));
  }
  // One inverse for both denominators.
  const u64 both = F.inv(out.has_linear ? F.mul(den, linear_rho) : den);
  const u64 res = F.mul(num, out.has_linear ? F.mul(both, linear_rho) : both);
  if (out.has_linear) {
    const u64 inv_rho = F.mul(both, den);
    out.s0 = F.mul(linear0, inv_rho);
    out.s1 = F.mul(linear1, inv_rho);
  }
  out.res = negate ? F.neg(res) : res;
  return true;
}

// Whether every degree of `part` is one of `whole`'s (both descending).
bool degrees_within(const std::vector<std::int64_t>& part, const std::vector<std::int64_t>& whole) {
  return std::includes(whole.begin(), whole.end(), part.begin(), part.end(), std::greater<>());
}

// The coefficients of x^i of p, each a polynomial in y, modulo F; none when a denominator vanishes.
std::optional<std::vector<WordPoly>> reduce_bivariate(const BiPoly& p, const Zp& F) {
  std::vector<WordPoly> out;
  out.reserve(p.coeffs.size());
  for (const auto& c : p.coeffs) {
    WordPoly w;
    w.reserve(c.coeffs.size());
    for (const auto& x : c.coeffs) {
      const u64 den = mod_word(x.den(), F.p);
      if (den == 0) return std::nullopt;
      w.push_back(F.mul(mod_word(x.num(), F.p), F.inv(den)));
    }
    out.push_back(std::move(w));
  }
  return out;
}

WordPoly evaluate_at(const Zp& F, const std::vector<WordPoly>& p, u64 y) {
  WordPoly r(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) {
    u64 v = 0;
    for (std::size_t j = p[i].size(); j-- > 0;) v = F.add(F.mul(v, y), p[i][j]);
    r[i] = v;
  }
  trim(r);
  return r;
}


// Σ_i (Σ_j |c_ij|)^2 for the integer coefficients c_ij = den·p_ij.
Int row_norm_squared(const BiPoly& p, const Int& den) {
  Int total(0);
  for (const auto& c : p.coeffs) {
    Int sum(0);
    for (const auto& x : c.coeffs) sum = sum + (x.num() * (den / x.den())).abs();
    total = total + sum * sum;
  }
  return total;
}

Int common_denominator(const BiPoly& p) {
  Int den(1);
  for (const auto& c : p.coeffs)
    for (const auto& x : c.coeffs) den = Int::lcm(den, x.den());
  return den;
}

std::int64_t y_degree(const BiPoly& p) {
  std::int64_t e = 0;
  for (const auto& c : p.coeffs) e = std::max<std::int64_t>(e, static_cast<std::int64_t>(c.coeffs.size()) - 1);
  return e;
}

}  // namespace

// The polynomials of degree below ys.size() taking values[k][i] at ys[i], by Lagrange's formula:
// M(y) = ∏ (y − y_i), and each term M / (y − y_i) over its value at y_i.
std::vector<WordPoly> interpolate(const Zp& F, const std::vector<u64>& ys, const std::vector<std::vector<u64>>& values) {
  const std::size_t n = ys.size();
  WordPoly m{1};
  for (u64 y : ys) {
    m.insert(m.begin(), 0);
    for (std::size_t j = 0; j + 1 < m.size(); ++j) m[j] = F.sub(m[j], F.mul(y, m[j + 1]));
  }
  // Consecutive points y_0 + i, fewer than p, have M'(y_i) = (−1)^(n−1−i)·i!·(n−1−i)!: their
  // weights 1/M'(y_i) come from the inverse factorials, with no inverse or evaluation per point.
  bool consecutive = n > 0 && n < F.p;
  for (std::size_t i = 1; i < n && consecutive; ++i) consecutive = ys[i] == ys[0] + i;
  WordPoly inverse_factorial;
  if (consecutive) {
    inverse_factorial.assign(n, 1);
    u64 f = 1;
    for (std::size_t i = 1; i < n; ++i) f = F.mul(f, F.reduce(static_cast<u64>(i)));
    inverse_factorial[n - 1] = F.inv(f);
    for (std::size_t i = n - 1; i > 0; --i) inverse_factorial[i - 1] = F.mul(inverse_factorial[i], F.reduce(static_cast<u64>(i)));
  }
  // Sums of products kept unreduced: each below p² < 2^64, and at most n <= 2^32 of them.
  std::vector<std::vector<u128>> sums(values.size(), std::vector<u128>(n, 0));
  WordPoly q(n);
  for (std::size_t i = 0; i < n; ++i) {
    // q = M / (y − y_i) by synthetic division from the top.
    u64 carry = 0;
    for (std::size_t j = n; j-- > 0;) {
      carry = F.add(m[j + 1], F.mul(carry, ys[i]));
      q[j] = carry;
    }
    u64 w;
    if (consecutive) {
      w = F.mul(inverse_factorial[i], inverse_factorial[n - 1 - i]);
      if ((n - 1 - i) % 2 == 1) w = F.neg(w);
    } else {
      u64 at = 0;
      for (std::size_t j = n; j-- > 0;) at = F.add(F.mul(at, ys[i]), q[j]);
      w = F.inv(at);
    }
    for (std::size_t k = 0; k < values.size(); ++k) {
      const u64 c = F.mul(values[k][i], w);
      if (c == 0) continue;
      for (std::size_t j = 0; j < n; ++j) sums[k][j] += static_cast<u128>(c * q[j]);
    }
  }
  std::vector<WordPoly> out(values.size(), WordPoly(n));
  for (std::size_t k = 0; k < values.size(); ++k)
    for (std::size_t j = 0; j < n; ++j) out[k][j] = F.reduce(sums[k][j]);
  return out;
}

// Res(a, b) modulo p for non-zero a and b, along the remainder sequence:
// Res(a, b) = (−1)^(deg a·deg b)·lc(b)^(deg a − deg r)·Res(b, r) with r = a mod b.
u64 resultant(const Zp& F, WordPoly a, WordPoly b) {
  u64 acc = 1;
  for (;;) {
    if (b.empty()) return 0;
    const std::int64_t da = degree(a), db = degree(b);
    if (db == 0) return F.mul(acc, F.pow(b[0], static_cast<u64>(da)));
    WordPoly r = rem(F, a, b);
    if (r.empty()) return 0;
    if ((da & db & 1) != 0) acc = F.neg(acc);
    acc = F.mul(acc, F.pow(b.back(), static_cast<u64>(da - degree(r))));
    a = std::move(b);
    b = std::move(r);
  }
}

std::optional<FracPoly> resultant_by_primes(const BiPoly& a, const BiPoly& b, BiPoly* linear) {
  if (linear) *linear = BiPoly{};
  const std::int64_t m = a.degree(), n = b.degree();
  if (m < 2 || n < 2) return std::nullopt;
  const Int da = common_denominator(a), db = common_denominator(b);
  // Every value sought is a determinant (over da^n·db^m) of at most n rows of A = da·a and m rows of
  // B = db·b, whose entries are polynomials in y. On |y| = 1 an entry is at most the sum of its
  // coefficients' sizes, so Hadamard's bound ‖A‖^n·‖B‖^m, with ‖A‖² = Σ_i (Σ_j |A_ij|)², bounds
  // the determinant there and so each of its coefficients. The remainder of degree one, ± the
  // subresultant of some index k, is over da^(n−k)·db^(m−k): over the common denominator it gains
  // (da·db)^k, k < min(m, n).
  const std::uint64_t denominator_bits = da.bit_length() + db.bit_length();
  const std::uint64_t bound_bits = (static_cast<std::uint64_t>(n) * row_norm_squared(a, da).bit_length() +
                                    static_cast<std::uint64_t>(m) * row_norm_squared(b, db).bit_length() + 1) / 2 +
                                   static_cast<std::uint64_t>(std::min(m, n)) * denominator_bits + 2;
  // Points per prime: more than the degree in y of any of those determinants.
  const std::size_t points = static_cast<std::size_t>(n * y_degree(a) + m * y_degree(b) + 1);
  const Int den = Int::pow(da, static_cast<std::uint32_t>(n)) * Int::pow(db, static_cast<std::uint32_t>(m));

  // The degrees the sequence meets over the rationals. Over any field, the remainders below degree
  // min(m, n) meet exactly the j whose principal subresultant coefficient is non-zero; for A and B
  // that is psc_j(y), the determinant of n − j rows of A's coefficients and m − j rows of B's. So
  // (i) deg_y psc_j <= (n − j)·deg_y a + (m − j)·deg_y b < points, and (ii) by Hadamard on |y| = 1,
  // with ‖A‖, ‖B‖ >= 1, each coefficient of psc_j is at most ‖A‖^n·‖B‖^m < 2^bound_bits / 2. At a
  // point y0 modulo p that keeps both degrees in x, psc_j of the values is a unit times psc_j(y0),
  // so a point meets only degrees the rational sequence meets. The reference is the most that a few
  // sample points meet; a later point that meets more makes the run give up. Were the reference to
  // lack some j with psc_j ≠ 0, every prime kept would have `points` points, each of them a root of
  // psc_j modulo p, so by (i) p would divide psc_j; the primes kept have a product of at least
  // 2^bound_bits, so by (ii) psc_j = 0. Hence a run that completes has the rational sequence's
  // degrees at every point kept, and each of its steps there is the value of the rational one.
  std::vector<std::int64_t> reference;
  std::size_t first = 0;
  for (; first < 8 && reference.empty(); ++first) {
    const Zp F(word_prime(first));
    auto ra = reduce_bivariate(a, F), rb = reduce_bivariate(b, F);
    if (!ra || !rb) continue;
    SequenceRun run;
    for (u64 y = 1; y <= 4; ++y)
      if (run_sequence(F, evaluate_at(F, *ra, y), evaluate_at(F, *rb, y), run) && run.degrees[0] == std::max(m, n) &&
          run.degrees[1] == std::min(m, n) && run.degrees.size() > reference.size() &&
          degrees_within(reference, run.degrees))
        reference = run.degrees;
  }
  if (reference.empty()) return std::nullopt;

  std::vector<u64> primes;
  std::vector<std::array<WordPoly, 3>> values;  // resultant, s0, s1 per prime
  std::uint64_t bits = 0;
  std::size_t next = 0;
  bool has_linear = false;
  std::atomic<bool> give_up{false};
  for (int round = 0; round < 4 && bits < bound_bits; ++round) {
    const std::size_t want = static_cast<std::size_t>((bound_bits - bits) / 30 + 1) + (round > 0 ? 2 : 0);
    std::vector<u64> batch(want);
    for (auto& p : batch) p = word_prime(next++);
    std::vector<std::optional<std::array<WordPoly, 3>>> got(want);
    std::vector<char> linear_seen(want, 0);
    for_each_parallel(want, 1, [&](std::size_t i) {
      if (give_up.load(std::memory_order_relaxed)) return;
      const Zp F(batch[i]);
      auto ra = reduce_bivariate(a, F), rb = reduce_bivariate(b, F);
      if (!ra || !rb) return;
      std::vector<u64> ys;
      std::vector<std::vector<u64>> vals(3);
      SequenceRun run;
      std::size_t misses = 0;
      for (u64 y = 1; ys.size() < points; ++y) {
        if ((y & 63) == 0) poll_interrupt();
        if (run_sequence(F, evaluate_at(F, *ra, y), evaluate_at(F, *rb, y), run) && run.degrees == reference) {
          ys.push_back(y);
          vals[0].push_back(run.res);
          vals[1].push_back(run.has_linear ? run.s0 : 0);
          vals[2].push_back(run.has_linear ? run.s1 : 0);
          linear_seen[i] = run.has_linear;
          continue;
        }
        if (!run.degrees.empty() && run.degrees != reference && degrees_within(reference, run.degrees)) {
          give_up = true;
          return;
        }
        if (++misses > 8) return;  // the prime divides a leading coefficient of the sequence
      }
      // The values over the common denominator are integral.
      const u64 scale = mod_word(den, F.p);
      for (auto& v : vals)
        for (auto& x : v) x = F.mul(x, scale);
      auto polys = interpolate(F, ys, vals);
      got[i] = std::array<WordPoly, 3>{std::move(polys[0]), std::move(polys[1]), std::move(polys[2])};
    });
    if (give_up) return std::nullopt;
    for (std::size_t i = 0; i < want; ++i) {
      if (!got[i]) continue;
      primes.push_back(batch[i]);
      values.push_back(std::move(*got[i]));
      has_linear = linear_seen[i];
      bits += static_cast<std::uint64_t>(std::bit_width(batch[i]) - 1);
    }
  }
  if (bits < bound_bits) return std::nullopt;

  // Joined in [0, M), read in (−M/2, M/2], and put over the common denominator.
  const ModuliTree tree(primes, true);
  Mpz half;
  mpz_fdiv_q_2exp(half.get(), tree.product(), 1);
  const std::size_t outputs = has_linear ? 3 : 1;
  std::vector<std::vector<Fraction>> coeffs(outputs, std::vector<Fraction>(points));
  for_each_parallel(outputs * points, 8, [&](std::size_t idx) {
    const std::size_t k = idx / points, j = idx % points;
    std::vector<u64> r(primes.size());
    for (std::size_t i = 0; i < primes.size(); ++i) r[i] = values[i][k][j];
    Mpz x;
    tree.combine(r.data(), x);
    if (mpz_cmp(x.get(), half.get()) > 0) mpz_sub(x.get(), x.get(), tree.product());
    if (mpz_sgn(x.get()) == 0) return;
    coeffs[k][j] = expect(Fraction::make(x.to_int(), den), "positive denominator");
  });
  FracPoly res(std::move(coeffs[0]));
  if (res.is_zero()) return std::nullopt;
  if (linear && has_linear) *linear = BiPoly(std::vector<FracPoly>{FracPoly(std::move(coeffs[1])), FracPoly(std::move(coeffs[2]))});
  return res;
}

}  // namespace gy

namespace gy {

// s·a ≡ r (mod f) along the remainder sequence of f and a; each division takes its whole quotient
// first, so that each entry is updated and reduced once per division.
std::optional<WordPoly> inverse_mod(const Zp& F, const WordPoly& a, const WordPoly& f) {
  using u128 = unsigned __int128;
  WordPoly r0 = f, r1 = rem(F, a, f), s0, s1{1}, nq;
  // Entry j of x + Σ_i nq_i·y_(j − i) over the i with 0 <= j − i < y.size(), reduced once.
  auto fused = [&](WordPoly& x, const WordPoly& y, std::size_t size) {
    const std::size_t qn = nq.size();
    if (x.size() < size) x.resize(size, 0);
    if (qn == 2 && F.lazy_terms() >= 3) {
      // The common quotient of degree one: two terms per entry.
      const u64 n0 = nq[0], n1 = nq[1];
      if (!y.empty()) x[0] = F.reduce(x[0] + n0 * y[0]);
      for (std::size_t j = 1; j < size; ++j) {
        u64 acc = x[j];
        if (j < y.size()) acc += n0 * y[j];
        if (j - 1 < y.size()) acc += n1 * y[j - 1];
        x[j] = F.reduce(acc);
      }
      return;
    }
    for (std::size_t j = 0; j < size; ++j) {
      u128 acc = x[j];
      const std::size_t lo = j + 1 > y.size() ? j + 1 - y.size() : 0;
      for (std::size_t i = lo; i < qn && i <= j; ++i) acc += static_cast<u128>(nq[i]) * y[j - i];
      x[j] = F.reduce(acc);
    }
  };
  while (degree(r1) > 0) {
    const u64 inv = F.inv(r1.back());
    const std::size_t d1 = r1.size() - 1, qd = r0.size() - 1 - d1;
    // The whole quotient first, negated, from its top coefficient down.
    nq.assign(qd + 1, 0);
    for (std::size_t t = qd + 1; t-- > 0;) {
      u128 acc = r0[d1 + t];
      for (std::size_t i = t + 1; i <= qd && i - t <= d1; ++i) acc += static_cast<u128>(nq[i]) * r1[d1 + t - i];
      nq[t] = F.neg(F.mul(F.reduce(acc), inv));
    }
    // r0 − q·r1 below degree d1, and s0 − q·s1.
    fused(r0, r1, d1);
    r0.resize(d1);
    trim(r0);
    fused(s0, s1, s1.size() + qd);
    trim(s0);
    std::swap(r0, r1);
    std::swap(s0, s1);
  }
  if (r1.empty()) return std::nullopt;
  const u64 inv = F.inv(r1[0]);
  for (auto& x : s1) x = F.mul(x, inv);
  return rem(F, std::move(s1), f);
}

namespace {

#ifdef GY_INVERSE_LANES
#define GY_LANE_TARGET __attribute__((target("avx512f,avx512dq")))

// x mod p per lane for 2^30 < p < 2^31: the quotient from double precision is off by
// at most one either way, so x − q·p lies in [−p, 2p).
GY_LANE_TARGET inline __m512i lane_reduce(__m512i x, __m512i p, __m512d p_inv) {
  const __m512i q = _mm512_cvttpd_epu64(_mm512_mul_pd(_mm512_cvtepu64_pd(x), p_inv));
  __m512i r = _mm512_sub_epi64(x, _mm512_mullo_epi64(q, p));
  r = _mm512_mask_add_epi64(r, _mm512_cmplt_epi64_mask(r, _mm512_set1_epi64(0)), r, p);
  return _mm512_mask_sub_epi64(r, _mm512_cmpge_epi64_mask(r, p), r, p);
}

// Lanes' products of residues below 2^32 (the masked form spares an undefined source register).
GY_LANE_TARGET inline __m512i lane_mul(__m512i x, __m512i y) { return _mm512_maskz_mul_epu32(0xFF, x, y); }

// The remainder sequences of (f_i, a_i), and cofactors t with t ≡ b·(cofactor of a) modulo f, kept
// below degree n; coefficient k of lane i at [k·8 + i]. A step of one degree takes no inverse: it
// forms c²·r0 − (A·c·x + B·c − A·e)·r1 with A, B the two top coefficients of r0 and c, e those of
// r1, which is r0 mod r1 times c², and the cofactors alike; the scale cancels once the last
// remainder, a constant, is inverted. A longer step (the first one, when a is short) eliminates
// from the top with c's inverse. Every lane's remainders must keep one degree sequence.
GY_LANE_TARGET bool quotient_lanes_avx512(const Zp* F, const WordPoly* b, const WordPoly* a, const WordPoly* f,
                                          std::size_t count, WordPoly* out) {
  constexpr std::size_t L = kInverseLanes;
  const std::size_t n = f[0].size() - 1;
  std::vector<u64> r0((n + 1) * L, 0), r1((n + 1) * L, 0), t0(n * L, 0), t1(n * L, 0), fl(n * L, 0);
  alignas(64) u64 pv[L], kv[L], n0v[L], n1v[L], cv[L];
  alignas(64) double pinv[L];
  auto field = [&](std::size_t i) -> const Zp& { return F[i < count ? i : 0]; };  // spare lanes repeat the first
  for (std::size_t i = 0; i < L; ++i) {
    const std::size_t from = i < count ? i : 0;
    pv[i] = F[from].p;
    pinv[i] = 1.0 / static_cast<double>(F[from].p);
    for (std::size_t k = 0; k <= n; ++k) r0[k * L + i] = f[from][k];
    for (std::size_t k = 0; k < n; ++k) fl[k * L + i] = f[from][k];
    for (std::size_t k = 0; k < a[from].size(); ++k) r1[k * L + i] = a[from][k];
    for (std::size_t k = 0; k < b[from].size(); ++k) t1[k * L + i] = b[from][k];
  }
  const __m512i P = _mm512_load_si512(pv);
  const __m512d P_inv = _mm512_load_pd(pinv);
  // r0 has degree d0, r1 degree d1 < d0, in every lane.
  std::size_t d0 = n, d1 = a[0].size() - 1;
  for (std::size_t steps = 0; d1 > 0; ++steps) {
    if ((steps & 63) == 63) poll_interrupt();
    if (d0 == d1 + 1) {
      const std::size_t d = d1;
      for (std::size_t i = 0; i < L; ++i) {
        const Zp& Fi = field(i);
        const u64 A = r0[(d + 1) * L + i], B = r0[d * L + i], c = r1[d * L + i], e = r1[(d - 1) * L + i];
        kv[i] = Fi.mul(c, c);
        n1v[i] = Fi.neg(Fi.mul(A, c));
        n0v[i] = Fi.sub(Fi.mul(A, e), Fi.mul(B, c));
        // x·t1 reaches degree n; its top term comes off by a multiple of the monic f.
        cv[i] = Fi.neg(Fi.mul(n1v[i], t1[(n - 1) * L + i]));
      }
      const __m512i K = _mm512_load_si512(kv), N0 = _mm512_load_si512(n0v), N1 = _mm512_load_si512(n1v),
                    C = _mm512_load_si512(cv);
      // x_j ← k·x_j + n0·y_j + n1·y_(j−1) (+ c·f_j): at most four terms below 2^62 each.
      __m512i below = _mm512_set1_epi64(0);
      for (std::size_t j = 0; j < d; ++j) {
        const __m512i yj = _mm512_loadu_si512(r1.data() + j * L);
        __m512i acc = lane_mul(K, _mm512_loadu_si512(r0.data() + j * L));
        acc = _mm512_add_epi64(acc, lane_mul(N0, yj));
        acc = _mm512_add_epi64(acc, lane_mul(N1, below));
        _mm512_storeu_si512(r0.data() + j * L, lane_reduce(acc, P, P_inv));
        below = yj;
      }
      below = _mm512_set1_epi64(0);
      for (std::size_t j = 0; j < n; ++j) {
        const __m512i yj = _mm512_loadu_si512(t1.data() + j * L);
        __m512i acc = lane_mul(K, _mm512_loadu_si512(t0.data() + j * L));
        acc = _mm512_add_epi64(acc, lane_mul(N0, yj));
        acc = _mm512_add_epi64(acc, lane_mul(N1, below));
        acc = _mm512_add_epi64(acc, lane_mul(C, _mm512_loadu_si512(fl.data() + j * L)));
        _mm512_storeu_si512(t0.data() + j * L, lane_reduce(acc, P, P_inv));
        below = yj;
      }
    } else {
      // A longer step (rare but for the first): d0 − d1 + 1 eliminations from the top, r0 ← r0 −
      // (A_k / c)·x^k·r1 with A_k the coefficient of r0 at d1 + k, and t0 ← t0 − Q·t1 mod f with
      // Q = Σ (A_k / c)·x^k, taken by Horner.
      const std::size_t delta = d0 - d1;
      alignas(64) u64 qk[L];
      std::vector<u64> Q((delta + 1) * L);
      for (std::size_t i = 0; i < L; ++i) kv[i] = field(i).inv(r1[d1 * L + i]);
      for (std::size_t k = delta + 1; k-- > 0;) {
        for (std::size_t i = 0; i < L; ++i) {
          Q[k * L + i] = field(i).mul(r0[(d1 + k) * L + i], kv[i]);
          qk[i] = field(i).neg(Q[k * L + i]);
        }
        const __m512i NA = _mm512_load_si512(qk);
        for (std::size_t j = k; j < d1 + k; ++j) {
          const __m512i acc = _mm512_add_epi64(_mm512_loadu_si512(r0.data() + j * L),
                                               lane_mul(NA, _mm512_loadu_si512(r1.data() + (j - k) * L)));
          _mm512_storeu_si512(r0.data() + j * L, lane_reduce(acc, P, P_inv));
        }
      }
      // v = Q·t1 mod f: v ← x·v mod f + Q_k·t1, from the top k down.
      std::vector<u64> v(n * L, 0);
      for (std::size_t k = delta + 1; k-- > 0;) {
        for (std::size_t i = 0; i < L; ++i) cv[i] = field(i).neg(v[(n - 1) * L + i]);
        const __m512i C = _mm512_load_si512(cv), Qk = _mm512_loadu_si512(Q.data() + k * L);
        for (std::size_t j = n; j-- > 0;) {
          __m512i acc = _mm512_add_epi64(lane_mul(C, _mm512_loadu_si512(fl.data() + j * L)),
                                         lane_mul(Qk, _mm512_loadu_si512(t1.data() + j * L)));
          if (j > 0) acc = _mm512_add_epi64(acc, _mm512_loadu_si512(v.data() + (j - 1) * L));
          _mm512_storeu_si512(v.data() + j * L, lane_reduce(acc, P, P_inv));
        }
      }
      for (std::size_t j = 0; j < n; ++j) {
        __m512i x = _mm512_sub_epi64(_mm512_loadu_si512(t0.data() + j * L), _mm512_loadu_si512(v.data() + j * L));
        x = _mm512_mask_add_epi64(x, _mm512_cmplt_epi64_mask(x, _mm512_set1_epi64(0)), x, P);
        _mm512_storeu_si512(t0.data() + j * L, x);
      }
    }
    // The new remainder, below degree d1, must have one degree in every lane, and not vanish.
    std::size_t next = d1;
    while (next > 0) {
      const __mmask8 zero = _mm512_cmpeq_epi64_mask(_mm512_loadu_si512(r0.data() + (next - 1) * L), _mm512_set1_epi64(0));
      if (zero == 0xFF) {
        --next;
        continue;
      }
      if (zero != 0) return false;
      break;
    }
    if (next == 0) return false;
    d0 = d1;
    d1 = next - 1;
    r0.swap(r1);
    t0.swap(t1);
  }
  for (std::size_t i = 0; i < count; ++i) {
    const u64 inv = F[i].inv(r1[i]);
    WordPoly& o = out[i];
    o.resize(n);
    for (std::size_t k = 0; k < n; ++k) o[k] = F[i].mul(t1[k * L + i], inv);
    trim(o);
  }
  return true;
}
#endif

}  // namespace

bool quotient_mod_lanes(const Zp* F, const WordPoly* b, const WordPoly* a, const WordPoly* f, std::size_t count,
                        WordPoly* out) {
#ifdef GY_INVERSE_LANES
  static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  if (!supported || count == 0 || count > kInverseLanes) return false;
  const std::size_t n = f[0].size() - 1;
  if (a[0].size() < 2 || a[0].size() > n) return false;
  const std::size_t da = a[0].size() - 1;
  for (std::size_t i = 0; i < count; ++i)
    if (F[i].p >= (u64{1} << 31) || F[i].p <= (u64{1} << 30) || f[i].size() != n + 1 || f[i].back() != 1 ||
        a[i].size() != da + 1 || a[i].back() == 0 || b[i].size() > n)
      return false;
  return quotient_lanes_avx512(F, b, a, f, count, out);
#else
  (void)F, (void)b, (void)a, (void)f, (void)count, (void)out;
  return false;
#endif
}

}  // namespace gy
