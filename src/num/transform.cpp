#include "num/transform.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <new>
#include <utility>

#include "cpu.hpp"
#include "memory.hpp"
#include "num/int.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define GY_TRANSFORM_LANES 1
#endif

namespace gy {

namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

#ifdef GY_TRANSFORM_LANES

// Bits per piece: a sum of up to 2^25 products of two pieces stays below the primes' product.
constexpr unsigned kPieceBits = 62;
constexpr u64 kPieceMask = (u64{1} << kPieceBits) - 1;

// The pieces of n limbs.
std::size_t pieces(std::size_t n) { return (n * 64 + kPieceBits - 1) / kPieceBits; }

// The transforms' length for `count` pieces of the product: the least power of two, or three times
// one, that holds them, at least 16 (and three times 16).
std::size_t transform_length(std::size_t count) {
  const std::size_t two = std::max<std::size_t>(16, std::bit_ceil(count));
  const std::size_t three = 3 * std::max<std::size_t>(16, std::bit_ceil((count + 2) / 3));
  return std::min(two, three);
}

// Transform lengths up to 2^kMaxLog, the order of the primes' chosen roots of unity.
constexpr unsigned kMaxLog = 26;
constexpr u64 kExponentMask = (u64{1} << kMaxLog) - 1;
// Blocks of at most 2^kBaseLog points are transformed level by level in cache, with a table of their
// own roots; above that, level by level from the top, one half after the other.
constexpr unsigned kBaseLog = 12;
constexpr std::size_t kBase = std::size_t{1} << kBaseLog;
constexpr u64 kMask52 = (u64{1} << 52) - 1;

// Reverses the low `bits` bits of x.
u64 reverse_bits(u64 x, unsigned bits) {
  if (bits == 0) return 0;
  x = ((x >> 1) & 0x5555555555555555u) | ((x & 0x5555555555555555u) << 1);
  x = ((x >> 2) & 0x3333333333333333u) | ((x & 0x3333333333333333u) << 2);
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Fu) | ((x & 0x0F0F0F0F0F0F0F0Fu) << 4);
  x = __builtin_bswap64(x);
  return x >> (64 - bits);
}

u64 pow_mod(u64 a, u64 e, u64 p) {
  u64 r = 1;
  for (; e; e >>= 1, a = static_cast<u64>(static_cast<u128>(a) * a % p))
    if (e & 1) r = static_cast<u64>(static_cast<u128>(r) * a % p);
  return r;
}

// A prime p = k·3·2^26 + 1 between 2^49 and 2^50, in Montgomery form with R = 2^52: values are kept
// below 2p, so that every one fits a 52-bit lane and sums of two stay below 2^52 after one reduction.
struct Prime {
  u64 p = 0, pinv = 0;  // pinv = p^-1 mod 2^52
  u64 one = 0, r2 = 0;  // R mod p, R² mod p
  u64 barrett = 0;      // floor(2^64 / p)
  // ω^k·R for k < 2^26, ω of order 2^26: lo[k mod 2^13]·hi[k / 2^13].
  std::array<u64, 8192> lo{}, hi{};
  // At [2^t + s], t < kBaseLog, s < 2^t: the root that block s of level t of a base block splits
  // by, ω_(2^(t+1))^reverse_t(s), and its inverse, times R.
  std::array<u64, kBase> small{}, small_inv{};
  // Lengths 3·2^k: a cube root of unity ω3 = ψ^(2^26), ψ of order 3·2^26, and for the blocks
  // x^m − ω3^c (c = 1, 2) the factor ψ^(c·2^(25 − b)) of the roots of their level b, and its
  // inverse, at [c − 1][b]; all times R.
  u64 cube_root = 0;
  std::array<std::array<u64, kMaxLog>, 2> branch{}, branch_inv{};

  // a·b/R mod p in [0, p), for a·b < R·p (a < 4p, b < p; or both below 2p).
  u64 mont(u64 a, u64 b) const {
    const u128 t = static_cast<u128>(a) * b;
    const u64 m = (static_cast<u64>(t) & kMask52) * pinv & kMask52;
    const auto d = static_cast<std::int64_t>(static_cast<u64>(t >> 52) - static_cast<u64>((static_cast<u128>(m) * p) >> 52));
    return static_cast<u64>(d < 0 ? d + static_cast<std::int64_t>(p) : d);
  }
  u64 to_mont(u64 a) const { return mont(a, r2); }
  // ω^k·R.
  u64 root(u64 k) const {
    k &= kExponentMask;
    return mont(lo[k & 8191], hi[k >> 13]);
  }

