#include "num/int.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>

#include "pool.hpp"

namespace gy {

namespace detail {
void free_block(BigBlock* b) noexcept { ::operator delete(b); }
}  // namespace detail

namespace {

// GMP's memory: malloc, realloc and free as GMP's own functions use them, except that a failed
// request throws std::bad_alloc into the operation that made it instead of ending the process.
void* gmp_allocate(std::size_t bytes) {
  if (void* p = std::malloc(bytes)) return p;
  throw std::bad_alloc();
}
void* gmp_reallocate(void* p, std::size_t, std::size_t bytes) {
  if (void* q = std::realloc(p, bytes)) return q;
  throw std::bad_alloc();
}
void gmp_free(void* p, std::size_t) { std::free(p); }

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
  Int x = Int::from_mpz(z);
  trim(z);
  return x;
}

// Runs op, which writes the scratch values z and more, and takes z. When an allocation fails inside
// GMP, the values may name memory already given back: they are made empty again (mpz_init does not
// allocate; what they held, if anything, is left behind) and the failure goes on to the caller.
template <class Op, class... Z>
Int compute(Op&& op, mpz_ptr z, Z... more) {
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

std::uint64_t magnitude(std::int64_t v) { return v < 0 ? 0 - static_cast<std::uint64_t>(v) : v; }

[[noreturn]] void divide_by_zero() { panic("attempt to divide by zero"); }

[[noreturn]] void too_large(std::string_view what) {
  panic_with(cat(what, " exceeds the size limit of integers"), Error::exponent_too_large());
}

}  // namespace

Int Int::from_mpz(mpz_srcptr z) {
  int size = z->_mp_size;
  if (size == 0) return Int();
  if (size == 1 && z->_mp_d[0] <= static_cast<std::uint64_t>(INT64_MAX))
    return Int(static_cast<std::int64_t>(z->_mp_d[0]));
  if (size == -1 && z->_mp_d[0] <= (std::uint64_t{1} << 63))
    return Int(static_cast<std::int64_t>(0 - z->_mp_d[0]));
  std::size_t n = static_cast<std::size_t>(size < 0 ? -size : size);
  void* mem = ::operator new(sizeof(detail::BigBlock) + n * sizeof(mp_limb_t));
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
  return compute([&] { mpz_mul(scratch.q, a.view().get(), b.view().get()); }, scratch.q);
}

void Int::refuse_product(std::uint64_t bits) {
  throw MemoryRefusal(cat("a product of ", bits, " bits or more exceeds the limit of ", kMaxBits, " bits of an integer"));
}

Int Int::div_slow(const Int& a, const Int& b) {
  if (b.is_zero()) divide_by_zero();
  return compute([&] { mpz_tdiv_q(scratch.q, a.view().get(), b.view().get()); }, scratch.q);
}

Int Int::rem_slow(const Int& a, const Int& b) {
  if (b.is_zero()) divide_by_zero();
  if (b.is_small() && b.v_ == -1) return Int();
  return compute([&] { mpz_tdiv_r(scratch.r, a.view().get(), b.view().get()); }, scratch.r);
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
  Int q = compute([&] { mpz_tdiv_qr(scratch.q, scratch.r, a.view().get(), b.view().get()); }, scratch.q, scratch.r);
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
  return compute([&] { mpz_pow_ui(scratch.q, base.view().get(), e); }, scratch.q);
}

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

void Int::fmt(std::string& out) const {
  if (!b_) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v_);
    out.append(buf, end);
    return;
  }
  auto v = view();
  std::size_t at = out.size();
  out.resize(at + mpz_sizeinbase(v.get(), 10) + 2);
  mpz_get_str(out.data() + at, 10, v.get());
  out.resize(at + std::strlen(out.data() + at));
}

std::ostream& operator<<(std::ostream& os, const Int& x) { return os << x.to_string(); }

}  // namespace gy
