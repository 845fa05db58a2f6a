// Row kernels shared by the batch and the layout: gathers of rows of small whole numbers through
// permutation tables (new[j] = old[perm[j]]), the solved test of a row, colour lookups and one-hot
// encoding. Each is written once over the element width and dispatched here: byte permutes of
// whole rows where the CPU has AVX-512 VBMI (rows up to 256 slots), byte shuffles with AVX2 (rows
// of 16 slots or more), slot by slot otherwise. Every kernel gives identical bytes on every path.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gy {

enum class GatherKernel : std::uint8_t { scalar, avx2, avx512 };
bool gather_kernel_available(GatherKernel kernel);
// The fastest kernel this CPU runs; the batch and the layout use it.
GatherKernel best_gather_kernel();

// One-byte gathers as byte shuffles, for rows of 16 slots or more: each output vector of a row (32
// bytes; 16 for rows below 32 slots; the last one ends at the row's end and may overlap the one
// before) is the OR of shuffles of the 16-byte source chunks it draws from (the last chunk also
// ends at the row's end). Only chunks that feed an output vector get a term. Rows of 32 to 64
// slots have a fixed form instead: the output windows [0, 32) and [n - 32, n) each OR one shuffle of
// each of the chunks [0, 16), [16, 32), [n - 32, n - 16) and [n - 16, n).
struct ShufflePlan {
  struct Term {
    alignas(32) std::uint8_t mask[32];  // per output byte: the byte of the chunk, or 0x80 for none
    std::uint32_t source = 0;           // byte offset of the chunk in the row
  };
  static constexpr std::size_t kHalvesBytes = 256;  // per permutation row: 2 windows x 4 chunks x 32

  std::uint32_t vector_bytes = 0;         // 32 or 16; 0: no plan, rows are gathered slot by slot
  std::vector<std::uint32_t> outputs;     // byte offset of each output vector in a row
  std::vector<std::uint32_t> first_term;  // per (permutation row, output vector), then the end
  std::vector<Term> terms;
  std::vector<std::uint8_t> halves;       // the fixed form's masks, for rows of 32 to 64 slots
};

// The byte-shuffle form of a table of one-byte permutation rows of n slots (empty below 16 slots
// and above 256).
ShufflePlan make_shuffle_plan(std::span<const std::uint8_t> table, std::size_t n);

// Permutation rows of n entries, back to back, as Index; `bytes` holds the same rows as bytes
// when n is at most 256 (else null), and `plan` is their shuffle plan (null or empty for none).
template <class Index>
struct GatherTable {
  const Index* rows = nullptr;
  std::size_t n = 0;
  const std::uint8_t* bytes = nullptr;
  const ShufflePlan* plan = nullptr;
};

// The move of each row: moves[r], or moves[0] for every row when `uniform`.
struct RowMoves {
  const std::uint32_t* moves = nullptr;
  bool uniform = false;
  std::uint32_t at(std::size_t r) const { return uniform ? moves[0] : moves[r]; }
};

// The colour each slot shows when solved; `bytes` holds them again as bytes when every colour is
// below 256 (else it is empty).
struct SlotColors {
  std::span<const std::uint16_t> wide;
  std::span<const std::uint8_t> bytes;
};

// Gathers `rows` consecutive rows: dst row r = src row r through table row moves.at(r), with the
// kernel asked for where it applies (one-byte values and rows of at most 256), slot by slot
// otherwise; Out no wider than In, every value fitting Out. When `solved` is not null, solved[r] is also set to whether dst row r
// shows every slot's own colour (colors[dst[j]] == colors[j]), tested while the row is in cache.
// src and dst do not overlap; nothing outside the rows is written.
template <class In, class Out, class Index>
void gather_rows(const GatherTable<Index>& table, const In* src, Out* dst, RowMoves moves, std::size_t rows,
                 const SlotColors* colors = nullptr, std::uint8_t* solved = nullptr,
                 GatherKernel kernel = best_gather_kernel());