  Prime(u64 prime, u64 generator) : p(prime) {
    u64 inv = p;  // p·p ≡ 1 (mod 8); each step doubles the correct bits
    for (int i = 0; i < 6; ++i) inv *= 2 - p * inv;
    pinv = inv & kMask52;
    one = static_cast<u64>((static_cast<u128>(1) << 52) % p);
    r2 = static_cast<u64>(static_cast<u128>(one) * one % p);
    barrett = static_cast<u64>((static_cast<u128>(1) << 64) / p);
    const u64 psi = pow_mod(generator, (p - 1) / (u64{3} << kMaxLog), p);
    cube_root = to_mont(pow_mod(psi, u64{1} << kMaxLog, p));
    for (u64 c = 1; c <= 2; ++c)
      for (unsigned b = 0; b < kMaxLog; ++b) {
        const u64 e = c << (kMaxLog - 1 - b), order = u64{3} << kMaxLog;
        branch[c - 1][b] = to_mont(pow_mod(psi, e, p));
        branch_inv[c - 1][b] = to_mont(pow_mod(psi, order - e, p));
      }
    const u64 w = to_mont(pow_mod(generator, (p - 1) >> kMaxLog, p));
    lo[0] = one;
    for (std::size_t k = 1; k < lo.size(); ++k) lo[k] = mont(lo[k - 1], w);
    const u64 step = mont(lo[8191], w);  // ω^8192·R
    hi[0] = one;
    for (std::size_t k = 1; k < hi.size(); ++k) hi[k] = mont(hi[k - 1], step);
    for (unsigned t = 0; t < kBaseLog; ++t)
      for (u64 s = 0; s < (u64{1} << t); ++s) {
        const u64 e = reverse_bits(s, t) << (kMaxLog - 1 - t);
        small[(u64{1} << t) + s] = root(e);
        small_inv[(u64{1} << t) + s] = root(0 - e);
      }
  }
};

const std::array<Prime, 3>& primes() {
  // Each p − 1 is divisible by 3·2^26; the second number generates the multiplicative group.
  static const std::array<Prime, 3> all{Prime(0x3ffffe4000001u, 5), Prime(0x3ffff48000001u, 14),
                                        Prime(0x3ffff78000001u, 29)};
  return all;
}

#define GY_IFMA __attribute__((target("avx512f,avx512ifma")))

struct Lanes {
  __m512i p, p2, pinv;
};

GY_IFMA inline Lanes lanes_of(const Prime& P) {
  return {_mm512_set1_epi64(static_cast<long long>(P.p)), _mm512_set1_epi64(static_cast<long long>(2 * P.p)),
          _mm512_set1_epi64(static_cast<long long>(P.pinv))};
}

// a·b/R mod p per lane, in [0, p).
GY_IFMA inline __m512i mont(__m512i a, __m512i b, const Lanes& L) {
  const __m512i z = _mm512_setzero_si512();
  const __m512i lo = _mm512_madd52lo_epu64(z, a, b);
  const __m512i hi = _mm512_madd52hi_epu64(z, a, b);
  const __m512i m = _mm512_madd52lo_epu64(z, lo, L.pinv);
  const __m512i d = _mm512_sub_epi64(hi, _mm512_madd52hi_epu64(z, m, L.p));
  return _mm512_maskz_min_epu64(0xFF, d, _mm512_add_epi64(d, L.p));  // d + p where d wrapped below zero
}

// v in [0, 4p) to [0, 2p).
GY_IFMA inline __m512i fold(__m512i v, const Lanes& L) { return _mm512_maskz_min_epu64(0xFF, v, _mm512_sub_epi64(v, L.p2)); }

// (x, y) ← (x + w·y, x − w·y).
GY_IFMA inline void forward_pair(__m512i& x, __m512i& y, __m512i w, const Lanes& L) {
  const __m512i t = mont(y, w, L);
  const __m512i d = _mm512_add_epi64(_mm512_sub_epi64(x, t), L.p);
  x = fold(_mm512_add_epi64(x, t), L);
  y = fold(d, L);
}

// (x, y) ← (x + y, (x − y)·w).
GY_IFMA inline void inverse_pair(__m512i& x, __m512i& y, __m512i w, const Lanes& L) {
  const __m512i d = _mm512_add_epi64(_mm512_sub_epi64(x, y), L.p2);
  x = fold(_mm512_add_epi64(x, y), L);
  y = mont(d, w, L);
}

GY_IFMA inline __m512i load(const u64* a) { return _mm512_loadu_si512(a); }
GY_IFMA inline void store(u64* a, __m512i v) { _mm512_storeu_si512(a, v); }
GY_IFMA inline __m512i broadcast(u64 w) { return _mm512_set1_epi64(static_cast<long long>(w)); }
GY_IFMA inline __m512i index(long long a, long long b, long long c, long long d, long long e, long long f,
                             long long g, long long h) {
  return _mm512_set_epi64(h, g, f, e, d, c, b, a);
}

