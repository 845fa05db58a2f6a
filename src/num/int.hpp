// Integers of any size: a machine integer while the value fits in int64_t, otherwise a shared,
// immutable GMP magnitude. Every result that fits goes back to the small form, so the form carries no
// information: equal values compare, print and hash alike. The small paths are inline and never
// allocate or call GMP.
#pragma once

#include <gmp.h>

#include <atomic>
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "num/error.hpp"

static_assert(GMP_LIMB_BITS == 64 && GMP_NAIL_BITS == 0, "64-bit GMP limbs required");

namespace gy {

namespace detail {
// The shared block of a big value: a reference count, the signed limb count (as GMP's _mp_size) and
// the limbs, least significant first, stored right after the header.
struct alignas(8) BigBlock {
  std::atomic<std::uint32_t> refs;
  std::int32_t size;
  mp_limb_t* limbs() { return reinterpret_cast<mp_limb_t*>(this + 1); }
  const mp_limb_t* limbs() const { return reinterpret_cast<const mp_limb_t*>(this + 1); }
  std::size_t count() const { return static_cast<std::size_t>(size < 0 ? -std::int64_t{size} : size); }
};
void free_block(BigBlock* b) noexcept;
}  // namespace detail

// While one lives on a thread, the large blocks of integers given back on that thread are kept for
// its next requests instead of returned to the system at once, and the last one to end returns them:
// a computation of many large steps that keeps one alive reuses memory already in place instead of
// faulting fresh pages in at every step. Every integer operation keeps one for its own duration.
class BlockReuse {
 public:
  BlockReuse() noexcept;
  ~BlockReuse();
  BlockReuse(const BlockReuse&) = delete;
  BlockReuse& operator=(const BlockReuse&) = delete;
};

// r = a·b and acc += a·b on GMP's integers (any of them may be one), long ones as Int's products go.
void multiply_into(mpz_ptr r, mpz_srcptr a, mpz_srcptr b);
void add_product(mpz_ptr acc, mpz_srcptr a, mpz_srcptr b);
// q = a / b rounded toward zero, down or up, and r = a − q·b, as mpz_tdiv_qr, mpz_fdiv_qr and
// mpz_cdiv_qr give them (either may be null, and may be an operand); long ones through a reciprocal
// by Newton's method on the transforms' products.
enum class Rounding { zero, floor, ceiling };
void divide_into(mpz_ptr q, mpz_ptr r, mpz_srcptr a, mpz_srcptr b, Rounding rounding = Rounding::zero);

// Working memory for long integer work, from the same large blocks as the integers' own (kept for
// reuse while a BlockReuse lives on the thread); throws std::bad_alloc when it cannot be had.
void* allocate_work(std::size_t bytes);
void release_work(void* block) noexcept;

class Int {
 public:
  // Upper bound on the bits that a product, a power, a factorial, a shift amount or a parsed text
  // may produce; exceeding it is refused rather than attempting an unbounded allocation.
  static constexpr std::uint64_t kMaxBits = std::uint64_t{1} << 28;
  static constexpr std::size_t kMaxDigits = 80'000'000;  // ≈ kMaxBits · log10(2)

  // Refuses, as a product of operands of these bit lengths is refused, one whose result would pass
  // kMaxBits: MemoryRefusal "a product of N bits or more exceeds the limit of … bits of an integer".
  static void check_product_bits(std::uint64_t a_bits, std::uint64_t b_bits) {
    if (a_bits + b_bits > kMaxBits + 1) [[unlikely]]
      refuse_product(a_bits + b_bits - 1);
  }

  constexpr Int() noexcept = default;
  template <std::signed_integral S>
  constexpr Int(S v) noexcept : v_(v) {}
  template <std::unsigned_integral U>
    requires(!std::same_as<U, bool>)
  Int(U v) {
    if (static_cast<std::uint64_t>(v) <= static_cast<std::uint64_t>(INT64_MAX))
      v_ = static_cast<std::int64_t>(v);
    else
      *this = from_u64_big(v);
  }

