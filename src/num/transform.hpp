// Products of long integers. Past a length where it wins, a product is a cyclic convolution of
// 62-bit pieces taken by number-theoretic transforms modulo three primes below 2^50, in the 52-bit
// multiply-add lanes of AVX-512 (IFMA), and joined again by Chinese remaindering; GMP's own product
// everywhere else. The result is the same product either way.
#pragma once

#include <gmp.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace gy {

// Operands of at least this many limbs each are multiplied by transforms where the machine allows.
inline constexpr std::size_t kTransformLimbs = 5'000;

// r[0, an + bn) = a·b for an, bn >= 1; r overlaps neither operand (a and b may be one).
void multiply_limbs(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn);

// Whether this machine has the lanes the transforms run in.
bool transform_available();

// The product by transforms alone, whatever the lengths: false, with r untouched, where the machine
// lacks the lanes, the product is past the transforms' length of 2^26 pieces, or their working
// memory cannot be had.
bool transform_multiply(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn);

// A factor b transformed once, for products by many operands whose products with it have at most
// `product_limbs` limbs: empty (false) where the machine lacks the lanes or the transforms' length
// would pass 2^26 points.
class TransformedFactor {
 public:
  TransformedFactor() = default;
  TransformedFactor(const mp_limb_t* b, std::size_t bn, std::size_t product_limbs);
  explicit operator bool() const { return len_ != 0; }

 private:
  friend bool multiply_transformed(mp_limb_t*, const mp_limb_t*, std::size_t, const TransformedFactor&);
  // The points live in the integers' working memory, whose blocks are reused while an operation
  // keeps them, and are written once, by the transforms.
  struct Release {
    void operator()(std::uint64_t* p) const noexcept;
  };
  std::size_t bn_ = 0, product_ = 0, len_ = 0;
  std::unique_ptr<std::uint64_t[], Release> points_;  // modulo each prime in turn, len_ apiece
};

// r[0, an + bn) = a·b for the b of f, an + bn within its product limbs; false, r untouched, where f
// is empty, the product too long for it, or the working memory cannot be had.
bool multiply_transformed(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const TransformedFactor& f);

}  // namespace gy