template <bool kForward>
GY_IFMA inline void pair(__m512i& x, __m512i& y, __m512i w, const Lanes& L) {
  if constexpr (kForward)
    forward_pair(x, y, w, L);
  else
    inverse_pair(x, y, w, L);
}

// One level over a block of 2m points, m a multiple of 8, split by w (or joined again by its inverse).
template <bool kForward>
GY_IFMA void level(u64* a, std::size_t m, u64 w, const Lanes& L) {
  const __m512i wv = broadcast(w);
  for (std::size_t i = 0; i < m; i += 8) {
    __m512i x = load(a + i), y = load(a + m + i);
    pair<kForward>(x, y, wv, L);
    store(a + i, x);
    store(a + m + i, y);
  }
}

// Two levels over a block of 4q points in one pass: split by w, then its halves by w0 and w1 (or
// joined again, in the reverse order, by their inverses).
template <bool kForward>
GY_IFMA void levels2(u64* a, std::size_t q, u64 w, u64 w0, u64 w1, const Lanes& L) {
  const __m512i wv = broadcast(w), w0v = broadcast(w0), w1v = broadcast(w1);
  for (std::size_t i = 0; i < q; i += 8) {
    __m512i x0 = load(a + i), x1 = load(a + q + i), x2 = load(a + 2 * q + i), x3 = load(a + 3 * q + i);
    if constexpr (kForward) {
      forward_pair(x0, x2, wv, L);
      forward_pair(x1, x3, wv, L);
    }
    pair<kForward>(x0, x1, w0v, L);
    pair<kForward>(x2, x3, w1v, L);
    if constexpr (!kForward) {
      inverse_pair(x0, x2, wv, L);
      inverse_pair(x1, x3, wv, L);
    }
    store(a + i, x0);
    store(a + q + i, x1);
    store(a + 2 * q + i, x2);
    store(a + 3 * q + i, x3);
  }
}

// The roots of 16-point group c of a base block of len points (tw as below) for its last three
// levels, in the lanes of the pairs they split: blocks of 8 (the group's two), of 4 (its four, each
// twice) and of 2 (its eight).
struct GroupRoots {
  __m512i w8, w4, w2;
};
GY_IFMA inline GroupRoots group_roots(const u64* tw, std::size_t len, std::size_t c) {
  const u64* t8 = tw + len / 8;
  const u64* t4 = tw + len / 4;
  const u64* t2 = tw + len / 2;
  const __m512i pairs = index(0, 0, 1, 1, 2, 2, 3, 3);
  return {_mm512_mask_blend_epi64(0xF0, broadcast(t8[2 * c]), broadcast(t8[2 * c + 1])),
          _mm512_maskz_permutexvar_epi64(0xFF, pairs, _mm512_maskz_loadu_epi64(0x0F, t4 + 4 * c)), load(t2 + 8 * c)};
}

// A base block of len points (16 <= len <= kBase), with tw[2^t + s] the root of block s of its level t.
// The last three levels (blocks of 8, 4 and 2 points) run on 16 points at a time in two registers.
GY_IFMA void forward_base(u64* a, std::size_t len, const u64* tw, const Lanes& L) {
  for (std::size_t blocks = 1; len / blocks >= 16; blocks *= 2) {
    const std::size_t m = len / blocks / 2;
    for (std::size_t s = 0; s < blocks; ++s) level<true>(a + 2 * m * s, m, tw[blocks + s], L);
  }
  const __m512i lo4 = index(0, 1, 2, 3, 8, 9, 10, 11), hi4 = index(4, 5, 6, 7, 12, 13, 14, 15);
  const __m512i lo2 = index(0, 1, 8, 9, 4, 5, 12, 13), hi2 = index(2, 3, 10, 11, 6, 7, 14, 15);
  const __m512i even = index(0, 8, 2, 10, 4, 12, 6, 14), odd = index(1, 9, 3, 11, 5, 13, 7, 15);
  const __m512i out0 = index(0, 8, 1, 9, 2, 10, 3, 11), out1 = index(4, 12, 5, 13, 6, 14, 7, 15);
  for (std::size_t c = 0; c < len / 16; ++c) {
    u64* v = a + 16 * c;
    const __m512i v0 = load(v), v1 = load(v + 8);
    const GroupRoots w = group_roots(tw, len, c);
    // Blocks of 8: positions (0..3, 8..11) against (4..7, 12..15).
    __m512i x = _mm512_permutex2var_epi64(v0, lo4, v1), y = _mm512_permutex2var_epi64(v0, hi4, v1);
    forward_pair(x, y, w.w8, L);
    // Blocks of 4: positions (0, 1, 4, 5, 8, 9, 12, 13) against (2, 3, 6, 7, ...).
    __m512i x2 = _mm512_permutex2var_epi64(x, lo2, y), y2 = _mm512_permutex2var_epi64(x, hi2, y);
    forward_pair(x2, y2, w.w4, L);
    // Blocks of 2: even positions against odd ones.
    __m512i x1 = _mm512_permutex2var_epi64(x2, even, y2), y1 = _mm512_permutex2var_epi64(x2, odd, y2);
    forward_pair(x1, y1, w.w2, L);
    store(v, _mm512_permutex2var_epi64(x1, out0, y1));
    store(v + 8, _mm512_permutex2var_epi64(x1, out1, y1));
  }
}

