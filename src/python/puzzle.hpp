// Puzzle: the Python class of one interactive puzzle, a shell over one Simulator. Its members are
// spread over puzzle.cpp (construction, turning, history), puzzle_view.cpp (view settings, camera,
// rendering, pointer) and puzzle_query.cpp (grips, pieces, stickers, actions); each file adds its
// rows to the one type object. A Simulator returned by a body becomes a new Puzzle object.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "python/convert.hpp"
#include "python/frame.hpp"
#include "simulator.hpp"
#include "symbolic.hpp"

namespace gy::py {

// Created once per process on first use.
template <>
PyTypeObject* type_object<gy::Simulator>();

// A supersampling factor as a caller gives it: an int that fits 32 bits (OverflowError otherwise)
// and is at most kMaxSupersample (ValueError "a supersampling factor must be at most {}, got {}").
struct SupersampleFactor {
  std::uint32_t factor = 1;
};

template <>
struct FromPy<SupersampleFactor> {
  static PyResult<SupersampleFactor> convert(PyObject* obj) {
    const std::uint32_t f = PY_TRY(FromPy<std::uint32_t>::convert(obj));
    if (f > kMaxSupersample)
      return raise(PyExc_ValueError, cat("a supersampling factor must be at most ", kMaxSupersample, ", got ", f));
    return SupersampleFactor{f};
  }
};

namespace puzzle {

using Rgba = std::array<std::uint8_t, 4>;

constexpr std::uint32_t pack_rgba(const Rgba& c) {
  return std::uint32_t{c[0]} | std::uint32_t{c[1]} << 8 | std::uint32_t{c[2]} << 16 | std::uint32_t{c[3]} << 24;
}
constexpr Rgba unpack_rgba(std::uint32_t c) {
  return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c >> 16),
          static_cast<std::uint8_t>(c >> 24)};
}

// Argument i as an unsigned 32-bit number into out, left absent when not given or None. (Read
// without an optional inside the result, which g++ 12 takes for uninitialised.)
inline PyStatus read_u32_option(const Args& a, std::size_t i, std::optional<std::uint32_t>& out) {
  if (!a.given(i) || a[i] == Py_None) return {};
  const std::uint32_t v = PY_TRY(a.get<std::uint32_t>(i));
  out = v;
  return {};
}

// The supersampling factor argument i into out, left absent when not given or None.
inline PyStatus read_supersample(const Args& a, std::size_t i, std::optional<std::uint32_t>& out) {
  if (!a.given(i) || a[i] == Py_None) return {};
  out = PY_TRY(a.get<SupersampleFactor>(i)).factor;
  return {};
}

// The most turns one turn call may make: as many as one move text.
inline constexpr std::uint32_t max_turn_repeat = gy::kMaxTextTurns;

// ValueError when a scramble of `count` moves could never be queued.
PyStatus check_scramble_count(std::uint32_t count);

// ValueError "{what} would move the camera out of the range of floats" unless the camera is finite
// (finite values can still overflow: a huge distance times a direction).
PyStatus check_camera(const Camera& camera, std::string_view what);
// The same for a camera with the options' yaw, pitch and distance applied (to a copy), named by
// those of them given.
PyStatus check_camera_options(const ViewOptions& options, const Camera& camera);

inline constexpr ClassDef puzzle_class{
    "Puzzle",
    "Puzzle(recipe=None, *, shell=None, cuts=None, background=None, supersample=None, show_arrows=None, "
    "show_edges=None, show_pieces=None, line_width=None, fov=None, distance=None, yaw=None, pitch=None, "
    "seed=None, scramble=None)\n--\n\n"
    "A twisty puzzle: its pieces, its turnable cuts, and its state.\n\n"
    "`recipe` is a Recipe, a recipe query string such as \"?shell=C$1&cut=C$1/3\", or the name of a\n"
    "cataloged puzzle; alternatively give `shell` and `cuts` as Shapes or shape texts. Every view\n"
    "setting is a keyword here as well as a property; `yaw` and `pitch` (degrees) and `distance`\n"
    "place the camera. `seed` seeds the scramble generator and `scramble` makes that many random\n"
    "moves before the puzzle is returned."};

// Adds the rows of one file of the class to the tables of its type.
template <const auto&... Rows>
void add_rows(detail::TypeTables& t) {
  (detail::add_row<gy::Simulator, puzzle_class, Rows>(t), ...);
}

void add_view_rows(detail::TypeTables& t);
void add_query_rows(detail::TypeTables& t);

}  // namespace puzzle
}  // namespace gy::py
