#include "num/int.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <numeric>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "num/interrupt.hpp"
#include "num/transform.hpp"
#include "memory.hpp"
#include "pool.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace gy {

namespace {

// ---- Large blocks ---------------------------------------------------------------------------------
//
// GMP's blocks from kMappedBytes on are mapped by us, in large pages, instead of taken from malloc
// (which maps every block past 32 MiB afresh and faults each of its small pages in at first touch).
// A mapping starts on a large page and holds, ahead of the data, its length, a check word that tells
// it from any other block, and room for the header of a BigBlock: a result can become an Int's block
// in place, without a copy. While a BlockReuse lives on a thread, the mappings given back on it are
// kept for its next requests (already faulted in), and the last BlockReuse to end unmaps them.

constexpr std::size_t kLargePage = std::size_t{1} << 21;
constexpr std::size_t kMappedBytes = std::size_t{4} << 20;
constexpr std::size_t kPrefix = 32;  // length, check word, unused, BigBlock header
constexpr std::uint64_t kCheck = 0x6a09e667f3bcc908;

struct Mapping {
  std::byte* base = nullptr;
  std::size_t length = 0;
};

// Mappings kept for reuse on this thread while `depth` > 0. Trivially destructible: a thread's end
// finds it empty, every BlockReuse having unmapped what it kept.
struct KeptMappings {
  static constexpr int kMax = 8;
  Mapping kept[kMax];
  int count = 0;
  int depth = 0;
};
thread_local KeptMappings kept_mappings;

// Not under the address sanitizer: telling a block of ours from another reads the words ahead of
// it, which the sanitizer takes for an overflow when the block is someone else's.
bool mapping_supported() {
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

void write_header(std::byte* base, std::size_t length) {
  const std::uint64_t words[2] = {length, length ^ reinterpret_cast<std::uintptr_t>(base) ^ kCheck};
  std::memcpy(base, words, sizeof words);
}

// The mapping of a data pointer that one of ours gave out, or none.
std::optional<Mapping> mapping_of(const void* data) {
  if (!mapping_supported()) return std::nullopt;
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  if ((at & (kLargePage - 1)) != kPrefix) return std::nullopt;
  auto* base = reinterpret_cast<std::byte*>(at - kPrefix);
  std::uint64_t words[2];
  std::memcpy(words, base, sizeof words);
  if (words[0] < kMappedBytes || (words[0] & (kLargePage - 1)) != 0 ||
      (words[0] ^ reinterpret_cast<std::uintptr_t>(base) ^ kCheck) != words[1])
    return std::nullopt;
  return Mapping{base, words[0]};
}

std::size_t mapped_length(std::size_t bytes) {
  if (bytes > SIZE_MAX - kPrefix - kLargePage) throw std::bad_alloc();
  return (bytes + kPrefix + kLargePage - 1) & ~(kLargePage - 1);
}

void unmap(const Mapping& m) noexcept {
#if defined(__linux__)
  munmap(m.base, m.length);
#endif
}

// A fresh mapping of `length` bytes starting on a large page.
Mapping map_fresh(std::size_t length) {
#if defined(__linux__)
  const std::size_t span = length + kLargePage;
  void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t start = (at + kLargePage - 1) & ~(kLargePage - 1);
  if (start > at) munmap(p, start - at);
  if (const std::uintptr_t end = at + span; end > start + length)
    munmap(reinterpret_cast<void*>(start + length), end - start - length);
#if defined(MADV_HUGEPAGE)
  madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
#endif
  return Mapping{reinterpret_cast<std::byte*>(start), length};
#else
  (void)length;
  throw std::bad_alloc();
#endif
}

// `m` resized to `length` bytes, its pages kept: in place when it can, else moved to a range of its
// own that starts on a large page (reserved first, then taken over by the pages). On failure `m`
// stays as it was.
Mapping remap(const Mapping& m, std::size_t length) {
#if defined(__linux__)
  if (length <= m.length || mremap(m.base, m.length, length, 0) != MAP_FAILED) {
    if (length < m.length) munmap(m.base + length, m.length - length);
    return Mapping{m.base, length};
  }
  const Mapping target = map_fresh(length);
  void* p = mremap(m.base, m.length, length, MREMAP_MAYMOVE | MREMAP_FIXED, target.base);
  if (p == MAP_FAILED) {
    unmap(target);
    throw std::bad_alloc();
  }
  return Mapping{static_cast<std::byte*>(p), length};
#else
  (void)m;
  (void)length;
  throw std::bad_alloc();
#endif
}

void drop_kept(KeptMappings& k, int from = 0) noexcept {
  for (int i = from; i < k.count; ++i) unmap(k.kept[i]);
  k.count = std::min(k.count, from);
}

// A mapping of at least `length` bytes: the smallest kept one that holds it, else the largest kept
// one grown (its pages stay faulted in), else a fresh one.
Mapping take_mapping(std::size_t length) {
  KeptMappings& k = kept_mappings;
  int best = -1, largest = -1;
  for (int i = 0; i < k.count; ++i) {
    if (k.kept[i].length >= length && (best < 0 || k.kept[i].length < k.kept[best].length)) best = i;
    if (largest < 0 || k.kept[i].length > k.kept[largest].length) largest = i;
  }
  const int pick = best >= 0 ? best : largest;
  if (pick < 0) return map_fresh(length);
  Mapping m = k.kept[pick];
  k.kept[pick] = k.kept[--k.count];
  if (m.length >= length) return m;
  try {
    return remap(m, length);
  } catch (const std::bad_alloc&) {
    unmap(m);
  }
  // Short of address space or memory: what is kept goes back before one last try.
  drop_kept(k);
  return map_fresh(length);
}

void give_back(const Mapping& m) noexcept {
  KeptMappings& k = kept_mappings;
  if (k.depth > 0 && k.count < KeptMappings::kMax) {
    k.kept[k.count++] = m;
    return;
  }
  unmap(m);
}

void* allocate_mapped(std::size_t bytes) {
  const Mapping m = take_mapping(mapped_length(bytes));
  write_header(m.base, m.length);
  return m.base + kPrefix;
}

// GMP's memory: malloc, realloc and free as GMP's own functions use them, except that a failed
// request throws std::bad_alloc into the operation that made it instead of ending the process, and
// large blocks are our mappings. A block that is not one of ours goes to malloc's functions: blocks
// made before these functions were installed may come back to them.
void* gmp_allocate(std::size_t bytes) {
  if (bytes >= kMappedBytes && mapping_supported()) return allocate_mapped(bytes);
  if (void* p = std::malloc(bytes)) return p;
  throw std::bad_alloc();
}
void* gmp_reallocate(void* p, std::size_t old_bytes, std::size_t bytes) {
  if (const auto m = mapping_of(p)) {
    const std::size_t length = mapped_length(bytes);
    if (length == m->length) return p;
    if (bytes < kMappedBytes / 2) {
      void* q = gmp_allocate(bytes);
      std::memcpy(q, p, bytes);
      give_back(*m);
      return q;
    }
    const Mapping r = remap(*m, length);
    write_header(r.base, r.length);
    return r.base + kPrefix;
  }
  if (bytes >= kMappedBytes && mapping_supported()) {
    void* q = allocate_mapped(bytes);
    std::memcpy(q, p, std::min(old_bytes, bytes));
    std::free(p);
    return q;
  }
  if (void* q = std::realloc(p, bytes)) return q;
  throw std::bad_alloc();
}
void gmp_free(void* p, std::size_t) {
  if (const auto m = mapping_of(p)) return give_back(*m);
  std::free(p);
}

// Installed when the library loads, unless another library of the process has put functions of its
// own in place of GMP's; those are left alone, since blocks they made must reach them to be freed.
const bool gmp_functions_installed = [] {
  using Allocate = void* (*)(std::size_t);
  using Reallocate = void* (*)(void*, std::size_t, std::size_t);
  using Free = void (*)(void*, std::size_t);
  Allocate allocate = nullptr, gmp_own_allocate = nullptr;
  Reallocate reallocate = nullptr, gmp_own_reallocate = nullptr;
  Free release = nullptr, gmp_own_release = nullptr;
  mp_get_memory_functions(&allocate, &reallocate, &release);
  mp_set_memory_functions(nullptr, nullptr, nullptr);
  mp_get_memory_functions(&gmp_own_allocate, &gmp_own_reallocate, &gmp_own_release);
  if (allocate != gmp_own_allocate || reallocate != gmp_own_reallocate || release != gmp_own_release) {
    mp_set_memory_functions(allocate, reallocate, release);
    return false;
  }
  mp_set_memory_functions(&gmp_allocate, &gmp_reallocate, &gmp_free);
  return true;
}();

// Per-thread GMP destinations, reused so that a big operation costs only the allocation of its
// result block (none when the result is small).
struct Scratch {
  mpz_t q, r;
  Scratch() {
    mpz_init(q);
    mpz_init(r);
  }
  ~Scratch() {
    mpz_clear(q);
    mpz_clear(r);
  }
};
thread_local Scratch scratch;
// Made when a thread joins the pool: its first use registers its destructor, which allocates.
const pool::ThreadState scratch_state{[] { (void)scratch.q; }};

constexpr int kKeepLimbs = 1 << 14;

// Releases the memory of an unusually large scratch value once its result has been taken.
void trim(mpz_ptr z) {
  if (z->_mp_alloc > kKeepLimbs) {
    mpz_clear(z);
    mpz_init(z);
  }
}

Int take(mpz_ptr z) {
  Int x = Int::take_mpz(z);
  trim(z);
  return x;
}

// Runs op, which writes the scratch values z and more, and takes z. When an allocation fails inside
// GMP, the values may name memory already given back: they are made empty again (mpz_init does not
// allocate; what they held, if anything, is left behind) and the failure goes on to the caller.
template <class Op, class... Z>
Int compute(Op&& op, mpz_ptr z, Z... more) {
  BlockReuse reuse;
  try {
    op();
  } catch (...) {
    mpz_init(z);
    (mpz_init(more), ...);
    throw;
  }
  return take(z);
}

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

// r = a·b for an r that is neither operand. Low zero limbs of the operands (a power of two, a value
// shifted left) are left out of the product and only set, which GMP's own product does not do.
void multiply(mpz_ptr r, mpz_srcptr a, mpz_srcptr b) {
  const std::size_t an = mpz_size(a), bn = mpz_size(b);
  auto low_zeros = [](mpz_srcptr z, std::size_t n) {
    std::size_t k = 0;
    while (k < n && z->_mp_d[k] == 0) ++k;
    return k;
  };
  const std::size_t za = an + bn < 16 ? 0 : low_zeros(a, an), zb = an + bn < 16 ? 0 : low_zeros(b, bn);
  if ((za + zb == 0 && std::min(an, bn) < kTransformLimbs) || an == 0 || bn == 0) {
    mpz_mul(r, a, b);
    return;
  }
  const mp_limb_t* ap = a->_mp_d + za;
  const mp_limb_t* bp = b->_mp_d + zb;
  std::size_t ua = an - za, ub = bn - zb;
  if (ua < ub) {
    std::swap(ap, bp);
    std::swap(ua, ub);
  }
  const std::size_t n = an + bn;
  mp_limb_t* rp = mpz_limbs_write(r, static_cast<mp_size_t>(n));
  std::fill(rp, rp + za + zb, mp_limb_t{0});
  multiply_limbs(rp + za + zb, ap, ua, bp, ub);
  const auto size = static_cast<mp_size_t>(n);
  mpz_limbs_finish(r, (mpz_sgn(a) < 0) != (mpz_sgn(b) < 0) ? -size : size);
}

// z = base^e, z neither operand. Where its last squares are long enough for the transforms, the
// power of the odd part of the base is formed by GMP up to that length and squared on from there
// (the bits of e from the top), then shifted by the base's twos; GMP's own power otherwise. As in
// GMP's own, the two values squared into each other are given their whole length at once, so that
// no block grows step by step, leaving the smaller ones behind.
void power(mpz_ptr z, mpz_srcptr base, std::uint64_t e) {
  constexpr std::uint64_t kSquareBits = 2 * 64 * kTransformLimbs;  // a square's result, at the least
  const std::uint64_t twos = mpz_sgn(base) == 0 ? 0 : mpz_scan1(base, 0);
  const std::uint64_t bits = mpz_sizeinbase(base, 2) - twos;
  // The two values and the last square's transforms take up to about ten times the result's bytes.
  if (e < 4 || mpz_sgn(base) == 0 || bits * e < 2 * kSquareBits || !transform_available() ||
      !address_space_room((bits + twos) * e / 8 * 10)) {
    mpz_pow_ui(z, base, e);
    return;
  }
  try {
    Mpz odd, square;
    mpz_tdiv_q_2exp(odd.get(), base, twos);
    mpz_realloc2(z, (bits + twos) * e + 256);
    mpz_realloc2(square.get(), bits * e + 256);
    int rest = 0;
    while ((e >> (rest + 1)) > 1 && bits * (e >> rest) >= kSquareBits) ++rest;
    mpz_pow_ui(z, odd.get(), e >> rest);
    for (int i = rest - 1; i >= 0; --i) {
      multiply(square.get(), z, z);
      if ((e >> i) & 1)
        multiply(z, square.get(), odd.get());
      else
        mpz_swap(z, square.get());
    }
    mpz_mul_2exp(z, z, twos * e);
  } catch (const std::bad_alloc&) {
    // Short of memory for the squares and their transforms: GMP's own power needs less, once the
    // blocks kept for reuse have gone back too.
    mpz_clear(z);
    mpz_init(z);
    drop_kept(kept_mappings);
    mpz_pow_ui(z, base, e);
  }
}

std::uint64_t magnitude(std::int64_t v) { return v < 0 ? 0 - static_cast<std::uint64_t>(v) : v; }

[[noreturn]] void divide_by_zero() { panic("attempt to divide by zero"); }

[[noreturn]] void too_large(std::string_view what) {
  panic_with(cat(what, " exceeds the size limit of integers"), Error::exponent_too_large());
}

// Divisors and quotients of at least this many limbs divide through a reciprocal formed by Newton's
// method on the transforms' products (where that pays, see divide_into); GMP's own division is as
// fast below.
constexpr std::size_t kNewtonLimbs = kTransformLimbs;

// v ≈ 2^(2p) / b, within a few units, for a b of exactly p bits. Newton's step from the reciprocal
// vh of b's top h bits, v0 = vh·2^(p−h): v = v0 + v0·(2^(2p) − b·v0) / 2^(2p), that is
// vh·2^(p−h) + vh·e / 2^(2h) with e = 2^(p+h) − b·vh, of which only the top bits count. With
// h = p/2 + 64 the error squares to far below a unit; GMP's own quotient at the base.
void reciprocal(mpz_ptr v, mpz_srcptr b, std::uint64_t p) {
  if (p <= 64 * kNewtonLimbs) {
    mpz_set_ui(v, 0);
    mpz_setbit(v, 2 * p);
    mpz_tdiv_q(v, v, b);
    return;
  }
  const std::uint64_t h = p / 2 + 64;
  Mpz top, vh, e, t;
  mpz_tdiv_q_2exp(top.get(), b, p - h);
  reciprocal(vh.get(), top.get(), h);
  multiply_into(e.get(), b, vh.get());
  mpz_setbit(t.get(), p + h);
  mpz_sub(e.get(), t.get(), e.get());
  mpz_fdiv_q_2exp(e.get(), e.get(), h - 64);
  multiply_into(t.get(), vh.get(), e.get());
  mpz_fdiv_q_2exp(t.get(), t.get(), h + 64);
  mpz_mul_2exp(v, vh.get(), p - h);
  mpz_add(v, v, t.get());
}

// Brings r = a − q·b, for a q a few units off, into [0, b) by steps of q. False where that takes
// more than a few (never, for a reciprocal within a few units).
bool settle(mpz_ptr q, mpz_ptr r, mpz_srcptr b) {
  for (int step = 0; mpz_sgn(r) < 0 || mpz_cmp(r, b) >= 0; ++step) {
    if (step == 8) return false;
    if (mpz_sgn(r) < 0) {
      mpz_add(r, r, b);
      mpz_sub_ui(q, q, 1);
    } else {
      mpz_sub(r, r, b);
      mpz_add_ui(q, q, 1);
    }
  }
  return true;
}

// r = x·y for x, y >= 0, r neither, through the transforms f of y where they serve.
void product_by(mpz_ptr r, mpz_srcptr x, mpz_srcptr y, const TransformedFactor& f) {
  const std::size_t n = mpz_size(x) + mpz_size(y);
  if (mpz_size(x) > 0 && f && multiply_transformed(mpz_limbs_write(r, static_cast<mp_size_t>(n)), mpz_limbs_read(x),
                                                   mpz_size(x), f)) {
    mpz_limbs_finish(r, static_cast<mp_size_t>(n));
    return;
  }
  multiply_into(r, x, y);
}

// q ≈ (t / 2^s) / d from v ≈ 2^(2k) / d (transformed in fv), d of k bits and t / 2^s below
// about d·2^k: only the top bits of t, from bit s + k − 64 on, count.
void estimate(mpz_ptr q, mpz_srcptr t, mpz_srcptr v, const TransformedFactor& fv, std::uint64_t k, std::uint64_t s) {
  Mpz top;
  mpz_fdiv_q_2exp(top.get(), t, s);
  product_by(q, top.get(), v, fv);
  mpz_fdiv_q_2exp(q, q, k + 64);
}

// q = ⌊a / b⌋ and r = a − q·b for a >= 0 and b > 0 (bn limbs), neither q nor r an operand; false
// where a step went wrong (see settle). Both scaled so that b's top limb has its top bit set
// (p = 64·bn bits), the quotient comes in m chunks of c <= bn limbs from the top: each step divides
// t = r·β^c + (the next c limbs of a) < b·β^c by b, so that each chunk of the quotient fills its own
// c limbs, through one reciprocal of b's top k = 64·c + 128 bits (all of b, when shorter).
bool divide_newton(mpz_ptr q, mpz_ptr r, mpz_srcptr a, mpz_srcptr b) {
  const std::size_t bn = mpz_size(b);
  const auto z = static_cast<std::uint64_t>(std::countl_zero(mpz_getlimbn(b, static_cast<mp_size_t>(bn - 1))));
  const std::uint64_t p = 64 * bn;
  Mpz as, bs, top, v, qs, rs, t;
  mpz_mul_2exp(as.get(), a, z);
  mpz_mul_2exp(bs.get(), b, z);
  mpz_srcptr A = as.get(), B = bs.get();
  const std::size_t an = mpz_size(A), qn = an - bn + 1, m = (qn + bn - 1) / bn, c = (qn + m - 1) / m;
  const std::uint64_t k = std::min<std::uint64_t>(p, 64 * c + 128);
  mpz_tdiv_q_2exp(top.get(), B, p - k);
  reciprocal(v.get(), top.get(), k);
  // v and b are transformed once for all the chunks' products: t's top c + 2 limbs by v, and the
  // chunk's quotient (c limbs, a few units more at first) by b.
  const std::size_t vn = mpz_size(v.get());
  const TransformedFactor fv(mpz_limbs_read(v.get()), vn, vn + c + 2), fb(mpz_limbs_read(B), bn, bn + c + 2);
  const mp_limb_t* ap = mpz_limbs_read(A);
  std::vector<mp_limb_t> out(m * c, 0);
  for (std::size_t j = m; j-- > 0;) {
    poll_interrupt();
    // The top chunk takes all of a's limbs from its place on: fewer than bn + c, so below b·β^c.
    const std::size_t lo = j * c, len = j + 1 == m ? an - lo : c;
    mpz_t part;
    mpz_roinit_n(part, ap + lo, static_cast<mp_size_t>(len));
    mpz_mul_2exp(t.get(), rs.get(), 64 * c);
    mpz_add(t.get(), t.get(), part);
    // t / b ≈ (t / 2^(p − k)) / top, of which only the top bits count.
    estimate(qs.get(), t.get(), v.get(), fv, k, p - 64);
    product_by(rs.get(), qs.get(), B, fb);
    mpz_sub(rs.get(), t.get(), rs.get());
    if (!settle(qs.get(), rs.get(), B)) return false;
    const std::size_t n = mpz_size(qs.get());
    if (n > c) return false;
    std::copy_n(mpz_limbs_read(qs.get()), n, out.data() + lo);
  }
  std::size_t n = out.size();
  while (n > 0 && out[n - 1] == 0) --n;
  std::copy_n(out.data(), n, mpz_limbs_write(q, static_cast<mp_size_t>(std::max<std::size_t>(n, 1))));
  mpz_limbs_finish(q, static_cast<mp_size_t>(n));
  mpz_tdiv_q_2exp(r, rs.get(), z);
  return true;
}

}  // namespace

namespace {

// Results from this many bits on try a long base as a power of a word.
constexpr std::uint64_t kSmallBasePowerBits = std::uint64_t{1} << 20;

// |x| = base^exponent · 2^twos, base the product of distinct odd primes below 50.
struct SmallBase {
  std::uint64_t base, exponent, twos;
};

std::optional<SmallBase> small_base_of(const Int& x);

}  // namespace

namespace detail {
void free_block(BigBlock* b) noexcept {
  if (const auto m = mapping_of(b->limbs())) return give_back(*m);
  ::operator delete(b);
}
}  // namespace detail

void multiply_into(mpz_ptr r, mpz_srcptr a, mpz_srcptr b) {
  if (std::min(mpz_size(a), mpz_size(b)) < kTransformLimbs) {
    mpz_mul(r, a, b);
  } else if (r == a || r == b) {
    Mpz t;
    multiply(t.get(), a, b);
    mpz_swap(r, t.get());
  } else {
    multiply(r, a, b);
  }
}

void add_product(mpz_ptr acc, mpz_srcptr a, mpz_srcptr b) {
  if (std::min(mpz_size(a), mpz_size(b)) < kTransformLimbs) {
    mpz_addmul(acc, a, b);
    return;
  }
  Mpz t;
  multiply(t.get(), a, b);
  mpz_add(acc, acc, t.get());
}

void divide_into(mpz_ptr q, mpz_ptr r, mpz_srcptr a, mpz_srcptr b, Rounding rounding) {
  const std::size_t an = mpz_size(a), bn = mpz_size(b), qn = an > bn ? an - bn : 0;
  // Measured against GMP's own: with the remainder, from about 20000 limbs of a on; for the quotient
  // alone, which GMP finds from b's top limbs when it is the shorter, from a quotient as long as b.
  const bool pays = r ? an >= 4 * kNewtonLimbs : qn >= bn && qn >= 4 * kNewtonLimbs;
  if (bn < kNewtonLimbs || qn < kNewtonLimbs || !pays || !transform_available() ||
      !address_space_room(an * sizeof(mp_limb_t) * 8)) {
    using Both = void (*)(mpz_ptr, mpz_ptr, mpz_srcptr, mpz_srcptr);
    using One = void (*)(mpz_ptr, mpz_srcptr, mpz_srcptr);
    const Both both[] = {mpz_tdiv_qr, mpz_fdiv_qr, mpz_cdiv_qr};
    const One quotient[] = {mpz_tdiv_q, mpz_fdiv_q, mpz_cdiv_q}, remainder[] = {mpz_tdiv_r, mpz_fdiv_r, mpz_cdiv_r};
    const auto k = static_cast<std::size_t>(rounding);
    if (q && r) both[k](q, r, a, b);
    else if (q) quotient[k](q, a, b);
    else remainder[k](r, a, b);
    return;
  }
  // |a| and |b| read in place.
  Mpz qt, rt;
  mpz_t ma, mb;
  mpz_roinit_n(ma, mpz_limbs_read(a), static_cast<mp_size_t>(an));
  mpz_roinit_n(mb, mpz_limbs_read(b), static_cast<mp_size_t>(bn));
  if (!divide_newton(qt.get(), rt.get(), ma, mb)) mpz_tdiv_qr(qt.get(), rt.get(), ma, mb);
  if (mpz_sgn(a) != mpz_sgn(b)) mpz_neg(qt.get(), qt.get());
  if (mpz_sgn(a) < 0) mpz_neg(rt.get(), rt.get());
  // From the truncated quotient: a remainder of b's sign steps the ceiling up, of the other sign the
  // floor down.
  if (rounding != Rounding::zero && mpz_sgn(rt.get()) != 0 &&
      (mpz_sgn(rt.get()) == mpz_sgn(b)) == (rounding == Rounding::ceiling)) {
    if (rounding == Rounding::floor) {
      mpz_sub_ui(qt.get(), qt.get(), 1);
      mpz_add(rt.get(), rt.get(), b);
    } else {
      mpz_add_ui(qt.get(), qt.get(), 1);
      mpz_sub(rt.get(), rt.get(), b);
    }
  }
  if (q) mpz_swap(q, qt.get());
  if (r) mpz_swap(r, rt.get());
}

void* allocate_work(std::size_t bytes) { return gmp_allocate(bytes); }

void release_work(void* block) noexcept { gmp_free(block, 0); }

BlockReuse::BlockReuse() noexcept { ++kept_mappings.depth; }

BlockReuse::~BlockReuse() {
  KeptMappings& k = kept_mappings;
  if (--k.depth == 0) drop_kept(k);
}

Int Int::take_mpz(mpz_ptr z) {
  const int size = z->_mp_size;
  const std::size_t n = static_cast<std::size_t>(size < 0 ? -size : size);
  const auto m = n > 1 ? mapping_of(z->_mp_d) : std::nullopt;
  if (!m) return from_mpz(z);
  // The mapping becomes the block: its header goes right before the limbs, and the pages past the
  // limbs go back to the system.
  if (const std::size_t length = mapped_length(n * sizeof(mp_limb_t)); length < m->length) {
#if defined(__linux__)
    munmap(m->base + length, m->length - length);
#endif
    write_header(m->base, length);
  }
  auto* b = new (reinterpret_cast<detail::BigBlock*>(z->_mp_d) - 1) detail::BigBlock{{1}, size};
  mpz_init(z);
  Int x;
  x.b_ = b;
  return x;
}

Int Int::from_mpz(mpz_srcptr z) {
  int size = z->_mp_size;
  if (size == 0) return Int();
  if (size == 1 && z->_mp_d[0] <= static_cast<std::uint64_t>(INT64_MAX))
    return Int(static_cast<std::int64_t>(z->_mp_d[0]));
  if (size == -1 && z->_mp_d[0] <= (std::uint64_t{1} << 63))
    return Int(static_cast<std::int64_t>(0 - z->_mp_d[0]));
  std::size_t n = static_cast<std::size_t>(size < 0 ? -size : size);
  const std::size_t bytes = n * sizeof(mp_limb_t);
  void* mem = bytes >= kMappedBytes && mapping_supported()
                  ? static_cast<void*>(static_cast<detail::BigBlock*>(allocate_mapped(bytes)) - 1)
                  : ::operator new(sizeof(detail::BigBlock) + bytes);
  auto* b = new (mem) detail::BigBlock{{1}, size};
  std::memcpy(b->limbs(), z->_mp_d, n * sizeof(mp_limb_t));
  Int x;
  x.b_ = b;
  return x;
}

Int Int::from_i128(__int128 v) {
  if (v >= INT64_MIN && v <= INT64_MAX) return Int(static_cast<std::int64_t>(v));
  unsigned __int128 m = v < 0 ? 0 - static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
  mp_limb_t limbs[2] = {static_cast<mp_limb_t>(m), static_cast<mp_limb_t>(m >> 64)};
  int n = limbs[1] ? 2 : 1;
  __mpz_struct z{n, v < 0 ? -n : n, limbs};
  return from_mpz(&z);
}

Int Int::from_u64_big(std::uint64_t v) {
  mp_limb_t limb = v;
  __mpz_struct z{1, 1, &limb};
  return from_mpz(&z);
}

std::uint64_t Int::bit_length() const {
  if (!b_) return v_ == 0 ? 0 : 64 - __builtin_clzll(magnitude(v_));
  std::size_t n = b_->count();
  return 64 * n - __builtin_clzll(b_->limbs()[n - 1]);
}

std::optional<std::uint64_t> Int::exponent_of_two() const {
  if (sign() <= 0) return std::nullopt;
  if (!b_) {
    const auto v = static_cast<std::uint64_t>(v_);
    if ((v & (v - 1)) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(__builtin_ctzll(v));
  }
  const std::uint64_t top = bit_length() - 1;
  if (mpz_scan1(view().get(), 0) != top) return std::nullopt;
  return top;
}

Int Int::shl(std::uint64_t bits) const {
  if (is_zero() || bits == 0) return *this;
  if (bits > kMaxBits) too_large("a shift");
  if (!b_ && bits < 63) {
    __int128 wide = static_cast<__int128>(v_) * (static_cast<__int128>(1) << bits);
    if (wide >= INT64_MIN && wide <= INT64_MAX) return Int(static_cast<std::int64_t>(wide));
  }
  return compute([&] { mpz_mul_2exp(scratch.q, view().get(), bits); }, scratch.q);
}

Int Int::add_slow(const Int& a, const Int& b) {
  return compute([&] { mpz_add(scratch.q, a.view().get(), b.view().get()); }, scratch.q);
}

Int Int::sub_slow(const Int& a, const Int& b) {
  return compute([&] { mpz_sub(scratch.q, a.view().get(), b.view().get()); }, scratch.q);
}

Int Int::mul_slow(const Int& a, const Int& b) {
  if (both_small(a, b)) return from_i128(static_cast<__int128>(a.v_) * b.v_);
  // The product has at least bit_length(a) + bit_length(b) - 1 bits.
  check_product_bits(a.bit_length(), b.bit_length());
  return compute([&] { multiply(scratch.q, a.view().get(), b.view().get()); }, scratch.q);
}

void Int::refuse_product(std::uint64_t bits) {
  throw MemoryRefusal(cat("a product of ", bits, " bits or more exceeds the limit of ", kMaxBits, " bits of an integer"));
}

Int Int::div_slow(const Int& a, const Int& b) {
  if (b.is_zero()) divide_by_zero();
  return compute([&] { divide_into(scratch.q, nullptr, a.view().get(), b.view().get()); }, scratch.q);
}

Int Int::rem_slow(const Int& a, const Int& b) {
  if (b.is_zero()) divide_by_zero();
  if (b.is_small() && b.v_ == -1) return Int();
  return compute([&] { divide_into(nullptr, scratch.r, a.view().get(), b.view().get()); }, scratch.r);
}

Int Int::neg_slow(const Int& a) {
  return compute([&] { mpz_neg(scratch.q, a.view().get()); }, scratch.q);
}

bool Int::eq_slow(const Int& a, const Int& b) {
  if (a.b_ == b.b_) return true;
  return mpz_cmp(a.view().get(), b.view().get()) == 0;
}

std::strong_ordering Int::cmp_slow(const Int& a, const Int& b) {
  int c = mpz_cmp(a.view().get(), b.view().get());
  return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::pair<Int, Int> Int::div_rem(const Int& a, const Int& b) {
  if (both_small(a, b) && b.v_ != 0 && !(b.v_ == -1 && a.v_ == INT64_MIN))
    return {Int(a.v_ / b.v_), Int(a.v_ % b.v_)};
  if (b.is_zero()) divide_by_zero();
  Int q = compute([&] { divide_into(scratch.q, scratch.r, a.view().get(), b.view().get()); }, scratch.q, scratch.r);
  return {std::move(q), take(scratch.r)};
}

Result<Int> Int::div_exact(const Int& a, const Int& b) {
  if (b.is_zero()) return fail(Error::range("Division by zero"));
  if (both_small(a, b)) {
    if (b.v_ == -1) return -a;
    if (a.v_ % b.v_ != 0) return fail(Error::division("Not divisible"));
    return Int(a.v_ / b.v_);
  }
  auto av = a.view();
  auto bv = b.view();
  if (!mpz_divisible_p(av.get(), bv.get())) return fail(Error::division("Not divisible"));
  return compute([&] { mpz_divexact(scratch.q, av.get(), bv.get()); }, scratch.q);
}

Result<Int> Int::mod_floor(const Int& x, const Int& m) {
  if (m.sign() <= 0) return fail(Error::division("Division by zero"));
  Int r = x % m;
  if (r.sign() < 0) r += m;
  return r;
}

Int Int::gcd(const Int& a, const Int& b) {
  if (both_small(a, b)) {
    std::uint64_t g = gcd_u64(magnitude(a.v_), magnitude(b.v_));
    if (g <= static_cast<std::uint64_t>(INT64_MAX)) return Int(static_cast<std::int64_t>(g));
    return from_u64_big(g);
  }
  if (a.is_one() || b.is_one() || a == Int(-1) || b == Int(-1)) return Int(1);
  return compute([&] { mpz_gcd(scratch.q, a.view().get(), b.view().get()); }, scratch.q);
}

Int Int::lcm(const Int& a, const Int& b) { return a == b ? a : a / gcd(a, b) * b; }

Int Int::pow(const Int& base, std::uint32_t e) {
  if (e == 0) return Int(1);
  if (base.is_small()) {
    std::int64_t result = 1, b = base.v_;
    std::uint32_t k = e;
    bool overflow = false;
    if (k & 1) result = b;
    while (k > 1) {
      k >>= 1;
      if (__builtin_mul_overflow(b, b, &b)) {
        overflow = true;
        break;
      }
      if ((k & 1) && __builtin_mul_overflow(result, b, &result)) {
        overflow = true;
        break;
      }
    }
    if (!overflow) return Int(result);
  }
  // |base| >= 2 here, so the result has at least (bit_length − 1) · e + 1 bits.
  if ((base.bit_length() - 1) * static_cast<std::uint64_t>(e) > kMaxBits) too_large("a power");
  // A long base that is a power of a word, b^k·2^s, raised to an exponent that is not a power of two
  // (whose square-and-multiply ends in long products by the base): (b^(k·e))·2^(s·e), by squares of
  // ever longer numbers and products by b alone.
  if (!base.is_small() && (e & (e - 1)) != 0 && base.bit_length() * e >= kSmallBasePowerBits)
    if (const auto root = small_base_of(base))
      return compute(
          [&] {
            power(scratch.q, Mpz(root->base).get(), root->exponent * e);
            mpz_mul_2exp(scratch.q, scratch.q, root->twos * e);
            if (base.sign() < 0 && (e & 1)) mpz_neg(scratch.q, scratch.q);
          },
          scratch.q);
  return compute([&] { power(scratch.q, base.view().get(), e); }, scratch.q);
}

std::uint64_t Int::valuation(const Int& x, std::uint64_t p, std::uint64_t cap) {
  const auto v = x.view();
  if (p == 2) return std::min<std::uint64_t>(mpz_scan1(v.get(), 0), cap);
  if (mpz_sgn(v.get()) == 0) return 0;
  // Divisibility by p^j depends only on x modulo p^j. One pass finds x modulo the largest power of
  // p in a word, which settles any v below its exponent; past it x is taken modulo powers of p
  // growing fourfold until one leaves a remainder, whose valuation is found by halving over ever
  // shorter numbers. No quotient of x itself is formed.
  // p^v <= |x| < 2^bits with p >= 2^(b − 1), b the bits of p: v <= (bits − 1)/(b − 1).
  cap = std::min<std::uint64_t>(cap, (x.bit_length() - 1) / (std::bit_width(p) - 1));
  std::uint64_t word = p, k = 1;
  while (k < cap && word <= std::numeric_limits<std::uint64_t>::max() / p) {
    word *= p;
    ++k;
  }
  if (std::uint64_t r = mpz_tdiv_ui(v.get(), word); r != 0) {
    std::uint64_t low = 0;
    for (; r % p == 0; r /= p) ++low;
    return low;
  }
  if (k >= cap) return cap;
  // p^known divides x; p^next does not, unless next reaches cap.
  std::uint64_t known = k, next = 0;
  Mpz power, rest, quotient;
  for (;;) {
    next = cap / 4 < known ? cap : 4 * known;
    mpz_ui_pow_ui(power.get(), p, next);
    divide_into(nullptr, rest.get(), v.get(), power.get());
    if (mpz_sgn(rest.get()) != 0) break;
    known = next;
    if (known == cap) return cap;
  }
  // x ≡ rest modulo p^next, so v_p(x) = known + v_p(rest / p^known), the latter below next − known.
  mpz_ui_pow_ui(power.get(), p, known);
  mpz_divexact(rest.get(), rest.get(), power.get());
  for (std::uint64_t below = next - known; below > 1;) {
    const std::uint64_t half = below / 2;
    mpz_ui_pow_ui(power.get(), p, half);
    divide_into(quotient.get(), power.get(), rest.get(), power.get());
    if (mpz_sgn(power.get()) == 0) {
      known += half;
      below -= half;
      mpz_swap(rest.get(), quotient.get());
    } else {
      below = half;
      mpz_swap(rest.get(), power.get());
    }
  }
  return known;
}

namespace {

std::optional<SmallBase> small_base_of(const Int& x) {
  const auto v = x.view();
  const std::uint64_t twos = mpz_scan1(v.get(), 0);
  Mpz odd;
  mpz_tdiv_q_2exp(odd.get(), v.get(), twos);
  mpz_abs(odd.get(), odd.get());
  // The base tried is the product of the odd primes below 50 that divide the odd part, once each.
  static constexpr std::uint64_t kPrimes[] = {3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47};
  static constexpr std::uint64_t kProduct = [] {
    std::uint64_t p = 1;
    for (const std::uint64_t q : kPrimes) p *= q;
    return p;
  }();
  const std::uint64_t residue = mpz_tdiv_ui(odd.get(), kProduct);
  std::uint64_t base = 1;
  for (const std::uint64_t q : kPrimes)
    if (residue % q == 0) base *= q;
  if (base == 1) return std::nullopt;
  // Its exponent from the logarithms, then the power itself compared.
  long exp = 0;
  const double mantissa = mpz_get_d_2exp(&exp, odd.get());
  const double estimate = (static_cast<double>(exp) + std::log2(mantissa)) / std::log2(static_cast<double>(base));
  const double k = std::round(estimate);
  if (k < 1 || std::fabs(estimate - k) > 1e-4) return std::nullopt;
  Mpz power;
  mpz_ui_pow_ui(power.get(), base, static_cast<std::uint64_t>(k));
  if (mpz_cmp(power.get(), odd.get()) != 0) return std::nullopt;
  return SmallBase{base, static_cast<std::uint64_t>(k), twos};
}

}  // namespace

Int Int::factorial(std::int64_t n) {
  if (n < 2) return Int(1);
  if (n <= 20) {
    std::int64_t p = 1;
    for (std::int64_t i = 2; i <= n; ++i) p *= i;
    return Int(p);
  }
  if (n > 10'000'000) too_large("a factorial");  // 10^7! has about 2.2·10^8 bits
  return compute([&] { mpz_fac_ui(scratch.q, static_cast<unsigned long>(n)); }, scratch.q);
}

Int Int::binomial(std::int64_t n, std::int64_t k) {
  if (k >= 0 && k <= n) {
    std::int64_t j = std::min(k, n - k);
    // C(n, j) is below both 2^n and n^j.
    std::uint64_t bits = std::min<std::uint64_t>(n, j * Int(n).bit_length());
    if (bits > kMaxBits) too_large("a binomial coefficient");
    return compute([&] { mpz_bin_uiui(scratch.q, static_cast<unsigned long>(n), static_cast<unsigned long>(j)); },
                   scratch.q);
  }
  // Outside 0 <= k <= n one of the factorials below is of a value under 2 and counts as 1: for
  // n >= 2 the other exceeds n!, so the truncated quotient is 0; for n < 2 it is 1 exactly when
  // both k and n − k are below 2.
  if (n >= 2) return Int();
  __int128 rest = static_cast<__int128>(n) - k;
  return Int(k < 2 && rest < 2 ? 1 : 0);
}

std::optional<Int> Int::from_str(std::string_view s) {
  bool neg = false;
  std::size_t i = 0;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    neg = s[0] == '-';
    i = 1;
  }
  if (i == s.size() || s[i] < '0' || s[i] > '9') return std::nullopt;
  // Fast path: plain digits that fit in int64_t.
  std::uint64_t acc = 0;
  std::size_t j = i;
  for (; j < s.size() && s[j] >= '0' && s[j] <= '9'; ++j) {
    unsigned d = static_cast<unsigned>(s[j] - '0');
    if (__builtin_mul_overflow(acc, 10u, &acc) || __builtin_add_overflow(acc, d, &acc)) break;
  }
  if (j == s.size()) {
    if (!neg && acc <= static_cast<std::uint64_t>(INT64_MAX)) return Int(static_cast<std::int64_t>(acc));
    if (neg && acc <= (std::uint64_t{1} << 63)) return Int(static_cast<std::int64_t>(0 - acc));
  }
  // General path: any length, '_' skipped after the first digit.
  std::string digits;
  digits.reserve(s.size() - i + 1);
  if (neg) digits.push_back('-');
  for (std::size_t k = i; k < s.size(); ++k) {
    char c = s[k];
    if (c == '_') continue;
    if (c < '0' || c > '9') return std::nullopt;
    if (c == '0' && digits.size() == (neg ? 1u : 0u)) continue;  // leading zeros
    digits.push_back(c);
  }
  if (digits.size() == (neg ? 1u : 0u)) return Int();
  if (digits.size() > kMaxDigits) return std::nullopt;
  return compute([&] { mpz_set_str(scratch.q, digits.c_str(), 10); }, scratch.q);
}

namespace {

// From this many bits on, the decimal text is formed from parts split off by powers of ten and
// converted on the pool: GMP's conversion of hundreds of millions of bits takes seconds on one thread.
constexpr std::uint64_t kSplitDecimalBits = std::uint64_t{1} << 22;

// Writes the digits of x >= 0 into out[0, width), zero-filled on the left; x has at most width digits.
void write_padded(mpz_srcptr x, char* out, std::size_t width) {
  std::string s(mpz_sizeinbase(x, 10) + 2, '\0');
  mpz_get_str(s.data(), 10, x);
  const std::size_t n = std::strlen(s.data());
  std::memset(out, '0', width - n);
  std::memcpy(out + width - n, s.data(), n);
}

// Appends the digits of |x|, x != 0: |x| split into 2^levels parts of `width` digits by divisions
// by 10^(width·2^i), each level's divisions and then the parts' texts in parallel.
void append_split_decimal(mpz_srcptr x, std::string& out) {
  const std::size_t threads = std::max<std::size_t>(pool::thread_count(), 1);
  unsigned levels = 2;
  while ((std::size_t{1} << levels) < 4 * threads && levels < 8) ++levels;
  const std::size_t parts = std::size_t{1} << levels;
  const std::size_t width = (mpz_sizeinbase(x, 10) + parts - 1) / parts;  // the count may be one over
  std::vector<Mpz> powers(levels);
  mpz_ui_pow_ui(powers[0].get(), 10, width);
  for (unsigned i = 1; i < levels; ++i) mpz_mul(powers[i].get(), powers[i - 1].get(), powers[i - 1].get());
  Watch* watch = current_watch();
  auto parallel = [&](std::size_t n, auto&& body) {
    pool::for_ranges(n, 1, [&](std::size_t lo, std::size_t hi) {
      WorkFor work(watch);
      BlockReuse reuse;
      for (std::size_t j = lo; j < hi; ++j) body(j);
    });
  };
  // level[j]: the j-th part from the top, below 10^(width·2^i) before the split by powers[i].
  std::vector<Mpz> level(1);
  mpz_abs(level[0].get(), x);
  for (unsigned i = levels; i-- > 0;) {
    std::vector<Mpz> next(2 * level.size());
    parallel(level.size(), [&](std::size_t j) {
      mpz_tdiv_qr(next[2 * j].get(), next[2 * j + 1].get(), level[j].get(), powers[i].get());
    });
    level = std::move(next);
  }
  std::string text(parts * width, '0');
  parallel(parts, [&](std::size_t j) { write_padded(level[j].get(), text.data() + j * width, width); });
  out.append(text, text.find_first_not_of('0'));
}

}  // namespace

void Int::fmt(std::string& out) const {
  if (!b_) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v_);
    out.append(buf, end);
    return;
  }
  BlockReuse reuse;
  auto v = view();
  if (mpz_sizeinbase(v.get(), 2) >= kSplitDecimalBits) {
    if (mpz_sgn(v.get()) < 0) out.push_back('-');
    append_split_decimal(v.get(), out);
    return;
  }
  std::size_t at = out.size();
  out.resize(at + mpz_sizeinbase(v.get(), 10) + 2);
  mpz_get_str(out.data() + at, 10, v.get());
  out.resize(at + std::strlen(out.data() + at));
}

std::ostream& operator<<(std::ostream& os, const Int& x) { return os << x.to_string(); }

}  // namespace gy