GY_IFMA void inverse_base(u64* a, std::size_t len, const u64* tw, const Lanes& L) {
  const __m512i split_even = index(0, 2, 4, 6, 8, 10, 12, 14), split_odd = index(1, 3, 5, 7, 9, 11, 13, 15);
  const __m512i even = index(0, 8, 2, 10, 4, 12, 6, 14), odd = index(1, 9, 3, 11, 5, 13, 7, 15);
  const __m512i lo4 = index(0, 1, 8, 9, 4, 5, 12, 13), hi4 = index(2, 3, 10, 11, 6, 7, 14, 15);
  const __m512i out0 = index(0, 1, 2, 3, 8, 9, 10, 11), out1 = index(4, 5, 6, 7, 12, 13, 14, 15);
  for (std::size_t c = 0; c < len / 16; ++c) {
    u64* v = a + 16 * c;
    const __m512i v0 = load(v), v1 = load(v + 8);
    const GroupRoots w = group_roots(tw, len, c);
    __m512i x1 = _mm512_permutex2var_epi64(v0, split_even, v1), y1 = _mm512_permutex2var_epi64(v0, split_odd, v1);
    inverse_pair(x1, y1, w.w2, L);
    // Back to positions (0, 1, 4, 5, 8, 9, 12, 13) and (2, 3, 6, 7, ...).
    __m512i x2 = _mm512_permutex2var_epi64(x1, even, y1), y2 = _mm512_permutex2var_epi64(x1, odd, y1);
    inverse_pair(x2, y2, w.w4, L);
    // Back to positions (0..3, 8..11) and (4..7, 12..15).
    __m512i x = _mm512_permutex2var_epi64(x2, lo4, y2), y = _mm512_permutex2var_epi64(x2, hi4, y2);
    inverse_pair(x, y, w.w8, L);
    store(v, _mm512_permutex2var_epi64(x, out0, y));
    store(v + 8, _mm512_permutex2var_epi64(x, out1, y));
  }
  for (std::size_t blocks = len / 16; blocks >= 1; blocks /= 2) {
    const std::size_t m = len / blocks / 2;
    for (std::size_t s = 0; s < blocks; ++s) level<false>(a + 2 * m * s, m, tw[blocks + s], L);
  }
}

// The roots of the levels of base block j of level b (2^b blocks), len points: at [2^t + s],
// small[2^t + s]·G_t with G_t = ω_(2^(t+1+b))^reverse_b(j), times the branch's factor of level b + t
// in a block x^m − ω3^branch; or the inverses.
GY_IFMA void base_roots(const Prime& P, const Lanes& L, std::size_t len, unsigned b, u64 j, unsigned branch,
                        bool inverse, u64* tw) {
  const u64 e = reverse_bits(j, b);
  const auto& small = inverse ? P.small_inv : P.small;
  for (std::size_t blocks = 1; blocks < len; blocks *= 2) {
    const unsigned t = static_cast<unsigned>(std::countr_zero(blocks));
    const u64 k = e << (kMaxLog - 1 - t - b);
    u64 g = P.root(inverse ? 0 - k : k);
    if (branch) g = P.mont(g, (inverse ? P.branch_inv : P.branch)[branch - 1][b + t]);
    if (blocks < 8) {
      for (std::size_t s = 0; s < blocks; ++s) tw[blocks + s] = P.mont(small[blocks + s], g);
      continue;
    }
    const __m512i gv = broadcast(g);
    for (std::size_t s = 0; s < blocks; s += 8) store(tw + blocks + s, mont(load(small.data() + blocks + s), gv, L));
  }
}

