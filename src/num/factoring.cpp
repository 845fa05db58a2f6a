#include "num/factoring.hpp"

#include <gmp.h>
#include <cstdlib>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <span>
#include <tuple>
#include <utility>

#include "num/interrupt.hpp"
#include "num/lattice.hpp"
#include "num/residue.hpp"

namespace gy {

thread_local std::uint64_t xorshift_state = 0x2545F4914F6CDD1Dull;

namespace {

using u64 = std::uint64_t;
using i64 = std::int64_t;
using u128 = unsigned __int128;
using i128 = __int128;

// =============================================================================================
// Random residues

bool next_random_bit() {
  u64 x = xorshift_state;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  xorshift_state = x;
  return (x >> 33) & 1;
}

// One state step per bit of p; the first step's bit is the most significant bit of the draw.
u64 random_residue(u64 p) {
  u64 acc = 0;
  for (u64 t = p; t > 0; t >>= 1) acc = 2 * acc + (next_random_bit() ? 1 : 0);
  return acc % p;
}

Int random_residue(const Int& p) {
  Int acc(0);
  for (Int t = p; t.sign() > 0; t = t / Int(2)) {
    acc = acc * Int(2);
    if (next_random_bit()) acc += Int(1);
  }
  return reduce_mod(acc, p);
}

// =============================================================================================
// Residues modulo a prime below 2^32, as machine words

// The map h ↦ h^p modulo a monic f, which is linear over the residues. It squares and multiplies
// modulo f until the products spent so reach the cost of a table of the rows x^(p·j) mod f (about
// deg f products), and from then on applies the table, whose products are summed unreduced.
class Frobenius {
 public:
  explicit Frobenius(const WordPolyModulus& mod)
      : mod_(mod),
        n_(mod.degree()),
        power_cost_(static_cast<std::size_t>(std::bit_width(mod.field().p) + std::popcount(mod.field().p)) - 2) {}

  WordPoly apply(const WordPoly& h) {
    const Zp& F = mod_.field();
    if (rows_.empty()) {
      if (n_ < 2 || power_cost_ <= kPowerSteps || spent_ < n_) {
        spent_ += power_cost_;
        return mod_.powmod(h, Int(F.p));
      }
      build();
    }
    WordPoly r(n_);
    if (F.lazy_terms() >= n_) {
      std::vector<u64> acc(n_, 0);
      accumulate(h, acc);
      for (std::size_t t = 0; t < n_; ++t) r[t] = F.reduce(acc[t]);
    } else {
      std::vector<u128> acc(n_, 0);
      accumulate(h, acc);
      for (std::size_t t = 0; t < n_; ++t) r[t] = F.reduce(acc[t]);
    }
    trim(r);
    return r;
  }

 private:
  // Powers of p that take at most this many products modulo f are always raised directly.
  static constexpr unsigned kPowerSteps = 4;

  void build() {
    const Zp& F = mod_.field();
    rows_.resize(n_);
    rows_[0] = WordPoly{1};
    const WordPoly xp = mod_.powmod(WordPoly{0, 1}, Int(F.p));
    for (std::size_t j = 1; j < n_; ++j) {
      if (F.p < 32) {
        WordPoly r = rows_[j - 1];
        for (u64 t = 0; t < F.p; ++t) times_x(r);
        rows_[j] = std::move(r);
      } else {
        rows_[j] = mod_.mulmod(rows_[j - 1], xp);
      }
      if ((j & 31) == 0) poll_interrupt();
    }
  }

  template <class Acc>
  void accumulate(const WordPoly& h, std::vector<Acc>& acc) const {
    for (std::size_t j = 0; j < h.size(); ++j) {
      if (h[j] == 0) continue;
      const WordPoly& row = rows_[j];
      for (std::size_t t = 0; t < row.size(); ++t) acc[t] += static_cast<Acc>(h[j] * row[t]);
    }
  }

  // r ← x·r mod f, for deg r < n.
  void times_x(WordPoly& r) const {
    const Zp& F = mod_.field();
    const WordPoly& f = mod_.poly();
    r.insert(r.begin(), 0);
    if (r.size() <= n_) {
      trim(r);
      return;
    }
    u64 top = r[n_];
    r.pop_back();
    if (top != 0)
      for (std::size_t i = 0; i < n_; ++i) r[i] = F.sub(r[i], F.mul(top, f[i]));
    trim(r);
  }

  const WordPolyModulus& mod_;
  std::size_t n_;
  std::size_t power_cost_;
  std::size_t spent_ = 0;
  std::vector<WordPoly> rows_;
};

// The product of all irreducible factors of one degree.
struct DegreePart {
  u64 degree;
  WordPoly poly;
};

// The factors of r whose degrees lie in steps[lo .. hi] (step k holding x^(p^k) − x), given that r
// has no factor of lower degree and that `hit` is the product of those factors: each half of the
// range takes the gcd with the product of its steps, since a factor of degree d divides
// x^(p^k) − x only when d divides k. Appends (first step + offset, product of that degree).
void split_block(const WordPolyModulus& mod, const std::vector<WordPoly>& steps, std::size_t lo, std::size_t hi,
                 i64 first, WordPoly hit, std::vector<DegreePart>& out) {
  if (degree(hit) <= 0) return;
  const Zp& F = mod.field();
  if (lo == hi) {
    out.push_back({static_cast<u64>(first + static_cast<i64>(lo)), std::move(hit)});
    return;
  }
  const std::size_t mid = (lo + hi) / 2;
  WordPoly product{1};
  for (std::size_t k = lo; k <= mid; ++k) product = mod.mulmod(product, steps[k]);
  WordPoly left = gcd(F, hit, rem(F, std::move(product), hit));
  WordPoly right = quotient(F, std::move(hit), left);
  split_block(mod, steps, lo, mid, first, std::move(left), out);
  split_block(mod, steps, mid + 1, hi, first, std::move(right), out);
}

// Distinct-degree factoring of a monic squarefree f: gcd(x^(p^i) − x, r) for i = 1, 2, … while
// 2i ≤ deg r, r losing each gcd; what remains is one irreducible factor. The products of
// x^(p^i) − x over a block of steps share one gcd with r, and a block that meets factors is split
// by halves; the parts are then taken in order under the same stopping rule, which finds the same
// parts.
std::vector<DegreePart> distinct_degree(const Zp& F, const WordPoly& f) {
  std::vector<DegreePart> parts;
  const i64 n = degree(f);
  WordPoly r = f;
  if (n >= 2) {
    // Powers of x are taken modulo r once it has fallen to two thirds of the modulus's degree.
    auto mod = std::make_unique<WordPolyModulus>(F, f);
    auto frob = std::make_unique<Frobenius>(*mod);
    // Steps share one gcd per block. A gcd costs about as much as deg f / 8 products, so blocks
    // that meet no factor grow up to that length; one that does is split, and blocks start again
    // from 16 steps.
    const i64 longest = n < 64 ? 1 : std::max<i64>(16, n / 8);
    i64 block = std::min<i64>(longest, 16);
    WordPoly h{0, 1};
    std::vector<WordPoly> steps;
    std::vector<DegreePart> found;
    bool done = false;
    for (i64 i = 1; !done && 2 * i <= degree(r);) {
      poll_interrupt();
      if (3 * degree(r) <= 2 * static_cast<i64>(mod->degree())) {
        mod = std::make_unique<WordPolyModulus>(F, r);
        frob = std::make_unique<Frobenius>(*mod);
        h = mod->rem(gy::rem(F, std::move(h), r));
      }
      // Steps i .. last all satisfy 2·step <= deg r for the r at the block's start.
      const i64 last = std::min(i + block - 1, degree(r) / 2);
      steps.clear();
      WordPoly product{1};
      for (i64 k = i; k <= last; ++k) {
        h = frob->apply(h);
        WordPoly t = h;
        if (t.size() < 2) t.resize(2, 0);
        t[1] = F.sub(t[1], 1);
        trim(t);
        if (block > 1) product = mod->mulmod(product, t);
        steps.push_back(std::move(t));
      }
      if (block == 1) product = steps.back();
      WordPoly hit = gcd(F, r, rem(F, std::move(product), r));
      block = degree(hit) > 0 ? std::min<i64>(longest, 16) : std::min(longest, 2 * block);
      if (degree(hit) > 0) {
        found.clear();
        split_block(*mod, steps, 0, steps.size() - 1, i, std::move(hit), found);
        for (auto& part : found) {
          if (degree(r) < 2 * static_cast<i64>(part.degree)) {
            done = true;
            break;
          }
          r = quotient(F, std::move(r), part.poly);
          parts.push_back(std::move(part));
        }
      }
      i = last + 1;
    }
  }
  if (degree(r) > 0) parts.push_back({static_cast<u64>(degree(r)), std::move(r)});
  return parts;
}

// Equal-degree splitting of a monic f whose irreducible factors all have degree d; e is
// (p^d − 1) / 2. Factors are appended depth first: the gcd's, then the cofactor's.
Status equal_degree(const Zp& F, const WordPoly& f, u64 d, const Int& e, std::vector<WordPoly>& out) {
  if (static_cast<u64>(degree(f)) == d) {
    out.push_back(f);
    return {};
  }
  const WordPolyModulus mod(F, f);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    poll_interrupt();
    WordPoly a(2 * d);
    for (u64 i = 0; i + 1 < 2 * d; ++i) a[i] = random_residue(F.p);
    a[2 * d - 1] = 1;
    WordPoly b = mod.powmod(a, e);
    if (b.empty()) b.push_back(0);
    b[0] = F.sub(b[0], 1);
    trim(b);
    WordPoly g = gcd(F, f, std::move(b));
    if (degree(g) > 0 && degree(g) < degree(f)) {
      GY_CHECK(equal_degree(F, g, d, e, out));
      return equal_degree(F, quotient(F, f, g), d, e, out);
    }
  }
  return fail(Error::other("This (probably) shouldn't happen"));
}

// equal_degree on the product of the monic irreducible `pieces` of degree d, known beforehand: the
// same draws, each splitting off the pieces modulo which a^((p^d − 1)/2) is 1, that is those whose
// resultant with a (the norm of a from the field of p^d elements) is a non-zero square modulo p.
// The same factors come out in the same order, without the powers.
Status simulate_equal_degree(const Zp& F, std::vector<WordPoly> pieces, u64 d, std::vector<WordPoly>& out) {
  if (pieces.size() == 1) {
    out.push_back(std::move(pieces[0]));
    return {};
  }
  for (int attempt = 0; attempt < 1000; ++attempt) {
    poll_interrupt();
    WordPoly a(2 * d);
    for (u64 i = 0; i + 1 < 2 * d; ++i) a[i] = random_residue(F.p);
    a[2 * d - 1] = 1;
    std::vector<WordPoly> in, rest;
    for (auto& piece : pieces) (F.pow(resultant(F, piece, a), (F.p - 1) / 2) == 1 ? in : rest).push_back(piece);
    if (!in.empty() && !rest.empty()) {
      GY_CHECK(simulate_equal_degree(F, std::move(in), d, out));
      return simulate_equal_degree(F, std::move(rest), d, out);
    }
  }
  return fail(Error::other("This (probably) shouldn't happen"));
}

Int half_power_less_one(u64 p, u64 d) { return (Int::pow(Int(p), static_cast<std::uint32_t>(d)) - Int(1)) / Int(2); }

// The monic factors of a monic squarefree f: by degree, lowest first, each degree split by draws.
Result<std::vector<WordPoly>> factor_word(const Zp& F, const WordPoly& f, std::vector<DegreePart>* parts_out) {
  std::vector<DegreePart> parts = distinct_degree(F, f);
  std::vector<WordPoly> factors;
  for (const auto& part : parts) GY_CHECK(equal_degree(F, part.poly, part.degree, half_power_less_one(F.p, part.degree), factors));
  if (parts_out) *parts_out = std::move(parts);
  return factors;
}

// =============================================================================================
// Degree sets: the bits d for which some product of factors has degree d

class DegreeSet {
 public:
  explicit DegreeSet(std::size_t n) : n_(n), words_(n / 64 + 1, 0) { set(0); }
  bool has(std::size_t d) const { return d <= n_ && ((words_[d / 64] >> (d % 64)) & 1); }
  void set(std::size_t d) { words_[d / 64] |= u64{1} << (d % 64); }
  // Adds a factor of degree d: every sum gains d as an option.
  void add_factor(std::size_t d) {
    if (d == 0 || d > n_) return;
    std::vector<u64> shifted(words_.size(), 0);
    std::size_t w = d / 64, b = d % 64;
    for (std::size_t i = words_.size(); i-- > w;) {
      u64 v = words_[i - w] << b;
      if (b && i > w) v |= words_[i - w - 1] >> (64 - b);
      shifted[i] = v;
    }
    for (std::size_t i = 0; i < words_.size(); ++i) words_[i] |= shifted[i];
    clear_above_n();
  }
  // True when this loses a degree.
  bool intersect(const DegreeSet& o) {
    bool narrowed = false;
    for (std::size_t i = 0; i < words_.size(); ++i) {
      narrowed = narrowed || (words_[i] & ~o.words_[i]) != 0;
      words_[i] &= o.words_[i];
    }
    return narrowed;
  }
  // No proper factor degree between 1 and n − 1.
  bool only_trivial() const {
    for (std::size_t d = 1; d < n_; ++d)
      if (has(d)) return false;
    return true;
  }

 private:
  void clear_above_n() {
    std::size_t top = n_ % 64;
    if (top != 63) words_.back() &= (u64{1} << (top + 1)) - 1;
  }
  std::size_t n_;
  std::vector<u64> words_;
};

DegreeSet degrees_of(const std::vector<DegreePart>& parts, std::size_t n) {
  DegreeSet s(n);
  for (const auto& part : parts)
    for (i64 c = degree(part.poly) / static_cast<i64>(part.degree); c > 0; --c) s.add_factor(part.degree);
  return s;
}

// =============================================================================================
// Integer polynomials on GMP values, for lifting and recombination

// Lowest degree first, top entry non-zero.
using ZPoly = std::vector<Mpz>;

void reduce(ZPoly& a, const Mpz& m);

void trim(ZPoly& a) {
  while (!a.empty() && a.back().sign() == 0) a.pop_back();
}
i64 degree(const ZPoly& a) { return static_cast<i64>(a.size()) - 1; }

ZPoly to_z(const IntPoly& f) {
  ZPoly r;
  r.reserve(f.coeffs.size());
  for (const auto& c : f.coeffs) r.emplace_back(c);
  return r;
}
// The values reduced into [0, m): a residue handed in need not be normalised.
ZPoly to_z(const ModPoly& f, const Mpz& m) {
  ZPoly r;
  r.reserve(f.coeffs.size());
  for (const auto& c : f.coeffs) r.emplace_back(c.value);
  reduce(r, m);
  return r;
}
ZPoly to_z(const WordPoly& f) {
  ZPoly r;
  r.reserve(f.size());
  for (u64 c : f) r.emplace_back(static_cast<unsigned long>(c));
  return r;
}
IntPoly to_int_poly(const ZPoly& f) {
  std::vector<Int> c;
  c.reserve(f.size());
  for (const auto& x : f) c.push_back(x.to_int());
  return IntPoly(std::move(c));
}
// Residues with values already in [0, m).
ModPoly to_mod_poly(const ZPoly& f, const Int& m) {
  std::vector<Modular> c;
  c.reserve(f.size());
  for (const auto& x : f) c.emplace_back(x.to_int(), m);
  return ModPoly(m, std::move(c));
}

static_assert(sizeof(Mpz) == sizeof(__mpz_struct), "Mpz is one GMP value");

std::span<const __mpz_struct> values(const ZPoly& a) { return {reinterpret_cast<const __mpz_struct*>(a.data()), a.size()}; }

// Products of operands at least this long go through one GMP product.
constexpr std::size_t kKroneckerLength = 8;

// r ← a·b, reusing the values r already holds.
void mul_into(ZPoly& r, const ZPoly& a, const ZPoly& b) {
  if (a.empty() || b.empty()) {
    r.clear();
    return;
  }
  r.resize(a.size() + b.size() - 1);
  if (std::min(a.size(), b.size()) >= kKroneckerLength) {
    mul_kronecker(values(a), values(b), {reinterpret_cast<__mpz_struct*>(r.data()), r.size()});
  } else {
    for (auto& x : r) mpz_set_ui(x.get(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].sign() == 0) continue;
      for (std::size_t j = 0; j < b.size(); ++j) mpz_addmul(r[i + j].get(), a[i].get(), b[j].get());
    }
  }
  trim(r);
}

