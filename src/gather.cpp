#include "gather.hpp"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "cpu.hpp"

namespace gy {
namespace {

bool use_avx512(GatherKernel kernel, std::size_t n) {
  return kernel == GatherKernel::avx512 && n <= 256 && cpu_has_avx512_vbmi();
}

// The colour of slot s, from the bytes when there are any.
struct ColorOf {
  const SlotColors& c;
  std::uint32_t operator()(std::size_t s) const { return c.bytes.empty() ? c.wide[s] : c.bytes[s]; }
};

// f(c) with c the colour of each slot: the bytes when there are any, else the wide colours.
template <class F>
[[gnu::always_inline]] inline decltype(auto) with_colors(const SlotColors& colors, F&& f) {
  return colors.bytes.empty() ? f(colors.wide.data()) : f(colors.bytes.data());
}

template <class T>
bool row_shows_colors(const SlotColors& colors, const T* row, std::size_t n) {
  return with_colors(colors, [=](const auto* c) {
    for (std::size_t j = 0; j < n; ++j)
      if (c[row[j]] != c[j]) return false;
    return true;
  });
}

template <class In, class Out, class Index>
void gather_scalar(const GatherTable<Index>& t, const In* src, Out* dst, RowMoves moves, std::size_t rows,
                   const SlotColors* colors, std::uint8_t* solved) {
  const std::size_t n = t.n;
  for (std::size_t r = 0; r < rows; ++r, src += n, dst += n) {
    const Index* p = t.rows + std::size_t{moves.at(r)} * n;
    for (std::size_t j = 0; j < n; ++j) dst[j] = static_cast<Out>(src[p[j]]);
    if (solved) solved[r] = row_shows_colors(*colors, dst, n) ? 1 : 0;
  }
}

// One move of a row of 32 to 64 bytes in the fixed form: the windows a = [0, 32) and b = [n - 32, n)
// of the row become those of the moved row. Each of the four chunks is broadcast to both halves of
// a register, and each window is the OR of one shuffle per chunk.
[[gnu::target("avx2")]] inline void move_halves(__m256i& a, __m256i& b, const std::uint8_t* masks) {
  const __m256i chunks[4] = {_mm256_permute2x128_si256(a, a, 0x00), _mm256_permute2x128_si256(a, a, 0x11),
                             _mm256_permute2x128_si256(b, b, 0x00), _mm256_permute2x128_si256(b, b, 0x11)};
  __m256i window[2];
  for (int o = 0; o < 2; ++o) {
    const auto* t = reinterpret_cast<const __m256i*>(masks + o * 128);
    const __m256i x0 = _mm256_shuffle_epi8(chunks[0], _mm256_loadu_si256(t + 0));
    const __m256i x1 = _mm256_shuffle_epi8(chunks[1], _mm256_loadu_si256(t + 1));
    const __m256i x2 = _mm256_shuffle_epi8(chunks[2], _mm256_loadu_si256(t + 2));
    const __m256i x3 = _mm256_shuffle_epi8(chunks[3], _mm256_loadu_si256(t + 3));
    window[o] = _mm256_or_si256(_mm256_or_si256(x0, x1), _mm256_or_si256(x2, x3));
  }
  a = window[0];
  b = window[1];
}

[[gnu::target("avx2")]] inline void load_halves(const std::uint8_t* s, std::size_t n, __m256i& a, __m256i& b) {
  a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + n - 32));
}

[[gnu::target("avx2")]] inline void store_halves(std::uint8_t* d, std::size_t n, __m256i a, __m256i b) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), a);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + n - 32), b);
}

// A walk on a row of 32 to 64 bytes in the fixed form, its two windows held in registers.
[[gnu::target("avx2")]] void walk_halves_avx2(const ShufflePlan& plan, std::size_t n, std::uint8_t* row,
                                              const std::uint32_t* moves, std::size_t k, std::uint8_t* trail) {
  __m256i a, b;
  load_halves(row, n, a, b);
  for (std::size_t j = 0; j < k; ++j) {
    move_halves(a, b, plan.halves.data() + std::size_t{moves[j]} * ShufflePlan::kHalvesBytes);
    if (trail) store_halves(trail + j * n, n, a, b);
  }
  store_halves(row, n, a, b);
}