// v in [0, 6p) to [0, 2p).
GY_IFMA inline __m512i fold6(__m512i v, const Lanes& L) {
  const __m512i p4 = _mm512_add_epi64(L.p2, L.p2);
  return fold(_mm512_maskz_min_epu64(0xFF, v, _mm512_sub_epi64(v, p4)), L);
}

// A block x^(3m) − 1 into its parts modulo x^m − ω3^c, c = 0, 1, 2, in place: with t = ω3·(f1 − f2),
// (f0 + f1 + f2, f0 − f2 + t, f0 − f1 − t), since ω3² = −1 − ω3. Inverse: the three parts back, times
// 3, as (g0 + g1 + g2, g0 − g1 − t, g0 − g2 + t) with t = ω3·(g1 − g2), the same forms in the other
// places.
template <bool kForward>
GY_IFMA void thirds(u64* a, std::size_t m, u64 w, const Lanes& L) {
  const __m512i wv = broadcast(w), p3 = _mm512_add_epi64(L.p2, L.p);
  for (std::size_t i = 0; i < m; i += 8) {
    const __m512i f0 = load(a + i), f1 = load(a + m + i), f2 = load(a + 2 * m + i);
    const __m512i t = mont(_mm512_add_epi64(_mm512_sub_epi64(f1, f2), L.p2), wv, L);
    const __m512i plus = fold6(_mm512_add_epi64(_mm512_sub_epi64(f0, f2), _mm512_add_epi64(t, L.p2)), L);
    const __m512i minus = fold6(_mm512_sub_epi64(_mm512_add_epi64(f0, p3), _mm512_add_epi64(f1, t)), L);
    store(a + i, fold6(_mm512_add_epi64(_mm512_add_epi64(f0, f1), f2), L));
    store(a + m + i, kForward ? plus : minus);
    store(a + 2 * m + i, kForward ? minus : plus);
  }
}

// The transform of a block x^len − ω3^branch (x^len − 1 for branch 0), len a power of two.
struct Transform {
  const Prime& P;
  Lanes L;
  u64* tw;  // kBase roots of the base block in hand
  unsigned branch = 0;

  GY_IFMA void forward(u64* a, std::size_t len, unsigned b, u64 j) {
    if (len <= kBase) {
      base_roots(P, L, len, b, j, branch, false, tw);
      forward_base(a, len, tw, L);
      return;
    }
    if (len >= 4 * kBase) {
      const std::size_t q = len / 4;
      levels2<true>(a, q, root(b, j, false), root(b + 1, 2 * j, false), root(b + 1, 2 * j + 1, false), L);
      for (u64 c = 0; c < 4; ++c) forward(a + c * q, q, b + 2, 4 * j + c);
      return;
    }
    const std::size_t m = len / 2;
    level<true>(a, m, root(b, j, false), L);
    forward(a, m, b + 1, 2 * j);
    forward(a + m, m, b + 1, 2 * j + 1);
  }

  // The root block j of level b splits by, or its inverse.
  u64 root(unsigned b, u64 j, bool inverse) const {
    const u64 k = reverse_bits(j, b) << (kMaxLog - 1 - b);
    const u64 r = P.root(inverse ? 0 - k : k);
    return branch ? P.mont(r, (inverse ? P.branch_inv : P.branch)[branch - 1][b]) : r;
  }

  GY_IFMA void inverse(u64* a, std::size_t len, unsigned b, u64 j) {
    if (len <= kBase) {
      base_roots(P, L, len, b, j, branch, true, tw);
      inverse_base(a, len, tw, L);
      return;
    }
    if (len >= 4 * kBase) {
      const std::size_t q = len / 4;
      for (u64 c = 0; c < 4; ++c) inverse(a + c * q, q, b + 2, 4 * j + c);
      levels2<false>(a, q, root(b, j, true), root(b + 1, 2 * j, true), root(b + 1, 2 * j + 1, true), L);
      return;
    }
    const std::size_t m = len / 2;
    inverse(a, m, b + 1, 2 * j);
    inverse(a + m, m, b + 1, 2 * j + 1);
    level<false>(a, m, root(b, j, true), L);
  }
};

// The first `count` pieces of a (n limbs) modulo p, below 2p, then zeros up to len.
void split(const Prime& P, const mp_limb_t* a, std::size_t n, std::size_t count, u64* out, std::size_t len) {
  for (std::size_t k = 0; k < count; ++k) {
    const u64 bit = k * kPieceBits;
    const std::size_t w = bit / 64;
    const unsigned shift = bit % 64;
    u64 v = a[w] >> shift;
    if (shift > 64 - kPieceBits && w + 1 < n) v |= a[w + 1] << (64 - shift);
    v &= kPieceMask;
    const u64 q = static_cast<u64>((static_cast<u128>(v) * P.barrett) >> 64);
    out[k] = v - q * P.p;
  }
  std::fill(out + count, out + len, u64{0});
}