ZPoly mul(const ZPoly& a, const ZPoly& b) {
  ZPoly r;
  mul_into(r, a, b);
  return r;
}

// a ← a + b.
void add_into(ZPoly& a, const ZPoly& b) {
  if (a.size() < b.size()) a.resize(b.size());
  for (std::size_t i = 0; i < b.size(); ++i) mpz_add(a[i].get(), a[i].get(), b[i].get());
  trim(a);
}

// a − b.
ZPoly sub(const ZPoly& a, const ZPoly& b) {
  ZPoly r = a;
  if (r.size() < b.size()) r.resize(b.size());
  for (std::size_t i = 0; i < b.size(); ++i) mpz_sub(r[i].get(), r[i].get(), b[i].get());
  trim(r);
  return r;
}

// a ← a + m·b.
void add_scaled(ZPoly& a, const Mpz& m, const ZPoly& b) {
  if (a.size() < b.size()) a.resize(b.size());
  for (std::size_t i = 0; i < b.size(); ++i) mpz_addmul(a[i].get(), m.get(), b[i].get());
  trim(a);
}

// Every coefficient into [0, m).
void reduce(ZPoly& a, const Mpz& m) {
  for (auto& x : a) mpz_fdiv_r(x.get(), x.get(), m.get());
  trim(a);
}
ZPoly reduced(ZPoly a, const Mpz& m) {
  reduce(a, m);
  return a;
}

void scale(ZPoly& a, const Mpz& c) {
  for (auto& x : a) mpz_mul(x.get(), x.get(), c.get());
  trim(a);
}

void divide_exact(ZPoly& a, const Mpz& m) {
  for (auto& x : a) mpz_divexact(x.get(), x.get(), m.get());
}

// Quotient and remainder of a by the monic G modulo m; a and G reduced modulo m, results in [0, m).
// q ← the quotient and a ← the remainder of a by the monic G modulo m; a and G reduced modulo m,
// results in [0, m).
void divrem_monic_mod_into(ZPoly& q, ZPoly& a, const ZPoly& G, const Mpz& m) {
  const std::size_t d = G.size() - 1;
  q.clear();
  if (a.size() > d) {
    q.resize(a.size() - d);
    for (auto& x : q) mpz_set_ui(x.get(), 0);
    for (std::size_t t = a.size(); t-- > d;) {
      mpz_fdiv_r(a[t].get(), a[t].get(), m.get());
      if (a[t].sign() == 0) continue;
      for (std::size_t j = 0; j < d; ++j) mpz_submul(a[t - d + j].get(), a[t].get(), G[j].get());
      mpz_swap(q[t - d].get(), a[t].get());
    }
    a.resize(d);
  }
  reduce(a, m);
  trim(q);
}

std::pair<ZPoly, ZPoly> divrem_monic_mod(ZPoly a, const ZPoly& G, const Mpz& m) {
  ZPoly q;
  divrem_monic_mod_into(q, a, G, m);
  return {std::move(q), std::move(a)};
}

// Division with remainder by a monic G modulo powers of p, through the inverse of G's reversal
// modulo x^k, so that a quotient of length up to k costs two products instead of a long division.
// The inverse is carried from one modulus to the next: G changes by multiples of the old modulus,
// so one Newton step inv ← inv·(2 − rev(G)·inv) doubles the power of p it holds for. Short
// quotients or divisors divide directly.
class MonicDivisor {
 public:
  MonicDivisor(std::size_t k, std::size_t d) : k_(k >= kFastLength && d >= kFastLength ? k : 0) {}

  // Makes the divisor G modulo m = p^e, G monic of degree d and congruent modulo p^(e/2) to the
  // one before.
  void reset(const ZPoly& G, const Mpz& p, std::uint32_t e) {
    G_ = &G;
    mpz_pow_ui(m_.get(), p.get(), e);
    if (k_ == 0) return;
    ZPoly head, t, u;
    auto newton = [&](const Mpz& modulus, std::size_t length) {
      // inverse ← inverse + inverse·(1 − rev(G)·inverse), to `length` terms modulo `modulus`.
      head.assign(G.rbegin(), G.rbegin() + static_cast<std::ptrdiff_t>(std::min(length, G.size())));
      mul_into(t, head, inverse_);
      t.resize(length);
      for (auto& x : t) mpz_neg(x.get(), x.get());
      mpz_add_ui(t[0].get(), t[0].get(), 1);
      reduce(t, modulus);
      mul_into(u, inverse_, t);
      if (u.size() > length) u.resize(length);
      inverse_.resize(std::max(inverse_.size(), length));
      for (std::size_t i = 0; i < u.size(); ++i) mpz_add(inverse_[i].get(), inverse_[i].get(), u[i].get());
      reduce(inverse_, modulus);
      inverse_.resize(length);
    };
    if (held_ == 0) {
      // Modulo p first, doubling the number of terms.
      inverse_ = ZPoly{Mpz(1ul)};
      for (std::size_t length = 1; length < k_;) {
        length = std::min(2 * length, k_);
        newton(p, length);
      }
      held_ = 1;
    }
    while (held_ < e) {
      held_ = std::min(2 * held_, e);
      Mpz modulus;
      mpz_pow_ui(modulus.get(), p.get(), held_);
      newton(modulus, k_);
    }
  }

  // q ← the quotient and a ← the remainder of a by G modulo m, both in [0, m).
  void divrem(ZPoly& q, ZPoly& a) const {
    const ZPoly& G = *G_;
    const std::size_t d = G.size() - 1;
    reduce(a, m_);
    if (a.size() <= d) {
      q.clear();
      return;
    }
    const std::size_t k = a.size() - d;
    if (k > k_) {
      divrem_monic_mod_into(q, a, G, m_);
      return;
    }
    // rev(q) = rev(a)·rev(G)⁻¹ mod x^k.
    ZPoly top(a.rbegin(), a.rbegin() + static_cast<std::ptrdiff_t>(k));
    ZPoly inv(inverse_.begin(), inverse_.begin() + static_cast<std::ptrdiff_t>(k));
    trim(inv);
    ZPoly qrev;
    mul_into(qrev, top, inv);
    qrev.resize(k);
    q.assign(qrev.rbegin(), qrev.rend());
    reduce(q, m_);
    ZPoly qg;
    mul_into(qg, q, G);
    a.resize(d);
    for (std::size_t i = 0; i < d && i < qg.size(); ++i) mpz_sub(a[i].get(), a[i].get(), qg[i].get());
    reduce(a, m_);
  }

 private:
  static constexpr std::size_t kFastLength = 24;
  std::size_t k_;
  const ZPoly* G_ = nullptr;
  Mpz m_;
  ZPoly inverse_;
  std::uint32_t held_ = 0;  // the inverse holds modulo p^held_
};

// f·lc(f)⁻¹ modulo m, for f reduced modulo m.
Result<ZPoly> monic_mod(ZPoly f, const Mpz& m) {
  if (f.empty()) return fail(Error::range("monic() of zero polynomial"));
  Mpz inv;
  if (!mpz_invert(inv.get(), f.back().get(), m.get())) return fail(Error::division("Not divisible"));
  scale(f, inv);
  reduce(f, m);
  return f;
}

// Quotient and remainder of a by b modulo the prime p (b's top coefficient invertible).
Result<std::pair<ZPoly, ZPoly>> divrem_mod(const ZPoly& a, const ZPoly& b, const Mpz& p) {
  if (b.empty()) return fail(Error::division("Division by zero"));
  Mpz inv;
  if (!mpz_invert(inv.get(), b.back().get(), p.get())) return fail(Error::division("Not divisible"));
  ZPoly bm = b;
  scale(bm, inv);
  reduce(bm, p);
  auto [q, r] = divrem_monic_mod(reduced(a, p), bm, p);
  scale(q, inv);
  reduce(q, p);
  return std::pair{std::move(q), std::move(r)};
}

// a and b with a·G + b·H ≡ 1 modulo p, deg a < deg H and deg b < deg G, by the extended Euclidean
// algorithm on the pair with the larger degree first.
Result<std::pair<ZPoly, ZPoly>> cofactors_mod(const ZPoly& G, const ZPoly& H, const Mpz& p) {
  if (mpz_cmp_ui(p.get(), kWordPrimeLimit - 1) <= 0 && degree(G) >= 1 && degree(H) >= 1 &&
      is_word_prime(mpz_get_ui(p.get()))) {
    // The pair is unique, so word arithmetic finds the same one: a = G⁻¹ mod H, b = (1 − a·G)/H.
    const Zp Fp(mpz_get_ui(p.get()));
    auto word = [&](const ZPoly& f) {
      WordPoly w;
      for (const auto& x : f) w.push_back(mpz_fdiv_ui(x.get(), Fp.p));
      gy::trim(w);
      return w;
    };
    const WordPoly g = word(G), h = word(H);
    const std::optional<WordPoly> a = inverse_mod(Fp, g, h);
    if (!a) return fail(Error::range("lifted factors are not coprime modulo the prime"));
    WordPoly one_minus = gy::mul(Fp, *a, g);
    for (auto& x : one_minus) x = Fp.neg(x);
    if (one_minus.empty()) one_minus.push_back(0);
    one_minus[0] = Fp.add(one_minus[0], 1);
    gy::trim(one_minus);
    WordPoly b = quotient(Fp, std::move(one_minus), h);
    return std::pair{to_z(*a), to_z(b)};
  }
  const bool swapped = degree(H) > degree(G);
  ZPoly r0 = swapped ? H : G, r1 = swapped ? G : H;
  ZPoly s0{Mpz(1ul)}, s1, t0, t1{Mpz(1ul)};
  while (!r1.empty()) {
    auto [q, r] = GY_TRY(divrem_mod(r0, r1, p));
    ZPoly s2 = reduced(sub(s0, mul(q, s1)), p);
    ZPoly t2 = reduced(sub(t0, mul(q, t1)), p);
    r0 = std::move(r1);
    r1 = std::move(r);
    s0 = std::move(s1);
    s1 = std::move(s2);
    t0 = std::move(t1);
    t1 = std::move(t2);
  }
  if (degree(r0) != 0) return fail(Error::range("lifted factors are not coprime modulo the prime"));
  Mpz inv;
  mpz_invert(inv.get(), r0[0].get(), p.get());
  scale(s0, inv);
  scale(t0, inv);
  reduce(s0, p);
  reduce(t0, p);
  if (swapped) return std::pair{std::move(t0), std::move(s0)};
  return std::pair{std::move(s0), std::move(t0)};
}

Mpz power(const Mpz& p, unsigned long e) {
  Mpz r;
  mpz_pow_ui(r.get(), p.get(), e);
  return r;
}

// Lifts F ≡ G0·H0 (mod p), G0 monic, to F ≡ G·H (mod p^k) by quadratic steps: each step doubles the
// exponent of the modulus, the last one only up to k. The cofactors a·G + b·H ≡ 1 are lifted
// alongside while another step follows. G and H come back with coefficients in [0, p^k).
Result<std::pair<ZPoly, ZPoly>> lift_two(const ZPoly& F, ZPoly G, ZPoly H, const Mpz& p, std::uint32_t k) {
  auto [a, b] = GY_TRY(cofactors_mod(G, H, p));
  Mpz m = p;
  // Scratch polynomials whose values are reused from step to step.
  ZPoly E, Gm, q, q2, rest, beta, alpha, t;
  // With E = m·E′ and G·β + H·α ≡ E′ (mod m2), deg β < deg G: E′ = e_q·G + e_r and b·e_r = q2·G + β
  // give b·E′ = q·G + β with q = b·e_q + q2, and E′ = E′·(a·G + b·H) ≡ G·(a·E′ + H·q) + H·β. Both
  // quotients are shorter than max(deg H + 1, deg G).
  Mpz m2;
  const std::size_t dg = G.size() - 1, dh = H.size() - 1;
  MonicDivisor divisor(std::max(dh + 1, dg), dg);
  auto split = [&] {
    divide_exact(E, m);
    rest = E;
    divisor.divrem(q, rest);
    mul_into(beta, b, rest);
    divisor.divrem(q2, beta);
    mul_into(t, b, q);
    add_into(t, q2);
    mul_into(alpha, a, E);
    reduce(t, m2);
    mul_into(q, H, t);
    add_into(alpha, q);
    reduce(alpha, m2);
  };
  std::uint32_t e = 1;
  while (e < k) {
    poll_interrupt();
    const std::uint32_t e2 = std::min(e, k - e);
    mpz_pow_ui(m2.get(), p.get(), e2);
    // F − G·H = m·E′.
    mul_into(t, G, H);
    E.resize(std::max(F.size(), t.size()));
    for (std::size_t i = 0; i < E.size(); ++i) {
      if (i < F.size())
        mpz_set(E[i].get(), F[i].get());
      else
        mpz_set_ui(E[i].get(), 0);
      if (i < t.size()) mpz_sub(E[i].get(), E[i].get(), t[i].get());
    }
    trim(E);
    Gm = G;
    reduce(Gm, m2);
    divisor.reset(Gm, p, e2);
    split();
    add_scaled(G, m, beta);
    add_scaled(H, m, alpha);
    if (e + e2 < k) {
      // 1 − a·G − b·H = m·C; correct a and b the same way.
      mul_into(E, a, G);
      mul_into(t, b, H);
      add_into(E, t);
      if (E.empty()) E.resize(1);
      for (auto& x : E) mpz_neg(x.get(), x.get());
      mpz_add_ui(E[0].get(), E[0].get(), 1);
      trim(E);
      split();
      add_scaled(b, m, beta);
      add_scaled(a, m, alpha);
    }
    mpz_mul(m.get(), m.get(), m2.get());
    e += e2;
  }
  return std::pair{std::move(G), std::move(H)};
}

// The same lifting with every value in a machine word, for p^k below 2^62 and short polynomials:
// residues in [0, m), products by the schoolbook, summed in 128 bits.
constexpr std::size_t kSmallLiftLength = 96;

