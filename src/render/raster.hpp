// The triangle rasterizer and the supersample resolve.
//
// Matrices are 4x4 f64, column-major (row r, column c at index 4c + r), applied to column vectors.
// Clip space follows the usual convention: x and y in -1..1 with y up, z/w from -1 (near) to +1
// (far). Screen x grows to the right and screen y downwards; smaller depth is nearer.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "num/error.hpp"
#include "render/framebuffer.hpp"

namespace gy {

using Mat4 = std::array<double, 16>;
using Point3 = std::array<double, 3>;
using Triangle3 = std::array<Point3, 3>;
using Segment3 = std::array<Point3, 2>;

inline constexpr Mat4 mat4_identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// a * b: b acts first.
constexpr Mat4 mat4_mul(const Mat4& a, const Mat4& b) {
  Mat4 out{};
  for (int j = 0; j < 4; ++j)
    for (int r = 0; r < 4; ++r) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[4 * k + r] * b[4 * j + k];
      out[4 * j + r] = s;
    }
  return out;
}

// Float to integer conversions that saturate at the ends of the range and take NaN to 0.
template <class I>
constexpr I saturating_cast(double v) {
  if (!(v == v)) return 0;
  constexpr double lo = static_cast<double>(std::numeric_limits<I>::min());
  constexpr double hi = static_cast<double>(std::numeric_limits<I>::max());  // may round up to 2^N
  if (v <= lo) return std::numeric_limits<I>::min();
  if (v >= hi) return std::numeric_limits<I>::max();
  return static_cast<I>(v);
}

// The render target: one colour word (red in the lowest byte) and one depth per pixel, row-major.
// The words are opaque to the copy mode, so the same target serves slot identifiers.
struct Framebuffer {
  std::vector<std::uint32_t, uninitialized_allocator<std::uint32_t>> colour;
  std::vector<float, uninitialized_allocator<float>> depth;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// A framebuffer of (supersample * width) x (supersample * height) (supersample 0 counts as 1),
// every word `fill` and every depth +infinity; a Range error when that exceeds the pixel cap.
Result<Framebuffer> make_framebuffer(std::uint32_t width, std::uint32_t height, std::uint32_t supersample,
                                     std::uint32_t fill);

// Sizes fb as make_framebuffer does, reusing its buffers, and leaves its contents undefined (for a
// rasterize that clears as it draws); on an error fb is unchanged.
Status resize_framebuffer(Framebuffer& fb, std::uint32_t width, std::uint32_t height, std::uint32_t supersample);

// Sets every word to fill and every depth to +infinity, rows in parallel.
void clear_framebuffer(Framebuffer& framebuffer, std::uint32_t fill);

// One mesh or outline to draw; the lists are borrowed from the caller.
struct DrawItem {
  Mat4 matrix = mat4_identity;
  std::span<const Triangle3> triangles;
  std::span<const std::uint32_t> colours;  // per triangle; missing ones draw white
  std::span<const Segment3> segments;      // drawn as screen-space quads of line_width pixels
  double line_width = 1.0;
  std::uint32_t line_colour = 0xFF000000;
  std::int32_t bias_kind = 0;  // 1: slope-scaled depth bias
  float bias_factor = 0;
  float bias_units = 0;
  std::uint8_t cull = 2;  // 0: keep negative winding only, 1: positive only, other: both
  std::uint8_t blend = 0;  // a BlendMode
  std::uint8_t depth_write = 1;
  std::uint8_t depth_test = 1;
};

struct RasterMaterial {
  std::int32_t bias_kind;
  float bias_factor;
  float bias_units;
  std::uint8_t depth_write;
  std::uint8_t depth_test;
  std::uint8_t blend;
};

// A triangle on the screen, with what the bands need of it worked out once.
struct ScreenTriangle {
  std::array<std::array<double, 3>, 3> corners;  // screen x, screen y, depth
  std::uint32_t colour;
  std::uint32_t item;
  double area;  // (x1 - x0)(y2 - y0) - (x2 - x0)(y1 - y0), never 0
  double bias;  // added to every depth
  std::uint32_t x_lo, x_hi, y_lo, y_hi;  // pixel bounds, inside the frame
  std::uint8_t kernel;  // blend mode | depth test << 2 | depth write << 3
};

// Working lists of one call, reusable across calls.
struct RasterScratch {
  std::vector<RasterMaterial> materials;
  std::vector<ScreenTriangle> triangles;
  std::vector<std::vector<std::uint32_t>> bins;  // per band of band_rows rows, in drawing order
  std::vector<std::pair<std::size_t, std::size_t>> runs;  // item ranges set up as one task
  std::vector<std::vector<ScreenTriangle>> run_triangles;
};

inline constexpr std::uint32_t band_rows = 32;
// Bands are filled in slices of this many rows, each slice by one task.
inline constexpr std::uint32_t slice_rows = 8;

// Work done slice by slice around the drawing, while the slice's rows are still in cache: clearing
// before it, and handing the finished rows to the caller after it.
struct RasterPass {
  bool clear = false;  // set every word to clear_word and every depth to +infinity first
  std::uint32_t clear_word = 0;
  // Called once per slice with its rows [r0, r1) once they are final, from the worker that drew
  // them; slices start at multiples of slice_rows. Called for every slice even with no items.
  void (*rows_done)(void* context, const Framebuffer& fb, std::uint32_t r0, std::uint32_t r1) = nullptr;
  void* context = nullptr;
};

// Draws the items in order into the framebuffer through the view-projection matrix. Bands of rows
// are filled on the worker pool; the result is the same for every thread count. Non-finite
// coordinates (from NaN or infinite matrices) draw nothing.
void rasterize(RasterScratch& scratch, Framebuffer& framebuffer, std::span<const DrawItem> items, const Mat4& vp,
               const RasterPass& pass = {});

// Shrinks RGBA8 pixels of source_width x source_height by the factor f >= 1 into out, which must
// hold (source_width / f) * (source_height / f) pixels: each output channel is the rounded mean of
// an f x f block. Rows run on the worker pool.
void resolve(std::span<const std::uint8_t> source, std::uint32_t source_width, std::uint32_t source_height,
             std::uint32_t f, std::span<std::uint8_t> out);

// The colour words of a framebuffer resolved into out.
inline void resolve(const Framebuffer& fb, std::uint32_t f, std::span<std::uint8_t> out) {
  resolve({reinterpret_cast<const std::uint8_t*>(fb.colour.data()), fb.colour.size() * 4}, fb.width, fb.height, f, out);
}

// Resolves source rows [f * y0, f * y1) into output rows [y0, y1) of out (width source_width / f)
// on the calling thread, by the rule of resolve.
void resolve_rows(const std::uint8_t* source, std::uint32_t source_width, std::uint32_t f, std::uint32_t y0,
                  std::uint32_t y1, std::uint8_t* out);

}  // namespace gy
