// Drawing tables: a puzzle's solved picture for one view and size, rasterized once with a sticker
// slot (or a fixed colour) in every subpixel instead of a colour, from which the frames of any
// state on the solved lattice are painted by lookups alone.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "num/error.hpp"

namespace gy {

struct Simulator;

// What a table was drawn for. Floats compare by their bits.
struct DrawingTableKey {
  std::array<double, 10> camera{};  // position, target, up, fov
  double line_width = 0;
  std::uint32_t width = 0, height = 0;
  std::uint32_t supersample = 1;  // never 0
  std::uint32_t background = 0;
  std::uint8_t show_edges = 0, show_pieces = 0;

  bool operator==(const DrawingTableKey& other) const;
};

// The key of the simulator's current view at width x height (arrows are never drawn into tables,
// and near, far, zoom and aspect are not part of the key).
DrawingTableKey drawing_table_key(const Simulator& sim, std::uint32_t width, std::uint32_t height);

// An identifier e < base is a sticker slot; e >= base is fixed colour e - base.
struct DrawingTable {
  DrawingTableKey key;
  std::uint8_t entry_width = 1;                // bytes per entry: 1, 2 or 4
  std::vector<std::uint8_t> entries;           // one per subpixel of the supersampled frame, row-major
  std::vector<std::uint32_t> fixed_colours;    // the background first
  std::vector<std::uint32_t> palette;          // per colour index: the drawn colour of its stickers
  std::uint64_t base = 0;                      // the slot count
  std::uint32_t width = 0, height = 0, supersample = 1;

  std::uint64_t entry_count() const { return entries.size() / entry_width; }
};

// The most tables a cache keeps.
inline constexpr std::size_t drawing_table_cache_size = 4;

// Rasterizes the simulator's pieces as they now are (its solved state, for a batch's template)
// with its view and camera into a table of width x height. Fails with the error of its tabular
// model, or with Range when the frame exceeds the pixel cap.
Result<DrawingTable> make_drawing_table(Simulator& sim, std::uint32_t width, std::uint32_t height);

// Leaves the table for the simulator's current view and the size at the front of the cache, most
// recently used first: an equal key is moved to the front, a missing one is built and inserted
// there, dropping the least recently used past drawing_table_cache_size. A puzzle that is not
// tabular fails with State; on any failure the cache is unchanged.
Status build_drawing_table(std::vector<DrawingTable>& cache, bool tabular, Simulator& sim, std::uint32_t width,
                           std::uint32_t height);

// Paints one frame from a table: the colours are the colour index of the sticker now in each slot,
// the palette that of the table, the frame width x height RGBA8 pixels (whole pixels and, when
// supersampled, whole rows of the frame are written; nothing past its end). Each output pixel is
// the rounded mean of its subpixels' colours, as the resolve of a rendered frame.
void paint_from_table(const DrawingTable& table, std::span<const std::uint16_t> colours,
                      std::span<const std::uint32_t> palette, std::span<std::uint8_t> frame);
// The same for colour indices of 32 bits.
void paint_from_table(const DrawingTable& table, std::span<const std::uint32_t> colours,
                      std::span<const std::uint32_t> palette, std::span<std::uint8_t> frame);

}  // namespace gy