namespace small_lift {

using W = std::vector<u64>;

void trim(W& a) {
  while (!a.empty() && a.back() == 0) a.pop_back();
}

W mul(const W& a, const W& b, u64 m) {
  if (a.empty() || b.empty()) return {};
  W r(a.size() + b.size() - 1);
  for (std::size_t k = 0; k < r.size(); ++k) {
    const std::size_t lo = k + 1 > b.size() ? k + 1 - b.size() : 0, hi = std::min(k, a.size() - 1);
    u128 acc = 0;
    for (std::size_t i = lo, n = 0; i <= hi; ++i) {
      acc += static_cast<u128>(a[i]) * b[k - i];
      if (++n == 15) acc %= m, n = 0;
    }
    r[k] = static_cast<u64>(acc % m);
  }
  trim(r);
  return r;
}

// a + b·c modulo m, coefficient by coefficient of b.
void add_mul(W& a, const W& b, u64 c, u64 m) {
  if (a.size() < b.size()) a.resize(b.size(), 0);
  for (std::size_t i = 0; i < b.size(); ++i) a[i] = static_cast<u64>((a[i] + static_cast<u128>(b[i]) * c) % m);
  trim(a);
}

// q ← quotient, a ← remainder of a by the monic G modulo m.
void divrem(W& q, W& a, const W& G, u64 m) {
  const std::size_t d = G.size() - 1;
  q.clear();
  if (a.size() > d) {
    q.assign(a.size() - d, 0);
    for (std::size_t t = a.size(); t-- > d;) {
      const u64 c = a[t] % m;
      q[t - d] = c;
      if (c == 0) continue;
      for (std::size_t j = 0; j < d; ++j)
        a[t - d + j] = static_cast<u64>((a[t - d + j] + m - static_cast<u128>(c) * G[j] % m) % m);
    }
    a.resize(d);
  }
  for (auto& x : a) x %= m;
  trim(a);
  trim(q);
}

// As lift_two, with F given modulo p^k; false when the factors are not coprime modulo p.
bool lift_two(const W& F, W& G, W& H, u64 p, std::uint32_t k) {
  const Zp Fp(p);
  const std::optional<WordPoly> inv = gy::degree(H) >= 1 ? inverse_mod(Fp, G, H) : std::nullopt;
  if (!inv) return false;
  W a = *inv;
  W b = gy::mul(Fp, a, G);
  for (auto& x : b) x = Fp.neg(x);
  if (b.empty()) b.push_back(0);
  b[0] = Fp.add(b[0], 1);
  gy::trim(b);
  b = quotient(Fp, std::move(b), H);
  u64 m = p;
  W E, beta, alpha, q, t;
  auto split = [&](u64 m2) {
    for (auto& x : E) x /= m;
    beta = mul(b, E, m2);
    divrem(q, beta, G, m2);
    alpha = mul(a, E, m2);
    t = mul(H, q, m2);
    if (alpha.size() < t.size()) alpha.resize(t.size(), 0);
    for (std::size_t i = 0; i < t.size(); ++i) alpha[i] = (alpha[i] + t[i]) % m2;
    trim(alpha);
  };
  std::uint32_t e = 1;
  while (e < k) {
    const std::uint32_t e2 = std::min(e, k - e);
    u64 m2 = 1;
    for (std::uint32_t i = 0; i < e2; ++i) m2 *= p;
    const u64 mm = m * m2;
    // F − G·H modulo m·m2, a multiple of m.
    t = mul(G, H, mm);
    E.assign(std::max(F.size(), t.size()), 0);
    for (std::size_t i = 0; i < E.size(); ++i) {
      const u64 f = i < F.size() ? F[i] % mm : 0, g = i < t.size() ? t[i] : 0;
      E[i] = f >= g ? f - g : f + mm - g;
    }
    W Gm = G;
    for (auto& x : Gm) x %= m2;
    std::swap(Gm, G);
    split(m2);
    std::swap(Gm, G);
    add_mul(G, beta, m, mm);
    add_mul(H, alpha, m, mm);
    if (e + e2 < k) {
      // 1 − a·G − b·H modulo m·m2, a multiple of m.
      W ag = mul(a, G, mm), bh = mul(b, H, mm);
      E.assign(std::max({ag.size(), bh.size(), std::size_t{1}}), 0);
      for (std::size_t i = 0; i < E.size(); ++i) {
        const u64 s = ((i < ag.size() ? ag[i] : 0) + (i < bh.size() ? bh[i] : 0)) % mm;
        const u64 one = i == 0 ? 1 : 0;
        E[i] = one >= s ? one - s : one + mm - s;
      }
      std::swap(Gm, G);
      split(m2);
      std::swap(Gm, G);
      add_mul(b, beta, m, mm);
      add_mul(a, alpha, m, mm);
    }
    m = mm;
    e += e2;
  }
  return true;
}

// As lift_tree, with F given modulo P = p^k; false on any failure, left to the general path.
bool lift_tree(const W& F, std::span<const W> factors, u64 p, std::uint32_t k, u64 P, std::vector<W>& out) {
  if (F.empty()) return false;
  if (factors.size() == 1) {
    Mpz lc(static_cast<unsigned long>(F.back())), Pz(static_cast<unsigned long>(P)), inv;
    if (!mpz_invert(inv.get(), lc.get(), Pz.get())) return false;
    const u64 c = mpz_get_ui(inv.get());
    W f = F;
    for (auto& x : f) x = static_cast<u64>(static_cast<u128>(x) * c % P);
    out.push_back(std::move(f));
    return true;
  }
  const std::size_t s = factors.size() / 2;
  const Zp Fp(p);
  WordPoly G{1}, H{1};
  for (std::size_t i = 0; i < s; ++i) G = gy::mul(Fp, G, factors[i]);
  for (std::size_t i = s; i < factors.size(); ++i) H = gy::mul(Fp, H, factors[i]);
  const u64 lc = F.back() % p;
  for (auto& x : H) x = Fp.mul(x, lc);
  gy::trim(H);
  if (!lift_two(F, G, H, p, k)) return false;
  return lift_tree(G, factors.first(s), p, k, P, out) && lift_tree(H, factors.subspan(s), p, k, P, out);
}

}  // namespace small_lift

// Lifts the monic factors modulo p of F to p^k along a balanced split of the list: the first half's
// product against lc(F) times the second half's, then each half again.
Status lift_tree(const ZPoly& F, std::span<const ZPoly> factors, const Mpz& p, std::uint32_t k, const Mpz& pk,
                 std::vector<ZPoly>& out) {
  if (factors.size() >= 2 && !F.empty() && F.size() <= kSmallLiftLength && mpz_sizeinbase(pk.get(), 2) <= 62) {
    const u64 P = mpz_get_ui(pk.get()), pw = mpz_get_ui(p.get());
    small_lift::W Fw;
    for (const auto& x : F) Fw.push_back(mpz_fdiv_ui(x.get(), P));
    std::vector<small_lift::W> base, lifted;
    for (const auto& f : factors) {
      base.emplace_back();
      for (const auto& x : f) base.back().push_back(mpz_fdiv_ui(x.get(), pw));
      small_lift::trim(base.back());
    }
    small_lift::trim(Fw);
    if (small_lift::lift_tree(Fw, base, pw, k, P, lifted)) {
      for (const auto& w : lifted) out.push_back(to_z(w));
      return {};
    }
  }
  if (factors.size() == 1) {
    out.push_back(GY_TRY(monic_mod(reduced(F, pk), pk)));
    return {};
  }
  if (F.empty()) return fail(Error::other("hensel_lift of zero polynomial"));
  const std::size_t s = factors.size() / 2;
  ZPoly G{Mpz(1ul)}, H{Mpz(1ul)};
  for (std::size_t i = 0; i < s; ++i) G = reduced(mul(G, factors[i]), p);
  for (std::size_t i = s; i < factors.size(); ++i) H = reduced(mul(H, factors[i]), p);
  scale(H, F.back());
  reduce(H, p);
  auto [G1, H1] = GY_TRY(lift_two(F, std::move(G), std::move(H), p, k));
  GY_CHECK(lift_tree(G1, factors.first(s), p, k, pk, out));
  return lift_tree(H1, factors.subspan(s), p, k, pk, out);
}

std::uint64_t bit_length(const Mpz& x) { return x.sign() == 0 ? 0 : mpz_sizeinbase(x.get(), 2); }

// The final value of the rounded-up Newton iteration x ← ⌊(x² + S − 1) / 2x⌋ + 1 started at x = S:
// it falls strictly until it reaches ⌈√S⌉, or √S + 1 when S ≥ 4 is a square.
Mpz upper_root(const Mpz& S) {
  Mpz s, rem;
  if (mpz_cmp_ui(S.get(), 1) <= 0) return S;
  mpz_sqrtrem(s.get(), rem.get(), S.get());
  mpz_add_ui(s.get(), s.get(), 1);
  return s;
}

// The exponent k, the smallest with p^k > 2·|lc|·B, where B bounds the coefficients of a factor of
// degree ⌊n/2⌋: B = C(m−1, ⌊m/2⌋−1)·|lc| + C(m−1, ⌊m/2⌋)·⌈‖F‖₂⌉.
std::uint32_t lift_exponent(const ZPoly& F, const Mpz& p) {
  const i64 m = degree(F) / 2;
  Mpz S;
  for (const auto& c : F) mpz_addmul(S.get(), c.get(), c.get());
  Mpz r = upper_root(S);
  Mpz lc;
  mpz_abs(lc.get(), F.back().get());
  Mpz B(Int::binomial(m - 1, m / 2 - 1)), t(Int::binomial(m - 1, m / 2));
  mpz_mul(B.get(), B.get(), lc.get());
  mpz_addmul(B.get(), t.get(), r.get());
  Mpz T;
  mpz_mul(T.get(), lc.get(), B.get());
  mpz_mul_2exp(T.get(), T.get(), 1);
  std::uint32_t k = 1;
  Mpz pk = p;
  while (mpz_cmp(pk.get(), T.get()) <= 0) {
    mpz_mul(pk.get(), pk.get(), p.get());
    ++k;
  }
  return k;
}

// log2 of an upper bound on the absolute value of every complex root of f (Fujiwara's bound,
// 2·max |a_(n−i) / a_n|^(1/i), rounded up to a power of two).
std::int64_t root_bound_bits(const ZPoly& f) {
  std::vector<std::uint64_t> bits(f.size());
  for (std::size_t k = 0; k < bits.size(); ++k) bits[k] = bit_length(f[k]);
  const auto best = fujiwara_exponent(bits);
  return best ? std::max<i64>(0, *best + 1) : 0;
}

// An upper bound R = k·2^e on the absolute value of every complex root of f: the positive root of
// Cauchy's polynomial |a_n|·x^n − Σ_(i<n) |a_i|·x^i, which is negative below that root and positive
// above, located by binary search on the grid k·2^(ρ−10), k ≤ 1024, below Fujiwara's 2^ρ. Each
// sign is exact.
struct RootBound {
  std::uint64_t k = 0;
  std::int64_t e = 0;
  double log2() const { return k == 0 ? -1e300 : std::log2(static_cast<double>(k)) + static_cast<double>(e); }
};

RootBound root_bound(const ZPoly& f) {
  const std::int64_t rho = root_bound_bits(f);
  const std::size_t n = f.size() - 1;
  if (n == 0) return {};
  const std::int64_t e = rho - 10;
  // The sign of 2^(−e·n)·q(k·2^e) for e < 0, or of q(k·2^e) itself, by Horner's rule.
  auto positive = [&](std::uint64_t k) {
    Mpz acc, x(static_cast<unsigned long>(k)), term;
    if (e > 0) mpz_mul_2exp(x.get(), x.get(), static_cast<mp_bitcnt_t>(e));
    mpz_abs(acc.get(), f[n].get());
    for (std::size_t i = n; i-- > 0;) {
      mpz_mul(acc.get(), acc.get(), x.get());
      mpz_abs(term.get(), f[i].get());
      if (e < 0) mpz_mul_2exp(term.get(), term.get(), static_cast<mp_bitcnt_t>(-e * static_cast<std::int64_t>(n - i)));
      mpz_sub(acc.get(), acc.get(), term.get());
    }
    return acc.sign() > 0;
  };
  std::uint64_t lo = 0, hi = 1025;  // q ≤ 0 at lo·2^e, q > 0 at hi·2^e (2^ρ bounds the roots)
  while (hi - lo > 1) {
    const std::uint64_t mid = (lo + hi) / 2;
    (positive(mid) ? hi : lo) = mid;
  }
  return {hi, e};
}

// log2 of an upper bound on the absolute values of the complex roots of f, sharpened by three
// root-squaring (Graeffe) steps: with f(x) = E(x²) + x·O(x²), E(y)² − y·O(y)² has the squares of
// f's roots as its roots, and the eighth root of its bound from root_bound bounds f's roots.
double root_bound_log2(const ZPoly& f) {
  ZPoly g = f;
  constexpr int kSteps = 3;
  for (int step = 0; step < kSteps; ++step) {
    ZPoly even, odd;
    for (std::size_t i = 0; i < g.size(); ++i) (i % 2 == 0 ? even : odd).push_back(g[i]);
    trim(even);
    trim(odd);
    ZPoly next = mul(even, even), t = mul(odd, odd);
    t.insert(t.begin(), Mpz());
    if (next.size() < t.size()) next.resize(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) mpz_sub(next[i].get(), next[i].get(), t[i].get());
    trim(next);
    g = std::move(next);
    poll_interrupt();
  }
  return std::min(root_bound(f).log2(), root_bound(g).log2() / (1 << kSteps) + 1e-9);
}

// Lifts of one factorisation modulo p to ever higher powers of p, recomputed from the factors
// modulo p when more precision is asked for. When seeded with lifts that were handed in rather than
// computed here, the first lift is checked against them; on a mismatch no lifts are given.
class LiftCache {
 public:
  LiftCache(const ZPoly& F, std::vector<ZPoly> base, u64 p) : F_(F), base_(std::move(base)), p_(Mpz(p)), prime_(p) {}

  void seed(std::uint32_t k, std::vector<ZPoly> lifted, bool trusted) {
    k_ = k;
    lifted_ = std::move(lifted);
    trusted_ = trusted;
  }
  u64 prime() const { return prime_; }
  std::uint32_t exponent() const { return k_; }

  // Lifts modulo p^K for some K ≥ k (see exponent()), or none.
  const std::vector<ZPoly>* at_least(std::uint32_t k) {
    if (broken_) return nullptr;
    if (trusted_ && k <= k_) return &lifted_;
    std::uint32_t K = std::max({k, k_, k_ + k_ / 2});
    if (static_cast<double>(K) * std::log2(static_cast<double>(prime_)) > 1 << 22) return nullptr;
    std::vector<ZPoly> out;
    Mpz pk = power(p_, K);
    if (!lift_tree(F_, base_, p_, K, pk, out)) {
      broken_ = true;
      return nullptr;
    }
    if (!trusted_) {
      // The handed-in lifts must be these reduced modulo p^k_.
      Mpz pk0 = power(p_, k_);
      for (std::size_t i = 0; i < out.size(); ++i) {
        ZPoly r = reduced(out[i], pk0);
        bool same = r.size() == lifted_[i].size();
        for (std::size_t j = 0; same && j < r.size(); ++j) same = mpz_cmp(r[j].get(), lifted_[i][j].get()) == 0;
        if (!same) {
          broken_ = true;
          return nullptr;
        }
      }
      trusted_ = true;
    }
    lifted_ = std::move(out);
    k_ = K;
    return &lifted_;
  }

 private:
  const ZPoly& F_;
  std::vector<ZPoly> base_;
  Mpz p_;
  u64 prime_;
  std::uint32_t k_ = 0;
  std::vector<ZPoly> lifted_;
  bool trusted_ = false;
  bool broken_ = false;
};

// =============================================================================================
// Recombination by lattice reduction

