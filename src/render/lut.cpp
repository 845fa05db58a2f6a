#include "render/lut.hpp"

#include <algorithm>
#include <cstring>

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

  if (f == 1) {
    const std::uint64_t n = std::min(entry_count, frame_pixels);
    for (std::size_t i = 0; i < n; ++i) store_word(frame.data(), i, colour(i));
    return;
  }
  const std::uint64_t src_w = std::uint64_t{W} * f;
  const std::uint64_t rows = std::min<std::uint64_t>(table.height, frame_pixels / W);
  if (f == 2) {
    // Two channels per 32-bit lane pair: red and blue, green and alpha, four samples each.
    for (std::size_t y = 0; y < rows; ++y) {
      const std::size_t top = 2 * y * src_w, bottom = top + src_w;
      for (std::size_t x = 0; x < W; ++x) {
        const std::uint32_t a = colour(top + 2 * x), b = colour(top + 2 * x + 1), c = colour(bottom + 2 * x),
                            d = colour(bottom + 2 * x + 1);
        const std::uint32_t rb = (a & 0x00FF00FF) + (b & 0x00FF00FF) + (c & 0x00FF00FF) + (d & 0x00FF00FF);
        const std::uint32_t ga =
            ((a >> 8) & 0x00FF00FF) + ((b >> 8) & 0x00FF00FF) + ((c >> 8) & 0x00FF00FF) + ((d >> 8) & 0x00FF00FF);
        const std::uint32_t word = (((rb + 0x00020002) >> 2) & 0x00FF00FF) | ((((ga + 0x00020002) >> 2) & 0x00FF00FF) << 8);
        store_word(frame.data(), y * W + x, word);
      }
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
