// Products of long integers. Past a length where it wins, a product is a cyclic convolution of
// 62-bit pieces taken by number-theoretic transforms modulo three primes below 2^50, in the 52-bit
// multiply-add lanes of AVX-512 (IFMA), and joined again by Chinese remaindering; GMP's own product
// everywhere else. The result is the same product either way.
#pragma once

#include <gmp.h>

#include <cstddef>

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

}  // namespace gy