// a ← a·b/len (values below 2p).
GY_IFMA void pointwise(const Prime& P, u64* a, const u64* b, std::size_t len) {
  const Lanes L = lanes_of(P);
  const u64 len_inv = P.p - (P.p - 1) / len;
  const __m512i f = broadcast(P.mont(P.mont(len_inv, P.r2), P.r2));  // len⁻¹·R²
  for (std::size_t i = 0; i < len; i += 8) store(a + i, mont(mont(load(a + i), load(b + i), L), f, L));
}

// v mod p for v in [0, 2p).
GY_IFMA inline __m512i below(__m512i v, __m512i p) { return _mm512_maskz_min_epu64(0xFF, v, _mm512_sub_epi64(v, p)); }

// Each piece of the product from its residues modulo the three primes (below 2p each), in place:
// by Garner's form x = r0 + p0·t1 + p0·p1·t2 < 2^150, written as x = d0 + d1·2^52 + d2·2^104 with
// d0, d1 below 2^54 (its 52-bit products' halves, carries left in) in res[0], res[1], res[2].
GY_IFMA void garner(u64* const res[3], std::size_t count) {
  const auto& ps = primes();
  const Prime &P0 = ps[0], &P1 = ps[1], &P2 = ps[2];
  const u64 p0 = P0.p, p1 = P1.p, p2 = P2.p;
  const Lanes L1 = lanes_of(P1), L2 = lanes_of(P2);
  // p0⁻¹ mod p1, (p0·p1)⁻¹ mod p2 and p0 mod p2, times R.
  const __m512i inv01 = broadcast(P1.to_mont(pow_mod(p0 % p1, p1 - 2, p1)));
  const u64 p01_mod2 = static_cast<u64>(static_cast<u128>(p0 % p2) * (p1 % p2) % p2);
  const __m512i inv012 = broadcast(P2.to_mont(pow_mod(p01_mod2, p2 - 2, p2)));
  const __m512i p0_mod2 = broadcast(P2.to_mont(p0 % p2));
  const u128 p01 = static_cast<u128>(p0) * p1;
  const __m512i p0v = broadcast(p0), p01_0 = broadcast(static_cast<u64>(p01) & kMask52),
                p01_1 = broadcast(static_cast<u64>(p01 >> 52));
  const __m512i p0s = broadcast(p0), p1s = broadcast(p1), p2s = broadcast(p2);
  const __m512i z = _mm512_setzero_si512();
  for (std::size_t k = 0; k < count; k += 8) {
    const __m512i r0 = below(load(res[0] + k), p0s), r1 = below(load(res[1] + k), p1s),
                  r2 = below(load(res[2] + k), p2s);
    const __m512i t1 = mont(_mm512_sub_epi64(_mm512_add_epi64(r1, p1s), below(r0, p1s)), inv01, L1);
    const __m512i x01 = below(_mm512_add_epi64(below(r0, p2s), mont(t1, p0_mod2, L2)), p2s);
    const __m512i t2 = mont(_mm512_sub_epi64(_mm512_add_epi64(r2, p2s), x01), inv012, L2);
    store(res[0] + k, _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(r0, p0v, t1), p01_0, t2));
    store(res[1] + k, _mm512_madd52lo_epu64(_mm512_madd52hi_epu64(_mm512_madd52hi_epu64(z, p0v, t1), p01_0, t2), p01_1, t2));
    store(res[2] + k, _mm512_madd52hi_epu64(z, p01_1, t2));
  }
}

// r[0, n) from the pieces d0 + d1·2^52 + d2·2^104 of the product, added in at 62-bit steps.
void recompose(const u64* d0, const u64* d1, const u64* d2, std::size_t count, mp_limb_t* r, std::size_t n) {
  u64 acc0 = 0, acc1 = 0, acc2 = 0;  // the sum not yet written, from the next piece's bit on
  u128 out = 0;                      // bits ready to be written, `held` of them
  unsigned held = 0;
  std::size_t written = 0;
  for (std::size_t k = 0; written < n; ++k) {
    if (k < count) {
      u128 s = static_cast<u128>(acc0) + d0[k] + static_cast<u64>(d1[k] << 52);
      acc0 = static_cast<u64>(s);
      s = (s >> 64) + acc1 + (d1[k] >> 12) + static_cast<u64>(d2[k] << 40);
      acc1 = static_cast<u64>(s);
      acc2 += static_cast<u64>(s >> 64) + (d2[k] >> 24);
    }
    out |= static_cast<u128>(acc0 & kPieceMask) << held;
    held += kPieceBits;
    acc0 = (acc0 >> kPieceBits) | (acc1 << (64 - kPieceBits));
    acc1 = (acc1 >> kPieceBits) | (acc2 << (64 - kPieceBits));
    acc2 >>= kPieceBits;
    if (held >= 64) {
      r[written++] = static_cast<mp_limb_t>(out);
      out >>= 64;
      held -= 64;
    }
  }
}