  Int(const Int& o) noexcept : v_(o.v_), b_(o.b_) {
    if (b_) b_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  Int(Int&& o) noexcept : v_(o.v_), b_(o.b_) {
    o.v_ = 0;
    o.b_ = nullptr;
  }
  Int& operator=(const Int& o) noexcept {
    Int t(o);
    swap(t);
    return *this;
  }
  Int& operator=(Int&& o) noexcept {
    swap(o);
    return *this;
  }
  ~Int() {
    if (b_ && b_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) detail::free_block(b_);
  }
  void swap(Int& o) noexcept {
    std::swap(v_, o.v_);
    std::swap(b_, o.b_);
  }

  // The single road back from a GMP value: small when it fits, else a new shared block.
  static Int from_mpz(mpz_srcptr z);
  // The value of z, which may give up its memory for it (a large block becomes the Int's own, no
  // copy); z is left holding some value.
  static Int take_mpz(mpz_ptr z);
  static Int from_i128(__int128 v);

  bool is_small() const { return b_ == nullptr; }
  bool is_zero() const { return !b_ && v_ == 0; }
  bool is_one() const { return !b_ && v_ == 1; }
  int sign() const { return b_ ? (b_->size < 0 ? -1 : 1) : (v_ > 0) - (v_ < 0); }
  bool is_odd() const { return b_ ? (b_->limbs()[0] & 1) : (v_ & 1); }
  std::optional<std::int64_t> to_i64() const {
    if (b_) return std::nullopt;
    return v_;
  }
  // Bit length of the magnitude; 0 for zero.
  std::uint64_t bit_length() const;
  // k when this is 2^k.
  std::optional<std::uint64_t> exponent_of_two() const;

  Int abs() const { return b_ ? (b_->size < 0 ? neg_slow(*this) : *this) : v_ >= 0 ? *this : -*this; }
  Int shl(std::uint64_t bits) const;  // this · 2^bits; bits beyond kMaxBits is a broken invariant

  // Truncating quotient and remainder; a zero divisor aborts the call ("attempt to divide by zero").
  static std::pair<Int, Int> div_rem(const Int& a, const Int& b);
  // a / b when b divides a: Range "Division by zero", Division "Not divisible".
  static Result<Int> div_exact(const Int& a, const Int& b);
  // The residue of x in [0, m); Division "Division by zero" when m <= 0.
  static Result<Int> mod_floor(const Int& x, const Int& m);
  static Int gcd(const Int& a, const Int& b);
  // The least common multiple of a > 0 and b > 0.
  static Int lcm(const Int& a, const Int& b);
  // base^e, 0^0 = 1; a result surely above kMaxBits aborts the call.
  static Int pow(const Int& base, std::uint32_t e);
  // The largest v <= cap with p^v dividing x != 0, for a prime p.
  static std::uint64_t valuation(const Int& x, std::uint64_t p, std::uint64_t cap);
  // 2·3·…·n, 1 for n < 2.
  static Int factorial(std::int64_t n);
  // n! / (k! · (n−k)!) with the factorial of any value below 2 taken as 1.
  static Int binomial(std::int64_t n, std::int64_t k);

  // Optional sign, decimal digits, '_' allowed after the first digit; none for anything else.
  static std::optional<Int> from_str(std::string_view s);
  void fmt(std::string& out) const;
  std::string to_string() const {
    std::string s;
    fmt(s);
    return s;
  }

  // Canonical bytes: one little-endian word for a value in int64_t range, else a word 0 (negative)
  // or 2 (positive), the count of 64-bit magnitude digits and the digits, least significant first.
  template <class Hasher>
  void hash(Hasher& h) const {
    if (!b_) return write_word(h, static_cast<std::uint64_t>(v_));
    write_word(h, b_->size < 0 ? 0 : 2);
    std::size_t n = b_->count();
    write_word(h, n);
    for (std::size_t i = 0; i < n; ++i) write_word(h, b_->limbs()[i]);
  }

  // A read-only GMP view of the value, valid while both the view and this Int live.
  class MpzView {
   public:
    explicit MpzView(const Int& x) {
      if (x.b_) {
        z_._mp_alloc = static_cast<int>(x.b_->count());
        z_._mp_size = x.b_->size;
        z_._mp_d = const_cast<mp_limb_t*>(x.b_->limbs());
      } else {
        limb_ = x.v_ < 0 ? 0 - static_cast<std::uint64_t>(x.v_) : static_cast<std::uint64_t>(x.v_);
        z_._mp_alloc = 1;
        z_._mp_size = x.v_ < 0 ? -1 : x.v_ > 0 ? 1 : 0;
        z_._mp_d = &limb_;
      }
    }
    MpzView(const MpzView&) = delete;
    MpzView& operator=(const MpzView&) = delete;
    mpz_srcptr get() const { return &z_; }

   private:
    mp_limb_t limb_ = 0;
    __mpz_struct z_;
  };
  MpzView view() const { return MpzView(*this); }

  // Arithmetic. Small operands without overflow never leave the inline path.
  friend Int operator+(const Int& a, const Int& b) {
    std::int64_t r;
    if (both_small(a, b) && !__builtin_add_overflow(a.v_, b.v_, &r)) [[likely]]
      return Int(r);
    return add_slow(a, b);
  }
  friend Int operator-(const Int& a, const Int& b) {
    std::int64_t r;
    if (both_small(a, b) && !__builtin_sub_overflow(a.v_, b.v_, &r)) [[likely]]
      return Int(r);
    return sub_slow(a, b);
  }
  friend Int operator*(const Int& a, const Int& b) {
    std::int64_t r;
    if (both_small(a, b) && !__builtin_mul_overflow(a.v_, b.v_, &r)) [[likely]]
      return Int(r);
    return mul_slow(a, b);
  }
  friend Int operator/(const Int& a, const Int& b) {
    if (both_small(a, b) && b.v_ != 0 && !(b.v_ == -1 && a.v_ == INT64_MIN)) [[likely]]
      return Int(a.v_ / b.v_);
    return div_slow(a, b);
  }
  friend Int operator%(const Int& a, const Int& b) {
    if (both_small(a, b) && b.v_ != 0 && b.v_ != -1) [[likely]]
      return Int(a.v_ % b.v_);
    return rem_slow(a, b);
  }
  Int operator-() const {
    if (!b_ && v_ != INT64_MIN) [[likely]]
      return Int(-v_);
    return neg_slow(*this);
  }
  Int& operator+=(const Int& o) {
    std::int64_t r;
    if (both_small(*this, o) && !__builtin_add_overflow(v_, o.v_, &r)) [[likely]] {
      v_ = r;
      return *this;
    }
    return *this = add_slow(*this, o);
  }
  Int& operator-=(const Int& o) {
    std::int64_t r;
    if (both_small(*this, o) && !__builtin_sub_overflow(v_, o.v_, &r)) [[likely]] {
      v_ = r;
      return *this;
    }
    return *this = sub_slow(*this, o);
  }
  Int& operator*=(const Int& o) {
    std::int64_t r;
    if (both_small(*this, o) && !__builtin_mul_overflow(v_, o.v_, &r)) [[likely]] {
      v_ = r;
      return *this;
    }
    return *this = mul_slow(*this, o);
  }
  Int& operator/=(const Int& o) { return *this = *this / o; }
  Int& operator%=(const Int& o) { return *this = *this % o; }

  friend bool operator==(const Int& a, const Int& b) {
    if (both_small(a, b)) [[likely]]
      return a.v_ == b.v_;
    return eq_slow(a, b);
  }
  friend std::strong_ordering operator<=>(const Int& a, const Int& b) {
    if (both_small(a, b)) [[likely]]
      return a.v_ <=> b.v_;
    return cmp_slow(a, b);
  }

 private:
  static bool both_small(const Int& a, const Int& b) {
    return (reinterpret_cast<std::uintptr_t>(a.b_) | reinterpret_cast<std::uintptr_t>(b.b_)) == 0;
  }
  template <class Hasher>
  static void write_word(Hasher& h, std::uint64_t w) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(w >> (8 * i));
    h.write(bytes, 8);
  }
  static Int from_u64_big(std::uint64_t v);
  [[noreturn]] static void refuse_product(std::uint64_t bits);
  static Int add_slow(const Int& a, const Int& b);
  static Int sub_slow(const Int& a, const Int& b);
  static Int mul_slow(const Int& a, const Int& b);
  static Int div_slow(const Int& a, const Int& b);
  static Int rem_slow(const Int& a, const Int& b);
  static Int neg_slow(const Int& a);
  static bool eq_slow(const Int& a, const Int& b);
  static std::strong_ordering cmp_slow(const Int& a, const Int& b);