i64 symmetric(i128 v, i64 Q) {
  i128 r = v % Q;
  if (r < 0) r += Q;
  if (2 * r > Q) r -= Q;
  return static_cast<i64>(r);
}

// The sizes lattice_atoms works with for u factors of g modulo powers of p.
struct LatticePlan {
  std::size_t u = 0;
  double log2p = 0, log2N = 0;
  // log2 of |c|·R, rounded up a little: c^j·s_j of a factor is below N·2^(j·step_bits).
  double step_bits = 0;
  // Digits per refinement, p^δ about 2^20.
  std::uint32_t delta = 1;
  // The bound on a true vector's value in a column.
  long double noise = 0;
  // Mixed columns reach no further than deg g / 2, nor past 2^16 bits of power-sum bound; the first
  // ones reach as far as columns whose top lies within 16 bits of the first power sum's.
  std::size_t mix_top = 1, reach = 1;

  // Digits of p^(b_j) >= N·(|c|·R)^j, one to spare.
  std::uint32_t bound_digits(std::size_t j) const {
    return static_cast<std::uint32_t>(std::ceil((log2N + static_cast<double>(j) * step_bits) / log2p)) + 1;
  }
  // Digits kept in reserve below the top of one column: enough, as a rule, for the lattice to shrink
  // to the true vectors, each of about u factors giving away the bound's bits, up to 384 bits (more
  // columns bring the rest).
  std::uint32_t reserve(int attempt) const {
    const double bits =
        std::min(384.0, 32 + static_cast<double>(u) * (std::log2(static_cast<double>(noise)) + 2)) * (1 << attempt);
    return static_cast<std::uint32_t>(std::ceil(bits / log2p)) + delta;
  }
  // The top digits of a column mixing power sums 1 .. J.
  std::uint32_t column_digits(std::size_t J) const {
    return bound_digits(J) + static_cast<std::uint32_t>(std::ceil(std::log2(static_cast<double>(J)) / log2p + 1e-9));
  }
  // The precision the first column asks the lifts for.
  std::uint32_t first_precision() const {
    const std::uint32_t need = column_digits(std::min(mix_top, reach)) + reserve(0);
    return need + need / 4;
  }
};

LatticePlan plan_lattice(const ZPoly& g, std::size_t u, u64 p) {
  LatticePlan plan;
  plan.u = u;
  const std::size_t N = static_cast<std::size_t>(degree(g));
  plan.log2p = std::log2(static_cast<double>(p));
  long exp2c = 0;
  const double mant = mpz_get_d_2exp(&exp2c, g.back().get());
  const double log2c = static_cast<double>(exp2c) + std::log2(std::fabs(mant));
  plan.log2N = std::log2(static_cast<double>(N)) + 1e-9;
  plan.step_bits = std::max(0.0, log2c + root_bound_log2(g)) + 1e-9;
  while (std::pow(static_cast<double>(p), plan.delta + 1) <= 1 << 20) ++plan.delta;
  plan.noise = std::floor(1.0L + static_cast<long double>(u) / 2);
  plan.mix_top = std::max<std::size_t>(1, N / 2);
  while (plan.mix_top > 1 && static_cast<double>(plan.bound_digits(plan.mix_top)) * plan.log2p > 65536) plan.mix_top /= 2;
  const std::uint32_t first = plan.bound_digits(1) + static_cast<std::uint32_t>(std::ceil(16 / plan.log2p));
  while (plan.reach < plan.mix_top && plan.column_digits(plan.reach + 1) <= first) ++plan.reach;
  return plan;
}

// The partition of the lifted factors of g (positions in `local`) into the sets whose products are
// the irreducible factors of g, found by lattice reduction on the power sums of their roots.
//
// For a true factor h with 0/1 vector v, Σ v_i·c^j·s_j(f_i) is congruent modulo p^K to c^j·s_j(h),
// an integer of absolute value at most deg g·(|c|·R)^j <= p^(b_j). A column mixes the power sums
// 1 .. J with weights w_j = ±1, each scaled to the top b = max b_j (plus the digits of Σ|w_j|):
// T_i = Σ w_j·p^(b − b_j)·c^j·s_j(f_i) modulo p^K, whose sum over v is congruent to an integer below
// p^b. Rounded at p^(b + s), the values sum over v, modulo p^(K − b − s), to at most 1 + u/2 in
// absolute value; extended by its columns v is a lattice vector of squared norm at most
// M² = u + (columns)·⌊1 + u/2⌋². A column is fed a few digits at a time, s falling from its top
// to 0: the basis vectors' entries are scaled by p^δ and corrected by the new digits, so a nearly
// reduced basis is reduced again at every step. After each reduction the trailing vectors whose
// Gram–Schmidt norm is proven to exceed M are dropped, which keeps every true vector in the span
// whatever the reduction did. When the span's coordinates on the factors take one value per block,
// the blocks are offered to `accept`, which must prove them (a single block needs no proof: g is
// then irreducible).
//
// Column t mixes the power sums up to t, or further where the bounds grow slowly: subsets closed
// under a symmetry of the roots (as for x^n − a) can share the low power sums of true factors, and
// a random mix of all those up to deg g / 2 tells any subset that is not a factor apart. When the
// columns run out the search starts again with more digits per column. Empty when no lifts are to
// be had or every attempt runs out.
std::optional<std::vector<std::vector<std::size_t>>> lattice_atoms(
    const ZPoly& g, std::span<const std::size_t> local, LiftCache& lifts,
    const std::function<bool(const std::vector<std::vector<std::size_t>>&)>& accept) {
  using Blocks = std::vector<std::vector<std::size_t>>;
  struct Term {
    std::size_t j;
    i64 weight;
  };
  const std::size_t u = local.size();
  if (u == 0) return std::nullopt;
  if (u == 1) return Blocks{{local[0]}};
  const Mpz& c = g.back();
  const u64 p = lifts.prime();
  const LatticePlan plan = plan_lattice(g, u, p);
  const std::uint32_t delta = plan.delta;
  const long double noise = plan.noise;
  auto bound_digits = [&](std::size_t j) { return plan.bound_digits(j); };
  const Mpz Pz(static_cast<unsigned long>(p));
  u64 seed = 0x243F6A8885A308D3ull;
  auto next_sign = [&] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return (seed >> 40) & 1 ? i64{1} : i64{-1};
  };

  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::uint32_t reserve = plan.reserve(attempt);
    std::vector<LatticeRow> rows(u, LatticeRow(u, 0));
    for (std::size_t i = 0; i < u; ++i) rows[i][i] = 1;
    long double M2 = static_cast<long double>(u);
    std::uint32_t K = 0;
    Mpz pK, pb, half, q, t;
    std::vector<std::vector<Mpz>> sums(u);  // power sums s_1.. of each factor modulo p^K
    std::vector<Mpz> cpow;                  // c^j modulo p^K

    // Precision of at least `need` digits and the power sums up to J; false without lifts.
    auto prepare = [&](std::uint32_t need, std::size_t J) -> bool {
      if (K < need || K != lifts.exponent()) {
        if (!lifts.at_least(std::max(K, need + need / 4))) return false;
        K = lifts.exponent();
        pK = power(Pz, K);
        cpow.assign(1, Mpz(1ul));
        for (auto& s : sums) s.assign(1, Mpz());
      }
      // Newton's identities: s_j = −(Σ_(t=1..min(j−1,d)) a_t·s_(j−t) + j·a_j), a_t = f[d − t].
      const std::vector<ZPoly>& all = *lifts.at_least(K);
      while (cpow.size() <= J) {
        Mpz next;
        mpz_mul(next.get(), cpow.back().get(), c.get());
        mpz_fdiv_r(next.get(), next.get(), pK.get());
        cpow.push_back(std::move(next));
      }
      for (std::size_t i = 0; i < u; ++i) {
        const ZPoly& f = all[local[i]];
        const std::size_t d = f.size() - 1;
        auto& s = sums[i];
        while (s.size() <= J) {
          const std::size_t k = s.size();
          Mpz sk;
          for (std::size_t r = 1; r <= std::min(k - 1, d); ++r) mpz_addmul(sk.get(), f[d - r].get(), s[k - r].get());
          if (k <= d) mpz_addmul_ui(sk.get(), f[d - k].get(), k);
          mpz_neg(sk.get(), sk.get());
          mpz_fdiv_r(sk.get(), sk.get(), pK.get());
          s.push_back(std::move(sk));
          if ((k & 63) == 0) poll_interrupt();
        }
      }
      return true;
    };

    // Feeds one column of power sums 1 .. J; the blocks when they are proven, and whether the basis
    // shrank.
    bool shrank = false;
    auto feed = [&](const std::vector<Term>& terms) -> std::optional<Blocks> {
      shrank = false;
      // Terms are the power sums 1 .. J with weights ±1.
      const std::size_t J = terms.size();
      const std::uint32_t top = bound_digits(J);
      const std::uint32_t bj = plan.column_digits(J);
      if (!prepare(bj + reserve, J)) return std::nullopt;
      std::vector<Mpz> T(u), rounded(u);
      Mpz shift;
      for (std::size_t i = 0; i < u; ++i) {
        for (const Term& term : terms) {
          mpz_mul(t.get(), cpow[term.j].get(), sums[i][term.j].get());
          mpz_pow_ui(shift.get(), Pz.get(), top - bound_digits(term.j));
          mpz_mul(t.get(), t.get(), shift.get());
          if (term.weight > 0)
            mpz_addmul_ui(T[i].get(), t.get(), static_cast<unsigned long>(term.weight));
          else
            mpz_submul_ui(T[i].get(), t.get(), static_cast<unsigned long>(-term.weight));
        }
        mpz_fdiv_r(T[i].get(), T[i].get(), pK.get());
      }
      M2 += noise * noise;
      int idle = 0;
      bool fresh = true;
      std::vector<i64> diff(u), column;
      for (std::uint32_t b = K; b > bj;) {
        const std::uint32_t dl = std::min(delta, b - bj);
        b -= dl;
        const i64 scale_by = static_cast<i64>(std::llround(std::pow(static_cast<double>(p), dl)));
        pb = power(Pz, b);
        mpz_fdiv_q_2exp(half.get(), pb.get(), 1);
        // d_i = round(T/p^b) − p^δ·round(T/p^(b+δ)), below p^δ in absolute value.
        for (std::size_t i = 0; i < u; ++i) {
          mpz_add(q.get(), T[i].get(), half.get());
          mpz_fdiv_q(q.get(), q.get(), pb.get());
          mpz_mul_si(t.get(), rounded[i].get(), scale_by);
          mpz_sub(t.get(), q.get(), t.get());
          diff[i] = mpz_get_si(t.get());
          mpz_swap(rounded[i].get(), q.get());
        }
        // Every row's new entry, committed only when all stay in range.
        column.resize(rows.size());
        bool fits = true;
        for (std::size_t r = 0; r < rows.size() && fits; ++r) {
          i128 acc = 0;
          for (std::size_t i = 0; i < u; ++i) acc += static_cast<i128>(rows[r][i]) * diff[i];
          if (fresh) {
            column[r] = symmetric(acc, scale_by);
            continue;
          }
          const i128 v = static_cast<i128>(rows[r].back()) * scale_by + acc;
          fits = v <= (i128{1} << (kLatticeEntryBits - 1)) && v >= -(i128{1} << (kLatticeEntryBits - 1));
          column[r] = static_cast<i64>(v);
        }
        if (!fits) break;
        for (std::size_t r = 0; r < rows.size(); ++r) {
          if (fresh)
            rows[r].push_back(column[r]);
          else
            rows[r].back() = column[r];
        }
        // Rows before this step, the column's modulus row not counted.
        const std::size_t before = rows.size();
        if (fresh) {
          LatticeRow modulus(rows.front().size(), 0);
          modulus.back() = scale_by;
          rows.push_back(std::move(modulus));
          fresh = false;
        }
        lll_reduce(rows);
        const std::size_t m = short_span(rows, M2);
        rows.resize(m);
        if (m == 0) return std::nullopt;
        // Blocks: factors whose coordinates agree in every remaining vector.
        std::map<std::vector<i64>, std::size_t> block_of;
        Blocks blocks;
        for (std::size_t i = 0; i < u; ++i) {
          std::vector<i64> key(m);
          for (std::size_t r = 0; r < m; ++r) key[r] = rows[r][i];
          auto [it, is_new] = block_of.emplace(std::move(key), blocks.size());
          if (is_new) blocks.emplace_back();
          blocks[it->second].push_back(local[i]);
        }
        if (blocks.size() == 1) return blocks;
        if (blocks.size() <= m && accept(blocks)) return blocks;
        // A proof that lifted further ends this column; the next starts at the new precision.
        if (lifts.exponent() != K) break;
        // Move on when the column has stopped shrinking the basis. Nothing shrinks before the
        // modulus has outgrown the bound about as many times as there are rows.
        if (m < before) {
          shrank = true;
          idle = 0;
        } else if (shrank && ++idle >= 3) {
          break;
        }
      }
      return std::nullopt;
    };

    // Column t mixes the power sums up to t, or up to the plan's reach, whichever is higher.
    for (std::size_t column = 1; column <= u + 16; ++column) {
      poll_interrupt();
      std::vector<Term> terms;
      const std::size_t J = std::min(plan.mix_top, std::max(column, plan.reach));
      for (std::size_t k = 1; k <= J; ++k) terms.push_back({k, J == 1 ? 1 : next_sign()});
      if (auto done = feed(terms)) return done;
      if (K == 0) return std::nullopt;
    }
  }
  return std::nullopt;
}

// =============================================================================================
// Recombination

// An upper bound on the bits of ‖a‖₂.
std::uint64_t norm_bits(const ZPoly& a) {
  Mpz S;
  for (const auto& c : a) mpz_addmul(S.get(), c.get(), c.get());
  return bit_length(S) / 2 + 1;
}

// a = b·q in Z[x]; q is written when asked. A factor q of a has coefficients below
// 2^(deg q)·‖a‖₂, so with `bounded` the division stops at the first quotient coefficient beyond that.
bool exact_quotient(const ZPoly& a, const ZPoly& b, ZPoly* q, bool bounded = false) {
  if (b.empty()) return false;
  if (a.size() < b.size()) {
    if (q) q->clear();
    return a.empty();
  }
  const std::size_t d = b.size() - 1;
  const std::uint64_t limit = bounded ? a.size() - b.size() + norm_bits(a) : 0;
  ZPoly work = a, quot(a.size() - d);
  const Mpz& lc = b.back();
  for (std::size_t t = work.size(); t-- > d;) {
    if ((t & 63) == 0) poll_interrupt();
    if (work[t].sign() == 0) continue;
    if (!mpz_divisible_p(work[t].get(), lc.get())) return false;
    Mpz& qt = quot[t - d];
    mpz_divexact(qt.get(), work[t].get(), lc.get());
    if (bounded && bit_length(qt) > limit) return false;
    for (std::size_t j = 0; j < d; ++j) mpz_submul(work[t - d + j].get(), qt.get(), b[j].get());
  }
  for (std::size_t j = 0; j < d; ++j)
    if (work[j].sign() != 0) return false;
  if (q) {
    trim(quot);
    *q = std::move(quot);
  }
  return true;
}