// Words of the integers' working memory: a large block given back while an operation keeps its
// blocks for reuse serves the next one with its pages in place.
class Words {
 public:
  Words() = default;
  explicit Words(std::size_t n) : data_(static_cast<u64*>(allocate_work(n * sizeof(u64)))) {}
  Words(const Words&) = delete;
  Words& operator=(Words&& o) noexcept {
    std::swap(data_, o.data_);
    return *this;
  }
  ~Words() { release_work(data_); }
  u64* data() { return data_; }

 private:
  u64* data_ = nullptr;
};

// x of `len` points transformed, forward or back: a length 3·2^k first splits into three blocks of
// 2^k (and joins them last).
GY_IFMA void transform_all(const Prime& P, const Lanes& L, u64* roots, u64* x, std::size_t len, bool forward) {
  const bool thirds_first = len % 3 == 0;
  const std::size_t block = thirds_first ? len / 3 : len;
  if (thirds_first && forward) thirds<true>(x, block, P.cube_root, L);
  for (unsigned c = 0; c < (thirds_first ? 3u : 1u); ++c) {
    Transform T{P, L, roots, c};
    if (forward)
      T.forward(x + c * block, block, 0, 0);
    else
      T.inverse(x + c * block, block, 0, 0);
  }
  if (thirds_first && !forward) thirds<false>(x, block, P.cube_root, L);
}

// The product by transforms, in `len` points: a power of two from 16 to 2^kMaxLog, or three times
// one from 16 on. Where `transformed` holds b's transforms already (len points per prime), b's
// limbs are not read.
GY_IFMA bool run(mp_limb_t* r, const mp_limb_t* a, std::size_t an, std::size_t ca, const mp_limb_t* b, std::size_t bn,
                 std::size_t cb, std::size_t len, const u64* transformed = nullptr) {
  const bool square = a == b && an == bn && !transformed, other_b = !square && !transformed;
  // The product's pieces modulo the first two primes are kept, in whole vectors, while the work
  // buffer serves the next prime; the last prime's stay in it.
  const std::size_t count = ca + cb - 1, kept = (count + 7) / 8 * 8;
  // Twice the words taken here left free, for the work around the product.
  if (!address_space_room(2 * sizeof(u64) * ((other_b ? 2 : 1) * len + 2 * kept + kBase))) return false;
  Words work, other, first, second, roots;
  try {
    work = Words(len);
    if (other_b) other = Words(len);
    first = Words(kept);
    second = Words(kept);
    roots = Words(kBase);
  } catch (const std::bad_alloc&) {
    return false;
  }
  u64* const parts[3] = {first.data(), second.data(), work.data()};
  for (std::size_t i = 0; i < 3; ++i) {
    const Prime& P = primes()[i];
    const Lanes L = lanes_of(P);
    split(P, a, an, ca, work.data(), len);
    transform_all(P, L, roots.data(), work.data(), len, true);
    if (other_b) {
      split(P, b, bn, cb, other.data(), len);
      transform_all(P, L, roots.data(), other.data(), len, true);
    }
    pointwise(P, work.data(), square ? work.data() : transformed ? transformed + i * len : other.data(), len);
    transform_all(P, L, roots.data(), work.data(), len, false);
    if (i < 2) std::copy(work.data(), work.data() + kept, parts[i]);
  }
  garner(parts, count);
  recompose(parts[0], parts[1], parts[2], count, r, an + bn);
  return true;
}

