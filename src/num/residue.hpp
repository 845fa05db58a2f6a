// Residues modulo a prime below 2^32 held in machine words, and dense polynomials over them.
//
// A product of two residues fits one word; reductions are Barrett's (one multiplication by a
// precomputed reciprocal, no division), and sums of products are kept unreduced in a word, or in two
// once a word could overflow, and reduced once per coefficient. Large products go through Kronecker
// substitution: both operands packed into one integer each, one GMP product, the coefficients read
// back from their bit slots. Reduction modulo a fixed polynomial f uses a precomputed inverse of f's
// reversal, so that it costs two products instead of a long division.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "num/int.hpp"
#include "num/polynomial.hpp"

namespace gy {

// Moduli of the word arithmetic are below this bound.
inline constexpr std::uint64_t kWordPrimeLimit = std::uint64_t{1} << 32;

// Arithmetic modulo p, 2 <= p < 2^32; inverses need p prime.
class Zp {
 public:
  using u64 = std::uint64_t;
  using u128 = unsigned __int128;

  explicit Zp(u64 p);

  u64 p;

  u64 reduce(u64 x) const {
    const u64 q = static_cast<u64>((static_cast<u128>(x) * reciprocal_) >> 64);
    const u64 r = x - q * p;
    return r >= p ? r - p : r;
  }
  u64 reduce(u128 x) const {
    const u64 hi = static_cast<u64>(x >> 64);
    if (hi == 0) return reduce(static_cast<u64>(x));
    return add(reduce(reduce(hi) * two64_), reduce(static_cast<u64>(x)));
  }
  u64 mul(u64 a, u64 b) const { return reduce(a * b); }
  u64 add(u64 a, u64 b) const {
    const u64 s = a + b;
    return s >= p ? s - p : s;
  }
  u64 sub(u64 a, u64 b) const { return a >= b ? a - b : a + (p - b); }
  u64 neg(u64 a) const { return a == 0 ? 0 : p - a; }
  u64 inv(u64 a) const;
  u64 pow(u64 a, u64 e) const;

  // How many products of two residues a word holds without overflow (at least one).
  u64 lazy_terms() const { return lazy_; }

 private:
  u64 reciprocal_;  // floor((2^64 − 1) / p)
  u64 two64_;       // 2^64 mod p
  u64 lazy_;
};

// A polynomial over the residues modulo some p: lowest degree first, top entry non-zero, the zero
// polynomial empty.
using WordPoly = std::vector<std::uint64_t>;

void trim(WordPoly& a);
inline std::int64_t degree(const WordPoly& a) { return static_cast<std::int64_t>(a.size()) - 1; }

// x mod m in [0, m), m >= 1.
std::uint64_t mod_word(const Int& x, std::uint64_t m);
WordPoly to_word_poly(const IntPoly& f, const Zp& F);

// x mod m_i for many integers x and one set of moduli m_i < 2^32. A long x goes down a remainder
// tree over products of the moduli, so that each division is one long GMP division instead of one
// pass over x per modulus; a short x is reduced modulo each modulus in turn. Read-only once built,
// so threads may share it.
class ModuliTree {
 public:
  // With `combine`, the moduli must be distinct primes, and combine() may be called.
  explicit ModuliTree(std::vector<std::uint64_t> moduli, bool combine = false);

  std::size_t size() const { return moduli_.size(); }
  const std::vector<std::uint64_t>& moduli() const { return moduli_; }

  // out[i·stride] = x mod m_i in [0, m_i) for every i < size().
  void reduce(const Int& x, std::uint64_t* out, std::size_t stride = 1) const;
  // f modulo each m_i, as to_word_poly gives it (the m_i need not be prime here); short coefficients
  // limb by limb, in parallel over pairs of moduli, long ones down the tree, in parallel when long.
  std::vector<WordPoly> reduce(const IntPoly& f) const;

  // The product of the moduli.
  mpz_srcptr product() const;
  // The x in [0, product()) with x ≡ r[i] (mod m_i), each r[i] < m_i, by Chinese remaindering up
  // the tree: x = Σ w_i·(M / m_i) with w_i = r_i·(M / m_i)⁻¹ mod m_i, summed pairwise from the
  // leaves as x_L·M_R + x_R·M_L, and reduced once at the top.
  void combine(const std::uint64_t* r, Mpz& x) const;

 private:
  void descend(std::size_t level, std::size_t node, mpz_srcptr x, std::vector<Mpz>& scratch, std::uint64_t* out,
               std::size_t stride) const;
  std::vector<WordPoly> reduce_by_limbs(const IntPoly& f) const;
  void gather(std::size_t level, std::size_t node, const std::uint64_t* r, std::vector<Mpz>& scratch, mpz_ptr out) const;

