// Factoring of polynomials with rational coefficients into their distinct irreducible factors over
// the rationals: squarefree part, primitive integer form, a small prime modulo which the polynomial
// stays squarefree, distinct-degree and equal-degree splitting modulo that prime, quadratic Hensel
// lifting along a balanced split of the factor list, and recombination of the lifted factors by
// trial division over subsets, smallest first.
//
// The factors and their order are always those of that plain search at the first prime, but they
// are found by other means where cheaper: Eisenstein's criterion and Capelli's theorem; a polynomial
// in x^d through the factors of its deflation; a prime with fewer modular factors; and lattice
// reduction on the power sums of the lifted factors (with an LLL whose dropping of vectors is
// proven), tried first for few modular factors, and after the subsets of the smaller sizes when
// there are many. The factors so found are put in the order of the plain search, which meets each
// as the set of modular factors it reduces to. Recombination is polynomial in the number of modular
// factors; subsets are enumerated only while they are fewer than about its cube.
#pragma once

#include <cstdint>
#include <vector>

#include "num/error.hpp"
#include "num/int.hpp"
#include "num/polynomial.hpp"

namespace gy {

// What `factor` accepts: a degree up to kFactorMaxDegree, numerators and denominators of the input
// and the coefficients of its primitive integer form up to kFactorMaxBits bits. Beyond that it fails
// with a Range error rather than start work without a useful end (the splitting modulo a prime
// alone grows with the cube of the degree). Within these limits a prime below 2^32 always
// qualifies.
inline constexpr std::int64_t kFactorMaxDegree = 1024;
inline constexpr std::uint64_t kFactorMaxBits = std::uint64_t{1} << 16;

// The random state of the residue draws of equal-degree splitting, one per thread, never reseeded.
// It decides only the order of the factors.
extern thread_local std::uint64_t xorshift_state;

// The distinct irreducible factors of f over the rationals, each primitive with integer
// coefficients (held as n/1); multiplicities, the content and constants are dropped, and a non-zero
// constant has none. For a negative leading coefficient exactly one factor is negative. The zero
// polynomial fails with Range "monic() of zero polynomial".
Result<std::vector<FracPoly>> factor(const FracPoly& f);

// The smallest odd prime that does not divide the leading coefficient of F and modulo which F stays
// squarefree. Other "choose_prime of zero polynomial" for zero.
Result<Int> choose_prime(const IntPoly& F);

// The factors of f modulo the prime p, when every irreducible factor of f has degree d: each of
// degree d, their product f. Split by gcds with powers of random polynomials drawn from
// `xorshift_state`; all but the last are monic and the last keeps the leading coefficient of f.
// Range "p=2 not implemented" for p = 2.
Result<std::vector<ModPoly>> factor_mod_p(const ModPoly& f, std::uint64_t d, const Int& p);

// The monic factors modulo p lifted to p^k, in the same order, given F ≡ lc(F)·(their product)
// modulo p with the factors monic and pairwise coprime. Other "exponent too large" when p^k would
// exceed the size limit of Int.
Result<std::vector<ModPoly>> hensel_lift(const IntPoly& F, const std::vector<ModPoly>& factors, const Int& p,
                                         const Int& k);

// The irreducible factors of F from its lifted factors modulo P = p^k: subsets by increasing size,
// in decreasing lexicographic order within a size, each tested by trial division; the remainder
// comes last. The lattice shortcut needs monic lifts of F's factorisation and P a power of a prime
// below 2^32; otherwise every size is searched.
Result<std::vector<IntPoly>> combine_factors(const IntPoly& F, const std::vector<ModPoly>& lifted, const Int& P);

}  // namespace gy