// a·b for a far longer than b (an >= 4·bn): a in chunks of a whole number of 31 limbs (32 pieces),
// each multiplied by b in transforms about four times b's length, b transformed once for them all,
// and each chunk's product added in at its place.
GY_IFMA bool run_unbalanced(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn) {
  const std::size_t cb = pieces(bn), len = transform_length(4 * cb);
  const std::size_t step = (len - cb + 1) / 32 * 31;  // limbs per chunk
  const std::size_t kept = (len + 7) / 8 * 8;
  if (step == 0 || len > (std::size_t{1} << kMaxLog)) return false;
  if (!address_space_room(2 * sizeof(u64) * (4 * len + 2 * kept + kBase) + 2 * (step + bn) * sizeof(mp_limb_t)))
    return false;
  Words work, first, second, roots, product;
  Words transformed[3];
  try {
    work = Words(len);
    first = Words(kept);
    second = Words(kept);
    roots = Words(kBase);
    product = Words(step + bn);
    for (auto& t : transformed) t = Words(len);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const Prime& P = primes()[i];
    split(P, b, bn, cb, transformed[i].data(), len);
    transform_all(P, lanes_of(P), roots.data(), transformed[i].data(), len, true);
  }
  std::fill(r, r + an + bn, mp_limb_t{0});
  u64* const parts[3] = {first.data(), second.data(), work.data()};
  for (std::size_t at = 0; at < an; at += step) {
    const std::size_t n = std::min(step, an - at), count = pieces(n) + cb - 1;
    for (std::size_t i = 0; i < 3; ++i) {
      const Prime& P = primes()[i];
      const Lanes L = lanes_of(P);
      split(P, a + at, n, pieces(n), work.data(), len);
      transform_all(P, L, roots.data(), work.data(), len, true);
      pointwise(P, work.data(), transformed[i].data(), len);
      transform_all(P, L, roots.data(), work.data(), len, false);
      if (i < 2) std::copy(work.data(), work.data() + (count + 7) / 8 * 8, parts[i]);
    }
    garner(parts, count);
    mp_limb_t* p = product.data();
    recompose(parts[0], parts[1], parts[2], count, p, n + bn);
    // The sum so far stays below 2^(64·(at + n + bn)), so no carry leaves the product's limbs.
    mpn_add(r + at, r + at, static_cast<mp_size_t>(an + bn - at), p, static_cast<mp_size_t>(n + bn));
  }
  return true;
}

GY_IFMA void transform_factor(const mp_limb_t* b, std::size_t bn, u64* points, std::size_t len) {
  Words roots(kBase);
  for (std::size_t i = 0; i < 3; ++i) {
    const Prime& P = primes()[i];
    split(P, b, bn, pieces(bn), points + i * len, len);
    transform_all(P, lanes_of(P), roots.data(), points + i * len, len, true);
  }
}

#endif

}  // namespace

TransformedFactor::TransformedFactor(const mp_limb_t* b, std::size_t bn, std::size_t product_limbs) {
#ifdef GY_TRANSFORM_LANES
  const std::size_t len = transform_length(pieces(product_limbs));
  if (!cpu_has_avx512_ifma() || bn == 0 || product_limbs <= bn || len > (std::size_t{1} << kMaxLog)) return;
  points_.reset(static_cast<u64*>(allocate_work(3 * len * sizeof(u64))));
  transform_factor(b, bn, points_.get(), len);
  bn_ = bn;
  product_ = product_limbs;
  len_ = len;
#else
  (void)b, (void)bn, (void)product_limbs;
#endif
}

void TransformedFactor::Release::operator()(std::uint64_t* p) const noexcept { release_work(p); }

bool multiply_transformed(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const TransformedFactor& f) {
#ifdef GY_TRANSFORM_LANES
  if (!f || an == 0 || an + f.bn_ > f.product_) return false;
  return run(r, a, an, pieces(an), nullptr, f.bn_, pieces(f.bn_), f.len_, f.points_.get());
#else
  (void)r, (void)a, (void)an, (void)f;
  return false;
#endif
}

bool transform_available() {
#ifdef GY_TRANSFORM_LANES
  return cpu_has_avx512_ifma();
#else
  return false;
#endif
}

bool transform_multiply(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn) {
#ifdef GY_TRANSFORM_LANES
  if (!cpu_has_avx512_ifma() || an == 0 || bn == 0) return false;
  if (an < bn) {
    std::swap(a, b);
    std::swap(an, bn);
  }
  if (an >= 4 * bn && bn >= 16) return run_unbalanced(r, a, an, b, bn);
  const std::size_t ca = pieces(an), cb = pieces(bn);
  const std::size_t len = transform_length(ca + cb - 1);
  if (len > (std::size_t{1} << kMaxLog)) return false;
  return run(r, a, an, ca, b, bn, cb, len);
#else
  (void)r, (void)a, (void)an, (void)b, (void)bn;
  return false;
#endif
}

void multiply_limbs(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn) {
  if (an < bn) {
    std::swap(a, b);
    std::swap(an, bn);
  }
  if (bn >= kTransformLimbs && transform_multiply(r, a, an, b, bn)) return;
  if (a == b && an == bn)
    mpn_sqr(r, a, static_cast<mp_size_t>(an));
  else
    mpn_mul(r, a, static_cast<mp_size_t>(an), b, static_cast<mp_size_t>(bn));
}

}  // namespace gy
