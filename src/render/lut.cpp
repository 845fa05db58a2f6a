#include "render/lut.hpp"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "cpu.hpp"
#include "num/interrupt.hpp"
#include "pool.hpp"
#include "render/raster.hpp"
#include "render/scene.hpp"
#include "simulator.hpp"
#include "symbolic.hpp"

namespace gy {

bool DrawingTableKey::operator==(const DrawingTableKey& o) const {
  return std::memcmp(camera.data(), o.camera.data(), sizeof camera) == 0 &&
         std::memcmp(&line_width, &o.line_width, sizeof line_width) == 0 && width == o.width &&
         height == o.height && supersample == o.supersample && background == o.background &&
         show_edges == o.show_edges && show_pieces == o.show_pieces;
}

DrawingTableKey drawing_table_key(const Simulator& sim, std::uint32_t width, std::uint32_t height) {
  const Camera& c = sim.camera;
  DrawingTableKey key;
  key.camera = {c.position[0], c.position[1], c.position[2], c.target[0], c.target[1],
                c.target[2],   c.up[0],       c.up[1],       c.up[2],     c.fov};
  key.line_width = sim.view.line_width;
  key.width = width;
  key.height = height;
  key.supersample = sim.view.supersample ? sim.view.supersample : 1;
  key.background = sim.view.background;
  key.show_edges = sim.view.show_edges;
  key.show_pieces = sim.view.show_pieces;
  return key;
}

Result<DrawingTable> make_drawing_table(Simulator& sim, std::uint32_t width, std::uint32_t height) {
  DrawingTable table;
  table.key = drawing_table_key(sim, width, height);
  const ModelRef model_ref = GY_TRY(tabular_model(sim));
  const TabularModel& model = *model_ref;
  const std::uint64_t base = model.sticker_count();
  table.base = base;
  table.width = width;
  table.height = height;
  table.supersample = table.key.supersample;
  table.fixed_colours = {sim.view.background};
  if (base > 0)
    table.palette.assign(std::size_t{*std::max_element(model.solved_colors.begin(), model.solved_colors.end())} + 1,
                         0xFF000000);

  auto fixed_id = [&](std::uint32_t colour) -> std::uint64_t {
    auto it = std::find(table.fixed_colours.begin(), table.fixed_colours.end(), colour);
    if (it == table.fixed_colours.end()) it = table.fixed_colours.insert(it, colour);
    return base + static_cast<std::uint64_t>(it - table.fixed_colours.begin());
  };
  // Per piece and triangle: the slot of the sticker the triangle belongs to, or the fixed colour
  // of a face without one.
  std::vector<std::vector<std::uint64_t>> ids(sim.piece_meshes.size());
  for (std::size_t p = 0; p < sim.piece_meshes.size(); ++p) {
    const PieceMesh& mesh = sim.piece_meshes[p];
    const std::span<const std::uint32_t> faces =
        p < model.piece_faces.size() ? std::span<const std::uint32_t>(model.piece_faces[p]) : std::span<const std::uint32_t>();
    ids[p].resize(mesh.triangles.size());
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
      const std::int64_t g = t < mesh.face_indices.size() ? mesh.face_indices[t] : -1;
      const std::uint32_t colour = t < mesh.colours.size() ? mesh.colours[t] : 0xFFFFFFFF;
      auto k = std::find(faces.begin(), faces.end(), static_cast<std::uint64_t>(g));
      if (g >= 0 && k != faces.end()) {
        const std::uint32_t slot = model.piece_slots[p][static_cast<std::size_t>(k - faces.begin())];
        ids[p][t] = slot;
        table.palette[model.solved_colors[slot]] = colour;
      } else {
        ids[p][t] = fixed_id(colour);
      }
    }
  }
  const std::uint64_t outline = fixed_id(0xFF000000);
  const std::uint64_t id_count = base + table.fixed_colours.size();
  if (id_count > std::uint64_t{1} << 32)
    return fail(ErrorKind::Range, cat("a drawing table holds at most 4294967296 identifiers, not ", id_count));

  std::vector<std::vector<std::uint32_t>> words(ids.size());
  for (std::size_t p = 0; p < ids.size(); ++p) words[p].assign(ids[p].begin(), ids[p].end());
  Framebuffer fb = GY_TRY(make_framebuffer(width, height, table.supersample, static_cast<std::uint32_t>(base)));
  std::vector<DrawItem> items;
  append_piece_items(items, sim, table.supersample, words, static_cast<std::uint32_t>(outline));
  RasterScratch scratch;
  rasterize(scratch, fb, items, frame_view_projection(sim.camera, width, height));