[[gnu::target("avx2")]] void gather_shuffled_avx2(const ShufflePlan& plan, std::size_t n, const std::uint8_t* src,
                                                  std::uint8_t* dst, RowMoves moves, std::size_t rows,
                                                  const SlotColors* colors, std::uint8_t* solved) {
  if (!plan.halves.empty()) {
    for (std::size_t r = 0; r < rows; ++r, src += n, dst += n) {
      __m256i a, b;
      load_halves(src, n, a, b);
      move_halves(a, b, plan.halves.data() + std::size_t{moves.at(r)} * ShufflePlan::kHalvesBytes);
      store_halves(dst, n, a, b);
      if (solved) solved[r] = row_shows_colors(*colors, dst, n) ? 1 : 0;
    }
    return;
  }
  const std::size_t outs = plan.outputs.size();
  const std::uint32_t* first = plan.first_term.data();
  const ShufflePlan::Term* terms = plan.terms.data();
  const std::uint32_t* offsets = plan.outputs.data();
  for (std::size_t r = 0; r < rows; ++r, src += n, dst += n) {
    const std::uint32_t* f = first + std::size_t{moves.at(r)} * outs;
    for (std::size_t o = 0; o < outs; ++o) {
      if (plan.vector_bytes == 32) {
        __m256i acc = _mm256_setzero_si256();
        for (std::uint32_t t = f[o], end = f[o + 1]; t < end; ++t) {
          const __m256i chunk =
              _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + terms[t].source)));
          const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(terms[t].mask));
          acc = _mm256_or_si256(acc, _mm256_shuffle_epi8(chunk, mask));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + offsets[o]), acc);
      } else {
        __m128i acc = _mm_setzero_si128();
        for (std::uint32_t t = f[o], end = f[o + 1]; t < end; ++t) {
          const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + terms[t].source));
          const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(terms[t].mask));
          acc = _mm_or_si128(acc, _mm_shuffle_epi8(chunk, mask));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + offsets[o]), acc);
      }
    }
    if (solved) solved[r] = row_shows_colors(*colors, dst, n) ? 1 : 0;
  }
}

// The bytes of a row from `offset` on that fall in one 64-byte vector.
constexpr std::uint64_t lane_mask(std::size_t n, std::size_t offset) {
  const std::size_t left = n > offset ? n - offset : 0;
  return left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
}