  std::vector<std::uint64_t> moduli_;
  // levels_[0] holds the products of consecutive groups of leaf moduli, each level above the
  // products of pairs below (an odd last node carried up as it is); the top level has one node.
  std::vector<std::vector<Mpz>> levels_;
  // Per modulus, its arithmetic and 2^(64·j) mod m_i for j = 1, 2, 3: a leaf's remainder, at most
  // four limbs, is reduced from its limbs.
  std::vector<Zp> fields_;
  std::vector<std::array<std::uint64_t, 3>> limb_powers_;
  // For combine(): per modulus, the product of the other moduli of its leaf, and (M / m_i)⁻¹ mod m_i.
  std::vector<Mpz> leaf_cofactor_;
  std::vector<std::uint64_t> inverse_;
};

WordPoly monic(const Zp& F, WordPoly a);
WordPoly mul(const Zp& F, const WordPoly& a, const WordPoly& b);
// a ← a mod b, and the quotient when asked; b is not zero.
void divrem(const Zp& F, WordPoly& a, const WordPoly& b, WordPoly* quotient = nullptr);
WordPoly rem(const Zp& F, WordPoly a, const WordPoly& b);
WordPoly quotient(const Zp& F, WordPoly a, const WordPoly& b);
// The monic gcd; zero when both are zero.
WordPoly gcd(const Zp& F, WordPoly a, WordPoly b);
// a⁻¹ modulo f, when gcd(a, f) = 1; deg f >= 1.
std::optional<WordPoly> inverse_mod(const Zp& F, const WordPoly& a, const WordPoly& f);
// Up to kInverseLanes quotients at once: out[i] = b[i]·a[i]⁻¹ modulo f[i] over F[i], every f[i]
// monic of one degree n, every a[i] of one degree from 1 to n − 1, every b[i] of degree below n,
// every prime between 2^30 and 2^31. The remainder sequences run in lock step, one per vector lane;
// false when their degrees part or a common factor is met (or the machine lacks the vector
// instructions), and then inverse_mod decides each one.
inline constexpr std::size_t kInverseLanes = 8;
bool quotient_mod_lanes(const Zp* F, const WordPoly* b, const WordPoly* a, const WordPoly* f, std::size_t count,
                        WordPoly* out);
WordPoly derivative(const Zp& F, const WordPoly& a);
// No repeated factor: gcd(f, f′) constant, and a zero derivative only for a constant f.
bool is_squarefree(const Zp& F, const WordPoly& f);
// Res(a, b) modulo p for non-zero a and b.
std::uint64_t resultant(const Zp& F, WordPoly a, WordPoly b);
// The polynomials of degree below ys.size() taking values[k][i] at the distinct ys[i] (p < 2^32),
// untrimmed.
std::vector<WordPoly> interpolate(const Zp& F, const std::vector<std::uint64_t>& ys,
                                  const std::vector<std::vector<std::uint64_t>>& values);

// Whether n < 2^32 is prime.
bool is_word_prime(std::uint64_t n);

// The i-th prime below 2^31, counting down from the largest.
std::uint64_t word_prime(std::size_t i);

// a⁻¹ modulo m over the rationals (deg m >= 1): inverses modulo word-size primes, joined by
// Chinese remaindering and read back as fractions by rational reconstruction. Each reconstruction
// that also holds modulo a further prime is offered to `accept`, which confirms it exactly; a
// refused one asks for more primes. None when many primes in a row give no inverse, as when a and
// m share a factor.
std::optional<FracPoly> inverse_mod_rational(const IntPoly& a, const IntPoly& m,
                                             const std::function<bool(const FracPoly&)>& accept);

// The resultant of a and b with respect to x and, with `linear`, the remainder of degree one of their
// subresultant sequence, exactly as resultant() gives them, for a and b of degree two or more in x.
// Each remainder of that sequence is ± a subresultant, and the scalars it divides by are ± leading
// coefficients of subresultants, so the same steps run over the residues at a point y = y0 give the
// values at y0. They are taken at enough points for the degree in y, modulo enough word primes for a
// bound on the coefficients of the determinants over the common denominator, interpolated and joined
// by Chinese remaindering. Points where the sequence meets fewer degrees than it does over the
// rationals are skipped. None when no such run is found (the caller then takes the direct way).
std::optional<FracPoly> resultant_by_primes(const BiPoly& a, const BiPoly& b, BiPoly* linear);

// Products modulo one fixed monic polynomial f of degree n >= 1.
class WordPolyModulus {
 public:
  WordPolyModulus(const Zp& F, WordPoly f);

  const Zp& field() const { return F_; }
  const WordPoly& poly() const { return f_; }
  std::size_t degree() const { return n_; }

  // a mod f for deg a <= 2n − 2 (through the inverse), any degree otherwise.
  WordPoly rem(WordPoly a) const;
  WordPoly mulmod(const WordPoly& a, const WordPoly& b) const { return rem(mul(F_, a, b)); }
  // base^e mod f by squaring from the top bit; e >= 0 (e = 0 gives 1 mod f).
  WordPoly powmod(const WordPoly& base, const Int& e) const;

 private:
  Zp F_;
  WordPoly f_;
  std::size_t n_;
  WordPoly inverse_;  // rev(f)⁻¹ mod x^(n−1); empty when f is divided directly
  // The inverse and f packed for Kronecker products at slot width width_, wide enough for every
  // coefficient of a product with an operand of up to n coefficients.
  unsigned width_ = 0;
  std::vector<std::uint64_t> packed_inverse_, packed_f_;
  // For an f with few terms: the positions and negated values of its terms below the top, by which
  // a remainder is folded down directly.
  std::vector<std::pair<std::size_t, std::uint64_t>> sparse_;
};

}  // namespace gy