  table.entry_width = id_count < 257 ? 1 : id_count < 65537 ? 2 : 4;
  const std::size_t n = fb.colour.size(), w = table.entry_width;
  table.entries.resize(n * w);
  pool::for_ranges(n, 1 << 16, [&](std::size_t lo, std::size_t hi) {
    poll_interrupt();
    std::uint8_t* out = table.entries.data();
    for (std::size_t i = lo; i < hi; ++i) {
      const std::uint32_t word = fb.colour[i];
      if (w == 1) out[i] = static_cast<std::uint8_t>(word);
      else if (w == 2) { std::uint16_t v = static_cast<std::uint16_t>(word); std::memcpy(out + 2 * i, &v, 2); }
      else std::memcpy(out + 4 * i, &word, 4);
    }
  });
  return table;
}

Status build_drawing_table(std::vector<DrawingTable>& cache, bool tabular, Simulator& sim, std::uint32_t width,
                           std::uint32_t height) {
  if (!tabular)
    return fail(ErrorKind::State,
                "this puzzle has no drawing table: its stickers do not stay on the solved lattice, so which one a "
                "pixel shows depends on the state");
  const DrawingTableKey key = drawing_table_key(sim, width, height);
  for (std::size_t i = 0; i < cache.size(); ++i)
    if (cache[i].key == key) {
      std::rotate(cache.begin(), cache.begin() + static_cast<std::ptrdiff_t>(i),
                  cache.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return {};
    }
  DrawingTable table = GY_TRY(make_drawing_table(sim, width, height));
  cache.insert(cache.begin(), std::move(table));
  if (cache.size() > drawing_table_cache_size) cache.resize(drawing_table_cache_size);
  return {};
}

namespace {

// The colour of identifier e.
template <class Colour>
struct ColourOf {
  const DrawingTable& table;
  std::span<const Colour> colours;
  std::span<const std::uint32_t> palette;

  std::uint32_t operator()(std::uint64_t e) const {
    if (e >= table.base) {
      const std::uint64_t i = e - table.base;
      return i < table.fixed_colours.size() ? table.fixed_colours[i] : 0xFF000000;
    }
    if (e >= colours.size()) return palette.empty() ? 0xFF000000 : palette[0];
    const std::uint64_t c = colours[e];
    return c < palette.size() ? palette[c] : 0xFF000000;
  }
};

template <class Entry>
Entry load_entry(const std::uint8_t* entries, std::size_t i) {
  Entry v;
  std::memcpy(&v, entries + i * sizeof(Entry), sizeof(Entry));
  return v;
}

void store_word(std::uint8_t* frame, std::size_t i, std::uint32_t word) { std::memcpy(frame + 4 * i, &word, 4); }

// Identifiers below this many are looked up in a table of their colours made per frame.
constexpr std::size_t lookup_size = 4096;

// The rounded mean of four colours, channel by channel, two channels per 16-bit half of a lane.
inline std::uint32_t mean_of_four(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  const std::uint32_t rb = (a & 0x00FF00FF) + (b & 0x00FF00FF) + (c & 0x00FF00FF) + (d & 0x00FF00FF);
  const std::uint32_t ga =
      ((a >> 8) & 0x00FF00FF) + ((b >> 8) & 0x00FF00FF) + ((c >> 8) & 0x00FF00FF) + ((d >> 8) & 0x00FF00FF);
  return (((rb + 0x00020002) >> 2) & 0x00FF00FF) | ((((ga + 0x00020002) >> 2) & 0x00FF00FF) << 8);
}

// GCC 12 takes the undefined pass-through operand inside some AVX-512 intrinsics for an
// uninitialised value.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

// The colours of the identifiers a one-byte table can hold as four byte planes (red, green, blue,
// alpha), each in up to four 64-byte vectors, looked up 64 identifiers at a time. Identifiers past
// the ones loaded (`ids`, rounded up to a whole vector) are opaque black, as past the fixed colours.
struct BytePlanes {
  __m512i part[4][4];
  std::size_t parts;
};

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline BytePlanes load_planes(const std::uint32_t* lut,
                                                                             std::size_t ids) {
  BytePlanes planes;
  planes.parts = ids <= 64 ? 1 : ids <= 128 ? 2 : 4;
  alignas(64) std::uint8_t bytes[4][256];
  for (std::size_t k = 0; k < 64 * planes.parts; k += 16) {
    const __m512i words = _mm512_loadu_si512(lut + k);
    for (int c = 0; c < 4; ++c)
      _mm_store_si128(reinterpret_cast<__m128i*>(bytes[c] + k), _mm512_cvtepi32_epi8(_mm512_srli_epi32(words, 8 * c)));
  }
  for (int c = 0; c < 4; ++c)
    for (std::size_t q = 0; q < planes.parts; ++q) planes.part[c][q] = _mm512_load_si512(bytes[c] + 64 * q);
  return planes;
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline __m512i plane_look_up(const BytePlanes& planes, int c,
                                                                            __m512i e) {
  const __m512i* part = planes.part[c];
  if (planes.parts == 4)
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(e), _mm512_permutex2var_epi8(part[0], e, part[1]),
                                  _mm512_permutex2var_epi8(part[2], e, part[3]));
  const __m512i found =
      planes.parts == 1 ? _mm512_permutexvar_epi8(e, part[0]) : _mm512_permutex2var_epi8(part[0], e, part[1]);
  const __mmask64 past = _mm512_cmpge_epu8_mask(e, _mm512_set1_epi8(static_cast<char>(64 * planes.parts)));
  return _mm512_mask_mov_epi8(found, past, _mm512_set1_epi8(c == 3 ? static_cast<char>(0xFF) : 0));
}

// Interleaves 32 words of red and green bytes with 32 of blue and alpha into 32 pixels.
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline void store_pixels(std::uint8_t* out, __m512i rg, __m512i ba) {
  alignas(64) static constexpr std::uint16_t kLow[32] = {0,  32, 1,  33, 2,  34, 3,  35, 4,  36, 5,  37, 6,  38, 7,  39,
                                                         8,  40, 9,  41, 10, 42, 11, 43, 12, 44, 13, 45, 14, 46, 15, 47};
  alignas(64) static constexpr std::uint16_t kHigh[32] = {16, 48, 17, 49, 18, 50, 19, 51, 20, 52, 21, 53, 22, 54, 23, 55,
                                                          24, 56, 25, 57, 26, 58, 27, 59, 28, 60, 29, 61, 30, 62, 31, 63};
  _mm512_storeu_si512(out, _mm512_permutex2var_epi16(rg, _mm512_load_si512(kLow), ba));
  _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi16(rg, _mm512_load_si512(kHigh), ba));
}

// A frame of one-byte entries at supersample 1 (`pixels` entries) or 2 (`rows` rows of W pixels),
// its vector part by byte permutes and the ends of rows through `lut`.
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void paint_bytes_vbmi(const std::uint32_t* lut, std::size_t ids,
                                                                    const std::uint8_t* entries, std::uint32_t f,
                                                                    std::size_t W, std::size_t rows,
                                                                    std::size_t pixels, std::uint8_t* out) {
  const BytePlanes planes = load_planes(lut, ids);
  if (f == 1) {
    alignas(64) static constexpr std::uint8_t kPairLow[64] = {
        0,  64, 1,  65, 2,  66, 3,  67, 4,  68, 5,  69, 6,  70, 7,  71, 8,  72, 9,  73, 10, 74,
        11, 75, 12, 76, 13, 77, 14, 78, 15, 79, 16, 80, 17, 81, 18, 82, 19, 83, 20, 84, 21, 85,
        22, 86, 23, 87, 24, 88, 25, 89, 26, 90, 27, 91, 28, 92, 29, 93, 30, 94, 31, 95};
    const __m512i pair_low = _mm512_load_si512(kPairLow);
    const __m512i pair_high = _mm512_add_epi8(pair_low, _mm512_set1_epi8(32));
    std::size_t i = 0;
    for (; i + 64 <= pixels; i += 64) {
      const __m512i e = _mm512_loadu_si512(entries + i);
      const __m512i r = plane_look_up(planes, 0, e), g = plane_look_up(planes, 1, e);
      const __m512i b = plane_look_up(planes, 2, e), a = plane_look_up(planes, 3, e);
      store_pixels(out + 4 * i, _mm512_permutex2var_epi8(r, pair_low, g), _mm512_permutex2var_epi8(b, pair_low, a));
      store_pixels(out + 4 * i + 128, _mm512_permutex2var_epi8(r, pair_high, g),
                   _mm512_permutex2var_epi8(b, pair_high, a));
    }
    for (; i < pixels; ++i) store_word(out, i, lut[entries[i]]);
    return;
  }
  const __m512i ones = _mm512_set1_epi8(1), two = _mm512_set1_epi16(2);
  for (std::size_t y = 0; y < rows; ++y) {
    const std::uint8_t* top = entries + 4 * y * W;
    const std::uint8_t* bottom = top + 2 * W;
    std::uint8_t* row = out + 4 * y * W;
    std::size_t x = 0;
    for (; x + 32 <= W; x += 32) {
      const __m512i t = _mm512_loadu_si512(top + 2 * x), u = _mm512_loadu_si512(bottom + 2 * x);
      __m512i mean[4];
      for (int c = 0; c < 4; ++c) {
        const __m512i sum = _mm512_add_epi16(_mm512_maddubs_epi16(plane_look_up(planes, c, t), ones),
                                             _mm512_maddubs_epi16(plane_look_up(planes, c, u), ones));
        mean[c] = _mm512_srli_epi16(_mm512_add_epi16(sum, two), 2);
      }
      store_pixels(row + 4 * x, _mm512_or_si512(mean[0], _mm512_slli_epi16(mean[1], 8)),
                   _mm512_or_si512(mean[2], _mm512_slli_epi16(mean[3], 8)));
    }
    for (; x < W; ++x)
      store_word(row, x,
                 mean_of_four(lut[top[2 * x]], lut[top[2 * x + 1]], lut[bottom[2 * x]], lut[bottom[2 * x + 1]]));
  }
}

// One-byte entries through a table of 256 colours, 8 pixels at a time by gathers: out pixel x of a
// row of `pixels` is lut[row[x]] (f = 1), or the mean of the 2 x 2 entries under it (f = 2, `top`
// and `bottom` the two entry rows). Returns how many pixels were done; the caller does the rest.
[[gnu::target("avx2")]] std::size_t paint_row_avx2(const std::uint32_t* lut, const std::uint8_t* top,
                                                   const std::uint8_t* bottom, std::size_t pixels, std::uint8_t* out) {
  const __m256i low = _mm256_set1_epi32(0x00FF00FF), round = _mm256_set1_epi32(0x00020002);
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const auto* base = reinterpret_cast<const int*>(lut);
  std::size_t x = 0;
  if (!bottom) {
    for (; x + 8 <= pixels; x += 8) {
      const __m256i e = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + x)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), _mm256_i32gather_epi32(base, e, 4));
    }
    return x;
  }
  for (; x + 8 <= pixels; x += 8) {
    const __m256i t = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x)));
    const __m256i u = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x)));
    const __m256i a = _mm256_i32gather_epi32(base, _mm256_and_si256(t, byte), 4);
    const __m256i b = _mm256_i32gather_epi32(base, _mm256_srli_epi32(t, 8), 4);
    const __m256i c = _mm256_i32gather_epi32(base, _mm256_and_si256(u, byte), 4);
    const __m256i d = _mm256_i32gather_epi32(base, _mm256_srli_epi32(u, 8), 4);
    const __m256i rb = _mm256_add_epi32(_mm256_add_epi32(_mm256_and_si256(a, low), _mm256_and_si256(b, low)),
                                        _mm256_add_epi32(_mm256_and_si256(c, low), _mm256_and_si256(d, low)));
    const __m256i ga = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 8), low), _mm256_and_si256(_mm256_srli_epi32(b, 8), low)),
        _mm256_add_epi32(_mm256_and_si256(_mm256_srli_epi32(c, 8), low), _mm256_and_si256(_mm256_srli_epi32(d, 8), low)));
    const __m256i word =
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(_mm256_add_epi32(rb, round), 2), low),
                        _mm256_slli_epi32(_mm256_and_si256(_mm256_srli_epi32(_mm256_add_epi32(ga, round), 2), low), 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), word);
  }
  return x;
}