// Σ a_i·2^(w·i), every |a_i| below 2^(w − 1).
void evaluate_at_power_of_two(const ZPoly& a, std::size_t w, Mpz& out) {
  const std::size_t limbs = (a.size() * w + 63) / 64 + 2;
  std::vector<mp_limb_t> pos(limbs, 0), neg(limbs, 0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    const __mpz_struct& x = *a[i].get();
    if (x._mp_size == 0) continue;
    mp_limb_t* target = x._mp_size > 0 ? pos.data() : neg.data();
    const std::size_t n = mpz_size(&x), bit = i * w, li = bit / 64;
    const unsigned sh = bit % 64;
    for (std::size_t k = 0; k < n; ++k) {
      target[li + k] |= x._mp_d[k] << sh;
      if (sh != 0) target[li + k + 1] |= x._mp_d[k] >> (64 - sh);
    }
  }
  Mpz negative;
  mpz_import(out.get(), limbs, -1, sizeof(mp_limb_t), 0, 0, pos.data());
  mpz_import(negative.get(), limbs, -1, sizeof(mp_limb_t), 0, 0, neg.data());
  mpz_sub(out.get(), out.get(), negative.get());
}

// The balanced digits of x in base 2^w, each in [−2^(w−1), 2^(w−1)); false when there are more
// than `count` of them.
bool balanced_digits(const Mpz& x, std::size_t w, std::size_t count, ZPoly& out) {
  out.clear();
  Mpz rest = x, digit, half;
  mpz_setbit(half.get(), w - 1);
  while (rest.sign() != 0) {
    if (out.size() == count) return false;
    mpz_fdiv_r_2exp(digit.get(), rest.get(), w);
    if (mpz_cmp(digit.get(), half.get()) >= 0) {
      mpz_sub(digit.get(), digit.get(), half.get());
      mpz_sub(digit.get(), digit.get(), half.get());
    }
    mpz_sub(rest.get(), rest.get(), digit.get());
    mpz_fdiv_q_2exp(rest.get(), rest.get(), w);
    out.push_back(digit);
  }
  return true;
}

// False when b cannot divide a in Z[x]: b's coefficients pass the bound 2^(deg b)·‖a‖₂·|lc b| that
// every factor's obey, or b does not divide a modulo a word prime.
bool may_divide(const ZPoly& a, const ZPoly& b) {
  if (b.empty() || b.size() > a.size()) return false;
  const std::uint64_t limit = bit_length(b.back()) + b.size() + norm_bits(a);
  for (const auto& x : b)
    if (bit_length(x) > limit) return false;
  for (std::size_t i = 0; i < 2; ++i) {
    const u64 l = word_prime(i);
    if (mpz_divisible_ui_p(b.back().get(), l)) continue;
    const Zp Fl(l);
    WordPoly am, bm;
    for (const auto& x : a) am.push_back(mpz_fdiv_ui(x.get(), l));
    for (const auto& x : b) bm.push_back(mpz_fdiv_ui(x.get(), l));
    gy::trim(am);
    gy::trim(bm);
    if (!rem(Fl, std::move(am), bm).empty()) return false;
  }
  return true;
}

// Whether b divides a in Z[x], with the quotient when asked: one integer division of a(2^w) by
// b(2^w). A quotient in Z[x] has coefficients below 2^(deg a − deg b)·‖a‖₂; with every coefficient of
// a and of b times such a quotient below 2^(w−1), the balanced digits of the integer quotient are the
// quotient's coefficients, and a − b·q, which vanishes at 2^w with every coefficient below 2^(w−1),
// is zero.
bool divides_exactly(const ZPoly& a, const ZPoly& b, ZPoly* q) {
  if (b.empty()) return false;
  if (a.size() < b.size()) {
    if (q) q->clear();
    return a.empty();
  }
  const std::size_t count = a.size() - b.size() + 1;
  const std::size_t qbits = count + norm_bits(a);
  std::size_t abits = 0, bbits = 0;
  for (const auto& x : a) abits = std::max<std::size_t>(abits, bit_length(x));
  for (const auto& x : b) bbits = std::max<std::size_t>(bbits, bit_length(x));
  const std::size_t w =
      std::max(abits, bbits + qbits + static_cast<std::size_t>(std::bit_width(std::min(b.size(), count)))) + 2;
  Mpz A, B, Q, R;
  evaluate_at_power_of_two(a, w, A);
  evaluate_at_power_of_two(b, w, B);
  mpz_tdiv_qr(Q.get(), R.get(), A.get(), B.get());
  if (R.sign() != 0) return false;
  ZPoly digits;
  if (!balanced_digits(Q, w, count, digits)) return false;
  for (const auto& x : digits)
    if (bit_length(x) > qbits) return false;
  if (q) *q = std::move(digits);
  return true;
}

// The greatest common divisor of A and B in Z[x] (neither zero), primitive with a positive leading
// coefficient: gcds modulo word primes of the least degree seen, joined by Chinese remaindering
// with leading coefficient gcd(lc A, lc B), until the primitive part of the symmetric image stops
// changing and divides both. A prime dividing neither leading coefficient gives a gcd of at least
// the true degree, and every prime of the least degree the image of the true gcd.
ZPoly integer_gcd(const ZPoly& A, const ZPoly& B) {
  Mpz lc;
  mpz_gcd(lc.get(), A.back().get(), B.back().get());
  std::optional<i64> least;
  Mpz M, half, t;
  ZPoly image, previous;
  for (std::size_t i = 0;; ++i) {
    poll_interrupt();
    const u64 l = word_prime(i);
    if (mpz_divisible_ui_p(A.back().get(), l) || mpz_divisible_ui_p(B.back().get(), l)) continue;
    const Zp Fl(l);
    WordPoly a, b;
    for (const auto& x : A) a.push_back(mpz_fdiv_ui(x.get(), l));
    for (const auto& x : B) b.push_back(mpz_fdiv_ui(x.get(), l));
    gy::trim(a);
    gy::trim(b);
    WordPoly g = gcd(Fl, std::move(a), std::move(b));
    const i64 d = gy::degree(g);
    if (d == 0) return ZPoly{Mpz(1ul)};
    const u64 scale_by = mpz_fdiv_ui(lc.get(), l);
    for (auto& x : g) x = Fl.mul(x, scale_by);
    if (least && d > *least) continue;
    if (!least || d < *least) {
      least = d;
      mpz_set_ui(M.get(), static_cast<unsigned long>(l));
      image.assign(g.size(), Mpz());
      for (std::size_t k = 0; k < g.size(); ++k) mpz_set_ui(image[k].get(), static_cast<unsigned long>(g[k]));
      previous.clear();
      continue;
    }
    // x ≡ image (mod M), x ≡ g (mod l): x = image + M·((g − image)·M⁻¹ mod l).
    const u64 inv = Fl.inv(mpz_fdiv_ui(M.get(), l));
    for (std::size_t k = 0; k < g.size(); ++k) {
      const u64 r = Fl.mul(Fl.sub(g[k], mpz_fdiv_ui(image[k].get(), l)), inv);
      mpz_addmul_ui(image[k].get(), M.get(), static_cast<unsigned long>(r));
    }
    mpz_mul_ui(M.get(), M.get(), static_cast<unsigned long>(l));
    mpz_fdiv_q_2exp(half.get(), M.get(), 1);
    ZPoly candidate = image;
    Mpz content;
    for (auto& x : candidate) {
      if (mpz_cmp(x.get(), half.get()) > 0) mpz_sub(x.get(), x.get(), M.get());
      mpz_gcd(content.get(), content.get(), x.get());
    }
    if (content.sign() == 0) continue;
    divide_exact(candidate, content);
    if (candidate.back().sign() < 0)
      for (auto& x : candidate) mpz_neg(x.get(), x.get());
    const bool stable = candidate.size() == previous.size() &&
                        std::equal(candidate.begin(), candidate.end(), previous.begin(),
                                   [](const Mpz& x, const Mpz& y) { return mpz_cmp(x.get(), y.get()) == 0; });
    if (stable && divides_exactly(A, candidate, nullptr) && divides_exactly(B, candidate, nullptr)) return candidate;
    previous = std::move(candidate);
  }
}

double choose(std::size_t n, std::size_t k) {
  if (k > n) return 0;
  double r = 1;
  for (std::size_t i = 1; i <= k; ++i) r = r * static_cast<double>(n - k + i) / static_cast<double>(i);
  return r;
}

struct RecombineHints {
  std::optional<DegreeSet> degrees;  // the degrees a factor over the rationals can have
  LiftCache* lifts = nullptr;        // p-adic lifts of the same factors, for the lattice
};

// The search of combine_factors. Subsets of one size are visited in the plain order, but only
// among the factors not yet used (a subset overlapping a found factor never divides what is left),
// and only those passing three necessary tests reach the trial division: a degree some factor over
// the rationals can have, a sum of roots within its bound, and a constant term that divides. When
// one size has more subsets than 2^15 and the cube of the number of free factors, the factors of
// what remains are found by lattice reduction, and the tests of the plain order are replayed on
// them alone, which finds the same factors in the same order.
class Recombination {
 public:
  static constexpr double kEnumerationLimit = 1 << 15;

  Recombination(const ZPoly& F, std::vector<ZPoly> lifted, Mpz P, RecombineHints hints)
      : F_(F), lifted_(std::move(lifted)), P_(std::move(P)), hints_(std::move(hints)) {}

  Result<std::vector<ZPoly>> run() {
    g_ = F_;
    norm_bits_ = norm_bits(F_);
    const std::size_t r = lifted_.size();
    used_.assign(r, 0);
    prepare_filters();
    bool lattice = hints_.lifts && monic_ && r <= 512;
    for (std::size_t s = 1; 2 * static_cast<i64>(s) <= degree(g_); ++s) {
      std::vector<std::size_t> free;
      for (std::size_t i = 0; i < r; ++i)
        if (!used_[i]) free.push_back(i);
      const double cube = std::pow(static_cast<double>(free.size()), 3);
      if (lattice && choose(free.size(), s) > std::max(kEnumerationLimit, cube)) {
        auto accept = [&](const std::vector<std::vector<std::size_t>>& blocks) { return all_but_largest_divide(blocks); };
        if (auto atoms = lattice_atoms(g_, free, *hints_.lifts, accept)) {
          GY_CHECK(replay(*atoms, s));
          break;
        }
        lattice = false;
      }
      enumerate(free, s);
      if (slot_) return fail(std::move(*slot_));
    }
    if (degree(g_) >= 1) found_.push_back(g_);
    return std::move(found_);
  }

 private:
  void prepare_filters() {
    const std::size_t r = lifted_.size();
    degrees_.resize(r);
    monic_ = mpz_cmp_ui(P_.get(), 1) > 0;
    for (std::size_t i = 0; i < r; ++i) {
      const ZPoly& f = lifted_[i];
      monic_ = monic_ && f.size() >= 2 && mpz_cmp_ui(f.back().get(), 1) == 0;
      degrees_[i] = f.empty() ? 0 : f.size() - 1;
      constants_.push_back(f.empty() ? Mpz() : f[0]);
    }
    if (!monic_ || F_.empty()) return;
    // With monic factors and P > 2·|lc(F)| a candidate has leading coefficient lc(g) and the sum of
    // its factors' degrees.
    Mpz lc;
    mpz_abs(lc.get(), F_.back().get());
    Mpz twice;
    mpz_mul_2exp(twice.get(), lc.get(), 1);
    if (mpz_cmp(P_.get(), twice.get()) <= 0) return;
    sized_ = true;
    // The sum of the roots: with c0 = lc(F), a true factor's c0·(sum of its roots) is an integer of
    // absolute value at most |c0|·d·R and congruent to −c0·Σ t_i, t_i the second coefficient of
    // each lifted factor. Held as fixed-point fractions of P in 64 bits, where sums wrap modulo P.
    const RootBound R = root_bound(F_);
    Mpz w;
    mpz_mul_ui(w.get(), lc.get(), static_cast<unsigned long>(R.k));
    if (R.e + 64 >= 0) {
      mpz_mul_2exp(w.get(), w.get(), static_cast<mp_bitcnt_t>(R.e + 64));
      mpz_cdiv_q(w.get(), w.get(), P_.get());
    } else {
      Mpz den = P_;
      mpz_mul_2exp(den.get(), den.get(), static_cast<mp_bitcnt_t>(-(R.e + 64)));
      mpz_cdiv_q(w.get(), w.get(), den.get());
    }
    if (bit_length(w) > 40) return;
    root_window_ = mpz_get_ui(w.get());
    Mpz a;
    for (std::size_t i = 0; i < r; ++i) {
      mpz_mul(a.get(), F_.back().get(), lifted_[i][degrees_[i] - 1].get());
      mpz_fdiv_r(a.get(), a.get(), P_.get());
      mpz_mul_2exp(a.get(), a.get(), 64);
      mpz_fdiv_q(a.get(), a.get(), P_.get());
      roots_.push_back(mpz_get_ui(a.get()));
    }
    root_test_ = true;
  }

  // Subsets of `free` of size s in decreasing lexicographic order; found factors are skipped.
  void enumerate(const std::vector<std::size_t>& free, std::size_t s) {
    free_ = &free;
    suffix_degree_.assign(free.size() + 1, 0);
    suffix_roots_.assign(free.size() + 1, 0);
    for (std::size_t i = free.size(); i-- > 0;) {
      suffix_degree_[i] = suffix_degree_[i + 1] + degrees_[free[i]];
      suffix_roots_[i] = suffix_roots_[i + 1] + (root_test_ ? roots_[free[i]] : 0);
    }
    chosen_.clear();
    valid_ = std::min<std::size_t>(valid_, 1);
    visit(0, s, 0, 0);
  }

  void visit(std::size_t i, std::size_t need, std::size_t deg, u64 roots) {
    if (slot_) return;
    const std::size_t n = free_->size();
    if (sized_ && static_cast<i64>(deg + need) > degree(g_)) return;
    if (need == 0) return leaf(deg, roots);
    if (n - i < need) return;  // the subset cannot be completed
    if (n - i == need) {
      const std::size_t mark = chosen_.size();
      chosen_.insert(chosen_.end(), free_->begin() + static_cast<std::ptrdiff_t>(i), free_->end());
      leaf(deg + suffix_degree_[i], roots + suffix_roots_[i]);
      chosen_.resize(mark);
      valid_ = std::min(valid_, mark + 1);
      return;
    }
    visit(i + 1, need, deg, roots);
    const std::size_t k = (*free_)[i];
    chosen_.push_back(k);
    visit(i + 1, need - 1, deg + degrees_[k], roots + (root_test_ ? roots_[k] : 0));
    chosen_.pop_back();
    valid_ = std::min(valid_, chosen_.size() + 1);
  }

  void leaf(std::size_t deg, u64 roots) {
    if ((++leaves_ & 4095) == 0) poll_interrupt();
    if (sized_ && hints_.degrees && !hints_.degrees->has(deg)) return;
    if (root_test_) {
      const u64 w = deg * root_window_, count = chosen_.size();
      const u64 width = 2 * w + count;
      if (width < (u64{1} << 63) && roots + w + count > width) return;
    }
    for (std::size_t k : chosen_)
      if (used_[k]) return;
    if (!constant_divides()) return;
    test(chosen_);
  }

