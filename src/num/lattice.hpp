// Lattice bases of integer rows: LLL reduction steered by floating-point Gram–Schmidt data over exact
// integer rows, and a proof, in floating point with rounding errors bounded, that trailing rows are
// long.
//
// The reduction only ever applies unimodular integer row operations, so whatever it does, and whether
// or not it succeeds, the rows span the same lattice. Soundness therefore rests on `short_span` alone,
// whose answer is proven: every lattice vector no longer than the bound is a combination of the rows it
// keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gy {

using LatticeRow = std::vector<std::int64_t>;

// Entries stay within ±2^kLatticeEntryBits; an operation that would leave that range fails.
inline constexpr int kLatticeEntryBits = 60;

// LLL reduction (δ = 0.75, size reduction to 0.51) of linearly independent rows of equal length, in
// place. The Gram matrix is kept exactly; Gram–Schmidt data are computed from it in double
// precision, and again in long double and then quadruple precision when that does not settle. False when an entry or a Gram entry
// would leave its range or the reduction does not settle; the rows then still span the same lattice.
// Polls for interruption.
bool lll_reduce(std::vector<LatticeRow>& rows);

// The number m of leading rows that span every lattice vector v with |v|² <= bound2: rows m, m + 1, …
// each have a Gram–Schmidt norm whose square provably exceeds bound2 rounded up to an integer (a
// vector with a non-zero coefficient on any of them is longer than that). A row whose norm cannot be proven large is kept,
// so the answer may be larger than the exact one, never smaller. The rows must be linearly
// independent with exact dot products below 2^125.
std::size_t short_span(const std::vector<LatticeRow>& rows, long double bound2);

}  // namespace gy