#pragma GCC diagnostic pop

template <class Entry, class Colour>
void paint(const DrawingTable& table, const ColourOf<Colour>& colour_of, std::span<std::uint8_t> frame) {
  const std::uint32_t W = table.width, f = table.supersample;
  const std::uint64_t entry_count = table.entry_count();
  const std::uint8_t* entries = table.entries.data();
  const std::uint64_t frame_pixels = frame.size() / 4;
  if (W == 0 || entry_count == 0 || frame_pixels == 0) return;

  // One-byte entries always go through a full table of 256 colours; wider ones through a table
  // of the first identifiers when the frame is large enough to pay for it.
  std::uint32_t lut[lookup_size];
  const std::uint64_t id_count = table.base + table.fixed_colours.size();
  const std::size_t lut_n = sizeof(Entry) == 1 ? 256
                            : entry_count < lookup_size
                                ? 0
                                : static_cast<std::size_t>(std::min<std::uint64_t>(id_count, lookup_size));
  for (std::size_t e = 0; e < lut_n; ++e) lut[e] = colour_of(e);
  auto colour = [&](std::size_t i) {
    const Entry e = load_entry<Entry>(entries, i);
    if constexpr (sizeof(Entry) == 1) return lut[e];
    else return e < lut_n ? lut[e] : colour_of(e);
  };

  const std::uint64_t n1 = std::min(entry_count, frame_pixels);
  const std::uint64_t src_w = std::uint64_t{W} * f;
  const std::uint64_t rows = std::min<std::uint64_t>(table.height, frame_pixels / W);
  if constexpr (sizeof(Entry) == 1) {
    if ((f == 1 || f == 2) && cpu_has_avx512_vbmi())
      return paint_bytes_vbmi(lut, std::min<std::uint64_t>(id_count, 256), entries, f, W, rows, n1, frame.data());
  }
  const bool gathers = sizeof(Entry) == 1 && cpu_has_avx2();
  if (f == 1) {
    std::size_t i = gathers ? paint_row_avx2(lut, entries, nullptr, n1, frame.data()) : 0;
    for (; i < n1; ++i) store_word(frame.data(), i, colour(i));
    return;
  }
  if (f == 2) {
    // Two channels per 32-bit lane pair: red and blue, green and alpha, four samples each.
    for (std::size_t y = 0; y < rows; ++y) {
      const std::size_t top = 2 * y * src_w, bottom = top + src_w;
      std::size_t x = gathers ? paint_row_avx2(lut, entries + top, entries + bottom, W, frame.data() + 4 * y * W) : 0;
      for (; x < W; ++x)
        store_word(frame.data(), y * W + x,
                   mean_of_four(colour(top + 2 * x), colour(top + 2 * x + 1), colour(bottom + 2 * x),
                                colour(bottom + 2 * x + 1)));
    }
    return;
  }
  const std::uint64_t n = std::uint64_t{f} * f, half = n / 2;
  for (std::size_t y = 0; y < rows; ++y)
    for (std::size_t x = 0; x < W; ++x) {
      std::uint64_t sum[4] = {0, 0, 0, 0};
      for (std::uint32_t j = 0; j < f; ++j) {
        const std::size_t row = (std::size_t{f} * y + j) * src_w + std::size_t{f} * x;
        for (std::uint32_t i = 0; i < f; ++i) {
          const std::uint32_t c = colour(row + i);
          for (int k = 0; k < 4; ++k) sum[k] += (c >> (8 * k)) & 0xFF;
        }
      }
      std::uint32_t word = 0;
      for (int k = 0; k < 4; ++k) word |= static_cast<std::uint32_t>((sum[k] + half) / n) << (8 * k);
      store_word(frame.data(), y * W + x, word);
    }
}

template <class Colour>
void paint_any(const DrawingTable& table, std::span<const Colour> colours, std::span<const std::uint32_t> palette,
               std::span<std::uint8_t> frame) {
  const ColourOf<Colour> colour_of{table, colours, palette};
  switch (table.entry_width) {
    case 1: return paint<std::uint8_t>(table, colour_of, frame);
    case 2: return paint<std::uint16_t>(table, colour_of, frame);
    default: return paint<std::uint32_t>(table, colour_of, frame);
  }
}

}  // namespace

void paint_from_table(const DrawingTable& table, std::span<const std::uint16_t> colours,
                      std::span<const std::uint32_t> palette, std::span<std::uint8_t> frame) {
  paint_any(table, colours, palette, frame);
}

void paint_from_table(const DrawingTable& table, std::span<const std::uint32_t> colours,
                      std::span<const std::uint32_t> palette, std::span<std::uint8_t> frame) {
  paint_any(table, colours, palette, frame);
}

}  // namespace gy