// A row of up to 256 bytes in four 64-byte vectors (those past the row zero), and the byte lookup
// out[j] = row[index[j]] for indices below the row's length.
struct WideRow {
  __m512i part[4];
};

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline WideRow load_wide_row(const std::uint8_t* p, std::size_t n) {
  WideRow w;
  for (std::size_t q = 0; q < 4; ++q)
    w.part[q] = 64 * q < n ? _mm512_maskz_loadu_epi8(lane_mask(n, 64 * q), p + 64 * q) : _mm512_setzero_si512();
  return w;
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline __m512i look_up(const WideRow& w, std::size_t n, __m512i index) {
  // (The masked form with every lane on: the plain one trips a false uninitialised warning.)
  if (n <= 64) return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, w.part[0]);
  const __m512i low = _mm512_permutex2var_epi8(w.part[0], index, w.part[1]);
  if (n <= 128) return low;
  const __m512i high = _mm512_permutex2var_epi8(w.part[2], index, w.part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// Of `rows` rows of n bytes back to back, how many from the first have 64 bytes from their start
// within the rows (r * n + 64 <= rows * n).
constexpr std::size_t whole_vector_rows(std::size_t n, std::size_t rows) {
  return rows * n >= 64 ? (rows * n - 64) / n + 1 : 0;
}

// Whether the row of n bytes at src, each read through `through` when it is not null, equals `want`.
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline bool row_equals(const std::uint8_t* src, std::size_t n,
                                                                      const WideRow& want, const WideRow* through) {
  bool same = true;
  for (std::size_t o = 0; o < (n + 63) / 64; ++o) {
    const __mmask64 m = lane_mask(n, 64 * o);
    const __m512i row = _mm512_maskz_loadu_epi8(m, src + 64 * o);
    same &= _mm512_mask_cmpeq_epi8_mask(m, through ? look_up(*through, n, row) : row, want.part[o]) == m;
  }
  return same;
}

// Rows of at most 64 slots, one vector each. A row whose 64 bytes lie within the rows of the call
// is loaded and stored whole: the bytes it writes past its end belong to the rows after it, which
// are written afterwards.
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void gather_short_avx512(const std::uint8_t* table, std::size_t n,
                                                                       const std::uint8_t* src, std::uint8_t* dst,
                                                                       RowMoves moves, std::size_t rows,
                                                                       const std::uint8_t* colors8,
                                                                       std::uint8_t* solved) {
  if (rows == 0) return;
  const __mmask64 m = lane_mask(n, 0);
  const __m512i colors = solved ? _mm512_maskz_loadu_epi8(m, colors8) : _mm512_setzero_si512();
  const std::size_t whole = whole_vector_rows(n, rows);
  __m512i index = _mm512_maskz_loadu_epi8(m, table + std::size_t{moves.at(0)} * n);
  for (std::size_t r = 0; r < rows; ++r, src += n, dst += n) {
    const bool full = r < whole;
    if (!moves.uniform) index = _mm512_maskz_loadu_epi8(m, table + std::size_t{moves.moves[r]} * n);
    const __m512i row = full ? _mm512_loadu_si512(src) : _mm512_maskz_loadu_epi8(m, src);
    const __m512i moved = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, row);
    if (full)
      _mm512_storeu_si512(dst, moved);
    else
      _mm512_mask_storeu_epi8(dst, m, moved);
    if (solved) {
      const __m512i shown = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, moved, colors);
      solved[r] = _mm512_mask_cmpeq_epi8_mask(m, shown, colors) == m ? 1 : 0;
    }
  }
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void gather_permuted_avx512(const std::uint8_t* table, std::size_t n,
                                                                          const std::uint8_t* src, std::uint8_t* dst,
                                                                          RowMoves moves, std::size_t rows,
                                                                          const std::uint8_t* colors8,
                                                                          std::uint8_t* solved) {
  if (n <= 64) return gather_short_avx512(table, n, src, dst, moves, rows, colors8, solved);
  const std::size_t outs = (n + 63) / 64;
  const WideRow colors = solved ? load_wide_row(colors8, n) : WideRow{};
  for (std::size_t r = 0; r < rows; ++r, src += n, dst += n) {
    const std::uint8_t* p = table + std::size_t{moves.at(r)} * n;
    const WideRow row = load_wide_row(src, n);
    bool same = true;
    for (std::size_t o = 0; o < outs; ++o) {
      const __mmask64 m = lane_mask(n, 64 * o);
      const __m512i moved = look_up(row, n, _mm512_maskz_loadu_epi8(m, p + 64 * o));
      _mm512_mask_storeu_epi8(dst + 64 * o, m, moved);
      if (solved) same &= _mm512_mask_cmpeq_epi8_mask(m, look_up(colors, n, moved), colors.part[o]) == m;
    }
    if (solved) solved[r] = same ? 1 : 0;
  }
}

// A walk on a row of up to 256 bytes held in registers throughout.
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void walk_avx512(const std::uint8_t* table, std::size_t n,
                                                               std::uint8_t* row, const std::uint32_t* moves,
                                                               std::size_t k, std::uint8_t* trail) {
  if (n <= 64) {
    const __mmask64 m = lane_mask(n, 0);
    __m512i w = _mm512_maskz_loadu_epi8(m, row);
    for (std::size_t j = 0; j < k; ++j) {
      w = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, _mm512_maskz_loadu_epi8(m, table + std::size_t{moves[j]} * n),
                                        w);
      if (trail) _mm512_mask_storeu_epi8(trail + j * n, m, w);
    }
    _mm512_mask_storeu_epi8(row, m, w);
    return;
  }
  const std::size_t parts = (n + 63) / 64;
  WideRow w = load_wide_row(row, n);
  for (std::size_t j = 0; j < k; ++j) {
    const std::uint8_t* p = table + std::size_t{moves[j]} * n;
    WideRow next = w;
    for (std::size_t o = 0; o < parts; ++o)
      next.part[o] = look_up(w, n, _mm512_maskz_loadu_epi8(lane_mask(n, 64 * o), p + 64 * o));
    w = next;
    if (trail)
      for (std::size_t o = 0; o < parts; ++o)
        _mm512_mask_storeu_epi8(trail + j * n + 64 * o, lane_mask(n, 64 * o), w.part[o]);
  }
  for (std::size_t o = 0; o < parts; ++o) _mm512_mask_storeu_epi8(row + 64 * o, lane_mask(n, 64 * o), w.part[o]);
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void solved_avx512(const std::uint8_t* colors8, std::size_t n,
                                                                 const std::uint8_t* src, std::size_t rows,
                                                                 std::uint8_t* solved) {
  const WideRow colors = load_wide_row(colors8, n);
  for (std::size_t r = 0; r < rows; ++r, src += n) solved[r] = row_equals(src, n, colors, &colors) ? 1 : 0;
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void equal_avx512(const std::uint8_t* goal, std::size_t n,
                                                                const std::uint8_t* src, std::size_t rows,
                                                                std::uint8_t* same) {
  if (n <= 64) {
    const __mmask64 m = lane_mask(n, 0);
    const __m512i g = _mm512_maskz_loadu_epi8(m, goal);
    const std::size_t whole = whole_vector_rows(n, rows);
    std::size_t r = 0;
    for (; r < whole; ++r, src += n) same[r] = _mm512_mask_cmpeq_epi8_mask(m, _mm512_loadu_si512(src), g) == m;
    for (; r < rows; ++r, src += n) same[r] = _mm512_mask_cmpeq_epi8_mask(m, _mm512_maskz_loadu_epi8(m, src), g) == m;
    return;
  }
  const WideRow g = load_wide_row(goal, n);
  for (std::size_t r = 0; r < rows; ++r, src += n) same[r] = row_equals(src, n, g, nullptr) ? 1 : 0;
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void colors_avx512(const std::uint8_t* colors8, std::size_t n,
                                                                  const std::uint8_t* src, std::size_t length,
                                                                  std::uint8_t* dst) {
  const WideRow colors = load_wide_row(colors8, n);
  std::size_t k = 0;
  for (; k + 64 <= length; k += 64)
    _mm512_storeu_si512(dst + k, look_up(colors, n, _mm512_loadu_si512(src + k)));
  if (k < length) {
    const __mmask64 m = lane_mask(length, k);
    _mm512_mask_storeu_epi8(dst + k, m, look_up(colors, n, _mm512_maskz_loadu_epi8(m, src + k)));
  }
}

// Per 64-byte output vector of a one-hot row: the facelet each byte belongs to and the value it
// stands for.
struct OneHotPattern {
  std::vector<std::uint8_t> facelet, value;
  OneHotPattern(std::size_t n, std::size_t width) {
    const std::size_t bytes = n * width, vectors = (bytes + 63) / 64;
    facelet.assign(vectors * 64, 0);
    value.assign(vectors * 64, 0);
    for (std::size_t b = 0; b < bytes; ++b) {
      facelet[b] = static_cast<std::uint8_t>(b / width);
      value[b] = static_cast<std::uint8_t>(b % width);
    }
  }
};

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void one_hot_avx512(const std::uint8_t* src, std::size_t n,
                                                                  std::size_t width, std::size_t rows,
                                                                  std::uint8_t* dst, const std::uint8_t* colors8) {
  const OneHotPattern pattern(n, width);
  const std::size_t bytes = n * width, vectors = (bytes + 63) / 64;
  const WideRow colors = colors8 ? load_wide_row(colors8, n) : WideRow{};
  const __m512i one = _mm512_set1_epi8(1);
  for (std::size_t r = 0; r < rows; ++r, src += n, dst += bytes) {
    const WideRow row = load_wide_row(src, n);
    for (std::size_t o = 0; o < vectors; ++o) {
      const __mmask64 m = lane_mask(bytes, 64 * o);
      __m512i v = look_up(row, n, _mm512_loadu_si512(pattern.facelet.data() + 64 * o));
      if (colors8) v = look_up(colors, n, v);
      const __mmask64 hit = _mm512_mask_cmpeq_epi8_mask(m, v, _mm512_loadu_si512(pattern.value.data() + 64 * o));
      _mm512_mask_storeu_epi8(dst + 64 * o, m, _mm512_maskz_mov_epi8(hit, one));
    }
  }
}

}  // namespace

bool gather_kernel_available(GatherKernel kernel) {
  switch (kernel) {
    case GatherKernel::avx512: return cpu_has_avx512_vbmi();
    case GatherKernel::avx2: return cpu_has_avx2();
    default: return true;
  }
}

GatherKernel best_gather_kernel() {
  static const GatherKernel best = cpu_has_avx512_vbmi() ? GatherKernel::avx512
                                   : cpu_has_avx2()      ? GatherKernel::avx2
                                                         : GatherKernel::scalar;
  return best;
}

ShufflePlan make_shuffle_plan(std::span<const std::uint8_t> table, std::size_t n) {
  ShufflePlan plan;
  if (n < 16 || n > 256) return plan;
  if (n >= 32 && n <= 64) {
    plan.vector_bytes = 32;
    const std::size_t rows = table.size() / n;
    plan.halves.assign(rows * ShufflePlan::kHalvesBytes, 0x80);
    for (std::size_t r = 0; r < rows; ++r) {
      const std::uint8_t* p = table.data() + r * n;
      std::uint8_t* masks = plan.halves.data() + r * ShufflePlan::kHalvesBytes;
      for (std::size_t o = 0; o < 2; ++o) {
        const std::size_t base = o == 0 ? 0 : n - 32;
        for (std::size_t q = 0; q < 32; ++q) {
          const std::size_t src = p[base + q];
          const std::size_t chunk = src < 16 ? 0 : src < 32 ? 1 : src < n - 16 ? 2 : 3;
          const std::size_t start = chunk == 0 ? 0 : chunk == 1 ? 16 : chunk == 2 ? n - 32 : n - 16;
          masks[o * 128 + chunk * 32 + q] = static_cast<std::uint8_t>(src - start);
        }
      }
    }
    return plan;
  }
  const std::uint32_t width = n >= 32 ? 32 : 16;
  const auto last_output = static_cast<std::uint32_t>(n - width);
  for (std::uint32_t o = 0; o < last_output; o += width) plan.outputs.push_back(o);
  plan.outputs.push_back(last_output);
  std::vector<std::uint32_t> chunks;
  const auto last_chunk = static_cast<std::uint32_t>(n - 16);
  for (std::uint32_t c = 0; c < last_chunk; c += 16) chunks.push_back(c);
  chunks.push_back(last_chunk);
  // The chunk that supplies slot s: the first whose 16 bytes contain it.
  auto chunk_of = [&](std::uint32_t s) { return std::min<std::size_t>(s / 16, chunks.size() - 1); };

  plan.vector_bytes = width;
  const std::size_t rows = table.size() / n;
  plan.first_term.reserve(rows * plan.outputs.size() + 1);
  for (std::size_t r = 0; r < rows; ++r) {
    const std::uint8_t* row = table.data() + r * n;
    for (std::uint32_t out : plan.outputs) {
      plan.first_term.push_back(static_cast<std::uint32_t>(plan.terms.size()));
      for (std::size_t c = 0; c < chunks.size(); ++c) {
        ShufflePlan::Term term;
        std::memset(term.mask, 0x80, sizeof term.mask);
        term.source = chunks[c];
        bool used = false;
        for (std::uint32_t k = 0; k < width; ++k) {
          const std::uint32_t s = row[out + k];
          if (chunk_of(s) != c) continue;
          term.mask[k] = static_cast<std::uint8_t>(s - chunks[c]);
          used = true;
        }
        if (used) plan.terms.push_back(term);
      }
    }
  }
  plan.first_term.push_back(static_cast<std::uint32_t>(plan.terms.size()));
  return plan;
}

template <class In, class Out, class Index>
void gather_rows(const GatherTable<Index>& table, const In* src, Out* dst, RowMoves moves, std::size_t rows,
                 const SlotColors* colors, std::uint8_t* solved, GatherKernel kernel) {
  if constexpr (sizeof(In) == 1 && sizeof(Out) == 1) {
    const std::size_t n = table.n;
    const bool bytes_colors = !solved || !colors->bytes.empty();
    if (table.bytes && use_avx512(kernel, n) && bytes_colors)
      return gather_permuted_avx512(table.bytes, n, src, dst, moves, rows, solved ? colors->bytes.data() : nullptr,
                                    solved);
    if (kernel != GatherKernel::scalar && table.plan && table.plan->vector_bytes != 0 && cpu_has_avx2())
      return gather_shuffled_avx2(*table.plan, n, src, dst, moves, rows, colors, solved);
  }
  gather_scalar(table, src, dst, moves, rows, colors, solved);
}

template <class T, class Index>
void gather_walk(const GatherTable<Index>& table, T* row, const std::uint32_t* moves, std::size_t k, T* trail,
                 T* spare, GatherKernel kernel) {
  const std::size_t n = table.n;
  if (k == 0 || n == 0) return;
  if constexpr (sizeof(T) == 1) {
    if (table.bytes && use_avx512(kernel, n)) return walk_avx512(table.bytes, n, row, moves, k, trail);
    if (kernel != GatherKernel::scalar && table.plan && !table.plan->halves.empty() && cpu_has_avx2())
      return walk_halves_avx2(*table.plan, n, row, moves, k, trail);
  }
  const T* from = row;
  for (std::size_t j = 0; j < k; ++j) {
    T* to = trail ? trail + j * n : (from == spare ? row : spare);
    gather_rows<T, T, Index>(table, from, to, RowMoves{moves + j, true}, 1, nullptr, nullptr, kernel);
    from = to;
  }
  if (from != row) std::memcpy(row, from, n * sizeof(T));
}

template <class T>
void solved_rows(const SlotColors& colors, std::size_t n, const T* src, std::size_t rows, std::uint8_t* solved,
                 GatherKernel kernel) {
  if constexpr (sizeof(T) == 1)
    if (use_avx512(kernel, n) && !colors.bytes.empty()) return solved_avx512(colors.bytes.data(), n, src, rows, solved);
  for (std::size_t r = 0; r < rows; ++r, src += n) solved[r] = row_shows_colors(colors, src, n) ? 1 : 0;
}

template <class T>
void equal_rows(const T* goal, std::size_t n, const T* src, std::size_t rows, std::uint8_t* same,
                GatherKernel kernel) {
  if constexpr (sizeof(T) == 1)
    if (use_avx512(kernel, n)) return equal_avx512(goal, n, src, rows, same);
  for (std::size_t r = 0; r < rows; ++r, src += n) same[r] = std::memcmp(src, goal, n * sizeof(T)) == 0 ? 1 : 0;
}

template <class T, class Out>
void color_rows(const SlotColors& colors, std::size_t n, const T* src, std::size_t length, Out* dst,
                GatherKernel kernel) {
  if constexpr (sizeof(T) == 1 && sizeof(Out) == 1)
    if (use_avx512(kernel, n) && !colors.bytes.empty()) return colors_avx512(colors.bytes.data(), n, src, length, dst);
  with_colors(colors, [=](const auto* c) {
    for (std::size_t k = 0; k < length; ++k) dst[k] = static_cast<Out>(c[src[k]]);
  });
}

template <class T>
void one_hot_rows(const T* src, std::size_t n, std::size_t width, std::size_t rows, std::uint8_t* dst,
                  const SlotColors* colors, GatherKernel kernel) {
  const std::size_t row = n * width;
  if (rows == 0 || row == 0) return;
  if constexpr (sizeof(T) == 1)
    if (use_avx512(kernel, n) && width <= 256 && (!colors || !colors->bytes.empty()))
      return one_hot_avx512(src, n, width, rows, dst, colors ? colors->bytes.data() : nullptr);
  const ColorOf color_of{colors ? *colors : SlotColors{}};
  auto value = [&](std::size_t k) -> std::uint64_t { return colors ? color_of(src[k]) : src[k]; };
  const std::size_t total = rows * row;
  if (width <= 8) {
    // One unaligned 8-byte store per facelet, in order: the bytes it writes past its own facelet
    // are written again by the facelets after it. The stores near the end go byte by byte.
    for (std::size_t k = 0, at = 0; k < rows * n; ++k, at += width) {
      const std::uint64_t v = value(k);
      const std::uint64_t word = v < width ? std::uint64_t{1} << (8 * v) : 0;
      if (at + 8 <= total) {
        std::memcpy(dst + at, &word, 8);
      } else {
        for (std::size_t b = 0; b < width; ++b) dst[at + b] = static_cast<std::uint8_t>(word >> (8 * b));
      }
    }
    return;
  }
  std::memset(dst, 0, total);
  for (std::size_t k = 0; k < rows * n; ++k) {
    const std::uint64_t v = value(k);
    if (v < width) dst[k * width + v] = 1;
  }
}

#define GY_GATHER_WIDTH(T)                                                                                          \
  template void solved_rows<T>(const SlotColors&, std::size_t, const T*, std::size_t, std::uint8_t*, GatherKernel); \
  template void equal_rows<T>(const T*, std::size_t, const T*, std::size_t, std::uint8_t*, GatherKernel);          \
  template void one_hot_rows<T>(const T*, std::size_t, std::size_t, std::size_t, std::uint8_t*, const SlotColors*, \
                                GatherKernel);                                                                      \
  template void color_rows<T, std::uint8_t>(const SlotColors&, std::size_t, const T*, std::size_t, std::uint8_t*,  \
                                            GatherKernel);                                                          \
  template void color_rows<T, std::uint16_t>(const SlotColors&, std::size_t, const T*, std::size_t,                \
                                             std::uint16_t*, GatherKernel);                                         \
  template void color_rows<T, std::uint32_t>(const SlotColors&, std::size_t, const T*, std::size_t,                \
                                             std::uint32_t*, GatherKernel);
GY_GATHER_WIDTH(std::uint8_t)
GY_GATHER_WIDTH(std::uint16_t)
GY_GATHER_WIDTH(std::uint32_t)
#undef GY_GATHER_WIDTH

#define GY_GATHER(In, Out, Index)                                                                     \
  template void gather_rows<In, Out, Index>(const GatherTable<Index>&, const In*, Out*, RowMoves, std::size_t, \
                                            const SlotColors*, std::uint8_t*, GatherKernel);
// The batch's rows index by their own width; the layout's tables are 32-bit.
GY_GATHER(std::uint8_t, std::uint8_t, std::uint8_t)
GY_GATHER(std::uint16_t, std::uint16_t, std::uint16_t)
GY_GATHER(std::uint8_t, std::uint8_t, std::uint32_t)
GY_GATHER(std::uint16_t, std::uint8_t, std::uint32_t)
GY_GATHER(std::uint16_t, std::uint16_t, std::uint32_t)
GY_GATHER(std::uint32_t, std::uint8_t, std::uint32_t)
GY_GATHER(std::uint32_t, std::uint16_t, std::uint32_t)
GY_GATHER(std::uint32_t, std::uint32_t, std::uint32_t)
#undef GY_GATHER

#define GY_WALK(T, Index)                                                                                 \
  template void gather_walk<T, Index>(const GatherTable<Index>&, T*, const std::uint32_t*, std::size_t, T*, T*, \
                                      GatherKernel);
GY_WALK(std::uint8_t, std::uint8_t)
GY_WALK(std::uint16_t, std::uint16_t)
GY_WALK(std::uint32_t, std::uint32_t)
GY_WALK(std::uint8_t, std::uint32_t)
GY_WALK(std::uint16_t, std::uint32_t)
#undef GY_WALK

}  // namespace gy