  // h(0) = lc(g)·Π f_i(0) (mod P, symmetric) over the chosen factors must divide lc(g)·g(0) when
  // g(0) ≠ 0. The products of the chosen prefixes are kept while the recursion shares them.
  bool constant_divides() {
    if (g_.empty() || g_[0].sign() == 0) return true;
    if (prefix_.size() < chosen_.size() + 1) prefix_.resize(chosen_.size() + 1);
    if (valid_ == 0) {
      mpz_fdiv_r(prefix_[0].get(), g_.back().get(), P_.get());
      valid_ = 1;
    }
    for (; valid_ <= chosen_.size(); ++valid_) {
      mpz_mul(prefix_[valid_].get(), prefix_[valid_ - 1].get(), constants_[chosen_[valid_ - 1]].get());
      mpz_fdiv_r(prefix_[valid_].get(), prefix_[valid_].get(), P_.get());
    }
    Mpz h0 = prefix_[chosen_.size()];
    to_symmetric(h0);
    if (h0.sign() == 0) return false;
    Mpz t;
    mpz_mul(t.get(), g_.back().get(), g_[0].get());
    return mpz_divisible_p(t.get(), h0.get());
  }

  void to_symmetric(Mpz& v) const {
    Mpz twice;
    mpz_mul_2exp(twice.get(), v.get(), 1);
    if (mpz_cmp(twice.get(), P_.get()) >= 0) mpz_sub(v.get(), v.get(), P_.get());
  }

  // lc(g)·Π lifted (mod P), coefficients in the symmetric range.
  ZPoly candidate(const std::vector<std::size_t>& subset) const {
    ZPoly h{Mpz(1ul)};
    reduce(h, P_);
    for (std::size_t k : subset) h = reduced(mul(h, lifted_[k]), P_);
    scale(h, g_.back());
    reduce(h, P_);
    for (auto& x : h) to_symmetric(x);
    trim(h);
    return h;
  }

  // h divides lc(g)·g over the integers. A divisor is lc(g) times a monic factor of F, whose
  // coefficients are below 2^d·‖F‖₂; and its cofactor is bounded in the division.
  bool divides(const ZPoly& h) const {
    if (h.empty()) return false;
    const std::uint64_t limit = bit_length(g_.back()) + static_cast<std::uint64_t>(degree(h)) + norm_bits_;
    for (const auto& x : h)
      if (bit_length(x) > limit) return false;
    ZPoly cg = g_;
    scale(cg, g_.back());
    return exact_quotient(cg, h, nullptr, true);
  }

  // The test of the plain search: h divides lc(g)·g over the integers.
  void test(const std::vector<std::size_t>& subset) {
    if (slot_) return;
    if (g_.empty()) {
      slot_ = Error::other("combine_factors: zero polynomial");
      return;
    }
    ZPoly h = candidate(subset);
    if (!divides(h)) return;
    Mpz content;
    for (const auto& x : h) mpz_gcd(content.get(), content.get(), x.get());
    divide_exact(h, content);
    ZPoly rest;
    if (!exact_quotient(g_, h, &rest)) {
      slot_ = Error::division("not divisible");
      return;
    }
    found_.push_back(std::move(h));
    g_ = std::move(rest);
    valid_ = 0;
    for (std::size_t k : subset) used_[k] = 1;
  }

  // Every block but the one of largest degree passes the test (without taking it).
  bool all_but_largest_divide(const std::vector<std::vector<std::size_t>>& blocks) const {
    std::size_t largest = 0, best = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      std::size_t d = 0;
      for (std::size_t k : blocks[b]) d += degrees_[k];
      if (d > best) best = d, largest = b;
    }
    for (std::size_t b = 0; b < blocks.size(); ++b)
      if (b != largest && !divides(candidate(blocks[b]))) return false;
    return true;
  }

  // The plain search from size s on, knowing that only the atoms can pass: each size tests its
  // atoms in decreasing lexicographic order.
  Status replay(std::vector<std::vector<std::size_t>> atoms, std::size_t s) {
    for (auto& a : atoms) std::sort(a.begin(), a.end());
    std::sort(atoms.begin(), atoms.end(), std::greater<>());
    for (; 2 * static_cast<i64>(s) <= degree(g_); ++s) {
      for (const auto& a : atoms) {
        if (a.size() != s) continue;
        bool fresh = true;
        for (std::size_t k : a) fresh = fresh && !used_[k];
        if (fresh) test(a);
      }
      if (slot_) return fail(std::move(*slot_));
    }
    return {};
  }

  const ZPoly& F_;
  std::vector<ZPoly> lifted_;
  Mpz P_;
  RecombineHints hints_;

  ZPoly g_;
  std::vector<char> used_;
  std::vector<ZPoly> found_;
  std::optional<Error> slot_;

  std::uint64_t norm_bits_ = 0;
  bool monic_ = false;
  bool sized_ = false;
  std::vector<std::size_t> degrees_;
  std::vector<Mpz> constants_;
  bool root_test_ = false;
  u64 root_window_ = 0;
  std::vector<u64> roots_;

  const std::vector<std::size_t>* free_ = nullptr;
  std::vector<std::size_t> suffix_degree_;
  std::vector<u64> suffix_roots_;
  std::vector<std::size_t> chosen_;
  // prefix_[j] = lc(g)·Π f_i(0) (mod P) over the first j chosen factors, for j < valid_.
  std::vector<Mpz> prefix_;
  std::size_t valid_ = 0;
  std::size_t leaves_ = 0;
};

// =============================================================================================
// Products of cyclotomic polynomials

// Φ_d = Π_(e | d) (x^e − 1)^μ(d/e): the products first, then the exact divisions, each linear in
// the degree.
IntPoly cyclotomic(u64 d) {
  auto mobius = [](u64 m) {
    int mu = 1;
    for (u64 q = 2; q * q <= m; ++q) {
      if (m % q) continue;
      m /= q;
      if (m % q == 0) return 0;
      mu = -mu;
    }
    return m > 1 ? -mu : mu;
  };
  std::vector<u64> up, down;
  for (u64 e = 1; e <= d; ++e) {
    if (d % e) continue;
    const int mu = mobius(d / e);
    if (mu > 0) up.push_back(e);
    if (mu < 0) down.push_back(e);
  }
  std::vector<Int> c{Int(1)};
  for (u64 e : up) {
    std::vector<Int> next(c.size() + e);
    for (std::size_t i = 0; i < next.size(); ++i) {
      if (i >= e) next[i] = c[i - e];
      if (i < c.size()) next[i] -= c[i];
    }
    c = std::move(next);
  }
  for (u64 e : down) {
    // c = q·(x^e − 1): from the top, q_j = c_(j+e) + q_(j+e).
    std::vector<Int> q(c.size() - e);
    for (std::size_t j = q.size(); j-- > 0;) q[j] = j + e < q.size() ? c[j + e] + q[j + e] : c[j + e];
    c = std::move(q);
  }
  return IntPoly(std::move(c));
}

// The factors of F in the order of the plain search when every root of F is a root of unity; none
// otherwise. The roots of a modular factor of Φ_d have multiplicative order exactly d (p does not
// divide d, as F is squarefree modulo p), and d is the least d' with φ(d') <= n and
// ord_d'(p) = deg f whose power x^d' is 1 modulo f; the product of the Φ_d so found must be F. Each
// set of modular factors then forms the subset that the plain search meets: sizes in turn, within a
// size in decreasing lexicographic order, while twice the size is at most the remaining degree.
std::optional<std::vector<IntPoly>> cyclotomic_factors(const IntPoly& F, const Zp& Fp,
                                                       const std::vector<WordPoly>& factors) {
  const std::size_t n = static_cast<std::size_t>(F.degree());
  if (!F.lead().abs().is_one() || !F.coeffs[0].abs().is_one()) return std::nullopt;
  const u64 p = Fp.p;
  // φ up to a bound past every d with φ(d) <= n (φ(d) > d/6 below 510510).
  const u64 limit = 6 * n + 6;
  std::vector<u64> phi(limit + 1);
  for (u64 i = 0; i <= limit; ++i) phi[i] = i;
  for (u64 q = 2; q <= limit; ++q)
    if (phi[q] == q)
      for (u64 m = q; m <= limit; m += q) phi[m] -= phi[m] / q;
  auto power_mod = [](u64 b, u64 e, u64 m) {
    u64 r = 1 % m;
    for (b %= m; e; e >>= 1, b = b * b % m)
      if (e & 1) r = r * b % m;
    return r;
  };
  auto order_is = [&](u64 d, u64 k) {
    const u64 one = 1 % d;
    if (power_mod(p, k, d) != one) return false;
    u64 rest = k;
    for (u64 r = 2; r <= rest; ++r) {
      if (rest % r) continue;
      while (rest % r == 0) rest /= r;
      if (power_mod(p, k / r, d) == one) return false;
    }
    return true;
  };
  std::map<u64, std::vector<u64>> candidates;  // by modular degree
  std::map<u64, std::vector<std::size_t>> members;
  for (std::size_t i = 0; i < factors.size(); ++i) {
    const u64 k = static_cast<u64>(gy::degree(factors[i]));
    auto [it, fresh] = candidates.try_emplace(k);
    if (fresh)
      for (u64 d = 1; d <= limit; ++d)
        if (phi[d] <= n && d % p != 0 && order_is(d, k)) it->second.push_back(d);
    const WordPolyModulus mod(Fp, factors[i]);
    std::optional<u64> order;
    for (u64 d : it->second)
      if (mod.powmod(WordPoly{0, 1}, Int(d)) == WordPoly{1}) {
        order = d;
        break;
      }
    if (!order) return std::nullopt;
    members[*order].push_back(i);
  }
  std::size_t total = 0;
  for (const auto& [d, idx] : members) {
    if (idx.size() * static_cast<std::size_t>(gy::degree(factors[idx[0]])) != phi[d]) return std::nullopt;
    total += phi[d];
  }
  if (total != n) return std::nullopt;
  struct Atom {
    std::vector<std::size_t> indices;
    IntPoly poly;
  };
  std::vector<Atom> atoms;
  IntPoly product = IntPoly::constant(F.lead());
  for (const auto& [d, idx] : members) {
    atoms.push_back({idx, cyclotomic(d)});
    product = IntPoly::mul(product, atoms.back().poly);
  }
  if (!(product == F)) return std::nullopt;
  std::sort(atoms.begin(), atoms.end(), [](const Atom& a, const Atom& b) { return a.indices > b.indices; });
  std::vector<IntPoly> found;
  std::vector<char> used(atoms.size(), 0);
  std::size_t remaining = n;
  bool negative = F.lead().sign() < 0;  // the first factor found carries the sign of F
  for (std::size_t size = 1; 2 * size <= remaining; ++size)
    for (std::size_t a = 0; a < atoms.size(); ++a) {
      if (used[a] || atoms[a].indices.size() != size) continue;
      used[a] = 1;
      found.push_back(negative ? atoms[a].poly.scale(Int(-1)) : atoms[a].poly);
      negative = false;
      remaining -= static_cast<std::size_t>(atoms[a].poly.degree());
    }
  std::vector<std::size_t> rest;
  for (std::size_t a = 0; a < atoms.size(); ++a)
    if (!used[a]) rest.push_back(a);
  if (rest.size() > 1) return std::nullopt;
  if (rest.size() == 1) found.push_back(negative ? atoms[rest[0]].poly.scale(Int(-1)) : atoms[rest[0]].poly);
  return found;
}

// =============================================================================================
// Irreducible factors by lattice reduction, and their order in the plain search

// Runs its body with the draws of equal-degree splitting taken from a private state, so that a
// splitting whose order does not matter leaves the thread's draws as they were.
class PrivateDraws {
 public:
  PrivateDraws() : saved_(xorshift_state) { xorshift_state = 0x9E3779B97F4A7C15ull; }
  ~PrivateDraws() { xorshift_state = saved_; }
  PrivateDraws(const PrivateDraws&) = delete;
  PrivateDraws& operator=(const PrivateDraws&) = delete;

 private:
  u64 saved_;
};

// lc(F)·Π lifts[i] over the block, modulo P in the symmetric range, made primitive.
ZPoly block_candidate(const ZPoly& F, const std::vector<ZPoly>& lifts, const std::vector<std::size_t>& block,
                      const Mpz& P) {
  ZPoly h{Mpz(1ul)};
  for (std::size_t k : block) h = reduced(mul(h, lifts[k]), P);
  scale(h, F.back());
  reduce(h, P);
  Mpz half;
  mpz_fdiv_q_2exp(half.get(), P.get(), 1);
  Mpz content;
  for (auto& x : h) {
    if (mpz_cmp(x.get(), half.get()) > 0) mpz_sub(x.get(), x.get(), P.get());
    mpz_gcd(content.get(), content.get(), x.get());
  }
  trim(h);
  if (!h.empty()) divide_exact(h, content);
  return h;
}

// The irreducible factors of F (squarefree, primitive, of degree 2 or more, its leading coefficient
// prime to q), in no particular order, from F's monic factors modulo the prime q by `lattice_atoms`
// alone, lifting no further than the lattice asks: every block but the one of largest degree is
// proven by trial division, its candidate taken at the precision at hand and, should that fail, at
// the bound of lift_exponent, where every factor of degree up to deg F / 2 is found. None when the
// lattice gives up.
std::optional<std::vector<ZPoly>> lattice_factors(const ZPoly& F, std::vector<ZPoly> base, u64 q) {
  if (base.size() == 1) return std::vector<ZPoly>{F};
  std::vector<std::size_t> degrees;
  for (const auto& f : base) degrees.push_back(f.size() - 1);
  LiftCache lifts(F, std::move(base), q);
  lifts.seed(0, {}, true);
  const Mpz qz(static_cast<unsigned long>(q));
  const std::uint32_t bound = lift_exponent(F, qz);
  std::vector<ZPoly> found;
  std::vector<std::vector<std::size_t>> tried;
  auto accept = [&](const std::vector<std::vector<std::size_t>>& blocks) {
    std::size_t largest = 0, best = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      std::size_t d = 0;
      for (std::size_t k : blocks[b]) d += degrees[k];
      if (d > best) best = d, largest = b;
    }
    if (blocks == tried) return false;
    tried = blocks;
    for (;;) {
      const std::vector<ZPoly>* all = lifts.at_least(lifts.exponent());
      if (!all) return false;
      const Mpz P = power(qz, lifts.exponent());
      std::vector<ZPoly> factors;
      ZPoly rest = F;
      bool ok = true;
      for (std::size_t b = 0; b < blocks.size() && ok; ++b) {
        if (b == largest) continue;
        ZPoly h = block_candidate(F, *all, blocks[b], P);
        ZPoly quotient;
        ok = degree(h) >= 1 && may_divide(rest, h) && divides_exactly(rest, h, &quotient);
        if (ok) {
          factors.push_back(std::move(h));
          rest = std::move(quotient);
        }
      }
      if (ok) {
        factors.push_back(std::move(rest));
        found = std::move(factors);
        return true;
      }
      if (lifts.exponent() >= bound || !lifts.at_least(bound)) return false;
    }
  };
  std::vector<std::size_t> all(degrees.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  auto blocks = lattice_atoms(F, all, lifts, accept);
  if (!blocks) return std::nullopt;
  if (blocks->size() == 1) return std::vector<ZPoly>{F};
  return found;
}