// Makes the moves moves[0 .. k) one after another on one row of n values: `row` ends as the row
// after all of them and, when `trail` is not null, row j of trail (k rows) is the row after the
// first j + 1. `spare` holds n values of scratch for the slot-by-slot road.
template <class T, class Index>
void gather_walk(const GatherTable<Index>& table, T* row, const std::uint32_t* moves, std::size_t k, T* trail,
                 T* spare, GatherKernel kernel = best_gather_kernel());

// Moves drawn for a walk and made at once, so many at a time.
inline constexpr std::uint32_t kWalkChunk = 64;

// Makes d moves one after another on one row, move j being next(j) (called in order, kWalkChunk
// at a time, each chunk made by gather_walk); row j of `trail` (d rows), when it is not null, is
// the row after the first j + 1.
template <class T, class Index, class Next>
void walk_row(const GatherTable<Index>& table, T* row, std::uint64_t d, Next&& next, T* trail, T* spare,
              GatherKernel kernel = best_gather_kernel()) {
  std::uint32_t chunk[kWalkChunk];
  for (std::uint64_t done = 0; done < d;) {
    const auto k = static_cast<std::uint32_t>(std::min<std::uint64_t>(kWalkChunk, d - done));
    for (std::uint32_t j = 0; j < k; ++j) chunk[j] = next(done + j);
    gather_walk<T, Index>(table, row, chunk, k, trail ? trail + done * table.n : nullptr, spare, kernel);
    done += k;
  }
}

// solved[r] = whether row r of `rows` consecutive rows of n slot numbers shows every slot's own
// colour.
template <class T>
void solved_rows(const SlotColors& colors, std::size_t n, const T* src, std::size_t rows, std::uint8_t* solved,
                 GatherKernel kernel = best_gather_kernel());

// same[r] = whether row r of `rows` consecutive rows of n values equals `goal` (n values).
template <class T>
void equal_rows(const T* goal, std::size_t n, const T* src, std::size_t rows, std::uint8_t* same,
                GatherKernel kernel = best_gather_kernel());

// dst[k] = colors[src[k]] for the `length` slot numbers at src, each below n: the colours those
// slots' stickers show.
template <class T, class Out>
void color_rows(const SlotColors& colors, std::size_t n, const T* src, std::size_t length, Out* dst,
                GatherKernel kernel = best_gather_kernel());

// Indicator bytes of `rows` rows of n values each, into rows of n * width bytes: byte f * width + v
// of a row is 1 when value f is v (v < width), else 0; a value of width or more leaves its
// facelet's bytes 0. With `colors`, value f is first read as a slot number and replaced by the
// colour it shows (colors[value]). Every output byte is written.
template <class T>
void one_hot_rows(const T* src, std::size_t n, std::size_t width, std::size_t rows, std::uint8_t* dst,
                  const SlotColors* colors = nullptr, GatherKernel kernel = best_gather_kernel());

// The byte kernels under their own names, for tests and benchmarks.
inline void gather_byte_rows(const ShufflePlan& plan, std::span<const std::uint8_t> table, std::size_t n,
                             const std::uint8_t* src, std::uint8_t* dst, const std::uint32_t* moves, bool uniform,
                             std::size_t rows, GatherKernel kernel) {
  gather_rows<std::uint8_t, std::uint8_t, std::uint8_t>({table.data(), n, table.data(), &plan}, src, dst,
                                                        {moves, uniform}, rows, nullptr, nullptr, kernel);
}
inline void solved_byte_rows(std::span<const std::uint8_t> colors8, std::size_t n, const std::uint8_t* src,
                             std::size_t rows, std::uint8_t* solved, GatherKernel kernel) {
  solved_rows<std::uint8_t>({{}, colors8}, n, src, rows, solved, kernel);
}
inline void color_byte_rows(std::span<const std::uint8_t> colors8, std::size_t n, const std::uint8_t* src,
                            std::size_t length, std::uint8_t* dst, GatherKernel kernel) {
  color_rows<std::uint8_t, std::uint8_t>({{}, colors8}, n, src, length, dst, kernel);
}

}  // namespace gy