  std::int64_t v_ = 0;              // the value when small; 0 when big
  detail::BigBlock* b_ = nullptr;  // the shared magnitude when big
};

std::ostream& operator<<(std::ostream& os, const Int& x);

// An owned GMP integer for work done in GMP's own calls: released however its scope ends, so an
// allocation failure thrown out of GMP leaks nothing.
class Mpz {
 public:
  Mpz() { mpz_init(v_); }
  explicit Mpz(const Int& x) { mpz_init_set(v_, x.view().get()); }
  explicit Mpz(unsigned long x) { mpz_init_set_ui(v_, x); }
  Mpz(const Mpz& o) { mpz_init_set(v_, o.v_); }
  Mpz(Mpz&& o) noexcept {
    mpz_init(v_);
    mpz_swap(v_, o.v_);
  }
  Mpz& operator=(const Mpz& o) {
    mpz_set(v_, o.v_);
    return *this;
  }
  Mpz& operator=(Mpz&& o) noexcept {
    mpz_swap(v_, o.v_);
    return *this;
  }
  ~Mpz() { mpz_clear(v_); }

  mpz_ptr get() { return v_; }
  mpz_srcptr get() const { return v_; }
  int sign() const { return mpz_sgn(v_); }
  Int to_int() const { return Int::from_mpz(v_); }
  // The value, taking this one's memory when that saves a copy; this is left holding some value.
  Int take_int() { return Int::take_mpz(v_); }

 private:
  mpz_t v_;
};

}  // namespace gy