// The factors of F in the order, sign and normalisation in which combine_factors finds them from the
// monic factors modulo p lifted to P = p^k (k from lift_exponent), given F's irreducible factors: the
// modular factors of each irreducible factor form one atom, and the plain search meets the atoms by
// size, within a size in decreasing lexicographic order of their indices. A union of atoms never
// passes the test of the search, since every atom of degree up to deg F / 2 passes it before; an
// atom passes it exactly when the candidate lc(g)/lc(h)·h, with g what is left of F, lies in the
// symmetric range modulo P. None when the factors do not map onto the modular ones.
std::optional<std::vector<ZPoly>> in_search_order(const ZPoly& F, const std::vector<ZPoly>& irreducible, const Zp& Fp,
                                                  const std::vector<WordPoly>& factors, const Mpz& P) {
  struct Atom {
    std::vector<std::size_t> indices;
    const ZPoly* poly;
  };
  std::vector<Atom> atoms;
  std::vector<char> taken(factors.size(), 0);
  for (const ZPoly& h : irreducible) {
    WordPoly hp;
    for (const auto& x : h) hp.push_back(mpz_fdiv_ui(x.get(), Fp.p));
    gy::trim(hp);
    Atom atom{{}, &h};
    std::size_t deg = 0;
    for (std::size_t i = 0; i < factors.size(); ++i) {
      if (taken[i] || gy::degree(factors[i]) > gy::degree(hp) - static_cast<i64>(deg)) continue;
      if (!rem(Fp, hp, factors[i]).empty()) continue;
      taken[i] = 1;
      atom.indices.push_back(i);
      deg += static_cast<std::size_t>(gy::degree(factors[i]));
    }
    if (static_cast<i64>(deg) != gy::degree(hp) || degree(h) != gy::degree(hp)) return std::nullopt;
    atoms.push_back(std::move(atom));
  }
  for (char t : taken)
    if (!t) return std::nullopt;
  std::sort(atoms.begin(), atoms.end(), [](const Atom& a, const Atom& b) { return a.indices > b.indices; });
  std::vector<char> used(atoms.size(), 0);
  std::vector<ZPoly> found;
  ZPoly g = F;
  Mpz ratio, twice;
  for (std::size_t s = 1; 2 * static_cast<i64>(s) <= degree(g); ++s)
    for (std::size_t a = 0; a < atoms.size(); ++a) {
      if (used[a] || atoms[a].indices.size() != s) continue;
      const ZPoly& h = *atoms[a].poly;
      if (!mpz_divisible_p(g.back().get(), h.back().get())) return std::nullopt;
      mpz_divexact(ratio.get(), g.back().get(), h.back().get());
      ZPoly candidate = h;
      scale(candidate, ratio);
      bool fits = true;
      for (const auto& x : candidate) {
        mpz_mul_2exp(twice.get(), x.get(), 1);
        mpz_abs(twice.get(), twice.get());
        fits = fits && mpz_cmp(twice.get(), P.get()) < 0;
      }
      if (!fits) continue;
      Mpz content;
      for (const auto& x : candidate) mpz_gcd(content.get(), content.get(), x.get());
      divide_exact(candidate, content);
      ZPoly rest;
      if (!exact_quotient(g, candidate, &rest)) return std::nullopt;
      found.push_back(std::move(candidate));
      g = std::move(rest);
      used[a] = 1;
    }
  if (degree(g) >= 1) found.push_back(std::move(g));
  return found;
}

// =============================================================================================
// Primes

// Below this many modular factors no further prime is asked for the degrees of the factors.
constexpr std::size_t kFewFactors = 17;
// Up to this many modular factors the lattice is tried before the subset search, when there are
// at least kLatticeFirstAlways of them or lifting to the search's bound would take at least
// kLatticeFirstBits bits over all coefficients.
constexpr std::size_t kLatticeFirst = 16;
constexpr double kLatticeFirstBits = 1 << 17;
// From this many modular factors the lattice goes first whatever the lifting takes.
constexpr std::size_t kLatticeFirstAlways = 10;

// Candidates 2, 3, 4, … each tried against the primes found before it; 2 is recorded but skipped.
class PrimeSearch {
 public:
  u64 next() {
    for (;;) {
      const u64 c = candidate_++;
      bool prime = true;
      for (u64 q : primes_) {
        if (q * q > c) break;
        if (c % q == 0) {
          prime = false;
          break;
        }
      }
      if (!prime) continue;
      primes_.push_back(c);
      if (c != 2) return c;
    }
  }

 private:
  u64 candidate_ = 2;
  std::vector<u64> primes_;
};

// The prime c does not divide lc(F) and F modulo c is squarefree.
Result<bool> usable_prime(const IntPoly& F, u64 c) {
  if (mod_word(F.lead(), c) == 0) return false;
  if (c < kWordPrimeLimit) {
    const Zp Fc(c);
    return is_squarefree(Fc, to_word_poly(F, Fc));
  }
  const Int m(c);
  std::vector<Modular> fc, dc;
  for (std::size_t i = 0; i < F.coeffs.size(); ++i) {
    fc.emplace_back(reduce_mod(F.coeffs[i], m), m);
    if (i > 0) dc.emplace_back(reduce_mod(Int(static_cast<u64>(i)) * F.coeffs[i], m), m);
  }
  ModPoly f(m, std::move(fc)), d(m, std::move(dc));
  if (d.is_zero()) return f.degree() == 0;
  return GY_TRY(gcd_mod(f, d)).degree() == 0;
}

Result<u64> next_usable_prime(PrimeSearch& search, const IntPoly& F) {
  for (;;) {
    u64 c = search.next();
    if (GY_TRY(usable_prime(F, c))) return c;
  }
}

// P = p^k for an odd prime p below 2^32: the primes below 2^16 by trial division, larger ones from
// a floating-point estimate of P^(1/k), confirmed exactly.
std::optional<std::pair<u64, std::uint32_t>> prime_power(const Mpz& P) {
  auto power_of = [&](u64 q) -> std::optional<std::pair<u64, std::uint32_t>> {
    Mpz rest;
    const Mpz Q(static_cast<unsigned long>(q));
    const mp_bitcnt_t k = mpz_remove(rest.get(), P.get(), Q.get());
    if (mpz_cmp_ui(rest.get(), 1) != 0 || k == 0 || k > UINT32_MAX) return std::nullopt;
    return std::pair{q, static_cast<std::uint32_t>(k)};
  };
  if (mpz_cmp_ui(P.get(), 3) < 0 || mpz_even_p(P.get())) return std::nullopt;
  for (u64 q = 3; q < (1u << 16); q += 2)
    if (mpz_divisible_ui_p(P.get(), q)) return is_word_prime(q) ? power_of(q) : std::nullopt;
  long exp2 = 0;
  const double mantissa = mpz_get_d_2exp(&exp2, P.get());
  const double bits = static_cast<double>(exp2) + std::log2(mantissa);
  for (double k = std::max(1.0, std::floor(bits / 32)); k <= bits / 16 + 1; ++k) {
    const double x = std::exp2(bits / k);
    const double c = std::round(x);
    if (c < (1u << 16) || c >= 4294967296.0 || std::fabs(x - c) > 1e-6 * c) continue;
    const u64 q = static_cast<u64>(c);
    if (is_word_prime(q) && mpz_divisible_ui_p(P.get(), q)) return power_of(q);
  }
  return std::nullopt;
}

Status same_modulus(const ModPoly& f, const Int& m) {
  if (!(f.modulus == m)) return fail(Modular::different_moduli());
  for (const auto& c : f.coeffs)
    if (!(c.modulus == m)) return fail(Modular::different_moduli());
  return {};
}

// Equal-degree splitting through the residue polynomials themselves, for any modulus.
Status split_residues(const ModPoly& f, std::uint64_t d, const Int& p, const Int& e, std::vector<ModPoly>& out) {
  if (f.degree() == static_cast<i64>(d)) {
    out.push_back(f);
    return {};
  }
  for (int attempt = 0; attempt < 1000; ++attempt) {
    poll_interrupt();
    std::vector<Modular> c;
    for (u64 i = 0; i + 1 < 2 * d; ++i) c.emplace_back(random_residue(p), p);
    c.emplace_back(Int(1), p);
    ModPoly a(p, std::move(c));
    ModPoly b = GY_TRY(ModPoly::sub(GY_TRY(powmod(p, a, e, f)), ModPoly::one_mod(p)));
    ModPoly g = GY_TRY(GY_TRY(gcd_mod(f, b)).monic());
    if (g.degree() > 0 && g.degree() < f.degree()) {
      GY_CHECK(split_residues(g, d, p, e, out));
      auto qr = GY_TRY(ModPoly::div_rem(f, g));
      return split_residues(qr.first, d, p, e, out);
    }
  }
  return fail(Error::other("This (probably) shouldn't happen"));
}

Error too_large(std::string_view what, std::uint64_t value, std::uint64_t limit) {
  return Error::range(cat("polynomial ", what, " ", value, " exceeds the factoring limit of ", limit));
}

Status check_bits(const Int& x) {
  if (x.bit_length() > kFactorMaxBits) return fail(too_large("coefficient bits", x.bit_length(), kFactorMaxBits));
  return {};
}

// f divided by the monic gcd of f and f′.
Result<FracPoly> squarefree_part(const FracPoly& f) {
  FracPoly g = GY_TRY(FracPoly::gcd(to_fractions(primitive_integer(f)), to_fractions(primitive_integer(f.derivative()))));
  g = GY_TRY(g.monic());
  if (g.degree() == 0) return f;
  return FracPoly::div_exact(f, g);
}

// True when F is irreducible by Eisenstein's criterion at a prime found by trial division below
// 2^16 in the gcd of its coefficients but the leading one, or at that gcd's cofactor when it is
// proven prime.
bool eisenstein(const ZPoly& F) {
  if (degree(F) < 2) return false;
  Mpz g;
  for (std::size_t i = 0; i + 1 < F.size(); ++i) mpz_gcd(g.get(), g.get(), F[i].get());
  if (mpz_cmp_ui(g.get(), 1) <= 0) return false;
  Mpz square;
  auto works = [&](const Mpz& l) {
    if (mpz_divisible_p(F.back().get(), l.get())) return false;
    mpz_mul(square.get(), l.get(), l.get());
    return !mpz_divisible_p(F[0].get(), square.get());
  };
  for (unsigned long l = 2; l < (1ul << 16) && mpz_cmp_ui(g.get(), 1) > 0; l += l == 2 ? 1 : 2) {
    if (!mpz_divisible_ui_p(g.get(), l)) continue;
    if (works(Mpz(l))) return true;
    while (mpz_divisible_ui_p(g.get(), l)) mpz_divexact_ui(g.get(), g.get(), l);
  }
  return mpz_cmp_ui(g.get(), 1) > 0 && mpz_probab_prime_p(g.get(), 30) == 2 && works(g);
}

// Polynomials with at most this many terms count as sparse.
constexpr std::uint64_t kSparseTerms = 16;

// True when F = c·x^m − a (m >= 2, a != 0) is irreducible by Capelli's theorem: x^m − a·c^(m−1),
// which has the roots c·x of F, is irreducible exactly when a·c^(m−1) is no ℓ-th power of a rational
// for a prime ℓ dividing m, nor −4 times a fourth power when 4 divides m.
bool irreducible_binomial(const ZPoly& F) {
  const std::size_t m = F.size() - 1;
  if (m < 2 || F[0].sign() == 0) return false;
  for (std::size_t i = 1; i < m; ++i)
    if (F[i].sign() != 0) return false;
  if (m * (bit_length(F.back()) + 1) > (1u << 20)) return false;
  // x^m − A with A = a·c^(m−1), a = −F[0] and c = F[m].
  Mpz A, t;
  mpz_pow_ui(A.get(), F.back().get(), m - 1);
  mpz_mul(A.get(), A.get(), F[0].get());
  mpz_neg(A.get(), A.get());
  auto power = [&](const Mpz& x, unsigned long l) {
    // x is an l-th power of an integer (for odd l, of a negative one too).
    if (x.sign() < 0 && l % 2 == 0) return false;
    mpz_abs(t.get(), x.get());
    return mpz_root(t.get(), t.get(), l) != 0;
  };
  std::size_t rest = m;
  for (std::size_t l = 2; l <= rest; ++l) {
    if (rest % l != 0) continue;
    while (rest % l == 0) rest /= l;
    if (power(A, static_cast<unsigned long>(l))) return false;
  }
  if (m % 4 == 0 && A.sign() < 0 && mpz_divisible_ui_p(A.get(), 4)) {
    Mpz q;
    mpz_divexact_ui(q.get(), A.get(), 4);
    mpz_neg(q.get(), q.get());
    if (power(q, 4)) return false;
  }
  return true;
}

// The greatest d with F a polynomial in x^d (0 for a constant), where splitting through x^d is
// worth its cost: d of 3 or more, or F sparse; otherwise 1. (Dense in x², F rarely splits more
// cheaply through its half than whole.)
std::uint64_t exponent_gcd(const ZPoly& F) {
  std::uint64_t d = 0, terms = 0;
  for (std::size_t i = 1; i < F.size(); ++i)
    if (F[i].sign() != 0) d = std::gcd(d, static_cast<std::uint64_t>(i)), ++terms;
  return d == 2 && terms > kSparseTerms ? 1 : d;
}

ZPoly substitute_power(const ZPoly& F, std::uint64_t d, bool inflate) {
  ZPoly r;
  if (inflate) {
    r.resize((F.size() - 1) * d + 1);
    for (std::size_t i = 0; i < F.size(); ++i) r[i * d] = F[i];
  } else {
    for (std::size_t i = 0; i < F.size(); i += d) r.push_back(F[i]);
  }
  return r;
}

Result<std::vector<ZPoly>> irreducible_pieces(const ZPoly& F, bool deflate);

// The search for the factors of F (squarefree, primitive, not constant) from its factors modulo p,
// with the degrees of p's parts and the prime search that found p: more primes for the degrees of
// the factors and a prime with fewer factors, the lattice first for few modular factors and the
// subset search otherwise. *ordered tells whether the factors come in the order of the search at p.
Result<std::vector<ZPoly>> search_factors(const ZPoly& Fz, u64 p, const std::vector<WordPoly>& factors,
                                          const std::vector<DegreePart>& parts, PrimeSearch& primes, bool* ordered) {
  // Factor degrees possible modulo several primes; none between 1 and n − 1 proves F irreducible.
  // With few modular factors the search is cheap whatever the degrees, and more primes would only
  // add their distinct-degree steps; otherwise primes stop once two in a row have not narrowed the
  // set. A prime with at most half as many factors as p serves the search in p's place.
  const std::size_t n = static_cast<std::size_t>(degree(Fz));
  const IntPoly F = to_int_poly(Fz);
  DegreeSet degrees = degrees_of(parts, n);
  u64 q = p;
  std::size_t fewest = factors.size();
  std::vector<DegreePart> q_parts;
  const int extra = factors.size() < kFewFactors ? 0 : n <= 256 ? 6 : 2;
  for (int i = 0, idle = 0; i < extra && idle < 2 && !degrees.only_trivial(); ++i) {
    const u64 c = GY_TRY(next_usable_prime(primes, F));
    if (c >= kWordPrimeLimit) break;
    const Zp Fc(c);
    std::vector<DegreePart> c_parts = distinct_degree(Fc, monic(Fc, to_word_poly(F, Fc)));
    idle = degrees.intersect(degrees_of(c_parts, n)) ? 0 : idle + 1;
    std::size_t count = 0;
    for (const auto& part : c_parts) count += static_cast<std::size_t>(gy::degree(part.poly)) / part.degree;
    if (2 * count <= factors.size() && count < fewest) {
      fewest = count;
      q = c;
      q_parts = std::move(c_parts);
    }
  }
  *ordered = false;
  if (degrees.only_trivial()) return std::vector<ZPoly>{Fz};

  // The search runs at q, in its own order when q is not p.
  std::vector<ZPoly> base;
  if (q == p) {
    for (const auto& w : factors) base.push_back(to_z(w));
  } else {
    const Zp Fq(q);
    std::vector<WordPoly> split;
    PrivateDraws draws;
    for (const auto& part : q_parts)
      GY_CHECK(equal_degree(Fq, part.poly, part.degree, half_power_less_one(q, part.degree), split));
    for (const auto& w : split) base.push_back(to_z(w));
  }
  if (base.size() == 1) return std::vector<ZPoly>{Fz};
  // Few modular factors go to the lattice at once, which proves irreducibility with far less lifting
  // than the search; many go to the search, which finds small subsets cheaply and turns to the
  // lattice for what remains.
  const Mpz qz(static_cast<unsigned long>(q));
  const std::uint32_t k = lift_exponent(Fz, qz);
  const bool lattice_first =
      base.size() <= kLatticeFirst &&
      (base.size() >= kLatticeFirstAlways ||
       static_cast<double>(k) * std::log2(static_cast<double>(q)) * static_cast<double>(n) >= kLatticeFirstBits);
  if (auto direct = lattice_first ? lattice_factors(Fz, base, q) : std::nullopt) return std::move(*direct);
  const Mpz P = power(qz, k);
  std::vector<ZPoly> lifted;
  GY_CHECK(lift_tree(Fz, base, qz, k, P, lifted));
  LiftCache cache(Fz, std::move(base), q);
  cache.seed(k, lifted, true);
  RecombineHints hints{std::move(degrees), &cache};
  *ordered = q == p;
  return Recombination(Fz, std::move(lifted), P, std::move(hints)).run();
}

// The irreducible factors of F = G(x^d) (squarefree, primitive, G(y) not a polynomial in a power of
// y): those of G, each then substituted y = x^ℓ and split again, one prime factor ℓ of d at a time.
// A factor h of G(y^e) irreducible in y stays a product of factors of h(x^ℓ), so every factor of F
// is met on the way, the last step splitting in x. When nothing has split before that last step,
// which would then split F itself, *whole is set and nothing is returned.
Result<std::vector<ZPoly>> deflated_factors(const ZPoly& F, std::uint64_t d, bool* whole) {
  *whole = false;
  std::vector<ZPoly> pieces = GY_TRY(irreducible_pieces(substitute_power(F, d, false), true));
  for (std::uint64_t rest = d, l = 2; rest > 1;) {
    if (rest % l != 0) {
      ++l;
      continue;
    }
    rest /= l;
    if (rest == 1 && pieces.size() == 1) {
      *whole = true;
      return std::vector<ZPoly>{};
    }
    std::vector<ZPoly> next;
    for (const ZPoly& h : pieces)
      for (ZPoly& g : GY_TRY(irreducible_pieces(substitute_power(h, l, true), false))) next.push_back(std::move(g));
    pieces = std::move(next);
  }
  return pieces;
}

// The irreducible factors of F (squarefree, primitive, not constant), in no particular order: by
// Eisenstein's criterion or Capelli's theorem, through x^d when F is a polynomial in a power of x and `deflate` allows,
// and otherwise by the search at the first prime that keeps F squarefree, its equal-degree draws
// taken apart from the thread's.
Result<std::vector<ZPoly>> irreducible_pieces(const ZPoly& F, bool deflate) {
  poll_interrupt();
  if (degree(F) <= 1 || eisenstein(F) || irreducible_binomial(F)) return std::vector<ZPoly>{F};
  if (const std::uint64_t d = exponent_gcd(F); deflate && d > 1) {
    bool whole = false;
    std::vector<ZPoly> found = GY_TRY(deflated_factors(F, d, &whole));
    if (!whole) return found;
  }
  const IntPoly Fi = to_int_poly(F);
  PrimeSearch primes;
  const u64 p = GY_TRY(next_usable_prime(primes, Fi));
  if (p >= kWordPrimeLimit) return fail(Error::other("no prime below 2^32 keeps the polynomial squarefree"));
  const Zp Fp(p);
  std::vector<DegreePart> parts;
  std::vector<WordPoly> factors;
  {
    PrivateDraws draws;
    factors = GY_TRY(factor_word(Fp, monic(Fp, to_word_poly(Fi, Fp)), &parts));
  }
  if (factors.size() == 1) return std::vector<ZPoly>{F};
  bool ordered = false;
  return search_factors(F, p, factors, parts, primes, &ordered);
}

}  // namespace

// =============================================================================================
// Entry points

Result<Int> choose_prime(const IntPoly& F) {
  if (F.is_zero()) return fail(Error::other("choose_prime of zero polynomial"));
  PrimeSearch search;
  return Int(GY_TRY(next_usable_prime(search, F)));
}

Result<std::vector<ModPoly>> factor_mod_p(const ModPoly& f, std::uint64_t d, const Int& p) {
  if (p == Int(2)) return fail(Error::range("p=2 not implemented"));
  if (f.degree() >= 0 && static_cast<u64>(f.degree()) == d) return std::vector<ModPoly>{f};
  if (p.sign() <= 0) return fail(Error::division("Division by zero"));
  GY_CHECK(same_modulus(f, p));
  if (f.is_zero()) return fail(Error::division("Division by zero"));
  if (d == 0 || d > static_cast<u64>(f.degree()))
    return fail(Error::range(cat("no factors of degree ", d, " in a polynomial of degree ", f.degree())));
  if (d * p.bit_length() > Int::kMaxBits) return fail(Error::exponent_too_large());
  const Int e = (Int::pow(p, static_cast<std::uint32_t>(d)) - Int(1)) / Int(2);
  std::vector<ModPoly> out;
  const auto pw = p.to_i64();
  if (pw && static_cast<u64>(*pw) < kWordPrimeLimit && is_word_prime(static_cast<u64>(*pw))) {
    const Zp F(static_cast<u64>(*pw));
    WordPoly w;
    for (const auto& c : f.coeffs) w.push_back(mod_word(c.value, F.p));
    trim(w);
    if (w.empty()) return fail(Error::division("Division by zero"));
    const u64 lc = w.back();
    std::vector<WordPoly> parts;
    GY_CHECK(equal_degree(F, monic(F, std::move(w)), d, e, parts));
    for (auto& x : parts.back()) x = F.mul(x, lc);
    for (const auto& part : parts) out.push_back(to_mod_poly(to_z(part), p));
    return out;
  }
  GY_CHECK(split_residues(f, d, p, e, out));
  return out;
}

Result<std::vector<ModPoly>> hensel_lift(const IntPoly& F, const std::vector<ModPoly>& factors, const Int& p,
                                         const Int& k) {
  const auto kv = k.to_i64();
  if (!kv || *kv < 0 || *kv > static_cast<i64>(UINT32_MAX)) return fail(Error::exponent_too_large());
  if (p.sign() <= 0) return fail(Error::division("Division by zero"));
  if (factors.empty()) return std::vector<ModPoly>{};
  if (static_cast<u64>(*kv) * p.bit_length() > Int::kMaxBits) return fail(Error::exponent_too_large());
  for (const auto& f : factors) GY_CHECK(same_modulus(f, p));
  if (factors.size() >= 2 && F.is_zero()) return fail(Error::other("hensel_lift of zero polynomial"));
  // Everything is zero modulo p^0 or 1^k.
  if (*kv == 0 || p.is_one()) return fail(Error::range("monic() of zero polynomial"));
  const Mpz pz(p);
  const Mpz pk = power(pz, static_cast<unsigned long>(*kv));
  // Monic factors lift to the same monic factors as any multiples of them; their product times
  // lc(F) must be F modulo p.
  std::vector<ZPoly> base;
  ZPoly product{Mpz(1ul)};
  for (const auto& f : factors) {
    base.push_back(GY_TRY(monic_mod(to_z(f, pz), pz)));
    product = reduced(mul(product, base.back()), pz);
  }
  const ZPoly Fz = to_z(F);
  scale(product, Fz.back());
  reduce(product, pz);
  const ZPoly Fp = reduced(Fz, pz);
  bool same = product.size() == Fp.size();
  for (std::size_t i = 0; same && i < Fp.size(); ++i) same = mpz_cmp(product[i].get(), Fp[i].get()) == 0;
  if (!same) return fail(Error::range("the factors do not multiply to the polynomial modulo the prime"));
  std::vector<ZPoly> out;
  GY_CHECK(lift_tree(Fz, base, pz, static_cast<std::uint32_t>(*kv), pk, out));
  const Int m = pk.to_int();
  std::vector<ModPoly> result;
  for (const auto& x : out) result.push_back(to_mod_poly(x, m));
  return result;
}

Result<std::vector<IntPoly>> combine_factors(const IntPoly& F, const std::vector<ModPoly>& lifted, const Int& P) {
  if (P.sign() <= 0) return fail(Error::division("Division by zero"));
  if (F.degree() >= 2)
    for (const auto& f : lifted) GY_CHECK(same_modulus(f, P));
  const ZPoly Fz = to_z(F);
  const Mpz Pz(P);
  std::vector<ZPoly> lz;
  for (const auto& f : lifted) lz.push_back(to_z(f, Pz));
  RecombineHints hints;
  std::optional<LiftCache> cache;
  bool monic = !lz.empty();
  for (const auto& f : lz) monic = monic && f.size() >= 2 && mpz_cmp_ui(f.back().get(), 1) == 0;
  if (monic && F.degree() >= 2)
    if (auto pp = prime_power(Pz)) {
      const Mpz pz(static_cast<unsigned long>(pp->first));
      std::vector<ZPoly> base;
      for (const auto& f : lz) base.push_back(reduced(f, pz));
      cache.emplace(Fz, std::move(base), pp->first);
      cache->seed(pp->second, lz, false);
      hints.lifts = &*cache;
    }
  std::vector<ZPoly> found = GY_TRY(Recombination(Fz, std::move(lz), Pz, std::move(hints)).run());
  std::vector<IntPoly> result;
  for (const auto& h : found) result.push_back(to_int_poly(h));
  return result;
}

Result<std::vector<FracPoly>> factor(const FracPoly& f) {
  if (f.is_zero()) return fail(Error::range("monic() of zero polynomial"));
  if (f.degree() > kFactorMaxDegree)
    return fail(too_large("degree", static_cast<u64>(f.degree()), static_cast<u64>(kFactorMaxDegree)));
  for (const auto& c : f.coeffs) {
    GY_CHECK(check_bits(c.num()));
    GY_CHECK(check_bits(c.den()));
  }
  if (f.degree() == 0) return std::vector<FracPoly>{};
  // A prime modulo which f stays squarefree shows f to be its own squarefree part, and the first
  // such prime is the one choose_prime takes; only when none turns up among the first candidates
  // is the squarefree part computed over the rationals.
  // Once three candidates have failed, the squarefree part is found by a modular gcd instead: when
  // f has no repeated factor the search goes on as before.
  IntPoly F = primitive_integer(f);
  for (const auto& c : F.coeffs) GY_CHECK(check_bits(c));
  PrimeSearch primes;
  std::optional<u64> first;
  bool repeated = false;
  for (int tries = 0; tries < 100 && !first && !repeated; ++tries) {
    const u64 c = primes.next();
    if (GY_TRY(usable_prime(F, c))) first = c;
    if (!first && tries == 2 && F.degree() >= 2) {
      const ZPoly A = to_z(F);
      ZPoly D;
      for (std::size_t i = 1; i < A.size(); ++i) {
        D.emplace_back();
        mpz_mul_ui(D.back().get(), A[i].get(), static_cast<unsigned long>(i));
      }
      const ZPoly G = integer_gcd(A, D);
      if (G.size() > 1) {
        ZPoly quotient;
        if (!divides_exactly(A, G, &quotient)) return fail(Error::other("the squarefree part does not divide"));
        F = to_int_poly(quotient);
        repeated = true;
      }
    }
  }
  if (!first) {
    if (!repeated) F = primitive_integer(GY_TRY(squarefree_part(f)));
    for (const auto& c : F.coeffs) GY_CHECK(check_bits(c));
    primes = PrimeSearch();
  }
  const std::size_t n = static_cast<std::size_t>(F.degree());
  if (n == 1) return std::vector<FracPoly>{to_fractions(F)};
  const u64 p = first ? *first : GY_TRY(next_usable_prime(primes, F));
  if (p >= kWordPrimeLimit) return fail(Error::other("no prime below 2^32 keeps the polynomial squarefree"));
  const Zp Fp(p);
  const ZPoly Fz = to_z(F);
  std::vector<DegreePart> parts = distinct_degree(Fp, monic(Fp, to_word_poly(F, Fp)));
  // A polynomial in x^d (but for products of cyclotomic polynomials, split from their modular
  // factors) is split through x^d before the equal-degree splitting at p: its factors divide each
  // part into pieces, and a part whose pieces are irreducible is split by simulation instead. When
  // only the last substitution could split it, F goes to the search itself.
  const std::uint64_t d = exponent_gcd(Fz);
  std::optional<std::vector<ZPoly>> early;
  bool whole = false;
  if (d > 1 && !(F.lead().abs().is_one() && F.coeffs[0].abs().is_one()) && !eisenstein(Fz) &&
      !irreducible_binomial(Fz)) {
    std::vector<ZPoly> split = GY_TRY(deflated_factors(Fz, d, &whole));
    if (!whole) early = std::move(split);
  }
  std::vector<WordPoly> factors;
  for (const auto& part : parts) {
    std::vector<WordPoly> pieces;
    if (early && early->size() > 1)
      for (const ZPoly& h : *early) {
        WordPoly hp;
        for (const auto& x : h) hp.push_back(mpz_fdiv_ui(x.get(), p));
        gy::trim(hp);
        WordPoly g = gcd(Fp, part.poly, std::move(hp));
        if (degree(g) > 0) pieces.push_back(std::move(g));
      }
    const bool known = !pieces.empty() && std::all_of(pieces.begin(), pieces.end(), [&](const WordPoly& g) {
      return static_cast<u64>(degree(g)) == part.degree;
    });
    if (known)
      GY_CHECK(simulate_equal_degree(Fp, std::move(pieces), part.degree, factors));
    else
      GY_CHECK(equal_degree(Fp, part.poly, part.degree, half_power_less_one(p, part.degree), factors));
  }
  if (factors.size() == 1) return std::vector<FracPoly>{to_fractions(F)};
  if (auto found = cyclotomic_factors(F, Fp, factors)) {
    std::vector<FracPoly> result;
    for (const auto& h : *found) result.push_back(to_fractions(h));
    return result;
  }

  // Eisenstein's criterion and, for a binomial, Capelli's theorem can prove F irreducible; a
  // polynomial in x^d is split through its factors in y = x^d.
  if (eisenstein(Fz) || irreducible_binomial(Fz)) return std::vector<FracPoly>{to_fractions(F)};
  std::vector<ZPoly> found;
  bool ordered_at_p = false;
  if (early) {
    found = std::move(*early);
  } else if (d > 1 && !whole) {
    found = GY_TRY(deflated_factors(Fz, d, &whole));
  }
  if (!early && (d <= 1 || whole)) {
    found = GY_TRY(search_factors(Fz, p, factors, parts, primes, &ordered_at_p));
  }
  if (found.size() == 1) return std::vector<FracPoly>{to_fractions(F)};
  if (!ordered_at_p) {
    const Mpz pz(static_cast<unsigned long>(p));
    auto ordered = in_search_order(Fz, found, Fp, factors, power(pz, lift_exponent(Fz, pz)));
    if (!ordered) return fail(Error::other("the factors found do not match the factors modulo the prime"));
    found = std::move(*ordered);
  }
  std::vector<FracPoly> result;
  for (const auto& h : found) result.push_back(to_fractions(to_int_poly(h)));
  return result;
}

}  // namespace gy
